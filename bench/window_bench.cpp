// window (Windows build, run under Wine with an X display): starts VORELLauncher.exe in the
// installation folder given and reports, from the process start, when the update thread has
// opened the day's log and when the window first shows a painted frame on the screen. The
// launcher is left running; bench/window.sh measures its memory and CPU from Linux.
//   usage: vorel-bench-window.exe INSTALL_DIR
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "support/names.h"

namespace {

double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

bool AnyLogFile(const std::wstring& dir) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"\\Log\\*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

// The background's pixels are on the screen: the first frame has been painted.
bool Painted(HWND window) {
  if (!window || !IsWindowVisible(window)) return false;
  HDC screen = GetDC(nullptr);
  int bright = 0;
  for (int i = 0; i < 8; ++i) {
    POINT p{160 * i + 40, 200};
    ClientToScreen(window, &p);
    COLORREF c = GetPixel(screen, p.x, p.y);
    if (c != CLR_INVALID && GetRValue(c) + GetGValue(c) + GetBValue(c) > 60) ++bright;
  }
  ReleaseDC(nullptr, screen);
  return bright >= 4;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: vorel-bench-window.exe INSTALL_DIR\n");
    return 2;
  }
  std::wstring dir = argv[1];
  std::wstring commandLine = L"\"" + dir + L"\\VORELLauncher.exe\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  auto start = std::chrono::steady_clock::now();
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &startup, &process)) {
    fprintf(stderr, "the launcher could not be started\n");
    return 1;
  }
  double logMs = -1, frameMs = -1;
  while (Ms(start) < 30000 && (logMs < 0 || frameMs < 0)) {
    if (logMs < 0 && AnyLogFile(dir)) logMs = Ms(start);
    if (frameMs < 0 && Painted(FindWindowW(LauncherWindowClass.c_str(), nullptr))) frameMs = Ms(start);
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 && (logMs < 0 || frameMs < 0)) break;
    Sleep(1);
  }
  printf("log opened by the update thread after %.0f ms; first painted frame on the screen after %.0f ms\n", logMs,
         frameMs);
  printf("RESULT %.0f %.0f\n", logMs, frameMs);
  return frameMs < 0 ? 1 : 0;
}
