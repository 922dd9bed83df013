#include <gtest/gtest.h>

#include <zstd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/test_files.h"
#include "update/binary_patch.h"
#include "tools/patch_maker.h"

using testfiles::TempDir;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Random(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(random());
  return b;
}
std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Writes old and patch, applies, and gives the error (empty on success) and the result.
struct Applied {
  std::string error, result;
};
Applied ApplyPatch(const TempDir& dir, const Bytes& old, const std::string& patchBytes) {
  testfiles::WriteFile(dir / L"old.bin", Text(old));
  testfiles::WriteFile(dir / L"patch.vp", patchBytes);
  std::atomic<int64_t> done{0};
  Applied a;
  a.error = patch::Apply(dir / L"old.bin", dir / L"patch.vp", dir / L"new.bin", &done);
  a.result = testfiles::ReadFile(dir / L"new.bin");
  if (a.error.empty()) {
    EXPECT_EQ(done, static_cast<int64_t>(a.result.size()));
  }
  return a;
}

// A patch put together by hand from its streams, as a hostile server could send it.
std::string RawPatch(uint64_t oldSize, uint64_t newSize, const std::vector<int64_t>& triples, const Bytes& gaps,
                     const Bytes& values, const Bytes& extra) {
  std::string control;
  for (int64_t v : triples)
    for (int i = 0; i < 8; ++i) control += static_cast<char>(static_cast<uint64_t>(v) >> (8 * i));
  auto pack = [](const void* data, size_t n) {
    std::string out(ZSTD_compressBound(n), '\0');
    out.resize(ZSTD_compress(&out[0], out.size(), data, n, 3));
    return out;
  };
  std::string streams[4] = {pack(control.data(), control.size()), pack(gaps.data(), gaps.size()),
                            pack(values.data(), values.size()), pack(extra.data(), extra.size())};
  patch::Header header{oldSize, newSize, streams[0].size(), streams[1].size(), streams[2].size(), streams[3].size()};
  unsigned char head[patch::kHeaderSize];
  patch::WriteHeader(header, head);
  std::string out(reinterpret_cast<const char*>(head), sizeof head);
  for (const auto& s : streams) out += s;
  return out;
}

}  // namespace

// Every kind of change comes back byte for byte: edits, insertions, deletions, and the edges of
// empty and identical files.
TEST(BinaryPatch, RebuildsTheNewFileFromTheOld) {
  const Bytes base = Random(300000, 1);
  auto edited = [&] {
    Bytes b = base;
    for (size_t at : {1000u, 77777u, 200000u, 299990u}) b[at] ^= 0x5A;
    return b;
  };
  auto inserted = [&] {
    Bytes b = base;
    Bytes more = Random(50000, 2);
    b.insert(b.begin() + 150000, more.begin(), more.end());
    return b;
  };
  auto removed = [&] {
    Bytes b = base;
    b.erase(b.begin() + 10000, b.begin() + 90000);
    return b;
  };
  // Shifted "pointers": every 4-byte number after a point grows by 16, as in a rebuilt program.
  auto shifted = [&] {
    Bytes b = base;
    for (size_t at = 100000; at + 4 <= b.size(); at += 64) b[at] = static_cast<unsigned char>(b[at] + 16);
    return b;
  };
  const struct {
    const char* name;
    Bytes old, cur;
  } cases[] = {{"edited", base, edited()},     {"inserted", base, inserted()}, {"removed", base, removed()},
               {"shifted", base, shifted()},   {"same", base, base},           {"empty old", {}, base},
               {"empty new", base, {}},        {"both empty", {}, {}},         {"unrelated", base, Random(1000, 3)}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    patch::MadeStats stats;
    const std::string made = patch::MakePatch(c.old, c.cur, 3, &stats);
    EXPECT_EQ(stats.patchSize, made.size());
    Applied a = ApplyPatch(dir, c.old, made);
    EXPECT_EQ(a.error, "");
    EXPECT_TRUE(a.result == Text(c.cur));
  }
  // Small changes make small patches.
  EXPECT_LT(patch::MakePatch(base, edited(), 19).size(), 1000u);
  EXPECT_LT(patch::MakePatch(base, inserted(), 19).size(), 50000u + 1000u);
  EXPECT_LT(patch::MakePatch(base, shifted(), 19).size(), 5000u);
  // Repetitive data (a run of one record, as zero-filled or padded files have) with a few
  // changes: the matches are long, so a handful of searches suffice. Matches cut short at the
  // shortest repeat once took a search every few bytes, hours for a file of some megabytes.
  Bytes runs;
  while (runs.size() < 400000) runs.insert(runs.end(), {'t', 'e', 'r', 'r', 'a', 'i', 'n', ' '});
  Bytes changed = runs;
  for (size_t at : {1000u, 150000u, 390000u}) std::copy_n(Random(3000, 7).begin(), 3000, changed.begin() + at);
  patch::MadeStats stats;
  const std::string made = patch::MakePatch(runs, changed, 3, &stats);
  EXPECT_TRUE(ApplyPatch(dir, runs, made).result == Text(changed));
  EXPECT_LT(stats.searches, 100u);
  EXPECT_LT(made.size(), 10000u);
}

// A damaged, cut or foreign patch, one for another base, and hand-made streams that point outside
// the file all end with a clear error and nothing else. The damage is done to a patch written by
// hand and to the maker's.
TEST(BinaryPatch, RefusesWhatIsNotThePatchOfThisBase) {
  const Bytes base = Random(200000, 4);
  Bytes cur = base;
  cur[5000] ^= 1;
  cur.insert(cur.begin() + 100000, 300, 'x');
  const Bytes none;
  // 100000 bytes with one difference 5000 bytes in (LEB128 0x88 0x27), 300 new bytes, the rest.
  const unsigned char delta = static_cast<unsigned char>(cur[5000] - base[5000]);
  std::vector<std::pair<const char*, std::string>> goods = {
      {"by hand", RawPatch(base.size(), cur.size(), {100000, 300, 0, 100000, 0, 0}, Bytes{0x88, 0x27}, Bytes{delta},
                           Bytes(300, 'x'))}};
  goods.emplace_back("made", patch::MakePatch(base, cur, 3));
  TempDir dir;
  for (const auto& [kind, good] : goods) {
    SCOPED_TRACE(kind);
    Applied applied = ApplyPatch(dir, base, good);
    ASSERT_EQ(applied.error, "");
    ASSERT_TRUE(applied.result == Text(cur));
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x10;
    std::string badMagic = good;
    badMagic[0] = 'X';
    const struct {
      const char* name;
      Bytes old;
      std::string patch;
    } cases[] = {
        {"cut", base, good.substr(0, good.size() - 7)},
        {"a byte too many", base, good + "!"},
        {"a byte changed", base, flipped},
        {"not a patch", base, badMagic},
        {"only a header", base, good.substr(0, patch::kHeaderSize)},
        {"empty", base, ""},
        {"another base size", Random(200001, 4), good},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_NE(ApplyPatch(dir, c.old, c.patch).error, "");
    }
    // A base of the right size with other bytes gives a wrong file, not an error: the result's
    // checksum is what tells.
    Bytes other = base;
    other[70000] ^= 0xFF;
    Applied wrongBase = ApplyPatch(dir, other, good);
    EXPECT_EQ(wrongBase.error, "");
    EXPECT_FALSE(wrongBase.result == Text(cur));
  }
  const struct {
    const char* name;
    std::string patch;
  } streams[] = {
      {"adds past the new size", RawPatch(base.size(), 10, {20, 0, 0}, none, none, none)},
      {"copies past the new size", RawPatch(base.size(), 10, {0, 11, 0}, none, none, Bytes(11, 'a'))},
      {"negative lengths", RawPatch(base.size(), 10, {-5, 15, 0}, none, none, Bytes(15, 'a'))},
      {"seeks off beyond reach", RawPatch(base.size(), 20, {10, 0, int64_t(1) << 60, 10, 0, 0}, none, none, none)},
      {"too few new bytes", RawPatch(base.size(), 10, {0, 10, 0}, none, none, Bytes(9, 'a'))},
      {"new bytes left over", RawPatch(base.size(), 10, {0, 10, 0}, none, none, Bytes(12, 'a'))},
      {"a difference of zero listed", RawPatch(base.size(), 10, {10, 0, 0}, Bytes{3}, Bytes{0}, none)},
      {"differences left over", RawPatch(base.size(), 10, {10, 0, 0}, Bytes{30}, Bytes{1}, none)},
      {"a gap cut in the middle", RawPatch(base.size(), 10, {10, 0, 0}, Bytes{0x81}, Bytes{1}, none)},
      {"triples left over", RawPatch(base.size(), 10, {0, 10, 0, 0, 0, 0}, none, none, Bytes(10, 'a'))},
  };
  for (const auto& c : streams) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(ApplyPatch(dir, base, c.patch).error, "");
  }
  // Reading before and after the old file adds nothing: the old position is only a position.
  Applied outside = ApplyPatch(dir, base, RawPatch(base.size(), 8, {4, 0, -100, 4, 0, 0}, Bytes{1, 5}, Bytes{7, 9},
                                                   none));
  EXPECT_EQ(outside.error, "");
  EXPECT_EQ(outside.result, std::string({static_cast<char>(base[0]), static_cast<char>(base[1] + 7),
                                         static_cast<char>(base[2]), static_cast<char>(base[3]), 0, 0, 0, 9}));
}
