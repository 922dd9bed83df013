// The product's own time windows against the local servers: no shortened timings here, so
// each stall takes as long as it would for a player.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>
#include <string>

#include "net/http_transfer.h"
#include "platform/text.h"
#include "support/logger.h"
#include "support/test_files.h"
#include "support/test_server.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

struct HttpDefaults : ::testing::Test {
  testfiles::TempDir dir;
  testserver::Area area;
  Logger logger;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  void SetUp() override { logger.open(WideToAnsi(dir / L"log.txt")); }
  double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
};

}  // namespace

TEST_F(HttpDefaults, StalledTextFetchEndsAfterAMinuteOfSilence) {
  area.put("slow.txt", std::string(4000, 't'));
  area.fault("slow.txt", R"({"mode": "stall", "after": 10})");
  std::string text;
  TransferResult result = GetRemoteTextFile(area.url("slow.txt"), text, {}, &logger);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(seconds() > 59.0 && seconds() < 90.0) << seconds();
  EXPECT_EQ(text, std::string(10, 't'));
  EXPECT_EQ(result.curlCode, CURLE_ABORTED_BY_CALLBACK);
}

// Three slow answers at once: just above the 10240 B/s limit a download goes through; just
// below it a download is cut by the 15 s window, and a job starts over with a 30 s window, in
// which the same pace completes the file (22 s). Swapped or equal windows fail one of these.
TEST_F(HttpDefaults, DripsAroundTheLowSpeedLimit) {
  const std::string above = testfiles::RandomBytes(280000, 4), below = testfiles::RandomBytes(154000, 5);
  area.put("above.bin", above);
  area.fault("above.bin", R"({"mode": "drip", "rate": 14000})");
  area.put("below.bin", below);
  area.fault("below.bin", R"({"mode": "drip", "rate": 7000})");
  bool aboveDone = false, belowDone = true;
  double belowSeconds = 0, jobSeconds = 0;
  DownloadStatus status;
  DownloadJob job{{TransferKind::Job, area.url("below.bin?job"), dir / L"job.bin"}, &status, &logger};
  std::thread a([&] { aboveDone = DownloadBinaryFile({TransferKind::File, area.url("above.bin"), dir / L"above.bin"}, nullptr).ok; });
  std::thread b([&] {
    belowDone = DownloadBinaryFile({TransferKind::File, area.url("below.bin"), dir / L"below.bin"}, nullptr).ok;
    belowSeconds = seconds();
  });
  std::thread c([&] {
    RunDownloadJob(&job);
    jobSeconds = seconds();
  });
  a.join();
  b.join();
  c.join();
  EXPECT_TRUE(aboveDone);
  EXPECT_TRUE(testfiles::ReadFile(dir / L"above.bin") == above);
  EXPECT_FALSE(belowDone);
  EXPECT_TRUE(belowSeconds > 14.0 && belowSeconds < 25.0) << belowSeconds;
  EXPECT_EQ(status.result.load(), 2);
  EXPECT_TRUE(jobSeconds > 33.0 && jobSeconds < 50.0) << jobSeconds;
  EXPECT_TRUE(testfiles::ReadFile(job.request.destination) == below);
}

#ifndef _WIN32
// An address that never answers a connection attempt: a listening socket whose accept queue
// is already full, so that the kernel drops every further attempt without a reply.
struct SilentAddress {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  std::vector<int> fillers;
  std::string url;
  SilentAddress() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener, 0) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    for (int i = 0; i < 3; ++i) {
      int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(filler, reinterpret_cast<sockaddr*>(&address), length);
      fillers.push_back(filler);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x.bin";
  }
  ~SilentAddress() {
    for (int filler : fillers) close(filler);
    close(listener);
  }
};

TEST_F(HttpDefaults, UnansweredConnectionsEndOnTheirConnectWindows) {
  SilentAddress silent;
  ASSERT_FALSE(silent.url.empty());
  double text = 0, file = 0, job = 0;
  DownloadStatus status;
  DownloadJob jobToRun{{TransferKind::Job, silent.url, dir / L"job.bin"}, &status, nullptr};
  auto timed = [this](double& at, std::function<void()> transfer) {
    return std::thread([this, &at, transfer] {
      transfer();
      at = seconds();
    });
  };
  std::string kept;
  std::thread a = timed(text, [&] { EXPECT_FALSE(GetRemoteTextFile(silent.url, kept, {}, nullptr).ok); });
  std::thread b = timed(file, [&] { EXPECT_FALSE(DownloadBinaryFile({TransferKind::File, silent.url, dir / L"file.bin"}, nullptr).ok); });
  std::thread c = timed(job, [&] { RunDownloadJob(&jobToRun); });
  a.join();
  b.join();
  c.join();
  EXPECT_TRUE(text > 4.5 && text < 8.0) << text;
  EXPECT_TRUE(file > 9.5 && file < 14.0) << file;
  EXPECT_TRUE(job > 9.5 && job < 14.0) << job;
  EXPECT_EQ(status.result.load(), -1);
}
#endif
