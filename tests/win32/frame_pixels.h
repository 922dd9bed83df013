// What the drawing and window tests share: GDI+ started for the whole test program, a frame's
// pixels and their colours, and frames saved as PNG under the build folder for a person to see.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <vector>

#include "ui/layout.h"
#include "ui/win32/skin.h"

namespace testframes {

constexpr int W = layout::ClientWidth, H = layout::ClientHeight;

// A frame of the client area's size, 0xAARRGGBB, rows top to bottom.
struct Pixels {
  std::vector<uint32_t> argb = std::vector<uint32_t>(static_cast<size_t>(W) * H);
  uint32_t at(int x, int y) const { return argb[static_cast<size_t>(y) * W + x]; }
};
inline int R(uint32_t c) { return (c >> 16) & 255; }
inline int G(uint32_t c) { return (c >> 8) & 255; }
inline int B(uint32_t c) { return c & 255; }

// What GDI has drawn into memory (W x H); with a name also saved as hostDir/saveAs.png.
Pixels Grab(const FrameMemory& memory, const char* hostDir = nullptr, const char* saveAs = nullptr);

}  // namespace testframes
