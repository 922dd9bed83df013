// sha: the check of a signed release's package, CRC-32 and SHA-256 from one read (FileCrc with
// its SHA-256), on a 1 GiB file in the page cache, against `sha256sum` on the same file; with
// FileCrc alone, to show what the SHA-256 adds, and libsodium's own SHA-256 in memory, to show
// why the bulk hash is nettle's (which uses the processor's SHA instructions when it has them).
#include <sodium.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common.h"
#include "platform/text.h"
#include "support/sha256.h"
#include "update/verify.h"

using namespace bench;

namespace {

double MBps(uint64_t bytes, double seconds) { return bytes / 1e6 / seconds; }

}  // namespace

int main() {
  const std::string dir = DataRoot() + "/sha";
  const std::string path = dir + "/package.zip";
  const uint64_t size = 1ull << 30;
  const int reps = Reps(5);
  RemoveAll(dir);
  MakeDirs(dir);
  Content content(3);
  const uint32_t crc = WriteFile(dir, "package.zip", size, Kind::Random, content).crc;
  const std::wstring wide = AnsiToWide(path);

  WarmRead(path);
  std::string reference;
  FILE* sum = popen(("sha256sum '" + path + "'").c_str(), "r");
  char digits[65] = {};
  if (!sum || fread(digits, 1, 64, sum) != 64) Fail("sha256sum gave nothing");
  pclose(sum);
  reference = digits;
  std::string sha;
  if (FileCrc(wide, nullptr, &sha) != Hex8(crc) || sha != reference) Fail("FileCrc's SHA-256 differs from sha256sum");

  // Alternated, so that none gets a kinder page cache.
  Series both, crcOnly, tool;
  for (int i = 0; i < reps; ++i) {
    Stopwatch watch;
    FileCrc(wide, nullptr, &sha);
    both.add(watch.stop());
    Stopwatch alone;
    FileCrc(wide);
    crcOnly.add(alone.stop());
    tool.add(Run({"sha256sum", path}));
  }

  // The hashes alone, on 256 MiB in memory.
  std::vector<unsigned char> memory(256 << 20);
  content.fill(Kind::Random, reinterpret_cast<char*>(memory.data()), memory.size());
  if (sodium_init() < 0) Fail("libsodium did not start");
  Samples nettleMemory, sodiumMemory;
  for (int i = 0; i < reps; ++i) {
    double start = Now();
    Sha256 hash;
    hash.update(memory.data(), memory.size());
    std::string a = hash.hexDigest();
    nettleMemory.add(Now() - start);
    unsigned char out[crypto_hash_sha256_BYTES];
    start = Now();
    crypto_hash_sha256(out, memory.data(), memory.size());
    sodiumMemory.add(Now() - start);
    if (a != ToHex(out, sizeof out)) Fail("nettle and libsodium disagree");
  }

  const double ours = MBps(size, both.wall.median()), plain = MBps(size, crcOnly.wall.median()),
               theirs = MBps(size, tool.wall.median());
  printf("sha: 1 GiB file in the page cache, %d runs each (median); load %s\n", reps, LoadAverage().c_str());
  printf("  %-40s %8.0f MB/s  %.3f s  [%s]\n", "FileCrc + SHA-256 (engine)", ours, both.wall.median(),
         both.wall.list().c_str());
  printf("  %-40s %8.0f MB/s  %.3f s  [%s]\n", "FileCrc alone", plain, crcOnly.wall.median(),
         crcOnly.wall.list().c_str());
  printf("  %-40s %8.0f MB/s  %.3f s  [%s]\n", "sha256sum (reference)", theirs, tool.wall.median(),
         tool.wall.list().c_str());
  printf("  in memory: nettle SHA-256 %.0f MB/s, libsodium SHA-256 %.0f MB/s\n",
         MBps(memory.size(), nettleMemory.median()), MBps(memory.size(), sodiumMemory.median()));
  Summary("sha", "FileCrc + SHA-256 vs sha256sum, 1 GiB warm (MB/s)", Fixed(ours, 0), Fixed(theirs, 0),
          Fixed(ours / theirs, 2), ">= 1.00", ours >= theirs);
  InfoRow("sha", "FileCrc alone, same file (MB/s)", Fixed(plain, 0), Fixed(ours, 0), Fixed(plain / ours, 2));
  InfoRow("sha", "SHA-256 in memory, nettle vs libsodium (MB/s)", Fixed(MBps(memory.size(), nettleMemory.median()), 0),
          Fixed(MBps(memory.size(), sodiumMemory.median()), 0),
          Fixed(sodiumMemory.median() / nettleMemory.median(), 2));
  RemoveAll(dir);
  return 0;
}
