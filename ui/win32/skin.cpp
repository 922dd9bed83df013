#include "ui/win32/skin.h"

#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

#include "resource_ids.h"

using namespace Gdiplus;

const wchar_t* const SkinFontFamily = L"微软雅黑";

GdiplusSession::GdiplusSession() {
  GdiplusStartupInput input;
  // A failed start leaves nothing to shut down.
  if (GdiplusStartup(&token_, &input, nullptr) != Ok) token_ = 0;
}

void GdiplusSession::reset() {
  if (token_) GdiplusShutdown(std::exchange(token_, 0));
}

std::unique_ptr<Bitmap> LoadPngResource(HMODULE module, int id) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
  if (!found) return nullptr;
  DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || size == 0) return nullptr;
  // GDI+ reads the stream lazily, so the bytes get a block of their own that the stream frees.
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return nullptr;
  void* target = GlobalLock(block);
  if (!target) {
    GlobalFree(block);
    return nullptr;
  }
  memcpy(target, data, size);
  GlobalUnlock(block);
  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(block, TRUE, &stream) != S_OK || !stream) {
    GlobalFree(block);
    return nullptr;
  }
  auto bitmap = std::make_unique<Bitmap>(stream, FALSE);
  stream->Release();  // the bitmap holds its own reference
  if (bitmap->GetLastStatus() != Ok || bitmap->GetWidth() == 0 || bitmap->GetHeight() == 0) return nullptr;
  return bitmap;
}

std::unique_ptr<Bitmap> ScaleToFit(Bitmap* bitmap, int32_t width, int32_t height) {
  if (!bitmap || bitmap->GetWidth() == 0 || bitmap->GetHeight() == 0) return nullptr;
  double r = static_cast<double>(bitmap->GetWidth()) / static_cast<double>(bitmap->GetHeight());
  if (bitmap->GetWidth() > bitmap->GetHeight()) {
    height = static_cast<int32_t>(width / r);
  } else {
    width = static_cast<int32_t>(height * r);
  }
  if (width <= 0 || height <= 0) return nullptr;
  // Always full colour with alpha: GDI+ cannot draw into an indexed (palette) bitmap.
  auto scaled = std::make_unique<Bitmap>(width, height, PixelFormat32bppARGB);
  if (scaled->GetLastStatus() != Ok) return nullptr;
  Graphics g(scaled.get());
  g.DrawImage(bitmap, 0, 0, width, height);
  return scaled;
}

SkinImage MakeCachedBitmap(Bitmap* bitmap) {
  SkinImage image;
  if (!bitmap) return image;
  // Any graphics of the back buffer's pixel format serves to make the cache.
  Bitmap format(200, 200, PixelFormat32bppARGB);
  Graphics g(&format);
  auto cached = std::make_shared<CachedBitmap>(bitmap, &g);
  if (cached->GetLastStatus() != Ok) return image;
  image.cached = std::move(cached);
  image.width = static_cast<int32_t>(bitmap->GetWidth());
  image.height = static_cast<int32_t>(bitmap->GetHeight());
  return image;
}

namespace {

SkinImage CachedResource(HMODULE module, int id, int32_t width, int32_t height) {
  auto bitmap = LoadPngResource(module, id);
  auto scaled = ScaleToFit(bitmap.get(), width, height);
  return MakeCachedBitmap(scaled.get());
}

SkinImage CachedResource(HMODULE module, int id) {
  auto bitmap = LoadPngResource(module, id);
  return MakeCachedBitmap(bitmap.get());
}

void DrawImage(Graphics& g, const SkinImage& image, int32_t x, int32_t y) {
  if (image) g.DrawCachedBitmap(image.cached.get(), x, y);
}

}  // namespace

FrameMemory::FrameMemory(int32_t w, int32_t h) : width(w), height(h) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  dc = CreateCompatibleDC(nullptr);
  bitmap_ = dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  if (bitmap_ && bits) {
    previous_ = SelectObject(dc, bitmap_);
    pixels = static_cast<uint32_t*>(bits);
  }
}

FrameMemory::~FrameMemory() {
  if (dc && previous_) SelectObject(dc, previous_);
  if (bitmap_) DeleteObject(bitmap_);
  if (dc) DeleteDC(dc);
}

Skin::Skin(HMODULE module, int32_t width, int32_t height, int32_t backgroundIndex, const wchar_t* familyName)
    : memory(width, height) {
  // GDI+ draws straight into the DIB's memory; without a DIB (GDI out of resources) into a
  // bitmap of its own, copied out through GDI+.
  if (memory.pixels) {
    backBuffer = std::make_unique<Bitmap>(width, height, width * 4, PixelFormat32bppARGB,
                                          reinterpret_cast<BYTE*>(memory.pixels));
  } else {
    backBuffer = std::make_unique<Bitmap>(width, height, PixelFormat32bppARGB);
  }
  graphics = std::make_unique<Graphics>(backBuffer.get());
  graphics->SetTextRenderingHint(TextRenderingHintAntiAlias);
  errorFormat.SetAlignment(StringAlignmentNear);
  errorFormat.SetLineAlignment(StringAlignmentCenter);

  fontFamily = std::make_unique<FontFamily>(familyName);
  if (fontFamily->GetLastStatus() == Ok) font = std::make_unique<Font>(fontFamily.get(), 12.0f, FontStyleBold, UnitPixel);
  if (!font || font->GetLastStatus() != Ok) {
    fallbackFont = true;
    font = std::make_unique<Font>(FontFamily::GenericSansSerif(), 12.0f, FontStyleBold, UnitPixel);
  }
  if (font->GetLastStatus() != Ok) {
    // A trimmed system without the generic family's font: Tahoma, which every Windows has.
    fontFamily = std::make_unique<FontFamily>(L"Tahoma");
    font = std::make_unique<Font>(fontFamily.get(), 12.0f, FontStyleBold, UnitPixel);
  }
  arrowCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW

  if (backgroundIndex < 0) {
    srand(static_cast<unsigned>(time(nullptr)));
    backgroundIndex = rand() % IDP_BACKGROUND_COUNT;
  }
  backgroundId = IDP_BACKGROUND_FIRST + backgroundIndex % IDP_BACKGROUND_COUNT;
  background = CachedResource(module, backgroundId, layout::ClientWidth, layout::ClientHeight);
  lowerPanel = CachedResource(module, IDP_LOWER_PANEL, layout::ClientWidth, layout::BottomPanel.height());
  logo = CachedResource(module, IDP_LOGO, layout::LogoBoxWidth, layout::LogoBoxHeight);
  buttonNormal = CachedResource(module, IDP_START_BUTTON);
  buttonPressed = CachedResource(module, IDP_START_BUTTON_PRESSED);
  progressTrack = LoadPngResource(module, IDP_PROGRESS_TRACK);
  progressFill = LoadPngResource(module, IDP_PROGRESS_FILL);

  graphics->Clear(Color(0xFF000000));
  DrawImage(*graphics, background, 0, 0);
  DrawImage(*graphics, logo, layout::LogoAt.x, layout::LogoAt.y);
  DrawImage(*graphics, lowerPanel, layout::PanelAt.x, layout::PanelAt.y);
  staticLayers.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  BitmapData data{};
  Gdiplus::Rect all(0, 0, width, height);
  data.Width = static_cast<UINT>(width);
  data.Height = static_cast<UINT>(height);
  data.Stride = width * 4;
  data.PixelFormat = PixelFormat32bppARGB;
  data.Scan0 = staticLayers.data();
  if (backBuffer->LockBits(&all, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppARGB, &data) == Ok) {
    backBuffer->UnlockBits(&data);
  } else {
    staticLayers.clear();
  }
}

void DrawBar(Graphics& g, const Skin& skin, const ProgressDisplay& progress) {
  if (!progress.visible) return;
  const ::Rect& bar = progress.bar;
  int32_t width = progress.barWidth();
  int32_t height = std::abs(bar.bottom - bar.top);
  if (width <= 0) return;
  g.FillRectangle(&skin.white, bar.left, bar.top, width, height);
  if (skin.progressTrack) g.DrawImage(skin.progressTrack.get(), bar.left, bar.top, width, height);
  int32_t fill = progress.fillWidth();
  if (skin.progressFill && fill > 0 && height > 2) g.DrawImage(skin.progressFill.get(), bar.left, bar.top + 1, fill, height - 2);
}

void DrawTexts(Graphics& g, const Skin& skin, const ProgressDisplay& progress) {
  if (!progress.visible) return;
  const TextBox& t = layout::ProgressTexts;
  RectF layoutRect(t.x, t.y, t.width, t.height);
  std::unique_ptr<StringFormat> format(StringFormat::GenericTypographic()->Clone());
  RectF boxes[3];
  for (int i = 0; i < 3; ++i) {
    g.MeasureString(progress.texts[i].c_str(), -1, skin.font.get(), layoutRect, format.get(), &boxes[i]);
  }
  ProgressTextPlacement place = PlaceProgressTexts(layoutRect.X, boxes[0].Width, boxes[1].Width);
  boxes[1].X += place.shift2;
  boxes[2].X = place.x3;
  const Brush* brushes[3] = {&skin.white, &skin.lightBlue, &skin.white};
  for (int i = 0; i < 3; ++i) {
    if (progress.texts[i].empty()) continue;
    g.DrawString(progress.texts[i].c_str(), -1, skin.font.get(), boxes[i], format.get(), brushes[i]);
  }
}

namespace {

void DrawLine(Graphics& g, const Skin& skin, const std::wstring& text, const TextBox& box, const Brush& brush,
              const StringFormat* format) {
  if (text.empty()) return;
  g.DrawString(text.c_str(), -1, skin.font.get(), RectF(box.x, box.y, box.width, box.height), format, &brush);
}

}  // namespace

void ComposeFrame(Skin& skin, const FrameContent& content) {
  Graphics& g = *skin.graphics;
  if (skin.memory.pixels && !skin.staticLayers.empty()) {
    GdiFlush();  // GDI may still be reading the memory for the last copy
    memcpy(skin.memory.pixels, skin.staticLayers.data(), skin.staticLayers.size() * sizeof(uint32_t));
  } else {
    DrawImage(g, skin.background, 0, 0);
    DrawImage(g, skin.logo, layout::LogoAt.x, layout::LogoAt.y);
    DrawImage(g, skin.lowerPanel, layout::PanelAt.x, layout::PanelAt.y);
  }
  if (content.gameReady) {
    const SkinImage& image = content.button.image == ButtonImage::Pressed ? skin.buttonPressed : skin.buttonNormal;
    DrawImage(g, image, content.button.at.x, content.button.at.y);
  }
  if (content.progress) {
    DrawBar(g, skin, *content.progress);
    DrawTexts(g, skin, *content.progress);
  }
  const StringFormat* typographic = StringFormat::GenericTypographic();
  DrawLine(g, skin, content.versionText, layout::VersionLine, skin.lightGrey, typographic);
  DrawLine(g, skin, content.statusText, layout::StatusLine, skin.white, typographic);
  DrawLine(g, skin, content.errorText, layout::ErrorLine, skin.lightGrey, &skin.errorFormat);
  g.Flush(FlushIntentionSync);
}

void DrawFrame(Skin& skin, const FrameContent& content, Graphics& target) {
  ComposeFrame(skin, content);
  target.DrawImage(skin.backBuffer.get(), 0, 0, skin.memory.width, skin.memory.height);
}

void DrawFrame(Skin& skin, const FrameContent& content, HDC target, const RECT* dirty, SkinScale scale) {
  ComposeFrame(skin, content);
  const int32_t width = skin.memory.width, height = skin.memory.height;
  if (!skin.memory.pixels) {
    Graphics window(target);
    window.SetInterpolationMode(scale.whole() ? InterpolationModeNearestNeighbor : InterpolationModeHighQualityBicubic);
    window.SetPixelOffsetMode(PixelOffsetModeHalf);
    window.DrawImage(skin.backBuffer.get(), 0, 0, scale.toScreen(width), scale.toScreen(height));
    return;
  }
  const ::Rect all = scale.toScreen(::Rect{0, 0, width, height});
  RECT r{all.left, all.top, all.right, all.bottom};
  if (dirty && !IntersectRect(&r, dirty, &r)) return;
  if (scale.dpi == 96) {
    BitBlt(target, r.left, r.top, r.right - r.left, r.bottom - r.top, skin.memory.dc, r.left, r.top, SRCCOPY);
    return;
  }
  // The skin pixels under the dirty area, enlarged onto the screen pixels they cover.
  const ::Rect from{scale.toSkin(r.left), scale.toSkin(r.top), scale.toSkin(r.right - 1) + 1, scale.toSkin(r.bottom - 1) + 1};
  const ::Rect to = scale.toScreen(from);
  SetStretchBltMode(target, scale.whole() ? COLORONCOLOR : HALFTONE);
  SetBrushOrgEx(target, 0, 0, nullptr);
  StretchBlt(target, to.left, to.top, to.width(), to.height(), skin.memory.dc, from.left, from.top, from.width(),
             from.height(), SRCCOPY);
}
