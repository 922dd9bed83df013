#include <gtest/gtest.h>

#include <set>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/test_files.h"

using testfiles::TempDir;

TEST(Platform, CreateDirectoriesTreatsTheLastComponentAsAFile) {
  TempDir dir;
  // The path given and the deepest folder it makes; a trailing separator makes them all. The
  // last case runs over existing folders with mixed separators.
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"a\\b\\file.txt", L"a\\b"}, {L"c\\d\\", L"c\\d"}, {L"e\\f", L"e"}, {L"a/b\\c/x.bin", L"a\\b\\c"}};
  for (const auto& [path, made] : cases) {
    EXPECT_TRUE(CreateDirectories(dir / path)) << path;
    EXPECT_TRUE(DirectoryExists(dir / made)) << path;
  }
  EXPECT_FALSE(testfiles::Exists(dir / L"a\\b\\file.txt") || testfiles::Exists(dir / L"e\\f"));
  // A file in the way fails, and so does an injected fault, whose code is kept.
  testfiles::WriteFile(dir / L"blocker", "x");
  EXPECT_FALSE(CreateDirectories(dir / L"blocker\\sub\\file"));
  InjectFault(FaultCall::CreateDirectory, 1234, L"denied");
  EXPECT_FALSE(CreateDirectories(dir / L"denied\\file"));
  EXPECT_EQ(LastErrorCode(), 1234u);
  ClearFaults();
}

TEST(Platform, NamesAndListings) {
  TempDir dir;
  testfiles::WriteFile(dir / L"file", "x");
  testfiles::WriteFile(dir / L"sub\\inner", "x");
  // Letters the Vietnamese ANSI code page (1258) holds as single characters on Windows.
  const std::wstring name = L"\u0110\u00F4 h\u01B0\u01A1ng.dat";
  EXPECT_EQ(AnsiToWide(WideToAnsi(name)), name);
  FILE* file = OpenFile(dir / name, L"wb");
  ASSERT_NE(file, nullptr);
  fclose(file);
  EXPECT_EQ(testfiles::ListNames(dir.path()), (std::vector<std::wstring>{L"file", L"sub", name}));
  DirectoryListing listing;
  ASSERT_TRUE(listing.open(ListingPattern(dir.path())));
  std::set<std::wstring> files, dirs;
  for (DirectoryEntry entry; listing.next(entry);) (entry.isDirectory ? dirs : files).insert(entry.name);
  EXPECT_EQ(files, (std::set<std::wstring>{L"file", name}));
  EXPECT_EQ(dirs, (std::set<std::wstring>{L".", L"..", L"sub"}));
  EXPECT_FALSE(listing.open(ListingPattern(dir / L"missing")));
  EXPECT_EQ(ListingPattern(L"C:\\x\\"), L"C:\\x\\*.*");
  // Files and directories are told apart.
  EXPECT_TRUE(FileExists(dir / L"file") && !DirectoryExists(dir / L"file"));
  EXPECT_TRUE(DirectoryExists(dir / L"sub") && !FileExists(dir / L"sub"));
  EXPECT_FALSE(FileExists(dir / L"missing") || DirectoryExists(dir / L"missing"));
}

TEST(Platform, RenameNeverReplacesADirectoryCopyReplacesAFileAndNothingToEndIsNoFailure) {
  TempDir dir;
  testfiles::WriteFile(dir / L"Package\\vorel_win\\a", "new");
  testfiles::WriteFile(dir / L"Game\\vorel_win\\a", "old");
  EXPECT_NE(RenamePath(dir / L"Package", dir / L"Game"), 0);
  EXPECT_EQ(testfiles::ReadFile(dir / L"Game\\vorel_win\\a"), "old");
  EXPECT_EQ(RenamePath(dir / L"Package", dir / L"Other"), 0);
  EXPECT_EQ(testfiles::ReadFile(dir / L"Other\\vorel_win\\a"), "new");

  std::string big = testfiles::RandomBytes(3 << 20, 7);
  testfiles::WriteFile(dir / L"src", big);
  testfiles::WriteFile(dir / L"dst", "previous content that is longer than nothing");
  EXPECT_TRUE(CopyFileOver(dir / L"src", dir / L"dst"));
  EXPECT_EQ(testfiles::ReadFile(dir / L"dst"), big);
  EXPECT_FALSE(CopyFileOver(dir / L"missing", dir / L"dst2"));
  EXPECT_FALSE(KillProcessesByName(L""));
  EXPECT_TRUE(KillProcessesByName(L"no-such-program-here.exe"));  // nothing to end is no failure
}
