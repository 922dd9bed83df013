// unzip: UnzipPackage of a ~1 GiB package of mixed files (a few large, many small, compressible
// and not; made by Info-ZIP zip) against `unzip -o -q` of the same archive into an empty folder.
#include <cstdio>

#include "common.h"
#include "platform/text.h"
#include "update/file_list.h"
#include "update/patcher.h"
#include "update/zip_extract.h"

using namespace bench;

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
  return 0;
}
