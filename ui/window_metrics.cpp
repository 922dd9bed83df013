#include "ui/window_metrics.h"

#include <cwchar>

int32_t FrameIntervalMs(int32_t refreshRate) {
  if (refreshRate < 30 || refreshRate > 240) refreshRate = 60;
  return 1000 / refreshRate;
}

namespace {

// Floor and ceiling of v * num / den, also for negative v.
int32_t Floor(int64_t v, int64_t num, int64_t den) {
  int64_t p = v * num;
  return static_cast<int32_t>(p >= 0 ? p / den : -((-p + den - 1) / den));
}
int32_t Ceil(int64_t v, int64_t num, int64_t den) { return -Floor(-v, num, den); }

bool Fits(int32_t dpi, int32_t screenWidth, int32_t screenHeight) {
  return Ceil(layout::ClientWidth, dpi, 96) <= screenWidth && Ceil(layout::ClientHeight, dpi, 96) <= screenHeight;
}

}  // namespace

int32_t SkinScale::toScreen(int32_t v) const { return Ceil(v, dpi, 96); }

Rect SkinScale::toScreen(const Rect& r) const {
  return Rect{Floor(r.left, dpi, 96), Floor(r.top, dpi, 96), Ceil(r.right, dpi, 96), Ceil(r.bottom, dpi, 96)};
}

int32_t SkinScale::toSkin(int32_t v) const { return Floor(v, 96, dpi); }

SkinScale SkinScaleFor(int32_t dpi, int32_t screenWidth, int32_t screenHeight) {
  constexpr int32_t MostDpi = 96 * 8;  // past any display made; a wild reading stays bounded
  if (dpi <= 96) return SkinScale{};
  dpi = dpi > MostDpi ? MostDpi : dpi;
  if (Fits(dpi, screenWidth, screenHeight)) return SkinScale{dpi};
  for (int32_t whole = dpi / 96 * 96; whole > 96; whole -= 96) {
    if (Fits(whole, screenWidth, screenHeight)) return SkinScale{whole};
  }
  return SkinScale{};
}

Point CentredWindowPosition(int32_t screenWidth, int32_t screenHeight, SkinScale scale) {
  return Point{static_cast<int32_t>((screenWidth - scale.toScreen(layout::ClientWidth)) * 0.5),
               static_cast<int32_t>((screenHeight - scale.toScreen(layout::ClientHeight)) * 0.5)};
}

bool IsGameUpdateCommand(const wchar_t* commandLine) {
  return commandLine && std::wcscmp(commandLine, L"gameupdate") == 0;
}

int64_t RunningSeconds(int64_t startMs, int64_t endMs) { return (endMs - startMs) / 1000; }
