#include <gtest/gtest.h>

#include "ui/texts.h"

// The sources are UTF-8; both compilers must read them so, or the diacritics break. One text
// with two- and three-byte characters, spelled by code point, shows how the compiler read them.
TEST(Texts, DiacriticsSurviveCompilation) {
  EXPECT_EQ(texts::Initialising, L"\u0110ang kh\u1EDFi t\u1EA1o ch\u01B0\u01A1ng tr\u00ECnh");
  // The delete message ends in a colon and a blank, so the path follows after exactly one blank.
  const std::wstring& del = texts::DeleteFailed;
  EXPECT_EQ(del.substr(del.size() - 3), L" : ");
}
