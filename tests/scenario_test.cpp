// Whole update runs: a temporary installation brought up to date by the real engine from a
// server folder published with the release builder and served by the local test server.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <thread>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/published_game.h"
#include "support/sha256.h"
#include "support/signature.h"
#include "support/test_files.h"
#include "support/test_server.h"
#include "support/text_util.h"
#include "support/texts.h"
#include "update/file_list.h"
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
  int32_t stage = -1;
  std::wstring status, version;
  bool inPackage = false;
  std::string releaseKey;  // the public key the launcher is built with; empty: unsigned
  EngineOptions options;   // the launcher's own unless a test shortens its time windows
  // Of the last run: how much the process's memory grew at most, and how long it took.
  uint64_t memoryGrowth = 0;
  double seconds = 0;
  std::function<void(Patcher&)> watch;  // called as the window reads the fields, when set

  void SetUp() override {
    I = work / L"install";
    CreateDirectories(I + L"\\Config\\");
    OverrideFreeDiskSpaceForTesting(int64_t(1) << 40);
    testfiles::WriteFile(work / L"game\\vorel.exe", "the game 1.0.3");
    testfiles::WriteFile(work / L"game\\data\\a.pak", testfiles::RandomBytes(200000, 42));
    testfiles::WriteFile(work / L"game\\data\\sub\\b.txt", "b text");
    testfiles::WriteFile(work / L"game\\empty.cfg", "");
    testfiles::WriteFile(work / L"launcher\\VORELLauncher.exe", "launcher 4.1.3");
    testfiles::WriteFile(work / L"launcher\\A.dll", "a library");
  }
  void TearDown() override {
    OverrideFreeDiskSpaceForTesting(-1);
    ClearFaults();
  }

  std::string base() const { return server.base() + kLauncherPath; }
  std::wstring served(const std::string& relative) const { return server.file(relative); }
  void publish(const std::string& launcherVersion = "4.1.3", uint64_t packageSize = 100000,
               const std::string& signingKey = "") {
    PublishResult published = PublishGame(server, work.path(), launcherVersion, packageSize, signingKey);
    ASSERT_TRUE(published.ok) << published.error;
  }

  // The installation's local files.
  void installLauncherConfig() {
    ASSERT_TRUE(CopyFileOver(served(kLauncherPath + "launcherconfig.txt"), I + L"\\Config\\launcherconfig.txt"));
  }
  void installGame(const std::wstring& where = L"Game\\vorel_win") { ASSERT_TRUE(CopyTree(work / L"game", I + L"\\" + where)); }
  void installServerConfig(const std::string& text) { testfiles::WriteFile(I + L"\\Config\\serverconfig.txt", text); }
  void installCurrent() {  // launcher, game and local configuration all at the published version
    installLauncherConfig();
    installGame();
    installServerConfig(kCurrent);
  }
  std::string localServerConfig() { return testfiles::ReadFile(I + L"\\Config\\serverconfig.txt"); }

  // Runs the update on a thread of its own while this thread reads the shared fields in a tight
  // loop, as the window does every frame (the thread sanitizer build runs these too).
  bool run() {
    Patcher patcher(options);
    patcher.SetInstallDir(I);
    const uint64_t memoryBefore = testfiles::ResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    memoryGrowth = 0;
    patcher.releasePublicKey = releaseKey;
    std::atomic<bool> done{false};
    bool result = false;
    std::thread update([&] {
      result = patcher.UpdateProcess(base());
      done = true;
    });
    size_t seen = 0, polls = 0;
    while (!done) {
      std::wstring texts = patcher.statusText.get() + patcher.versionText.get() + patcher.currentFileName.get();
      seen += texts.size() + static_cast<size_t>(patcher.stage + patcher.filesDone + patcher.bytesDone +
                                                 patcher.bytesTotal + patcher.currentFileReceived);
      if (watch) watch(patcher);
      if (++polls % 256 == 0) {
        const uint64_t now = testfiles::ResidentBytes();
        memoryGrowth = std::max(memoryGrowth, now > memoryBefore ? now - memoryBefore : 0);
      }
    }
    update.join();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NE(seen, 1u);
    stage = patcher.stage;
    status = patcher.statusText;
    version = patcher.versionText;
    inPackage = patcher.inPackage;
    return result;
  }

  // The day's log with time stamps cut and the installation folder written as "I". Lines of
  // the download workers come in either order and are sorted within their block.
  Lines log() {
    Lines lines = testfiles::DayLogLines(I);
    for (auto& line : lines) line = ReplaceAll(line, WideToAnsi(I), "I");
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    // Each run's Patcher is destroyed at the end of run(), which closes its log.
    if (!lines.empty() && lines.back() == "=== End logging ===") lines.pop_back();
    for (size_t i = 0; i < lines.size(); ++i) {
      size_t j = i;
      while (j < lines.size() && lines[j].rfind("[INFO] Job ", 0) == 0) ++j;
      std::sort(lines.begin() + i, lines.begin() + j);
    }
    return lines;
  }
  Lines tail(size_t count) {
    Lines lines = log();
    return Lines(lines.end() - std::min(count, lines.size()), lines.end());
  }

  bool gameMatches(const std::wstring& where) {
    for (auto rel : {L"vorel.exe", L"data\\a.pak", L"data\\sub\\b.txt", L"empty.cfg"}) {
      std::wstring local = I + L"\\" + where + L"\\" + rel;
      if (!testfiles::Exists(local) || testfiles::ReadFile(local) != testfiles::ReadFile(work / L"game\\" + rel))
        return false;
    }
    return true;
  }

  static constexpr const char* kCurrent = "incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=False\n";
};

const Lines kVersionsChecked = {
    "=== Start logging ===",
    "[INFO] Local launcher version : 4.1.3",
    "[INFO] Latest launcer version : 4.1.3",
    "[INFO] Local game version : 1.0.3",
    "[INFO] Latest game version : 1.0.3/1.0.3",
};
const Lines kFinished = {
    "[INFO] Finish update process, update config files",
    "[INFO] Launcher process finish, can start game process at any time",
};

Lines Join(Lines a, const Lines& b, const Lines& c = {}) {
  a.insert(a.end(), b.begin(), b.end());
  a.insert(a.end(), c.begin(), c.end());
  return a;
}

}  // namespace

TEST_F(Scenario, FreshInstallationWithMatchingGameNeedsNoPackage) {
  publish();
  // A zip version that is not valid keeps its placeholder in the label.
  std::string config = testfiles::ReadFile(served(kLauncherPath + "serverconfig.txt"));
  testfiles::WriteFile(served(kLauncherPath + "serverconfig.txt"), ReplaceAll(config, "zipVersion=1.0.3", "zipVersion=0.1.0"));
  installLauncherConfig();
  installGame();
  ASSERT_TRUE(run());
  EXPECT_EQ(version, L"Version: Vx.x.x/V1.0.3");
  EXPECT_EQ(log()[3], "[INFO] Local game version : -1.-1.-1");
  EXPECT_EQ(tail(2), kFinished);
  EXPECT_EQ(server.requests("production/vorel_pql_win/Game/1.0.3/ziplist.txt"), 0);
  EXPECT_EQ(localServerConfig(), "incrementVersion=1.0.3\nzipVersion=-1.-1.-1\nusePackage=False\n");
}

TEST_F(Scenario, DamagedFileIsRepairedByTheIncrementUpdate) {
  publish();
  installCurrent();
  testfiles::WriteFile(I + L"\\Game\\vorel_win\\data\\sub\\b.txt", "b tex!");
  // An earlier run that failed left a file staged that this run does not need: it must not be
  // copied over the game.
  testfiles::WriteFile(I + L"\\Temp\\Incrementupdate\\vorel_win\\vorel.exe", "an older game");
  // Nor may a link there to a folder outside be followed: its files stay where they are.
  testfiles::WriteFile(work / L"outside\\data\\sub\\b.txt", "not ours");
  std::error_code linkError;
  std::filesystem::create_directory_symlink(testfiles::FsPath(work / L"outside\\data"),
                                            testfiles::FsPath(I + L"\\Temp\\Incrementupdate\\vorel_win\\data"),
                                            linkError);
  ASSERT_TRUE(run());
  EXPECT_EQ(testfiles::ReadFile(work / L"outside\\data\\sub\\b.txt"), "not ours");
  EXPECT_EQ(stage, Finished);
  EXPECT_EQ(status, texts::UpdateDone);
  EXPECT_EQ(version, L"Version: V1.0.3/V1.0.3");
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
  EXPECT_FALSE(testfiles::Exists(I + L"\\Temp"));
  EXPECT_EQ(localServerConfig(), kCurrent);
  EXPECT_EQ(log(), Join(kVersionsChecked,
                        {
                            "[INFO] Check local files filesToDownload = 1    bytesToDownload = 6",
                            "[INFO] Check local game files checkGamePath:  I\\Game\\vorel_win\\    filesToDownload = 1",
                            "[INFO] =========Increment update process  filesToDownload = 1    bytesToDownload = 6    "
                            "incGameDirectory = I\\Temp\\Incrementupdate\\vorel_win",
                            "[INFO] =========Increment update finish  filesToDownload = 1    failedFiles = 0    "
                            "localFaults = 0",
                            "[INFO] Copy increment update files to I\\Game\\vorel_win\\",
                        },
                        kFinished));
  // A server without patches sees one request more, for the patch list: answered 404, and
  // neither logged nor shown to the player.
  EXPECT_EQ(server.requests("production/vorel_pql_win/Game/1.0.3/patchlist.txt"), 1);
}

TEST_F(Scenario, MissingGameDirectoryForcesTheZipUpdate) {
  publish();
  installLauncherConfig();
  installServerConfig(kCurrent);
  ASSERT_TRUE(run());
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
  EXPECT_FALSE(inPackage);
  EXPECT_FALSE(testfiles::Exists(I + L"\\Package"));
  // Two packages (the big file alone, the small ones together), fetched by the two workers.
  EXPECT_EQ(log(), Join(kVersionsChecked,
                        {
                            "[INFO] Check local files filesToDownload = 4    bytesToDownload = 200020",
                            "[INFO] Can not locate local game directory, force zip update",
                            "[INFO] =========Zip update process",
                            "[INFO] Avaliable space : 1099511627776 Required space : 400623",
                            "[INFO] Zip download total files: 2",
                            "[INFO] Job I\\Temp\\ZipUpdate\\vorel_win_001.zip Download Success. RetryTime = 0",
                            "[INFO] Job I\\Temp\\ZipUpdate\\vorel_win_002.zip Download Success. RetryTime = 0",
                            "[INFO] Finsh zip download filesToDownload = 2  failedFiles = 0  localFaults = 0",
                            "[INFO] =========Zip update finish",
                            "[INFO] Check local game files checkGamePath:  I\\Package\\vorel_win    filesToDownload = 0",
                            "[INFO] Rename process after zip update process",
                        },
                        kFinished));
  EXPECT_EQ(localServerConfig(), kCurrent);
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
  EXPECT_EQ(Lines(lines.begin() + 5, lines.begin() + 8),
            (Lines{"[INFO] Current Game Directory is Package", "[INFO] Detecte Old Game Directory, need to remove",
                   "[INFO] Delete old game files"}));
}

// The update process's failures, one row each: what the run returns, where it stops, what the
// player reads and the log's last lines.
TEST_F(Scenario, FailureTable) {
  publish();
  const std::string game = "production/vorel_pql_win/Game/1.0.3/";
  const std::string older = "incrementVersion=1.0.0\nzipVersion=1.0.0\nusePackage=False\n";
  const std::string inPackageConfig = "incrementVersion=1.0.3\nzipVersion=1.0.3\nusePackage=True\n";
  const std::wstring notFound = L" CURLCODE(0) HTTP STATUES CODE(404)";
  // The rows share the server: a fault counts the path's earlier requests too.
  auto notFoundNext = [&](const std::string& path) {
    server.fault(path, R"({"status": 404, "times": )" + std::to_string(server.requests(path) + 1) + "}");
  };
  struct Row {
    const char* name;
    std::function<void()> prepare;
    bool result;
    std::wstring status;
    Lines tail;
    std::function<void()> check;
  };
  const Row rows[] = {
      {"server configuration not fetched",
       [&] {
         installCurrent();
         notFoundNext(kLauncherPath + "serverconfig.txt");
       },
       false, texts::CannotVerify + notFound,
       {"[ERROR] Download Binary file failed! url = " + base() + "serverconfig.txt    CURL CODE = 0 HttpStatusCode = 404"},
       nullptr},
      {"old game root not deletable before the file check",
       [&] {
         installLauncherConfig();
         installGame();
         installGame(L"Package\\vorel_win");
         installServerConfig(inPackageConfig);
         InjectFault(FaultCall::RemoveDirectory, 5, L"Game");
       },
       false, texts::DeleteFailed + L"<I>\\Game LastError(5) Errno(0)",
       {"[INFO]  Delete local game directory failed LastError = 5 Errno = 0"},
       [&] { EXPECT_TRUE(gameMatches(L"Package\\vorel_win")); }},
      {"package root not renamable before the file check: the run goes on in the package",
       [&] {
         installLauncherConfig();
         installGame(L"Package\\vorel_win");
         installServerConfig(inPackageConfig);
         InjectFault(FaultCall::Rename, 5, L"Package");
       },
       true, texts::UpdateDone, kFinished,
       [&] {
         Lines lines = log();
         EXPECT_EQ(lines[6], "[INFO] Rename failed LastError = 5 Errno = -1 Keep UsePackage = True and Continue Process");
         EXPECT_TRUE(inPackage);
         EXPECT_EQ(localServerConfig(), inPackageConfig);
       }},
      {"file list not fetched, after usePackage without a package was rewritten",
       [&] {
         installLauncherConfig();
         installGame();
         installServerConfig(inPackageConfig);
         notFoundNext(game + "filelist.txt");
       },
       false, texts::CannotVerify + notFound,
       {"[INFO] Current Game Directory is Package", "[ERROR] Get Remote TextFile Failed! CURL CODE = 0 HttpStatusCode = 404"},
       [&] {
         EXPECT_EQ(localServerConfig(), "incrementVersion=1.0.3\r\nzipVersion=1.0.3\r\nusePackage=False\r\n");
         EXPECT_FALSE(inPackage);
         // Without a package to replace it, the game tree is the only copy and stays.
         EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
       }},
      {"zip update needed while the game is in the package",
       [&] {
         installLauncherConfig();
         installGame(L"Package\\vorel_win");
         installServerConfig("incrementVersion=1.0.0\nzipVersion=1.0.0\nusePackage=True\n");
         InjectFault(FaultCall::Rename, 5, L"Package");
       },
       false, texts::CannotVerify,  // no codes: no transfer failed
       {"[ERROR] ZipUpdate is not reachable while using package! End Launcher Process"},
       [&] { EXPECT_TRUE(inPackage); }},
      {"zip list not fetched",
       [&] {
         installLauncherConfig();
         installServerConfig(kCurrent);
         notFoundNext(game + "ziplist.txt");
       },
       false, texts::CannotVerify + notFound,
       {"[ERROR] Get Remote TextFile Failed! CURL CODE = 0 HttpStatusCode = 404"}, nullptr},
      {"failed files and local faults: the local fault decides",
       [&] {
         installCurrent();
         testfiles::WriteFile(I + L"\\Game\\vorel_win\\vorel.exe", "damaged");
         testfiles::WriteFile(I + L"\\Game\\vorel_win\\data\\sub\\b.txt", "damaged");
         notFoundNext(game + "files/data/sub/b.txt");
         InjectFault(FaultCall::OpenFile, 5, L"Incrementupdate\\vorel_win\\vorel.exe");
       },
       false, texts::PermissionProblem,
       {"[INFO] =========Increment update finish  filesToDownload = 2    failedFiles = 2    localFaults = 1"},
       [&] { EXPECT_EQ(testfiles::ReadFile(I + L"\\Game\\vorel_win\\vorel.exe"), "damaged"); }},
      {"extraction failed",
       [&] {
         installLauncherConfig();
         installServerConfig(kCurrent);
         InjectFault(FaultCall::OpenFile, 5, L"Package");
       },
       false, texts::UnzipFailed + L" LastError(5)",
       {"[ERROR] Unzip failed! Zip path : I\\Temp\\ZipUpdate\\vorel_win_001.zip Unzip path : I\\Package LastError = 5"},
       nullptr},
      {"copy of increment files failed",
       [&] {
         installCurrent();
         testfiles::WriteFile(I + L"\\Game\\vorel_win\\data\\sub\\b.txt", "damaged");
         InjectFault(FaultCall::CopyFile, 5, L"Game");
       },
       false, texts::MoveFailed + L" LastError(5)", {"[INFO] Copy Failed! ErrorCode = 5"},
       [&] { EXPECT_EQ(localServerConfig(), kCurrent); }},
      {"package root not renamable after a zip update: the game stays in the package",
       [&] {
         installLauncherConfig();
         installServerConfig(kCurrent);
         InjectFault(FaultCall::Rename, 5, L"Package");
       },
       true, texts::UpdateDone,
       Join({"[INFO] Rename process after zip update process", "[INFO] Rename failed LastError = 5 Errno = -1",
             "[INFO] Rename failed! Update ServerConfig, set localServerConfigInfo.usePackage=true and try to start "
             "game at Package"},
            kFinished),
       [&] {
         EXPECT_TRUE(inPackage);
         EXPECT_TRUE(gameMatches(L"Package\\vorel_win"));
         EXPECT_EQ(localServerConfig(), inPackageConfig);
       }},
      {"old game root not deletable after a zip update: the game stays in the package",
       [&] {
         installLauncherConfig();
         installGame();
         installServerConfig(older);
         InjectFault(FaultCall::RemoveDirectory, 5, L"Game");
       },
       true, texts::UpdateDone,
       {"[INFO]  Delete local game directory failed LastError = 5 Errno = 0",
        "[INFO]  Delete local game directory failed",
        "[INFO]  Launcher process finish, can start game process (In Package) at any time"},
       [&] {
         EXPECT_TRUE(inPackage);
         EXPECT_TRUE(gameMatches(L"Package\\vorel_win"));
         EXPECT_EQ(localServerConfig(), inPackageConfig);
       }},
      {"local server configuration not writable",
       [&] {
         installLauncherConfig();
         installGame();
         InjectFault(FaultCall::OpenFile, 5, L"Config\\serverconfig.txt");
       },
       true, texts::UpdateDone,
       {"[INFO] Finish update process, update config files", "[ERROR] Serverconfig update error! ErrorCode = 5",
        "[INFO] Launcher process finish, can start game process at any time"},
       nullptr},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    I = work / (L"install" + std::to_wstring(n++));
    CreateDirectories(I + L"\\Config\\");
    row.prepare();
    EXPECT_EQ(run(), row.result);
    ClearFaults();
    EXPECT_EQ(stage, row.result ? Finished : Failed);
    EXPECT_EQ(status, ReplaceAll(row.status, L"<I>", I));
    EXPECT_EQ(tail(row.tail.size()), row.tail);
    // A failed run leaves its working folder and the local launcher configuration for the next.
    EXPECT_EQ(testfiles::Exists(I + L"\\Temp"), !row.result);
    if (row.check) row.check();
  }
}

// A text cut at its cap has grown by doubling, so a run may hold about twice the cap for a moment.
// The sanitizers keep freed blocks in quarantine and add their shadow memory: twice that there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uint64_t kMemoryBound = uint64_t(512) << 20;
#else
constexpr uint64_t kMemoryBound = uint64_t(256) << 20;
#endif

// A launcher built with a release key installs a signed release, and refuses one that does not
// verify with nothing of it installed: the game, the local configuration and the record of the
// accepted release stay as they were.
TEST_F(Scenario, SignedReleases) {
  std::string publicKey, secretKey, otherPublic, otherSecret;
  ASSERT_TRUE(MakeSigningKeys(publicKey, secretKey));
  ASSERT_TRUE(MakeSigningKeys(otherPublic, otherSecret));
  publish("4.1.3", 100000, secretKey);
  const std::string game = "production/vorel_pql_win/Game/1.0.3/";
  const std::string manifest = kLauncherPath + "releasemanifest.txt", signature = kLauncherPath + "releasemanifest.sig";
  const std::string firstPackage = game + "zip/" + WideToAnsi(testfiles::ListNames(served(game + "zip"))[0]);
  // The record the publisher writes for an installer is the one a run keeps.
  const std::string accepted = testfiles::ReadFile(served(kLauncherPath + "acceptedrelease.txt"));
  EXPECT_EQ(accepted.rfind("launcherVersion=4.1.3\nincrementVersion=1.0.3\nissued=", 0), 0u);
  // What a row changes on the server is put back after it.
  std::vector<std::pair<std::string, std::string>> changed;
  auto change = [&](const std::string& path, const std::string& content) {
    bool there = testfiles::Exists(served(path));
    changed.emplace_back(path, there ? testfiles::ReadFile(served(path)) : std::string("\x01missing"));
    if (content == "\x01missing") RemoveFile(served(path));
    else server.put(path, content);
  };
  auto scripted = [&](const std::string& path, const std::string& json) { change(path + ".fault.json", json); };
  auto forge = [&](const std::string& path) { change(path, testfiles::ForgeSameCrc(testfiles::ReadFile(served(path)), "forged")); };
  auto fresh = [&] { installLauncherConfig(); };
  auto damaged = [&] {  // an installed game with one file to repair by an increment update
    installCurrent();
    testfiles::WriteFile(I + L"\\Game\\vorel_win\\data\\a.pak", "damaged");
  };
  // A manifest the studio's key signed with other contents: an old release replayed, one past its
  // expiry. The texts it vouches for stay those on the server.
  auto signedAs = [&](const std::function<void(ReleaseManifest&)>& edit) {
    ReleaseManifest m;
    std::string problem;
    ASSERT_TRUE(ParseReleaseManifest(testfiles::ReadFile(served(manifest)), m, problem)) << problem;
    edit(m);
    const std::string text = FormatReleaseManifest(m);
    change(manifest, text);
    change(signature, SignMessage(text, secretKey) + "\n");
  };
  const int64_t now = static_cast<int64_t>(std::time(nullptr)), day = 86400;
  ReleaseManifest published;
  std::string problem;
  ASSERT_TRUE(ParseReleaseManifest(testfiles::ReadFile(served(manifest)), published, problem)) << problem;
  // A second mirror listed first by the studio's configuration, then taken over: every text and
  // package it serves is hostile.
  auto hostileMirror = [&](const std::function<void(const std::string& evil)>& poison) {
    const std::string config = kLauncherPath + "serverconfig.txt", evil = server.base() + "evil/";
    std::string text;
    for (const std::string& line : Split(testfiles::ReadFile(served(config)), '\n')) {
      size_t equals = line.find("URLs=" + server.base());
      text += equals == std::string::npos ? line : line.substr(0, equals + 5) + evil + line.substr(equals + 5 + server.base().size()) + "$" + line.substr(equals + 5);
      text += "\n";
    }
    text.pop_back();
    change(config, text);
    signedAs([&](ReleaseManifest& m) { m.texts[ServerConfigFileA] = Sha256::OfText(text); });
    poison("evil/");
  };
  // Hostile answers, capped on the server's side far above anything the launcher may take.
  const std::string endless = R"({"mode": "endless", "limit": 536870912})";
  auto shortWindows = [&] {
    TransferTimings& t = options.timings;
    t.lowSpeedSeconds = t.retryLowSpeedSeconds = t.textLowSpeedSeconds = 2;
    t.textTotalSeconds = 4;
    // Well beyond the low-speed window, so that a stalled transfer ends by that window (code 28)
    // on a busy machine too, and not now and then by the stall watchdog (code 42).
    t.stallMs = 6000;
  };
  // An unsigned server (a launcher built without a key) that lists names of its choosing, each
  // served as a real file (where this system can write such a name: not under Windows, where
  // opening COM1 would wait for a serial port), beside an installed game with one file to repair.
  auto namesListed = [&](const std::vector<std::string>& names) {
    releaseKey.clear();
    damaged();
    std::string list = testfiles::ReadFile(served(game + "filelist.txt"));
    for (const std::string& name : names) {
#ifndef _WIN32
      server.put(game + "files/" + ReplaceAll(name, "\\", "/"), "planted");
#endif
      list += name + "=" + name + "$7$" + testfiles::CrcText("planted") + "\n";
    }
    change(game + "filelist.txt", list);
  };
  auto record = [&](const std::string& text) { testfiles::WriteFile(I + L"\\Config\\acceptedrelease.txt", text); };
  const std::wstring refused = texts::ReleaseNotVerified;
  struct Row {
    const char* name;
    std::function<void()> prepare;
    int32_t stage;
    std::wstring status;  // the status's start
    std::string logged;   // a line of the log
  };
  const Row rows[] = {
      {"a signed zip install", fresh, Finished, texts::UpdateDone, "[INFO] Release manifest accepted  launcher = 4.1.3  game = 1.0.3/1.0.3"},
      {"a signed increment update", damaged, Finished, texts::UpdateDone, "[INFO] Copy increment update files to I\\Game\\vorel_win\\"},
      {"a game file forged with its CRC kept",
       [&] { damaged(); forge(game + "files/data/a.pak"); },
       Failed, texts::DownloadFailed, "[ERROR] File SHA-256 Check Error! FileName = data/a.pak"},
      {"a package forged with its CRC kept", [&] { fresh(); forge(firstPackage); }, Failed, texts::DownloadFailed,
       "Zip File SHA-256 Check Error!"},
      {"the launcher package forged with its CRC kept",
       [&] { forge(kLauncherPath + "4.1.3/VORELLauncher_4.1.3.zip"); },  // no local configuration: a self-update
       Failed, texts::LauncherUpdateFailed, "[ERROR] Launcher package SHA-256 Check Error!"},
      {"a changed file list",
       [&] { damaged(); change(game + "filelist.txt", testfiles::ReadFile(served(game + "filelist.txt")) + "x=x$1$8CDC1683\n"); },
       Failed, refused, "[ERROR] Release check failed! url = " + server.base() + game + "filelist.txt"},
      {"mix-and-match: this release's manifest with a server configuration of another",
       [&] {
         fresh();
         change(kLauncherPath + "serverconfig.txt",
                ReplaceAll(testfiles::ReadFile(served(kLauncherPath + "serverconfig.txt")), "useZip=True", "useZip=False"));
       },
       Failed, refused, "[ERROR] Release check failed! url = " + base() + "serverconfig.txt"},
      {"no signature", [&] { fresh(); change(signature, "\x01missing"); }, Failed, refused, "no signature"},
      {"an unsigned server",
       [&] { fresh(); change(signature, "\x01missing"); change(manifest, "\x01missing"); },
       Failed, refused, ""},
      {"signed with another key",
       [&] { fresh(); change(signature, SignMessage(testfiles::ReadFile(served(manifest)), otherSecret)); },
       Failed, refused, "the signature does not match"},
      {"signed with another key and this one, while keys change",
       [&] {
         fresh();
         change(signature, SignMessage(testfiles::ReadFile(served(manifest)), otherSecret) + "\r\n" +
                               testfiles::ReadFile(served(signature)));
       },
       Finished, texts::UpdateDone, "[INFO] Release manifest accepted"},
      {"a manifest changed after signing",
       [&] { fresh(); change(manifest, ReplaceAll(testfiles::ReadFile(served(manifest)), "incrementVersion=1.0.3", "incrementVersion=1.0.4")); },
       Failed, refused, "the signature does not match"},
      {"a rolled-back game, the installation holding a newer release's record",
       [&] { fresh(); record("launcherVersion=4.1.3\nincrementVersion=1.0.4\n"); },
       Failed, refused, "older than the accepted release 4.1.3/1.0.4"},
      {"a rolled-back launcher on a first run: the running launcher is the floor",
       [&] { fresh(); signedAs([](ReleaseManifest& m) { m.launcherVersion = ParseVersion("4.1.2"); }); },
       Failed, refused, "its launcher 4.1.2 is older than 4.1.3"},
      {"a launcher that updated itself to 4.2.0 (no record yet) offered the release of 4.1.3",
       [&] {
         testfiles::WriteFile(I + L"\\Config\\launcherconfig.txt",
                              ReplaceAll(testfiles::ReadFile(served(kLauncherPath + "launcherconfig.txt")), "launcherVersion=4.1.3", "launcherVersion=4.2.0"));
       },
       Failed, refused, "its launcher 4.1.3 is older than 4.2.0"},
      {"the same versions replayed from before the signing the installation accepted",
       [&] { fresh(); record(ReplaceAll(accepted, FormatUtcTime(published.issued), FormatUtcTime(published.issued + day))); },
       Failed, refused, ", before the accepted release of "},
      {"an expired manifest",
       [&] { fresh(); signedAs([&](ReleaseManifest& m) { m.issued = now - 40 * day, m.expires = now - 2 * day; }); },
       Failed, texts::ReleaseExpired, "expired "},
      {"a manifest that expired within the clock tolerance",
       [&] { fresh(); signedAs([&](ReleaseManifest& m) { m.issued = now - 30 * day, m.expires = now - 3600; }); },
       Finished, texts::UpdateDone, "[INFO] Release manifest accepted"},
      {"the server configuration redirected to a local file",
       [&] { fresh(); scripted(kLauncherPath + "serverconfig.txt", R"({"mode": "redirect", "location": "file:///etc/hosts"})"); },
       Failed, texts::CannotVerify, "serverconfig.txt    CURL CODE = 1 HttpStatusCode = 302"},
      {"the server configuration redirected to FTP, where the same file lies",
       [&] {
         fresh();
         scripted(kLauncherPath + "serverconfig.txt",
                  R"({"mode": "redirect", "location": ")" + server.ftpUrl(kLauncherPath + "serverconfig.txt") + R"("})");
       },
       Failed, texts::CannotVerify, "serverconfig.txt    CURL CODE = 1 HttpStatusCode = 302"},
      {"endless data for the manifest", [&] { fresh(); scripted(manifest, endless); }, Failed, refused,
       "[ERROR] Get Remote TextFile Failed! CURL CODE = 63 HttpStatusCode = 200"},
      {"endless data for the signature", [&] { fresh(); scripted(signature, endless); }, Failed, refused, "no signature"},
      {"endless data for the launcher configuration", [&] { fresh(); scripted(kLauncherPath + "launcherconfig.txt", endless); },
       Failed, texts::CannotVerify, "launcherconfig.txt    CURL CODE = 63 HttpStatusCode = 200"},
      {"endless data for the server configuration", [&] { fresh(); scripted(kLauncherPath + "serverconfig.txt", endless); },
       Failed, texts::CannotVerify, "serverconfig.txt    CURL CODE = 63 HttpStatusCode = 200"},
      {"endless data for the file list", [&] { fresh(); scripted(game + "filelist.txt", endless); }, Failed,
       texts::CannotVerify, "[ERROR] Get Remote TextFile Failed! CURL CODE = 63 HttpStatusCode = 200"},
      {"endless data for the zip list", [&] { fresh(); scripted(game + "ziplist.txt", endless); }, Failed,
       texts::CannotVerify, "[ERROR] Get Remote TextFile Failed! CURL CODE = 63 HttpStatusCode = 200"},
      {"endless data for a package: never more than its listed size on disk", [&] { fresh(); scripted(firstPackage, endless); },
       Failed, texts::DownloadFailed, "download failed! ResultCode = 63 HttpStatus = 200"},
      {"a file list that trickles", [&] { fresh(); shortWindows(); scripted(game + "filelist.txt", R"({"mode": "drip", "rate": 8})"); },
       Failed, texts::CannotVerify, "[ERROR] Get Remote TextFile Failed! CURL CODE = 28 HttpStatusCode = 200"},
      {"a package answered and then stalled", [&] { fresh(); shortWindows(); scripted(firstPackage, R"({"mode": "stall", "after": 100})"); },
       Failed, texts::DownloadFailed, "download failed! ResultCode = 28 HttpStatus = 200"},
      {"unsigned: names Windows reads as devices or as other names",
       [&] { namesListed({"CON.pak", "data\\NUL", "aux.txt", "COM1", "nul.tar.gz", "Lpt9.x", "a.pak.", "data \\x.txt"}); },
       Failed, texts::DownloadFailed, "filesToDownload = 9    failedFiles = 8    localFaults = 0"},
      {"unsigned: paths that climb out, name a drive or a stream",
       [&] { namesListed({"../../escaped.txt", "data\\..\\..\\escaped.txt", "C:\\escaped.txt", "data\\a.pak:hidden"}); },
       Failed, texts::DownloadFailed, "filesToDownload = 5    failedFiles = 4    localFaults = 0"},
      {"one hostile mirror beside a good one: installed from the good one",
       [&] {
         fresh();
         hostileMirror([&](const std::string& evil) {
           server.put(evil + game + "filelist.txt", testfiles::ReadFile(served(game + "filelist.txt")) + "x.pak=x.pak$1$8CDC1683\n");
           server.put(evil + firstPackage, testfiles::ForgeSameCrc(testfiles::ReadFile(served(firstPackage)), "forged"));
         });
       },
       Finished, texts::UpdateDone, "Zip File SHA-256 Check Error!"},
      {"a file planted with its CRC kept before releases were signed: replaced on the first signed run",
       [&] {
         installCurrent();
         std::wstring aPak = I + L"\\Game\\vorel_win\\data\\a.pak";
         testfiles::WriteFile(aPak, testfiles::ForgeSameCrc(testfiles::ReadFile(aPak), "planted"));
       },
       Finished, texts::UpdateDone, "[INFO] Copy increment update files to I\\Game\\vorel_win\\"},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    I = work / (L"signed" + std::to_wstring(n++));
    CreateDirectories(I + L"\\Config\\");
    releaseKey = publicKey;
    options = EngineOptions{};
    row.prepare();
    auto aPak = [&] { return Sha256::OfText(testfiles::ReadFile(I + L"\\Game\\vorel_win\\data\\a.pak")); };
    const std::string gameBefore = testfiles::Exists(I + L"\\Game") ? aPak() : "";
    const std::string recordBefore = testfiles::Exists(I + L"\\Config\\acceptedrelease.txt") ? testfiles::ReadFile(I + L"\\Config\\acceptedrelease.txt") : "";
    EXPECT_EQ(run(), row.stage == Finished);
    // Whatever the server does, a run ends in bounded time, memory and disk.
    EXPECT_LT(seconds, 60);
    EXPECT_LT(memoryGrowth, kMemoryBound);
    EXPECT_LE(testfiles::TreeBytes(I), uint64_t(2) << 20);  // the game is 0.2 MiB
    // No name a server chose ever lands outside its folder or as a device's or another's name.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(testfiles::FsPath(work.path()))) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name != "escaped.txt" && !IsReservedDeviceName(name) && name.back() != '.' && name.back() != ' ')
          << entry.path();
    }
    EXPECT_EQ(stage, row.stage);
    EXPECT_EQ(status.substr(0, row.status.size()), row.status);
    if (!row.logged.empty()) {
      Lines lines = log();
      EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(row.logged) != std::string::npos; }))
          << row.logged << " not in:\n" << [&] { std::string all; for (const auto& l : lines) all += l + "\n"; return all; }();
    }
    const std::wstring record = I + L"\\Config\\acceptedrelease.txt";
    if (row.stage == Finished) {
      EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
      ReleaseManifest served;
      ASSERT_TRUE(ParseReleaseManifest(testfiles::ReadFile(this->served(manifest)), served, problem));
      EXPECT_EQ(testfiles::ReadFile(record), FormatAcceptedRelease(served));
    } else {
      EXPECT_EQ(gameBefore.empty() ? "" : aPak(), gameBefore);
      EXPECT_EQ(gameBefore.empty(), !testfiles::Exists(I + L"\\Game"));
      EXPECT_EQ(testfiles::Exists(record) ? testfiles::ReadFile(record) : "", recordBefore);
      EXPECT_FALSE(testfiles::Exists(I + L"\\updater.bat"));
    }
    for (auto it = changed.rbegin(); it != changed.rend(); ++it) {
      if (it->second == "\x01missing") RemoveFile(served(it->first));
      else server.put(it->first, it->second);
    }
    changed.clear();
  }
#ifndef _WIN32
  // Right after a self-update: the record moved before the hand-over, so the new launcher's first
  // run refuses the release it replaced, replayed. (The hand-over itself runs under Wine in the
  // window tests; here the script cannot start.)
  I = work / L"selfupdate";
  const std::string config = testfiles::ReadFile(served(kLauncherPath + "launcherconfig.txt"));
  testfiles::WriteFile(I + L"\\Config\\launcherconfig.txt", ReplaceAll(config, "launcherVersion=4.1.3", "launcherVersion=4.1.0"));
  EXPECT_FALSE(run());
  EXPECT_EQ(testfiles::ReadFile(I + L"\\Config\\acceptedrelease.txt"), accepted);
  ASSERT_TRUE(CopyFileOver(I + L"\\Temp\\launcherconfig.txt", I + L"\\Config\\launcherconfig.txt"));  // the script's part
  signedAs([&](ReleaseManifest& m) { m.launcherVersion = ParseVersion("4.1.0"), m.issued -= day; });
  EXPECT_FALSE(run());
  EXPECT_EQ(status, refused);
  EXPECT_EQ(testfiles::ReadFile(I + L"\\Config\\acceptedrelease.txt"), accepted);
  for (auto it = changed.rbegin(); it != changed.rend(); ++it) server.put(it->first, it->second);
#endif
  // A build without the key takes the signed release as it takes any other, never asking for the manifest.
  releaseKey.clear();
  I = work / L"unsigned";
  CreateDirectories(I + L"\\Config\\");
  int manifestRequests = server.requests(manifest);
  fresh();
  EXPECT_TRUE(run());
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
  EXPECT_EQ(server.requests(manifest), manifestRequests);
  EXPECT_FALSE(testfiles::Exists(I + L"\\Config\\acceptedrelease.txt"));
}

#ifndef _WIN32
// A self-update ends the process on Windows; this run stops where the Linux build cannot hand
// over to the batch script (the whole hand-over runs under Wine in the window tests).
TEST_F(Scenario, MissingLauncherConfigForcesSelfUpdateFromTheBuiltInAddressAlone) {
  publish();
  installGame();
  EXPECT_FALSE(run());
  Lines lines = log();
  EXPECT_EQ(lines[1], "[INFO] Missing local launcherconfig, force launcher self-update");
  EXPECT_EQ(lines[2], "[INFO] Latest launcer version : 4.1.3");  // the same version: still updated
  EXPECT_EQ(lines[3], "[INFO] =========Launcher self-update process");
  EXPECT_EQ(lines[4].rfind("[INFO] Download launcher self-update files finish crc = ", 0), 0u);
  EXPECT_EQ(lines[5].rfind("[ERROR] Start updater script failed! ErrorCode = ", 0), 0u);
  EXPECT_EQ(status.rfind(texts::PermissionProblem + L" LastError(", 0), 0u);
  EXPECT_EQ(server.requests(kLauncherPath + "launcherconfig.txt"), 1);
  EXPECT_EQ(testfiles::ReadFile(I + L"\\Temp\\LauncherUpdate\\VORELLauncher.exe"), "launcher 4.1.3");
  EXPECT_EQ(testfiles::ReadFile(I + L"\\updater.bat"), BuildUpdaterScript({"A.dll"}));
  EXPECT_TRUE(DirectoryExists(I + L"\\Config"));
  // The headless runner says that the new launcher is staged, not that permissions are missing.
  std::string config = testfiles::ReadFile(served(kLauncherPath + "launcherconfig.txt"));
  testfiles::WriteFile(I + L"\\Config\\launcherconfig.txt",
                       ReplaceAll(config, "launcherVersion=4.1.3", "launcherVersion=4.1.0"));
  EXPECT_EQ(RunAndWait(testfiles::HostPath(VOREL_UPDATE_RUNNER), L"--install-dir " + I, I), 3);
}
#endif

// An exception on the update thread (memory running out, say) fails the run where the player
// sees it instead of ending the launcher.
TEST(UpdateThread, AnExceptionFailsTheRun) {
  TempDir dir;
  Patcher patcher;
  patcher.logger.open(WideToAnsi(dir / L"log.txt"));
  patcher.RunGuarded([] { throw std::bad_alloc(); });
  EXPECT_EQ(patcher.stage, Failed);
  EXPECT_EQ(patcher.statusText.get(), texts::LauncherUpdateFailed);
  Lines lines = testfiles::LogLines(dir / L"log.txt");
  EXPECT_EQ(lines.back(), std::string("[ERROR] Update process stopped by an exception! ") + std::bad_alloc().what());
}

// Patch updates: the installed game is release 1 (work\v1); the server publishes release 2 with
// patches from release 1, in which a.pak changed in three places and vorel.exe (too small for a
// patch) was rewritten.
struct PatchScenario : Scenario {
  const std::string gameFolder = "production/vorel_pql_win/Game/1.0.3/";
  std::string v1Pak, v2Pak, patchPath;
  int64_t downloadTotal = -1;  // the progress's total while increment files were fetched

  void SetUp() override {
    Scenario::SetUp();
    v1Pak = testfiles::ReadFile(work / L"game\\data\\a.pak");
    ASSERT_TRUE(CopyTree(work / L"game", work / L"v1"));
    v2Pak = v1Pak;
    for (size_t at : {1000u, 90000u, 199000u}) v2Pak.replace(at, 100, std::string(100, 'x'));
    testfiles::WriteFile(work / L"game\\data\\a.pak", v2Pak);
    testfiles::WriteFile(work / L"game\\vorel.exe", "the game 1.0.4");
    patchPath = gameFolder + "patches/" + testfiles::CrcText(v1Pak) + "-200000/data/a.pak";
  }
  void publishWithPatches(const std::string& signingKey = "") {
    PublishOptions options = GameRelease(server, work.path(), "4.1.3", 100000);
    options.previousDirs = {work / L"v1"};
    if (!signingKey.empty()) options.signingKeys = {signingKey};
    PublishResult published = Publish(options);
    ASSERT_TRUE(published.ok) << published.error;
  }
  void installV1() {
    installLauncherConfig();
    ASSERT_TRUE(CopyTree(work / L"v1", I + L"\\Game\\vorel_win"));
    installServerConfig(kCurrent);
  }
  bool runWatched() {
    watch = [this](Patcher& p) {
      if (p.stage == DownloadingFiles) downloadTotal = p.bytesTotal;
    };
    return run();
  }
  std::string patchLine() {
    for (const auto& line : log())
      if (line.find("Patch Update") != std::string::npos) return line;
    return "";
  }
};

TEST_F(PatchScenario, AChangedFileIsRebuiltFromItsInstalledCopy) {
  publishWithPatches();
  installV1();
  ASSERT_TRUE(runWatched());
  EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
  EXPECT_FALSE(testfiles::Exists(I + L"\\Temp"));
  EXPECT_EQ(server.requests(gameFolder + "files/data/a.pak"), 0);
  EXPECT_EQ(server.requests(patchPath), 1);
  const int64_t patchSize = static_cast<int64_t>(testfiles::ReadFile(served(patchPath)).size());
  EXPECT_LT(patchSize, 2000);
  // The progress counts the patch's bytes and the whole small file's.
  EXPECT_EQ(downloadTotal, patchSize + 14);
  EXPECT_EQ(patchLine(), "[INFO] Patch Update Success! FileName = data/a.pak PatchSize = " + std::to_string(patchSize) +
                             " FileSize = 200000");
  // A second run finds the game whole: nothing fetched.
  ASSERT_TRUE(run());
  EXPECT_EQ(server.requests(patchPath), 1);
}

// Whatever is wrong with a patch, the whole file is fetched in its place and the game ends up
// whole; a base that is not the patch's gets no patch at all.
TEST_F(PatchScenario, EveryRefusedPatchEndsWithTheWholeFile) {
  publishWithPatches();
  const std::string list = testfiles::ReadFile(served(gameFolder + "patchlist.txt"));
  const std::string patch = testfiles::ReadFile(served(patchPath));
  std::string head = patch.substr(0, 61);
  head[60] = static_cast<char>(head[60] ^ 0x5a);
  const std::string damaged = testfiles::ForgeSameCrc(patch, head);  // what only a CRC cannot tell
  const std::string modified = std::string(200000, 'm');  // the player's own a.pak, same size
  auto listWith = [&](const std::string& from, const std::string& to) {
    server.put(gameFolder + "patchlist.txt", ReplaceAll(list, from, to));
  };
  struct Row {
    const char* name;
    std::function<void()> prepare;
    std::string reason;  // empty: no patch is tried
  };
  const Row rows[] = {
      {"patch missing", [&] { server.fault(patchPath, R"({"status": 404})"); },
       "not fetched (CURL CODE = 0 HttpStatusCode = 404)"},
      {"patch cut short every time", [&] { server.fault(patchPath, R"({"mode": "cutevery", "bytes": 50})"); },
       "not fetched (CURL CODE = 18 HttpStatusCode = 200)"},
      {"patch damaged on the way", [&] { server.fault(patchPath, R"({"mode": "corrupt", "seed": 3})"); },
       "damaged patch"},
      {"damaged patch with the listed size and CRC", [&] { server.put(patchPath, damaged); }, "?"},
      {"installed copy is not the base", [&] { testfiles::WriteFile(I + L"\\Game\\vorel_win\\data\\a.pak", modified); },
       ""},
      {"list names the installed copy as the base",
       [&] {
         testfiles::WriteFile(I + L"\\Game\\vorel_win\\data\\a.pak", modified);
         listWith("=200000$" + testfiles::CrcText(v1Pak) + "$", "=200000$" + testfiles::CrcText(modified) + "$");
       },
       "the result fails its check"},
      {"list line out of shape", [&] { listWith("$200000$", "$-200000$"); }, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    installV1();
    server.put(patchPath, patch);
    server.put(gameFolder + "patchlist.txt", list);
    RemoveFileCrt(served(patchPath) + L".fault.json");
    const int wholeBefore = server.requests(gameFolder + "files/data/a.pak");
    row.prepare();
    ASSERT_TRUE(runWatched());
    EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
    EXPECT_FALSE(testfiles::Exists(I + L"\\Temp"));
    EXPECT_EQ(server.requests(gameFolder + "files/data/a.pak"), wholeBefore + 1);
    EXPECT_EQ(downloadTotal, 200000 + 14);  // a refused patch hands its place in the total back
    const std::string line = patchLine();
    if (row.reason.empty()) {
      EXPECT_EQ(line, "");
    } else {
      EXPECT_EQ(line.rfind("[WARNING] Patch Update Failed! FileName = data/a.pak Reason = ", 0), 0u) << line;
      if (row.reason != "?") {
        EXPECT_NE(line.find("Reason = " + row.reason), std::string::npos) << line;
      }
      EXPECT_EQ(line.substr(line.size() - 28), ", downloading the whole file");
    }
    std::filesystem::remove_all(testfiles::FsPath(I + L"\\Game"));
    std::filesystem::remove_all(testfiles::FsPath(I + L"\\Log"));
  }
}

// A signed release vouches for its patch list and, through the list's SHA-256s, for every patch:
// a tampered patch, or a list changed to agree with one, is refused and the whole file comes.
TEST_F(PatchScenario, SignedReleasesTakeOnlyTheirOwnPatches) {
  std::string publicKey, secretKey;
  ASSERT_TRUE(MakeSigningKeys(publicKey, secretKey));
  publishWithPatches(secretKey);
  releaseKey = publicKey;
  const std::string list = testfiles::ReadFile(served(gameFolder + "patchlist.txt"));
  const std::string patch = testfiles::ReadFile(served(patchPath));
  std::string head = patch.substr(0, 61);
  head[60] = static_cast<char>(head[60] ^ 1);
  const std::string tampered = testfiles::ForgeSameCrc(patch, head);
  struct Row {
    const char* name;
    std::function<void()> prepare;
    const char* logged;  // the line that tells what happened to the patch
  };
  const Row rows[] = {
      {"the release's own patch", [] {}, "[INFO] Patch Update Success! FileName = data/a.pak"},
      {"tampered patch with the listed size and CRC", [&] { server.put(patchPath, tampered); },
       "[WARNING] Patch Update Failed! FileName = data/a.pak Reason = damaged patch"},
      {"tampered patch and a list that agrees",
       [&] {
         std::string other = tampered + "!";
         server.put(patchPath, other);
         server.put(gameFolder + "patchlist.txt",
                    ReplaceAll(ReplaceAll(list, testfiles::CrcText(patch), testfiles::CrcText(other)),
                               "$" + std::to_string(patch.size()) + "$", "$" + std::to_string(other.size()) + "$"));
       },
       "[WARNING] Patch list refused! url = "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    installV1();
    server.put(patchPath, patch);
    server.put(gameFolder + "patchlist.txt", list);
    row.prepare();
    ASSERT_TRUE(run());
    EXPECT_TRUE(gameMatches(L"Game\\vorel_win"));
    Lines lines = log();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind(row.logged, 0) == 0; }));
    std::filesystem::remove_all(testfiles::FsPath(I + L"\\Game"));
    std::filesystem::remove_all(testfiles::FsPath(I + L"\\Log"));
  }
}
