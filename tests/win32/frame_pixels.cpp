#include "win32/frame_pixels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/text.h"
#include "support/test_files.h"

namespace testframes {
namespace {

struct GdiplusEnvironment : ::testing::Environment {
  std::unique_ptr<GdiplusSession> session;
  void SetUp() override { session = std::make_unique<GdiplusSession>(); }
  void TearDown() override { session.reset(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

bool SavePng(Gdiplus::Bitmap& bitmap, const std::wstring& path) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<unsigned char> buffer(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, encoders) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(encoders[i].MimeType) == L"image/png") {
      return bitmap.Save(path.c_str(), &encoders[i].Clsid, nullptr) == Gdiplus::Ok;
    }
  }
  return false;
}

}  // namespace

Pixels Grab(const FrameMemory& memory, const char* hostDir, const char* saveAs) {
  Pixels p;
  EXPECT_NE(memory.pixels, nullptr);
  if (!memory.pixels) return p;
  GdiFlush();
  p.argb.assign(memory.pixels, memory.pixels + p.argb.size());
  if (hostDir && saveAs) {
    Gdiplus::Bitmap frame(W, H, W * 4, PixelFormat32bppRGB, reinterpret_cast<BYTE*>(memory.pixels));
    std::wstring dir = testfiles::HostPath(hostDir);
    CreateDirectoryW(dir.c_str(), nullptr);
    EXPECT_TRUE(SavePng(frame, dir + L"\\" + AnsiToWide(saveAs) + L".png"));
    printf("saved: %s/%s.png\n", hostDir, saveAs);
  }
  return p;
}

}  // namespace testframes
