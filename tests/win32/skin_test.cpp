// Frames drawn with GDI+ and copied into an off-screen device context (no display needed), checked pixel by pixel
// where no text is, and saved as PNG files under the build folder for a person to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "resource_ids.h"
#include "support/texts.h"
#include "win32/frame_pixels.h"

using namespace Gdiplus;
using namespace testframes;

namespace {

constexpr int NightBackground = 2;  // dark enough for white text to stand out

int Luma(uint32_t c) { return (R(c) * 299 + G(c) * 587 + B(c) * 114) / 1000; }

// Renders one frame the way the window paints it (copied into a device context), saves it when
// a name is given.
Pixels Render(Skin& skin, const FrameContent& content, const char* saveAs = nullptr) {
  FrameMemory target(W, H);
  DrawFrame(skin, content, target.dc);
  return Grab(target, VOREL_FRAMES_DIR, saveAs);
}

// The pixels of a resource image as drawn 1:1 at its own size.
Pixels ResourcePixels(int id) {
  Pixels p;
  auto bitmap = LoadPngResource(GetModuleHandleW(nullptr), id);
  Bitmap target(W, H, W * 4, PixelFormat32bppARGB, reinterpret_cast<BYTE*>(p.argb.data()));
  Graphics g(&target);
  if (bitmap) g.DrawImage(bitmap.get(), 0, 0, static_cast<INT>(bitmap->GetWidth()), static_cast<INT>(bitmap->GetHeight()));
  g.Flush(FlushIntentionSync);
  return p;
}

// The bounding box of the pixels that differ between two frames within an area; empty if none.
::Rect Differences(const Pixels& a, const Pixels& b, ::Rect area = layout::Client) {
  ::Rect box{W, H, 0, 0};
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      if (a.at(x, y) != b.at(x, y))
        box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1), std::max(box.bottom, y + 1)};
  return box.right == 0 ? ::Rect{} : box;
}

bool Inside(const ::Rect& inner, const ::Rect& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom;
}

// Whether some pixel that changed between the frames within the area has about this colour.
bool HasColour(const Pixels& frame, const Pixels& without, ::Rect area, uint32_t colour) {
  auto similar = [&](uint32_t c) {
    return std::abs(R(c) - R(colour)) <= 6 && std::abs(G(c) - G(colour)) <= 6 && std::abs(B(c) - B(colour)) <= 6;
  };
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      if (frame.at(x, y) != without.at(x, y) && similar(frame.at(x, y))) return true;
  return false;
}

::Rect Around(const TextBox& box, int margin) {
  return ::Rect{static_cast<int>(box.x) - margin, static_cast<int>(box.y) - margin,
                static_cast<int>(box.x + box.width) + margin, static_cast<int>(box.y + box.height) + margin};
}

}  // namespace

TEST(Skin, ImagesLoadAtTheirSizes) {
  HMODULE self = GetModuleHandleW(nullptr);
  const std::pair<int, std::pair<int, int>> resources[] = {
      {203, {1280, 576}}, {208, {1280, 576}}, {214, {800, 336}}, {199, {1280, 213}}, {168, {221, 58}},
      {171, {216, 57}},   {198, {1240, 6}},   {197, {1240, 4}}};
  for (const auto& [id, size] : resources) {
    auto bitmap = LoadPngResource(self, id);
    ASSERT_TRUE(bitmap) << id;
    EXPECT_EQ(static_cast<int>(bitmap->GetWidth()), size.first) << id;
    EXPECT_EQ(static_cast<int>(bitmap->GetHeight()), size.second) << id;
  }
  EXPECT_FALSE(LoadPngResource(self, 4242));
  EXPECT_FALSE(ScaleToFit(nullptr, 300, 123));
  // A palette image (as a palette PNG loads) is scaled into full colour: GDI+ cannot draw into an
  // indexed bitmap, which would stay blank.
  std::vector<BYTE> indices(64 * 32, 1);
  Bitmap palette(64, 32, 64, PixelFormat8bppIndexed, indices.data());
  std::vector<BYTE> entries(sizeof(ColorPalette) + sizeof(ARGB));
  auto* colours = reinterpret_cast<ColorPalette*>(entries.data());
  colours->Flags = 0, colours->Count = 2, colours->Entries[0] = 0xFF000000, colours->Entries[1] = 0xFFD02030;
  ASSERT_EQ(palette.SetPalette(colours), Ok);
  auto fitted = ScaleToFit(&palette, 32, 32);
  ASSERT_TRUE(fitted);
  Color centre;
  ASSERT_EQ(fitted->GetPixel(16, 8, &centre), Ok);
  EXPECT_EQ(centre.GetValue(), 0xFFD02030u);
  // The logo is fitted into 300 x 123 by its width: 300 x 126. Where the background, panel and
  // button images go is checked on the drawn frames below.
  Skin skin(self, W, H, NightBackground);
  EXPECT_EQ(skin.logo.size().width, 300);
  EXPECT_EQ(skin.logo.size().height, 126);
  EXPECT_FALSE(skin.fallbackFont);
  Skin fallback(self, W, H, NightBackground, L"No Such Family 7391");
  EXPECT_TRUE(fallback.fallbackFont);
  ASSERT_TRUE(fallback.font);
  EXPECT_EQ(fallback.font->GetLastStatus(), Ok);
}

TEST(Skin, SixDifferentBackgroundsOneChosenAtRandom) {
  std::vector<Pixels> backgrounds;
  for (int i = 0; i < IDP_BACKGROUND_COUNT; ++i) {
    Skin skin(GetModuleHandleW(nullptr), W, H, i);
    backgrounds.push_back(Render(skin, FrameContent{}));
  }
  for (size_t a = 0; a < backgrounds.size(); ++a)
    for (size_t b = a + 1; b < backgrounds.size(); ++b) {
      long long distance = 0;  // summed over a grid above the panel
      for (int y = 0; y < 363; y += 8)
        for (int x = 0; x < W; x += 8) distance += std::abs(Luma(backgrounds[a].at(x, y)) - Luma(backgrounds[b].at(x, y)));
      EXPECT_GT(distance / (46 * 160), 12) << "backgrounds " << a << " and " << b << " look alike";
    }
  Skin chosen(GetModuleHandleW(nullptr), W, H);
  EXPECT_GE(chosen.backgroundId, 203);
  EXPECT_LE(chosen.backgroundId, 208);
}

TEST(DrawFrame, ImagesWhereTheyBelong) {
  Skin skin(GetModuleHandleW(nullptr), W, H, NightBackground);
  const Pixels background = ResourcePixels(205);
  FrameContent content;
  const Pixels plain = Render(skin, content);
  // Above the panel, only the logo changes the background, and only inside its 300 x 126 box.
  ::Rect logo = Differences(plain, background, ::Rect{0, 0, W, 363});
  EXPECT_TRUE(Inside(logo, ::Rect{28, 18, 328, 144})) << logo.left << "," << logo.top << " " << logo.right << "," << logo.bottom;
  EXPECT_GT(logo.width(), 200);
  EXPECT_GT(logo.height(), 60);
  // The panel darkens more and more towards the bottom (rows averaged where nothing else is).
  auto darkening = [&](int y, int x0, int x1) {
    double sum = 0;
    for (int x = x0; x < x1; ++x) sum += (Luma(plain.at(x, y)) + 1.0) / (Luma(background.at(x, y)) + 1.0);
    return sum / (x1 - x0);
  };
  for (int x0 : {0, 600}) {
    EXPECT_NEAR(darkening(362, x0, x0 + 20), 1.0, 0.001);
    double previous = 1.0;
    for (int y = 370; y < 497; y += 8) {
      double ratio = darkening(y, x0, x0 + 20);
      EXPECT_LE(ratio, previous + 0.03) << x0 << "," << y;
      previous = ratio;
    }
    EXPECT_LT(previous, 0.6);
  }
  EXPECT_LT(darkening(575, 0, 20), 0.3);

  // No button until the game is ready; then the normal image at (1048, 507), the pressed one at (1050, 507).
  content.gameReady = true;
  content.button = ButtonPlacement{ButtonImage::Normal, {1048, 507}};
  ::Rect button = Differences(Render(skin, content), plain);
  EXPECT_TRUE(Inside(button, layout::StartButton));
  EXPECT_GE(button.width(), 215);
  EXPECT_LE(button.left, 1049);
  content.button = ButtonPlacement{ButtonImage::Pressed, {1050, 507}};
  ::Rect down = Differences(Render(skin, content), plain);
  EXPECT_TRUE(Inside(down, ::Rect{1050, 507, 1266, 564}));
}

TEST(DrawFrame, BarFillEndsAtItsRatio) {
  Skin skin(GetModuleHandleW(nullptr), W, H, NightBackground);
  ProgressDisplay progress;
  progress.visible = true;
  progress.texts = {L"", L"", L""};
  FrameContent content;
  content.progress = &progress;
  for (double ratio : {0.0, 0.37, 1.0}) {
    progress.done = static_cast<int64_t>(ratio * 1000);
    progress.total = 1000;
    const Pixels frame = Render(skin, content);
    int right = 20 + progress.fillWidth();  // first pixel past the fill
    auto isFill = [](uint32_t c) { return B(c) > 150 && B(c) > R(c) + 80; };
    if (right > 20) {
      EXPECT_TRUE(isFill(frame.at(right - 1, 561))) << ratio;
    }
    EXPECT_FALSE(isFill(frame.at(right + 1, 561))) << ratio;
    EXPECT_FALSE(isFill(frame.at(right + 1, 559))) << ratio;  // the track's border row
    EXPECT_LT(Luma(frame.at(30, 565)), 100);                   // below the bar: the panel
  }
  progress.visible = false;
  EXPECT_EQ(Differences(Render(skin, content), Render(skin, FrameContent{})).width(), 0);
}

TEST(DrawFrame, TextsInTheirRectanglesAndFramesToLookAt) {
  Skin skin(GetModuleHandleW(nullptr), W, H, NightBackground);
  ProgressDisplay progress;
  FrameContent base;
  base.versionText = L"Version: V1.0.2/V1.0.3";
  const Pixels withoutTexts = Render(skin, FrameContent{});

  // Downloading: the bar with its texts and the speed.
  progress.visible = true;
  progress.done = 120;
  progress.total = 2048;
  progress.texts = ComposeProgressTexts(8, 120LL << 20, 2048LL << 20, 3.41);
  FrameContent downloading = base;
  downloading.progress = &progress;
  const Pixels d = Render(skin, downloading, "downloading");
  ProgressDisplay barOnly = progress;
  barOnly.texts = {L"", L"", L""};
  FrameContent bar = FrameContent{};
  bar.progress = &barOnly;
  const Pixels b = Render(skin, bar);
  ::Rect progressText = Around(layout::ProgressTexts, 4);
  progressText.bottom = 559;  // the bar itself below is the same in both
  EXPECT_TRUE(HasColour(d, b, progressText, 0xFFFFFFFF));
  EXPECT_TRUE(HasColour(d, b, progressText, 0xFF78AEFF));  // the percentage
  EXPECT_TRUE(HasColour(d, withoutTexts, Around(layout::VersionLine, 0), 0xFFD3D3D3));

  // Verifying: a status line, no bar.
  FrameContent verifying = base;
  verifying.statusText = texts::VerifyingGame;
  const Pixels v = Render(skin, verifying, "verifying");
  const Pixels vo = Render(skin, base);
  ::Rect status = Differences(v, vo);
  EXPECT_TRUE(Inside(status, Around(layout::StatusLine, 4)));
  EXPECT_TRUE(HasColour(v, vo, Around(layout::StatusLine, 4), 0xFFFFFFFF));
  EXPECT_GT(status.width(), 150);

  // Failed: the failure status, the error line and the start button; then the button pressed.
  FrameContent failed = base;
  failed.statusText = texts::DownloadFailed + L" CURLCODE(7) HTTP STATUES CODE(0)";
  failed.errorText = texts::GameNotFound;
  failed.gameReady = true;
  failed.button = ButtonPlacement{ButtonImage::Normal, {1048, 507}};
  const Pixels f = Render(skin, failed, "failed");
  FrameContent noError = failed;
  noError.errorText.clear();
  const Pixels ne = Render(skin, noError);
  ::Rect error = Differences(f, ne);
  EXPECT_TRUE(Inside(error, Around(layout::ErrorLine, 4)));
  EXPECT_TRUE(HasColour(f, ne, Around(layout::ErrorLine, 4), 0xFFD3D3D3));
  failed.button = ButtonPlacement{ButtonImage::Pressed, {1050, 507}};
  Render(skin, failed, "pressed");
  // The longest status a signed release can end with stays on its line.
  FrameContent refused = noError;
  refused.statusText = texts::ReleaseNotVerified;
  EXPECT_TRUE(Inside(Differences(Render(skin, refused, "refused"), ne), Around(layout::StatusLine, 4)));
}
