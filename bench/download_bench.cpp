// download: transfers from a loopback nginx (started by bench/download.sh) into files in the
// page cache, against the command-line tools on the same server in the same run:
//   (a) DownloadBinaryFile of one 1 GiB file against `curl -o`;
//   (b) the zip package pass (DownloadZipFiles: two workers, then the CRC-32 check of every
//       package) on 8 packages of 64 MiB against `aria2c -j2` fetching the same 8 files.
//   usage: vorel-bench-download DATA_DIR BASE_URL   (DATA_DIR/server is what nginx serves)
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>

#include "common.h"
#include "net/http_transfer.h"
#include "platform/text.h"
#include "update/download_passes.h"
#include "update/patcher.h"
#include "update/verify.h"

using namespace bench;

namespace {

// Runs both, each going first in turn, so that neither always meets the other's leftovers.
template <typename A, typename B>
void InTurn(int i, A first, B second) {
  if (i % 2 == 0) {
    first();
    second();
  } else {
    second();
    first();
  }
}

constexpr uint64_t kSingleBytes = 1ull << 30;
constexpr int kPackages = 8;
constexpr uint64_t kPackageBytes = 64ull << 20;

uint64_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<uint64_t>(in.tellg()) : 0;
}

void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

void Print(const char* name, const Series& s, double mb) {
  printf("  %-34s %7.3f s  %6.0f MB/s  CPU %6.3f s  [%s]\n", name, s.wall.median(), mb / s.wall.median(),
         s.cpu.median(), s.wall.list().c_str());
}

void SingleFile(const std::string& data, const std::string& base, int reps) {
  Content content(11);
  GeneratedFile file = WriteFile(data + "/server", "single.bin", kSingleBytes, Kind::Random, content);
  WarmRead(data + "/server/single.bin");
  const std::string url = base + "single.bin";
  const std::string ours = data + "/out/engine.bin", theirs = data + "/out/curl.bin";
  MakeDirs(data + "/out");
  Series engine, curl;
  std::atomic<int64_t> received{0}, total{0};
  for (int i = 0; i < reps; ++i) {
    auto runEngine = [&] {
      // The previous runs' bytes are written back first; the file goes just before the timed
      // step, so that both tools get freshly freed pages (see "The machine" in RESULTS.md).
      Quiesce();
      unlink(ours.c_str());
      received = 0;
      total = 0;
      Stopwatch watch;
      TransferRequest request(TransferKind::File, url, AnsiToWide(ours));
      request.received = &received;
      request.runningTotal = &total;
      request.expectedSize = static_cast<int64_t>(kSingleBytes);  // as a listed package's
      bool ok = DownloadBinaryFile(request, nullptr).ok;
      engine.add(watch.stop());
      Check(ok && FileSize(ours) == kSingleBytes, "DownloadBinaryFile failed");
      // The watchdog's counters must have followed the whole transfer.
      Check(received == static_cast<int64_t>(kSingleBytes) && total == static_cast<int64_t>(kSingleBytes),
            "the progress counters stopped at " + std::to_string(received.load()));
    };
    auto runCurl = [&] {
      Quiesce();
      unlink(theirs.c_str());
      curl.add(Run({"curl", "-sS", "-f", "-o", theirs, url}));
      Check(FileSize(theirs) == kSingleBytes, "curl fetched a short file");
    };
    InTurn(i, runEngine, runCurl);
  }
  if (FileCrc(AnsiToWide(ours)) != Hex8(file.crc)) Fail("DownloadBinaryFile wrote other bytes");
  const double mb = kSingleBytes / 1e6;
  printf("download (a, one file of 1 GiB): %d runs each (median); load %s\n", reps, LoadAverage().c_str());
  Print("DownloadBinaryFile (engine)", engine, mb);
  Print("curl -o (reference)", curl, mb);
  const double e = engine.wall.median(), r = curl.wall.median();
  printf("  speed ratio engine / curl: %.2f\n", r / e);
  Summary("download", "1 GiB, DownloadBinaryFile vs curl -o (MB/s)", Fixed(mb / e, 0), Fixed(mb / r, 0),
          Fixed(r / e, 2), ">= 0.9", r / e >= 0.9);
  // Wall times scatter with the machine's load and with the cost of new page-cache pages; the
  // CPU time of the same runs shows the code's own cost.
  InfoRow("download", "1 GiB, CPU time, same runs (s)", Fixed(engine.cpu.median(), 3), Fixed(curl.cpu.median(), 3),
          Fixed(engine.cpu.median() / curl.cpu.median(), 2));
  unlink(ours.c_str());
  unlink(theirs.c_str());
}

void ZipPass(const std::string& data, const std::string& base, int reps) {
  std::vector<GeneratedFile> files;
  Content content(12);
  for (int i = 0; i < kPackages; ++i)
    files.push_back(
        WriteFile(data + "/server", "zip/pack_" + std::to_string(i) + ".zip", kPackageBytes, Kind::Random, content));
  WarmRead(data + "/server/zip");
  std::string urls;
  for (const auto& f : files) urls += base + f.path + "\n";
  {
    std::ofstream(data + "/urls.txt") << urls;
  }
  const uint64_t bytes = TotalBytes(files);
  Series engine, aria2c;
  for (int i = 0; i < reps; ++i) {
    auto runEngine = [&] {
      Quiesce();
      RemoveAll(data + "/engine");
      Patcher patcher;
      std::vector<ZipListEntry> entries;
      for (const auto& f : files) {
        ZipListEntry entry;
        entry.name = entry.path = f.path.substr(4);  // below zip/
        entry.size = static_cast<int64_t>(f.size);
        entry.crc = Hex8(f.crc);
        entry.needsDownload = true;
        entries.push_back(entry);
      }
      DownloadCounters counters;
      Stopwatch watch;
      {
        QuietStdout quiet;
        counters = DownloadZipFiles(patcher, AnsiToWide(data + "/engine"), {base + "zip/"}, entries, kPackages, bytes);
      }
      engine.add(watch.stop());
      Check(counters.failedFiles == 0 && counters.localFaults == 0 && patcher.filesDone == kPackages,
            "DownloadZipFiles failed " + std::to_string(counters.failedFiles) + " packages");
    };
    auto runAria2c = [&] {
      Quiesce();
      RemoveAll(data + "/aria2c");
      MakeDirs(data + "/aria2c");
      aria2c.add(Run({"aria2c", "-q", "-j2", "-x1", "--allow-overwrite=true", "--auto-file-renaming=false", "-d",
                      data + "/aria2c", "-i", data + "/urls.txt"}));
      for (const auto& f : files)
        Check(FileSize(data + "/aria2c/" + f.path.substr(4)) == f.size, "aria2c fetched a short file");
    };
    InTurn(i, runEngine, runAria2c);
  }
  const double mb = bytes / 1e6;
  printf("download (b, %d packages of 64 MiB, two at a time): %d runs each (median); load %s\n", kPackages, reps,
         LoadAverage().c_str());
  Print("DownloadZipFiles (engine)", engine, mb);
  Print("aria2c -j2 (reference)", aria2c, mb);
  const double e = engine.wall.median(), r = aria2c.wall.median();
  printf("  speed ratio engine / aria2c: %.2f (the engine also checks the CRC-32 of every package)\n", r / e);
  Summary("download", "8 x 64 MiB, DownloadZipFiles vs aria2c -j2 (MB/s)", Fixed(mb / e, 0), Fixed(mb / r, 0),
          Fixed(r / e, 2), ">= 0.8", r / e >= 0.8);
  InfoRow("download", "8 x 64 MiB, CPU time, same runs (s)", Fixed(engine.cpu.median(), 3),
          Fixed(aria2c.cpu.median(), 3), Fixed(engine.cpu.median() / aria2c.cpu.median(), 2));
  RemoveAll(data + "/engine");
  RemoveAll(data + "/aria2c");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: vorel-bench-download DATA_DIR BASE_URL\n");
    return 2;
  }
  const std::string data = argv[1], base = argv[2];
  const int reps = Reps(7);
  SingleFile(data, base, reps);
  ZipPass(data, base, reps);
  return 0;
}
