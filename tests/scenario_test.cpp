// Whole update runs: a temporary installation brought up to date by the real engine from a
// server folder published with the release builder and served by the local test server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/names.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "publisher.h"
#include "support/test_files.h"
#include "support/test_server.h"
#include "support/text_util.h"
#include "ui/texts.h"
#include "update/patcher.h"
#include "update/self_update.h"
#include "update/tree_ops.h"

using testfiles::TempDir;
using testserver::Area;
using Lines = std::vector<std::string>;

namespace {

const std::string kLauncherPath = "production/vorel_pql_win/Launcher/";

struct Scenario : ::testing::Test {
  Area server;
  TempDir work;
  std::wstring I;
  std::string iText;  // I as narrow text, as it appears in the log
  bool result = false;
  int32_t stage = -1;
  std::wstring status, version;
  bool inPackage = false;

  void SetUp() override {
    I = work / L"install";
    CreateDirectories(I + L"\\");
    iText = WideToAnsi(I);
    OverrideFreeDiskSpaceForTesting(int64_t(1) << 40);
    makeGame(work / L"game");
    testfiles::WriteFile(work / L"launcher\\VORELLauncher.exe", "launcher 4.1.3");
    testfiles::WriteFile(work / L"launcher\\A.dll", "a library");
  }
  void TearDown() override {
    OverrideFreeDiskSpaceForTesting(-1);
    ClearFaults();
  }

  static void makeGame(const std::wstring& root) {
    testfiles::WriteFile(root + L"\\vorel.exe", "the game 1.0.3");
    testfiles::WriteFile(root + L"\\data\\a.pak", testfiles::RandomBytes(200000, 42));
    testfiles::WriteFile(root + L"\\data\\sub\\b.txt", "b text");
    testfiles::WriteFile(root + L"\\empty.cfg", "");
  }

  std::string base() const { return server.base() + kLauncherPath; }

  void publish(const std::string& launcherVersion = "4.1.3", uint64_t packageSize = 100000) {
    PublishOptions options;
    options.gameDir = work / L"game";
    options.launcherDir = work / L"launcher";
    options.outputDir = server.file("");
    options.gameVersion = "1.0.3";
    options.launcherVersion = launcherVersion;
    options.mirrors = {server.base()};
    options.packageSize = packageSize;
    PublishResult published = Publish(options);
    ASSERT_TRUE(published.ok) << published.error;
  }
  std::wstring served(const std::string& relative) const { return server.file(relative); }

  // The installation's local files.
  void installLauncherConfig() {
    CreateDirectories(I + L"\\Config\\");
    ASSERT_TRUE(CopyFileOver(served(kLauncherPath + "launcherconfig.txt"), I + L"\\Config\\launcherconfig.txt"));
  }
  void installLocalLauncherConfig(const std::string& text) { testfiles::WriteFile(I + L"\\Config\\launcherconfig.txt", text); }
  void installGame(const std::wstring& where = L"Game\\vorel_win") { ASSERT_TRUE(CopyTree(work / L"game", I + L"\\" + where)); }
  void installServerConfig(const std::string& text) { testfiles::WriteFile(I + L"\\Config\\serverconfig.txt", text); }
  std::string localServerConfig() { return testfiles::ReadFile(I + L"\\Config\\serverconfig.txt"); }

  bool run() {
    Patcher patcher;
    patcher.SetInstallDir(I);
    result = patcher.UpdateProcess(base());
    stage = patcher.stage;
    status = patcher.statusText;
    version = patcher.versionText;
    inPackage = patcher.inPackage;
    return result;
  }

  // The day's log with time stamps cut and the installation folder written as "I". Lines of
  // the download workers come in either order and are sorted at the end of their block.
  Lines log() {
    Lines lines = testfiles::LogLines(I + L"\\Log\\" + AnsiToWide(TodayText()) + L".txt");
    for (auto& line : lines) line = ReplaceAll(line, iText, "I");
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    // Each run's Patcher is destroyed at the end of run(), which closes its log.
    if (!lines.empty() && lines.back() == "=== End logging ===") lines.pop_back();
    for (size_t i = 0; i < lines.size();) {
      size_t j = i;
      while (j < lines.size() && lines[j].rfind("[INFO] Job ", 0) == 0) ++j;
      std::sort(lines.begin() + i, lines.begin() + j);
      i = j == i ? i + 1 : j;
    }
    return lines;
  }

  bool gameMatches(const std::wstring& where) {
    for (auto rel : {L"vorel.exe", L"data\\a.pak", L"data\\sub\\b.txt", L"empty.cfg"}) {
      if (!testfiles::Exists(I + L"\\" + where + L"\\" + rel)) return false;
      if (testfiles::ReadFile(I + L"\\" + where + L"\\" + rel) != testfiles::ReadFile(work / L"game\\" + rel)) return false;
    }
    return true;
  }

  static std::string sizeOfGame() { return std::to_string(14 + 200000 + 6 + 0); }
};

const Lines kLauncherChecked = {
    "=== Start logging ===",
    "[INFO] Local launcher version : 4.1.3",
    "[INFO] Latest launcer version : 4.1.3",
};

Lines Join(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST_F(Scenario, NothingToDownload) {
  publish();
  installLauncherConfig();
  installGame();
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");
  ASSERT_TRUE(run());
  EXPECT_EQ(stage, Finished);
  EXPECT_EQ(status, texts::UpdateDone);
  EXPECT_EQ(version, L"Version: V1.0.3/V1.0.3");
  EXPECT_EQ(log(), Join(kLauncherChecked, {
                                              "[INFO] Local game version : 1.0.3",
                                              "[INFO] Latest game version : 1.0.3/1.0.3",
                                              "[INFO] Check local files filesToDownload = 0    bytesToDownload = 0",
                                              "[INFO] Check local game files checkGamePath:  I\\Game\\vorel_win\\    "
                                              "filesToDownload = 0",
                                              "[INFO] Finish update process, update config files",
                                              "[INFO] Launcher process finish, can start game process at any time",
                                          }));
  EXPECT_FALSE(testfiles::Exists(I + L"\\Temp"));
  EXPECT_EQ(localServerConfig(), "incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");
  // A second run finds nothing again.
  ASSERT_TRUE(run());
}

TEST_F(Scenario, FreshInstallationWithMatchingGameNeedsNoPackage) {
  publish();
  installLauncherConfig();
  installGame();
  ASSERT_TRUE(run());
  EXPECT_EQ(stage, Finished);
  Lines lines = log();
  EXPECT_EQ(lines[3], "[INFO] Local game version : -1.-1.-1");
  EXPECT_EQ(lines.back(), "[INFO] Launcher process finish, can start game process at any time");
  EXPECT_EQ(server.requests("production/vorel_pql_win/Game/1.0.3/ziplist.txt"), 0);
  EXPECT_EQ(localServerConfig(), "incrementVersion=1.0.3\nzipVersion=-1.-1.-1\nusePackage=False\n");
}

TEST_F(Scenario, DamagedFileIsRepairedByTheIncrementUpdate) {
  publish();
  installLauncherConfig();
  installGame();
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");
  testfiles::WriteFile(I + L"\\Game\\vorel_win\\data\\sub\\b.txt", "b tex!");
  ASSERT_TRUE(run());
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
  EXPECT_EQ(log(), Join(kLauncherChecked,
                        {
                            "[INFO] Local game version : 1.0.3",
                            "[INFO] Latest game version : 1.0.3/1.0.3",
                            "[INFO] Check local files filesToDownload = 1    bytesToDownload = 6",
                            "[INFO] Check local game files checkGamePath:  I\\Game\\vorel_win\\    filesToDownload = 1",
                            "[INFO] =========Increment update process  filesToDownload = 1    bytesToDownload = 6    "
                            "incGameDirectory = I\\Temp\\Incrementupdate\\vorel_win",
                            "[INFO] =========Increment update finish  filesToDownload = 1    failedFiles = 0    "
                            "localFaults = 0",
                            "[INFO] Copy increment update files to I\\Game\\vorel_win\\",
                            "[INFO] Finish update process, update config files",
                            "[INFO] Launcher process finish, can start game process at any time",
                        }));
}

TEST_F(Scenario, StaleStagedFilesOfAnEarlierRunAreNotCopiedOverTheGame) {
  publish();
  installLauncherConfig();
  installGame();
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");
  // An earlier run that failed left a file staged that this run does not need.
  testfiles::WriteFile(I + L"\\Temp\\Incrementupdate\\vorel_win\\vorel.exe", "an older game");
  testfiles::WriteFile(I + L"\\Game\\vorel_win\\data\\sub\\b.txt", "b tex!");
  ASSERT_TRUE(run());
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
}

TEST_F(Scenario, MissingGameDirectoryForcesTheZipUpdate) {
  publish();
  installLauncherConfig();
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");
  ASSERT_TRUE(run());
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
  EXPECT_FALSE(inPackage);
  EXPECT_FALSE(testfiles::Exists(I + L"\\Package"));
  Lines lines = log();
  Lines expected = Join(kLauncherChecked, {
      "[INFO] Local game version : 1.0.3",
      "[INFO] Latest game version : 1.0.3/1.0.3",
      "[INFO] Check local files filesToDownload = 4    bytesToDownload = " + sizeOfGame(),
      "[INFO] Can not locate local game directory, force zip update",
      "[INFO] =========Zip update process",
  });
  ASSERT_GT(lines.size(), expected.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + expected.size()), expected);
  EXPECT_EQ(lines[expected.size()].rfind("[INFO] Avaliable space : 1099511627776 Required space : ", 0), 0u);
  // Two packages (the big file alone, the small ones together), fetched by the two workers.
  EXPECT_EQ(lines[expected.size() + 1], "[INFO] Zip download total files: 2");
  for (int k = 1; k <= 2; ++k) {
    EXPECT_EQ(lines[expected.size() + 1 + k],
              "[INFO] Job I\\Temp\\ZipUpdate\\vorel_win_00" + std::to_string(k) + ".zip Download Success. RetryTime = 0");
  }
  EXPECT_EQ(Lines(lines.begin() + expected.size() + 4, lines.end()),
            (Lines{
                "[INFO] Finsh zip download filesToDownload = 2  failedFiles = 0  localFaults = 0",
                "[INFO] =========Zip update finish",
                "[INFO] Check local game files checkGamePath:  I\\Package\\vorel_win    filesToDownload = 0",
                "[INFO] Rename process after zip update process",
                "[INFO] Finish update process, update config files",
                "[INFO] Launcher process finish, can start game process at any time",
            }));
  EXPECT_EQ(localServerConfig(), "incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");
}

TEST_F(Scenario, FailedRenameAfterTheZipUpdateKeepsTheGameInThePackage) {
  publish("4.1.3", 1 << 30);
  installLauncherConfig();
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");
  InjectFault(FaultCall::Rename, 5, L"Package");
  ASSERT_TRUE(run());
  EXPECT_EQ(stage, Finished);
  EXPECT_TRUE(inPackage);
  EXPECT_TRUE(gameMatches(L"Package\\vorel_win"));
  EXPECT_EQ(localServerConfig(), "incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=True\n");
  Lines lines = log();
  EXPECT_EQ(Lines(lines.end() - 5, lines.end()),
            (Lines{
                "[INFO] Rename process after zip update process",
                "[INFO] Rename failed LastError = 5 Errno = -1",
                "[INFO] Rename failed! Update ServerConfig, set localServerConfigInfo.usePackage=true and try to start "
                "game at Package",
                "[INFO] Finish update process, update config files",
                "[INFO] Launcher process finish, can start game process at any time",
            }));
}

TEST_F(Scenario, UsePackageWithoutAPackageIsRewrittenBeforeTheFileCheck) {
  publish();
  installLauncherConfig();
  installGame();
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=True\n");
  // Stop the run at the file list, so the rewritten flag can be seen.
  server.fault("production/vorel_pql_win/Game/1.0.3/filelist.txt", R"({"status": 404})");
  EXPECT_FALSE(run());
  EXPECT_EQ(stage, Failed);
  EXPECT_EQ(status, texts::CannotVerify + L" CURLCODE(0) HTTP STATUES CODE(404)");
  EXPECT_EQ(localServerConfig(), "incrementVersion=1.0.3\r\nzipVersion=1.0.3\r\nusePackage=False\r\n");
  EXPECT_FALSE(inPackage);
  Lines lines = log();
  EXPECT_EQ(lines[5], "[INFO] Current Game Directory is Package");
  EXPECT_EQ(lines[6].rfind("[ERROR] Get Remote TextFile Failed! CURL CODE = 0 HttpStatusCode = 404", 0), 0u);
  EXPECT_TRUE(testfiles::Exists(I + L"\\Temp"));  // a failed run leaves its working folder
  // Without a package to replace it, the game tree is the only copy and stays.
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
}

TEST_F(Scenario, GameAndPackageBothPresentTheOldGameGoes) {
  publish();
  installLauncherConfig();
  installGame(L"Package\\vorel_win");
  testfiles::WriteFile(I + L"\\Game\\vorel_win\\old-only.dat", std::string(1000, 'o'));
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=True\n");
  ASSERT_TRUE(run());
  EXPECT_FALSE(inPackage);
  EXPECT_FALSE(testfiles::Exists(I + L"\\Package"));
  EXPECT_FALSE(testfiles::Exists(I + L"\\Game\\vorel_win\\old-only.dat"));
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
  Lines lines = log();
  EXPECT_EQ(Lines(lines.begin() + 5, lines.begin() + 8), (Lines{
                                                              "[INFO] Current Game Directory is Package",
                                                              "[INFO] Detecte Old Game Directory, need to remove",
                                                              "[INFO] Delete old game files",
                                                          }));
}

TEST_F(Scenario, ZipNeededWhileInThePackageStops) {
  publish();
  installLauncherConfig();
  installGame(L"Package\\vorel_win");
  installServerConfig("incrementVersion=1.0.0\nzipVersion=1.0.0\nusePackage=True\n");
  InjectFault(FaultCall::Rename, 5, L"Package");
  EXPECT_FALSE(run());
  EXPECT_EQ(stage, Failed);
  EXPECT_EQ(status, texts::CannotVerify);  // no codes: no transfer failed
  EXPECT_TRUE(inPackage);
  Lines lines = log();
  EXPECT_EQ(lines.back(), "[ERROR] ZipUpdate is not reachable while using package! End Launcher Process");
}

TEST_F(Scenario, InvalidRemoteVersionsKeepTheirPlaceholders) {
  publish();
  installLauncherConfig();
  installGame();
  std::string config = testfiles::ReadFile(served(kLauncherPath + "serverconfig.txt"));
  config = ReplaceAll(config, "zipVersion=1.0.3", "zipVersion=0.1.0");
  testfiles::WriteFile(served(kLauncherPath + "serverconfig.txt"), config);
  run();
  EXPECT_EQ(version, L"Version: Vx.x.x/V1.0.3");
}

TEST_F(Scenario, LauncherConfigurationThatCannotBeFetched) {
  publish();
  installLocalLauncherConfig("launcherVersion=4.1.3\nremoteURLs=" + testserver::Get().refused + "/\n"
                             "launcherZipInfo=x.zip$1$1$00000000\n");
  Patcher patcher;
  patcher.SetInstallDir(I);
  EXPECT_FALSE(patcher.UpdateProcess(testserver::Get().refused + "/" + kLauncherPath));
  EXPECT_EQ(patcher.stage, Failed);
  EXPECT_EQ(patcher.statusText.get(), texts::CannotVerify + L" CURLCODE(7) HTTP STATUES CODE(0)");
  EXPECT_FALSE(testfiles::Exists(I + L"\\Config\\serverconfig.txt"));
}

// The window reads the shared fields every frame while the update thread writes them; the
// thread sanitizer build runs this too.
TEST_F(Scenario, SharedStateIsReadWhileTheUpdateRuns) {
  publish();
  installLauncherConfig();
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");
  Patcher patcher;
  patcher.SetInstallDir(I);
  std::atomic<bool> done{false};
  std::thread update([&] {
    patcher.UpdateProcess(base());
    done = true;
  });
  size_t reads = 0;
  int64_t sink = 0;
  while (!done) {
    std::wstring status = patcher.statusText, version = patcher.versionText, name = patcher.currentFileName;
    sink += patcher.stage + patcher.filesDone + patcher.filesTotal + patcher.bytesDone + patcher.bytesTotal +
            patcher.currentFileSize + patcher.currentFileReceived + (patcher.inPackage ? 1 : 0);
    sink += static_cast<int64_t>(status.size() + version.size() + name.size());
    ++reads;
  }
  update.join();
  EXPECT_GT(reads, 0u);
  EXPECT_EQ(patcher.stage, Finished);
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
  EXPECT_NE(sink, -1);
}

#ifndef _WIN32
// A self-update ends the process on Windows; these runs stop where the Linux build cannot hand
// over to the batch script (the whole hand-over runs under Wine below).
TEST_F(Scenario, MissingLauncherConfigForcesSelfUpdateFromTheBuiltInAddressAlone) {
  publish();
  installGame();
  EXPECT_FALSE(run());
  Lines lines = log();
  EXPECT_EQ(lines[1], "[INFO] Missing local launcherconfig, force launcher self-update");
  EXPECT_EQ(lines[2], "[INFO] Latest launcer version : 4.1.3");  // the same version: still updated
  EXPECT_EQ(lines[3], "[INFO] =========Launcher self-update process");
  EXPECT_EQ(lines[4].rfind("[INFO] Download launcher self-update files finish crc = ", 0), 0u);
  EXPECT_EQ(server.requests(kLauncherPath + "launcherconfig.txt"), 1);
  EXPECT_EQ(testfiles::ReadFile(I + L"\\Temp\\LauncherUpdate\\VORELLauncher.exe"), "launcher 4.1.3");
  EXPECT_EQ(testfiles::ReadFile(I + L"\\updater.bat"), BuildUpdaterScript({"A.dll"}));
  EXPECT_TRUE(DirectoryExists(I + L"\\Config"));
}

TEST_F(Scenario, OlderLocalVersionComponentByComponentSelfUpdates) {
  publish("1.5.0");
  installGame();
  std::string config = testfiles::ReadFile(served(kLauncherPath + "launcherconfig.txt"));
  installLocalLauncherConfig(ReplaceAll(config, "launcherVersion=1.5.0", "launcherVersion=2.0.0"));
  EXPECT_FALSE(run());
  Lines lines = log();
  EXPECT_EQ(lines[1], "[INFO] Local launcher version : 2.0.0");
  EXPECT_EQ(lines[2], "[INFO] Latest launcer version : 1.5.0");
  EXPECT_EQ(lines[3], "[INFO] =========Launcher self-update process");
}
#endif

#ifdef _WIN32
// The whole hand-over: the old launcher fetches the new package, writes updater.bat, starts it
// and exits; the script replaces the files and the configuration and starts the new launcher,
// which then brings the game up to date. The headless runner stands in for the launcher.
TEST_F(Scenario, SelfUpdateHandsOverToTheNewLauncher) {
  std::wstring runner = testfiles::HostPath(VOREL_UPDATE_RUNNER);
  ASSERT_TRUE(CopyFileOver(runner, work / L"launcher\\VORELLauncher.exe"));
  testfiles::WriteFile(work / L"launcher\\A.dll", "new a");
  testfiles::WriteFile(work / L"launcher\\B.dat", "new b");
  publish("4.2.0");
  ASSERT_TRUE(CopyFileOver(runner, I + L"\\VORELLauncher.exe"));
  testfiles::WriteFile(I + L"\\A.dll", "old a");
  std::string config = testfiles::ReadFile(served(kLauncherPath + "launcherconfig.txt"));
  installLocalLauncherConfig(ReplaceAll(config, "launcherVersion=4.2.0", "launcherVersion=4.1.0"));
  installGame();
  installServerConfig("incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n");

  EXPECT_EQ(RunAndWait(I + L"\\VORELLauncher.exe", L"", I), 0);  // ended by the hand-over
  const std::string finished = "[INFO] Launcher process finish, can start game process at any time";
  bool done = false;
  for (int i = 0; i < 600 && !done; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Lines lines = log();
    done = !testfiles::Exists(I + L"\\updater.bat") && std::find(lines.begin(), lines.end(), finished) != lines.end();
  }
  ASSERT_TRUE(done) << "the new launcher did not finish an update";
  Lines lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "[INFO] =========Launcher self-update process"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "[INFO] Local launcher version : 4.2.0"), lines.end());
  EXPECT_EQ(testfiles::ReadFile(I + L"\\A.dll"), "new a");
  EXPECT_EQ(testfiles::ReadFile(I + L"\\B.dat"), "new b");
  EXPECT_EQ(testfiles::ReadFile(I + L"\\VORELLauncher.exe"), testfiles::ReadFile(runner));
  EXPECT_EQ(testfiles::ReadFile(I + L"\\Config\\launcherconfig.txt"), config);
  // The finished run of the new launcher removed the working folder with the staging folder.
  EXPECT_FALSE(testfiles::Exists(I + L"\\Temp"));
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
}
#endif
