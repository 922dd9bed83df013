#include "engine_fixture.h"
#include "platform/files.h"
#include "support/texts.h"
#include "update/zip_extract.h"

using testfiles::Exists;
using testfiles::ReadFile;
using testfiles::TempDir;

namespace {

// The archives and files tests/zip/make_archives.py made for this run.
std::wstring Made(const std::string& name) { return testfiles::HostPath(std::string(VOREL_ZIP_ARCHIVES) + "/" + name); }

// The bytes counted while extracting an archive made for this run; -1 when extraction fails.
int64_t Extract(const std::string& name, const std::wstring& destination) {
  std::atomic<int64_t> bytes{0};
  return ExtractZip(Made(name), destination, &bytes) ? bytes.load() : -1;
}

}  // namespace

TEST(ZipExtract, FilesInSubfoldersWithAndWithoutDirectoryEntries) {
  std::string deep;
  for (int i = 0; i < 100; ++i) deep += "deep file\n";
  for (const char* name : {"subfolders.zip", "with_dirs.zip"}) {
    TempDir out;
    testfiles::WriteFile(out / L"root.txt", "old content, longer than the new one");
    testfiles::WriteFile(out / L"mine.txt", "mine");
    EXPECT_EQ(Extract(name, out.path()), 1000 + 256 * 64 + 4) << name;  // the uncompressed sizes
    EXPECT_EQ(ReadFile(out / L"a\\b\\deep.txt"), deep);
    EXPECT_EQ(ReadFile(out / L"a\\top.bin").size(), 256u * 64u);
    EXPECT_EQ(ReadFile(out / L"root.txt"), "root");  // overwritten
    EXPECT_EQ(ReadFile(out / L"mine.txt"), "mine");  // not in the archive: stays
    EXPECT_TRUE(Exists(out / L"empty.dat"));
  }
}

TEST(ZipExtract, UnusualEntries) {
  TempDir out;
  // "folder/sub", a directory by its attribute 16 alone, has no "/": only its parent is made.
  EXPECT_EQ(Extract("dir_attr16.zip", out / L"attr"), 1);
  EXPECT_TRUE(DirectoryExists(out / L"attr\\folder"));
  EXPECT_FALSE(Exists(out / L"attr\\folder\\sub"));
  for (const char* name : {"empty.zip", "empty_comment.zip"}) EXPECT_EQ(Extract(name, out / L"none"), 0) << name;
  EXPECT_FALSE(Exists(out / L"none"));
  EXPECT_EQ(Extract("zip64.zip", out / L"zip64"), 100003);
  EXPECT_EQ(ReadFile(out / L"zip64\\big\\one.bin"), std::string(100000, 'z'));
#ifdef _WIN32
  EXPECT_EQ(Extract("vietnamese_cp1258.zip", out / L"vi"), 4);  // names in the ANSI code page 1258
#else
  EXPECT_EQ(Extract("vietnamese_utf8.zip", out / L"vi"), 9);  // UTF-8 is the narrow encoding here
#endif
  EXPECT_TRUE(FileExists(out / L"vi\\\u0110\u00F4 h\u01B0\u01A1ng\\t\u00EAn.txt"));
  // An archive and a destination in a folder whose name the ANSI code page cannot hold (cp1258
  // has no precomposed "\u1EC7").
  const std::wstring vietnamese = out / L"Tr\u00F2 ch\u01A1i Vi\u1EC7t";
  testfiles::WriteFile(vietnamese + L"\\p.zip", ReadFile(Made("subfolders.zip")));
  EXPECT_EQ(ExtractZip(vietnamese + L"\\p.zip", vietnamese + L"\\game"), true);
  EXPECT_EQ(ReadFile(vietnamese + L"\\game\\a\\b\\deep.txt").size(), 1000u);
  // A name far longer than 512 bytes is never truncated.
  std::string name = ReadFile(Made("long_name.txt"));
  ASSERT_GT(name.size(), 600u);
  int64_t bytes = Extract("long_name.zip", out / L"long");
#ifndef _WIN32
  EXPECT_EQ(bytes, 4);  // Windows may refuse the long path and fail, but never write a shorter name
#endif
  EXPECT_EQ(ReadFile(out / (L"long\\" + AnsiToWide(name))), bytes == -1 ? "" : "long");
}

TEST(ZipExtract, DamagedAndEscapingArchivesFail) {
  TempDir out;
  for (const char* name : {"bad_crc.zip", "bad_data.zip", "not_a_zip.zip", "missing.zip"})
    EXPECT_EQ(Extract(name, out / AnsiToWide(name)), -1) << name;
  // Names leaving the destination or naming a device are refused before anything is written,
  // even the harmless first entry.
  TempDir parent;
  for (const char* name : {"slip_dotdot.zip", "slip_nested_dotdot.zip", "slip_drive.zip", "slip_backslash.zip",
                           "slip_device.zip", "slip_trailing_blank.zip"})
    EXPECT_EQ(Extract(name, parent / AnsiToWide(name)), -1) << name;
  EXPECT_EQ(testfiles::ListNames(parent.path()), std::vector<std::wstring>{});
  EXPECT_EQ(Extract("slip_absolute.zip", out / L"abs"), 12);  // "/escaped.txt" is joined below the destination
  EXPECT_EQ(ReadFile(out / L"abs\\escaped.txt"), "evil");
  EXPECT_FALSE(Exists(L"/escaped.txt"));
}

using UnzipPackages = EngineTest;

// Packages are unpacked two at a time, yet the run ends as one in list order would: the first
// damaged package in the list is the one reported, whichever thread found its damage first.
TEST_F(UnzipPackages, ReplacesThePackageFolderAndReportsTheFirstDamagedPackageInListOrder) {
  // Packages as the download leaves them, under their list path.
  for (const char* name : {"subfolders.zip", "zip64.zip", "bad_data.zip", "bad_crc.zip", "not_a_zip.zip"})
    testfiles::WriteFile(dir / (L"Temp\\ZipUpdate\\" + AnsiToWide(name)), ReadFile(Made(name)));
  testfiles::WriteFile(dir / L"Package\\stale.txt", "from an earlier run");
  auto list = [](std::initializer_list<const char*> paths) {
    std::vector<ZipListEntry> entries;
    for (const char* path : paths) entries.emplace_back().path = path;
    return entries;
  };
  ASSERT_TRUE(UnzipPackage(patcher, dir.path(), list({"subfolders.zip", "zip64.zip"}), 5000));
  EXPECT_EQ(patcher.stage, Unpacking);
  EXPECT_EQ(patcher.bytesDone, 1000 + 256 * 64 + 4 + 100003);
  EXPECT_FALSE(Exists(dir / L"Package\\stale.txt"));
  EXPECT_EQ(ReadFile(dir / L"Package\\two.txt"), "two");

  auto failsAt = [&](std::initializer_list<const char*> paths, const char* reported) {
    SCOPED_TRACE(reported);
    const size_t before = logged().size();
    EXPECT_FALSE(UnzipPackage(patcher, dir.path(), list(paths), 1));
    EXPECT_EQ(patcher.stage, Failed);
    EXPECT_EQ(patcher.statusText.get().rfind(texts::UnzipFailed + L" LastError(", 0), 0u);
    auto lines = logged();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back().rfind("[ERROR] Unzip failed! Zip path : " + WideToAnsi(dir / (L"Temp\\ZipUpdate\\" + AnsiToWide(reported))) +
                                 " Unzip path : " + WideToAnsi(dir / L"Package") + " LastError = ", 0), 0u)
        << lines.back();
  };
  failsAt({"subfolders.zip", "bad_data.zip", "zip64.zip"}, "bad_data.zip");
  // The package before the failure was extracted; the one after it was not started, or was
  // finished whole when it had started before the failure was found.
  EXPECT_TRUE(Exists(dir / L"Package\\root.txt"));
  if (Exists(dir / L"Package\\two.txt")) {
    EXPECT_EQ(ReadFile(dir / L"Package\\big\\one.bin").size(), 100000u);
  }
  // The second package's damage shows at once, the first one's only inside the archive.
  for (int round = 0; round < 5; ++round) failsAt({"bad_crc.zip", "not_a_zip.zip", "subfolders.zip"}, "bad_crc.zip");
}
