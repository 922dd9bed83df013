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
  // Lookups of absent keys insert an empty value that does not join the ordered view.
  EXPECT_EQ(top.value("absent"), "");
  std::vector<std::pair<std::string, std::string>> ordered;
  for (auto* entry : top.orderedValues) ordered.push_back(*entry);
  EXPECT_EQ(ordered, (std::vector<std::pair<std::string, std::string>>(std::begin(expected), std::end(expected))));
}

TEST(IniReader, ErrorsNameTheLine) {
  const std::pair<const char*, std::string> cases[] = {
      {"a=1\n\n# c\nbroken\n", "no '=' found on line #4"},
      {"k=1\r\nk=2\r\n", "duplicated key found on line #2"},
      {"[a]\nk=1\n[b]\nk=1\n", ""},  // the same key in two sections
      {"x=1\n[[b]]\n", "section with wrong depth on line #2"},
      {"[a]\n[[b]]\n[c]\n[a]\n", "duplicate section name on the same level on line #4"},
      {"[a]\n[a]\n", "duplicate section name on the same level on line #2"},
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

TEST(IniReader, SectionsNestByBracketDepth) {
  std::istringstream in("top=1\n[a]\nk=a\n[[b]]\nk=b\n[c]\nk=c\n[[b]]\n[ s ]\n[[t\n[u]]\n");
  IniReader reader(in);
  IniLevel& top = reader.top();
  EXPECT_EQ(top.value("top"), "1");
  EXPECT_EQ(top.value("k"), "");  // section keys are not seen at the top
  IniLevel& a = top.section("a");
  EXPECT_EQ(a.depth, 1u);
  EXPECT_EQ(a.value("k"), "a");
  EXPECT_EQ(a.section("b").value("k"), "b");
  EXPECT_EQ(a.section("b").parent, &a);
  EXPECT_EQ(top.section("c").value("k"), "c");
  // The same name at depth 2 under another parent is not a duplicate.
  EXPECT_EQ(top.section("c").section("b").parent, &top.section("c"));
  EXPECT_EQ(top.section("c").section("b").depth, 2u);
  // Names are cut by count: " s " keeps its blanks, "[[t" gives "t", "[u]]" gives "u]".
  EXPECT_EQ(top.section(" s ").section("t").depth, 2u);
  EXPECT_EQ(top.section("u]").depth, 1u);
  // A section only looked up is unplaced and joins no ordered view.
  EXPECT_EQ(top.section("zz").parent, nullptr);
  std::vector<std::string> order;
  for (auto* entry : top.orderedSections) order.push_back(entry->first);
  EXPECT_EQ(order, (std::vector<std::string>{"a", "c", " s ", "u]"}));
  EXPECT_EQ(top.sections.begin()->first, " s ");  // the sorted view: byte order
}
