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
      "dup=d.bin$abc$11111111\n"
      "dup=d.bin$1$11111111",
      patcher);
  EXPECT_EQ(patcher.bytesTotal, 0);
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[0].name, "vorel.exe");
  EXPECT_EQ(entries[0].size, 1024u);
  EXPECT_EQ(entries[0].crc, "ABCDEF12");
  EXPECT_FALSE(entries[0].failed);
  EXPECT_EQ(entries[1].name, "a");
  EXPECT_TRUE(entries[1].failed);
  EXPECT_EQ(entries[2].path, "data\\x.pak");
  EXPECT_EQ(entries[2].size, 12u);
  EXPECT_EQ(entries[2].crc, "0000ABCD");
  for (size_t i : {1u, 3u, 4u}) {
    EXPECT_TRUE(entries[i].failed) << i;
    EXPECT_EQ(entries[i].message, L"Parse Failed") << i;
    EXPECT_TRUE(entries[i].path.empty()) << i;
  }
  EXPECT_EQ(entries[3].name, "bad");
  EXPECT_EQ(entries[4].name, "gap");
  // Duplicates stay; "abc" reads as 0.
  EXPECT_EQ(entries[5].size, 0u);
  EXPECT_EQ(entries[6].size, 1u);
  EXPECT_EQ(entries[6].name, "dup");
  EXPECT_EQ(ParseFileList("", patcher).size(), 0u);
  EXPECT_EQ(ParseFileList("big=b$4294967296$00000000", patcher)[0].size, 0u);
}

TEST(FileList, PathsThatLeaveTheGameFolderAreRejected) {
  Patcher patcher;
  auto entries = ParseFileList(
      "a=../../evil.dll$1$00000000\n"
      "b=/etc/evil$1$00000000\n"
      "c=C:\\Windows\\evil.dll$1$00000000\n"
      "d=sub\\..\\..\\evil$1$00000000\n"
      "e=\\\\server\\share$1$00000000\n"
      "f=ok/..name/file..txt$1$00000000\n",
      patcher);
  ASSERT_EQ(entries.size(), 6u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(entries[i].failed) << entries[i].name;
    EXPECT_TRUE(entries[i].path.empty()) << entries[i].name;
  }
  EXPECT_FALSE(entries[5].failed);
  EXPECT_FALSE(IsSafeRelativePath(".."));
  EXPECT_FALSE(IsSafeRelativePath(""));
  EXPECT_TRUE(IsSafeRelativePath("a/b.c"));
}

TEST(ZipList, CompleteEntriesAddToTheUnpackedTotal) {
  Patcher patcher;
  int64_t unpacked = 0;
  auto entries = ParseZipList(
      "p1.zip=p1.zip$5368709120$1000$aaaaaaaa\n"
      "p2.zip=p2.zip$300$200$BBBBBBBB\r\n"
      "bad=p3.zip$1$2\n"
      "escape=../p4.zip$7$7$CCCCCCCC\n",
      patcher, unpacked);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(unpacked, 5368709120LL + 300);
  EXPECT_EQ(entries[0].unpackedSize, 5368709120LL);
  EXPECT_EQ(entries[0].size, 1000);
  EXPECT_EQ(entries[0].crc, "AAAAAAAA");
  EXPECT_EQ(entries[1].crc, "BBBBBBBB");
  EXPECT_TRUE(entries[2].failed);
  EXPECT_TRUE(entries[3].failed);
  EXPECT_EQ(entries[3].message, L"Parse Failed");
  EXPECT_EQ(entries[0].status, nullptr);
}
