#include "support/published_game.h"

PublishOptions GameRelease(const testserver::Area& server, const std::wstring& workDir,
                           const std::string& launcherVersion, uint64_t packageSize) {
  PublishOptions options;
  options.gameDir = workDir + L"\\game";
  options.launcherDir = workDir + L"\\launcher";
  options.outputDir = server.file("");
  options.gameVersion = "1.0.3";
  options.launcherVersion = launcherVersion;
  options.mirrors = {server.base()};
  options.packageSize = packageSize;
  return options;
}

PublishResult PublishGame(const testserver::Area& server, const std::wstring& workDir,
                          const std::string& launcherVersion, uint64_t packageSize, const std::string& signingKey) {
  PublishOptions options = GameRelease(server, workDir, launcherVersion, packageSize);
  if (!signingKey.empty()) options.signingKeys = {signingKey};
  return Publish(options);
}
