// Arbitrary bytes as the server and launcher configurations, local and fetched, and as a
// version text. The first byte picks the variant; the rest is the file.
#include "fuzz_common.h"
#include "update/config.h"
#include "update/file_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Patcher& patcher = fuzz::QuietPatcher();
  const uint8_t variant = data[0] % 3;
  const fs::path path = fuzz::Scratch() / "config.txt";
  fuzz::WriteBytes(path, data + 1, size - 1);
  if (variant == 0) {
    ServerConfig config;
    ParseServerConfig(fuzz::Wide(path), config, data[0] & 0x80, patcher.alphabet, patcher.logger);
  } else if (variant == 1) {
    LauncherConfig config;
    ParseLauncherConfig(fuzz::Wide(path), config, patcher.alphabet, patcher.logger);
    // A package path that would climb out of the staging folder is never taken.
    fuzz::Require(config.launcherZipInfo.path.empty() || IsSafeRelativePath(config.launcherZipInfo.path));
  } else {
    Version version = ParseVersion(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    if (IsValidVersion(version)) {
      Version again = ParseVersion(FormatVersion(version));
      fuzz::Require(again.major == version.major && again.minor == version.minor && again.patch == version.patch);
    }
  }
  return 0;
}
