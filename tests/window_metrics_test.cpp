#include <gtest/gtest.h>

#include "ui/window_metrics.h"

TEST(WindowMetrics, FrameIntervalFromTheRefreshRate) {
  // Rates outside 30-240 Hz, and the 0 that a virtual display reports, count as 60 Hz.
  const std::pair<int32_t, int32_t> cases[] = {{144, 6}, {60, 16}, {30, 33}, {240, 4}, {25, 16},
                                               {300, 16}, {0, 16}};
  for (const auto& [rate, interval] : cases) EXPECT_EQ(FrameIntervalMs(rate), interval) << rate;
}

TEST(WindowMetrics, PositionAndCommandLine) {
  EXPECT_EQ(CentredWindowPosition(1920, 1080), (Point{320, 252}));
  EXPECT_EQ(CentredWindowPosition(1281, 577), (Point{0, 0}));
  EXPECT_EQ(CentredWindowPosition(1024, 768), (Point{-128, 96}));
  EXPECT_EQ(CentredWindowPosition(3840, 2160, SkinScale{192}), (Point{640, 504}));
  EXPECT_TRUE(IsGameUpdateCommand(L"gameupdate"));
  for (const wchar_t* other : {L"gameupdate ", L"/gameupdate", L" gameupdate", L"GAMEUPDATE", L"", L"gameupdat"}) {
    EXPECT_FALSE(IsGameUpdateCommand(other)) << other;
  }
  EXPECT_FALSE(IsGameUpdateCommand(nullptr));
}

// The skin on high-DPI displays: the factor taken, and the mapping both ways. A click on any
// screen pixel must land on the skin pixel drawn there, and a redrawn skin area must cover every
// screen pixel showing it.
TEST(WindowMetrics, SkinScaleOnHighDpiDisplays) {
  struct Case {
    int32_t dpi, screenWidth, screenHeight, taken;
  };
  const Case cases[] = {
      {96, 1920, 1080, 96},   {0, 1920, 1080, 96},    {-5, 1920, 1080, 96},  {72, 1920, 1080, 96},
      {120, 1920, 1080, 120}, {144, 1920, 1080, 144}, {192, 3840, 2160, 192}, {288, 3840, 2160, 288},
      {192, 1920, 1080, 96},  // 2560 wide does not fit: the skin's own size
      {288, 2560, 1440, 192}, // 3840 wide does not fit, 2560 does
      {240, 3000, 2000, 192}, // 250 %: 3200 wide does not fit, the whole 200 % does
      {100000, 100000, 100000, 768}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const SkinScale scale = SkinScaleFor(c.dpi, c.screenWidth, c.screenHeight);
    EXPECT_EQ(scale.dpi, c.taken);
    EXPECT_LE(scale.toScreen(layout::ClientWidth), c.screenWidth > 1280 ? c.screenWidth : 1280);
  }
  EXPECT_TRUE(SkinScale{192}.whole());
  EXPECT_FALSE(SkinScale{144}.whole());
  EXPECT_EQ(SkinScale{144}.toScreen(Rect{1, 1, 3, 4}), (Rect{1, 1, 5, 6}));
  for (int32_t dpi : {96, 120, 144, 168, 192, 240, 288}) {
    const SkinScale scale{dpi};
    for (int32_t x = 0; x < 40; ++x) {
      const int32_t skin = scale.toSkin(x);
      // The screen pixel x lies within the screen area of the skin pixel it maps to.
      ASSERT_TRUE(scale.toScreen(Rect{skin, 0, skin + 1, 1}).contains(Point{x, 0})) << dpi << " " << x;
    }
    EXPECT_EQ(scale.toSkin(scale.toScreen(layout::ClientWidth) - 1), layout::ClientWidth - 1) << dpi;
  }
}
