#include <gtest/gtest.h>

#include "update/file_list.h"
#include "update/patcher.h"

TEST(FileList, ParsesLinesAndSkipsOtherShapes) {
  Patcher patcher;
  patcher.bytesTotal = 99;
  auto entries = ParseFileList(
      "vorel.exe=vorel.exe$1024$abcdef12\r\n"
      "readme\n"
      "\n"
      "a==b\n"  // splits as "a" and "b": one "$"-piece only
      "data\\x.pak=data\\x.pak$12abc$ 0000abcd \r\n"
      "bad=only$two\n"
      "gap=$5$ABCDEF12\n"  // an empty path drops one piece
      "dup=d.bin$4294967296$11111111\n"
      "dup=d.bin$1$11111111",
      patcher);
  EXPECT_EQ(patcher.bytesTotal, 0);
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[0].crc, "ABCDEF12");
  EXPECT_EQ(entries[2].size, 12u);
  EXPECT_EQ(entries[2].crc, "0000ABCD");
  for (size_t i = 0; i < entries.size(); ++i) {
    bool failed = i == 1 || i == 3 || i == 4;
    EXPECT_EQ(entries[i].failed, failed) << i;
    EXPECT_EQ(entries[i].message, failed ? L"Parse Failed" : L"") << i;
    EXPECT_EQ(entries[i].path.empty(), failed) << i;
  }
  // Duplicates stay; a size beyond 32 bits reads as 0.
  EXPECT_EQ(entries[5].size, 0u);
  EXPECT_EQ(entries[6].size, 1u);
}

TEST(FileList, PathsThatLeaveTheGameFolderAreRejected) {
  Patcher patcher;
  for (const char* path : {"../../evil.dll", "/../evil", "C:\\Windows\\evil.dll", "sub\\..\\..\\evil",
                           "\\\\?\\C:\\evil", "a.txt:stream", "..", "", "/",
                           // devices, in any folder, case and with any extension
                           "nul.txt", "data\\NUL", "aux.tar.gz", "Con", "con .txt", "x/PRN", "COM1.log", "lpt9",
                           "COM0", "Lpt\xB9.txt", "com\xC2\xB3",
                           // names Windows shortens: trailing dot or blank, "." itself
                           "a.pak.", "data \\x.txt", "data/x.txt ", "./a.pak"}) {
    EXPECT_FALSE(IsSafeRelativePath(path)) << path;
    auto entries = ParseFileList(std::string("x=") + path + "$1$00000000", patcher);
    ASSERT_EQ(entries.size(), 1u) << path;
    EXPECT_TRUE(entries[0].failed && entries[0].path.empty()) << path;
  }
  // "$" ends a list path, but archive entries may hold these.
  for (const char* path : {"CONIN$", "data/conout$.txt", "clock$"}) EXPECT_FALSE(IsSafeRelativePath(path)) << path;
  // Joined to the game folder, these stay inside it.
  for (const char* path : {"ok/..name/file..txt", "/data/a.pak", "\\\\server\\share", "console.txt", "COM10",
                           "nullable/auxiliary.dat", "data/com.txt", "a .pak", ".hidden"})
    EXPECT_FALSE(ParseFileList(std::string("f=") + path + "$1$00000000", patcher).at(0).failed) << path;
}

TEST(ZipList, CompleteEntriesAddToTheUnpackedTotalAndRepeatsAreDropped) {
  Patcher patcher;
  int64_t unpacked = 0;
  auto entries = ParseZipList(
      "p1.zip=p1.zip$5368709120$1000$aaaaaaaa\n"
      "p2.zip=p2.zip$300$200$BBBBBBBB\r\n"
      "bad=p3.zip$1$2\n"
      "escape=../p4.zip$7$7$CCCCCCCC\n"
      // A repeated name, and another name for the same file: two workers would write it at once.
      "p2.zip=p5.zip$1$1$DDDDDDDD\n"
      "other=/P1.ZIP$1$1$EEEEEEEE\n"
      // Sizes below zero or past 1 PiB would make the totals wrap.
      "neg=n.zip$-1$5$FFFFFFFF\n"
      "huge=h.zip$5$1125899906842625$FFFFFFFF\n",
      patcher, unpacked);
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_TRUE(entries[4].failed && entries[4].path.empty() && entries[4].unpackedSize == 0);
  EXPECT_TRUE(entries[5].failed && entries[5].size == 0);
  EXPECT_EQ(unpacked, 5368709120LL + 300);
  EXPECT_EQ(entries[0].unpackedSize, 5368709120LL);
  EXPECT_EQ(entries[0].size, 1000);
  EXPECT_EQ(entries[0].crc, "AAAAAAAA");
  EXPECT_FALSE(entries[1].failed);
  EXPECT_TRUE(entries[2].failed);
  EXPECT_EQ(entries[3].message, L"Parse Failed");
}

TEST(ZipList, TheUnpackedTotalStopsAtItsLargestValue) {
  Patcher patcher;
  std::string text;
  for (int i = 0; i < 9000; ++i) text += "p" + std::to_string(i) + "=p" + std::to_string(i) + "$1125899906842624$1$0\n";
  int64_t unpacked = 0;
  EXPECT_EQ(ParseZipList(text, patcher, unpacked).size(), 9000u);
  EXPECT_EQ(unpacked, INT64_MAX);
  EXPECT_EQ(SaturatingAdd(UINT64_MAX - 1, 2), UINT64_MAX);
}
