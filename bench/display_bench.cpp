// display: the per-frame display step (copying the update engine's shared state and updating
// the progress display: status line or texts, speed and stall sampling, what to redraw) while a
// download runs. The window runs it once per frame interval (every 16 ms at 60 Hz).
#include <cstdio>
#include <vector>

#include "common.h"
#include "ui/progress_display.h"
#include "update/patcher.h"

using namespace bench;

int main() {
  const int reps = Reps(5);
  const int frames = 1000000;
  Patcher patcher;
  patcher.statusText = L"";
  patcher.stage = 8;
  patcher.bytesTotal = 2048LL << 20;
  patcher.filesTotal = 8;
  Samples perFrame;
  size_t redraws = 0;
  for (int r = 0; r < reps; ++r) {
    DisplayModel model;
    std::vector<Invalidation> redraw;
    double start = Now();
    for (int i = 0; i < frames; ++i) {
      // 16 ms frames; 1 MiB arrives every 50 frames.
      patcher.bytesDone = (static_cast<int64_t>(i) / 50) << 20;
      redraw.clear();
      model.update(SnapshotOf(patcher), static_cast<int64_t>(i) * 16, redraw);
      redraws += redraw.size();
    }
    perFrame.add((Now() - start) / frames);
  }
  if (redraws == 0) Fail("nothing was redrawn");
  double us = perFrame.median() * 1e6;
  printf("display: %d runs of %d frames (median; all in us per frame in brackets); load %s\n", reps, frames,
         LoadAverage().c_str());
  std::string all;
  for (double v : perFrame.values) all += (all.empty() ? "" : " ") + Fixed(v * 1e6, 3);
  printf("  snapshot + display step while downloading: %.3f us per frame  [%s]\n", us, all.c_str());
  printf("  share of a 16 ms frame: %.5f\n", perFrame.median() / 0.016);
  Summary("display", "per-frame display step (us)", Fixed(us, 3), "5 (budget)", Fixed(us / 5, 3), "< 5 us", us < 5);
  return 0;
}
