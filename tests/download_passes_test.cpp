#include <gmock/gmock.h>

#include "engine_fixture.h"
#include "net/http_transfer.h"
#include "net/thread_pool.h"
#include "support/test_server.h"
#include "update/download_passes.h"

using testserver::Area;
using ::testing::Contains;

namespace {

const auto Package = Listed<ZipListEntry>;
const auto GameFile = Listed<FileListEntry>;

struct Passes : EngineTest {
  std::wstring zip(const std::string& name) { return dir / (L"Temp\\ZipUpdate\\" + AnsiToWide(name)); }
};

const std::string kP1 = testfiles::RandomBytes(300000, 1);
const std::string kP2 = testfiles::RandomBytes(120000, 2);
const std::string kP3 = "small package";

}  // namespace

TEST_F(Passes, ZipPassesFetchWithTwoWorkersAndRetryOnTheNextMirror) {
  Area first, second;
  first.put("sub/p1.zip", kP1);
  first.put("p2.zip", std::string(kP2.size(), 'X'));  // right size, wrong content; p3 is missing
  second.put("p2.zip", kP2);
  second.put("p 3.zip", kP3);  // a blank in the name: fetched as "p%203.zip"
  std::vector<ZipListEntry> entries{Package("sub\\p1.zip", kP1), Package("p2.zip", kP2), Package("p 3.zip", kP3)};
  entries[0].path = "p1-local.zip";  // written under its path; the name ("\\" -> "/") forms the address
  const uint64_t total = kP1.size() + kP2.size() + kP3.size();
  DownloadCounters c = DownloadZipFiles(patcher, dir.path(), {first.base(), second.base()}, entries, 3, total);
  EXPECT_EQ(c.failedFiles + c.localFaults, 0);  // first-pass failures are taken back when tried again
  EXPECT_EQ(patcher.filesDone, 3);
  EXPECT_EQ(patcher.bytesDone, patcher.bytesTotal.load());  // the last pass's progress ends full
  EXPECT_EQ(patcher.stage, TransferDone);
  EXPECT_EQ(patcher.threadPool.load(), nullptr);
  EXPECT_EQ(patcher.codesSuffix(), L" CURLCODE(0) HTTP STATUES CODE(404)");  // p3's job in the first pass
  for (auto& e : entries) EXPECT_FALSE(e.needsDownload || e.failed) << e.name;
  EXPECT_EQ(testfiles::ReadFile(zip("p1-local.zip")), kP1);
  EXPECT_EQ(testfiles::ReadFile(zip("p2.zip")), kP2);
  EXPECT_EQ(testfiles::ReadFile(zip("p 3.zip")), kP3);
  // p1 was verified in the first pass and takes no part in the second.
  EXPECT_EQ(second.requests("sub/p1.zip"), 0);
  EXPECT_EQ(second.requests("p2.zip"), 1);
}

TEST_F(Passes, WithOneMirrorADamagedPackageIsOneFailedFile) {
  Area mirror;
  mirror.put("p1.zip", kP1);
  mirror.put("p2.zip", "not the package");
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1), Package("p2.zip", kP2)};
  DownloadCounters c = DownloadZipFiles(patcher, dir.path(), {mirror.base()}, entries, 2, kP1.size() + kP2.size());
  EXPECT_EQ(c.failedFiles, 1);
  EXPECT_EQ(c.localFaults, 0);
  EXPECT_EQ(entries[1].message, L"downloading unsuccessful");
  EXPECT_FALSE(testfiles::Exists(zip("p2.zip")));
  // The damaged file's bytes are taken back out of the progress.
  EXPECT_EQ(patcher.bytesDone, static_cast<int64_t>(kP1.size()));
  EXPECT_THAT(logged(), Contains("[ERROR] Zip File CRC Check Error! FileName = p2.zip CRC = " +
                                 testfiles::CrcText("not the package")));
}

// Without an address to fetch from, nothing arrives: every file is a failure, never a success.
TEST_F(Passes, EmptyBaseListFailsEveryFile) {
  std::vector<ZipListEntry> zips{Package("p1.zip", kP1), Package("p2.zip", kP2)};
  zips[1].needsDownload = false;  // already verified
  DownloadCounters c = DownloadZipFiles(patcher, dir.path(), {}, zips, 1, kP1.size());
  std::vector<FileListEntry> files{GameFile("a.bin", "a")};
  DownloadCounters d = DownloadIncrementFiles(patcher, dir / L"inc", {}, files, 1, 1);
  EXPECT_EQ(c.failedFiles, 1);
  EXPECT_EQ(d.failedFiles, 1);
  EXPECT_EQ(c.localFaults + d.localFaults, 0);
  EXPECT_EQ(zips[0].message, L"downloading unsuccessful");
  EXPECT_FALSE(zips[1].failed);
  EXPECT_EQ(files[0].message, L"downloading unsuccessful");
  EXPECT_FALSE(testfiles::Exists(dir / L"inc"));
}

// Worker threads that cannot start leave the jobs to the update thread. A package whose file
// cannot be created is a local fault, never a failed download, and counts only if it is still
// missing after the last pass.
TEST_F(Passes, LocalTroubleIsCountedAndWorkedAround) {
  Area first, second;
  first.put("p1.zip", kP1);
  second.put("p3.zip", kP3);
  std::vector<ZipListEntry> entries{Package("p1.zip", kP1), Package("p2.zip", kP2), Package("p3.zip", kP3)};
  InjectFault(FaultCall::OpenFile, 5, L"p2.zip");
  InjectFault(FaultCall::OpenFile, 5, L"p3.zip", 1);  // only in the first pass
  EngineOptions noWorkers;
  noWorkers.downloadWorkers = 0;
  Patcher& patcher = patcherWith(noWorkers);
  DownloadCounters c = DownloadZipFiles(patcher, dir.path(), {first.base(), second.base()}, entries, 3,
                                        kP1.size() + kP2.size() + kP3.size());
  EXPECT_EQ(c.localFaults, 1);
  EXPECT_EQ(c.failedFiles, 0);
  EXPECT_EQ(entries[1].message, L"Local Fault");
  EXPECT_FALSE(entries[2].needsDownload || entries[2].failed);
  EXPECT_EQ(patcher.filesDone, 2);
  EXPECT_EQ(testfiles::ReadFile(zip("p1.zip")), kP1);
  EXPECT_TRUE(entries[1].needsDownload);
  EXPECT_EQ(first.requests("p2.zip") + second.requests("p2.zip"), 0);
  EXPECT_THAT(logged(), Contains("[ERROR] Download threads could not be started, downloading on the update thread"));
}

TEST_F(Passes, IncrementFilesAreFetchedAndReChecked) {
  Area first, second;
  const std::string a = testfiles::RandomBytes(50000, 3), b = "file b content", spaced = "spaced";
  first.put("a.bin", a);
  first.put("dir/b.bin", "file b c0ntent");  // damaged on the first mirror
  first.put("dir/my file.txt", spaced);
  second.put("with space/dir/b.bin", b);  // a space in the base address is encoded too
  // Without end on the first mirror: cut at the listed size, and the next mirror has it.
  first.fault("endless.bin", R"({"mode": "endless", "limit": 1000000})");
  second.put("with space/endless.bin", spaced);
  std::vector<FileListEntry> entries{GameFile("a.bin", a), GameFile("dir\\b.bin", b), GameFile("dir/my file.txt", spaced),
                                     GameFile("present.bin", "already here"), GameFile("endless.bin", spaced)};
  std::wstring target = dir / L"Temp\\Incrementupdate\\vorel_win";
  testfiles::WriteFile(target + L"\\present.bin", "already here");
  DownloadCounters c =
      DownloadIncrementFiles(patcher, target, {first.base(), second.base() + "with space/"}, entries, 5, 0);
  EXPECT_EQ(c.failedFiles + c.localFaults, 0);
  EXPECT_EQ(patcher.filesDone, 5);
  EXPECT_THAT(logged(), Contains("[ERROR] Answer longer than allowed! url = " + first.url("endless.bin") + "    limit = 6 bytes"));
  EXPECT_EQ(testfiles::ReadFile(target + L"\\dir\\my file.txt"), spaced);
  // Fetched once each: the second pass checks what the first one got instead of fetching it again.
  EXPECT_EQ(first.requests("a.bin"), 1);
  EXPECT_EQ(second.requests("with space/a.bin"), 0);
  EXPECT_EQ(second.requests("with space/dir/b.bin"), 1);
  EXPECT_EQ(first.requests("dir/my file.txt"), 1);  // fetched as "my%20file.txt"
  EXPECT_EQ(first.requests("present.bin"), 0);
  // The second pass counted the verified files and their bytes afresh.
  EXPECT_EQ(patcher.bytesDone, static_cast<int64_t>(a.size() + b.size() + 2 * spaced.size() + 12));
}

TEST_F(Passes, IncrementFailuresAndLocalFaults) {
  Area mirror;
  mirror.put("ok.bin", "ok");
  mirror.put("bad.bin", "wrong");
  std::vector<FileListEntry> entries{GameFile("ok.bin", "ok"), GameFile("bad.bin", "right"),
                                     GameFile("gone.bin", "gone"), GameFile("locked.bin", "locked"),
                                     GameFile("", "")};
  // A list line that could not be read names no file: a failed download, not an unwritable folder.
  entries[4].failed = true;
  entries[4].message = L"Parse Failed";
  InjectFault(FaultCall::OpenFile, 5, L"locked.bin");
  std::wstring target = dir / L"inc";
  DownloadCounters c = DownloadIncrementFiles(patcher, target, {mirror.base()}, entries, 5, 0);
  EXPECT_EQ(c.failedFiles, 4);
  EXPECT_EQ(c.localFaults, 1);
  for (size_t i : {1, 2, 4}) EXPECT_EQ(entries[i].message, L"downloading unsuccessful") << i;
  EXPECT_EQ(entries[3].message, L"Local Fault");
  EXPECT_EQ(patcher.codesSuffix(), L" CURLCODE(0) HTTP STATUES CODE(404)");  // gone.bin's; a local fault has none
  EXPECT_FALSE(testfiles::Exists(target + L"\\bad.bin"));  // a wrong checksum is deleted
  EXPECT_EQ(patcher.filesDone, 1);
}

// With resuming on, packages and files continue the bytes on disk (a killed run's, or a cut's);
// one that then fails its check is fetched once more from zero, one that was not resumed is not.
TEST_F(Passes, ResumedDownloadsThatFailTheirCheckAreFetchedAgainFromZero) {
  EngineOptions resuming;
  resuming.resumeDownloads = true;
  Patcher& patcher = patcherWith(resuming);
  const std::string a = testfiles::RandomBytes(90000, 4), b = testfiles::RandomBytes(70000, 5);
  const std::string c = testfiles::RandomBytes(60000, 6), d = testfiles::RandomBytes(40000, 7);
  std::string wrongStart = b.substr(0, 30000);
  wrongStart[100] ^= 1;
  struct Row {
    const char* name;
    std::string data, onDisk, served, fault;
    int requests, ranged;
    long long sent;
    bool ok;
  };
  const Row rows[] = {{"continued.bin", a, a.substr(0, 50000), a, "", 1, 1, 40000, true},
                      {"wrong-start.bin", b, wrongStart, b, "", 2, 1, 40000 + 70000, true},
                      {"cut.bin", c, "", c, R"({"mode": "cut", "after": 25000})", 2, 1, 60000, true},
                      {"damaged.bin", d, "", std::string(d.size(), 'x'), "", 1, 0, 40000, false}};
  Area packages, files;
  std::vector<ZipListEntry> zips;
  std::vector<FileListEntry> singles;
  const std::wstring target = dir / L"inc";
  for (const Row& row : rows) {
    for (const Area* area : {&packages, &files}) {
      area->put(row.name, row.served);
      if (!row.fault.empty()) area->fault(row.name, row.fault);
    }
    zips.push_back(Package(row.name, row.data));
    singles.push_back(GameFile(row.name, row.data));
    if (!row.onDisk.empty()) {
      testfiles::WriteFile(zip(row.name), row.onDisk);
      testfiles::WriteFile(target + L"\\" + AnsiToWide(row.name), row.onDisk);
    }
  }
  const int64_t good = static_cast<int64_t>(a.size() + b.size() + c.size());
  DownloadCounters z = DownloadZipFiles(patcher, dir.path(), {packages.base()}, zips, 4, good + d.size());
  EXPECT_EQ(z.failedFiles, 1);
  EXPECT_EQ(patcher.filesDone, 3);
  EXPECT_EQ(patcher.bytesDone, good);  // the refetched package's first bytes are taken back
  DownloadCounters f = DownloadIncrementFiles(patcher, target, {files.base()}, singles, 4, good + d.size());
  EXPECT_EQ(f.failedFiles, 1);
  EXPECT_EQ(patcher.filesDone, 3);
  EXPECT_EQ(patcher.bytesDone, good);
  for (size_t i = 0; i < 4; ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    for (const Area* area : {&packages, &files}) {
      EXPECT_EQ(area->requests(row.name), row.requests);
      EXPECT_EQ(area->rangeRequests(row.name), row.ranged);
      EXPECT_EQ(area->bytesSent(row.name), row.sent);
    }
    EXPECT_EQ(zips[i].failed, !row.ok);
    EXPECT_EQ(singles[i].failed, !row.ok);
    if (row.ok) {
      EXPECT_TRUE(testfiles::ReadFile(zip(row.name)) == row.data);
      EXPECT_TRUE(testfiles::ReadFile(target + L"\\" + AnsiToWide(row.name)) == row.data);
    }
  }
  EXPECT_THAT(logged(), Contains("[ERROR] Zip File CRC Check Error! FileName = wrong-start.bin CRC = " +
                                 testfiles::CrcText(wrongStart + b.substr(30000))));
}
