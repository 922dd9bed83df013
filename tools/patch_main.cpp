// vorel-patch: builds and applies one binary patch, for measuring patches and for trying one by hand.
//   vorel-patch make OLD NEW PATCH [--level N]
//   vorel-patch apply OLD PATCH NEW
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/types.h>

#include "platform/text.h"
#include "tools/patch_maker.h"
#include "update/binary_patch.h"

namespace {

bool Load(const char* path, std::vector<unsigned char>& data) {
  FILE* file = fopen(path, "rb");
  if (!file) return false;
  // One read into a buffer of the file's size: a growing vector would copy a large base
  // several times over and hold up to twice its size.
  data.clear();
  if (fseeko(file, 0, SEEK_END) == 0) {
    const off_t size = ftello(file);
    if (size > 0) data.reserve(static_cast<size_t>(size) + (1 << 20));
    fseeko(file, 0, SEEK_SET);
  }
  size_t n;
  do {
    const size_t at = data.size();
    data.resize(at + (1 << 20));
    n = fread(data.data() + at, 1, 1 << 20, file);
    data.resize(at + n);
  } while (n > 0);
  bool ok = !ferror(file);
  fclose(file);
  return ok;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int Usage() {
  fprintf(stderr, "usage: vorel-patch make OLD NEW PATCH [--level N]\n       vorel-patch apply OLD PATCH NEW\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && strcmp(argv[1], "make") == 0) {
    int level = 19;
    if (argc == 7 && strcmp(argv[5], "--level") == 0) level = atoi(argv[6]);
    else if (argc != 5) return Usage();
    std::vector<unsigned char> oldData, newData;
    if (!Load(argv[2], oldData) || !Load(argv[3], newData)) {
      fprintf(stderr, "vorel-patch: cannot read %s or %s\n", argv[2], argv[3]);
      return 1;
    }
    auto start = std::chrono::steady_clock::now();
    patch::MadeStats stats;
    std::string made;
    try {
      made = patch::MakePatch(oldData, newData, level, &stats);
    } catch (const std::exception& e) {
      fprintf(stderr, "vorel-patch: %s\n", e.what());
      return 1;
    }
    FILE* out = fopen(argv[4], "wb");
    if (!out || fwrite(made.data(), 1, made.size(), out) != made.size() || fclose(out) != 0) {
      fprintf(stderr, "vorel-patch: cannot write %s\n", argv[4]);
      return 1;
    }
    printf("patch %llu bytes (%.3f %% of the new file), %llu diff bytes, %llu extra bytes, %llu triples, %.1f s\n",
           static_cast<unsigned long long>(stats.patchSize),
           newData.empty() ? 0.0 : 100.0 * static_cast<double>(stats.patchSize) / static_cast<double>(newData.size()),
           static_cast<unsigned long long>(stats.diffBytes), static_cast<unsigned long long>(stats.extraBytes),
           static_cast<unsigned long long>(stats.triples), Seconds(start));
    return 0;
  }
  if (argc == 5 && strcmp(argv[1], "apply") == 0) {
    auto start = std::chrono::steady_clock::now();
    std::string error = patch::Apply(AnsiToWide(argv[2]), AnsiToWide(argv[3]), AnsiToWide(argv[4]));
    if (!error.empty()) {
      fprintf(stderr, "vorel-patch: %s\n", error.c_str());
      return 1;
    }
    printf("applied in %.3f s\n", Seconds(start));
    return 0;
  }
  return Usage();
}
