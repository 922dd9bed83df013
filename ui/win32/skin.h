// The window's look, drawn with GDI+: images from the program's PNG resources, the back buffer
// every frame is composed in, the font and brushes, and the frame drawing itself. Everything
// it decides comes from the portable models (button, progress display); this only draws.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/image_button.h"
#include "ui/progress_display.h"
#include "ui/window_metrics.h"

// GDI+ for the whole process: started before the first skin is made, shut down after the last
// drawing. Move-only; shuts down once, when it goes or is reset.
class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession() { reset(); }
  GdiplusSession(GdiplusSession&& other) noexcept : token_(other.token_) { other.token_ = 0; }
  GdiplusSession& operator=(GdiplusSession&&) = delete;
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  void reset();

 private:
  ULONG_PTR token_ = 0;
};

// A scaled image turned into a GDI+ cached bitmap, shared by whoever draws it.
struct SkinImage {
  std::shared_ptr<Gdiplus::CachedBitmap> cached;
  int32_t width = 0, height = 0;
  explicit operator bool() const { return cached != nullptr; }
  ImageSize size() const { return ImageSize{width, height}; }
};

// The PNG resource `id` of `module`, or nothing when it is missing or cannot be decoded.
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(HMODULE module, int id);
// A new bitmap of the image's aspect: width kept for wide images, height kept otherwise.
// Nothing for a missing or empty image.
std::unique_ptr<Gdiplus::Bitmap> ScaleToFit(Gdiplus::Bitmap* bitmap, int32_t width, int32_t height);
SkinImage MakeCachedBitmap(Gdiplus::Bitmap* bitmap);

// The family every text is drawn in; the generic sans-serif family stands in where it is missing.
extern const wchar_t* const SkinFontFamily;

// A top-down 32-bit DIB section selected into a memory device context: GDI copies it to the
// window with BitBlt and GDI+ draws into the same memory.
class FrameMemory {
 public:
  FrameMemory(int32_t width, int32_t height);
  ~FrameMemory();
  FrameMemory(const FrameMemory&) = delete;
  FrameMemory& operator=(const FrameMemory&) = delete;
  HDC dc = nullptr;
  uint32_t* pixels = nullptr;  // width * height, rows top to bottom; null when GDI refused
  int32_t width, height;

 private:
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

class Skin {
 public:
  // backgroundIndex 0-5 picks one of the six backgrounds; a negative value picks one at random.
  Skin(HMODULE module, int32_t width, int32_t height, int32_t backgroundIndex = -1,
       const wchar_t* fontFamily = SkinFontFamily);
  Skin(const Skin&) = delete;
  Skin& operator=(const Skin&) = delete;

  FrameMemory memory;          // the back buffer's pixels
  std::unique_ptr<Gdiplus::Bitmap> backBuffer;  // over memory.pixels
  std::unique_ptr<Gdiplus::Graphics> graphics;  // on backBuffer
  // Background, logo and panel never change: composed once, copied in at the start of a frame.
  std::vector<uint32_t> staticLayers;
  Gdiplus::SolidBrush white{Gdiplus::Color(0xFFFFFFFF)};
  Gdiplus::SolidBrush lightGrey{Gdiplus::Color(0xFFD3D3D3)};
  Gdiplus::SolidBrush lightBlue{Gdiplus::Color(0xFF78AEFF)};
  Gdiplus::StringFormat errorFormat;
  std::unique_ptr<Gdiplus::FontFamily> fontFamily;
  std::unique_ptr<Gdiplus::Font> font;
  bool fallbackFont = false;  // the named family was missing
  HCURSOR arrowCursor = nullptr;

  int32_t backgroundId = 0;
  SkinImage background, lowerPanel, logo;
  SkinImage buttonNormal, buttonPressed;  // the hover image is the normal one
  std::unique_ptr<Gdiplus::Bitmap> progressTrack, progressFill;  // drawn stretched
};

// What one frame shows: copies made by the window's per-frame step.
struct FrameContent {
  bool gameReady = false;  // the start button is drawn
  ButtonPlacement button;
  const ProgressDisplay* progress = nullptr;
  std::wstring versionText, statusText, errorText;
};

// Composes the frame in the skin's back buffer.
void ComposeFrame(Skin& skin, const FrameContent& content);
// Composes the frame and copies it to target at (0, 0); for a device context only the part
// inside `dirty` (the paint rectangle) when one is given.
void DrawFrame(Skin& skin, const FrameContent& content, Gdiplus::Graphics& target);
// At a scale above 96 DPI the frame is enlarged: whole multiples pixel for pixel, others smoothed.
void DrawFrame(Skin& skin, const FrameContent& content, HDC target, const RECT* dirty = nullptr, SkinScale scale = {});
// The progress bar and its three texts; nothing while the display is hidden.
void DrawBar(Gdiplus::Graphics& graphics, const Skin& skin, const ProgressDisplay& progress);
void DrawTexts(Gdiplus::Graphics& graphics, const Skin& skin, const ProgressDisplay& progress);
