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
  EXPECT_TRUE(IsGameUpdateCommand(L"gameupdate"));
  for (const wchar_t* other : {L"gameupdate ", L"/gameupdate", L" gameupdate", L"GAMEUPDATE", L"", L"gameupdat"}) {
    EXPECT_FALSE(IsGameUpdateCommand(other)) << other;
  }
  EXPECT_FALSE(IsGameUpdateCommand(nullptr));
}
