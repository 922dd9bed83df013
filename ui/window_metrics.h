// Small decisions the window makes at start: how often a frame runs, where the window goes,
// and what the command line asks for.
#pragma once

#include <cstdint>

#include "ui/layout.h"

// A display frequency outside 30-240 Hz (or one that could not be read) counts as 60 Hz.
int32_t FrameIntervalMs(int32_t refreshRate);
// How the skin, drawn for 96 DPI, is shown on the player's display: a display of 192 DPI (200 %)
// shows each skin pixel as 2 x 2 screen pixels. Whole multiples are shown pixel for pixel (crisp);
// other factors (125 %, 150 %) are smoothed.
struct SkinScale {
  int32_t dpi = 96;
  bool whole() const { return dpi % 96 == 0; }
  // Skin to screen, rounded up; a rectangle grows to cover every screen pixel it touches.
  int32_t toScreen(int32_t v) const;
  Rect toScreen(const Rect& r) const;
  // Screen to skin: the skin pixel drawn at that screen pixel.
  int32_t toSkin(int32_t v) const;
};
// The display's DPI, kept to what fits: a window that would not fit on the screen takes the
// largest whole multiple that does, at least the skin's own size. A DPI that could not be read
// (0) or is below 96 shows the skin at its own size.
SkinScale SkinScaleFor(int32_t dpi, int32_t screenWidth, int32_t screenHeight);
// The window's top-left corner, centred on a screen of that size.
Point CentredWindowPosition(int32_t screenWidth, int32_t screenHeight, SkinScale scale = {});
// Exactly "gameupdate", nothing before or after: end a running game before updating.
bool IsGameUpdateCommand(const wchar_t* commandLine);
// Whole seconds between two readings of the monotonic clock.
int64_t RunningSeconds(int64_t startMs, int64_t endMs);
