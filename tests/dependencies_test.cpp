// The libraries the launcher is linked with, called once each, so that a broken build of any of
// them (the mingw builds come from Debian's sources) shows at once.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <minizip/unzip.h>
#include <zlib.h>

#include "platform/files.h"
#include "support/test_files.h"

TEST(Dependencies, LibcurlZlibAndMinizipWork) {
  std::string version = curl_version();
  EXPECT_NE(version.find("libcurl/"), std::string::npos) << version;
#ifdef _WIN32
  EXPECT_NE(version.find("Schannel"), std::string::npos) << version;  // Windows' own TLS
#endif
  const char* digits = "123456789";
  EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(digits), 9), 0xCBF43926u);

  std::wstring zip = testfiles::HostPath(std::string(VOREL_ZIP_ARCHIVES) + "/subfolders.zip");
  unzFile archive = unzOpen64(NarrowFileSystemPath(zip).c_str());
  ASSERT_NE(archive, nullptr);
  unz_global_info64 info;
  EXPECT_EQ(unzGetGlobalInfo64(archive, &info), UNZ_OK);
  EXPECT_EQ(info.number_entry, 4u);
  unzClose(archive);
}
