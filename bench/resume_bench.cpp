// resume: a 1 GiB package from the local test server (started by bench/resume.sh), which cuts
// every answer after 64 MiB, fetched by the zip pass (DownloadZipFiles: one job, then the CRC-32
// check) and by DownloadBinaryFile, with resumable downloads on and off. Reported: the bytes the
// server sent against the package's size, the requests it had, and whether the download ended
// complete. Without resuming the first cut ends it.
//   usage: vorel-bench-resume DATA_DIR DOCROOT BASE_URL   (BASE_URL serves DOCROOT)
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

constexpr uint64_t kPackageBytes = 1ull << 30;
constexpr uint64_t kCutBytes = 64ull << 20;
const char kName[] = "resume/package.zip";

// One of the server's counters for the package (see tests/server/vorel_test_server.py).
long long Counter(const std::string& base, const std::string& counter) {
  std::string text;
  if (!GetRemoteTextFile(base + "__" + counter + "__/" + kName, text, {}, nullptr).ok)
    Fail("cannot read the server's counters");
  return std::atoll(text.c_str());
}

struct Outcome {
  bool complete = false;
  long long sent = 0, requests = 0, ranged = 0;
  double seconds = 0;
};

// Runs fetch once into a fresh output with resuming on or off, and reads what the server saw
// meanwhile (reading a counter is no request of the package).
template <typename Fetch>
Outcome Measure(const std::string& base, bool resume, const std::string& output, const Fetch& fetch) {
  Quiesce();
  RemoveAll(output);
  Outcome run;
  long long sent = Counter(base, "bytes"), requests = Counter(base, "count"), ranged = Counter(base, "ranged");
  Stopwatch watch;
  run.complete = fetch(resume);
  run.seconds = watch.stop().wall;
  run.sent = Counter(base, "bytes") - sent;
  run.requests = Counter(base, "count") - requests;
  run.ranged = Counter(base, "ranged") - ranged;
  return run;
}

void Report(const char* what, const Outcome& on, const Outcome& off) {
  const double size = static_cast<double>(kPackageBytes);
  for (const auto& row : {std::make_pair("resume on", &on), std::make_pair("resume off", &off)}) {
    printf("  %-18s %-10s %-8s %10lld bytes sent (%.4f x size), %lld requests (%lld ranged), %.2f s\n", what,
           row.first, row.second->complete ? "complete" : "failed", row.second->sent, row.second->sent / size,
           row.second->requests, row.second->ranged, row.second->seconds);
  }
  const double ratio = on.sent / size;
  Summary("resume", std::string(what) + ", 1 GiB cut every 64 MiB: bytes sent / size",
          Fixed(ratio, 3) + (on.complete ? " complete" : " failed"),
          Fixed(off.sent / size, 3) + (off.complete ? " complete" : " failed") + " (resume off)", Fixed(ratio, 3),
          "complete, <= 1.05", on.complete && ratio <= 1.05);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: vorel-bench-resume DATA_DIR DOCROOT BASE_URL\n");
    return 2;
  }
  const std::string data = argv[1], docroot = argv[2], base = argv[3];
  Content content(21);
  GeneratedFile package = WriteFile(docroot, kName, kPackageBytes, Kind::Random, content);
  {
    std::ofstream(docroot + "/" + kName + ".fault.json")
        << "{\"mode\": \"cutevery\", \"bytes\": " << kCutBytes << "}";
  }
  WarmRead(docroot + "/" + kName);
  const std::wstring install = AnsiToWide(data + "/install");
  const std::string single = data + "/single.zip";
  printf("resume: a 1 GiB package, every answer of the server cut after 64 MiB; load %s\n", LoadAverage().c_str());

  auto zipPass = [&](bool resume) {
    EngineOptions options;
    options.resumeDownloads = resume;
    Patcher patcher(options);
    ZipListEntry entry;
    entry.name = entry.path = "package.zip";
    entry.size = static_cast<int64_t>(package.size);
    entry.crc = Hex8(package.crc);
    entry.needsDownload = true;
    std::vector<ZipListEntry> entries{entry};
    DownloadCounters counters;
    {
      QuietStdout quiet;
      counters = DownloadZipFiles(patcher, install, {base + "resume/"}, entries, 1, package.size);
    }
    bool complete = counters.failedFiles == 0 && patcher.filesDone == 1;
    // The progress must have counted the continued bytes once each.
    if (complete && patcher.bytesDone != static_cast<int64_t>(package.size)) Fail("the zip pass's progress is off");
    return complete;
  };
  auto singleFile = [&](bool resume) {
    std::atomic<int64_t> received{0}, total{0};
    TransferRequest request(TransferKind::File, base + kName, AnsiToWide(single));
    request.received = &received;
    request.runningTotal = &total;
    request.expectedSize = static_cast<int64_t>(package.size);
    request.resume = resume;
    bool ok = DownloadBinaryFile(request, nullptr).ok;
    bool complete = ok && FileCrc(AnsiToWide(single)) == Hex8(package.crc);
    if (complete && total != static_cast<int64_t>(package.size)) Fail("DownloadBinaryFile's progress is off");
    return complete;
  };
  const std::string zipOutput = data + "/install";
  Outcome zipOn = Measure(base, true, zipOutput, zipPass), zipOff = Measure(base, false, zipOutput, zipPass);
  Outcome fileOn = Measure(base, true, single, singleFile), fileOff = Measure(base, false, single, singleFile);
  Report("zip pass", zipOn, zipOff);
  Report("DownloadBinaryFile", fileOn, fileOff);
  RemoveAll(data + "/install");
  RemoveAll(single);
  return 0;
}
