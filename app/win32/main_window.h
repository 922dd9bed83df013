// The launcher's one window: a fixed 1280 x 576 skinned client area, the notification icon and
// its menu, the message loop with one frame step per frame interval, and the update thread.
// Every decision comes from the portable WindowModel; this file decodes messages and calls Win32.
#pragma once

#include <windows.h>

#include <functional>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "app/usage_events.h"
#include "app/win32/tray_icon.h"
#include "ui/window_metrics.h"
#include "ui/win32/skin.h"
#include "ui/window_model.h"
#include "update/patcher.h"

// What the test programs choose; the launcher itself leaves every field empty and uses its own
// folder, the built-in addresses and the machine's MAC address.
struct LauncherSeam {
  std::wstring installDir;
  std::string updateBaseUrl;
  std::string analyticsUrl;
  std::function<std::string()> macAddress;
  int32_t backgroundIndex = -1;  // random
  int64_t stopEventWaitMs = 3000;
};

class MainWindow {
 public:
  // Throws std::logic_error("Failed to create window!") when the window cannot be created.
  MainWindow(HINSTANCE instance, const wchar_t* commandLine, int showCommand, LauncherSeam seam = {});
  // The launcher never destroys its window; a test program that does waits for the update thread.
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Runs until the launcher is to end; the last message's wParam.
  WPARAM runMessageLoop();
  LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Before the process ends: the icon goes.
  void removeIcon() { tray_.removeForGood(); }

  HWND window() const { return window_; }
  Patcher& patcher() { return *patcher_; }

 private:
  void updateFrame();
  void launchGame();
  void StartUpdateThread(bool closeGameFirst);
  void trayMenu();
  void attractAttention();
  void invalidate(const std::vector<Invalidation>& rects);
  Point clientPoint(POINT screen) const;
  std::wstring installDir() const;

  bool running_ = false;
  HINSTANCE instance_;
  HWND window_ = nullptr;  // from WM_NCCREATE on
  TrayIcon tray_;
  UINT taskbarCreatedMessage_ = 0;
  std::wstring title_;
  int32_t screenWidth_ = 0, screenHeight_ = 0;
  int32_t refreshRate_ = 60;
  int32_t frameInterval_ = 16;
  Point position_;
  SkinScale scale_;  // the skin on this display (high-DPI: larger)
  int32_t nonClientHeight_ = 0;
  int32_t clientOffsetX_ = 0, clientOffsetY_ = 0;
  LauncherSeam seam_;
  std::unique_ptr<Patcher> patcher_;
  std::thread updateThread_;
  std::atomic<bool> runEnded_{false};  // the update thread has nothing more to do
  std::unique_ptr<Skin> skin_;
  std::unique_ptr<WindowModel> model_;
  std::unique_ptr<LauncherSettings> settings_;
  bool closeGameFirst_ = false;
  UsageReporter usage_;
  std::vector<Invalidation> redraw_;
};

// The process: crash handling, COM and GDI+, single instance, the window and its loop, and the
// shutdown. Returns 0 where the process goes on (second instance, errors); the normal path ends
// the process itself with exit code 0.
int RunLauncher(HINSTANCE instance, const wchar_t* commandLine, int showCommand, const LauncherSeam& seam = {});
