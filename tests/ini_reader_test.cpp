#include <gtest/gtest.h>

#include <sstream>

#include "support/ini_reader.h"

namespace {

std::string ErrorOf(const std::string& text) {
  std::istringstream in(text);
  try {
    IniReader reader(in);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(IniReader, ReadsValuesWithTrimmingAndInlineComments) {
  std::istringstream in(
      "; comment\r\n"
      "   # indented comment\n"
      "\n"
      "url = a#b\n"
      "k=v ; c\r\n"
      "spaced = value # note\n"
      "mixed=a;b#c\n"
      "empty=\n"
      "=anonymous\n"
      "eq=b=c\n");
  IniReader reader(in);
  IniLevel& top = reader.top();
  EXPECT_EQ(top.value("url"), "a");
  EXPECT_EQ(top.value("k"), "v ");
  EXPECT_EQ(top.value("spaced"), "value ");
  EXPECT_EQ(top.value("mixed"), "a;b");
  EXPECT_EQ(top.value("empty"), "");
  EXPECT_EQ(top.value(""), "anonymous");
  EXPECT_EQ(top.value("eq"), "b=c");
  // Lookups of absent keys insert an empty value that does not join the ordered view.
  EXPECT_EQ(top.value("absent"), "");
  ASSERT_EQ(top.orderedValues.size(), 7u);
  EXPECT_EQ(top.orderedValues.front()->first, "url");
  EXPECT_EQ(top.orderedValues.back()->first, "eq");
}

TEST(IniReader, ErrorsNameTheLine) {
  EXPECT_EQ(ErrorOf("a=1\n\n# c\nbroken\n"), "no '=' found on line #4");
  EXPECT_EQ(ErrorOf("k=1\r\nk=2\r\n"), "duplicated key found on line #2");
  EXPECT_EQ(ErrorOf("x=1\n[[b]]\n"), "section with wrong depth on line #2");
  EXPECT_EQ(ErrorOf("[a]\n[[b]]\n[c]\n[a]\n"), "duplicate section name on the same level on line #4");
  EXPECT_EQ(ErrorOf("[a]\n[a]\n"), "duplicate section name on the same level on line #2");
  // A byte-order mark is not removed: the header behind it reads as a key line.
  EXPECT_EQ(ErrorOf("\xEF\xBB\xBF[x]\nk=v\n"), "no '=' found on line #1");
  EXPECT_EQ(ErrorOf(""), "");
}

TEST(IniReader, ByteOrderMarkBecomesPartOfTheFirstKey) {
  std::istringstream in("\xEF\xBB\xBFkey=v\n");
  IniReader reader(in);
  EXPECT_EQ(reader.top().value("key"), "");
  EXPECT_EQ(reader.top().value("\xEF\xBB\xBFkey"), "v");
}

TEST(IniReader, SectionsNestByBracketDepth) {
  std::istringstream in(
      "top=1\n"
      "[a]\n"
      "k=a\n"
      "[[b]]\n"
      "k=b\n"
      "[c]\n"
      "k=c\n"
      "[[b]]\n"
      "[ s ]\n"
      "[[t\n"
      "[u]]\n");
  IniReader reader(in);
  IniLevel& top = reader.top();
  EXPECT_EQ(top.value("top"), "1");
  EXPECT_EQ(top.value("k"), "");  // section keys are not seen at the top
  IniLevel& a = top.section("a");
  EXPECT_EQ(a.depth, 1u);
  EXPECT_EQ(a.value("k"), "a");
  EXPECT_EQ(a.section("b").value("k"), "b");
  EXPECT_EQ(a.section("b").parent, &a);
  EXPECT_EQ(top.section("c").parent, &top);
  EXPECT_EQ(top.section("c").value("k"), "c");
  // The same name at depth 2 under another parent is not a duplicate.
  EXPECT_EQ(top.section("c").section("b").depth, 2u);
  // Names are cut by count: " s " keeps its blanks, "[[t" gives "t", "[u]]" gives "u]".
  EXPECT_EQ(top.section(" s ").depth, 1u);
  EXPECT_EQ(top.section(" s ").section("t").depth, 2u);
  EXPECT_EQ(top.section("u]").depth, 1u);
  std::vector<std::string> order;
  for (auto* entry : top.orderedSections) order.push_back(entry->first);
  EXPECT_EQ(order, (std::vector<std::string>{"a", "c", " s ", "u]"}));
  // Sorted view: byte order.
  EXPECT_EQ(top.sections.begin()->first, " s ");
}

TEST(IniReader, UnplacedSectionFromLookupIsNotADuplicate) {
  std::istringstream in("[a]\n");
  IniReader reader(in);
  IniLevel& fresh = reader.top().section("zz");
  EXPECT_EQ(fresh.depth, 0u);
  EXPECT_EQ(fresh.parent, nullptr);
}
