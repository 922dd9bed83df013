// The launcher process from start to end.
#include <windows.h>
#include <objbase.h>

#include <exception>

#include "app/win32/main_window.h"
#include "app/win32/scoped_handle.h"
#include "platform/dump_module.h"
#include "platform/process.h"
#include "support/names.h"
#include "support/texts.h"
#include "ui/win32/skin.h"
#include "ui/window_model.h"

namespace {

LONG WINAPI EndQuietly(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

// The single-instance marker, a named mutex. Creating it is the test: two launchers started
// together cannot both see it missing. Only "exists" and "denied" (another user's launcher) mean
// that another launcher runs; any other failure, such as an object of another kind holding the
// name, leaves this one running without a marker.
class InstanceMutex {
 public:
  explicit InstanceMutex(const std::wstring& name) : handle_(CreateMutexW(nullptr, FALSE, name.c_str())) {
    const DWORD created = GetLastError();
    first_ = created != ERROR_ALREADY_EXISTS && created != ERROR_ACCESS_DENIED;
  }
  ~InstanceMutex() { reset(); }
  InstanceMutex(InstanceMutex&& other) noexcept : handle_(std::move(other.handle_)), first_(other.first_) {
    other.first_ = false;
  }
  InstanceMutex& operator=(InstanceMutex&&) = delete;

  // No other launcher held the mutex.
  bool first() const { return first_; }
  // Only the first launcher's mutex is its own to release.
  void reset() {
    if (first_ && handle_) ReleaseMutex(handle_.get());
    first_ = false;
    handle_.reset();
  }

 private:
  KernelHandle handle_;
  bool first_ = false;
};

// Another launcher runs: bring its window forward, also out of the tray or the task bar.
void BringFirstLauncherForward() {
  for (int32_t waited = 0;; waited += FirstWindowPollMs) {
    HWND first = FindWindowW(LauncherWindowClass.c_str(), nullptr);
    switch (FirstWindowStep(first != nullptr, first && IsIconic(first), waited)) {
      case FirstWindowAction::KeepLooking: Sleep(FirstWindowPollMs); break;
      case FirstWindowAction::NotResponding:
        MessageBoxW(nullptr, texts::NotResponding.c_str(), texts::ErrorCaption.c_str(), MB_OK);
        return;
      case FirstWindowAction::Restore:
        ShowWindow(first, SW_RESTORE);
        SetForegroundWindow(first);
        return;
      case FirstWindowAction::Show:
        ShowWindow(first, SW_SHOW);
        SetForegroundWindow(first);
        return;
    }
  }
}

// The first launcher's window and its loop; the window once the loop has ended, or nothing when
// another launcher runs or the window failed. The mutex and then GDI+ go as this returns, before
// the process ends itself without running destructors.
MainWindow* RunFirstLauncher(HINSTANCE instance, const wchar_t* commandLine, int showCommand,
                             const LauncherSeam& seam) {
  GdiplusSession gdiplus;
  InstanceMutex instanceMutex(InstanceMutexName);
  if (!instanceMutex.first()) {
    BringFirstLauncherForward();
    return nullptr;
  }
  try {
    auto* window = new MainWindow(instance, commandLine, showCommand, seam);  // lives until the process ends
    window->runMessageLoop();
    return window;
  } catch (const std::exception& e) {
    MessageBoxA(nullptr, e.what(), "Error!", MB_OK);
    return nullptr;
  }
}

}  // namespace

int RunLauncher(HINSTANCE instance, const wchar_t* commandLine, int showCommand, const LauncherSeam& seam) {
  SetUnhandledExceptionFilter(EndQuietly);
  InitialiseDumper(LauncherVersion.c_str());
  CoInitialize(nullptr);
  MainWindow* window = RunFirstLauncher(instance, commandLine, showCommand, seam);
  UninitialiseDumper();
  if (!window) return 0;
  // The update thread may still be working: its later lines are dropped, and the process ends
  // without running destructors under it.
  window->patcher().logger.logLast("Launcher terminate", Info);
  window->removeIcon();
  EndProcessNow(0);
}
