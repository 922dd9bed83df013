// What the other tests take on trust from the local test servers and the transfer tests do
// not show: request counting, faults limited in number, escaped names.
#include <gtest/gtest.h>

#include "support/test_server.h"

using testserver::Area;
using testserver::Fetch;
using testserver::Response;

TEST(TestServer, CountsRequestsAndAppliesFaultsTheGivenNumberOfTimes) {
  Area area;
  area.put("dir/a b.bin", "real");
  area.fault("dir/a b.bin", R"({"status": 503, "body": "busy", "times": 2})");
  EXPECT_EQ(Fetch(area.url("dir/a b.bin")).status, 503);
  // Escapes are decoded and the query is no part of the path.
  Response second = Fetch(area.base() + "dir/a%20b.bin?cache=no");
  EXPECT_EQ(second.status, 503);
  EXPECT_EQ(second.body, "busy");
  Response third = Fetch(area.url("dir/a b.bin"));
  EXPECT_EQ(third.status, 200);
  EXPECT_EQ(third.body, "real");
  EXPECT_EQ(area.requests("dir/a b.bin"), 3);
  EXPECT_EQ(area.requests("never/asked.bin"), 0);
  EXPECT_EQ(Fetch(area.url("dir")).status, 404);  // folders are not listed
}
