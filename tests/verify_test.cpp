#include <gtest/gtest.h>

#include <cstdio>

#include "platform/error.h"
#include "platform/files.h"
#include "support/test_files.h"
#include "ui/texts.h"
#include "update/patcher.h"
#include "update/verify.h"

using testfiles::TempDir;

namespace {

FileListEntry Entry(const std::string& path, const std::string& data) {
  FileListEntry e;
  e.name = "n:" + path;
  e.path = path;
  e.size = static_cast<uint32_t>(data.size());
  e.crc = testfiles::CrcText(data);
  return e;
}

}  // namespace

TEST(FileCrc, StandardChecksumOverBlocks) {
  TempDir dir;
  testfiles::WriteFile(dir / L"check", "123456789");
  uint64_t size = 0;
  EXPECT_EQ(FileCrc(dir / L"check", &size), "CBF43926");
  EXPECT_EQ(size, 9u);
  testfiles::WriteFile(dir / L"empty", "");
  EXPECT_EQ(FileCrc(dir / L"empty"), "00000000");
  // Over several 64 KiB blocks, with a short last one.
  std::string big = testfiles::RandomBytes(65536 * 3 + 17, 11);
  testfiles::WriteFile(dir / L"big", big);
  EXPECT_EQ(FileCrc(dir / L"big", &size), testfiles::CrcText(big));
  EXPECT_EQ(size, big.size());
  size = 77;
  EXPECT_EQ(FileCrc(dir / L"missing", &size), "");
  EXPECT_EQ(size, 77u);
}

TEST(FileCrc, SizesBeyond4GiBAreKept) {
  TempDir dir;
  std::wstring path = dir / L"sparse.bin";
  FILE* file = OpenFile(path, L"wb");
  ASSERT_NE(file, nullptr);
  const int64_t size = (int64_t(1) << 32) + 5;
  ASSERT_TRUE(SeekFile(file, size - 1, SEEK_SET));
  fputc('x', file);
  fclose(file);
  // Size check only: reading 4 GiB of holes is the benchmark's job, not a unit test's.
  FileListEntry entry;
  entry.path = "sparse.bin";
  entry.size = 5;  // the low 32 bits of the real size: must not pass for it
  entry.crc = "00000000";
  std::vector<FileListEntry> entries{entry};
  Patcher patcher;
  CheckResults r = CheckLocalFiles(patcher, dir.path(), entries);
  EXPECT_TRUE(entries[0].needsDownload);
  EXPECT_EQ(r.filesToDownload, 1);

  ZipListEntry zip;
  zip.path = "sparse.bin";
  zip.size = size - 1;  // off by one: deleted as damaged without being read
  std::vector<ZipListEntry> zips{zip};
  testfiles::WriteFile(dir / L"Temp\\ZipUpdate\\placeholder", "");
  RenamePath(path, dir / L"Temp\\ZipUpdate\\sparse.bin");
  r = CheckZipFiles(patcher, dir.path(), zips);
  EXPECT_EQ(r.bytesToDownload, static_cast<uint64_t>(size - 1));
  EXPECT_FALSE(testfiles::Exists(dir / L"Temp\\ZipUpdate\\sparse.bin"));
}

TEST(CheckLocalFiles, MarksWhatMustBeDownloaded) {
  TempDir game;
  std::vector<FileListEntry> entries;
  entries.push_back(Entry("ok.bin", "intact content"));
  entries.push_back(Entry("missing.bin", "never written"));
  entries.push_back(Entry("sub\\changed.bin", "0123456789"));
  entries.push_back(Entry("short.bin", "full length content"));
  entries.push_back(Entry("dir", "a directory stands here"));
  entries.push_back(Entry("empty.bin", ""));
  entries.push_back(Entry("zeros.bin", "abc"));
  entries.back().crc = entries.back().crc.substr(1);  // leading zero left out: never matches
  FileListEntry parseFailed;
  parseFailed.name = "broken";
  parseFailed.failed = true;
  parseFailed.message = L"Parse Failed";
  entries.push_back(parseFailed);
  testfiles::WriteFile(game / L"ok.bin", "intact content");
  testfiles::WriteFile(game / L"sub\\changed.bin", "0123456780");  // one byte differs
  testfiles::WriteFile(game / L"short.bin", "full");
  testfiles::WriteFile(game / L"dir\\inside", "x");
  testfiles::WriteFile(game / L"empty.bin", "");
  testfiles::WriteFile(game / L"zeros.bin", "abc");

  Patcher patcher;
  CheckResults r = CheckLocalFiles(patcher, game.path() + L"\\", entries);
  std::vector<bool> needs;
  for (auto& e : entries) needs.push_back(e.needsDownload);
  EXPECT_EQ(needs, (std::vector<bool>{false, true, true, true, true, false, true, true}));
  EXPECT_EQ(r.filesToDownload, 6);
  EXPECT_EQ(r.bytesToDownload, 13u + 10u + 19u + 23u + 3u + 0u);
  EXPECT_EQ(r.faults, 0);
  EXPECT_EQ(patcher.filesDone + r.filesToDownload, patcher.filesTotal);
  EXPECT_EQ(patcher.stage, Verifying);
  EXPECT_EQ(patcher.statusText.get(), texts::VerifyingGame);
  EXPECT_EQ(patcher.currentFileName.get(), L"broken");
  EXPECT_EQ(entries[7].message, L"Parse Failed");  // kept
  EXPECT_TRUE(testfiles::Exists(game / L"sub\\changed.bin"));  // game files are never deleted here
}

TEST(CheckLocalFiles, FileThatCannotBeOpenedIsAFault) {
  TempDir game;
  testfiles::WriteFile(game / L"locked.bin", "data");
  std::vector<FileListEntry> entries{Entry("locked.bin", "data")};
  InjectFault(FaultCall::OpenFile, 32, L"locked.bin");
  Patcher patcher;
  CheckResults r = CheckLocalFiles(patcher, game.path(), entries);
  ClearFaults();
  EXPECT_EQ(r.faults, 1);
  EXPECT_EQ(r.filesToDownload, 1);
  EXPECT_TRUE(entries[0].failed);
  EXPECT_EQ(entries[0].message, L"failed to open for checking");
}

TEST(CheckZipFiles, DamagedPackagesAreDeletedMissingOnesAreNot) {
  TempDir install;
  std::wstring zipDir = install / L"Temp\\ZipUpdate";
  auto zipEntry = [](const std::string& path, const std::string& data) {
    ZipListEntry e;
    e.name = e.path = path;
    e.size = static_cast<int64_t>(data.size());
    e.crc = testfiles::CrcText(data);
    return e;
  };
  std::vector<ZipListEntry> entries{zipEntry("good.zip", "good package"), zipEntry("bad.zip", "bad package!"),
                                    zipEntry("short.zip", "short package"), zipEntry("absent.zip", "absent")};
  testfiles::WriteFile(zipDir + L"\\good.zip", "good package");
  testfiles::WriteFile(zipDir + L"\\bad.zip", "bad package?");
  testfiles::WriteFile(zipDir + L"\\short.zip", "short");
  Patcher patcher;
  CheckResults r = CheckZipFiles(patcher, install.path(), entries);
  EXPECT_EQ(r.filesToDownload, 3);
  EXPECT_EQ(r.bytesToDownload, 12u + 13u + 6u);
  EXPECT_FALSE(entries[0].needsDownload);
  EXPECT_TRUE(testfiles::Exists(zipDir + L"\\good.zip"));
  EXPECT_FALSE(testfiles::Exists(zipDir + L"\\bad.zip"));
  EXPECT_FALSE(testfiles::Exists(zipDir + L"\\short.zip"));
  EXPECT_EQ(patcher.statusText.get(), texts::FindingPackages);
  EXPECT_EQ(patcher.filesDone, 1);
}
