// The window's look, drawn with GDI+: images from the program's PNG resources, the back buffer
// every frame is composed in, the font and brushes, and the frame drawing itself. Everything
// it decides comes from the portable models (button, progress display); this only draws.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "ui/image_button.h"
#include "ui/progress_display.h"

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

class Skin {
 public:
  // backgroundIndex 0-5 picks one of the six backgrounds; a negative value picks one at random.
  Skin(HMODULE module, int32_t width, int32_t height, int32_t backgroundIndex = -1,
       const wchar_t* fontFamily = SkinFontFamily);
  Skin(const Skin&) = delete;
  Skin& operator=(const Skin&) = delete;

  Gdiplus::Bitmap backBuffer;
  Gdiplus::Graphics graphics;  // on backBuffer
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

// Composes the frame in the skin's back buffer and copies it to target at (0, 0).
void DrawFrame(Skin& skin, const FrameContent& content, Gdiplus::Graphics& target);
void DrawFrame(Skin& skin, const FrameContent& content, HDC target);
// The progress bar and its three texts; nothing while the display is hidden.
void DrawBar(Gdiplus::Graphics& graphics, const Skin& skin, const ProgressDisplay& progress);
void DrawTexts(Gdiplus::Graphics& graphics, const Skin& skin, const ProgressDisplay& progress);
// Saves a bitmap as PNG; false when GDI+ cannot.
bool SavePng(Gdiplus::Bitmap& bitmap, const std::wstring& path);
