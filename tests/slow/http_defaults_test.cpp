// The product's own time windows against the local servers: no shortened timings here, so
// each stall takes as long as it would for a player.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "net/http_transfer.h"
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

struct HttpDefaults : ::testing::Test {
  TempDir dir;
  Area area;
  Logger logger;
  std::wstring logPath;

  void SetUp() override {
    logPath = dir / L"log.txt";
    logger.open(WideToAnsi(logPath));
  }
  void TearDown() override { downloadResults.clear(); }
};

}  // namespace

TEST_F(HttpDefaults, StalledTextFetchEndsAfterAMinuteOfSilence) {
  area.put("slow.txt", std::string(4000, 't'));
  area.fault("slow.txt", R"({"mode": "stall", "after": 10})");

  std::string text;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(GetRemoteTextFile(area.url("slow.txt"), text, &logger));
  double seconds = SecondsSince(start);
  EXPECT_GT(seconds, 59.0);
  EXPECT_LT(seconds, 90.0);
  EXPECT_EQ(text, std::string(10, 't'));
  EXPECT_EQ(logger.lastCurlCode(), CURLE_ABORTED_BY_CALLBACK);
  EXPECT_EQ(logger.lastHttpStatus(), 200);
}

TEST_F(HttpDefaults, StalledDownloadEndsOnTheFifteenSecondWindow) {
  area.put("slow.bin", testfiles::RandomBytes(100000, 1));
  area.fault("slow.bin", R"({"mode": "stall", "after": 2000})");

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DownloadBinaryFile(area.url("slow.bin"), dir / L"slow.bin", nullptr, nullptr, &logger));
  double seconds = SecondsSince(start);
  EXPECT_GT(seconds, 14.0);
  EXPECT_LT(seconds, 40.0);
  EXPECT_EQ(logger.lastCurlCode(), CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(logger.lastHttpStatus(), 200);
  EXPECT_EQ(testfiles::ReadFile(dir / L"slow.bin").size(), 2000u);
}

TEST_F(HttpDefaults, StalledJobIsRetriedAfterTheFifteenSecondWindow) {
  const std::string data = testfiles::RandomBytes(100000, 2);
  area.put("once.bin", data);
  area.fault("once.bin", R"({"mode": "stall", "after": 2000, "times": 1})");
  const std::string url = area.url("once.bin");

  DownloadStatus status;
  downloadResults[url] = &status;
  DownloadJob job;
  job.destinationPath = dir / L"once.bin";
  job.url = url;
  job.received = &status.received;
  job.log = &logger;
  auto start = std::chrono::steady_clock::now();
  RunDownloadJob(&job);
  double seconds = SecondsSince(start);
  EXPECT_EQ(status.result.load(), 2);
  EXPECT_GT(seconds, 14.0);
  EXPECT_LT(seconds, 40.0);
  EXPECT_EQ(area.requests("once.bin"), 2);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"once.bin") == data);
  EXPECT_EQ(testfiles::LogLines(logPath).back(),
            "[INFO] Job " + WideToAnsi(job.destinationPath) + " Download Success. RetryTime = 1");
}
