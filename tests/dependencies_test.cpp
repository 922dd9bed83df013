// The libcurl the launcher is linked with (the mingw build comes from Debian's sources), asked
// for its version so that a broken build shows at once. zlib and minizip are called by the
// checksum and extraction tests.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

TEST(Dependencies, LibcurlWithTheSystemsTls) {
  std::string version = curl_version();
  EXPECT_NE(version.find("libcurl/"), std::string::npos) << version;
#ifdef _WIN32
  EXPECT_NE(version.find("Schannel"), std::string::npos) << version;  // Windows' own TLS
#endif
}
