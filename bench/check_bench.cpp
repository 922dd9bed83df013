// check: CheckLocalFiles over (a) 20,000 small files and (b) 4 files of 512 MiB, each with its
// matching file list, against `rhash --crc32 -r` (and a Python zlib.crc32 walk) over the same
// tree; page cache warm for all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common.h"
#include "support/crc32.h"
#include "platform/text.h"
#include "update/file_list.h"
#include "update/patcher.h"
#include "update/verify.h"

using namespace bench;

namespace {

const char kPythonWalk[] =
    "import os, sys, zlib\n"
    "for top, dirs, names in os.walk(sys.argv[1]):\n"
    "    for n in names:\n"
    "        crc = 0\n"
    "        with open(os.path.join(top, n), 'rb') as f:\n"
    "            while True:\n"
    "                b = f.read(65536)\n"
    "                if not b: break\n"
    "                crc = zlib.crc32(b, crc)\n"
    "        print('%08X' % crc, n)\n";

// Where the per-file time goes (bench-only prototypes): FileCrc alone on every file, and the
// least a check can do per file: one open, fstat for the size, reads into one reused buffer.
void PerFile(const std::string& dir, const std::vector<GeneratedFile>& files, int reps) {
  Series fileCrc, lean;
  std::vector<unsigned char> buffer(256 << 10);
  for (int i = 0; i < reps; ++i) {
    Stopwatch watch;
    for (const auto& f : files) {
      if (FileCrc(AnsiToWide(dir + "/" + f.path)) != Hex8(f.crc)) Fail("FileCrc gave a wrong result");
    }
    fileCrc.add(watch.stop());
    Stopwatch leanWatch;
    for (const auto& f : files) {
      int fd = open((dir + "/" + f.path).c_str(), O_RDONLY | O_CLOEXEC);
      struct stat st;
      if (fd < 0 || fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) != f.size) Fail("cannot read " + f.path);
      uint32_t crc = 0;
      ssize_t n;
      while ((n = read(fd, buffer.data(), buffer.size())) > 0) crc = Crc32Update(crc, buffer.data(), n);
      close(fd);
      if (crc != f.crc) Fail("wrong checksum of " + f.path);
    }
    lean.add(leanWatch.stop());
  }
  printf("  where the time goes, per file (prototypes, bench only):\n");
  printf("    %-52s %7.3f s  %5.1f us/file\n", "FileCrc on every file (no list walk)", fileCrc.wall.median(),
         fileCrc.wall.median() / files.size() * 1e6);
  printf("    %-52s %7.3f s  %5.1f us/file\n", "one open + fstat + reads into a reused buffer", lean.wall.median(),
         lean.wall.median() / files.size() * 1e6);
  InfoRow("check", "prototype: one open + fstat + reused buffer, 20,000 files (s)", Fixed(lean.wall.median(), 3),
          "-", "-");
}

void Case(const std::string& label, const std::string& measure, const std::string& dir,
          const std::vector<GeneratedFile>& files, int reps) {
  const std::string list = FileListText(files);
  const uint64_t bytes = TotalBytes(files);
  const std::wstring wideDir = AnsiToWide(dir);
  WarmRead(dir);
  Run({"rhash", "--crc32", "-r", dir});

  Series engine, rhash, python;
  for (int i = 0; i < reps; ++i) {
    Patcher patcher;
    std::vector<FileListEntry> entries = ParseFileList(list, patcher);
    Stopwatch watch;
    CheckResults results = CheckLocalFiles(patcher, wideDir, entries);
    engine.add(watch.stop());
    if (results.filesToDownload != 0 || results.faults != 0 || entries.size() != files.size())
      Fail("CheckLocalFiles found " + std::to_string(results.filesToDownload) + " files to download");
    rhash.add(Run({"rhash", "--crc32", "-r", dir}));
    python.add(Run({"python3", "-c", kPythonWalk, dir}));
  }
  const double n = static_cast<double>(files.size()), mb = bytes / 1e6;
  printf("check (%s): %zu files, %.0f MB, %d runs each (median); load %s\n", label.c_str(), files.size(), mb, reps,
         LoadAverage().c_str());
  auto row = [&](const char* name, const Series& s) {
    printf("  %-30s %7.3f s  %8.0f files/s  %6.0f MB/s  CPU %6.3f s  [%s]\n", name, s.wall.median(),
           n / s.wall.median(), mb / s.wall.median(), s.cpu.median(), s.wall.list().c_str());
  };
  row("CheckLocalFiles (engine)", engine);
  row("rhash --crc32 -r (reference)", rhash);
  row("python zlib.crc32 walk", python);
  const double e = engine.wall.median(), r = rhash.wall.median(), p = python.wall.median();
  printf("  speed ratio engine / rhash: %.2f; engine / python walk: %.2f\n", r / e, p / e);
  InfoRow("check", measure + " vs rhash (MB/s)", Fixed(mb / e, 0), Fixed(mb / r, 0), Fixed(r / e, 2));
  if (files.size() >= 20000) {  // the many small files of a game's tree check: at least twice rhash's speed
    Summary("check", measure + " vs rhash (files/s)", Fixed(n / e, 0), Fixed(n / r, 0), Fixed(r / e, 2), ">= 2.00",
            r / e >= 2.0);
  } else {
    InfoRow("check", measure + " vs rhash (files/s)", Fixed(n / e, 0), Fixed(n / r, 0), Fixed(r / e, 2));
  }
  InfoRow("check", measure + " vs python zlib walk (MB/s)", Fixed(mb / e, 0), Fixed(mb / p, 0), Fixed(p / e, 2));
}

}  // namespace

int main() {
  const std::string root = DataRoot() + "/check";
  const int reps = Reps(3);
  RemoveAll(root);

  std::vector<GeneratedFile> small = WriteSmallTree(root + "/small", "", 20000, 1 << 10, 64 << 10, 2);
  Case("a, 20,000 files of 1-64 KiB", "20,000 small files", root + "/small", small, reps);
  PerFile(root + "/small", small, reps);
  RemoveAll(root + "/small");

  std::vector<GeneratedFile> large;
  Content content(3);
  const Kind kinds[4] = {Kind::Random, Kind::Text, Kind::Random, Kind::Nibbles};
  for (int i = 0; i < 4; ++i)
    large.push_back(WriteFile(root + "/large", "data/pack_" + std::to_string(i) + ".pak", 512ull << 20, kinds[i],
                              content));
  Case("b, 4 files of 512 MiB", "4 x 512 MiB", root + "/large", large, reps);
  RemoveAll(root);
  return 0;
}
