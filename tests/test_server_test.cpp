// What the transfer tests rely on from the local test servers, seen through libcurl.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>

#include "support/test_files.h"
#include "support/test_server.h"

using testserver::Area;
using testserver::Fetch;
using testserver::Response;

TEST(TestServer, ServesFilesByteForByteAndCountsEveryRequest) {
  Area area;
  std::string data = testfiles::RandomBytes(300000, 11);
  area.put("dir/data.bin", data);

  Response first = Fetch(area.url("dir/data.bin"));
  EXPECT_EQ(first.result, CURLE_OK);
  EXPECT_EQ(first.status, 200);
  EXPECT_TRUE(first.body == data) << "got " << first.body.size() << " bytes";
  Fetch(area.url("dir/data.bin?cache=no"));  // the query is no part of the counted path
  EXPECT_EQ(area.requests("dir/data.bin"), 2);

  Response missing = Fetch(area.url("dir/missing.bin"));
  EXPECT_EQ(missing.result, CURLE_OK);
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(Fetch(area.url("dir")).status, 404);  // folders are not listed
  EXPECT_EQ(area.requests("dir/missing.bin"), 1);
  EXPECT_EQ(area.requests("never/asked.bin"), 0);
}

TEST(TestServer, FaultsApplyTheGivenNumberOfTimes) {
  Area area;
  area.put("f.bin", "real");
  area.fault("f.bin", R"({"status": 503, "body": "busy", "times": 2})");
  Response first = Fetch(area.url("f.bin"));
  Response second = Fetch(area.url("f.bin"));
  Response third = Fetch(area.url("f.bin"));
  EXPECT_EQ(first.status, 503);
  EXPECT_EQ(first.body, "busy");
  EXPECT_EQ(second.status, 503);
  EXPECT_EQ(third.status, 200);
  EXPECT_EQ(third.body, "real");
  EXPECT_EQ(area.requests("f.bin"), 3);
  // Rewritten while in place, the new fault counts from the path's first request as well.
  area.fault("f.bin", R"({"status": 410, "times": 4})");
  EXPECT_EQ(Fetch(area.url("f.bin")).status, 410);
  EXPECT_EQ(Fetch(area.url("f.bin")).status, 200);

  // A fault may stand for a file that does not exist, and a 200 may carry other bytes.
  area.fault("ghost.bin", R"({"status": 200, "body": "invented"})");
  EXPECT_EQ(Fetch(area.url("ghost.bin")).body, "invented");
  area.clearFault("ghost.bin");
  EXPECT_EQ(Fetch(area.url("ghost.bin")).status, 404);
}

TEST(TestServer, RedirectsLeadToAnotherPathWithItsOwnFault) {
  Area area;
  std::string data = testfiles::RandomBytes(5000, 3);
  area.put("new/target.bin", data);
  area.fault("old.bin", R"({"mode": "redirect", "location": ")" + area.path("new/target.bin") + R"("})");
  Response moved = Fetch(area.url("old.bin"));
  EXPECT_EQ(moved.result, CURLE_OK);
  EXPECT_EQ(moved.status, 200);
  EXPECT_TRUE(moved.body == data);
  EXPECT_EQ(area.requests("old.bin"), 1);
  EXPECT_EQ(area.requests("new/target.bin"), 1);

  // The target's own fault then shapes the body the client ends up with.
  area.fault("new/target.bin", R"({"mode": "cut", "after": 1000})");
  Response cut = Fetch(area.url("old.bin"));
  EXPECT_EQ(cut.result, CURLE_PARTIAL_FILE);
  EXPECT_EQ(cut.body.size(), 1000u);
}

TEST(TestServer, BodyFaultsShapeTheTransfer) {
  Area area;
  std::string data = testfiles::RandomBytes(2000, 5);
  for (const char* name : {"cut.bin", "close.bin", "stall.bin", "drip.bin"}) area.put(name, data);
  area.fault("close.bin", R"({"mode": "close"})");
  area.fault("stall.bin", R"({"mode": "stall", "after": 100})");
  area.fault("drip.bin", R"({"mode": "drip", "rate": 8000})");
  area.fault("cut.bin", R"({"mode": "cut", "after": 700})");

  Response cut = Fetch(area.url("cut.bin"));
  EXPECT_EQ(cut.result, CURLE_PARTIAL_FILE);
  EXPECT_EQ(cut.body, data.substr(0, 700));

  EXPECT_EQ(Fetch(area.url("close.bin")).result, CURLE_GOT_NOTHING);

  Response stalled = Fetch(area.url("stall.bin"), 400);
  EXPECT_EQ(stalled.result, CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(stalled.status, 200);
  EXPECT_EQ(stalled.body, data.substr(0, 100));

  // 2000 bytes at 8000 bytes per second: a quarter of a second, whole in the end.
  auto start = std::chrono::steady_clock::now();
  Response dripped = Fetch(area.url("drip.bin"));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(dripped.result, CURLE_OK);
  EXPECT_TRUE(dripped.body == data);
  EXPECT_GE(elapsed, std::chrono::milliseconds(150));
}

TEST(TestServer, NamesArePercentDecoded) {
  Area area;
  area.put("with space/a b.bin", "spaced");
  area.put(u8"tệp Việt.bin", "vietnamese");
  EXPECT_EQ(Fetch(area.base() + "with%20space/a%20b.bin").body, "spaced");
  EXPECT_EQ(Fetch(area.url("with space/a b.bin")).body, "spaced");
  EXPECT_EQ(area.requests("with space/a b.bin"), 2);
  Response vietnamese = Fetch(area.url(u8"tệp Việt.bin"));
  EXPECT_EQ(vietnamese.status, 200);
  EXPECT_EQ(vietnamese.body, "vietnamese");
}

TEST(TestServer, FtpServesTheSameFilesAndRefusedPortRefuses) {
  Area area;
  std::string data = testfiles::RandomBytes(70000, 9);
  area.put("sub/file.bin", data);
  Response ftp = Fetch(area.ftpUrl("sub/file.bin"));
  EXPECT_EQ(ftp.result, CURLE_OK);
  EXPECT_EQ(ftp.status, 226);
  EXPECT_TRUE(ftp.body == data);

  EXPECT_EQ(Fetch(testserver::Get().refused + "/x.bin").result, CURLE_COULDNT_CONNECT);
}
