#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>

#include "app/usage_events.h"
#include "support/test_server.h"
#include "ui/window_metrics.h"

using testserver::Area;

namespace {

const char StartDesc[] = "%E5%90%AF%E5%8A%A8%E5%99%A8%E5%90%AF%E5%8A%A8%E6%B5%81%E6%B0%B4";
const char StopDesc[] = "%E5%90%AF%E5%8A%A8%E5%99%A8%E5%85%B3%E9%97%AD%E6%B5%81%E6%B0%B4";

}  // namespace

TEST(UsageEvents, UrlEncode) {
  EXPECT_EQ(UrlEncode("a b_c"), "a+b%5Fc");
  EXPECT_EQ(UrlEncode("x~y.z-1"), "x~y.z-1");
  EXPECT_EQ(UrlEncodeUtf8("\xC3\xA9/&="), "%C3%A9%2F%26%3D");
  // The output stops before it would pass 1023 bytes, never inside a "%XX" triple.
  EXPECT_EQ(UrlEncode(std::string(2000, 'a')), std::string(1023, 'a'));
  EXPECT_EQ(UrlEncode(std::string(1022, 'a') + "_b"), std::string(1022, 'a'));
  EXPECT_EQ(UrlEncode(std::string(400, '_')).size(), 1023u);  // 341 whole triples
}

TEST(UsageEvents, BodiesFieldByField) {
  const std::string mac = "00:1a:2b:3c:4d:5e";
  const std::string id = "0123ABCD-0001-0002-0304-05060708090A";
  const std::string head = "msgType=custom.event&datasource=launcher&appId=111111551&msgVersion=2.0&deviceId=" + mac +
                           "&mac=" + mac + "&appVersion=4.1.2037&msgId=" + id +
                           "&dteventtime=2024-05-06 13:45:10.042&timestamp=2024-05-06 13:45:10.043";
  // The descriptions are GBK text, sent as the percent-encoded UTF-8 of the Chinese words on
  // every system.
  EXPECT_EQ(BuildEventBody(UsageEvent::Start, mac, id, "2024-05-06 13:45:10.042", "2024-05-06 13:45:10.043", 99),
            head + "&eventId=starteronflow&eventDesc=" + StartDesc + "&eventVal=0&channel=window&platid=3");
  EXPECT_EQ(BuildEventBody(UsageEvent::Stop, mac, id, "2024-05-06 13:45:10.042", "2024-05-06 13:45:10.043", 75),
            head + "&eventId=starteroffflow&eventDesc=" + StopDesc + "&eventVal=0&channel=window&platid=3&duration=75");
  EXPECT_EQ(RunningSeconds(1000, 76900), 75);  // 75.9 s of running time
}

TEST(UsageEvents, ReachTheCollector) {
  Area area;
  const std::string url = area.url("bisdk/batchpush") + "?df=form&appId=111111678";
  {
    // A clock that moves on at every reading shows which reading each field took.
    int readings = 0;
    UsageReporter reporter({}, [&readings] { return "2024-05-06 13:45:10.00" + std::to_string(++readings); });
    reporter.sendStartEvent(url, "00:1a:2b:3c:4d:5e");
    EXPECT_TRUE(reporter.sendStopEvent(url, "00:1a:2b:3c:4d:5e", 75, 10000));
    UsageReporter silent;  // no wired adapter: nothing is sent
    silent.sendStartEvent(url, "");
    EXPECT_FALSE(silent.sendStopEvent(url, "", 1, 1000));
  }
  std::vector<std::string> posts = area.posts("bisdk/batchpush");
  ASSERT_EQ(posts.size(), 2u);
  const std::regex body(
      "\r\n\r\nmsgType=custom\\.event&datasource=launcher&appId=111111551&msgVersion=2\\.0"
      "&deviceId=00:1a:2b:3c:4d:5e&mac=00:1a:2b:3c:4d:5e&appVersion=4\\.1\\.2037"
      "&msgId=([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})"
      "&dteventtime=2024-05-06 13:45:10\\.00(\\d)&timestamp=2024-05-06 13:45:10\\.00(\\d)"
      "&eventId=(starteronflow|starteroffflow)&eventDesc=%E5[0-9A-F%]+&eventVal=0&channel=window&platid=3(&duration=75)?$");
  // The two events may arrive in either order; each is whole, with a message id of its own.
  std::set<std::string> ids, events;
  for (const auto& post : posts) {
    std::smatch match;
    ASSERT_TRUE(std::regex_search(post, match, body)) << post;
    ids.insert(match[1]);
    // The event's time is read first, the stamp by the next reading.
    EXPECT_EQ(std::stoi(match[2].str()) + 1, std::stoi(match[3].str())) << post;
    events.insert(match[4]);
    EXPECT_EQ(post.rfind("POST " + area.path("bisdk/batchpush") + "?df=form&appId=111111678 HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(post.find("\r\nContent-Type: application/x-www-form-urlencoded;charset=utf8\r\n"), std::string::npos);
  }
  EXPECT_EQ(ids.size(), 2u);
  EXPECT_EQ(events.size(), 2u);
}

TEST(UsageEvents, ASilentCollectorHoldsNobodyPastTheTimeouts) {
  Area area;
  area.put("silent", "");
  area.fault("silent", R"({"delay": 60})");
  auto started = std::chrono::steady_clock::now();
  {
    UsageReporter reporter(UsageTimeouts{1000, 2000});
    reporter.sendStartEvent(area.url("silent"), "00:1a:2b:3c:4d:5e");
    // The stop event is waited for at most as long as asked, then the caller goes on.
    EXPECT_FALSE(reporter.sendStopEvent(area.url("silent"), "00:1a:2b:3c:4d:5e", 3, 500));
  }
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::seconds(20));  // bounded by the 2 s time-out, not by the 60 s silence
  EXPECT_EQ(area.posts("silent").size(), 2u);
  // Unsupported schemes are refused at once.
  EXPECT_EQ(PostUsageEvent("file:///etc/passwd", "x=1"), 0);
}
