// One whole update run, as a list of phases: launcher check, hand-over to a new launcher, server
// check, game directory selection, file check and choice of update, zip update, increment
// update, directory switch and finish.
#include <ctime>
#include <set>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/sha256.h"
#include "support/text_util.h"
#include "support/texts.h"
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

}  // namespace

// What one run learns and needs later, with its paths joined once.
struct UpdateRun {
  UpdateRun(const std::wstring& I, const std::string& base)
      : baseUrl(base),
        installDir(I),
        workingDir(Join(I, TempDirName)),
        localLauncherConfig(Join(Join(I, ConfigDirName), LauncherConfigFileW)),
        fetchedLauncherConfig(Join(workingDir, LauncherConfigFileW)),
        localServerConfig(LocalServerConfigPath(I)),
        fetchedServerConfig(Join(workingDir, ServerConfigFileW)),
        selfUpdateDir(Join(workingDir, LauncherUpdateDirName)),
        incrementDir(Join(workingDir, IncrementDirRel)),
        gameRoot(Join(I, GameRootName)),
        gameDir(Join(I, GameDirRel)),
        packageRoot(Join(I, PackageRootName)),
        packageGameDir(Join(packageRoot, GameFolderName)) {}

  const std::string baseUrl;  // the built-in last resort for the launcher's own files
  const std::wstring installDir, workingDir;
  const std::wstring localLauncherConfig, fetchedLauncherConfig, localServerConfig, fetchedServerConfig;
  const std::wstring selfUpdateDir, incrementDir;
  const std::wstring gameRoot, gameDir, packageRoot, packageGameDir;

  LauncherConfig localLauncher, remoteLauncher;
  bool forceSelfUpdate = false;
  ServerConfig localServer, remoteServer;  // the local one is "localServerConfigInfo" in the log
  bool haveLocalServerConfig = false;
  bool needZip = false;
  std::vector<FileListEntry> fileList;
  CheckResults check;
  bool oldGameStays = false;  // after a zip update: the old tree could not be deleted
};

namespace {

// Each base followed by name, then each "$"-piece of extraBases, with "https" served as "http".
std::vector<std::string> Candidates(const std::vector<std::string>& bases, const std::string& name,
                                    const std::string& extraBases) {
  std::vector<std::string> urls = Patcher::BuildCandidateUrls(bases, name, extraBases);
  RewriteHttps(urls);
  return urls;
}

std::wstring VersionLabel(const ServerConfig& remote) {
  std::wstring label = texts::VersionTemplate;
  if (IsValidVersion(remote.incrementVersion))
    label = ReplaceAll(label, L"y.y.y", AnsiToWide(FormatVersion(remote.incrementVersion)));
  if (IsValidVersion(remote.zipVersion))
    label = ReplaceAll(label, L"x.x.x", AnsiToWide(FormatVersion(remote.zipVersion)));
  return label;
}

void LogDeleteFailed(Logger& logger, uint32_t code) {
  logger.info(" Delete local game directory failed LastError = " + std::to_string(code) + " Errno = " + "0");
}

// The game now lives in Game again (the package was moved there, or there was none).
void LeavePackage(Patcher& patcher, UpdateRun& run) {
  patcher.inPackage = false;
  run.localServer.usePackage = false;
  patcher.SetLocalServerConfigValue("usePackage", "False");
}

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
  ForEachChild(dir, [&](const std::wstring& child, const DirectoryEntry& entry) {
    std::wstring childRelative = relative.empty() ? entry.name : relative + L"\\" + entry.name;
    if (entry.isLink) {
      // Never followed, never kept: a download through it would write where it points.
      entry.isDirectory ? RemoveEmptyDirectory(child) : RemoveFile(child);
    } else if (entry.isDirectory) {
      PruneStaging(child, childRelative, keep);
    } else if (!keep.count(childRelative)) {
      RemoveFile(child);
    }
    return true;
  });
}

std::set<std::wstring> FilesToFetch(const std::vector<FileListEntry>& fileList) {
  std::set<std::wstring> needed;
  for (const auto& entry : fileList) {
    if (entry.needsDownload) needed.insert(NormalisedRelative(AnsiToWide(entry.path)));
  }
  return needed;
}

// The patch list, where a release has one: beside the file list, at each of its addresses. It
// is fetched without a word in the log or the player's codes, since most servers have none; a
// signed release's manifest names it, or there is none to fetch. Whatever goes wrong here only
// means whole files, as ever.
IncrementPatches FindPatches(Patcher& patcher, const UpdateRun& run, const std::wstring& baseDir) {
  IncrementPatches patches;
  patches.baseDir = baseDir;
  patches.workDir = Join(run.workingDir, PatchDirName);
  std::string vouched;
  if (patcher.signedReleases()) {
    auto found = patcher.release.texts.find(PatchListNameA);
    if (found == patcher.release.texts.end()) return patches;
    vouched = found->second;
  }
  for (const std::string& url : run.remoteServer.filelistURLs) {
    const size_t slash = url.rfind('/');
    if (slash != std::string::npos) patches.folders.push_back(url.substr(0, slash + 1));
  }
  for (const std::string& folder : patches.folders) {
    std::string text;
    if (!GetRemoteTextFile(folder + PatchListNameA, text, patcher.options().timings, nullptr).ok) continue;
    const std::string sum = vouched.empty() ? "" : Sha256::OfText(text);
    if (sum != vouched) {
      patcher.logger.warning("Patch list refused! url = " + folder + PatchListNameA + " SHA-256 = " + sum +
                             " expected " + vouched);
      continue;
    }
    patches.list = ParsePatchList(text);
    break;
  }
  return patches;
}

}  // namespace

bool Patcher::UpdateProcess(const std::string& baseUrl) {
  UpdateRun run(InstallDir(), baseUrl);
  OpenDayLog(logger, run.installDir);
  if (closeGameFirst) {
    statusText = texts::WaitingForGameToClose;
    KillProcessesByName(GameExeName);
  }
  if (!checkLauncher(run)) return false;
  if (run.forceSelfUpdate) return handOverToNewLauncher(run);
  if (!checkServer(run) || !selectGameDirectory(run) || !chooseUpdate(run)) return false;
  if (run.needZip && !zipUpdate(run)) return false;
  if (!incrementUpdate(run)) return false;
  if (run.needZip) switchDirectories(run);
  return finish(run);
}

bool Patcher::checkLauncher(UpdateRun& run) {
  if (FileExists(run.localLauncherConfig)) {
    run.forceSelfUpdate = !ParseLauncherConfig(run.localLauncherConfig, run.localLauncher, alphabet, logger);
    logger.info("Local launcher version : " + FormatVersion(run.localLauncher.launcherVersion));
  } else {
    logger.info("Missing local launcherconfig, force launcher self-update");
    run.forceSelfUpdate = true;
  }
  const std::vector<std::string>& bases = run.localLauncher.remoteURLs;
  statusText = texts::CheckingLauncher;
  // Signed releases: the manifest comes first, from the configuration's own addresses, and every
  // text fetched after it must be the one it names.
  if (signedReleases()) {
    ReleaseEnd accepted =
        AcceptRelease(*this, run.installDir, run.localLauncher.launcherVersion, static_cast<int64_t>(std::time(nullptr)),
                      Candidates(bases, ReleaseManifestFileA, run.baseUrl),
                      Candidates(bases, ReleaseSignatureFileA, run.baseUrl));
    if (accepted == ReleaseEnd::Expired) return fail(texts::ReleaseExpired);
    if (accepted != ReleaseEnd::Accepted) return fail(texts::ReleaseNotVerified);
  }
  FetchEnd end = DownloadFirstAvailable(run.fetchedLauncherConfig, Candidates(bases, LauncherConfigFileA, run.baseUrl),
                                        vouchedText(LauncherConfigFileA));
  if (end != FetchEnd::Fetched) return failFetch(end);
  if (FileExists(run.fetchedLauncherConfig)) {
    ParseLauncherConfig(run.fetchedLauncherConfig, run.remoteLauncher, alphabet, logger);
    logger.info("Latest launcer version : " + FormatVersion(run.remoteLauncher.launcherVersion));
  }
  if (LauncherIsOlder(run.localLauncher.launcherVersion, run.remoteLauncher.launcherVersion, signedReleases()))
    run.forceSelfUpdate = true;
  return true;
}

bool Patcher::handOverToNewLauncher(UpdateRun& run) {
  logger.info("=========Launcher self-update process");
  CreateDirectories(run.selfUpdateDir);
  PackageInfo package = run.remoteLauncher.launcherZipInfo;
  const std::string name = FormatVersion(run.remoteLauncher.launcherVersion) + "/" + package.path;
  if (signedReleases()) {
    bool listed = release.launcherPath == package.path && static_cast<int64_t>(release.launcherPackage.size) == package.size;
    package.sha256 = listed ? release.launcherPackage.sha256 : "(not in the release manifest)";
  }
  if (!FetchLauncherPackage(*this, run.installDir, Candidates(run.remoteLauncher.remoteURLs, name, run.baseUrl),
                            package)) {
    stage = Failed;  // the status stays as the package's fetch left it
    return false;
  }
  CreateDirectories(run.localLauncherConfig);
  // The record moves before the hand-over: the new launcher's first run must not take back the
  // release this one replaced.
  if (signedReleases() && !WriteAcceptedRelease(run.installDir, release))
    logger.error("Release record update error! ErrorCode = " + std::to_string(LastErrorCode()));
  ApplyLauncherUpdate(*this, run.installDir, run.selfUpdateDir);  // ends the process when the script starts
  const uint32_t code = LastErrorCode();
  return fail(texts::PermissionProblem + L" LastError(" + std::to_wstring(code) + L")");
}

bool Patcher::checkServer(UpdateRun& run) {
  if (FileExists(run.localServerConfig)) {
    run.haveLocalServerConfig = true;
    ParseServerConfig(run.localServerConfig, run.localServer, true, alphabet, logger);
  }
  statusText = texts::CheckingVersion;
  // The built-in address is no last resort here.
  FetchEnd end = DownloadFirstAvailable(run.fetchedServerConfig,
                                        Candidates(run.remoteLauncher.remoteURLs, ServerConfigFileA, ""),
                                        vouchedText(ServerConfigFileA));
  if (end != FetchEnd::Fetched) return failFetch(end);
  ServerConfig& remote = run.remoteServer;
  if (FileExists(run.fetchedServerConfig)) {
    ParseServerConfig(run.fetchedServerConfig, remote, false, alphabet, logger);
    versionText = VersionLabel(remote);
  }
  for (auto* urls : {&remote.filelistURLs, &remote.zipupdateURLs, &remote.incrementupdateURLs, &remote.ziplistURLs})
    RewriteHttps(*urls);
  run.needZip = GameNeedsZip(run.localServer.incrementVersion, remote, signedReleases());
  logger.info("Local game version : " + FormatVersion(run.localServer.incrementVersion));
  logger.info("Latest game version : " + FormatVersion(remote.incrementVersion) + "/" +
              FormatVersion(remote.zipVersion));
  return true;
}

bool Patcher::selectGameDirectory(UpdateRun& run) {
  if (!run.localServer.usePackage) return true;
  inPackage = true;
  logger.info("Current Game Directory is Package");
  // The old tree only goes when a package is there to take its place: without one it is the
  // only copy of the game, and deleting it would force a full download.
  if (DirectoryExists(run.gameRoot) && DirectoryExists(run.packageRoot)) {
    logger.info("Detecte Old Game Directory, need to remove");
    if (!deleteOldGame(run)) {
      const uint32_t code = LastErrorCode();
      LogDeleteFailed(logger, code);
      return fail(texts::DeleteFailed + run.gameRoot + L" LastError(" + std::to_wstring(code) + L") Errno(0)");
    }
  }
  if (!DirectoryExists(run.packageRoot)) {
    LeavePackage(*this, run);
    return true;
  }
  statusText = texts::Renaming;
  if (int r = RenamePath(run.packageRoot, run.gameRoot)) {
    logger.info("Rename failed LastError = " + std::to_string(LastErrorCode()) + " Errno = " + std::to_string(r) +
                " Keep UsePackage = True and Continue Process");
  } else {
    LeavePackage(*this, run);
  }
  return true;
}

bool Patcher::chooseUpdate(UpdateRun& run) {
  std::string text;
  FetchEnd end = FetchFirstAvailableText(run.remoteServer.filelistURLs, vouchedText(FileListNameA), text);
  if (end != FetchEnd::Fetched || text.empty()) return failFetch(end);
  run.fileList = ParseFileList(text, *this);
  if (signedReleases() && !AttachReleaseHashes(*this, run.fileList)) return fail(texts::ReleaseNotVerified);
  run.check = CheckLocalFiles(*this, run.gameDir, run.fileList, shaCheckInstalled());
  logger.info("Check local files filesToDownload = " + std::to_string(run.check.filesToDownload) +
              "    bytesToDownload = " + std::to_string(run.check.bytesToDownload));
  // A complete game tree without a local configuration needs no package.
  if (!run.haveLocalServerConfig && run.needZip && run.check.filesToDownload == 0 && run.check.bytesToDownload == 0)
    run.needZip = false;
  if (!inPackage && !DirectoryExists(run.gameDir)) {
    logger.info("Can not locate local game directory, force zip update");
    run.needZip = true;
  }
  if (run.needZip && inPackage) {
    logger.error("ZipUpdate is not reachable while using package! End Launcher Process");
    return fail(texts::CannotVerify);
  }
  return true;
}

bool Patcher::zipUpdate(UpdateRun& run) {
  std::string text;
  FetchEnd end = FetchFirstAvailableText(run.remoteServer.ziplistURLs, vouchedText(ZipListNameA), text);
  if (end != FetchEnd::Fetched || text.empty()) return failFetch(end);
  int64_t unpackedTotal = 0;
  std::vector<ZipListEntry> zipList = ParseZipList(text, *this, unpackedTotal);
  if (signedReleases() && !AttachReleaseHashes(*this, zipList)) return fail(texts::ReleaseNotVerified);
  CheckResults zipCheck = CheckZipFiles(*this, run.installDir, zipList);
  logger.info("=========Zip update process");
  if (!HasEnoughDiskSpace(*this, run.installDir,
                          SaturatingAdd(zipCheck.bytesToDownload, static_cast<uint64_t>(unpackedTotal)))) {
    enoughDiskSpace = false;
    logger.warning("No Enough Space For ZipUpdate! May Cause Update Error!");  // the update goes on regardless
  }
  if (zipCheck.filesToDownload > 0) {
    logger.info("Zip download total files: " + std::to_string(zipCheck.filesToDownload));
    DownloadCounters counters = DownloadZipFiles(*this, run.installDir, run.remoteServer.zipupdateURLs, zipList,
                                                 zipCheck.filesToDownload, zipCheck.bytesToDownload);
    logger.info("Finsh zip download filesToDownload = " + std::to_string(zipCheck.filesToDownload) +
                "  failedFiles = " + std::to_string(counters.failedFiles) +
                "  localFaults = " + std::to_string(counters.localFaults));
    if (!downloadsComplete(counters)) return false;
  }
  if (!UnzipPackage(*this, run.installDir, zipList, unpackedTotal)) {
    stage = Failed;  // the status stays as the extraction left it
    return false;
  }
  logger.info("=========Zip update finish");
  return true;
}

bool Patcher::incrementUpdate(UpdateRun& run) {
  std::wstring checkGamePath = run.gameDir;
  if (run.needZip || inPackage) {
    checkGamePath = run.packageGameDir;
    // Files just unpacked from checked packages need no SHA-256 of their own.
    run.check = CheckLocalFiles(*this, checkGamePath, run.fileList, shaCheckInstalled() && !run.needZip);
  }
  logger.info("Check local game files checkGamePath:  " + WideToAnsi(checkGamePath) +
              "    filesToDownload = " + std::to_string(run.check.filesToDownload));
  if (run.check.filesToDownload == 0) return true;
  logger.info("=========Increment update process  filesToDownload = " + std::to_string(run.check.filesToDownload) +
              "    bytesToDownload = " + std::to_string(run.check.bytesToDownload) +
              "    incGameDirectory = " + WideToAnsi(run.incrementDir));
  PruneStaging(run.incrementDir, L"", FilesToFetch(run.fileList));
  CreateDirectories(run.incrementDir);
  const IncrementPatches patches = FindPatches(*this, run, checkGamePath);
  DownloadCounters counters = DownloadIncrementFiles(*this, run.incrementDir, run.remoteServer.incrementupdateURLs,
                                                     run.fileList, run.check.filesToDownload,
                                                     run.check.bytesToDownload, &patches);
  stage = TransferDone;
  logger.info("=========Increment update finish  filesToDownload = " + std::to_string(run.check.filesToDownload) +
              "    failedFiles = " + std::to_string(counters.failedFiles) +
              "    localFaults = " + std::to_string(counters.localFaults));
  if (!downloadsComplete(counters)) return false;
  logger.info("Copy increment update files to " + WideToAnsi(checkGamePath));
  if (!CopyTree(run.incrementDir, checkGamePath)) {
    const uint32_t code = LastErrorCode();
    logger.info("Copy Failed! ErrorCode = " + std::to_string(code));
    return fail(texts::MoveFailed + L" LastError(" + std::to_wstring(code) + L")");
  }
  return true;
}

void Patcher::switchDirectories(UpdateRun& run) {
  logger.info("Rename process after zip update process");
  if (DirectoryExists(run.gameRoot)) {
    const bool deleted = deleteOldGame(run);
    const uint32_t code = LastErrorCode();
    logger.info("Delete old game files finish");
    if (!deleted) {
      LogDeleteFailed(logger, code);
      logger.info(" Delete local game directory failed");
      run.oldGameStays = true;
      return;
    }
  }
  if (!DirectoryExists(run.packageRoot)) return;
  statusText = texts::Renaming;
  if (int r = RenamePath(run.packageRoot, run.gameRoot)) {
    logger.info("Rename failed LastError = " + std::to_string(LastErrorCode()) + " Errno = " + std::to_string(r));
    run.localServer.usePackage = true;
    inPackage = true;
    logger.info(
        "Rename failed! Update ServerConfig, set localServerConfigInfo.usePackage=true and try to start game at "
        "Package");
  }
}

bool Patcher::finish(UpdateRun& run) {
  if (!run.oldGameStays) logger.info("Finish update process, update config files");
  statusText = texts::UpdateDone;
  CreateDirectories(run.localServerConfig);
  if (run.oldGameStays) {
    inPackage = true;
    run.localServer.usePackage = true;
  }
  const Version& zipVersion = run.needZip ? run.remoteServer.zipVersion : run.localServer.zipVersion;
  if (!WriteLocalServerConfig(run.installDir, zipVersion, run.remoteServer.incrementVersion, run.localServer.usePackage))
    logger.error("Serverconfig update error! ErrorCode = " + std::to_string(LastErrorCode()));
  if (run.oldGameStays) logger.info(" Launcher process finish, can start game process (In Package) at any time");
  if (!CopyFileOver(run.fetchedLauncherConfig, run.localLauncherConfig))
    logger.error("Launcherconfig update error! ErrorCode = " + std::to_string(LastErrorCode()));
  if (signedReleases() && !WriteAcceptedRelease(run.installDir, release))
    logger.error("Release record update error! ErrorCode = " + std::to_string(LastErrorCode()));
  DeleteTree(*this, run.workingDir);
  stage = Finished;
  if (!run.oldGameStays) logger.info("Launcher process finish, can start game process at any time");
  return true;
}

bool Patcher::deleteOldGame(const UpdateRun& run) {
  statusText = texts::Arranging + L" ( 0% )";
  int64_t total = static_cast<int64_t>(DirectorySize(run.gameRoot));
  logger.info("Delete old game files");
  int64_t deleted = 1;
  return DeleteTreeWithProgress(*this, run.gameRoot, texts::Arranging, &deleted, &total);
}

bool Patcher::downloadsComplete(const DownloadCounters& counters) {
  if (counters.localFaults != 0) return fail(texts::PermissionProblem);
  if (counters.failedFiles != 0) return fail(texts::DownloadFailed + codesSuffix());
  return true;
}

std::string Patcher::vouchedText(const std::string& name) const {
  if (!signedReleases()) return "";
  auto found = release.texts.find(name);
  return found != release.texts.end() ? found->second : "(not in the release manifest)";
}
