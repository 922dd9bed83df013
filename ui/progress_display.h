// What the lower part of the window shows while the update runs: the status line, or the
// progress bar with its composed texts (label, megabytes, percentage, speed), the version line
// and the error line. The model is fed a copy of the update engine's shared state and a
// monotonic "now" once per frame, and says which rectangles must be redrawn.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/texts.h"
#include "ui/layout.h"

class Patcher;

// One consistent copy of what the window reads from the Patcher in a frame.
struct PatcherSnapshot {
  int32_t stage = 0;
  std::wstring statusText;
  std::wstring versionText;
  int32_t filesDone = 0, filesTotal = 0;
  int64_t bytesDone = 0, bytesTotal = 0;
  bool inPackage = false;
};
PatcherSnapshot SnapshotOf(const Patcher& patcher);

struct Invalidation {
  Rect rect;
  bool erase = true;
  bool operator==(const Invalidation& o) const { return rect == o.rect && erase == o.erase; }
};

class ProgressDisplay {
 public:
  Rect bar = layout::ProgressBar;
  std::array<std::wstring, 3> texts{L"Loading...", L"", L""};
  int64_t done = 0;
  int64_t total = 100;
  bool visible = false;

  // done / total, kept within [0, 0.995]: the counters are written by other threads and read
  // one by one, so they may briefly disagree.
  float ratio() const;
  int32_t barWidth() const;   // the bar's width less a tenth of its height: 1239
  int32_t fillWidth() const;  // 0 .. barWidth()
  // The bar widened by a quarter of its height on both sides.
  Rect redrawRect() const;
};

// Where the second and third progress texts go, from the measured widths of the first two, so
// that the three read as one line.
struct ProgressTextPlacement {
  float shift2 = 0;  // added to the second box's x
  float x3 = 0;      // the third box's x
};
ProgressTextPlacement PlaceProgressTexts(float layoutX, float width1, float width2);

// The three progress texts for a stage and the counters; all empty for stages that show no
// progress.
std::array<std::wstring, 3> ComposeProgressTexts(int32_t stage, int64_t bytesDone, int64_t bytesTotal,
                                                 double speed);

// Transfer speed and stall detection, sampled at most every half second.
class SpeedSampler {
 public:
  static constexpr int64_t SampleEveryMs = 500;
  static constexpr int32_t StallAfterMs = 15000;
  // Gaps this long (the machine slept, say) are not counted as stalled time.
  static constexpr int64_t IgnoredGapMs = 500000;

  void reset();
  // Returns false when less than half a second passed since the last sample.
  bool sample(int64_t bytesDone, int32_t stage, int64_t nowMs);
  double speed() const { return speed_; }  // MiB per second
  bool stalled() const { return stalled_; }
  int32_t stallMs() const { return stallMs_; }

 private:
  bool sampled_ = false;
  int64_t lastBytesDone_ = 0;
  int64_t lastSampleMs_ = 0;
  double speed_ = 0;
  int32_t stallMs_ = 0;
  bool stalled_ = false;
};

class DisplayModel {
 public:
  // The display half of the per-frame step. Appends what must be redrawn to `redraw`.
  void update(const PatcherSnapshot& patcher, int64_t nowMs, std::vector<Invalidation>& redraw);
  // Before an update run starts.
  void resetSampling() { sampler.reset(); }

  ProgressDisplay progress;
  SpeedSampler sampler;
  std::wstring statusText = texts::Initialising;  // the status line being shown
  std::wstring versionText;  // the version line being shown
  // Why the last game start failed; shown until the next attempt.
  std::wstring errorText;

 private:
  std::wstring shownErrorText_;
};
