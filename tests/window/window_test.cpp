// The real VORELLauncher.exe in temporary installations against the local test server, under
// Wine with an X display: its window, its notification icon and menu, single instance, closing
// and the game start, driven from outside the way a player and the system drive it. One window
// test runs at a time: they share the instance mutex, the pointer and the tray. Screenshots of
// the window are saved under the build folder.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "app/names.h"
#include "app/win32/main_window.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/published_game.h"
#include "support/test_files.h"
#include "support/test_server.h"
#include "ui/texts.h"
#include "update/tree_ops.h"

using testfiles::TempDir;
using testserver::Area;
using Lines = std::vector<std::string>;

namespace {

class GdiplusSession : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

 private:
  ULONG_PTR token_ = 0;
};
const auto* const session = ::testing::AddGlobalTestEnvironment(new GdiplusSession);

const std::string kLauncherPath = "production/vorel_pql_win/Launcher/";
constexpr int W = layout::ClientWidth, H = layout::ClientHeight;

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    Sleep(50);
  }
  return condition();
}

HWND LauncherWindow() { return FindWindowW(L"VORELLauncher", nullptr); }

int CountLauncherWindows() {
  int count = 0;
  EnumWindows(
      [](HWND window, LPARAM counter) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (std::wstring(name) == L"VORELLauncher") ++*reinterpret_cast<int*>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// Icons in the notification area (Wine's own tray window when no X tray runs).
int CountTrayIcons() {
  HWND tray = FindWindowW(nullptr, L"Wine System Tray");
  if (!tray) return 0;
  int count = 0;
  EnumChildWindows(
      tray, [](HWND, LPARAM counter) -> BOOL { return ++*reinterpret_cast<int*>(counter), TRUE; },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// The client area as it is on the screen (an X screen capture under Wine), 0xRRGGBB per pixel.
struct Screen {
  std::vector<uint32_t> rgb;
  uint32_t at(int x, int y) const { return rgb[static_cast<size_t>(y) * W + x]; }
};

Screen Capture(HWND window, const char* saveAs = nullptr) {
  Screen screen;
  screen.rgb.assign(static_cast<size_t>(W) * H, 0);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  FrameMemory memory(W, H);
  HDC desktop = GetDC(nullptr);
  if (memory.pixels && desktop) {
    BitBlt(memory.dc, 0, 0, W, H, desktop, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    for (size_t i = 0; i < screen.rgb.size(); ++i) screen.rgb[i] = memory.pixels[i] & 0xFFFFFF;
    if (saveAs) {
      Gdiplus::Bitmap frame(W, H, W * 4, PixelFormat32bppRGB, reinterpret_cast<BYTE*>(memory.pixels));
      std::wstring dir = testfiles::HostPath(VOREL_SHOTS_DIR);
      CreateDirectoryW(dir.c_str(), nullptr);
      std::wstring path = dir + L"\\" + AnsiToWide(saveAs) + L".png";
      EXPECT_TRUE(SavePng(frame, path));
      printf("screenshot saved: %s/%s.png\n", VOREL_SHOTS_DIR, saveAs);
    }
  }
  if (desktop) ReleaseDC(nullptr, desktop);
  return screen;
}

int R(uint32_t c) { return (c >> 16) & 255; }
int G(uint32_t c) { return (c >> 8) & 255; }
int B(uint32_t c) { return c & 255; }

// The start button's blue face, away from its label.
bool ButtonShown(const Screen& s) {
  uint32_t c = s.at(1070, 530);
  return B(c) > 150 && B(c) - R(c) > 80;
}

// Light grey text pixels on the error line.
int ErrorLinePixels(const Screen& s) {
  int count = 0;
  for (int y = 499; y < 516; ++y) {
    for (int x = 20; x < 900; ++x) {
      uint32_t c = s.at(x, y);
      if (R(c) > 150 && std::abs(R(c) - G(c)) < 16 && std::abs(G(c) - B(c)) < 16) ++count;
    }
  }
  return count;
}

// A tray menu is open: choose by keys, as a player would with the keyboard.
bool ChooseFromMenu(const std::vector<WPARAM>& keys) {
  HWND menu = nullptr;
  if (!WaitFor([&] { return (menu = FindWindowW(L"#32768", nullptr)) != nullptr && IsWindowVisible(menu); }, 5000)) {
    return false;
  }
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

void OpenTrayMenu(HWND window) { PostMessageW(window, WM_USER, 0, WM_RBUTTONDOWN); }

bool Start(const std::wstring& installDir, const std::wstring& arguments, PROCESS_INFORMATION& process) {
  std::wstring commandLine = L"\"" + installDir + L"\\VORELLauncher.exe\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, installDir.c_str(), &startup,
                        &process) != FALSE;
}

// The exit code, or STILL_ACTIVE when the process still runs after timeoutMs.
DWORD WaitExit(const PROCESS_INFORMATION& process, int timeoutMs) {
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return code;
}

// A temporary installation with the real launcher, the recording crash-dump module and a local
// launcher configuration that names this test's folder on the test server.
struct RealLauncher : ::testing::Test {
  Area server;
  TempDir work;
  std::wstring I;
  PROCESS_INFORMATION process{};

  void SetUp() override {
    ASSERT_EQ(LauncherWindow(), nullptr) << "a launcher window from an earlier test is still open";
    I = work / L"install";
    CreateDirectories(I + L"\\Config\\");
    ASSERT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_LAUNCHER_EXE), I + L"\\VORELLauncher.exe"));
    ASSERT_TRUE(CopyFileOver(testfiles::HostPath(VOREL_RECORDING_DUMPER), I + L"\\Dumper64.dll"));
    _putenv_s("VOREL_DUMPER_LOG", WideToAnsi(work / L"dumper.txt").c_str());
    std::string stub = testfiles::ReadFile(testfiles::HostPath(VOREL_STUB_GAME));
    testfiles::WriteFile(work / L"game\\vorel.exe", stub);
    testfiles::WriteFile(work / L"game\\data\\a.pak", testfiles::RandomBytes(300000, 7));
    testfiles::WriteFile(work / L"launcher\\VORELLauncher.exe", "the launcher");
  }

  void TearDown() override {
    if (process.hProcess) {
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 10000);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
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

  void start(const std::wstring& arguments = L"") { ASSERT_TRUE(Start(I, arguments, process)); }
  DWORD waitExit(int timeoutMs) { return WaitExit(process, timeoutMs); }
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
    HWND window = waitFailure();
    if (icons) {
      EXPECT_TRUE(WaitFor([&] { return CountTrayIcons() >= 1; }, 5000));
      *icons = CountTrayIcons();
    }
    return window;
  }
  // The window shows the failure and the start button.
  HWND waitFailure() {
    HWND window = waitWindow();
    EXPECT_NE(window, nullptr);
    if (window) {
      EXPECT_TRUE(WaitFor([&] { return ButtonShown(Capture(window)); }, 30000));
    }
    return window;
  }
  void clickStartButton(HWND window) {
    POINT at{1158, 536};
    ClientToScreen(window, &at);
    SetCursorPos(at.x, at.y);
    Sleep(100);
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, clicks, sizeof(INPUT));
  }
  Lines log() {
    auto names = testfiles::ListNames(I + L"\\Log");
    return names.empty() ? Lines{} : testfiles::LogLines(I + L"\\Log\\" + names.back());
  }
  std::string launched() { return testfiles::ReadFile(I + L"\\Game\\vorel_win\\launched.txt"); }
};

TEST_F(RealLauncher, FreshInstallationIsUpdatedAndTheGameStarted) {
  publish();
  start();
  ASSERT_EQ(waitExit(120000), 0u);
  EXPECT_TRUE(WaitFor([&] { return !launched().empty(); }, 10000));
  EXPECT_NE(launched().find("arguments: Launcher\n"), std::string::npos) << launched();
  EXPECT_NE(launched().find("Game\\vorel_win"), std::string::npos) << launched();
  Lines lines = log();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "[INFO] Launcher terminate");
  EXPECT_EQ(testfiles::ReadFile(work / L"dumper.txt"),
            "SetConfig(6,internal_us)\nInitDumperQuellum(p7kdmwra,4.1.2037,)\nUnInitDumper()\n");
}

TEST_F(RealLauncher, AfterAFailureTheButtonStartsTheGameAndAMissingGameKeepsItsError) {
  HWND window = startFailed();
  ASSERT_NE(window, nullptr);
  Screen failed = Capture(window, "failed");
  const int before = ErrorLinePixels(failed);

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
  EXPECT_TRUE(WaitFor([&] { return !launched().empty(); }, 10000));
  EXPECT_EQ(log().back(), "[INFO] Launcher terminate");
}

TEST_F(RealLauncher, ASecondStartBringsTheFirstWindowForward) {
  HWND window = startFailed();
  ASSERT_NE(window, nullptr);
  const size_t logLines = log().size();
  auto startSecond = [&] {
    PROCESS_INFORMATION second{};
    ASSERT_TRUE(Start(I, L"", second));
    EXPECT_EQ(WaitExit(second, 20000), 0u);
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
  };

  PostMessageW(window, WM_CLOSE, 0, 0);  // exit mode 1: to the tray
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, 5000));
  startSecond();
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000));

  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(WaitFor([&] { return IsIconic(window) != FALSE; }, 5000));
  startSecond();
  EXPECT_TRUE(WaitFor([&] { return !IsIconic(window); }, 5000));

  EXPECT_EQ(CountLauncherWindows(), 1);
  EXPECT_EQ(log().size(), logLines) << "the second launcher wrote to the log";
  EXPECT_EQ(waitExit(0), STILL_ACTIVE);
}

TEST_F(RealLauncher, TwoLaunchersStartedTogetherMakeOneWindowAndOneLog) {
  serverDown();
  PROCESS_INFORMATION second{};
  start();
  ASSERT_TRUE(Start(I, L"", second));
  ASSERT_TRUE(WaitFor([&] { return waitExit(0) != STILL_ACTIVE || WaitExit(second, 0) != STILL_ACTIVE; }, 20000));
  Sleep(2000);
  const DWORD first = waitExit(0), other = WaitExit(second, 0);
  EXPECT_TRUE((first == 0 && other == STILL_ACTIVE) || (first == STILL_ACTIVE && other == 0)) << first << " " << other;
  EXPECT_EQ(CountLauncherWindows(), 1);  // counted before the survivor is ended below
  Lines lines = log();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "=== Start logging ==="), 1) << "two update runs on one tree";
  if (other == STILL_ACTIVE) TerminateProcess(second.hProcess, 1);
  CloseHandle(second.hProcess);
  CloseHandle(second.hThread);
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
  EXPECT_EQ(CountLauncherWindows(), 0);
  EXPECT_TRUE(testfiles::ListNames(I + L"\\Log").empty());
  CloseHandle(held);
}

TEST_F(RealLauncher, CloseBoxTrayAndMenuFollowTheExitMode) {
  int icons = 0;
  HWND window = startFailed(&icons);
  ASSERT_NE(window, nullptr);

  // Exit mode 1: the close box hides the window; the icon stays; a double click brings it back.
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, 5000));
  EXPECT_EQ(CountTrayIcons(), icons);
  EXPECT_EQ(waitExit(500), STILL_ACTIVE);
  PostMessageW(window, WM_USER, 0, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000));

  // Item 12 restores as well.
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, 5000));
  OpenTrayMenu(window);
  ASSERT_TRUE(ChooseFromMenu(kMenuRestore));
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000));

  // Items 14 and 15 rewrite the settings file.
  OpenTrayMenu(window);
  ASSERT_TRUE(ChooseFromMenu(kMenuExitOnClose));
  EXPECT_TRUE(WaitFor([&] { return testfiles::ReadFile(I + L"\\Config\\config.ini") == "exitMode=2\r\n"; }, 5000))
      << testfiles::ReadFile(I + L"\\Config\\config.ini");
  OpenTrayMenu(window);
  ASSERT_TRUE(ChooseFromMenu(kMenuHideOnClose));
  EXPECT_TRUE(WaitFor([&] { return testfiles::ReadFile(I + L"\\Config\\config.ini") == "exitMode=1\r\n"; }, 5000));

  // A change made by hand counts at the next close: exit mode 2 ends the launcher.
  exitMode(2);
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(waitExit(15000), 0u);
  EXPECT_EQ(log().back(), "[INFO] Launcher terminate");
  EXPECT_TRUE(WaitFor([&] { return CountTrayIcons() == icons - 1; }, 5000));
}

TEST_F(RealLauncher, TheIconComesBackWithTheTaskbarAndItem13Ends) {
  int icons = 0;
  HWND window = startFailed(&icons);
  ASSERT_NE(window, nullptr);

  // 1134 takes the icon away; the launcher goes on.
  PostMessageW(window, WM_USER, 0, 1134);
  EXPECT_TRUE(WaitFor([&] { return CountTrayIcons() == icons - 1; }, 5000));
  EXPECT_EQ(waitExit(1000), STILL_ACTIVE);
  // A new taskbar announces itself to every window: the icon is added again.
  PostMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitFor([&] { return CountTrayIcons() == icons; }, 5000));

  OpenTrayMenu(window);
  ASSERT_TRUE(ChooseFromMenu(kMenuQuit));
  EXPECT_EQ(waitExit(15000), 0u);
  EXPECT_EQ(log().back(), "[INFO] Launcher terminate");
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
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const std::string& line : log()) {
          if (line.find("Zip download total files") != std::string::npos) return true;
        }
        return false;
      },
      30000));
  Sleep(1000);
  Capture(window, "downloading");
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(waitExit(15000), 0u);
  EXPECT_EQ(log().back(), "[INFO] Launcher terminate");
  EXPECT_EQ(testfiles::ReadFile(work / L"dumper.txt"),
            "SetConfig(6,internal_us)\nInitDumperQuellum(p7kdmwra,4.1.2037,)\nUnInitDumper()\n");
}

TEST_F(RealLauncher, GameUpdateEndsARunningGameFirst) {
  // A game that keeps running: Wine's notepad under the game's name.
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring game = I + L"\\Game\\vorel_win\\vorel.exe";
  CreateDirectories(I + L"\\Game\\vorel_win\\");
  ASSERT_TRUE(CopyFileOver(std::wstring(system) + L"\\notepad.exe", game));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION running{};
  std::wstring commandLine = L"\"" + game + L"\"";
  ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &running));
  Sleep(1000);
  ASSERT_EQ(WaitForSingleObject(running.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  serverDown();
  start(L"gameupdate");
  EXPECT_EQ(WaitForSingleObject(running.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  TerminateProcess(running.hProcess, 0);
  CloseHandle(running.hProcess);
  CloseHandle(running.hThread);
}

TEST_F(RealLauncher, SelfUpdateReplacesTheLauncherWhichThenUpdatesTheGame) {
  // The server offers the same launcher under a newer version.
  ASSERT_TRUE(CopyFileOver(I + L"\\VORELLauncher.exe", work / L"launcher\\VORELLauncher.exe"));
  publish(1 << 20, "4.1.2038");
  std::string local = testfiles::ReadFile(I + L"\\Config\\launcherconfig.txt");
  size_t version = local.find("4.1.2038");
  ASSERT_NE(version, std::string::npos);
  testfiles::WriteFile(I + L"\\Config\\launcherconfig.txt", local.replace(version, 8, "4.1.2037"));

  start();
  EXPECT_EQ(waitExit(60000), 0u);  // the old launcher hands over to updater.bat
  ASSERT_TRUE(WaitFor([&] { return !launched().empty(); }, 90000)) << "the new launcher did not start the game";
  EXPECT_NE(launched().find("arguments: Launcher\n"), std::string::npos);
  EXPECT_TRUE(WaitFor([&] { return CountLauncherWindows() == 0; }, 20000));
  Lines lines = log();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "[INFO] =========Launcher self-update process"), lines.end());
  EXPECT_EQ(lines.back(), "[INFO] Launcher terminate");
  EXPECT_NE(testfiles::ReadFile(I + L"\\Config\\launcherconfig.txt").find("4.1.2038"), std::string::npos);
  const std::string run = "SetConfig(6,internal_us)\nInitDumperQuellum(p7kdmwra,4.1.2037,)\nUnInitDumper()\n";
  EXPECT_EQ(testfiles::ReadFile(work / L"dumper.txt"), run + run);
}

// The window object itself, in this process, through the test seam: the usage events reach the
// collector chosen here, the start event at once and the stop event with the running time.
TEST(MainWindowInProcess, UsageEventsReachTheCollector) {
  Area collector;
  TempDir install;
  CreateDirectories(install / L"Config\\");
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
  EXPECT_FALSE(window.tray().shown());
}

}  // namespace
