#include <gtest/gtest.h>

#include <sstream>

#include "support/ini_reader.h"

TEST(IniReader, ReadsValuesWithTrimmingAndInlineComments) {
  std::istringstream in("; comment\r\n   # indented comment\n\nurl = a#b\nk=v ; c\r\nspaced = value # note\n"
                        "mixed=a;b#c\nempty=\n=anonymous\neq=b=c\n");
  IniReader reader(in);
  IniLevel& top = reader.top();
  const std::pair<std::string, std::string> expected[] = {
      {"url", "a"}, {"k", "v "}, {"spaced", "value "}, {"mixed", "a;b"}, {"empty", ""}, {"", "anonymous"}, {"eq", "b=c"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(top.value(key), value) << key;
  EXPECT_EQ(top.value("absent"), "");
}

TEST(IniReader, ErrorsNameTheLine) {
  const std::pair<const char*, std::string> cases[] = {
      {"a=1\n\n# c\nbroken\n", "no '=' found on line #4"},
      {"k=1\r\nk=2\r\n", "duplicated key found on line #2"},
      {"[a]\nk=1\n[b]\nk=1\n", ""},  // the same key in two sections
      {"x=1\n[[b]]\n", "section with wrong depth on line #2"},
      {"[a]\n[[b]]\n[c]\n[a]\n", "duplicate section name on the same level on line #4"},
      {"[a]\n[a]\n", "duplicate section name on the same level on line #2"},
      {"[a]\n[[b]]\n[c]\n[[b]]\n", ""},  // the same name at depth 2 under another parent
      // Names are cut by count, the closing brackets never looked at: "t" and "u]".
      {"[ s ]\n[[t\n[u]]\n", ""},
      // A byte-order mark is not removed: the header behind it reads as a key line.
      {"\xEF\xBB\xBF[x]\nk=v\n", "no '=' found on line #1"}};
  for (const auto& [text, error] : cases) {
    std::istringstream in(text);
    std::string what;
    try {
      IniReader reader(in);
    } catch (const std::runtime_error& e) {
      what = e.what();
    }
    EXPECT_EQ(what, error) << text;
  }
  std::istringstream in("\xEF\xBB\xBFkey=v\n");
  IniReader reader(in);
  EXPECT_EQ(reader.top().value("\xEF\xBB\xBFkey"), "v");  // the mark belongs to the first key
}

TEST(IniReader, KeysBelowASectionAreNoTopLevelKeys) {
  std::istringstream in("top=1\n[a]\nk=a\n[[b]]\nk=b\n");
  IniReader reader(in);
  EXPECT_EQ(reader.top().value("top"), "1");
  EXPECT_EQ(reader.top().value("k"), "");
  EXPECT_EQ(reader.top().section("a").section("b").value("k"), "b");
}
