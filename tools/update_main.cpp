// vorel-update: runs one update of the installation it is placed in, exactly as the window
// does (same engine, files and log), printing the status and progress while it works.
// Exit code 0 when the game may be started (stage 10), 1 when the update failed.
// With --start-game it then starts the game as the window does; --install-dir DIR updates the
// installation in DIR instead of the program's own folder; --resume-downloads turns resumable
// downloads on whatever the build's default (for tests and benchmarks).
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/game_launch.h"
#include "platform/dump_module.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/texts.h"
#include "update/patcher.h"

namespace {

struct Printer {
  std::wstring status;
  int32_t stage = -1;

  // The status line when it changes, and one progress line per call.
  void print(Patcher& patcher) {
    std::wstring now = patcher.statusText.get();
    if (now != status && !now.empty()) printf("%s\n", WideToUtf8(now).c_str());
    status = now;
    stage = patcher.stage;
    int64_t done = patcher.bytesDone, total = patcher.bytesTotal;
    int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    printf("  stage %d  files %d/%d  %.1f/%.1f MB  %d%%\n", stage, patcher.filesDone.load(),
           patcher.filesTotal.load(), done / 1048576.0, total / 1048576.0, percent);
    fflush(stdout);
  }
  bool changed(Patcher& patcher) const { return patcher.stage != stage || patcher.statusText.get() != status; }
};

}  // namespace

const char* const kUsage =
    "usage: vorel-update [--install-dir DIR] [--start-game] [--resume-downloads] [--release-key HEX]\n"
    "Runs one update of the launcher's installation (the program's own folder unless DIR is\n"
    "given), exactly as the launcher window does, printing status and progress.\n"
    "  --install-dir DIR   the installation to update (holding the launcher or its configuration)\n"
    "  --start-game        start the game afterwards when the update finished\n"
    "  --resume-downloads  continue cut downloads and partial files with range requests, even\n"
    "                      where the build leaves that off (for tests and benchmarks)\n"
    "  --release-key HEX   accept only releases signed with this key (release.pub of\n"
    "                      vorel-publish --make-keys) instead of the build's\n"
    "Exit code 0 when the game may be started, 1 when the update failed, 2 for a wrong argument,\n"
    "3 when a new launcher is staged and waits for its hand-over, which only runs on Windows.\n";

int main(int argc, char** argv) {
  bool startGame = false;
  EngineOptions options;
  std::wstring installDir;
  std::string releaseKey = ReleasePublicKey;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      printf("%s", kUsage);
      return 0;
    }
    if (argument == "--start-game") {
      startGame = true;
    } else if (argument == "--resume-downloads") {
      options.resumeDownloads = true;
    } else if (argument == "--release-key" && i + 1 < argc) {
      releaseKey = argv[++i];
      // Anything but a whole public key would turn verification off or never verify.
      if (releaseKey.size() != 64 || releaseKey.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        fprintf(stderr, "vorel-update: --release-key needs the 64 hex digits of release.pub\n%s", kUsage);
        return 2;
      }
    } else if (argument == "--install-dir" && i + 1 < argc) {
      installDir = AnsiToWide(argv[++i]);
    } else {
      fprintf(stderr, "vorel-update: unknown or incomplete argument \"%s\"\n%s", argument.c_str(), kUsage);
      return 2;
    }
  }
  // A mistyped folder gets a plain word, and nothing is created in it or at its place.
  if (!installDir.empty() && !FileExists(installDir + L"\\" + AnsiToWide(LauncherExeName)) &&
      !FileExists(installDir + L"\\" + ConfigDirName + L"\\" + LauncherConfigFileW)) {
    fprintf(stderr, "vorel-update: %s is no launcher installation: it holds neither %s nor %s\\%s\n",
            WideToUtf8(installDir).c_str(), LauncherExeName.c_str(), WideToUtf8(ConfigDirName).c_str(),
            WideToUtf8(LauncherConfigFileW).c_str());
    return 2;
  }
  // The crash-dump module is set up as the launcher's start-up does it.
  InitialiseDumper(LauncherVersion.c_str());

  // Lives until the process ends, as in the launcher (never destroyed, so no end line is logged).
  static Patcher* patcher = new Patcher(options);
  if (!installDir.empty()) patcher->SetInstallDir(installDir);
  patcher->releasePublicKey = releaseKey;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    patcher->Work();
    done = true;
  });
  Printer printer;
  auto lastPrint = std::chrono::steady_clock::now();
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto now = std::chrono::steady_clock::now();
    if (printer.changed(*patcher) || now - lastPrint >= std::chrono::seconds(1)) {
      printer.print(*patcher);
      lastPrint = now;
    }
  }
  worker.join();
  if (printer.changed(*patcher)) printer.print(*patcher);
  std::wstring version = patcher->versionText.get();
  if (!version.empty()) printf("%s\n", WideToUtf8(version).c_str());
  int stage = patcher->stage;
#ifndef _WIN32
  // The new launcher is unpacked and updater.bat written, but only Windows can run the script:
  // that is no permission problem, whatever the status line says.
  const std::wstring notStarted = texts::PermissionProblem + L" LastError(" + std::to_wstring(ENOEXEC) + L")";
  if (stage != Finished && patcher->statusText.get() == notStarted &&
      FileExists(patcher->InstallDir() + L"\\" + UpdaterScriptName)) {
    printf("launcher update staged in %s; the hand-over (%s) runs on Windows: start %s there\n",
           WideToUtf8(patcher->InstallDir() + L"\\" + TempDirName + L"\\" + LauncherUpdateDirName).c_str(),
           WideToUtf8(UpdaterScriptName).c_str(), LauncherExeName.c_str());
    UninitialiseDumper();
    return 3;
  }
#endif
  printf("%s (stage %d)\n", stage == Finished ? "update finished" : "update failed", stage);
  int exitCode = stage == Finished ? 0 : 1;
  if (startGame && stage == Finished) {
    std::wstring error = LaunchGame(patcher->InstallDir(), patcher->inPackage);
    if (!error.empty()) {
      printf("%s\n", WideToUtf8(error).c_str());
      exitCode = 1;
    }
  }
  UninitialiseDumper();
  return exitCode;
}
