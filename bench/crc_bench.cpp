// crc: FileCrc on a 1 GiB file in the page cache against `cat file >/dev/null` on the same
// file, with prototyped alternatives to show where FileCrc's time goes.
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "common.h"
#include "crc_variants.h"
#include "platform/text.h"
#include "update/verify.h"

using namespace bench;

namespace {

struct Variant {
  std::string name;
  std::function<uint32_t(uint64_t&)> run;
  Samples seconds;
};

double MBps(uint64_t bytes, double seconds) { return bytes / 1e6 / seconds; }

}  // namespace

int main() {
  const std::string dir = DataRoot() + "/crc";
  const std::string path = dir + "/game.pak";
  const uint64_t size = 1ull << 30;
  const int reps = Reps(5);
  RemoveAll(dir);
  MakeDirs(dir);
  Content content(1);
  const uint32_t expected = WriteFile(dir, "game.pak", size, Kind::Random, content).crc;
  const std::wstring wide = AnsiToWide(path);

  // The checksum prototypes must agree with zlib before their speed means anything.
  {
    std::vector<unsigned char> sample(100003);
    Content c(9);
    c.fill(Kind::Random, reinterpret_cast<char*>(sample.data()), sample.size());
    for (size_t n : {0, 1, 15, 63, 64, 65, 127, 128, 1000, 65536, 100003}) {
      if (FoldCrc32(0x1234, sample.data(), n) != crc32(0x1234, sample.data(), static_cast<uInt>(n)))
        Fail("folding CRC-32 differs from zlib at " + std::to_string(n) + " bytes");
    }
  }

  // Warm both, then alternate so that neither gets a kinder page cache.
  WarmRead(path);
  Run({"cat", path});
  uint64_t measured = 0;
  if (FileCrc(wide, &measured) != Hex8(expected) || measured != size) Fail("FileCrc gave a wrong result");
  Series engineRuns, catRuns;
  for (int i = 0; i < reps; ++i) {
    Stopwatch watch;
    std::string crc = FileCrc(wide);
    engineRuns.add(watch.stop());
    if (crc != Hex8(expected)) Fail("FileCrc gave a wrong result");
    catRuns.add(Run({"cat", path}));  // standard output goes to /dev/null
  }
  const Samples& engine = engineRuns.wall;
  const Samples& cat = catRuns.wall;

  // Prototypes (bench-only).
  const size_t KiB64 = 64 << 10, MiB = 1 << 20;
  std::vector<Variant> variants = {
      {"fread 64 KiB + zlib crc32", [&](uint64_t& b) { return CrcFread(path, KiB64, b); }, {}},
      {"fread 1 MiB + zlib crc32", [&](uint64_t& b) { return CrcFread(path, MiB, b); }, {}},
      {"read 1 MiB + zlib crc32", [&](uint64_t& b) { return CrcRead(path, MiB, b); }, {}},
      {"read 64 KiB + folding crc32", [&](uint64_t& b) { return CrcReadFold(path, KiB64, b); }, {}},
      {"read 1 MiB + folding crc32", [&](uint64_t& b) { return CrcReadFold(path, MiB, b); }, {}},
      {"mmap + folding crc32", [&](uint64_t& b) { return CrcMmapFold(path, b); }, {}},
      {"reader thread 256 KiB + zlib crc32", [&](uint64_t& b) { return CrcPipelined(path, 256 << 10, false, b); }, {}},
      {"reader thread 256 KiB + folding crc32",
       [&](uint64_t& b) { return CrcPipelined(path, 256 << 10, true, b); }, {}},
      {"two threads, halves, folding crc32", [&](uint64_t& b) { return CrcTwoHalves(path, 256 << 10, b); }, {}},
      {"read 64 KiB, no checksum", [&](uint64_t& b) { b = ReadOnly(path, KiB64); return expected; }, {}},
      {"read 1 MiB, no checksum", [&](uint64_t& b) { b = ReadOnly(path, MiB); return expected; }, {}},
  };
  for (int i = 0; i < reps; ++i) {
    for (auto& v : variants) {
      uint64_t bytes = 0;
      double start = Now();
      uint32_t crc = v.run(bytes);
      v.seconds.add(Now() - start);
      if (crc != expected || bytes != size) Fail(v.name + " gave a wrong result");
    }
  }

  // Checksum speed alone, on 64 MiB already in memory.
  std::vector<unsigned char> memory(64 << 20);
  content.fill(Kind::Random, reinterpret_cast<char*>(memory.data()), memory.size());
  Samples zlibMemory, foldMemory;
  for (int i = 0; i < reps; ++i) {
    double start = Now();
    volatile uint32_t a = static_cast<uint32_t>(crc32(0, memory.data(), static_cast<uInt>(memory.size())));
    zlibMemory.add(Now() - start);
    start = Now();
    volatile uint32_t b = FoldCrc32(0, memory.data(), memory.size());
    foldMemory.add(Now() - start);
    if (a != b) Fail("checksums of memory differ");
  }

  const double catMBps = MBps(size, cat.median());
  const double ours = MBps(size, engine.median());
  printf("crc: 1 GiB file in the page cache, %d runs each (median; best in brackets); load %s\n", reps,
         LoadAverage().c_str());
  printf("  %-42s %8.0f MB/s  (%.0f)  %.3f s  [%s]\n", "FileCrc (engine)", ours, MBps(size, engine.best()),
         engine.median(), engine.list().c_str());
  printf("  %-42s %8.0f MB/s  (%.0f)  %.3f s  [%s]\n", "cat >/dev/null (reference)", catMBps, MBps(size, cat.best()),
         cat.median(), cat.list().c_str());
  printf("  CPU time (median): FileCrc %.3f s, cat %.3f s\n", engineRuns.cpu.median(), catRuns.cpu.median());
  printf("  ratio FileCrc / cat: %.2f (target >= 0.90)\n", ours / catMBps);
  printf("  prototypes (bench only), ratio to cat:\n");
  for (const auto& v : variants) {
    double mbps = MBps(size, v.seconds.median());
    printf("    %-44s %8.0f MB/s  %.2f x cat\n", v.name.c_str(), mbps, mbps / catMBps);
  }
  printf("  checksum alone, 64 MiB in memory: zlib crc32 %.0f MB/s, folding crc32 %.0f MB/s%s\n",
         MBps(memory.size(), zlibMemory.median()), MBps(memory.size(), foldMemory.median()),
         HaveFoldCrc32() ? "" : " (no PCLMULQDQ: zlib used)");

  Summary("crc", "FileCrc vs cat, 1 GiB warm (MB/s)", Fixed(ours, 0), Fixed(catMBps, 0), Fixed(ours / catMBps, 2),
          ">= 0.90", ours / catMBps >= 0.90);
  InfoRow("crc", "zlib crc32 alone, in memory (MB/s)", Fixed(MBps(memory.size(), zlibMemory.median()), 0), "-", "-");
  for (size_t k : {4u, 7u, 8u}) {
    double mbps = MBps(size, variants[k].seconds.median());
    InfoRow("crc", "prototype: " + variants[k].name + " (MB/s)", Fixed(mbps, 0), Fixed(catMBps, 0),
         Fixed(mbps / catMBps, 2));
  }
  RemoveAll(dir);
  return 0;
}
