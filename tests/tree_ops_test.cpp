#include <cerrno>

#include "engine_fixture.h"
#include "support/texts.h"
#include "update/tree_ops.h"

using testfiles::ReadFile;
using testfiles::WriteFile;

namespace {

struct TreeOps : EngineTest {
  bool exists(const std::wstring& relative) { return testfiles::Exists(dir / relative); }
};

// The lines of an item that stays: a file denied (5), a folder not empty.
std::string FileFailed(const std::wstring& path) {
  return "[ERROR] Delete file failed! error = 5  FileName = " + WideToAnsi(path);
}
std::string DirectoryFailed(const std::wstring& dir) {
#ifdef _WIN32
  const int notEmpty = 145;
#else
  const int notEmpty = ENOTEMPTY;
#endif
  return "[ERROR] Delete directory failed! error = " + std::to_string(notEmpty) + "  Directory = " + WideToAnsi(dir);
}

}  // namespace

TEST_F(TreeOps, MeasureAndCopySkipDotEntries) {
  WriteFile(dir / L"src\\a.bin", std::string(100, 'a'));
  WriteFile(dir / L"src\\sub\\deeper\\c.bin", std::string(50, 'c'));
  WriteFile(dir / L"src\\.hidden\\skipped.bin", std::string(1000, 'h'));
  WriteFile(dir / L"src\\.dotfile", "dot");
  EXPECT_EQ(DirectorySize(dir / L"src"), 100u + 50u + 3u);  // dot files count, dot folders do not

  WriteFile(dir / L"dst\\a.bin", "old");
  WriteFile(dir / L"dst\\only-here.txt", "stays");
  ASSERT_TRUE(CopyTree(dir / L"src", dir / L"dst"));
  EXPECT_EQ(ReadFile(dir / L"dst\\a.bin"), std::string(100, 'a'));
  EXPECT_EQ(ReadFile(dir / L"dst\\only-here.txt"), "stays");
  EXPECT_FALSE(exists(L"dst\\.hidden") || exists(L"dst\\.dotfile"));
  // The first file that cannot be copied stops the copy, and its error stays the last one.
  InjectFault(FaultCall::CopyFile, 5, L"c.bin");
  EXPECT_FALSE(CopyTree(dir / L"src", dir / L"third"));
  ClearFaults();
  EXPECT_EQ(LastErrorCode(), 5u);
}

TEST_F(TreeOps, LinksAreNeitherCopiedNorFollowedWhenDeleting) {
  WriteFile(dir / L"outside\\keep.txt", "not ours");
  WriteFile(dir / L"src\\a.bin", "a");
  std::error_code error;
  std::filesystem::create_directory_symlink(testfiles::FsPath(dir / L"outside"), testfiles::FsPath(dir / L"src\\in"), error);
  if (error) GTEST_SKIP() << "no links here: " << error.message();
  std::filesystem::create_symlink(testfiles::FsPath(dir / L"outside\\keep.txt"), testfiles::FsPath(dir / L"src\\f.txt"));
  ASSERT_TRUE(CopyTree(dir / L"src", dir / L"dst"));
  EXPECT_EQ(testfiles::ListNames(dir / L"dst"), std::vector<std::wstring>{L"a.bin"});
  int64_t deleted = 0, total = 1;
  EXPECT_TRUE(DeleteTreeWithProgress(patcher, dir / L"src", texts::Arranging, &deleted, &total));
  EXPECT_FALSE(exists(L"src"));
  EXPECT_EQ(ReadFile(dir / L"outside\\keep.txt"), "not ours");
}

TEST_F(TreeOps, DeleteTreeLogsEachItemThatStaysOnce) {
  EXPECT_TRUE(DeleteTree(patcher, dir / L"missing"));
  EXPECT_TRUE(logged().empty());
  // Dot folders are never entered (so their parent stays); dot files are deleted.
  WriteFile(dir / L"d\\.hidden\\skipped.bin", "x");
  WriteFile(dir / L"d\\.dotfile", "x");
  EXPECT_FALSE(DeleteTree(patcher, dir / L"d"));
  EXPECT_TRUE(exists(L"d\\.hidden\\skipped.bin"));
  EXPECT_FALSE(exists(L"d\\.dotfile"));
  // A file that cannot be deleted keeps every folder above it.
  WriteFile(dir / L"t\\a.bin", "a");
  WriteFile(dir / L"t\\sub\\b.bin", "b");
  InjectFault(FaultCall::DeleteFile, 5, L"b.bin");
  EXPECT_FALSE(DeleteTree(patcher, dir / L"t"));
  ClearFaults();
  EXPECT_TRUE(exists(L"t\\sub\\b.bin"));
  EXPECT_FALSE(exists(L"t\\a.bin"));
  EXPECT_EQ(logged(), (std::vector<std::string>{DirectoryFailed(dir / L"d"), FileFailed(dir / L"t\\sub\\b.bin"),
                                                DirectoryFailed(dir / L"t\\sub"), DirectoryFailed(dir / L"t")}));
}

#ifdef _WIN32
TEST_F(TreeOps, ReadOnlyFileFailsWithAccessDeniedAndFolderNotEmpty) {
  WriteFile(dir / L"t\\locked.txt", "x");
  WriteFile(dir / L"t\\free.txt", "y");
  testfiles::SetReadOnly(dir / L"t\\locked.txt", true);
  EXPECT_FALSE(DeleteTree(patcher, dir / L"t"));
  EXPECT_EQ(logged(), (std::vector<std::string>{FileFailed(dir / L"t\\locked.txt"), DirectoryFailed(dir / L"t")}));
}
#endif

TEST_F(TreeOps, DeleteWithProgress) {
  WriteFile(dir / L"t\\first.bin", std::string(499, 'x'));
  int64_t deleted = 1, total = 1000;
  ASSERT_TRUE(DeleteTreeWithProgress(patcher, dir / L"t", texts::Arranging, &deleted, &total));
  EXPECT_EQ(deleted, 500);
  EXPECT_EQ(patcher.statusText.get(), texts::Arranging + L" ( 50% )");
  EXPECT_FALSE(exists(L"t"));
  // A total of 0 leaves the status alone instead of dividing by it.
  WriteFile(dir / L"u\\f.bin", "12345");
  patcher.statusText = L"before";
  total = 0;
  ASSERT_TRUE(DeleteTreeWithProgress(patcher, dir / L"u", texts::Arranging, &deleted, &total));
  EXPECT_EQ(patcher.statusText.get(), L"before");
  // A file it cannot measure is skipped without a line; only its folder is logged.
  WriteFile(dir / L"v\\held.bin", "x");
  InjectFault(FaultCall::FileSize, 32, L"held.bin");
  total = 10;
  EXPECT_FALSE(DeleteTreeWithProgress(patcher, dir / L"v", texts::Arranging, &deleted, &total));
  ClearFaults();
  EXPECT_TRUE(exists(L"v\\held.bin"));
  EXPECT_EQ(logged(), std::vector<std::string>{DirectoryFailed(dir / L"v")});
}

TEST_F(TreeOps, DiskSpaceMustExceedTheRequirement) {
  OverrideFreeDiskSpaceForTesting(5000);
  EXPECT_FALSE(HasEnoughDiskSpace(patcher, dir.path(), 5000));  // exactly enough is not enough
  EXPECT_TRUE(HasEnoughDiskSpace(patcher, dir.path(), 4999));
  OverrideFreeDiskSpaceForTesting(-1);
  InjectFault(FaultCall::DiskFree, 21, L"");
  EXPECT_FALSE(HasEnoughDiskSpace(patcher, dir / L"anything", 1));
  ClearFaults();
  EXPECT_EQ(logged(), (std::vector<std::string>{"[INFO] Avaliable space : 5000 Required space : 5000",
                                                "[INFO] Avaliable space : 5000 Required space : 4999",
                                                "[ERROR] Disk not readable! " + WideToAnsi(dir / L"anything")}));
}
