// Small decisions the window makes at start: how often a frame runs, where the window goes,
// and what the command line asks for.
#pragma once

#include <cstdint>

#include "ui/layout.h"

// A display frequency outside 30-240 Hz (or one that could not be read) counts as 60 Hz.
int32_t FrameIntervalMs(int32_t refreshRate);
// The window's top-left corner, centred on a screen of that size.
Point CentredWindowPosition(int32_t screenWidth, int32_t screenHeight);
// Exactly "gameupdate", nothing before or after: end a running game before updating.
bool IsGameUpdateCommand(const wchar_t* commandLine);
// Whole seconds between two readings of the monotonic clock.
int64_t RunningSeconds(int64_t startMs, int64_t endMs);
