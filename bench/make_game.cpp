// vorel-bench-make-game DIR: writes the ~2 GiB game of the install benchmark and prints the
// package size (MiB) with which the release builder cuts it into 8 packages, as
// "package-size-mb N packages P files F bytes B".
#include <algorithm>
#include <cstdio>

#include "common.h"

using namespace bench;

namespace {

// The release builder fills packages greedily in path order; the same walk predicts its count.
int PackageCount(std::vector<GeneratedFile> files, uint64_t target) {
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  int count = 0;
  uint64_t filled = 0;
  for (const auto& f : files) {
    if (count == 0 || filled + f.size > target) {
      ++count;
      filled = 0;
    }
    filled += f.size;
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Fail("usage: vorel-bench-make-game DIR");
  const std::string dir = argv[1];
  RemoveAll(dir);
  Content content(8);
  std::vector<GeneratedFile> files;
  const Kind kinds[3] = {Kind::Random, Kind::Text, Kind::Nibbles};
  const uint64_t MiB = 1 << 20;
  files.push_back(WriteFile(dir, "vorel.exe", 8 * MiB, Kind::Nibbles, content));
  for (int i = 0; i < 10; ++i) {
    char name[64];
    snprintf(name, sizeof name, "data/world/chunk_%02d.pak", i);
    files.push_back(WriteFile(dir, name, 96 * MiB, kinds[i % 3], content));
  }
  for (int i = 0; i < 4; ++i)
    files.push_back(WriteFile(dir, "movies/intro_" + std::to_string(i) + ".bik", 128 * MiB, Kind::Random, content));
  for (int i = 0; i < 12; ++i) {
    char name[64];
    snprintf(name, sizeof name, "sound/bank_%02d.ogg", i);
    files.push_back(WriteFile(dir, name, 16 * MiB, i % 2 ? Kind::Random : Kind::Nibbles, content));
  }
  std::vector<GeneratedFile> small = WriteSmallTree(dir, "data/textures/", 12000, 1 << 10, 64 << 10, 9);
  files.insert(files.end(), small.begin(), small.end());

  const uint64_t bytes = TotalBytes(files);
  uint64_t sizeMiB = (bytes + 8 * MiB - 1) / (8 * MiB);
  while (PackageCount(files, sizeMiB * MiB) > 8) ++sizeMiB;
  printf("package-size-mb %llu packages %d files %zu bytes %llu\n", static_cast<unsigned long long>(sizeMiB),
         PackageCount(files, sizeMiB * MiB), files.size(), static_cast<unsigned long long>(bytes));
  return 0;
}
