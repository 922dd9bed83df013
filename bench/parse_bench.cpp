// parse: ParseFileList on a 100,000-line file list and ParseZipList on a 1,000-line zip list,
// both made in memory in the form the release builder writes.
#include <cstdio>

#include "common.h"
#include "update/file_list.h"
#include "update/patcher.h"

using namespace bench;

int main() {
  const int reps = Reps(5);
  Content content(4);
  std::string fileList, zipList;
  for (int i = 0; i < 100000; ++i) {
    char line[160];
    uint64_t r = content.next();
    snprintf(line, sizeof line, "data/%s/g%03d/asset_%06d.%s=data/%s/g%03d/asset_%06d.%s$%u$%08X\n",
             i % 3 ? "textures" : "sound", i / 1000, i, i % 3 ? "dds" : "ogg", i % 3 ? "textures" : "sound",
             i / 1000, i, i % 3 ? "dds" : "ogg", static_cast<unsigned>(r % 5000000), static_cast<unsigned>(r >> 32));
    fileList += line;
  }
  for (int i = 0; i < 1000; ++i) {
    char line[160];
    uint64_t r = content.next();
    snprintf(line, sizeof line, "vorel_win_%04d.zip=vorel_win_%04d.zip$%llu$%llu$%08X\n", i + 1, i + 1,
             static_cast<unsigned long long>(200000000 + r % 60000000),
             static_cast<unsigned long long>(100000000 + r % 50000000), static_cast<unsigned>(r >> 32));
    zipList += line;
  }

  Samples files, zips;
  auto ms = [](const Samples& s) {
    std::string text;
    for (double v : s.values) text += (text.empty() ? "" : " ") + Fixed(v * 1e3, 2);
    return text;
  };
  for (int i = 0; i < reps; ++i) {
    Patcher patcher;
    double start = Now();
    std::vector<FileListEntry> entries = ParseFileList(fileList, patcher);
    files.add(Now() - start);
    int64_t unpacked = 0;
    start = Now();
    std::vector<ZipListEntry> packages = ParseZipList(zipList, patcher, unpacked);
    zips.add(Now() - start);
    size_t failed = 0;
    for (const auto& e : entries) failed += e.failed;
    for (const auto& e : packages) failed += e.failed;
    if (entries.size() != 100000 || packages.size() != 1000 || failed != 0) Fail("the lists did not parse");
  }
  printf("parse: %d runs each (median; all in ms in brackets); load %s\n", reps, LoadAverage().c_str());
  printf("  ParseFileList, 100,000 lines (%.1f MB): %.1f ms  (%.0f lines/s)  [%s]\n", fileList.size() / 1e6,
         files.median() * 1e3, 100000 / files.median(), ms(files).c_str());
  printf("  ParseZipList, 1,000 lines: %.2f ms  [%s]\n", zips.median() * 1e3, ms(zips).c_str());
  printf("  share of the one-second budget: file list %.3f, zip list %.4f\n", files.median(), zips.median());
  Summary("parse", "ParseFileList, 100,000 lines (ms)", Fixed(files.median() * 1e3, 1), "1000 (budget)",
          Fixed(files.median(), 3), "< 1 s", files.median() < 1.0);
  Summary("parse", "ParseZipList, 1,000 lines (ms)", Fixed(zips.median() * 1e3, 2), "1000 (budget)",
          Fixed(zips.median(), 4), "< 1 s", zips.median() < 1.0);
  return 0;
}
