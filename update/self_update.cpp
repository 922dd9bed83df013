#include "update/self_update.h"

#include <cstdio>
#include <cstdlib>

#include "net/http_transfer.h"
#include "platform/dump_module.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/texts.h"
#include "update/file_list.h"
#include "update/patcher.h"
#include "update/tree_ops.h"
#include "update/verify.h"
#include "update/zip_extract.h"

namespace {

// The names of the files updater.bat replaces: the staging folder's top-level files but the
// launcher itself. False, and the first name the script could not carry logged, when one of them
// is a name cmd.exe would not read as written.
bool ScriptFiles(Patcher& patcher, const std::wstring& updateDir, std::vector<std::string>& files) {
  std::string refused;
  ForEachChild(updateDir, [&](const std::wstring&, const DirectoryEntry& entry) {
    std::string name = WideToAnsi(entry.name);
    if (entry.isDirectory || name == LauncherExeName) return true;
    std::string problem = AnsiToWide(name) == entry.name ? ScriptNameProblem(name) : "not in the ANSI code page";
    if (!problem.empty()) {
      refused = "\"" + name + "\": " + problem;
      return false;
    }
    files.push_back(name);
    return true;
  });
  if (refused.empty()) return true;
  patcher.logger.error("Launcher package holds a file the updater script cannot name! " + refused);
  return false;
}

}  // namespace

bool FetchLauncherPackage(Patcher& patcher, const std::wstring& installDir, const std::vector<std::string>& urls,
                          const PackageInfo& launcherZipInfo) {
  patcher.filesDone = 0;
  patcher.filesTotal = 1;
  patcher.bytesDone = 0;
  patcher.bytesTotal = launcherZipInfo.size;
  patcher.stage = DownloadingFiles;
  std::wstring fileName = AnsiToWide(launcherZipInfo.path);
  patcher.currentFileName = fileName;
  const std::wstring zipPath = installDir + L"\\" + TempDirName + L"\\" + fileName;
  const std::wstring updateDir = installDir + L"\\" + TempDirName + L"\\" + LauncherUpdateDirName;
  patcher.statusText = texts::UpdatingLauncher;

  // Signed releases: the package's SHA-256 must match too, before anything of it is unpacked or run.
  const bool withSha = !launcherZipInfo.sha256.empty();
  auto matches = [&](const std::string& crc, const std::string& sha) {
    return crc == launcherZipInfo.crc && (!withSha || sha == launcherZipInfo.sha256);
  };
  std::string sha;
  // A matching package from an earlier run is used as it is.
  bool ready = FileExists(zipPath) && matches(FileCrc(zipPath, nullptr, withSha ? &sha : nullptr), sha);
  for (size_t i = 0; !ready && i < urls.size(); ++i) {
    TransferRequest download = patcher.request(TransferKind::File, urls[i]);
    download.destination = zipPath;
    download.received = &patcher.currentFileReceived;
    download.runningTotal = &patcher.bytesDone;
    // Never written past its listed size. A package left by an earlier run may be another
    // version's under the same name: it is fetched from zero, never continued.
    download.expectedSize = launcherZipInfo.size;
    download.resume = false;
    if (!patcher.downloadFile(download).ok) continue;
    std::string crc = FileCrc(zipPath, nullptr, withSha ? &sha : nullptr);
    patcher.logger.info("Download launcher self-update files finish crc = " + crc);
    if (withSha && crc == launcherZipInfo.crc && sha != launcherZipInfo.sha256)
      patcher.logger.error("Launcher package SHA-256 Check Error! SHA-256 = " + sha);
    if (matches(crc, sha)) {
      ready = true;
    } else {
      RemoveFileCrt(zipPath);
    }
  }
  if (!ready) {
    patcher.statusText = texts::LauncherUpdateFailed + patcher.codesSuffix();
    patcher.stage = SelfUpdateFailed;
    return false;
  }
  DeleteTree(patcher, updateDir);
  if (ExtractZip(zipPath, updateDir)) {
    std::vector<std::string> files;
    if (ScriptFiles(patcher, updateDir, files)) return true;
    patcher.statusText = texts::LauncherUpdateFailed;
    patcher.stage = SelfUpdateFailed;
    return false;
  }
  uint32_t code = LastErrorCode();
  patcher.statusText = texts::LauncherUpdateFailed + L" LastError(" + std::to_wstring(code) + L")";
  patcher.logger.error("Unzip failed! Unzip path : " + WideToAnsi(zipPath) + " Zip path : " + WideToAnsi(updateDir) +
                       " ErrorCode = " + std::to_string(code));
  return false;
}

std::string BuildUpdaterScript(const std::vector<std::string>& files) {
  const std::string stagingDir = WideToAnsi(TempDirName + L"\\" + LauncherUpdateDirName) + "\\";
  const std::string launcherExe = LauncherExeName;
  const std::string configFrom = WideToAnsi(TempDirName + L"\\" + LauncherConfigFileW);
  const std::string configTo = WideToAnsi(ConfigDirName + L"\\" + LauncherConfigFileW);
  auto quoted = [](const std::string& path) { return "\"" + path + "\""; };
  // Each file is copied beside its target and then moved over it, so that a script ended half-way
  // leaves the old file or the new one in place, never neither. The configuration and the
  // launcher itself are moved until the move succeeds: the ending launcher may still hold them.
  // A copy that failed leaves no ".new" file and so no endless wait; the old file then stays.
  // The configuration goes last: a script ended before it leaves the new launcher with the old
  // configuration, which simply updates itself again, never the old launcher with the new one,
  // which would see no update due.
  auto replace = [&](const std::string& from, const std::string& to, const char* waitLabel) {
    std::string script = "copy /y " + quoted(from) + " " + quoted(to + ".new") + "\n";
    if (waitLabel) script += std::string(":") + waitLabel + "\n";
    script += "move /y " + quoted(to + ".new") + " " + quoted(to) + "\n";
    if (waitLabel) script += "if exist " + quoted(to + ".new") + " goto " + waitLabel + "\n";
    return script + "del " + quoted(from) + "\n";
  };
  std::string script = "@echo off\n";
  for (const auto& f : files) script += replace(stagingDir + f, f, nullptr);
  script += replace(stagingDir + launcherExe, launcherExe, "begin");
  script += replace(configFrom, configTo, "config");
  script += "rd /q " + quoted(stagingDir.substr(0, stagingDir.size() - 1)) + "\n";
  script += "start \"\" " + quoted(launcherExe) + "\n";
  script += "del \"%~f0\"\n";
  return script;
}

bool ApplyLauncherUpdate(Patcher& patcher, const std::wstring& installDir, const std::wstring& updateDir) {
  std::vector<std::string> files;
  if (!ScriptFiles(patcher, updateDir, files)) return false;
  const std::wstring scriptPath = installDir + L"\\" + UpdaterScriptName;
  FILE* file = OpenFile(scriptPath, L"wb");
  if (!file) {
    patcher.logger.error("Create updater script failed! ErrorCode = " + std::to_string(LastErrorCode()));
    return false;
  }
  std::string script = BuildUpdaterScript(files);
  bool written = fwrite(script.data(), 1, script.size(), file) == script.size();
  if (fclose(file) != 0) written = false;
  if (!written) {
    // A half-written script must not run: it could delete files it never copies back.
    patcher.logger.error("Write updater script failed! ErrorCode = " + std::to_string(LastErrorCode()));
    RemoveFileCrt(scriptPath);
    return false;
  }
  // The script's paths are relative: it runs in the installation directory.
  if (!StartHiddenScript(UpdaterScriptName, installDir)) {
    patcher.logger.error("Start updater script failed! ErrorCode = " + std::to_string(LastErrorCode()));
    return false;
  }
  UninitialiseDumper();
  if (patcher.beforeProcessEnd) patcher.beforeProcessEnd();
  EndProcessNow(0);
}
