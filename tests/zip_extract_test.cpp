#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/text.h"
#include "support/test_files.h"
#include "ui/texts.h"
#include "update/patcher.h"
#include "update/zip_extract.h"

using testfiles::TempDir;

namespace {

std::wstring Archive(const std::string& name) { return testfiles::HostPath(std::string(VOREL_ZIP_ARCHIVES) + "/" + name); }

}  // namespace

TEST(ZipExtract, FilesInSubfoldersWithoutDirectoryEntries) {
  for (const char* name : {"subfolders.zip", "with_dirs.zip"}) {
    TempDir out;
    std::atomic<int64_t> bytes{0};
    ASSERT_TRUE(ExtractZip(Archive(name), out.path(), &bytes)) << name;
    std::string deep;
    for (int i = 0; i < 100; ++i) deep += "deep file\n";
    EXPECT_EQ(testfiles::ReadFile(out / L"a\\b\\deep.txt"), deep);
    EXPECT_EQ(testfiles::ReadFile(out / L"a\\top.bin").size(), 256u * 64u);
    EXPECT_EQ(testfiles::ReadFile(out / L"root.txt"), "root");
    EXPECT_TRUE(testfiles::Exists(out / L"empty.dat"));
    EXPECT_EQ(testfiles::ReadFile(out / L"empty.dat"), "");
    EXPECT_EQ(bytes, 1000 + 256 * 64 + 4);  // uncompressed sizes of the file entries
  }
}

TEST(ZipExtract, ExistingFilesAreOverwrittenOthersStay) {
  TempDir out;
  testfiles::WriteFile(out / L"root.txt", "old content, longer than the new one");
  testfiles::WriteFile(out / L"mine.txt", "mine");
  ASSERT_TRUE(ExtractZip(Archive("subfolders.zip"), out.path()));
  EXPECT_EQ(testfiles::ReadFile(out / L"root.txt"), "root");
  EXPECT_EQ(testfiles::ReadFile(out / L"mine.txt"), "mine");
}

TEST(ZipExtract, DirectoryEntryByAttributeOnlyCreatesItsParent) {
  TempDir out;
  ASSERT_TRUE(ExtractZip(Archive("dir_attr16.zip"), out.path()));
  // "folder/sub" is a directory entry without "/": its last component counts as a file name.
  EXPECT_TRUE(DirectoryExists(out / L"folder"));
  EXPECT_FALSE(testfiles::Exists(out / L"folder\\sub"));
  EXPECT_EQ(testfiles::ReadFile(out / L"other\\file.txt"), "x");
}

TEST(ZipExtract, VietnameseNamesInTheNarrowEncoding) {
  TempDir out;
#ifdef _WIN32
  const char* archive = "vietnamese_cp1258.zip";  // names in the ANSI code page 1258
  const std::string content = "chao";
#else
  const char* archive = "vietnamese_utf8.zip";  // UTF-8 is the narrow encoding here
  const std::string content = "xin ch\xC3\xA0o";
#endif
  ASSERT_TRUE(ExtractZip(Archive(archive), out.path()));
  EXPECT_EQ(testfiles::ReadFile(out / L"\u0110\u00F4 h\u01B0\u01A1ng\\t\u00EAn.txt"), content);
}

TEST(ZipExtract, Zip64Records) {
  TempDir out;
  std::atomic<int64_t> bytes{0};
  ASSERT_TRUE(ExtractZip(Archive("zip64.zip"), out.path(), &bytes));
  EXPECT_EQ(testfiles::ReadFile(out / L"big\\one.bin"), std::string(100000, 'z'));
  EXPECT_EQ(testfiles::ReadFile(out / L"two.txt"), "two");
  EXPECT_EQ(bytes, 100003);
}

TEST(ZipExtract, DamagedArchivesFail) {
  for (const char* name : {"bad_crc.zip", "bad_data.zip", "not_a_zip.zip", "missing.zip"}) {
    TempDir out;
    EXPECT_FALSE(ExtractZip(Archive(name), out.path())) << name;
  }
}

TEST(ZipExtract, NamesLeavingTheDestinationAreRefusedBeforeAnythingIsWritten) {
  for (const char* name : {"slip_dotdot.zip", "slip_nested_dotdot.zip", "slip_absolute.zip", "slip_drive.zip",
                           "slip_backslash.zip"}) {
    TempDir parent;
    std::wstring out = parent / L"dest";
    EXPECT_FALSE(ExtractZip(Archive(name), out)) << name;
    // Nothing at all: neither the harmless first entry nor the escaped one.
    EXPECT_TRUE(testfiles::ListNames(parent.path()).empty()) << name;
    EXPECT_FALSE(testfiles::Exists(L"/escaped.txt"));
  }
  EXPECT_TRUE(IsSafeEntryName("a/b/"));
  EXPECT_TRUE(IsSafeEntryName("a..b/c"));
  EXPECT_FALSE(IsSafeEntryName(".."));
  EXPECT_FALSE(IsSafeEntryName("\\\\server\\share\\x"));
}

TEST(ZipExtract, LongNamesAreNeverTruncated) {
  TempDir out;
  std::string name = testfiles::ReadFile(testfiles::HostPath(std::string(VOREL_ZIP_ARCHIVES) + "/long_name.txt"));
  ASSERT_GT(name.size(), 600u);
  bool ok = ExtractZip(Archive("long_name.zip"), out.path());
  std::wstring full = out.path() + L"\\" + AnsiToWide(name);
#ifdef _WIN32
  // Windows may refuse the long path; then extraction fails, but a shortened name never appears.
  if (!ok) {
    EXPECT_FALSE(testfiles::Exists(full));
    return;
  }
#endif
  ASSERT_TRUE(ok);
  EXPECT_EQ(testfiles::ReadFile(full), "long");
}

TEST(ZipExtract, UnzipPackageEmptiesPackageAndCountsBytes) {
  TempDir install;
  // Packages as the download leaves them, under their list path.
  testfiles::WriteFile(install / L"Temp\\ZipUpdate\\p1.zip", testfiles::ReadFile(Archive("subfolders.zip")));
  testfiles::WriteFile(install / L"Temp\\ZipUpdate\\p2.zip", testfiles::ReadFile(Archive("zip64.zip")));
  testfiles::WriteFile(install / L"Package\\stale.txt", "from an earlier run");
  Patcher patcher;
  std::vector<ZipListEntry> entries(2);
  entries[0].name = entries[0].path = "p1.zip";
  entries[1].name = entries[1].path = "p2.zip";
  ASSERT_TRUE(UnzipPackage(patcher, install.path(), entries, 5000));
  EXPECT_EQ(patcher.stage, Unpacking);
  EXPECT_EQ(patcher.bytesTotal, 5000);
  EXPECT_EQ(patcher.bytesDone, 1000 + 256 * 64 + 4 + 100003);
  EXPECT_FALSE(testfiles::Exists(install / L"Package\\stale.txt"));
  EXPECT_EQ(testfiles::ReadFile(install / L"Package\\two.txt"), "two");
}

TEST(ZipExtract, UnzipPackageFailureSetsStageStatusAndLog) {
  TempDir install;
  testfiles::WriteFile(install / L"Temp\\ZipUpdate\\good.zip", testfiles::ReadFile(Archive("subfolders.zip")));
  testfiles::WriteFile(install / L"Temp\\ZipUpdate\\bad.zip", testfiles::ReadFile(Archive("bad_data.zip")));
  Patcher patcher;
  patcher.logger.open(WideToAnsi(install / L"log.txt"));
  std::vector<ZipListEntry> entries(3);
  entries[0].path = "good.zip";
  entries[1].path = "bad.zip";
  entries[2].path = "good.zip";
  EXPECT_FALSE(UnzipPackage(patcher, install.path(), entries, 1));
  EXPECT_EQ(patcher.stage, Failed);
  std::wstring status = patcher.statusText;
  EXPECT_EQ(status.rfind(texts::UnzipFailed + L" LastError(", 0), 0u) << WideToUtf8(status);
  auto lines = testfiles::LogLines(install / L"log.txt");
  ASSERT_EQ(lines.size(), 2u);
  std::string zipPath = WideToAnsi(install / L"Temp\\ZipUpdate\\bad.zip");
  std::string unzipPath = WideToAnsi(install / L"Package");
  EXPECT_EQ(lines[1].rfind("[ERROR] Unzip failed! Zip path : " + zipPath + " Unzip path : " + unzipPath + " LastError = ", 0),
            0u)
      << lines[1];
  // The first package was extracted; the one after the failure was not tried.
  EXPECT_TRUE(testfiles::Exists(install / L"Package\\root.txt"));
}
