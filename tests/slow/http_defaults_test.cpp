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

namespace {

struct HttpDefaults : ::testing::Test {
  testfiles::TempDir dir;
  testserver::Area area;
  Logger logger;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  void SetUp() override { logger.open(WideToAnsi(dir / L"log.txt")); }
  void TearDown() override { downloadResults.clear(); }
  double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
};

}  // namespace

TEST_F(HttpDefaults, StalledTextFetchEndsAfterAMinuteOfSilence) {
  area.put("slow.txt", std::string(4000, 't'));
  area.fault("slow.txt", R"({"mode": "stall", "after": 10})");
  std::string text;
  EXPECT_FALSE(GetRemoteTextFile(area.url("slow.txt"), text, &logger));
  EXPECT_TRUE(seconds() > 59.0 && seconds() < 90.0) << seconds();
  EXPECT_EQ(text, std::string(10, 't'));
  EXPECT_EQ(logger.lastCurlCode(), CURLE_ABORTED_BY_CALLBACK);
}

TEST_F(HttpDefaults, StalledDownloadEndsOnTheFifteenSecondWindow) {
  area.put("slow.bin", testfiles::RandomBytes(100000, 1));
  area.fault("slow.bin", R"({"mode": "stall", "after": 2000})");
  EXPECT_FALSE(DownloadBinaryFile(area.url("slow.bin"), dir / L"slow.bin", nullptr, nullptr, &logger));
  EXPECT_TRUE(seconds() > 14.0 && seconds() < 40.0) << seconds();
  EXPECT_EQ(logger.lastCurlCode(), CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(testfiles::ReadFile(dir / L"slow.bin").size(), 2000u);
}

TEST_F(HttpDefaults, StalledJobIsRetriedAfterTheFifteenSecondWindow) {
  const std::string data = testfiles::RandomBytes(100000, 2);
  area.put("once.bin", data);
  area.fault("once.bin", R"({"mode": "stall", "after": 2000, "times": 1})");
  DownloadStatus status;
  downloadResults[area.url("once.bin")] = &status;
  DownloadJob job{dir / L"once.bin", area.url("once.bin"), &status.received, nullptr, &logger};
  RunDownloadJob(&job);
  EXPECT_TRUE(seconds() > 14.0 && seconds() < 40.0) << seconds();
  EXPECT_EQ(status.result.load(), 2);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"once.bin") == data);
  EXPECT_EQ(testfiles::LogLines(dir / L"log.txt").back(),
            "[INFO] Job " + WideToAnsi(job.destinationPath) + " Download Success. RetryTime = 1");
}
