// The launcher process from start to end.
#include <windows.h>
#include <objbase.h>
#include <gdiplus.h>

#include <exception>

#include "app/win32/main_window.h"
#include "platform/dump_module.h"
#include "platform/process.h"
#include "support/names.h"
#include "support/texts.h"

namespace {

LONG WINAPI EndQuietly(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

// Another launcher runs: bring its window forward, also out of the tray or the task bar. One
// started at the same moment may still be making its window: it gets a few seconds before it
// counts as not responding.
void BringFirstLauncherForward() {
  HWND first = FindWindowW(LauncherWindowClass.c_str(), nullptr);
  for (int waited = 0; !first && waited < 5000; waited += 100) {
    Sleep(100);
    first = FindWindowW(LauncherWindowClass.c_str(), nullptr);
  }
  if (!first) {
    MessageBoxW(nullptr, texts::NotResponding.c_str(), texts::ErrorCaption.c_str(), MB_OK);
    return;
  }
  ShowWindow(first, IsIconic(first) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(first);
}

}  // namespace

int RunLauncher(HINSTANCE instance, const wchar_t* commandLine, int showCommand, const LauncherSeam& seam) {
  SetUnhandledExceptionFilter(EndQuietly);
  InitialiseDumper(LauncherVersion.c_str());
  CoInitialize(nullptr);
  Gdiplus::GdiplusStartupInput gdiplusInput;
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

  // Creating the mutex is the test: two launchers started together cannot both see it missing.
  HANDLE instanceMutex = CreateMutexW(nullptr, FALSE, InstanceMutexName.c_str());
  const DWORD created = GetLastError();
  if (!instanceMutex || created == ERROR_ALREADY_EXISTS || created == ERROR_ACCESS_DENIED) {
    BringFirstLauncherForward();
    instanceMutex = nullptr;  // not ours to release
  } else {
    MainWindow* window = nullptr;
    try {
      std::unique_ptr<MainWindow> made(new MainWindow(instance, commandLine, showCommand, seam));
      window = made.release();  // lives until the process ends
      window->runMessageLoop();
      UninitialiseDumper();
      Gdiplus::GdiplusShutdown(gdiplusToken);
      ReleaseMutex(instanceMutex);
      // The update thread may still be working: its later lines are dropped, and the process
      // ends without running destructors under it.
      window->patcher().logger.logLast("Launcher terminate", Info);
      window->removeIcon();
      EndProcessNow(0);
    } catch (const std::exception& e) {
      MessageBoxA(nullptr, e.what(), "Error!", MB_OK);
    }
  }
  UninitialiseDumper();
  Gdiplus::GdiplusShutdown(gdiplusToken);
  if (instanceMutex) ReleaseMutex(instanceMutex);
  return 0;
}
