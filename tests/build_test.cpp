// What the build itself must get right.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "support/texts.h"

// The sources are UTF-8 and both compilers must read them so: a text spelled by code point
// differs from the catalogue's when one does not, and every diacritic on screen would be wrong.
TEST(Build, SourcesAreReadAsUtf8) {
  EXPECT_EQ(texts::Initialising, L"\u0110ang kh\u1EDFi t\u1EA1o ch\u01B0\u01A1ng tr\u00ECnh");
}

// The libcurl of the mingw build comes from Debian's sources: a broken build shows here at once.
TEST(Build, LibcurlWithTheSystemsTls) {
  std::string version = curl_version();
  EXPECT_NE(version.find("libcurl/"), std::string::npos) << version;
#ifdef _WIN32
  EXPECT_NE(version.find("Schannel"), std::string::npos) << version;  // Windows' own TLS
#endif
}
