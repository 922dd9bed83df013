#include <gtest/gtest.h>

#include "support/texts.h"

// The sources are UTF-8 and both compilers must read them so: a text spelled by code point
// differs from the catalogue's when one does not, and every diacritic on screen would be wrong.
TEST(Texts, SourcesAreReadAsUtf8) {
  EXPECT_EQ(texts::Initialising, L"\u0110ang kh\u1EDFi t\u1EA1o ch\u01B0\u01A1ng tr\u00ECnh");
}
