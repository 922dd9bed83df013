#include <gtest/gtest.h>

#include "net/http_transfer.h"
#include "net/thread_pool.h"
#include "platform/error.h"
#include "platform/text.h"
#include "support/test_files.h"
#include "support/test_server.h"
#include "ui/texts.h"
#include "update/download_passes.h"
#include "update/patcher.h"

using testfiles::TempDir;
using testserver::Area;

namespace {

ZipListEntry Package(const std::string& name, const std::string& data) {
  ZipListEntry e;
  e.name = e.path = name;
  e.size = static_cast<int64_t>(data.size());
  e.crc = testfiles::CrcText(data);
  e.needsDownload = true;
  return e;
}

FileListEntry GameFile(const std::string& path, const std::string& data) {
  FileListEntry e;
  e.name = e.path = path;
  e.size = static_cast<uint32_t>(data.size());
  e.crc = testfiles::CrcText(data);
  e.needsDownload = true;
  return e;
}

struct Passes : ::testing::Test {
  TempDir install;
  Patcher patcher;
  std::wstring logPath;
  void SetUp() override {
    logPath = install / L"log.txt";
    patcher.logger.open(WideToAnsi(logPath));
  }
  void TearDown() override { ClearFaults(); }
  std::vector<std::string> logged() {
    auto lines = testfiles::LogLines(logPath);
    return std::vector<std::string>(lines.begin() + 1, lines.end());
  }
  std::wstring zip(const std::string& name) { return install / (L"Temp\\ZipUpdate\\" + AnsiToWide(name)); }
};

const std::string kP1 = testfiles::RandomBytes(300000, 1);
const std::string kP2 = testfiles::RandomBytes(120000, 2);
const std::string kP3 = "small package";

}  // namespace

TEST_F(Passes, ZipPassFetchesEverythingWithTwoWorkers) {
  Area mirror;
  mirror.put("p1.zip", kP1);
  mirror.put("sub/p2.zip", kP2);
  mirror.put("p3.zip", kP3);
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1), Package("sub\\p2.zip", kP2), Package("p3.zip", kP3)};
  entries[1].path = "p2-local.zip";  // written under its path; the name only forms the address
  DownloadCounters c = DownloadZipFiles(patcher, install.path(), {mirror.base()}, entries, 3,
                                        kP1.size() + kP2.size() + kP3.size());
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_EQ(c.localFaults, 0);
  EXPECT_EQ(patcher.filesDone, 3);
  EXPECT_EQ(patcher.stage, TransferDone);
  EXPECT_EQ(patcher.statusText.get(), texts::FindingPackages);
  EXPECT_EQ(patcher.bytesDone, static_cast<int64_t>(kP1.size() + kP2.size() + kP3.size()));
  EXPECT_EQ(patcher.threadPool.load(), nullptr);
  EXPECT_EQ(testfiles::ReadFile(zip("p2-local.zip")), kP2);
  EXPECT_EQ(testfiles::ReadFile(zip("p1.zip")), kP1);
  for (auto& e : entries) EXPECT_FALSE(e.needsDownload) << e.name;
  EXPECT_EQ(mirror.requests("sub/p2.zip"), 1);
}

TEST_F(Passes, DamagedPackageIsDeletedAndFetchedFromTheNextMirror) {
  Area first, second;
  first.put("p1.zip", kP1);
  first.put("p2.zip", std::string(kP2.size(), 'X'));  // right size, wrong content
  second.put("p1.zip", kP1);
  second.put("p2.zip", kP2);
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1), Package("p2.zip", kP2)};
  DownloadCounters c =
      DownloadZipFiles(patcher, install.path(), {first.base(), second.base()}, entries, 2, kP1.size() + kP2.size());
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_EQ(patcher.filesDone, 2);
  EXPECT_EQ(testfiles::ReadFile(zip("p2.zip")), kP2);
  // p1 was verified in the first pass and takes no part in the second.
  EXPECT_EQ(second.requests("p1.zip"), 0);
  EXPECT_EQ(second.requests("p2.zip"), 1);
  bool crcLine = false;
  for (auto& line : logged())
    crcLine |= line == "[ERROR] Zip File CRC Check Error! FileName = p2.zip CRC = " + testfiles::CrcText(std::string(kP2.size(), 'X'));
  EXPECT_TRUE(crcLine);
}

TEST_F(Passes, WithOneMirrorADamagedPackageIsOneFailedFile) {
  Area mirror;
  mirror.put("p1.zip", kP1);
  mirror.put("p2.zip", "not the package");
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1), Package("p2.zip", kP2)};
  DownloadCounters c = DownloadZipFiles(patcher, install.path(), {mirror.base()}, entries, 2, kP1.size() + kP2.size());
  EXPECT_EQ(c.failedFiles, 1);
  EXPECT_EQ(c.localFaults, 0);
  EXPECT_TRUE(entries[1].failed);
  EXPECT_EQ(entries[1].message, L"downloading unsuccessful");
  EXPECT_FALSE(testfiles::Exists(zip("p2.zip")));
  // The damaged file's bytes are taken back out of the progress.
  EXPECT_EQ(patcher.bytesDone, static_cast<int64_t>(kP1.size()));
}

TEST_F(Passes, MissingPackageFailsThenComesFromTheNextMirror) {
  Area first, second;
  first.put("p1.zip", kP1);
  second.put("p2.zip", kP2);
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1), Package("p2.zip", kP2)};
  DownloadCounters c =
      DownloadZipFiles(patcher, install.path(), {first.base(), second.base()}, entries, 2, kP1.size() + kP2.size());
  EXPECT_EQ(c.failedFiles, 0);  // the first pass's failure is taken back when the entry is tried again
  EXPECT_EQ(patcher.filesDone, 2);
  EXPECT_FALSE(entries[1].failed);
}

TEST_F(Passes, UncreatablePackageCountsAsLocalFaultInEveryPass) {
  Area first, second;
  first.put("p1.zip", kP1);
  second.put("p1.zip", kP1);
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1)};
  InjectFault(FaultCall::OpenFile, 5, L"p1.zip");
  DownloadCounters c = DownloadZipFiles(patcher, install.path(), {first.base(), second.base()}, entries, 1, kP1.size());
  EXPECT_EQ(c.localFaults, 2);
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_TRUE(entries[0].needsDownload);
  EXPECT_EQ(first.requests("p1.zip"), 0);
}

TEST_F(Passes, NothingToDoReturnsAtOnce) {
  Area mirror;
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1)};
  DownloadCounters c = DownloadZipFiles(patcher, install.path(), {}, entries, 1, kP1.size());
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_EQ(c.localFaults, 0);
  c = DownloadZipFiles(patcher, install.path(), {mirror.base()}, entries, 0, 0);
  EXPECT_EQ(mirror.requests("p1.zip"), 0);
  std::vector<FileListEntry> files{GameFile("a.bin", "a")};
  c = DownloadIncrementFiles(patcher, install / L"inc", {}, files, 1, 1);
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_FALSE(testfiles::Exists(install / L"inc"));
}

TEST_F(Passes, WorkersThatCannotStartLeaveTheJobsToTheUpdateThread) {
  Area mirror;
  mirror.put("p1.zip", kP1);
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1)};
  ThreadPool::failThreadStartsForTesting = true;
  DownloadCounters c = DownloadZipFiles(patcher, install.path(), {mirror.base()}, entries, 1, kP1.size());
  ThreadPool::failThreadStartsForTesting = false;
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_EQ(patcher.filesDone, 1);
  EXPECT_EQ(logged().front(), "[ERROR] Download threads could not be started, downloading on the update thread");
}

TEST_F(Passes, IncrementFilesAreFetchedAndReChecked) {
  Area first, second;
  const std::string a = testfiles::RandomBytes(50000, 3), b = "file b content", spaced = "spaced";
  first.put("a.bin", a);
  first.put("dir/b.bin", "file b c0ntent");  // damaged on the first mirror
  first.put("dir/my file.txt", spaced);
  second.put("a.bin", a);
  second.put("dir/b.bin", b);
  std::vector<FileListEntry> entries{GameFile("a.bin", a), GameFile("dir\\b.bin", b), GameFile("dir/my file.txt", spaced),
                                     GameFile("present.bin", "already here")};
  std::wstring target = install / L"Temp\\Incrementupdate\\vorel_win";
  testfiles::WriteFile(target + L"\\present.bin", "already here");
  DownloadCounters c = DownloadIncrementFiles(patcher, target, {first.base(), second.base()}, entries, 4, 0);
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_EQ(c.localFaults, 0);
  EXPECT_EQ(patcher.filesDone, 4);
  EXPECT_EQ(patcher.stage, DownloadingFiles);
  EXPECT_EQ(testfiles::ReadFile(target + L"\\dir\\b.bin"), b);
  EXPECT_EQ(testfiles::ReadFile(target + L"\\dir\\my file.txt"), spaced);
  // Fetched once each: the second pass checks what the first one got instead of fetching it again.
  EXPECT_EQ(first.requests("a.bin"), 1);
  EXPECT_EQ(second.requests("a.bin"), 0);
  EXPECT_EQ(second.requests("dir/b.bin"), 1);
  EXPECT_EQ(first.requests("dir/my file.txt"), 1);  // fetched as "my%20file.txt"
  EXPECT_EQ(first.requests("present.bin"), 0);
  // The second pass counted the verified files and their bytes afresh.
  EXPECT_EQ(patcher.bytesDone, static_cast<int64_t>(a.size() + b.size() + spaced.size() + 12));
}

TEST_F(Passes, IncrementSpacesInTheBaseAddressAreEncodedToo) {
  Area mirror;
  mirror.put("with space/f.txt", "f");
  std::vector<FileListEntry> entries{GameFile("f.txt", "f")};
  DownloadCounters c =
      DownloadIncrementFiles(patcher, install / L"inc", {mirror.base() + "with space/"}, entries, 1, 1);
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_EQ(mirror.requests("with space/f.txt"), 1);
}

TEST_F(Passes, IncrementFailuresAndLocalFaults) {
  Area mirror;
  mirror.put("ok.bin", "ok");
  mirror.put("bad.bin", "wrong");
  std::vector<FileListEntry> entries{GameFile("ok.bin", "ok"), GameFile("bad.bin", "right"),
                                     GameFile("gone.bin", "gone"), GameFile("locked.bin", "locked")};
  InjectFault(FaultCall::OpenFile, 5, L"locked.bin");
  std::wstring target = install / L"inc";
  DownloadCounters c = DownloadIncrementFiles(patcher, target, {mirror.base()}, entries, 4, 0);
  EXPECT_EQ(c.failedFiles, 3);
  EXPECT_EQ(c.localFaults, 1);
  EXPECT_EQ(entries[1].message, L"downloading unsuccessful");
  EXPECT_EQ(entries[2].message, L"downloading unsuccessful");
  EXPECT_EQ(entries[3].message, L"Local Fault");
  EXPECT_FALSE(testfiles::Exists(target + L"\\bad.bin"));  // a wrong checksum is deleted
  EXPECT_EQ(patcher.filesDone, 1);
}
