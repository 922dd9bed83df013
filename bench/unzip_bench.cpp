// unzip: UnzipPackage of a ~1 GiB package of mixed files (a few large, many small, compressible
// and not; made by Info-ZIP zip) against `unzip -o -q` of the same archive into an empty folder;
// then ExtractZip of one zip64 entry larger than 4 GiB against unzip, with its size and CRC-32
// checked.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common.h"
#include "platform/text.h"
#include "update/file_list.h"
#include "update/patcher.h"
#include "update/verify.h"
#include "update/zip_extract.h"

using namespace bench;

namespace {

// A sparse file of 4 GiB and a bit, zeros but for marks at its start, across the 4 GiB line and
// at its end; deflated by zip to a few MB, so only the extraction writes the 4 GiB.
void LargeEntry() {
  const std::string root = DataRoot() + "/unzip-large";
  const std::string source = root + "/source/huge.bin", archive = root + "/huge.zip";
  const uint64_t size = (4ull << 30) + 65543;
  RemoveAll(root);
  MakeDirs(root + "/source");
  int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool made = fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0;
  const off_t marks[] = {0, (off_t{4} << 30) - 3, static_cast<off_t>(size) - 6};
  for (off_t at : marks) made = made && pwrite(fd, "marked", 6, at) == 6;
  if (fd < 0 || close(fd) != 0 || !made) Fail("cannot write " + source);
  uint64_t sourceSize = 0;
  const std::string crc = FileCrc(AnsiToWide(source), &sourceSize);
  printf("unzip: deflating a %.2f GiB entry with Info-ZIP zip ...\n", size / double(1ull << 30));
  fflush(stdout);
  Run({"zip", "-q", "-X", archive, "huge.bin"}, root + "/source");

  // Both write the whole entry to disk; each result is checked before the next run.
  auto check = [&](const std::string& who, const std::string& out) {
    uint64_t outSize = 0;
    std::string outCrc = FileCrc(AnsiToWide(out), &outSize);
    printf("  %-26s %llu bytes, CRC-32 %s (source %s)\n", who.c_str(), static_cast<unsigned long long>(outSize),
           outCrc.c_str(), crc.c_str());
    if (outSize != size || outCrc != crc || sourceSize != size) Fail(who + " wrote a different file");
    RemoveAll(out);
  };
  Quiesce();
  std::atomic<int64_t> counted{0};
  Stopwatch watch;
  bool ok = ExtractZip(AnsiToWide(archive), AnsiToWide(root + "/engine"), &counted);
  Timing engine = watch.stop();
  if (!ok || counted != static_cast<int64_t>(size)) Fail("ExtractZip failed or counted " + std::to_string(counted));
  check("ExtractZip (engine)", root + "/engine/huge.bin");
  MakeDirs(root + "/reference");
  Quiesce();
  Timing unzip = Run({"unzip", "-o", "-q", archive, "-d", root + "/reference"});
  check("unzip -o -q (reference)", root + "/reference/huge.bin");

  const double mb = size / 1e6;
  printf("  %-26s %8.3f s  %6.0f MB/s  CPU %6.3f s\n", "ExtractZip, > 4 GiB entry", engine.wall, mb / engine.wall,
         engine.cpu);
  printf("  %-26s %8.3f s  %6.0f MB/s  CPU %6.3f s\n", "unzip, > 4 GiB entry", unzip.wall, mb / unzip.wall,
         unzip.cpu);
  InfoRow("unzip", "one zip64 entry of 4 GiB + 64 KiB, deflated (s)", Fixed(engine.wall, 3), Fixed(unzip.wall, 3),
          Fixed(engine.wall / unzip.wall, 2));
  if (!KeepData()) RemoveAll(root);
}

}  // namespace

int main() {
  const std::string root = DataRoot() + "/unzip";
  const std::string source = root + "/source";
  const std::string install = root + "/install";
  const std::string zipDir = install + "/Temp/ZipUpdate";
  const std::string archive = zipDir + "/vorel_win_001.zip";
  const int reps = Reps(3);
  RemoveAll(root);

  // About 1 GiB: three large files of the three kinds, eight medium ones, 8,000 small ones.
  std::vector<GeneratedFile> files;
  Content content(5);
  const Kind kinds[3] = {Kind::Random, Kind::Text, Kind::Nibbles};
  for (int i = 0; i < 3; ++i)
    files.push_back(WriteFile(source, "vorel_win/data/world_" + std::to_string(i) + ".pak", 192ull << 20, kinds[i],
                              content));
  for (int i = 0; i < 8; ++i)
    files.push_back(WriteFile(source, "vorel_win/sound/bank_" + std::to_string(i) + ".bnk", 24ull << 20,
                              kinds[i % 3], content));
  std::vector<GeneratedFile> small = WriteSmallTree(source, "vorel_win/textures/", 8000, 1 << 10, 64 << 10, 6);
  files.insert(files.end(), small.begin(), small.end());
  const uint64_t bytes = TotalBytes(files);
  MakeDirs(zipDir);
  printf("unzip: making the package with Info-ZIP zip (level 6) ...\n");
  fflush(stdout);
  Run({"zip", "-q", "-r", "-X", archive, "vorel_win"}, source);
  RemoveAll(source);
  const uint64_t archiveBytes = WarmRead(archive);
  SettleAfterDeletes();

  ZipListEntry entry;
  entry.name = entry.path = "vorel_win_001.zip";
  entry.unpackedSize = static_cast<int64_t>(bytes);
  const std::wstring wideInstall = AnsiToWide(install);
  const std::string package = install + "/Package";

  // Every run's output is kept until the end under its own name, so that no extraction runs
  // right after a deletion (see SettleAfterDeletes).
  auto kept = [&](int i) { return root + "/engine-" + std::to_string(i); };
  auto reference = [&](int i) { return root + "/reference-" + std::to_string(i); };
  Series engine, unzip;
  auto runEngine = [&](int i) {
    Quiesce();
    Patcher patcher;
    Stopwatch watch;
    bool ok = UnzipPackage(patcher, wideInstall, {entry}, static_cast<int64_t>(bytes));
    engine.add(watch.stop());
    if (!ok || patcher.bytesDone != static_cast<int64_t>(bytes)) Fail("UnzipPackage did not extract everything");
    if (rename(package.c_str(), kept(i).c_str()) != 0) Fail("cannot rename " + package);
  };
  auto runReference = [&](int i) {
    MakeDirs(reference(i));
    Quiesce();
    unzip.add(Run({"unzip", "-o", "-q", archive, "-d", reference(i)}));
  };
  for (int i = 0; i < reps; ++i) {
    // Each goes first in turn, so that neither always meets the other's leftovers.
    if (i % 2 == 0) {
      runEngine(i);
      runReference(i);
    } else {
      runReference(i);
      runEngine(i);
    }
  }
  if (WarmRead(kept(0)) != bytes || WarmRead(reference(0)) != bytes) Fail("the extracted trees differ in size");

  const double mb = bytes / 1e6;
  const double e = engine.wall.median(), u = unzip.wall.median();
  printf("unzip: %zu files, %.0f MB unpacked, archive %.0f MB, %d runs each (median); load %s\n", files.size(), mb,
         archiveBytes / 1e6, reps, LoadAverage().c_str());
  printf("  %-26s %8.3f s  %6.0f MB/s  CPU %6.3f s  [%s]\n", "UnzipPackage (engine)", e, mb / e,
         engine.cpu.median(), engine.wall.list().c_str());
  printf("  %-26s %8.3f s  %6.0f MB/s  CPU %6.3f s  [%s]\n", "unzip -o -q (reference)", u, mb / u,
         unzip.cpu.median(), unzip.wall.list().c_str());
  printf("  time ratio engine / unzip: %.2f (target <= 1.10); CPU time ratio %.2f\n", e / u,
         engine.cpu.median() / unzip.cpu.median());
  Summary("unzip", "UnzipPackage vs unzip, ~1 GiB mixed (s)", Fixed(e, 3), Fixed(u, 3), Fixed(e / u, 2), "<= 1.10",
          e / u <= 1.10);
  InfoRow("unzip", "CPU time, same runs (s)", Fixed(engine.cpu.median(), 3), Fixed(unzip.cpu.median(), 3),
          Fixed(engine.cpu.median() / unzip.cpu.median(), 2));
  if (!KeepData()) RemoveAll(root);
  LargeEntry();
  return 0;
}
