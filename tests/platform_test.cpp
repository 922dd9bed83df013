#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/test_files.h"

using testfiles::TempDir;

TEST(Platform, CreateDirectoriesTreatsTheLastComponentAsAFile) {
  TempDir dir;
  EXPECT_TRUE(CreateDirectories(dir / L"a\\b\\file.txt"));
  EXPECT_TRUE(DirectoryExists(dir / L"a\\b"));
  EXPECT_FALSE(testfiles::Exists(dir / L"a\\b\\file.txt"));
  EXPECT_TRUE(CreateDirectories(dir / L"c\\d\\"));
  EXPECT_TRUE(DirectoryExists(dir / L"c\\d"));
  EXPECT_TRUE(CreateDirectories(dir / L"e\\f"));
  EXPECT_TRUE(DirectoryExists(dir / L"e"));
  EXPECT_FALSE(testfiles::Exists(dir / L"e\\f"));
  // Existing directories on the way are no failure; mixed separators are fine.
  EXPECT_TRUE(CreateDirectories(dir / L"a/b\\c/x.bin"));
  EXPECT_TRUE(DirectoryExists(dir / L"a\\b\\c"));
}

TEST(Platform, CreateDirectoriesFailsWhereAFileIsInTheWay) {
  TempDir dir;
  testfiles::WriteFile(dir / L"blocker", "x");
  EXPECT_FALSE(CreateDirectories(dir / L"blocker\\sub\\file"));
  InjectFault(FaultCall::CreateDirectory, 1234, L"denied");
  EXPECT_FALSE(CreateDirectories(dir / L"denied\\file"));
  EXPECT_EQ(LastErrorCode(), 1234u);
  ClearFaults();
}

TEST(Platform, FileAndDirectoryTestsAreExclusive) {
  TempDir dir;
  testfiles::WriteFile(dir / L"f.txt", "x");
  EXPECT_TRUE(FileExists(dir / L"f.txt"));
  EXPECT_FALSE(DirectoryExists(dir / L"f.txt"));
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / L"missing"));
}

TEST(Platform, ModuleDirectoryIsTheExecutablesFolder) {
  std::wstring path = ModulePath();
  std::wstring dir = ModuleDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(path.substr(0, dir.size()), dir);
  EXPECT_TRUE(path[dir.size()] == L'\\' || path[dir.size()] == L'/');
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_TRUE(FileExists(path));
}

TEST(Platform, VietnameseNamesSurviveTheNarrowRoundTrip) {
  // "Đồ họa" - letters the Vietnamese ANSI code page holds as single characters on Windows.
  const std::wstring name = L"\u0110\u00F4 h\u01B0\u01A1ng.dat";
  std::string narrow = WideToAnsi(name);
  EXPECT_EQ(AnsiToWide(narrow), name);
  TempDir dir;
  std::wstring path = dir / name;
  FILE* file = OpenFile(path, L"wb");
  ASSERT_NE(file, nullptr);
  fputs("ok", file);
  fclose(file);
  EXPECT_EQ(testfiles::ListNames(dir.path()), std::vector<std::wstring>{name});
  // The narrow form opens the same file.
  EXPECT_TRUE(FileExists(AnsiToWide(WideToAnsi(path))));
}

TEST(Platform, ListingIncludesDotEntriesAndMarksDirectories) {
  TempDir dir;
  testfiles::WriteFile(dir / L"file", "x");
  testfiles::WriteFile(dir / L"sub\\inner", "x");
  DirectoryListing listing;
  ASSERT_TRUE(listing.open(ListingPattern(dir.path())));
  std::set<std::wstring> files, dirs;
  DirectoryEntry entry;
  while (listing.next(entry)) (entry.isDirectory ? dirs : files).insert(entry.name);
  EXPECT_EQ(files, std::set<std::wstring>{L"file"});
  EXPECT_EQ(dirs, (std::set<std::wstring>{L".", L"..", L"sub"}));
  EXPECT_FALSE(listing.open(ListingPattern(dir / L"missing")));
  EXPECT_EQ(ListingPattern(L"C:\\x\\"), L"C:\\x\\*.*");
  EXPECT_EQ(ListingPattern(L"C:\\x"), L"C:\\x\\*.*");
}

TEST(Platform, RenameNeverReplacesAnExistingDirectory) {
  TempDir dir;
  testfiles::WriteFile(dir / L"Package\\vorel_win\\a", "new");
  testfiles::WriteFile(dir / L"Game\\vorel_win\\a", "old");
  EXPECT_NE(RenamePath(dir / L"Package", dir / L"Game"), 0);
  EXPECT_EQ(testfiles::ReadFile(dir / L"Game\\vorel_win\\a"), "old");
  EXPECT_EQ(RenamePath(dir / L"Package", dir / L"Other"), 0);
  EXPECT_EQ(testfiles::ReadFile(dir / L"Other\\vorel_win\\a"), "new");
}

TEST(Platform, CopyFileOverReplacesContent) {
  TempDir dir;
  std::string big = testfiles::RandomBytes(3 << 20, 7);
  testfiles::WriteFile(dir / L"src", big);
  testfiles::WriteFile(dir / L"dst", "previous content that is longer than nothing");
  EXPECT_TRUE(CopyFileOver(dir / L"src", dir / L"dst"));
  EXPECT_EQ(testfiles::ReadFile(dir / L"dst"), big);
  EXPECT_FALSE(CopyFileOver(dir / L"missing", dir / L"dst2"));
  uint64_t size = 0;
  EXPECT_TRUE(OpenedFileSize(dir / L"dst", size));
  EXPECT_EQ(size, big.size());
  uint64_t space = 0;
  EXPECT_TRUE(FreeDiskSpace(dir.path(), space));
  EXPECT_GT(space, 0u);
}

TEST(Platform, TimeAndIdentityTexts) {
  EXPECT_TRUE(std::regex_match(TodayText(), std::regex(R"(\d{8})")));
  EXPECT_TRUE(std::regex_match(NowWithMilliseconds(), std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3})")));
  std::set<std::string> guids;
  for (int i = 0; i < 50; ++i) {
    std::string guid = NewGuidText();
    ASSERT_TRUE(std::regex_match(guid, std::regex(R"([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})")))
        << guid;
    guids.insert(guid);
  }
  EXPECT_EQ(guids.size(), 50u);
  std::string mac = GetMacAddress();
  if (!mac.empty()) {
    EXPECT_TRUE(std::regex_match(mac, std::regex(R"(([0-9a-f]{2}:)*[0-9a-f]{2})"))) << mac;
  }
  int64_t before = WallClockMs();
  EXPECT_GT(before, 1700000000000LL);
}

TEST(Platform, KillProcessesByNameMatchesWholeNamesOnly) {
  EXPECT_FALSE(KillProcessesByName(L""));
  EXPECT_TRUE(KillProcessesByName(L"no-such-program-here.exe"));
}
