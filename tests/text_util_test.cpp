#include <gtest/gtest.h>

#include "support/text_util.h"

using Pieces = std::vector<std::string>;

TEST(TextUtil, LenientNumbersAndTexts) {
  EXPECT_EQ(ToInt("12abc"), 12);
  EXPECT_EQ(ToInt("abc"), 0);
  EXPECT_EQ(ToInt("99999999999"), 0);  // out of range for 32 bits
  EXPECT_EQ(ToInt("  7"), 7);
  EXPECT_EQ(ToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ToInt64("5368709120"), 5368709120LL);
  EXPECT_EQ(ToInt64("99999999999999999999"), 0);
  EXPECT_EQ(ToUInt("4294967295"), 4294967295u);
  EXPECT_EQ(ToUInt("4294967296"), 0u);
  EXPECT_EQ(ToUInt("-5"), 4294967291u);  // wraps around, never a size an empty file has
  EXPECT_EQ(ToUInt("-4294967296"), 0u);
  EXPECT_EQ(Split("", '='), Pieces{});
  EXPECT_EQ(Split("a==b=", '='), (Pieces{"a", "b"}));  // empty pieces are dropped
  EXPECT_EQ(Split("=x", '='), Pieces{"x"});
  EXPECT_EQ(Trim("   "), "   ");  // blanks only: unchanged
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_EQ(ReplaceAll("https://h/https/x", "https", "http"), "http://h/http/x");
  EXPECT_EQ(ReplaceAll(std::wstring(L"a\\b\\c"), L"\\", L"/"), L"a/b/c");
  // The search restarts from the start: a new occurrence formed with what precedes it is replaced too.
  EXPECT_EQ(ReplaceAll("aab", "ab", "b"), "b");
}
