// Text fetches, file downloads and pool jobs against the local HTTP and FTP servers, with the
// time windows shortened so that stalls end in about a second.
#include <curl/curl.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <share.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/http_transfer.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/text.h"
#include "support/logger.h"
#include "support/test_files.h"
#include "support/test_server.h"

using testfiles::TempDir;
using testserver::Area;

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string TextFailure(int code, int status) {
  return "[ERROR] Get Remote TextFile Failed! CURL CODE = " + std::to_string(code) +
         " HttpStatusCode = " + std::to_string(status);
}

std::string FileFailure(const std::string& url, int code, int status) {
  return "[ERROR] Download Binary file failed! url = " + url + "    CURL CODE = " + std::to_string(code) +
         " HttpStatusCode = " + std::to_string(status);
}

std::string JobFailure(const std::wstring& path, int code, int status) {
  return "[ERROR] Job " + WideToAnsi(path) + " download failed! ResultCode = " + std::to_string(code) +
         " HttpStatus = " + std::to_string(status);
}

std::string JobSuccess(const std::wstring& path, int retries) {
  return "[INFO] Job " + WideToAnsi(path) + " Download Success. RetryTime = " + std::to_string(retries);
}

using Lines = std::vector<std::string>;

struct JobOutcome {
  int32_t result = 0;
  int64_t received = -1;
};

struct HttpTransfer : ::testing::Test {
  TempDir dir;
  Area area;
  Logger logger;
  std::wstring logPath;
  size_t seenLines = 1;  // the "Start logging" line
  TransferTimings timings;

  void SetUp() override {
    logPath = dir / L"log.txt";
    logger.open(WideToAnsi(logPath));
    timings.stallMs = 1500;
    timings.textConnectSeconds = 5;
    timings.fileConnectSeconds = 5;
    timings.lowSpeedSeconds = 1;
    timings.retryLowSpeedSeconds = 3;
    timings.lowSpeedLimit = 10240;
    SetTransferTimingsForTesting(timings);
    localFaultFlag = false;
  }
  void TearDown() override {
    SetTransferTimingsForTesting(TransferTimings{});
    downloadResults.clear();
    localFaultFlag = false;
    ClearFaults();
  }
  void setStallMs(int64_t ms) {
    timings.stallMs = ms;
    SetTransferTimingsForTesting(timings);
  }
  // Log lines written since the previous call.
  Lines newLines() {
    Lines lines = testfiles::LogLines(logPath);
    Lines fresh(lines.begin() + static_cast<std::ptrdiff_t>(std::min(seenLines, lines.size())), lines.end());
    seenLines = lines.size();
    return fresh;
  }
  JobOutcome runJob(const std::string& url, const std::wstring& destination) {
    DownloadStatus status;
    downloadResults[url] = &status;
    DownloadJob job;
    job.destinationPath = destination;
    job.url = url;
    job.received = &status.received;
    job.log = &logger;
    RunDownloadJob(&job);
    downloadResults.erase(url);
    return JobOutcome{status.result.load(), status.received.load()};
  }
  void expectLastFailure(int code, int status) {
    EXPECT_EQ(logger.lastCurlCode(), code);
    EXPECT_EQ(logger.lastHttpStatus(), status);
  }
};

}  // namespace

TEST_F(HttpTransfer, WatchdogFollowsTheCountAndAbortsAfterSilence) {
  std::atomic<int64_t> received{0};
  std::atomic<int64_t> total{1000};
  TransferProgress progress;
  progress.received = &received;
  progress.runningTotal = &total;
  progress.lastChangeMs = WallClockMs();

  EXPECT_EQ(TransferWatchdog(&progress, 0, 0, 0, 0), 0);
  EXPECT_EQ(TransferWatchdog(&progress, 0, 52, 0, 0), 0);  // a redirect's page
  EXPECT_EQ(received.load(), 52);
  EXPECT_EQ(total.load(), 1052);
  EXPECT_EQ(TransferWatchdog(&progress, 0, 0, 0, 0), 0);  // the count restarts at the new location
  EXPECT_EQ(received.load(), 0);
  EXPECT_EQ(total.load(), 1000);
  EXPECT_EQ(TransferWatchdog(&progress, 5000, 3000, 0, 0), 0);
  EXPECT_EQ(TransferWatchdog(&progress, 5000, 5000, 0, 0), 0);
  EXPECT_EQ(received.load(), 5000);
  EXPECT_EQ(total.load(), 6000);

  // Quiet for less than the window: carry on.
  progress.lastChangeMs = WallClockMs() - 500;
  EXPECT_EQ(TransferWatchdog(&progress, 5000, 5000, 0, 0), 0);
  // Quiet for longer: abort, and a count that went down is no new byte.
  progress.lastChangeMs = WallClockMs() - 5000;
  EXPECT_NE(TransferWatchdog(&progress, 5000, 5000, 0, 0), 0);
  EXPECT_NE(TransferWatchdog(&progress, 5000, 10, 0, 0), 0);
  EXPECT_EQ(received.load(), 5000);
  EXPECT_EQ(total.load(), 6000);
  // One new byte after the silence counts as life.
  EXPECT_EQ(TransferWatchdog(&progress, 5001, 5001, 0, 0), 0);
  EXPECT_EQ(received.load(), 5001);
  EXPECT_EQ(total.load(), 6001);

  // Past 4 GiB the change is still the difference of the counts.
  progress.lastReceived = static_cast<uint32_t>(4294967000LL);
  EXPECT_EQ(TransferWatchdog(&progress, 0, 4294968000LL, 0, 0), 0);
  EXPECT_EQ(received.load(), 4294968000LL);
  EXPECT_EQ(total.load(), 7001);

  // A text fetch keeps no counters; only the silence matters.
  TransferProgress bare;
  bare.lastChangeMs = WallClockMs();
  EXPECT_EQ(TransferWatchdog(&bare, 0, 100, 0, 0), 0);
  bare.lastChangeMs = WallClockMs() - 5000;
  EXPECT_NE(TransferWatchdog(&bare, 0, 100, 0, 0), 0);
}

TEST_F(HttpTransfer, PlainTransfersDeliverTheBytesAndCountThem) {
  const std::string data = testfiles::RandomBytes(300000, 7);
  area.put("data.bin", data);
  area.put("note.txt", "hello launcher");
  logger.setLastFailure(5, 6);

  std::string text = "kept:";
  EXPECT_TRUE(GetRemoteTextFile(area.url("note.txt"), text, &logger));
  EXPECT_EQ(text, "kept:hello launcher");

  std::atomic<int64_t> received{0};
  std::atomic<int64_t> total{1234};
  localFaultFlag = true;
  ASSERT_TRUE(DownloadBinaryFile(area.url("data.bin"), dir / L"data.bin", &received, &total, &logger));
  EXPECT_TRUE(testfiles::ReadFile(dir / L"data.bin") == data);
  EXPECT_EQ(received.load(), 300000);
  EXPECT_EQ(total.load(), 1234 + 300000);
  EXPECT_TRUE(localFaultFlag);  // only failures touch it
  // Without counters the download works all the same.
  EXPECT_TRUE(DownloadBinaryFile(area.url("note.txt"), dir / L"note.txt", nullptr, nullptr, &logger));
  EXPECT_EQ(testfiles::ReadFile(dir / L"note.txt"), "hello launcher");

  // A job that succeeds at once: one attempt, no retry; it overwrites what was there.
  testfiles::WriteFile(dir / L"job.bin", std::string(500000, 'x'));
  JobOutcome job = runJob(area.url("data.bin"), dir / L"job.bin");
  EXPECT_EQ(job.result, 1);
  EXPECT_EQ(job.received, 300000);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"job.bin") == data);
  EXPECT_EQ(area.requests("data.bin"), 2);

  EXPECT_EQ(newLines(), Lines{JobSuccess(dir / L"job.bin", 0)});
  expectLastFailure(5, 6);  // successes leave the last failure alone
}

TEST_F(HttpTransfer, OnlyStatus200CountsAsSuccessAndErrorPagesAreKept) {
  area.fault("gone.bin", R"({"status": 404, "body": "no such file"})");
  const std::string url = area.url("gone.bin");

  std::string text = "before|";
  EXPECT_FALSE(GetRemoteTextFile(url, text, &logger));
  EXPECT_EQ(text, "before|no such file");
  expectLastFailure(0, 404);
  EXPECT_EQ(newLines(), Lines{TextFailure(0, 404)});

  logger.setLastFailure(-1, -1);
  localFaultFlag = true;
  EXPECT_FALSE(DownloadBinaryFile(url, dir / L"gone.bin", nullptr, nullptr, &logger));
  EXPECT_EQ(testfiles::ReadFile(dir / L"gone.bin"), "no such file");
  EXPECT_FALSE(localFaultFlag);
  expectLastFailure(0, 404);
  EXPECT_EQ(newLines(), Lines{FileFailure(url, 0, 404)});

  logger.setLastFailure(-1, -1);
  EXPECT_EQ(runJob(url, dir / L"job.bin").result, -1);
  EXPECT_EQ(testfiles::ReadFile(dir / L"job.bin"), "no such file");
  expectLastFailure(0, 404);
  EXPECT_EQ(newLines(), Lines{JobFailure(dir / L"job.bin", 0, 404)});
  EXPECT_EQ(area.requests("gone.bin"), 3);

  // A complete answer with another status is a failure too, and so is the server's own 404.
  area.fault("made.bin", R"({"status": 201, "body": "created"})");
  area.fault("busy.bin", R"({"status": 503, "body": "busy"})");
  text.clear();
  EXPECT_FALSE(GetRemoteTextFile(area.url("made.bin"), text, &logger));
  EXPECT_EQ(text, "created");
  EXPECT_FALSE(DownloadBinaryFile(area.url("busy.bin"), dir / L"busy.bin", nullptr, nullptr, &logger));
  EXPECT_EQ(testfiles::ReadFile(dir / L"busy.bin"), "busy");
  EXPECT_EQ(runJob(area.url("missing.bin"), dir / L"missing.bin").result, -1);
  EXPECT_EQ(testfiles::ReadFile(dir / L"missing.bin"), testserver::Fetch(area.url("missing.bin")).body);
  EXPECT_EQ(newLines(), (Lines{TextFailure(0, 201), FileFailure(area.url("busy.bin"), 0, 503),
                               JobFailure(dir / L"missing.bin", 0, 404)}));

  // Without a logger a failure is only the return value.
  EXPECT_FALSE(GetRemoteTextFile(url, text, nullptr));
  EXPECT_FALSE(DownloadBinaryFile(url, dir / L"quiet.bin", nullptr, nullptr, nullptr));
  EXPECT_TRUE(newLines().empty());
}

TEST_F(HttpTransfer, StalledTextFetchIsAbortedByTheWatchdog) {
  area.put("slow.txt", std::string(5000, 's'));
  area.fault("slow.txt", R"({"mode": "stall", "after": 100})");

  std::string text;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(GetRemoteTextFile(area.url("slow.txt"), text, &logger));
  double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 1.4);
  EXPECT_LT(seconds, 15.0);
  EXPECT_EQ(text, std::string(100, 's'));
  expectLastFailure(CURLE_ABORTED_BY_CALLBACK, 200);
  EXPECT_EQ(newLines(), Lines{TextFailure(42, 200)});
}

TEST_F(HttpTransfer, StalledDownloadEndsOnTheLowSpeedWindow) {
  setStallMs(10000);  // well past the low-speed window, so that only the window can end it
  const std::string data = testfiles::RandomBytes(50000, 3);
  area.put("slow.bin", data);
  area.fault("slow.bin", R"({"mode": "stall", "after": 1000})");
  const std::string url = area.url("slow.bin");

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DownloadBinaryFile(url, dir / L"slow.bin", nullptr, nullptr, &logger));
  double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 0.9);
  EXPECT_LT(seconds, 8.0);
  EXPECT_EQ(testfiles::ReadFile(dir / L"slow.bin"), data.substr(0, 1000));
  expectLastFailure(CURLE_OPERATION_TIMEDOUT, 200);
  EXPECT_EQ(newLines(), Lines{FileFailure(url, 28, 200)});
}

TEST_F(HttpTransfer, StalledJobStartsOverUntilTheServerDelivers) {
  timings.stallMs = 10000;
  timings.retryLowSpeedSeconds = 2;
  SetTransferTimingsForTesting(timings);
  const std::string data = testfiles::RandomBytes(200000, 5);
  area.put("once.bin", data);
  area.put("twice.bin", data);
  area.fault("once.bin", R"({"mode": "stall", "after": 7000, "times": 1})");
  area.fault("twice.bin", R"({"mode": "stall", "after": 3000, "times": 2})");
  logger.setLastFailure(5, 6);

  JobOutcome once = runJob(area.url("once.bin"), dir / L"once.bin");
  EXPECT_EQ(once.result, 2);
  EXPECT_EQ(once.received, 200000);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"once.bin") == data);
  EXPECT_EQ(area.requests("once.bin"), 2);
  EXPECT_EQ(newLines(), Lines{JobSuccess(dir / L"once.bin", 1)});

  JobOutcome twice = runJob(area.url("twice.bin"), dir / L"twice.bin");
  EXPECT_EQ(twice.result, 3);
  EXPECT_EQ(twice.received, 200000);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"twice.bin") == data);
  EXPECT_EQ(area.requests("twice.bin"), 3);
  EXPECT_EQ(newLines(), Lines{JobSuccess(dir / L"twice.bin", 2)});
  expectLastFailure(5, 6);  // the time-outs that were retried are no failures
}

TEST_F(HttpTransfer, RetriedJobGetsTheLongerLowSpeedWindow) {
  // About 2 s at this rate: too slow for the first 1 s window, done within the 3 s one. The
  // second slow answer is the last, so a retry that kept the short window would need three.
  const std::string data = testfiles::RandomBytes(8000, 9);
  area.put("drip.bin", data);
  area.fault("drip.bin", R"({"mode": "drip", "rate": 4000, "times": 2})");

  JobOutcome job = runJob(area.url("drip.bin"), dir / L"drip.bin");
  EXPECT_EQ(job.result, 2);
  EXPECT_EQ(job.received, 8000);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"drip.bin") == data);
  EXPECT_EQ(area.requests("drip.bin"), 2);
  EXPECT_EQ(newLines(), Lines{JobSuccess(dir / L"drip.bin", 1)});
}

TEST_F(HttpTransfer, TimeOutBeforeAnyAnswerIsNotRetried) {
  // The low-speed window runs out while the server has not even sent its status line. Only
  // the first answer is late, so a wrong retry would end in a success.
  area.put("late.bin", "late");
  area.fault("late.bin", R"({"delay": 4, "times": 1})");

  JobOutcome job = runJob(area.url("late.bin"), dir / L"late.bin");
  EXPECT_EQ(job.result, -1);
  EXPECT_EQ(area.requests("late.bin"), 1);
  expectLastFailure(CURLE_OPERATION_TIMEDOUT, 0);
  EXPECT_EQ(newLines(), Lines{JobFailure(dir / L"late.bin", 28, 0)});
}

TEST_F(HttpTransfer, RefusedConnectionFailsWithoutStatus) {
  const std::string url = testserver::Get().refused + "/nothing.bin";

  std::string text;
  EXPECT_FALSE(GetRemoteTextFile(url, text, &logger));
  EXPECT_EQ(text, "");
  expectLastFailure(CURLE_COULDNT_CONNECT, 0);

  logger.setLastFailure(-1, -1);
  localFaultFlag = true;
  EXPECT_FALSE(DownloadBinaryFile(url, dir / L"refused.bin", nullptr, nullptr, &logger));
  EXPECT_FALSE(localFaultFlag);
  EXPECT_EQ(testfiles::ReadFile(dir / L"refused.bin"), "");
  expectLastFailure(CURLE_COULDNT_CONNECT, 0);

  logger.setLastFailure(-1, -1);
  EXPECT_EQ(runJob(url, dir / L"job.bin").result, -1);
  expectLastFailure(CURLE_COULDNT_CONNECT, 0);

  EXPECT_EQ(newLines(), (Lines{TextFailure(7, 0), FileFailure(url, 7, 0), JobFailure(dir / L"job.bin", 7, 0)}));
}

TEST_F(HttpTransfer, RedirectsAreFollowedAndCountOnlyTheTarget) {
  const std::string data = testfiles::RandomBytes(120000, 13);
  area.put("new/data.bin", data);
  area.put("new/note.txt", "moved here");
  const std::string redirect = R"({"mode": "redirect", "code": 302, "location": ")";
  area.fault("old/data.bin", redirect + area.path("new/data.bin") + "\"}");
  area.fault("old/note.txt", redirect + area.path("new/note.txt") + "\"}");
  area.fault("old/lost.bin", redirect + area.path("new/lost.bin") + "\"}");

  std::string text;
  EXPECT_TRUE(GetRemoteTextFile(area.url("old/note.txt"), text, &logger));
  EXPECT_EQ(text, "moved here");

  std::atomic<int64_t> received{0};
  std::atomic<int64_t> total{777};
  EXPECT_TRUE(DownloadBinaryFile(area.url("old/data.bin"), dir / L"data.bin", &received, &total, &logger));
  EXPECT_TRUE(testfiles::ReadFile(dir / L"data.bin") == data);
  EXPECT_EQ(received.load(), 120000);
  EXPECT_EQ(total.load(), 777 + 120000);

  JobOutcome job = runJob(area.url("old/data.bin"), dir / L"job.bin");
  EXPECT_EQ(job.result, 1);
  EXPECT_EQ(job.received, 120000);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"job.bin") == data);
  EXPECT_EQ(area.requests("new/data.bin"), 2);
  EXPECT_EQ(newLines(), Lines{JobSuccess(dir / L"job.bin", 0)});

  // The status that counts is the final one.
  EXPECT_FALSE(DownloadBinaryFile(area.url("old/lost.bin"), dir / L"lost.bin", nullptr, nullptr, &logger));
  expectLastFailure(0, 404);
  EXPECT_EQ(newLines(), Lines{FileFailure(area.url("old/lost.bin"), 0, 404)});
}

TEST_F(HttpTransfer, FtpTransfersSucceedWith226) {
  const std::string data = testfiles::RandomBytes(70000, 17);
  area.put("pub/data.bin", data);
  area.put("pub/list.txt", "one\ntwo\n");
  logger.setLastFailure(5, 6);

  std::string text;
  EXPECT_TRUE(GetRemoteTextFile(area.ftpUrl("pub/list.txt"), text, &logger));
  EXPECT_EQ(text, "one\ntwo\n");

  std::atomic<int64_t> received{0};
  std::atomic<int64_t> total{10};
  EXPECT_TRUE(DownloadBinaryFile(area.ftpUrl("pub/data.bin"), dir / L"data.bin", &received, &total, &logger));
  EXPECT_TRUE(testfiles::ReadFile(dir / L"data.bin") == data);
  EXPECT_EQ(received.load(), 70000);
  EXPECT_EQ(total.load(), 70010);

  JobOutcome job = runJob(area.ftpUrl("pub/data.bin"), dir / L"job.bin");
  EXPECT_EQ(job.result, 1);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"job.bin") == data);
  EXPECT_EQ(newLines(), Lines{JobSuccess(dir / L"job.bin", 0)});
  expectLastFailure(5, 6);

  // A file the FTP server does not have: libcurl's code with the server's 550.
  EXPECT_FALSE(GetRemoteTextFile(area.ftpUrl("pub/missing.txt"), text, &logger));
  expectLastFailure(CURLE_REMOTE_FILE_NOT_FOUND, 550);
  EXPECT_EQ(newLines(), Lines{TextFailure(78, 550)});
}

TEST_F(HttpTransfer, UnopenableDestinationIsALocalFault) {
  area.put("data.bin", "payload");
  const std::string url = area.url("data.bin");
  logger.setLastFailure(5, 6);
  testfiles::WriteFile(dir / L"folder\\inside.txt", "x");

  // A folder where the file should go.
  EXPECT_FALSE(DownloadBinaryFile(url, dir / L"folder", nullptr, nullptr, &logger));
  EXPECT_TRUE(localFaultFlag);
  EXPECT_EQ(runJob(url, dir / L"folder").result, -3);

  // The platform refusing to open the file.
  InjectFault(FaultCall::OpenFile, 5, L"blocked.bin");
  localFaultFlag = false;
  EXPECT_FALSE(DownloadBinaryFile(url, dir / L"blocked.bin", nullptr, nullptr, &logger));
  EXPECT_TRUE(localFaultFlag);
  EXPECT_EQ(runJob(url, dir / L"blocked.bin").result, -3);
  ClearFaults();

#ifdef _WIN32
  // A file another program holds without sharing it for writing. (A read-only attribute would
  // do on Windows, but Wine running as root writes through it.)
  testfiles::WriteFile(dir / L"held.bin", "old");
  FILE* holder = _wfsopen((dir / L"held.bin").c_str(), L"rb", _SH_DENYWR);
  ASSERT_NE(holder, nullptr);
  localFaultFlag = false;
  EXPECT_FALSE(DownloadBinaryFile(url, dir / L"held.bin", nullptr, nullptr, &logger));
  EXPECT_TRUE(localFaultFlag);
  EXPECT_EQ(runJob(url, dir / L"held.bin").result, -3);
  fclose(holder);
  EXPECT_EQ(testfiles::ReadFile(dir / L"held.bin"), "old");
#endif

  // Nothing went to the server, nothing to the log, and the last failure stayed.
  EXPECT_EQ(area.requests("data.bin"), 0);
  EXPECT_TRUE(newLines().empty());
  expectLastFailure(5, 6);

  // The next failure of another kind takes the flag back.
  EXPECT_FALSE(DownloadBinaryFile(area.url("missing.bin"), dir / L"missing.bin", nullptr, nullptr, &logger));
  EXPECT_FALSE(localFaultFlag);
}

TEST_F(HttpTransfer, MissingParentFoldersAreCreated) {
  area.put("data.bin", "deep payload");
  EXPECT_TRUE(DownloadBinaryFile(area.url("data.bin"), dir / L"a\\b\\c\\file.bin", nullptr, nullptr, &logger));
  EXPECT_EQ(testfiles::ReadFile(dir / L"a\\b\\c\\file.bin"), "deep payload");
  EXPECT_EQ(runJob(area.url("data.bin"), dir / L"x\\y\\job.bin").result, 1);
  EXPECT_EQ(testfiles::ReadFile(dir / L"x\\y\\job.bin"), "deep payload");
}

TEST_F(HttpTransfer, BrokenConnectionsFailAndKeepWhatArrived) {
  const std::string data = testfiles::RandomBytes(5000, 21);
  area.put("cut.bin", data);
  area.put("closed.bin", data);
  area.fault("cut.bin", R"({"mode": "cut", "after": 1000})");
  area.fault("closed.bin", R"({"mode": "close"})");
  const std::string cut = area.url("cut.bin");
  const std::string closed = area.url("closed.bin");

  // Cut short of the announced length.
  std::string text;
  EXPECT_FALSE(GetRemoteTextFile(cut, text, &logger));
  EXPECT_TRUE(text == data.substr(0, 1000));
  expectLastFailure(CURLE_PARTIAL_FILE, 200);
  EXPECT_FALSE(DownloadBinaryFile(cut, dir / L"cut.bin", nullptr, nullptr, &logger));
  EXPECT_TRUE(testfiles::ReadFile(dir / L"cut.bin") == data.substr(0, 1000));
  EXPECT_EQ(runJob(cut, dir / L"cut-job.bin").result, -1);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"cut-job.bin") == data.substr(0, 1000));
  EXPECT_EQ(area.requests("cut.bin"), 3);
  EXPECT_EQ(newLines(), (Lines{TextFailure(18, 200), FileFailure(cut, 18, 200),
                               JobFailure(dir / L"cut-job.bin", 18, 200)}));

  // Closed without an answer.
  text.clear();
  EXPECT_FALSE(GetRemoteTextFile(closed, text, &logger));
  EXPECT_EQ(text, "");
  expectLastFailure(CURLE_GOT_NOTHING, 0);
  EXPECT_FALSE(DownloadBinaryFile(closed, dir / L"closed.bin", nullptr, nullptr, &logger));
  EXPECT_EQ(testfiles::ReadFile(dir / L"closed.bin"), "");
  EXPECT_EQ(runJob(closed, dir / L"closed-job.bin").result, -1);
  EXPECT_EQ(newLines(), (Lines{TextFailure(52, 0), FileFailure(closed, 52, 0),
                               JobFailure(dir / L"closed-job.bin", 52, 0)}));
}

TEST_F(HttpTransfer, ConcurrentJobsKeepTheirOwnStatus) {
  constexpr int kEach = 6;
  std::vector<std::string> data;
  std::vector<std::unique_ptr<DownloadStatus>> statuses;
  std::vector<DownloadJob> good, missing, refused;
  auto add = [&](std::vector<DownloadJob>& group, const std::string& url, const std::wstring& name) {
    statuses.push_back(std::make_unique<DownloadStatus>());
    downloadResults[url] = statuses.back().get();
    DownloadJob job;
    job.destinationPath = dir / name;
    job.url = url;
    job.received = &statuses.back()->received;
    job.log = &logger;
    group.push_back(job);
  };
  for (int i = 0; i < kEach; ++i) {
    std::string n = std::to_string(i);
    data.push_back(testfiles::RandomBytes(40000 + 1000 * i, 100 + i));
    area.put("good" + n + ".bin", data.back());
    area.fault("gone" + n + ".bin", R"({"status": 404, "body": "gone"})");
    add(good, area.url("good" + n + ".bin"), L"good" + AnsiToWide(n) + L".bin");
    add(missing, area.url("gone" + n + ".bin"), L"gone" + AnsiToWide(n) + L".bin");
    add(refused, testserver::Get().refused + "/r" + n + ".bin", L"refused" + AnsiToWide(n) + L".bin");
  }
  auto runAll = [](std::vector<DownloadJob>* group) {
    for (auto& job : *group) RunDownloadJob(&job);
  };
  std::thread first(runAll, &good);
  std::thread second(runAll, &missing);
  std::thread third(runAll, &refused);
  first.join();
  second.join();
  third.join();

  Lines expected;
  for (int i = 0; i < kEach; ++i) {
    EXPECT_EQ(downloadResults[good[i].url]->result.load(), 1) << i;
    EXPECT_EQ(downloadResults[good[i].url]->received.load(), static_cast<int64_t>(data[i].size())) << i;
    EXPECT_TRUE(testfiles::ReadFile(good[i].destinationPath) == data[i]) << i;
    EXPECT_EQ(downloadResults[missing[i].url]->result.load(), -1) << i;
    EXPECT_EQ(downloadResults[refused[i].url]->result.load(), -1) << i;
    expected.push_back(JobSuccess(good[i].destinationPath, 0));
    expected.push_back(JobFailure(missing[i].destinationPath, 0, 404));
    expected.push_back(JobFailure(refused[i].destinationPath, 7, 0));
  }
  // The last failure is one whole pair from one of the failing jobs.
  std::pair<int, int> last(logger.lastCurlCode(), logger.lastHttpStatus());
  EXPECT_TRUE(last == std::make_pair(0, 404) || last == std::make_pair(7, 0))
      << last.first << " " << last.second;
  Lines logged = newLines();
  std::sort(logged.begin(), logged.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(logged, expected);
}
