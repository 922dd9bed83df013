#include <gtest/gtest.h>

#include <vector>

#include "support/texts.h"
#include "ui/progress_display.h"

namespace {

constexpr int64_t MiB = 1 << 20;

PatcherSnapshot Downloading(int64_t done, int64_t total = 100 * MiB, int32_t stage = 8) {
  PatcherSnapshot s;
  s.stage = stage;
  s.filesDone = 1;
  s.filesTotal = 3;
  s.bytesDone = done;
  s.bytesTotal = total;
  return s;
}

std::vector<Invalidation> Frame(DisplayModel& model, const PatcherSnapshot& s, int64_t now) {
  std::vector<Invalidation> redraw;
  model.update(s, now, redraw);
  return redraw;
}

}  // namespace

TEST(ProgressDisplay, ComposedTexts) {
  struct Case {
    int32_t stage;
    int64_t done, total;
    double speed;
    std::array<std::wstring, 3> texts;
  };
  const Case cases[] = {
      {8, 120 * MiB, 2048 * MiB, 3.414, {texts::DownloadingPackage + L"[120M/2048M] (", L"5%", L")  tốc độ3.41MB/s"}},
      {7, MiB + 5, 4 * MiB, 0, {texts::UpdatingExtensions + L"[1M/4M] (", L"25%", L")  tốc độ0.00MB/s"}},
      {9, 3 * MiB, 3 * MiB, 9, {texts::Extracting + L"[3M/3M] (", L"100%", L")"}},
      // No total yet: 1 MB and 0 %; counters read one by one may disagree for a moment.
      {8, 0, 0, 0, {texts::DownloadingPackage + L"[0M/1M] (", L"0%", L")  tốc độ0.00MB/s"}},
      {8, -5, 10 * MiB, 0, {texts::DownloadingPackage + L"[0M/10M] (", L"0%", L")  tốc độ0.00MB/s"}},
      {8, 30 * MiB, 10 * MiB, 0, {texts::DownloadingPackage + L"[30M/10M] (", L"100%", L")  tốc độ0.00MB/s"}},
      {6, 5 * MiB, 10 * MiB, 1, {L"", L"", L""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComposeProgressTexts(c.stage, c.done, c.total, c.speed), c.texts) << c.stage << " " << c.done;
  }
}

TEST(ProgressDisplay, BarFillStaysInsideTheBar) {
  ProgressDisplay p;
  struct Case {
    int64_t done, total;
    int32_t fill;
  };
  // The bar is 1239 pixels, full is 99.5 % of it; a total of 0 and negative counters draw nothing.
  const Case cases[] = {{100, 100, 1232}, {500, 100, 1232}, {50, 100, 619}, {7, 0, 0}, {-3, 100, 0}};
  for (const auto& c : cases) {
    p.done = c.done;
    p.total = c.total;
    EXPECT_EQ(p.fillWidth(), c.fill) << c.done << "/" << c.total;
  }
}

TEST(ProgressDisplay, SpeedIsSampledFromTheMonotonicClock) {
  DisplayModel model;
  Frame(model, Downloading(0), 10000);  // the first sample only sets the starting point
  Frame(model, Downloading(MiB), 10400);  // under half a second: not sampled
  Frame(model, Downloading(3 * MiB + MiB / 2), 11000);
  EXPECT_EQ(model.progress.texts[2], L")  tốc độ3.50MB/s");
  EXPECT_EQ(model.progress.done, 3 * MiB + MiB / 2);
}

TEST(ProgressDisplay, StallDetection) {
  // 15 s without new bytes while downloading shows the disconnection text, until bytes flow
  // again at 0.02 MiB/s or more. A pause of 500 s or more (the machine slept) is not counted.
  DisplayModel model;
  int64_t now = 0;
  Frame(model, Downloading(MiB), now);
  for (int i = 0; i < 14; ++i) Frame(model, Downloading(MiB), now += 1000);
  Frame(model, Downloading(MiB), now += 500000);
  EXPECT_FALSE(model.sampler.stalled());
  Frame(model, Downloading(MiB), now += 1000);
  EXPECT_TRUE(model.sampler.stalled());
  EXPECT_EQ(model.progress.texts, (std::array<std::wstring, 3>{texts::NetworkInterrupted, L"", L""}));
  Frame(model, Downloading(MiB + 10000), now += 1000);  // 0.0095 MiB/s: still stalled
  EXPECT_TRUE(model.sampler.stalled());
  Frame(model, Downloading(2 * MiB), now += 1000);
  EXPECT_EQ(model.progress.texts[1], L"2%");

  // Extraction reads no network: never a disconnection.
  DisplayModel unpacking;
  now = 0;
  for (int i = 0; i < 40; ++i) Frame(unpacking, Downloading(MiB, 100 * MiB, 9), now += 1000);
  EXPECT_EQ(unpacking.progress.texts[2], L")");
}

TEST(ProgressDisplay, RedrawsWhatChanged) {
  const Invalidation panel{layout::BottomPanel, true};
  const Invalidation bar{Rect{18, 559, 1261, 565}, true};
  DisplayModel model;
  PatcherSnapshot s;
  s.statusText = texts::Initialising;  // what the window starts with
  EXPECT_TRUE(Frame(model, s, 0).empty());
  s.statusText = texts::VerifyingGame;
  EXPECT_EQ(Frame(model, s, 100), std::vector<Invalidation>{panel});
  EXPECT_EQ(model.statusText, texts::VerifyingGame);
  EXPECT_TRUE(Frame(model, s, 200).empty());  // the same text set twice redraws nothing

  // An empty status shows the bar with freshly composed texts; a text hides it again.
  PatcherSnapshot d = Downloading(5 * MiB);
  EXPECT_EQ(Frame(model, d, 300), (std::vector<Invalidation>{panel, bar}));
  EXPECT_TRUE(model.progress.visible);
  EXPECT_TRUE(model.statusText.empty());
  EXPECT_EQ(model.progress.texts[1], L"5%");
  EXPECT_EQ(Frame(model, s, 400), std::vector<Invalidation>{panel});
  EXPECT_FALSE(model.progress.visible);

  // The version line, and an error line once, until it changes.
  s.versionText = L"Version: V1.0.0/V1.0.1";
  EXPECT_EQ(Frame(model, s, 500), std::vector<Invalidation>{panel});
  model.errorText = texts::GameNotFound;
  EXPECT_EQ(Frame(model, s, 600), std::vector<Invalidation>{panel});
  EXPECT_TRUE(Frame(model, s, 700).empty());
}
