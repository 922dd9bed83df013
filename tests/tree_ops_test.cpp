#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/test_files.h"
#include "ui/texts.h"
#include "update/patcher.h"
#include "update/tree_ops.h"

using testfiles::TempDir;

namespace {

struct TreeOps : ::testing::Test {
  TempDir dir;
  Patcher patcher;
  std::wstring logPath;
  void SetUp() override {
    logPath = dir / L"log.txt";
    patcher.logger.open(WideToAnsi(logPath));
  }
  std::vector<std::string> logged() {
    auto lines = testfiles::LogLines(logPath);
    return std::vector<std::string>(lines.begin() + 1, lines.end());
  }
  void makeTree(const std::wstring& root) {
    testfiles::WriteFile(root + L"\\a.bin", std::string(100, 'a'));
    testfiles::WriteFile(root + L"\\sub\\b.bin", std::string(250, 'b'));
    testfiles::WriteFile(root + L"\\sub\\deeper\\c.bin", std::string(50, 'c'));
    testfiles::WriteFile(root + L"\\.hidden\\skipped.bin", std::string(1000, 'h'));
    testfiles::WriteFile(root + L"\\.dotfile", "dot");
  }
};

}  // namespace

TEST_F(TreeOps, DirectorySizeSkipsDotDirectories) {
  makeTree(dir / L"t");
  EXPECT_EQ(DirectorySize(dir / L"t"), 100u + 250u + 50u + 3u);
  EXPECT_EQ(DirectorySize(dir / L"t\\"), 403u);
  EXPECT_EQ(DirectorySize(dir / L"missing"), 0u);
}

TEST_F(TreeOps, CopyTreeOverwritesAndSkipsDotEntries) {
  makeTree(dir / L"src");
  testfiles::WriteFile(dir / L"dst\\a.bin", "old");
  testfiles::WriteFile(dir / L"dst\\only-here.txt", "stays");
  ASSERT_TRUE(CopyTree(dir / L"src", dir / L"dst"));
  EXPECT_EQ(testfiles::ReadFile(dir / L"dst\\a.bin"), std::string(100, 'a'));
  EXPECT_EQ(testfiles::ReadFile(dir / L"dst\\sub\\deeper\\c.bin"), std::string(50, 'c'));
  EXPECT_EQ(testfiles::ReadFile(dir / L"dst\\only-here.txt"), "stays");
  EXPECT_FALSE(testfiles::Exists(dir / L"dst\\.hidden"));
  EXPECT_FALSE(testfiles::Exists(dir / L"dst\\.dotfile"));
  // A source that cannot be listed copies nothing and is no failure.
  EXPECT_TRUE(CopyTree(dir / L"missing", dir / L"dst2"));
  // A destination that does not exist yet is created whole.
  ASSERT_TRUE(CopyTree(dir / L"src", dir / L"new\\deep"));
  EXPECT_EQ(testfiles::ReadFile(dir / L"new\\deep\\sub\\b.bin"), std::string(250, 'b'));
}

TEST_F(TreeOps, CopyTreeStopsAtTheFirstFileThatCannotBeCopied) {
  makeTree(dir / L"src");
  InjectFault(FaultCall::CopyFile, 5, L"b.bin");
  EXPECT_FALSE(CopyTree(dir / L"src", dir / L"dst"));
  ClearFaults();
  EXPECT_EQ(LastErrorCode(), 5u);
}

TEST_F(TreeOps, DeleteTreeOfAMissingPathIsQuietSuccess) {
  EXPECT_TRUE(DeleteTree(patcher, dir / L"missing"));
  EXPECT_TRUE(logged().empty());
}

TEST_F(TreeOps, DotDirectorySurvivesAndItsParentStays) {
  makeTree(dir / L"t");
  EXPECT_FALSE(DeleteTree(patcher, dir / L"t"));
  EXPECT_TRUE(testfiles::Exists(dir / L"t\\.hidden\\skipped.bin"));
  EXPECT_FALSE(testfiles::Exists(dir / L"t\\.dotfile"));  // dot files are deleted, dot folders are not
  EXPECT_FALSE(testfiles::Exists(dir / L"t\\sub"));
  auto lines = logged();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[ERROR] Delete directory failed! error = ", 0), 0u);
  EXPECT_NE(lines[0].find("  Directory = " + WideToAnsi(dir / L"t")), std::string::npos);
}

TEST_F(TreeOps, EachItemThatStaysIsLoggedOnce) {
  makeTree(dir / L"t");
  RemoveFile(dir / L"t\\.hidden\\skipped.bin");
  RemoveEmptyDirectory(dir / L"t\\.hidden");
  InjectFault(FaultCall::DeleteFile, 5, L"b.bin");
  EXPECT_FALSE(DeleteTree(patcher, dir / L"t"));
  ClearFaults();
  auto lines = logged();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[ERROR] Delete file failed! error = 5  FileName = " + WideToAnsi(dir / L"t\\sub\\b.bin"));
  EXPECT_EQ(lines[1].rfind("[ERROR] Delete directory failed! error = ", 0), 0u);
  EXPECT_NE(lines[1].find(WideToAnsi(dir / L"t\\sub")), std::string::npos);
  EXPECT_NE(lines[2].find("  Directory = " + WideToAnsi(dir / L"t")), std::string::npos);
  EXPECT_TRUE(testfiles::Exists(dir / L"t\\sub\\b.bin"));
  EXPECT_FALSE(testfiles::Exists(dir / L"t\\a.bin"));
}

#ifdef _WIN32
TEST_F(TreeOps, ReadOnlyFileFailsWithAccessDeniedAndFolderNotEmpty) {
  testfiles::WriteFile(dir / L"t\\locked.txt", "x");
  testfiles::WriteFile(dir / L"t\\free.txt", "y");
  testfiles::SetReadOnly(dir / L"t\\locked.txt", true);
  EXPECT_FALSE(DeleteTree(patcher, dir / L"t"));
  auto lines = logged();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[ERROR] Delete file failed! error = 5  FileName = " + WideToAnsi(dir / L"t\\locked.txt"));
  EXPECT_EQ(lines[1], "[ERROR] Delete directory failed! error = 145  Directory = " + WideToAnsi(dir / L"t"));
  testfiles::SetReadOnly(dir / L"t\\locked.txt", false);
}
#endif

TEST_F(TreeOps, DeleteWithProgressShowsThePercentage) {
  testfiles::WriteFile(dir / L"t\\first.bin", std::string(499, 'x'));
  int64_t deleted = 1, total = 1000;
  ASSERT_TRUE(DeleteTreeWithProgress(patcher, dir / L"t", texts::Arranging, &deleted, &total));
  EXPECT_EQ(deleted, 500);
  EXPECT_EQ(patcher.statusText.get(), texts::Arranging + L" ( 50% )");
  EXPECT_FALSE(testfiles::Exists(dir / L"t"));

  // A total of 0 leaves the status alone instead of dividing by it.
  testfiles::WriteFile(dir / L"u\\empty.bin", "");
  patcher.statusText = L"before";
  deleted = 1;
  total = 0;
  ASSERT_TRUE(DeleteTreeWithProgress(patcher, dir / L"u", texts::Arranging, &deleted, &total));
  EXPECT_EQ(patcher.statusText.get(), L"before");
}

TEST_F(TreeOps, DeleteWithProgressSkipsFilesItCannotMeasure) {
  testfiles::WriteFile(dir / L"t\\held.bin", "x");
  InjectFault(FaultCall::FileSize, 32, L"held.bin");
  int64_t deleted = 1, total = 10;
  EXPECT_FALSE(DeleteTreeWithProgress(patcher, dir / L"t", texts::Arranging, &deleted, &total));
  ClearFaults();
  EXPECT_TRUE(testfiles::Exists(dir / L"t\\held.bin"));
  auto lines = logged();
  ASSERT_EQ(lines.size(), 1u);  // only the folder: the skipped file is not logged
  EXPECT_EQ(lines[0].rfind("[ERROR] Delete directory failed! error = ", 0), 0u);
}

TEST_F(TreeOps, DiskSpaceMustExceedTheRequirement) {
  OverrideFreeDiskSpaceForTesting(5000);
  EXPECT_FALSE(HasEnoughDiskSpace(patcher, dir.path(), 5000));  // exactly enough is not enough
  EXPECT_TRUE(HasEnoughDiskSpace(patcher, dir.path(), 4999));
  OverrideFreeDiskSpaceForTesting(-1);
  InjectFault(FaultCall::DiskFree, 21, L"");
  EXPECT_FALSE(HasEnoughDiskSpace(patcher, dir / L"anything", 1));
  ClearFaults();
  EXPECT_EQ(logged(), (std::vector<std::string>{
                          "[INFO] Avaliable space : 5000 Required space : 5000",
                          "[INFO] Avaliable space : 5000 Required space : 4999",
                          "[ERROR] Disk not readable! " + WideToAnsi(dir / L"anything"),
                      }));
  uint64_t real = 0;
  EXPECT_TRUE(FreeDiskSpace(dir.path(), real));
  EXPECT_GT(real, 0u);
}
