// vorel-bench-patch-gen CASE DIR MIB: the old and new files of one binary-patch workload, the
// same bytes on every run (fixed seeds).
//   a  DIR/old, DIR/new: MIB MiB of random bytes (an already compressed archive); the new one has
//      20 scattered 64 KiB stretches overwritten with other random bytes.
//   b  the same archive; the new one has MIB/1024 x 50 MiB of random bytes inserted in the middle.
//   c  an executable-like file of about MIB MiB: functions of instruction-like bytes that hold the
//      absolute addresses of other functions. The rebuild grows 200 functions by 1-40 bytes, so
//      every function after the first change moves, and every reference to it changes.
//   d  DIR/old/..., DIR/new/...: a game of about MIB MiB in 300 files (16 KiB to 48 MiB, random,
//      text-like and low-entropy content); 5 % of the files get 1-6 small edits each (overwrites,
//      inserts, deletions of 8-4096 bytes). DIR/changed.txt lists their paths.
// Prints "CASE old-bytes new-bytes [changed-files changed-bytes]".
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common.h"

using namespace bench;

namespace {

constexpr uint64_t kMiB = 1 << 20;

void Write(const std::string& path, const std::vector<char>& data) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f || fwrite(data.data(), 1, data.size(), f) != data.size() || fclose(f) != 0) Fail("cannot write " + path);
}

std::vector<char> Bytes(Content& content, uint64_t size, Kind kind = Kind::Random) {
  std::vector<char> data(size);
  content.fill(kind, data.data(), data.size());
  return data;
}

void Archive(const std::string& dir, uint64_t size, bool insert) {
  Content content(1);
  std::vector<char> data = Bytes(content, size);
  Write(dir + "/old", data);
  if (insert) {
    Content other(3);
    const std::vector<char> inserted = Bytes(other, size / 1024 * 50);
    data.insert(data.begin() + static_cast<std::ptrdiff_t>(size / 2), inserted.begin(), inserted.end());
  } else {
    Content other(2);
    const uint64_t stretch = 64 * 1024;
    for (int i = 0; i < 20; ++i) {
      const uint64_t at = other.next() % (size - stretch);
      other.fill(Kind::Random, data.data() + at, stretch);
    }
  }
  Write(dir + "/new", data);
  printf("%s %llu %llu\n", insert ? "b" : "a", static_cast<unsigned long long>(size),
         static_cast<unsigned long long>(data.size()));
}

// Function i's bytes come from a generator of its own, so both builds draw the same code.
struct Function {
  uint32_t opsSize = 0;
  uint32_t refs = 0;
};
constexpr unsigned char kOps[12] = {0x48, 0x89, 0x8b, 0x83, 0xe8, 0xc3, 0x55, 0x5d, 0x31, 0xc0, 0x0f, 0x1f};

void Executable(const std::string& dir, uint64_t size) {
  const uint64_t average = 64 + 1984 / 2 + 4 * ((64 + 1984 / 2) / 48);
  const uint32_t count = static_cast<uint32_t>(size / average);
  std::vector<Function> functions(count);
  for (uint32_t i = 0; i < count; ++i) {
    Content c(0x5000000 + i);
    functions[i].opsSize = static_cast<uint32_t>(64 + c.next() % 1985);
    functions[i].refs = functions[i].opsSize / 48;
  }
  std::vector<uint32_t> grow(count, 0);
  Content changes(6);
  for (int k = 0; k < 200; ++k) {
    const uint32_t at = static_cast<uint32_t>(changes.next() % count);
    grow[at] = static_cast<uint32_t>(1 + changes.next() % 40);
  }
  uint64_t sizes[2] = {0, 0};
  for (int changed = 0; changed < 2; ++changed) {
    std::vector<uint32_t> address(count);
    uint32_t a = 0x400000;
    for (uint32_t i = 0; i < count; ++i) {
      address[i] = a;
      a += functions[i].opsSize + 4 * functions[i].refs + (changed ? grow[i] : 0);
    }
    std::vector<char> out;
    out.reserve(static_cast<size_t>(a - 0x400000));
    std::vector<unsigned char> ops;
    for (uint32_t i = 0; i < count; ++i) {
      Content c(0x5000000 + i);
      c.next();  // the size
      ops.resize(functions[i].opsSize);
      for (auto& op : ops) op = kOps[c.next() % 12];
      const uint32_t step = functions[i].opsSize / (functions[i].refs + 1);
      for (uint32_t k = 0; k < functions[i].refs; ++k) {
        out.insert(out.end(), ops.begin() + k * step, ops.begin() + (k + 1) * step);
        const uint32_t target = address[c.next() % count];
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<char>(target >> (8 * b)));
      }
      out.insert(out.end(), ops.begin() + functions[i].refs * step, ops.end());
      if (changed && grow[i]) {
        Content added(0x6000000 + i);
        for (uint32_t k = 0; k < grow[i]; ++k) out.push_back(static_cast<char>(added.next()));
      }
    }
    Write(dir + (changed ? "/new" : "/old"), out);
    sizes[changed] = out.size();
  }
  printf("c %llu %llu\n", static_cast<unsigned long long>(sizes[0]), static_cast<unsigned long long>(sizes[1]));
}

void MakeParents(const std::string& path) { MakeDirs(path.substr(0, path.rfind('/'))); }

void Game(const std::string& dir, uint64_t size) {
  const int count = 300;
  Content draw(9);
  std::vector<double> weights(count);
  double total = 0;
  for (auto& w : weights) {
    // Log-uniform between 16 KiB and 48 MiB.
    const double u = static_cast<double>(draw.next() >> 11) / 9007199254740992.0;
    w = 16384.0 * std::exp(u * std::log(48.0 * 1024 * 1024 / 16384.0));
    total += w;
  }
  std::set<int> changedSet;
  while (static_cast<int>(changedSet.size()) < count / 20) changedSet.insert(static_cast<int>(draw.next() % count));
  const char* folders[5] = {"data/world", "data/textures", "sound", "movies", "bin"};
  const Kind kinds[4] = {Kind::Random, Kind::Random, Kind::Text, Kind::Nibbles};
  Content content(10);
  uint64_t oldBytes = 0, newBytes = 0, changedBytes = 0;
  std::string changedList;
  for (int i = 0; i < count; ++i) {
    const uint64_t fileSize = std::max<uint64_t>(4096, static_cast<uint64_t>(weights[i] / total * size));
    char name[96];
    snprintf(name, sizeof name, "%s/file_%03d.bin", folders[i % 5], i);
    std::vector<char> data = Bytes(content, fileSize, kinds[i % 4]);
    MakeParents(dir + "/old/" + name);
    MakeParents(dir + "/new/" + name);
    Write(dir + "/old/" + name, data);
    oldBytes += data.size();
    if (changedSet.count(i)) {
      Content edits(0x7000000 + i);
      const int n = 1 + static_cast<int>(edits.next() % 6);
      for (int k = 0; k < n; ++k) {
        const uint64_t length = 8 + edits.next() % std::min<uint64_t>(4089, data.size() / 4);
        const uint64_t at = edits.next() % (data.size() - length);
        const auto where = data.begin() + static_cast<std::ptrdiff_t>(at);
        switch (edits.next() % 3) {
          case 0: edits.fill(kinds[i % 4], data.data() + at, length); break;
          case 1: {
            const std::vector<char> added = Bytes(edits, length, kinds[i % 4]);
            data.insert(where, added.begin(), added.end());
            break;
          }
          default: data.erase(where, where + static_cast<std::ptrdiff_t>(length)); break;
        }
      }
      changedBytes += data.size();
      changedList += std::string(name) + "\n";
    }
    Write(dir + "/new/" + name, data);
    newBytes += data.size();
  }
  FILE* list = fopen((dir + "/changed.txt").c_str(), "w");
  if (!list || fputs(changedList.c_str(), list) < 0 || fclose(list) != 0) Fail("cannot write the list");
  printf("d %llu %llu %zu %llu\n", static_cast<unsigned long long>(oldBytes), static_cast<unsigned long long>(newBytes),
         changedSet.size(), static_cast<unsigned long long>(changedBytes));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) Fail("usage: vorel-bench-patch-gen a|b|c|d DIR MIB");
  const std::string which = argv[1], dir = argv[2];
  const uint64_t size = strtoull(argv[3], nullptr, 10) * kMiB;
  if (size < kMiB) Fail("the size is at least 1 MiB");
  MakeDirs(dir);
  if (which == "a" || which == "b") {
    Archive(dir, size, which == "b");
  } else if (which == "c") {
    Executable(dir, size);
  } else if (which == "d") {
    Game(dir, size);
  } else {
    Fail("unknown case " + which);
  }
  return 0;
}
