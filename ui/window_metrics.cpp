#include "ui/window_metrics.h"

#include <cwchar>

int32_t FrameIntervalMs(int32_t refreshRate) {
  if (refreshRate < 30 || refreshRate > 240) refreshRate = 60;
  return 1000 / refreshRate;
}

Point CentredWindowPosition(int32_t screenWidth, int32_t screenHeight) {
  return Point{static_cast<int32_t>((screenWidth - layout::ClientWidth) * 0.5),
               static_cast<int32_t>((screenHeight - layout::ClientHeight) * 0.5)};
}

bool IsGameUpdateCommand(const wchar_t* commandLine) {
  return commandLine && std::wcscmp(commandLine, L"gameupdate") == 0;
}

int64_t RunningSeconds(int64_t startMs, int64_t endMs) { return (endMs - startMs) / 1000; }
