// The real VORELLauncher.exe in temporary installations against the local test server, under
// Wine with an X display: its window, its notification icon and menu, single instance, closing
// and the game start, driven from outside the way a player and the system drive it. One window
// test runs at a time: they share the instance mutex, the pointer and the tray. Screenshots of
// the window are saved under the build folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/main_window.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/published_game.h"
#include "support/test_files.h"
#include "support/test_server.h"
#include "support/texts.h"
#include "update/tree_ops.h"
#include "win32/frame_pixels.h"

using namespace testframes;
using testfiles::TempDir;
using testserver::Area;
using Lines = std::vector<std::string>;

namespace {

const std::string kLauncherPath = "production/vorel_pql_win/Launcher/";
const std::string kTerminated = "[INFO] Launcher terminate";
// What the recording crash-dump module sees in one run of the launcher.
const std::string kDumperRun = "SetConfig(6,internal_us)\nInitDumperQuellum(p7kdmwra,4.1.2037,)\nUnInitDumper()\n";

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    Sleep(50);
  }
  return condition();
}

HWND LauncherWindow() { return FindWindowW(LauncherWindowClass.c_str(), nullptr); }

int CountLauncherWindows() {
  int count = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, LauncherWindowClass.c_str(), nullptr)) != nullptr;) ++count;
  return count;
}

// Icons in the notification area (Wine's own tray window when no X tray runs).
int CountTrayIcons() {
  HWND tray = FindWindowW(nullptr, L"Wine System Tray");
  int count = 0;
  if (tray) EnumChildWindows(tray, [](HWND, LPARAM n) -> BOOL { return ++*reinterpret_cast<int*>(n), TRUE; }, LPARAM(&count));
  return count;
}

// The client area as it is on the screen (an X screen capture under Wine).
Pixels Capture(HWND window, const char* saveAs = nullptr) {
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  FrameMemory memory(W, H);
  HDC desktop = GetDC(nullptr);
  if (desktop) {
    BitBlt(memory.dc, 0, 0, W, H, desktop, origin.x, origin.y, SRCCOPY);
    ReleaseDC(nullptr, desktop);
  }
  return Grab(memory, VOREL_SHOTS_DIR, saveAs);
}

// The start button's blue face, away from its label.
bool ButtonShown(const Pixels& s) {
  uint32_t c = s.at(1070, 530);
  return B(c) > 150 && B(c) - R(c) > 80;
}

// Light grey text pixels on the error line.
int ErrorLinePixels(const Pixels& s) {
  int count = 0;
  for (int y = 499; y < 516; ++y)
    for (int x = 20; x < 900; ++x) {
      uint32_t c = s.at(x, y);
      count += R(c) > 150 && std::abs(R(c) - G(c)) < 16 && std::abs(G(c) - B(c)) < 16;
    }
  return count;
}

// Opens the notification icon's menu and chooses by keys, as a player would with the keyboard.
bool ChooseFromTrayMenu(HWND window, const std::vector<WPARAM>& keys) {
  PostMessageW(window, WM_USER, 0, WM_RBUTTONDOWN);
  HWND menu = nullptr;
  if (!WaitFor([&] { return (menu = FindWindowW(L"#32768", nullptr)) != nullptr && IsWindowVisible(menu); }, 5000))
    return false;
  for (WPARAM key : keys) {
    PostMessageW(menu, WM_KEYDOWN, key, 0);
    Sleep(100);
  }
  return true;
}
const std::vector<WPARAM> kMenuRestore{VK_DOWN, VK_DOWN, VK_RETURN};           // item 12
const std::vector<WPARAM> kMenuQuit{VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN};     // item 13
const std::vector<WPARAM> kMenuExitOnClose{VK_DOWN, VK_RIGHT, VK_DOWN, VK_RETURN};  // item 14
const std::vector<WPARAM> kMenuHideOnClose{VK_DOWN, VK_RIGHT, VK_RETURN};           // item 15

// A program a test started; ended if it still runs, its handles closed, when the test is done.
struct Process : PROCESS_INFORMATION {
  Process() : PROCESS_INFORMATION{} {}
  Process(const Process&) = delete;
  ~Process() { end(); }
  bool start(std::wstring commandLine, const wchar_t* folder) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, this) != FALSE;
  }
  bool startLauncher(const std::wstring& installDir, const std::wstring& arguments = L"") {
    std::wstring program = L"\"" + installDir + L"\\VORELLauncher.exe\"";
    return start(arguments.empty() ? program : program + L" " + arguments, installDir.c_str());
  }
  // The exit code, or STILL_ACTIVE when the program still runs after timeoutMs.
  DWORD waitExit(int timeoutMs) const {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0) GetExitCodeProcess(hProcess, &code);
    return code;
  }
  void end() {
    if (!hProcess) return;
    if (waitExit(0) == STILL_ACTIVE) TerminateProcess(hProcess, 1);
    WaitForSingleObject(hProcess, 10000);
    CloseHandle(hProcess);
    CloseHandle(hThread);
    hProcess = hThread = nullptr;
  }
};

// A temporary installation with the real launcher, the recording crash-dump module and a local
// launcher configuration that names this test's folder on the test server.
struct RealLauncher : ::testing::Test {
  Area server;
  TempDir work;
  std::wstring I;
  Process process;

  void SetUp() override {
    ASSERT_EQ(LauncherWindow(), nullptr) << "a launcher window from an earlier test is still open";
    I = work / L"install";
    CreateDirectories(I + L"\\Config\\");
    ASSERT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_LAUNCHER_EXE), I + L"\\VORELLauncher.exe"));
    ASSERT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_RECORDING_DUMPER), I + L"\\Dumper64.dll"));
    _putenv_s("VOREL_DUMPER_LOG", WideToAnsi(work / L"dumper.txt").c_str());
    testfiles::WriteFile(work / L"game\\vorel.exe", testfiles::ReadFile(testfiles::HostPath(VOREL_STUB_GAME)));
    testfiles::WriteFile(work / L"game\\data\\a.pak", testfiles::RandomBytes(300000, 7));
    testfiles::WriteFile(work / L"launcher\\VORELLauncher.exe", "the launcher");
  }

  void TearDown() override {
    process.end();
    WaitFor([] { return LauncherWindow() == nullptr; }, 5000);
    _putenv_s("VOREL_DUMPER_LOG", "");
  }

  void publish(uint64_t packageSize = 1 << 20, const std::string& launcherVersion = LauncherVersion) {
    PublishResult published = PublishGame(server, work.path(), launcherVersion, packageSize);
    ASSERT_TRUE(published.ok) << published.error;
    ASSERT_TRUE(CopyFileOver(server.file(kLauncherPath + "launcherconfig.txt"), I + L"\\Config\\launcherconfig.txt"));
  }
  // A launcher configuration whose only address refuses connections: the update fails.
  void serverDown() {
    testfiles::WriteFile(I + L"\\Config\\launcherconfig.txt", "launcherVersion=4.1.2037\r\nremoteURLs=" +
                                                                  testserver::Get().refused + "/" + kLauncherPath + "\r\n");
  }
  void installGame() { ASSERT_TRUE(CopyTree(work / L"game", I + L"\\Game\\vorel_win")); }
  void exitMode(int mode) { testfiles::WriteFile(I + L"\\Config\\config.ini", "exitMode=" + std::to_string(mode) + "\n"); }

  void start(const std::wstring& arguments = L"") { ASSERT_TRUE(process.startLauncher(I, arguments)); }
  DWORD waitExit(int timeoutMs) { return process.waitExit(timeoutMs); }
  HWND waitWindow() {
    HWND window = nullptr;
    WaitFor([&] { return (window = LauncherWindow()) != nullptr && IsWindowVisible(window); }, 20000);
    return window;
  }
  // Starts the launcher with the update server down and waits for the failure, the button and
  // the tray icon; icons: how many the tray then holds.
  HWND startFailed(int* icons = nullptr) {
    serverDown();
    start();
    HWND window = waitWindow();
    EXPECT_TRUE(window && WaitFor([&] { return ButtonShown(Capture(window)); }, 30000));
    if (icons) {
      EXPECT_TRUE(WaitFor([&] { return CountTrayIcons() >= 1; }, 5000));
      *icons = CountTrayIcons();
    }
    return window;
  }
  void clickStartButton(HWND window, int scale = 1) {
    POINT at{1158 * scale, 536 * scale};
    ClientToScreen(window, &at);
    SetCursorPos(at.x, at.y);
    Sleep(100);
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, clicks, sizeof(INPUT));
  }
  Lines log() { return testfiles::DayLogLines(I); }
  std::string lastLogLine() { Lines lines = log(); return lines.empty() ? "" : lines.back(); }
  bool logged(const std::string& part) {
    Lines lines = log();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
  }
  std::string config() { return testfiles::ReadFile(I + L"\\Config\\config.ini"); }
  // What the stub game recorded, once it has run; empty if it did not within the time.
  std::string launched(int timeoutMs = 10000) {
    std::string text;
    WaitFor([&] { return !(text = testfiles::ReadFile(I + L"\\Game\\vorel_win\\launched.txt")).empty(); }, timeoutMs);
    return text;
  }
};

TEST_F(RealLauncher, FreshInstallationIsUpdatedAndTheGameStarted) {
  publish();
  start();
  ASSERT_EQ(waitExit(120000), 0u);
  const std::string game = launched();
  EXPECT_NE(game.find("arguments: Launcher\n"), std::string::npos) << game;
  EXPECT_NE(game.find("Game\\vorel_win"), std::string::npos) << game;
  EXPECT_EQ(lastLogLine(), kTerminated);
  EXPECT_EQ(testfiles::ReadFile(work / L"dumper.txt"), kDumperRun);
}

TEST_F(RealLauncher, AfterAFailureTheButtonStartsTheGameAndAMissingGameKeepsItsError) {
  HWND window = startFailed();
  ASSERT_NE(window, nullptr);
  const int before = ErrorLinePixels(Capture(window, "failed"));

  // No game yet: the error line appears and stays over many frames.
  clickStartButton(window);
  EXPECT_TRUE(WaitFor([&] { return ErrorLinePixels(Capture(window)) > before + 200; }, 5000));
  Sleep(1500);
  EXPECT_GT(ErrorLinePixels(Capture(window, "game-missing")), before + 200);
  EXPECT_EQ(waitExit(0), STILL_ACTIVE);

  // With the game in place the next click starts it and the launcher ends.
  installGame();
  clickStartButton(window);
  ASSERT_EQ(waitExit(20000), 0u);
  EXPECT_FALSE(launched().empty());
  EXPECT_EQ(lastLogLine(), kTerminated);
}

// A player clicks once and touches nothing more: the game starts and the launcher ends without
// waiting for another message.
TEST_F(RealLauncher, OneClickStartsTheGameAndEndsTheLauncherWithNoFurtherInput) {
  installGame();
  HWND window = startFailed();
  ASSERT_NE(window, nullptr);
  clickStartButton(window);
  EXPECT_FALSE(launched().empty());
  ASSERT_EQ(waitExit(5000), 0u);
  EXPECT_EQ(lastLogLine(), kTerminated);
}

// The display's DPI as Wine reads it for programs started from now on; the earlier value comes
// back when the test ends.
struct DisplayDpi {
  HKEY key = nullptr;
  DWORD before = 0;
  bool had = false;
  explicit DisplayDpi(DWORD dpi) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return;
    DWORD size = sizeof before;
    had = RegQueryValueExW(key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&before), &size) == ERROR_SUCCESS;
    RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  }
  ~DisplayDpi() {
    if (!key) return;
    if (had) RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&before), sizeof before);
    else RegDeleteValueW(key, L"LogPixels");
    RegCloseKey(key);
  }
};

// On a 200 % display the skin is shown at twice its size, each of its pixels as a block of 2 x 2
// screen pixels (not stretched soft), and a click on the enlarged button starts the game.
TEST_F(RealLauncher, OnA200PercentDisplayTheSkinIsDoubledPixelForPixel) {
  SetProcessDPIAware();  // this test reads the screen in its real pixels
  if (GetSystemMetrics(SM_CXSCREEN) < 2 * W || GetSystemMetrics(SM_CYSCREEN) < 2 * H + 60)
    GTEST_SKIP() << "the screen is too small for the enlarged window";
  DisplayDpi dpi(192);
  installGame();
  serverDown();
  start();
  HWND window = waitWindow();
  ASSERT_NE(window, nullptr);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 2 * W);
  EXPECT_EQ(client.bottom, 2 * H);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  FrameMemory big(2 * W, 2 * H), halved(W, H);
  ASSERT_TRUE(big.pixels && halved.pixels);
  auto capture = [&] {
    HDC desktop = GetDC(nullptr);
    BitBlt(big.dc, 0, 0, 2 * W, 2 * H, desktop, origin.x, origin.y, SRCCOPY);
    ReleaseDC(nullptr, desktop);
    GdiFlush();
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) halved.pixels[y * W + x] = big.pixels[2 * y * 2 * W + 2 * x];
    return Grab(halved);
  };
  ASSERT_TRUE(WaitFor([&] { return ButtonShown(capture()); }, 30000));
  Grab(halved, VOREL_SHOTS_DIR, "200-percent");
  int blocks = 0, uneven = 0;
  for (int y = 0; y < 2 * H; y += 2)
    for (int x = 0; x < 2 * W; x += 2, ++blocks) {
      const uint32_t* row = big.pixels + y * 2 * W + x;
      uneven += !(row[0] == row[1] && row[0] == row[2 * W] && row[0] == row[2 * W + 1]);
    }
  EXPECT_EQ(uneven, 0) << "of " << blocks << " blocks";
  clickStartButton(window, 2);
  EXPECT_FALSE(launched().empty());
  EXPECT_EQ(waitExit(5000), 0u);
}

TEST_F(RealLauncher, ASecondStartBringsTheFirstWindowForward) {
  HWND window = startFailed();
  ASSERT_NE(window, nullptr);
  const size_t logLines = log().size();
  auto startSecond = [&] {
    Process second;
    ASSERT_TRUE(second.startLauncher(I));
    EXPECT_EQ(second.waitExit(20000), 0u);
  };

  PostMessageW(window, WM_CLOSE, 0, 0);  // exit mode 1: to the tray
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, 5000));
  startSecond();
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000));

  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(WaitFor([&] { return IsIconic(window) != FALSE; }, 5000));
  startSecond();
  EXPECT_TRUE(WaitFor([&] { return !IsIconic(window); }, 5000));

  EXPECT_EQ(log().size(), logLines) << "the second launcher wrote to the log";
  EXPECT_EQ(waitExit(0), STILL_ACTIVE);
}

TEST_F(RealLauncher, TwoLaunchersStartedTogetherMakeOneWindowAndOneLog) {
  serverDown();
  Process second;
  start();
  ASSERT_TRUE(second.startLauncher(I));
  ASSERT_TRUE(WaitFor([&] { return waitExit(0) != STILL_ACTIVE || second.waitExit(0) != STILL_ACTIVE; }, 20000));
  Sleep(2000);
  const DWORD first = waitExit(0), other = second.waitExit(0);
  EXPECT_TRUE((first == 0 && other == STILL_ACTIVE) || (first == STILL_ACTIVE && other == 0)) << first << " " << other;
  EXPECT_EQ(CountLauncherWindows(), 1);  // counted before the survivor is ended below
  Lines lines = log();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "=== Start logging ==="), 1) << "two update runs on one tree";
}

TEST_F(RealLauncher, MutexWithoutAWindowShowsTheMessageBox) {
  HANDLE held = CreateMutexW(nullptr, FALSE, InstanceMutexName.c_str());
  ASSERT_NE(held, nullptr);
  serverDown();
  start();
  HWND box = nullptr;
  EXPECT_TRUE(WaitFor([&] { return (box = FindWindowW(L"#32770", texts::ErrorCaption.c_str())) != nullptr; }, 20000));
  if (box) {
    wchar_t text[512] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 512);
    EXPECT_EQ(std::wstring(text), texts::NotResponding);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  EXPECT_EQ(waitExit(10000), 0u);
  EXPECT_TRUE(testfiles::ListNames(I + L"\\Log").empty());
  CloseHandle(held);
}

// An object of another kind under the mutex's name (CreateMutexW fails with another error than
// "exists" or "denied") is no launcher: this one carries on, without the five-second wait.
TEST_F(RealLauncher, AnotherKindOfObjectUnderTheMutexNameIsNoLauncher) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, InstanceMutexName.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_NE(startFailed(), nullptr);
  EXPECT_EQ(FindWindowW(L"#32770", texts::ErrorCaption.c_str()), nullptr);
  CloseHandle(event);
}

TEST_F(RealLauncher, CloseBoxTrayAndMenuFollowTheExitMode) {
  int icons = 0;
  HWND window = startFailed(&icons);
  ASSERT_NE(window, nullptr);

  // Exit mode 1: the close box hides the window; the icon stays; a double click brings it back.
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, 5000));
  EXPECT_EQ(CountTrayIcons(), icons);
  PostMessageW(window, WM_USER, 0, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000));

  // Item 12 restores as well.
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, 5000));
  ASSERT_TRUE(ChooseFromTrayMenu(window, kMenuRestore));
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000));

  // Items 14 and 15 rewrite the settings file.
  ASSERT_TRUE(ChooseFromTrayMenu(window, kMenuExitOnClose));
  EXPECT_TRUE(WaitFor([&] { return config() == "exitMode=2\r\n"; }, 5000)) << config();
  ASSERT_TRUE(ChooseFromTrayMenu(window, kMenuHideOnClose));
  EXPECT_TRUE(WaitFor([&] { return config() == "exitMode=1\r\n"; }, 5000)) << config();

  // A change made by hand counts at the next close: exit mode 2 ends the launcher.
  exitMode(2);
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(waitExit(15000), 0u);
  EXPECT_EQ(lastLogLine(), kTerminated);
  EXPECT_TRUE(WaitFor([&] { return CountTrayIcons() == icons - 1; }, 5000));
}

TEST_F(RealLauncher, TheIconComesBackWithTheTaskbarAndItem13Ends) {
  int icons = 0;
  HWND window = startFailed(&icons);
  ASSERT_NE(window, nullptr);

  // 1134 takes the icon away; the launcher goes on.
  PostMessageW(window, WM_USER, 0, 1134);
  EXPECT_TRUE(WaitFor([&] { return CountTrayIcons() == icons - 1; }, 5000));
  // A new taskbar announces itself to every window: the icon is added again.
  PostMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitFor([&] { return CountTrayIcons() == icons; }, 5000));

  ASSERT_TRUE(ChooseFromTrayMenu(window, kMenuQuit));
  EXPECT_EQ(waitExit(15000), 0u);
  EXPECT_EQ(lastLogLine(), kTerminated);
}

TEST_F(RealLauncher, ClosingDuringADownloadEndsCleanly) {
  publish();
  // The packages arrive slowly: the launcher is closed in the middle of the download.
  const std::string packages = PublishedGameFolder("1.0.3") + "zip/";
  for (const std::wstring& name : testfiles::ListNames(server.file(packages))) {
    server.fault(packages + WideToUtf8(name), R"({"mode": "drip", "rate": 20000})");
  }
  exitMode(2);
  start();
  HWND window = waitWindow();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitFor([&] { return logged("Zip download total files"); }, 30000));
  Sleep(1000);
  Capture(window, "downloading");
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(waitExit(15000), 0u);
  EXPECT_EQ(lastLogLine(), kTerminated);
  EXPECT_EQ(testfiles::ReadFile(work / L"dumper.txt"), kDumperRun);
}

TEST_F(RealLauncher, GameUpdateEndsARunningGameFirst) {
  // A game that keeps running: Wine's notepad under the game's name.
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring game = I + L"\\Game\\vorel_win\\vorel.exe";
  CreateDirectories(I + L"\\Game\\vorel_win\\");
  ASSERT_TRUE(CopyFileOver(std::wstring(system) + L"\\notepad.exe", game));
  Process running;
  ASSERT_TRUE(running.start(L"\"" + game + L"\"", nullptr));
  ASSERT_EQ(running.waitExit(1000), STILL_ACTIVE);

  serverDown();
  start(L"gameupdate");
  EXPECT_NE(running.waitExit(30000), STILL_ACTIVE);
}

TEST_F(RealLauncher, SelfUpdateReplacesTheLauncherWhichThenUpdatesTheGame) {
  // The server offers this launcher under a newer version, told apart by bytes after its image,
  // with a library that replaces the installed one and a file that is new.
  const std::string newLauncher = testfiles::ReadFile(I + L"\\VORELLauncher.exe") + "the new launcher";
  testfiles::WriteFile(work / L"launcher\\VORELLauncher.exe", newLauncher);
  testfiles::WriteFile(work / L"launcher\\A.dll", "new a");
  testfiles::WriteFile(work / L"launcher\\B c.dat", "new b");  // a blank, quoted in updater.bat
  testfiles::WriteFile(I + L"\\A.dll", "old a");
  publish(1 << 20, "4.1.2038");
  const std::string served = testfiles::ReadFile(I + L"\\Config\\launcherconfig.txt");
  std::string local = served;
  size_t version = local.find("4.1.2038");
  ASSERT_NE(version, std::string::npos);
  testfiles::WriteFile(I + L"\\Config\\launcherconfig.txt", local.replace(version, 8, "4.1.2037"));

  start();
  EXPECT_EQ(waitExit(60000), 0u);  // the old launcher hands over to updater.bat
  ASSERT_FALSE(launched(90000).empty()) << "the new launcher did not start the game";
  EXPECT_TRUE(WaitFor([&] { return CountLauncherWindows() == 0; }, 20000));
  EXPECT_TRUE(WaitFor([&] { return !testfiles::Exists(I + L"\\updater.bat"); }, 5000));  // the script deletes itself
  EXPECT_TRUE(logged("[INFO] =========Launcher self-update process"));
  EXPECT_TRUE(logged("[INFO] Local launcher version : 4.1.2038"));  // the new launcher's run
  EXPECT_EQ(lastLogLine(), kTerminated);
  EXPECT_EQ(testfiles::ReadFile(I + L"\\VORELLauncher.exe"), newLauncher);
  EXPECT_EQ(testfiles::ReadFile(I + L"\\A.dll"), "new a");
  EXPECT_EQ(testfiles::ReadFile(I + L"\\B c.dat"), "new b");
  EXPECT_FALSE(testfiles::Exists(I + L"\\A.dll.new") || testfiles::Exists(I + L"\\VORELLauncher.exe.new"));
  EXPECT_EQ(testfiles::ReadFile(I + L"\\Config\\launcherconfig.txt"), served);
  EXPECT_FALSE(testfiles::Exists(I + L"\\Temp"));  // the finished run removed it with the staging folder
  for (const wchar_t* file : {L"vorel.exe", L"data\\a.pak"}) {
    EXPECT_EQ(testfiles::ReadFile(I + L"\\Game\\vorel_win\\" + file), testfiles::ReadFile(work / L"game\\" + file));
  }
  EXPECT_EQ(testfiles::ReadFile(work / L"dumper.txt"), kDumperRun + kDumperRun);
}

// What Windows reads from the programs before they start: the manifest (the player's own rights,
// Windows 7 to 11, the current common controls, DPI awareness for the window) and a version record in step with the code's.
TEST(Programs, CarryTheirManifestAndTheLauncherVersion) {
  for (const char* program : {VOREL_LAUNCHER_EXE, VOREL_UPDATE_RUNNER}) {
    SCOPED_TRACE(program);
    const std::wstring path = testfiles::HostPath(program);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    const std::string manifest = found ? std::string(static_cast<const char*>(LockResource(LoadResource(module, found))),
                                                     SizeofResource(module, found))
                                       : "";
    FreeLibrary(module);
    for (const char* part : {"level=\"asInvoker\"", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "Microsoft.Windows.Common-Controls"})
      EXPECT_NE(manifest.find(part), std::string::npos) << part;
    // The window enlarges its skin itself on high-DPI displays; the console runner has no window.
    EXPECT_EQ(manifest.find(">true</dpiAware>") != std::string::npos, std::string(program) == VOREL_LAUNCHER_EXE);
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                  std::to_string(HIWORD(fixed->dwFileVersionLS)),
              LauncherVersion);
  }
}

// The window object itself, in this process, through the test seam: the usage events reach the
// collector chosen here, the start event at once and the stop event with the running time.
TEST(MainWindowInProcess, UsageEventsReachTheCollector) {
  Area collector;
  TempDir install;
  testfiles::WriteFile(install / L"Config\\config.ini", "exitMode=2\n");
  LauncherSeam seam;
  seam.installDir = install.path();
  seam.updateBaseUrl = testserver::Get().refused + "/";
  seam.analyticsUrl = collector.url("collect");
  seam.macAddress = [] { return std::string("02:00:00:00:00:01"); };
  MainWindow window(GetModuleHandleW(nullptr), L"", SW_SHOW, seam);
  std::thread closer([&] {
    Sleep(1500);
    PostMessageW(window.window(), WM_CLOSE, 0, 0);
  });
  window.runMessageLoop();
  closer.join();
  auto posts = collector.posts("collect");
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_NE(posts[0].find("eventId=starteronflow"), std::string::npos);
  EXPECT_NE(posts[0].find("mac=02:00:00:00:00:01"), std::string::npos);
  EXPECT_NE(posts[1].find("eventId=starteroffflow"), std::string::npos);
  EXPECT_NE(posts[1].find("&duration=1"), std::string::npos) << posts[1];
}

}  // namespace
