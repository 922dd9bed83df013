// check: CheckLocalFiles over (a) 20,000 small files and (b) 4 files of 512 MiB, each with its
// matching file list, against `rhash --crc32 -r` (and a Python zlib.crc32 walk) over the same
// tree; page cache warm for all.
#include <cstdio>

#include "common.h"
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

void Case(const std::string& label, const std::string& measure, const std::string& dir,
          const std::vector<GeneratedFile>& files, int reps) {
  const std::string list = FileListText(files);
  const uint64_t bytes = TotalBytes(files);
  const std::wstring wideDir = AnsiToWide(dir);
  WarmRead(dir);
  Run({"rhash", "--crc32", "-r", dir});

  Samples engine, rhash, python;
  for (int i = 0; i < reps; ++i) {
    Patcher patcher;
    std::vector<FileListEntry> entries = ParseFileList(list, patcher);
    double start = Now();
    CheckResults results = CheckLocalFiles(patcher, wideDir, entries);
    engine.add(Now() - start);
    if (results.filesToDownload != 0 || results.faults != 0 || entries.size() != files.size())
      Fail("CheckLocalFiles found " + std::to_string(results.filesToDownload) + " files to download");
    rhash.add(Run({"rhash", "--crc32", "-r", dir}));
    python.add(Run({"python3", "-c", kPythonWalk, dir}));
  }
  const double n = static_cast<double>(files.size()), mb = bytes / 1e6;
  printf("check (%s): %zu files, %.0f MB, %d runs each (median)\n", label.c_str(), files.size(), mb, reps);
  printf("  %-34s %9.3f s  %9.0f files/s  %7.0f MB/s  [%s]\n", "CheckLocalFiles (engine)", engine.median(),
         n / engine.median(), mb / engine.median(), engine.list().c_str());
  printf("  %-34s %9.3f s  %9.0f files/s  %7.0f MB/s  [%s]\n", "rhash --crc32 -r (reference)", rhash.median(),
         n / rhash.median(), mb / rhash.median(), rhash.list().c_str());
  printf("  %-34s %9.3f s  %9.0f files/s  %7.0f MB/s  [%s]\n", "python zlib.crc32 walk", python.median(),
         n / python.median(), mb / python.median(), python.list().c_str());
  const double ratio = rhash.median() / engine.median();
  printf("  speed ratio engine / rhash: %.2f; engine / python walk: %.2f\n", ratio,
         python.median() / engine.median());
  InfoRow("check", measure + " vs rhash (MB/s)", Fixed(mb / engine.median(), 0), Fixed(mb / rhash.median(), 0),
       Fixed(ratio, 2));
  InfoRow("check", measure + " vs rhash (files/s)", Fixed(n / engine.median(), 0), Fixed(n / rhash.median(), 0),
       Fixed(ratio, 2));
  InfoRow("check", measure + " vs python zlib walk (MB/s)", Fixed(mb / engine.median(), 0),
       Fixed(mb / python.median(), 0), Fixed(python.median() / engine.median(), 2));
}

}  // namespace

int main() {
  const std::string root = DataRoot() + "/check";
  const int reps = Reps(3);
  RemoveAll(root);

  std::vector<GeneratedFile> small = WriteSmallTree(root + "/small", "", 20000, 1 << 10, 64 << 10, 2);
  Case("a, 20,000 files of 1-64 KiB", "20,000 small files", root + "/small", small, reps);
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
