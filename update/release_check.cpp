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

ReleaseEnd AcceptRelease(Patcher& patcher, const std::wstring& installDir, const Version& ownLauncher, int64_t now,
                         const std::vector<std::string>& manifestUrls, const std::vector<std::string>& signatureUrls) {
  AcceptedRelease record;
  const bool haveRecord = ReadAcceptedRelease(installDir, record);
  // Without a record (a first run, or one that cannot be read) the running launcher is the floor.
  Version launcherFloor = haveRecord ? record.launcher : Version{};
  if (IsValidVersion(ownLauncher) && (!IsValidVersion(launcherFloor) || VersionIsLower(launcherFloor, ownLauncher)))
    launcherFloor = ownLauncher;
  patcher.releaseRecordMissing = !haveRecord;
  bool expired = false;
  for (size_t i = 0; i < manifestUrls.size() && i < signatureUrls.size(); ++i) {
    auto refuse = [&](const std::string& why) {
      patcher.logger.error("Release manifest refused! url = " + manifestUrls[i] + "    " + why);
      expired = false;
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
    if (IsValidVersion(launcherFloor) && VersionIsLower(manifest.launcherVersion, launcherFloor)) {
      refuse("its launcher " + FormatVersion(manifest.launcherVersion) + " is older than " +
             FormatVersion(launcherFloor));
      continue;
    }
    if (haveRecord && VersionIsLower(manifest.incrementVersion, record.game)) {
      refuse("older than the accepted release " + FormatVersion(record.launcher) + "/" + FormatVersion(record.game));
      continue;
    }
    if (haveRecord && manifest.issued < record.issued) {
      refuse("issued " + FormatUtcTime(manifest.issued) + ", before the accepted release of " +
             FormatUtcTime(record.issued));
      continue;
    }
    if (now > manifest.expires && now - manifest.expires > kReleaseClockToleranceSeconds) {
      refuse("expired " + FormatUtcTime(manifest.expires) + ", the clock says " + FormatUtcTime(now));
      expired = true;
      continue;
    }
    patcher.release = manifest;
    patcher.logger.info("Release manifest accepted  launcher = " + FormatVersion(manifest.launcherVersion) +
                        "  game = " + FormatVersion(manifest.incrementVersion) + "/" +
                        FormatVersion(manifest.zipVersion) + "  issued = " + FormatUtcTime(manifest.issued) +
                        "  expires = " + FormatUtcTime(manifest.expires));
    return ReleaseEnd::Accepted;
  }
  return expired ? ReleaseEnd::Expired : ReleaseEnd::Refused;
}

bool AttachReleaseHashes(Patcher& patcher, std::vector<FileListEntry>& entries) {
  return Attach(patcher, entries, patcher.release.files);
}

bool AttachReleaseHashes(Patcher& patcher, std::vector<ZipListEntry>& entries) {
  return Attach(patcher, entries, patcher.release.packages);
}
