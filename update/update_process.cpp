// One whole update run: launcher check (and self-update), server check, game directory
// selection, file check, zip update, increment update, directory switch and finish.
#include <set>

#include "app/names.h"
#include "net/http_transfer.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/text_util.h"
#include "ui/texts.h"
#include "update/download_passes.h"
#include "update/file_list.h"
#include "update/patcher.h"
#include "update/release_check.h"
#include "update/self_update.h"
#include "update/tree_ops.h"
#include "update/verify.h"
#include "update/zip_extract.h"

namespace {

std::wstring Join(const std::wstring& dir, const std::wstring& name) { return dir + L"\\" + name; }

// A list path as the staging folder's listing names it: backslashes, and no empty components
// (a leading or doubled separator names the same file).
std::wstring NormalisedRelative(const std::wstring& path) {
  std::wstring result;
  for (wchar_t c : path) {
    bool separator = c == L'/' || c == L'\\';
    if (separator && (result.empty() || result.back() == L'\\')) continue;
    result += separator ? L'\\' : c;
  }
  return result;
}

// Files left in the staging folder by an earlier, failed run that this run does not fetch
// would otherwise be copied over the game as they are: keep only what this run needs.
void PruneStaging(const std::wstring& dir, const std::wstring& relative, const std::set<std::wstring>& keep) {
  std::wstring pattern = ListingPattern(dir);
  DirectoryListing listing;
  if (!listing.open(pattern)) return;
  DirectoryEntry entry;
  while (listing.next(entry)) {
    if (entry.name == L"." || entry.name == L"..") continue;
    std::wstring child = Join(dir, entry.name);
    std::wstring childRelative = relative.empty() ? entry.name : relative + L"\\" + entry.name;
    if (entry.isDirectory) {
      PruneStaging(child, childRelative, keep);
    } else if (!keep.count(childRelative)) {
      RemoveFile(child);
    }
  }
}

}  // namespace

bool Patcher::UpdateProcess(const std::string& baseUrl) {
  // Preparation.
  const std::wstring I = InstallDir();
  const std::wstring localLauncherConfig = Join(Join(I, ConfigDirName), LauncherConfigFileW);
  const std::wstring fetchedLauncherConfig = Join(Join(I, TempDirName), LauncherConfigFileW);
  const std::wstring localServerConfig = LocalServerConfigPath(I);
  const std::wstring fetchedServerConfig = Join(Join(I, TempDirName), ServerConfigFileW);
  const std::wstring workingDir = I + L"\\Temp";
  const std::wstring selfUpdateDir = Join(Join(I, TempDirName), LauncherUpdateDirName);
  const std::wstring gameRoot = Join(I, GameRootName);
  const std::wstring gameDir = Join(I, GameDirRel);
  const std::wstring packageRoot = Join(I, PackageRootName);
  const std::wstring packageGameDir = Join(packageRoot, GameFolderName);
  const std::wstring incrementDir = Join(Join(I, TempDirName), IncrementDirRel);

  OpenDayLog(logger, I);
  if (closeGameFirst) {
    statusText = texts::WaitingForGameToClose;
    KillProcessesByName(GameExeName);
  }

  // Launcher version.
  LauncherConfig localLauncher, remoteLauncher;
  bool forceSelfUpdate = false;
  if (FileExists(localLauncherConfig)) {
    forceSelfUpdate = !ParseLauncherConfig(localLauncherConfig, localLauncher, alphabet, logger);
    logger.info("Local launcher version : " + FormatVersion(localLauncher.launcherVersion));
  } else {
    logger.info("Missing local launcherconfig, force launcher self-update");
    forceSelfUpdate = true;
  }
  auto candidates = [&](const std::vector<std::string>& bases, const std::string& name, const std::string& extra) {
    std::vector<std::string> list = BuildCandidateUrls(bases, name, extra);
    RewriteHttps(list);
    return list;
  };
  std::vector<std::string> urls = candidates(localLauncher.remoteURLs, LauncherConfigFileA, baseUrl);
  statusText = texts::CheckingLauncher;
  // Signed releases: the manifest comes first, from the configuration's own addresses, and every
  // text fetched after it must be the one it names.
  if (signedReleases() &&
      !AcceptRelease(*this, I, candidates(localLauncher.remoteURLs, ReleaseManifestFileA, baseUrl),
                     candidates(localLauncher.remoteURLs, ReleaseSignatureFileA, baseUrl)))
    return fail(texts::ReleaseNotVerified);
  auto vouchedText = [&](const std::string& name) -> std::string {
    if (!signedReleases()) return "";
    auto found = release.texts.find(name);
    return found != release.texts.end() ? found->second : "(not in the release manifest)";
  };
  if (!DownloadFirstAvailable(fetchedLauncherConfig, urls, vouchedText(LauncherConfigFileA))) return failFetch();
  if (FileExists(fetchedLauncherConfig)) {
    ParseLauncherConfig(fetchedLauncherConfig, remoteLauncher, alphabet, logger);
    logger.info("Latest launcer version : " + FormatVersion(remoteLauncher.launcherVersion));
  }
  if (LauncherIsOlder(localLauncher.launcherVersion, remoteLauncher.launcherVersion)) forceSelfUpdate = true;

  // Launcher self-update.
  if (forceSelfUpdate) {
    logger.info("=========Launcher self-update process");
    CreateDirectories(selfUpdateDir);
    std::string name = FormatVersion(remoteLauncher.launcherVersion) + "/" + remoteLauncher.launcherZipInfo.path;
    urls = candidates(remoteLauncher.remoteURLs, name, baseUrl);
    if (signedReleases()) {
      bool listed = release.launcherPath == remoteLauncher.launcherZipInfo.path &&
                    static_cast<int64_t>(release.launcherPackage.size) == remoteLauncher.launcherZipInfo.size;
      remoteLauncher.launcherZipInfo.sha256 = listed ? release.launcherPackage.sha256 : "(not in the release manifest)";
    }
    if (FetchLauncherPackage(*this, I, urls, remoteLauncher.launcherZipInfo)) {
      CreateDirectories(localLauncherConfig);
      ApplyLauncherUpdate(*this, I, selfUpdateDir);  // ends the process when the script starts
      uint32_t code = LastErrorCode();
      return fail(texts::PermissionProblem + L" LastError(" + std::to_wstring(code) + L")");
    }
    stage = Failed;
    return false;
  }

  // Server configuration and versions.
  ServerConfig localServerConfigInfo, remoteServer;
  bool haveLocalServerConfig = false;
  if (FileExists(localServerConfig)) {
    haveLocalServerConfig = true;
    ParseServerConfig(localServerConfig, localServerConfigInfo, true, alphabet, logger);
  }
  urls = candidates(remoteLauncher.remoteURLs, ServerConfigFileA, "");
  statusText = texts::CheckingVersion;
  if (!DownloadFirstAvailable(fetchedServerConfig, urls, vouchedText(ServerConfigFileA))) return failFetch();
  if (FileExists(fetchedServerConfig)) {
    ParseServerConfig(fetchedServerConfig, remoteServer, false, alphabet, logger);
    std::wstring label = texts::VersionTemplate;
    if (IsValidVersion(remoteServer.incrementVersion))
      label = ReplaceAll(label, L"y.y.y", AnsiToWide(FormatVersion(remoteServer.incrementVersion)));
    if (IsValidVersion(remoteServer.zipVersion))
      label = ReplaceAll(label, L"x.x.x", AnsiToWide(FormatVersion(remoteServer.zipVersion)));
    versionText = label;
  }
  RewriteHttps(remoteServer.filelistURLs);
  RewriteHttps(remoteServer.zipupdateURLs);
  RewriteHttps(remoteServer.incrementupdateURLs);
  RewriteHttps(remoteServer.ziplistURLs);
  bool needZip = GameNeedsZip(localServerConfigInfo.incrementVersion, remoteServer);
  logger.info("Local game version : " + FormatVersion(localServerConfigInfo.incrementVersion));
  logger.info("Latest game version : " + FormatVersion(remoteServer.incrementVersion) + "/" +
              FormatVersion(remoteServer.zipVersion));

  // Game directory selection.
  auto deleteOldGame = [&]() {
    statusText = texts::Arranging + L" ( 0% )";
    int64_t total = static_cast<int64_t>(DirectorySize(gameRoot));
    logger.info("Delete old game files");
    int64_t deleted = 1;
    return DeleteTreeWithProgress(*this, gameRoot, texts::Arranging, &deleted, &total);
  };
  auto deleteFailedLine = [&](uint32_t code) {
    logger.info(" Delete local game directory failed LastError = " + std::to_string(code) + " Errno = " + "0");
  };
  if (localServerConfigInfo.usePackage) {
    inPackage = true;
    logger.info("Current Game Directory is Package");
    // The old tree only goes when a package is there to take its place: without one it is the
    // only copy of the game, and deleting it would force a full download.
    if (DirectoryExists(gameRoot) && DirectoryExists(packageRoot)) {
      statusText = texts::Arranging + L" ( 0% )";
      logger.info("Detecte Old Game Directory, need to remove");
      if (!deleteOldGame()) {
        uint32_t code = LastErrorCode();
        deleteFailedLine(code);
        return fail(texts::DeleteFailed + gameRoot + L" LastError(" + std::to_wstring(code) + L") Errno(0)");
      }
    }
    if (!DirectoryExists(packageRoot)) {
      inPackage = false;
      localServerConfigInfo.usePackage = false;
      SetLocalServerConfigValue("usePackage", "False");
    } else {
      statusText = texts::Renaming;
      int r = RenamePath(packageRoot, gameRoot);
      if (r != 0) {
        logger.info("Rename failed LastError = " + std::to_string(LastErrorCode()) + " Errno = " + std::to_string(r) +
                    " Keep UsePackage = True and Continue Process");
      } else {
        inPackage = false;
        localServerConfigInfo.usePackage = false;
        SetLocalServerConfigValue("usePackage", "False");
      }
    }
  }

  // File list and choice of update.
  std::string fileListText = FetchFirstAvailableText(remoteServer.filelistURLs, vouchedText(FileListNameA));
  if (fileListText.empty()) return failFetch();
  std::vector<FileListEntry> fileList = ParseFileList(fileListText, *this);
  if (signedReleases() && !AttachReleaseHashes(*this, fileList)) return fail(texts::ReleaseNotVerified);
  CheckResults check = CheckLocalFiles(*this, gameDir, fileList);
  logger.info("Check local files filesToDownload = " + std::to_string(check.filesToDownload) +
              "    bytesToDownload = " + std::to_string(check.bytesToDownload));
  if (!haveLocalServerConfig && needZip && check.filesToDownload == 0 && check.bytesToDownload == 0) needZip = false;
  if (!inPackage && !DirectoryExists(gameDir)) {
    logger.info("Can not locate local game directory, force zip update");
    needZip = true;
  }
  if (needZip && inPackage) {
    logger.error("ZipUpdate is not reachable while using package! End Launcher Process");
    return fail(texts::CannotVerify);
  }

  // Zip update.
  if (needZip) {
    std::string zipListText = FetchFirstAvailableText(remoteServer.ziplistURLs, vouchedText(ZipListNameA));
    if (zipListText.empty()) return failFetch();
    int64_t unpackedTotal = 0;
    std::vector<ZipListEntry> zipList = ParseZipList(zipListText, *this, unpackedTotal);
    if (signedReleases() && !AttachReleaseHashes(*this, zipList)) return fail(texts::ReleaseNotVerified);
    CheckResults zipCheck = CheckZipFiles(*this, I, zipList);
    logger.info("=========Zip update process");
    uint64_t required = zipCheck.bytesToDownload + static_cast<uint64_t>(unpackedTotal);
    if (!HasEnoughDiskSpace(*this, I, required)) {
      enoughDiskSpace = false;
      logger.warning("No Enough Space For ZipUpdate! May Cause Update Error!");
    }
    if (zipCheck.filesToDownload > 0) {
      logger.info("Zip download total files: " + std::to_string(zipCheck.filesToDownload));
      DownloadCounters counters = DownloadZipFiles(*this, I, remoteServer.zipupdateURLs, zipList,
                                                   zipCheck.filesToDownload, zipCheck.bytesToDownload);
      logger.info("Finsh zip download filesToDownload = " + std::to_string(zipCheck.filesToDownload) +
                  "  failedFiles = " + std::to_string(counters.failedFiles) +
                  "  localFaults = " + std::to_string(counters.localFaults));
      if (counters.localFaults != 0) return fail(texts::PermissionProblem);
      if (counters.failedFiles != 0) return fail(texts::DownloadFailed + codesSuffix());
    }
    if (!UnzipPackage(*this, I, zipList, unpackedTotal)) {
      stage = Failed;
      return false;
    }
    logger.info("=========Zip update finish");
  }

  // Increment update.
  std::wstring checkGamePath = gameDir;
  if (needZip || inPackage) {
    checkGamePath = packageGameDir;
    check = CheckLocalFiles(*this, checkGamePath, fileList);
  }
  logger.info("Check local game files checkGamePath:  " + WideToAnsi(checkGamePath) +
              "    filesToDownload = " + std::to_string(check.filesToDownload));
  if (check.filesToDownload != 0) {
    logger.info("=========Increment update process  filesToDownload = " + std::to_string(check.filesToDownload) +
                "    bytesToDownload = " + std::to_string(check.bytesToDownload) +
                "    incGameDirectory = " + WideToAnsi(incrementDir));
    std::set<std::wstring> needed;
    for (const auto& entry : fileList) {
      if (entry.needsDownload) needed.insert(NormalisedRelative(AnsiToWide(entry.path)));
    }
    PruneStaging(incrementDir, L"", needed);
    CreateDirectories(incrementDir);
    DownloadCounters counters = DownloadIncrementFiles(*this, incrementDir, remoteServer.incrementupdateURLs,
                                                       fileList, check.filesToDownload, check.bytesToDownload);
    stage = TransferDone;
    logger.info("=========Increment update finish  filesToDownload = " + std::to_string(check.filesToDownload) +
                "    failedFiles = " + std::to_string(counters.failedFiles) +
                "    localFaults = " + std::to_string(counters.localFaults));
    if (counters.localFaults != 0) return fail(texts::PermissionProblem);
    if (counters.failedFiles != 0) return fail(texts::DownloadFailed + codesSuffix());
    logger.info("Copy increment update files to " + WideToAnsi(checkGamePath));
    if (!CopyTree(incrementDir, checkGamePath)) {
      uint32_t code = LastErrorCode();
      logger.info("Copy Failed! ErrorCode = " + std::to_string(code));
      return fail(texts::MoveFailed + L" LastError(" + std::to_wstring(code) + L")");
    }
  }

  auto writeServerConfig = [&](const Version& zipVersion, bool usePackage) {
    if (!WriteLocalServerConfig(I, zipVersion, remoteServer.incrementVersion, usePackage))
      logger.error("Serverconfig update error! ErrorCode = " + std::to_string(LastErrorCode()));
  };
  auto finishFiles = [&]() {
    if (!CopyFileOver(fetchedLauncherConfig, localLauncherConfig))
      logger.error("Launcherconfig update error! ErrorCode = " + std::to_string(LastErrorCode()));
    if (signedReleases() && !WriteAcceptedRelease(I, release))
      logger.error("Release record update error! ErrorCode = " + std::to_string(LastErrorCode()));
    DeleteTree(*this, workingDir);
    stage = Finished;
  };

  // Directory switch after a zip update.
  if (needZip) {
    logger.info("Rename process after zip update process");
    bool oldGameGone = true;
    uint32_t deleteError = 0;
    if (DirectoryExists(gameRoot)) {
      oldGameGone = deleteOldGame();
      deleteError = LastErrorCode();
      logger.info("Delete old game files finish");
    }
    if (!oldGameGone) {
      deleteFailedLine(deleteError);
      logger.info(" Delete local game directory failed");
      statusText = texts::UpdateDone;
      CreateDirectories(localServerConfig);
      inPackage = true;
      writeServerConfig(remoteServer.zipVersion, true);
      logger.info(" Launcher process finish, can start game process (In Package) at any time");
      finishFiles();
      return true;
    }
    if (DirectoryExists(packageRoot)) {
      statusText = texts::Renaming;
      int r = RenamePath(packageRoot, gameRoot);
      if (r != 0) {
        logger.info("Rename failed LastError = " + std::to_string(LastErrorCode()) + " Errno = " + std::to_string(r));
        localServerConfigInfo.usePackage = true;
        inPackage = true;
        logger.info(
            "Rename failed! Update ServerConfig, set localServerConfigInfo.usePackage=true and try to start game at "
            "Package");
      }
    }
  }

  // Finish.
  logger.info("Finish update process, update config files");
  statusText = texts::UpdateDone;
  CreateDirectories(localServerConfig);
  writeServerConfig(needZip ? remoteServer.zipVersion : localServerConfigInfo.zipVersion,
                    localServerConfigInfo.usePackage);
  finishFiles();
  logger.info("Launcher process finish, can start game process at any time");
  return true;
}
