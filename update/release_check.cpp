#include "update/release_check.h"

#include "net/http_transfer.h"
#include "support/signature.h"
#include "update/patcher.h"

namespace {

template <typename Entry>
bool Attach(Patcher& patcher, std::vector<Entry>& entries, const std::map<std::string, ReleaseItem>& items) {
  for (auto& entry : entries) {
    if (entry.path.empty()) continue;  // a line that could not be read: never fetched
    auto found = items.find(entry.path);
    if (found == items.end() || found->second.size != static_cast<uint64_t>(entry.size)) {
      patcher.logger.error("Release check failed! " + entry.path + " is not in the release manifest as listed");
      return false;
    }
    entry.sha256 = found->second.sha256;
  }
  return true;
}

}  // namespace

bool AcceptRelease(Patcher& patcher, const std::wstring& installDir, const std::vector<std::string>& manifestUrls,
                   const std::vector<std::string>& signatureUrls) {
  Version acceptedLauncher, acceptedGame;
  bool haveAccepted = ReadAcceptedRelease(installDir, acceptedLauncher, acceptedGame);
  for (size_t i = 0; i < manifestUrls.size() && i < signatureUrls.size(); ++i) {
    auto refuse = [&](const std::string& why) {
      patcher.logger.error("Release manifest refused! url = " + manifestUrls[i] + "    " + why);
    };
    std::string text, signature;
    if (!patcher.fetchText(manifestUrls[i], text)) continue;
    if (!patcher.fetchText(signatureUrls[i], signature)) {
      refuse("no signature");
      continue;
    }
    if (!SignedWithKey(text, signature, patcher.releasePublicKey)) {
      refuse("the signature does not match");
      continue;
    }
    ReleaseManifest manifest;
    std::string problem;
    if (!ParseReleaseManifest(text, manifest, problem)) {
      refuse("unreadable manifest, " + problem);
      continue;
    }
    if (haveAccepted && (VersionIsLower(manifest.launcherVersion, acceptedLauncher) ||
                         VersionIsLower(manifest.incrementVersion, acceptedGame))) {
      refuse("older than the accepted release " + FormatVersion(acceptedLauncher) + "/" +
             FormatVersion(acceptedGame));
      continue;
    }
    patcher.release = manifest;
    patcher.logger.info("Release manifest accepted  launcher = " + FormatVersion(manifest.launcherVersion) +
                        "  game = " + FormatVersion(manifest.incrementVersion) + "/" +
                        FormatVersion(manifest.zipVersion));
    return true;
  }
  return false;
}

bool AttachReleaseHashes(Patcher& patcher, std::vector<FileListEntry>& entries) {
  return Attach(patcher, entries, patcher.release.files);
}

bool AttachReleaseHashes(Patcher& patcher, std::vector<ZipListEntry>& entries) {
  return Attach(patcher, entries, patcher.release.packages);
}
