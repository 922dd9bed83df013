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
  const std::string reference = root + "/reference";
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

  ZipListEntry entry;
  entry.name = entry.path = "vorel_win_001.zip";
  entry.unpackedSize = static_cast<int64_t>(bytes);
  const std::wstring wideInstall = AnsiToWide(install);
  const std::string package = install + "/Package";

  Samples engine, unzip;
  auto runEngine = [&] {
    RemoveAll(package);
    Sync();
    Patcher patcher;
    double start = Now();
    bool ok = UnzipPackage(patcher, wideInstall, {entry}, static_cast<int64_t>(bytes));
    engine.add(Now() - start);
    if (!ok || patcher.bytesDone != static_cast<int64_t>(bytes)) Fail("UnzipPackage did not extract everything");
  };
  auto runReference = [&] {
    RemoveAll(reference);
    MakeDirs(reference);
    Sync();
    unzip.add(Run({"unzip", "-o", "-q", archive, "-d", reference}));
  };
  for (int i = 0; i < reps; ++i) {
    // Each goes first in turn, so that neither always meets the other's write-back.
    if (i % 2 == 0) {
      runEngine();
      runReference();
    } else {
      runReference();
      runEngine();
    }
  }
  if (WarmRead(package) != bytes || WarmRead(reference) != bytes) Fail("the extracted trees differ in size");

  const double mb = bytes / 1e6;
  const double ratio = engine.median() / unzip.median();
  printf("unzip: %zu files, %.0f MB unpacked, archive %.0f MB, %d runs each (median)\n", files.size(), mb,
         archiveBytes / 1e6, reps);
  printf("  %-30s %8.3f s  %6.0f MB/s  [%s]\n", "UnzipPackage (engine)", engine.median(), mb / engine.median(),
         engine.list().c_str());
  printf("  %-30s %8.3f s  %6.0f MB/s  [%s]\n", "unzip -o -q (reference)", unzip.median(), mb / unzip.median(),
         unzip.list().c_str());
  printf("  time ratio engine / unzip: %.2f (target <= 1.10)\n", ratio);
  Summary("unzip", "UnzipPackage vs unzip, ~1 GiB mixed (s)", Fixed(engine.median(), 3), Fixed(unzip.median(), 3),
          Fixed(ratio, 2), "<= 1.10", ratio <= 1.10);
  if (!KeepData()) RemoveAll(root);
  return 0;
}
