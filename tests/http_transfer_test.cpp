// Text fetches, file downloads and pool jobs against the local HTTP and FTP servers, with the
// time windows shortened so that stalls end in about a second.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/http_transfer.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/logger.h"
#include "support/test_files.h"
#include "support/test_server.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using Op = TransferKind;
constexpr Op kText = Op::Text, kFile = Op::File, kJob = Op::Job;
using Lines = std::vector<std::string>;
using Codes = std::pair<int, int>;  // libcurl's code, HTTP status

std::string FailureLine(Op op, const std::string& url, const std::wstring& path, Codes codes) {
  const std::string c = std::to_string(codes.first), s = std::to_string(codes.second);
  if (op == kText) return "[ERROR] Get Remote TextFile Failed! CURL CODE = " + c + " HttpStatusCode = " + s;
  if (op == kFile) return "[ERROR] Download Binary file failed! url = " + url + "    CURL CODE = " + c + " HttpStatusCode = " + s;
  return "[ERROR] Job " + WideToAnsi(path) + " download failed! ResultCode = " + c + " HttpStatus = " + s;
}

std::string SuccessLine(const std::wstring& path, int retries) {
  return "[INFO] Job " + WideToAnsi(path) + " Download Success. RetryTime = " + std::to_string(retries);
}

// What one transfer left: a job's result (1 or -1 for the others), the count, the text or file.
// Its codes, local fault and resume are in lastResult.
struct Outcome { int32_t result; int64_t received; std::string kept; };

struct HttpTransfer : ::testing::Test {
  testfiles::TempDir dir;
  testserver::Area area;
  Logger logger;
  size_t seen = 1;  // the "Start logging" line
  TransferTimings timings{1500, 5, 5, 1, 3, 10240};
  bool resume = false;
  int64_t maxBytes = 1 << 20;  // far below the test server's 64 MiB of an endless answer
  TransferResult lastResult;
  int64_t lastCap = -1;

  void SetUp() override { logger.open(WideToAnsi(dir / L"log.txt")); }
  void TearDown() override { ClearFaults(); }
  TransferRequest request(Op op, const std::string& url, const std::wstring& path) const {
    TransferRequest r(op, url, path);
    r.timings = timings;
    r.resume = resume;
    r.maxBytes = maxBytes;
    return r;
  }
  Lines newLines() {  // log lines written since the previous call
    Lines lines = testfiles::LogLines(dir / L"log.txt");
    Lines fresh(lines.begin() + static_cast<std::ptrdiff_t>(std::min(seen, lines.size())), lines.end());
    seen = lines.size();
    return fresh;
  }
  // A text and a file report through their result, a job through its status.
  Outcome run(Op op, const std::string& url, const std::wstring& path, std::atomic<int64_t>* total = nullptr,
              int64_t expectedSize = -1) {
    DownloadStatus status;
    std::string kept;
    TransferRequest r = request(op, url, path);
    r.text = op == kText ? &kept : nullptr;
    r.received = op == kText ? nullptr : &status.received;
    r.runningTotal = op == kFile ? total : nullptr;  // jobs keep no running total
    r.expectedSize = expectedSize;
    lastCap = expectedSize >= 0 ? expectedSize : maxBytes;
    if (op == kJob) {
      DownloadJob job{r, &status, &logger};
      RunDownloadJob(&job);
      lastResult = {status.result > 0, status.result, status.result == -3, status.resumed, status.hasCodes,
                    status.curlCode, status.httpStatus};
    } else {
      lastResult = Transfer(r, &logger);
      status.result = lastResult.ok ? 1 : -1;
    }
    return Outcome{status.result, status.received, op == kText || DirectoryExists(path) ? kept : testfiles::ReadFile(path)};
  }
  // The failure's line is the only new one in the log (after the cap's, for an answer cut at
  // it), and it returns its codes.
  void expectFailure(Op op, const std::string& url, const std::wstring& path, Codes codes) {
    Lines expected{FailureLine(op, url, path, codes)};
    if (codes.first == CURLE_FILESIZE_EXCEEDED)
      expected.insert(expected.begin(), "[ERROR] Answer longer than allowed! url = " + url + "    limit = " +
                                            std::to_string(lastCap) + " bytes");
    EXPECT_EQ(newLines(), expected);
    EXPECT_TRUE(lastResult.hasCodes);
    EXPECT_EQ(Codes(lastResult.curlCode, lastResult.httpStatus), codes);
  }
};

}  // namespace

TEST_F(HttpTransfer, WatchdogFollowsTheCountAndAbortsAfterSilence) {
  std::atomic<int64_t> received{0}, total{1000};
  TransferProgress progress{&received, &total, 0, WallClockMs(), 1500};
  auto tick = [&](int64_t now) { return TransferWatchdog(&progress, 0, now, 0, 0); };
  auto counts = [&] { return std::to_string(received.load()) + " " + std::to_string(total.load()); };
  EXPECT_TRUE(tick(52) == 0 && tick(0) == 0 && tick(5000) == 0);  // a redirect's page, then the target
  EXPECT_EQ(counts(), "5000 6000");
  progress.lastChangeMs = WallClockMs() - 5000;  // longer: abort; a count that went down is no new byte
  EXPECT_NE(tick(5000), 0);
  EXPECT_NE(tick(10), 0);
  EXPECT_EQ(tick(5001), 0);  // one new byte is life
  EXPECT_EQ(counts(), "5001 6001");
  progress.lastReceived = 4294967000u;  // past 4 GiB the change is still the difference
  EXPECT_EQ(tick(4294968000LL), 0);
  EXPECT_EQ(counts(), "4294968000 7001");
}

TEST_F(HttpTransfer, TransfersDeliverTheTargetsBytesOverHttpRedirectAndFtp) {
  const std::string data = testfiles::RandomBytes(300000, 7);
  area.put("data.bin", data);
  area.fault("old.bin", R"({"mode": "redirect", "code": 302, "location": ")" + area.path("data.bin") + "\"}");
  testfiles::WriteFile(dir / (L"http\\" + std::to_wstring(int(kJob)) + L"\\data.bin"), std::string(500000, 'x'));  // overwritten
  for (const auto& source : {std::make_pair(std::wstring(L"http"), area.url("data.bin")),
                             std::make_pair(std::wstring(L"redirect"), area.url("old.bin")),
                             std::make_pair(std::wstring(L"ftp"), area.ftpUrl("data.bin"))}) {
    for (Op op : {kText, kFile, kJob}) {
      SCOPED_TRACE(source.second + " in operation " + std::to_string(int(op)));
      const std::wstring path = dir / (source.first + L"\\" + std::to_wstring(int(op)) + L"\\data.bin");  // new folders
      std::atomic<int64_t> total{1000};
      Outcome r = run(op, source.second, path, op == kFile ? &total : nullptr);
      EXPECT_EQ(r.result, 1);  // a job: one attempt, no retry
      EXPECT_TRUE(r.kept == data);
      EXPECT_EQ(r.received, op == kText ? 0 : 300000);
      EXPECT_EQ(total.load(), op == kFile ? 301000 : 1000);
      EXPECT_EQ(newLines(), op == kJob ? Lines{SuccessLine(path, 0)} : Lines{});
      EXPECT_FALSE(lastResult.hasCodes || lastResult.localFault);
    }
  }
  EXPECT_EQ(area.requests("data.bin"), 6);  // three directly, three through the redirect
}

TEST_F(HttpTransfer, FailuresLogTheirCodesAndKeepWhatArrived) {
  const std::string data = testfiles::RandomBytes(5000, 21);
  for (const char* name : {"cut.bin", "closed.bin", "data.bin"}) area.put(name, data);
  area.fault("gone.bin", R"({"status": 404, "body": "no such file"})");
  area.fault("made.bin", R"({"status": 201, "body": "created"})");
  area.fault("lost.bin", R"({"mode": "redirect", "location": ")" + area.path("gone.bin") + "\"}");
  area.fault("loop.bin", R"({"mode": "redirect", "location": ")" + area.path("loop.bin") + "\"}");
  area.fault("cut.bin", R"({"mode": "cut", "after": 1000})");
  area.fault("closed.bin", R"({"mode": "close"})");
  area.fault("chunks.bin", R"({"mode": "endless", "chunked": true})");
  const std::string capped(1 << 20, 'e');  // an endless answer keeps the bytes up to the cap
  struct Case { std::string url; Codes codes; std::string kept; };
  const Case cases[] = {{area.url("gone.bin"), {0, 404}, "no such file"},
                        {area.url("made.bin"), {0, 201}, "created"},      // only 200 is success
                        {area.url("lost.bin"), {0, 404}, "no such file"},  // the final status counts
                        {area.url("loop.bin"), {CURLE_TOO_MANY_REDIRECTS, 302}, ""},
                        {area.url("cut.bin"), {CURLE_PARTIAL_FILE, 200}, data.substr(0, 1000)},
                        {area.url("closed.bin"), {CURLE_GOT_NOTHING, 0}, ""},
                        {area.ftpUrl("none.bin"), {CURLE_REMOTE_FILE_NOT_FOUND, 550}, ""},
                        {testserver::Get().refused + "/x.bin", {CURLE_COULDNT_CONNECT, 0}, ""},
                        // (Endless texts and redirects off the web are rows of the scenarios' attacks.)
                        {area.url("chunks.bin"), {CURLE_FILESIZE_EXCEEDED, 200}, capped},
                        {"file:///etc/passwd", {CURLE_UNSUPPORTED_PROTOCOL, 0}, ""}};
  int n = 0;
  for (const Case& c : cases) {
    for (Op op : {kText, kFile, kJob}) {
      SCOPED_TRACE(c.url + " in operation " + std::to_string(int(op)));
      const std::wstring path = dir / (L"out" + std::to_wstring(n++) + L".bin");
      Outcome r = run(op, c.url, path);
      EXPECT_EQ(r.result, -1);
      EXPECT_TRUE(r.kept == c.kept);
      EXPECT_FALSE(lastResult.localFault);
      expectFailure(op, c.url, path, c.codes);
    }
  }
  // One request per transfer: none of these failures is retried.
  for (const char* name : {"made.bin", "cut.bin", "closed.bin"}) EXPECT_EQ(area.requests(name), 3) << name;

  // A listed file smaller than the pages around it: a redirect's page is no part of it, and an
  // error page is kept as far as the size allows and still shows its status.
  area.put("tiny.bin", "tiny");
  area.fault("totiny.bin", R"({"mode": "redirect", "location": ")" + area.path("tiny.bin") + "\"}");
  for (Op op : {kFile, kJob}) {
    const std::wstring path = dir / (L"tiny" + std::to_wstring(int(op)) + L".bin");
    EXPECT_EQ(run(op, area.url("totiny.bin"), path, nullptr, 4).kept, "tiny");
    EXPECT_TRUE(lastResult.ok);
    EXPECT_EQ(run(op, area.url("gone.bin"), path, nullptr, 4).kept, "no s");
    newLines();
    EXPECT_EQ(Codes(lastResult.curlCode, lastResult.httpStatus), Codes(0, 404));
  }

  // A destination that cannot be opened (a folder; the platform refusing) is a local fault: no
  // request, no log line, and no codes to show.
  testfiles::WriteFile(dir / L"folder\\inside.txt", "x");
  InjectFault(FaultCall::OpenFile, 5, L"blocked.bin");
  for (const std::wstring& path : {dir / L"folder", dir / L"blocked.bin"}) {
    for (Op op : {kFile, kJob}) {
      EXPECT_EQ(run(op, area.url("data.bin"), path).result, op == kFile ? -1 : -3);
      EXPECT_TRUE(lastResult.localFault && !lastResult.hasCodes);
    }
  }
  EXPECT_EQ(area.requests("data.bin"), 0);
  EXPECT_TRUE(newLines().empty());

  // An append that cannot be made ends the transfer instead of unwinding through libcurl.
  std::string text = "ab";
  EXPECT_EQ(AppendToText(text.data(), 1, text.max_size() - 1, &text), 0u);
  EXPECT_EQ(text, "ab");
#ifndef _WIN32
  // A destination that cannot take the bytes (a full disk) is a local fault as well; a small
  // file fails only when its buffered bytes are flushed at the close.
  area.put("small.bin", "a small file");
  const std::wstring full = dir / L"full.bin";
  ASSERT_EQ(symlink("/dev/full", NarrowFileSystemPath(full).c_str()), 0);
  TransferResult file = Transfer(request(kFile, area.url("small.bin"), full), &logger);
  EXPECT_TRUE(!file.ok && file.localFault && !file.hasCodes);
  DownloadStatus status;
  DownloadJob job{request(kJob, area.url("small.bin"), full), &status, &logger};
  RunDownloadJob(&job);
  EXPECT_EQ(status.result.load(), -3);
  EXPECT_EQ(newLines(), (Lines{"[ERROR] Download Binary file failed! url = " + area.url("small.bin") +
                                   "    cannot write " + WideToAnsi(full),
                               "[ERROR] Job " + WideToAnsi(full) + " download failed! cannot write the file"}));
#endif
}

TEST_F(HttpTransfer, StallsEndOnTheirWindowsAndOnlyAnsweredJobsStartOver) {
  const std::string data = testfiles::RandomBytes(8000, 9);
  for (const char* name : {"stall.bin", "drip.bin", "late.bin", "trickle.txt"}) area.put(name, data);
  area.fault("stall.bin", R"({"mode": "stall", "after": 1000})");
  // About 2 s at this rate: too slow for the first 1 s window, done within the retry's 3 s one.
  // Only two answers are slow, so a retry that kept the short window would need three attempts.
  area.fault("drip.bin", R"({"mode": "drip", "rate": 4000, "times": 2})");
  area.fault("late.bin", R"({"delay": 4, "times": 1})");  // only the first status line is late
  area.fault("trickle.txt", R"({"mode": "drip", "rate": 100})");  // 80 s for the whole text
  const std::string stall = area.url("stall.bin");

  // A text's low-speed window is longer than the watchdog's: silence ends it after 1.5 s.
  auto start = std::chrono::steady_clock::now();
  auto seconds = [&start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  EXPECT_TRUE(run(kText, stall, L"").kept == data.substr(0, 1000));
  EXPECT_GE(seconds(), 1.4);
  expectFailure(kText, stall, L"", {CURLE_ABORTED_BY_CALLBACK, 200});

  timings.stallMs = 10000;  // past the low-speed windows, so that only they can end a transfer
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(run(kFile, stall, dir / L"stall.bin").kept == data.substr(0, 1000));
  EXPECT_GE(seconds(), 0.9);
  expectFailure(kFile, stall, L"", {CURLE_OPERATION_TIMEDOUT, 200});

  Outcome drip = run(kJob, area.url("drip.bin"), dir / L"drip.bin");
  EXPECT_EQ(drip.result, 2);
  EXPECT_EQ(drip.received, 8000);
  EXPECT_TRUE(drip.kept == data);
  EXPECT_EQ(area.requests("drip.bin"), 2);
  EXPECT_EQ(newLines(), Lines{SuccessLine(dir / L"drip.bin", 1)});
  EXPECT_FALSE(lastResult.hasCodes);  // the retried time-out is no failure

  // A time-out before any answer is not retried, though a retry would succeed.
  EXPECT_EQ(run(kJob, area.url("late.bin"), dir / L"late.bin").result, -1);
  EXPECT_EQ(area.requests("late.bin"), 1);
  expectFailure(kJob, "", dir / L"late.bin", {CURLE_OPERATION_TIMEDOUT, 0});

  // A text that keeps arriving, above its lowest speed but too slowly for its total time, ends on
  // that time (its low-speed window is a row of the scenarios' attacks).
  timings.textTotalSeconds = 2;
  start = std::chrono::steady_clock::now();
  Outcome slow = run(kText, area.url("trickle.txt"), L"");
  EXPECT_LT(seconds(), 30.0);
  EXPECT_TRUE(slow.kept.size() < data.size() && slow.kept == data.substr(0, slow.kept.size()));
  expectFailure(kText, "", L"", {CURLE_OPERATION_TIMEDOUT, 200});

  // A job answered and then stalled for good starts over only while it gets further: three
  // restarts that end where the first attempt did, and it fails with what arrived on disk.
  timings.retryLowSpeedSeconds = 1;
  const int before = area.requests("stall.bin");
  start = std::chrono::steady_clock::now();
  EXPECT_TRUE(run(kJob, stall, dir / L"stalled.bin").kept == data.substr(0, 1000));
  EXPECT_LT(seconds(), 30.0);
  EXPECT_EQ(area.requests("stall.bin") - before, 4);
  expectFailure(kJob, "", dir / L"stalled.bin", {CURLE_OPERATION_TIMEDOUT, 200});
}

TEST_F(HttpTransfer, ConcurrentJobsKeepTheirOwnStatus) {
  // Three threads at once: one runs jobs that succeed, one jobs that get a 404, one jobs refused.
  constexpr int kJobs = 18;
  area.fault("gone.bin", R"({"status": 404})");
  std::vector<DownloadStatus> statuses(kJobs);
  std::vector<DownloadJob> jobs;
  std::multiset<std::string> expected;
  for (int k = 0; k < kJobs; ++k) {
    const std::string n = std::to_string(k);
    if (k % 3 == 0) area.put(n, testfiles::RandomBytes(40000 + 1000 * k, k));
    const std::string url = k % 3 == 0 ? area.url(n) : k % 3 == 1 ? area.url("gone.bin?" + n) : testserver::Get().refused + "/" + n;
    TransferRequest r = request(kJob, url, dir / AnsiToWide(n));
    r.received = &statuses[k].received;
    jobs.push_back(DownloadJob{r, &statuses[k], &logger});
    expected.insert(k % 3 == 0 ? SuccessLine(dir / AnsiToWide(n), 0)
                               : FailureLine(kJob, "", dir / AnsiToWide(n), k % 3 == 1 ? Codes(0, 404) : Codes(7, 0)));
  }
  std::vector<std::thread> threads;
  for (int g = 0; g < 3; ++g) threads.emplace_back([&jobs, g] { for (int k = g; k < kJobs; k += 3) RunDownloadJob(&jobs[k]); });
  for (auto& thread : threads) thread.join();
  for (int k = 0; k < kJobs; ++k) {
    EXPECT_EQ(statuses[k].result.load(), k % 3 == 0 ? 1 : -1) << k;
    if (k % 3 != 0) {
      EXPECT_EQ(Codes(statuses[k].curlCode, statuses[k].httpStatus), k % 3 == 1 ? Codes(0, 404) : Codes(7, 0)) << k;
      continue;
    }
    EXPECT_EQ(statuses[k].received.load(), 40000 + 1000 * k) << k;
    EXPECT_TRUE(testfiles::ReadFile(jobs[k].request.destination) == testfiles::RandomBytes(40000 + 1000 * k, k)) << k;
  }
  Lines logged = newLines();
  EXPECT_EQ(std::multiset<std::string>(logged.begin(), logged.end()), expected);
}

// Downloads of a known size with resuming on continue what is on disk, and what a cut or stall
// left, with "Range: bytes=N-"; anything that cannot continue those bytes starts from zero.
TEST_F(HttpTransfer, ResumableDownloadsContinueTheBytesOnDisk) {
  const std::string data = testfiles::RandomBytes(50000, 31), start = data.substr(0, 20000);
  const std::string shorter = data.substr(0, 10000), endless(50000, 'e');
  struct Case {
    const char* name;
    bool resume;
    std::string onDisk, fault, served;
    int attempts;                 // a job's result: its attempts, or -1
    int requests, ranged;         // what the server saw
    long long sent;               // body bytes the server sent; -1: not checked
    std::string kept;
    bool resumed;
    Codes codes;                  // of a failure
  };
  const Case cases[] = {
      {"a cut is continued", true, "", R"({"mode": "cut", "after": 20000})", data, 2, 2, 1, 50000, data, true, {}},
      {"every answer cut", true, "", R"({"mode": "cutevery", "bytes": 16000})", data, 4, 4, 3, 50000, data, true, {}},
      {"a stall is continued", true, "", R"({"mode": "stall", "after": 20000, "times": 1})", data, 2, 2, 1, 50000,
       data, true, {}},
      {"bytes of an earlier run", true, start, "", data, 1, 1, 1, 30000, data, true, {}},
      {"a server without ranges", true, start, R"({"ranges": false})", data, 1, 1, 1, 50000, data, false, {}},
      {"a range from elsewhere", true, start, R"({"rangeshift": -100})", data, 2, 2, 1, -1, data, false, {}},
      {"416: the server's file is shorter", true, start, "", shorter, 2, 2, 1, 10000, shorter, false, {}},
      {"longer than the file", true, data + "tail", "", data, 1, 1, 0, 50000, data, false, {}},
      {"an error keeps the bytes", true, start, R"({"status": 503})", data, -1, 1, 1, 0, start, false, {0, 503}},
      {"cuts that add nothing end", true, "", R"({"mode": "cutevery", "bytes": 0})", data, -1, 3, 0, 0, "", false,
       {CURLE_PARTIAL_FILE, 200}},
      {"off: no range", false, start, "", data, 1, 1, 0, 50000, data, false, {}},
      {"off: a cut fails", false, "", R"({"mode": "cut", "after": 20000})", data, -1, 1, 0, 20000, start, false,
       {CURLE_PARTIAL_FILE, 200}},
      // Nothing is written past the listed size, and an answer past it is the address's failure.
      {"an endless answer", true, "", R"({"mode": "endless"})", data, -1, 1, 0, -1, endless, false,
       {CURLE_FILESIZE_EXCEEDED, 200}},
      {"an endless answer to a range", true, start, R"({"mode": "endless", "chunked": true})", data, -1, 1, 1, -1,
       endless, false, {CURLE_FILESIZE_EXCEEDED, 200}},
      {"an endless error page", true, start, R"({"mode": "endless", "status": 503})", data, -1, 1, 1, -1, start,
       false, {CURLE_FILESIZE_EXCEEDED, 503}},
      {"off: an endless answer", false, "", R"({"mode": "endless"})", data, -1, 1, 0, -1, endless, false,
       {CURLE_FILESIZE_EXCEEDED, 200}},
      {"off: an endless error page", false, "", R"({"mode": "endless", "status": 404})", data, -1, 1, 0, -1, endless,
       false, {CURLE_FILESIZE_EXCEEDED, 404}},
      {"off: a length past the size", false, "", R"({"mode": "length", "shift": 100000000})", data, -1, 1, 0, -1, "",
       false, {CURLE_FILESIZE_EXCEEDED, 200}}};
  int n = 0;
  for (const Case& c : cases) {
    for (Op op : {kFile, kJob}) {
      SCOPED_TRACE(std::string(c.name) + " in operation " + std::to_string(int(op)));
      const std::string name = "r" + std::to_string(n++) + ".bin";
      const std::wstring path = dir / AnsiToWide(name);
      area.put(name, c.served);
      if (!c.fault.empty()) area.fault(name, c.fault);
      if (!c.onDisk.empty()) testfiles::WriteFile(path, c.onDisk);
      resume = c.resume;
      std::atomic<int64_t> total{1000};
      Outcome r = run(op, area.url(name), path, &total, static_cast<int64_t>(data.size()));
      EXPECT_EQ(r.result, op == kFile && c.attempts > 0 ? 1 : c.attempts);
      EXPECT_TRUE(r.kept == c.kept) << r.kept.size();
      EXPECT_EQ(lastResult.resumed, c.resumed);
      EXPECT_EQ(area.requests(name), c.requests);
      EXPECT_EQ(area.rangeRequests(name), c.ranged);
      if (c.sent >= 0) {
        EXPECT_EQ(area.bytesSent(name), c.sent);
      }
      if (c.attempts < 0) {
        expectFailure(op, area.url(name), path, c.codes);
        continue;
      }
      // The bytes on disk count as done, and a restart takes them back.
      EXPECT_EQ(r.received, static_cast<int64_t>(c.kept.size()));
      EXPECT_EQ(total.load(), op == kFile ? 1000 + static_cast<int64_t>(c.kept.size()) : 1000);
      EXPECT_EQ(newLines(), op == kJob ? Lines{SuccessLine(path, c.attempts - 1)} : Lines{});
    }
  }
}
