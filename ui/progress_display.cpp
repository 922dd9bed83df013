#include "ui/progress_display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/text.h"
#include "update/patcher.h"

namespace {

constexpr double BytesToMiB = 9.5367431640625e-07;  // 2^-20

int64_t WholeMiB(int64_t bytes) { return static_cast<int64_t>(static_cast<double>(bytes) * BytesToMiB); }

}  // namespace

PatcherSnapshot SnapshotOf(const Patcher& patcher) {
  PatcherSnapshot s;
  s.stage = patcher.stage;
  s.statusText = patcher.statusText.get();
  s.versionText = patcher.versionText.get();
  s.filesDone = patcher.filesDone;
  s.filesTotal = patcher.filesTotal;
  s.bytesDone = patcher.bytesDone;
  s.bytesTotal = patcher.bytesTotal;
  s.inPackage = patcher.inPackage;
  return s;
}

float ProgressDisplay::ratio() const {
  if (total == 0) return 0.0f;
  float r = static_cast<float>(done) / static_cast<float>(total);
  if (!(r > 0.0f)) return 0.0f;  // also NaN
  return std::min(r, 0.995f);
}

int32_t ProgressDisplay::barWidth() const {
  return static_cast<int32_t>(static_cast<float>(bar.width()) - static_cast<float>(bar.height()) * 0.1f);
}

int32_t ProgressDisplay::fillWidth() const {
  int32_t width = barWidth();
  auto fill = static_cast<int32_t>(static_cast<float>(width) * ratio());
  return std::clamp(fill, 0, std::max(width, 0));
}

Rect ProgressDisplay::redrawRect() const {
  float quarter = static_cast<float>(bar.height()) / 4.0f;
  return Rect{static_cast<int32_t>(static_cast<float>(bar.left) - quarter), bar.top,
              static_cast<int32_t>(static_cast<float>(bar.right) + quarter), bar.bottom};
}

ProgressTextPlacement PlaceProgressTexts(float layoutX, float width1, float width2) {
  // The boxes measured with the typographic format are tight: pulling the pieces into each
  // other by fixed amounts (9 and 13 pixels) hid the "(" under the percentage. They are set
  // end to end instead.
  return ProgressTextPlacement{width1, layoutX + width1 + width2};
}

std::array<std::wstring, 3> ComposeProgressTexts(int32_t stage, int64_t bytesDone, int64_t bytesTotal,
                                                 double speed) {
  const std::wstring* label = nullptr;
  if (stage == DownloadingFiles) label = &texts::UpdatingExtensions;
  else if (stage == DownloadingPackages) label = &texts::DownloadingPackage;
  else if (stage == Unpacking) label = &texts::Extracting;
  if (!label) return {};

  int64_t doneMB = std::max<int64_t>(WholeMiB(bytesDone), 0);
  int64_t totalMB = std::max<int64_t>(WholeMiB(bytesTotal), 1);
  float percent = static_cast<float>(doneMB) / static_cast<float>(totalMB) * 100.0f;
  int32_t shownPercent = static_cast<int32_t>(std::clamp(percent, 0.0f, 100.0f));

  std::array<std::wstring, 3> out;
  out[0] = *label + L"[" + std::to_wstring(doneMB) + L"M/" + std::to_wstring(totalMB) + L"M] (";
  out[1] = std::to_wstring(shownPercent) + L"%";
  if (stage == Unpacking) {
    out[2] = L")";
  } else {
    char speedText[256];
    snprintf(speedText, sizeof speedText, "%.2fMB/s", speed);
    out[2] = L")  " + texts::Speed + AnsiToWide(speedText);
  }
  return out;
}

void SpeedSampler::reset() { *this = SpeedSampler(); }

bool SpeedSampler::sample(int64_t bytesDone, int32_t stage, int64_t nowMs) {
  if (!sampled_) {
    // The first sample only sets the starting point.
    sampled_ = true;
    lastSampleMs_ = nowMs;
    lastBytesDone_ = bytesDone;
    speed_ = 0;
    return true;
  }
  int64_t elapsed = nowMs - lastSampleMs_;
  if (elapsed <= SampleEveryMs) return false;
  lastSampleMs_ = nowMs;
  speed_ = 0;
  bool moving = false;
  if (lastBytesDone_ < bytesDone) {
    speed_ = static_cast<double>(bytesDone - lastBytesDone_) / (static_cast<double>(elapsed) / 1000.0) * BytesToMiB;
    moving = speed_ >= 0.02;
  }
  if (moving || stage == Unpacking) {
    // Extraction reads no network: it is never a broken connection.
    stallMs_ = 0;
    stalled_ = false;
  } else if (elapsed < IgnoredGapMs && stallMs_ < StallAfterMs) {
    stallMs_ += static_cast<int32_t>(elapsed);
    if (stallMs_ >= StallAfterMs) stalled_ = true;
  }
  lastBytesDone_ = bytesDone;
  return true;
}

void DisplayModel::update(const PatcherSnapshot& patcher, int64_t nowMs, std::vector<Invalidation>& redraw) {
  const Invalidation panel{layout::BottomPanel, true};
  bool recompose = false;
  if (!patcher.statusText.empty()) {
    if (patcher.statusText != statusText) {
      progress.visible = false;
      statusText = patcher.statusText;
      redraw.push_back(panel);
    }
  } else {
    redraw.push_back(panel);
    progress.visible = true;
    statusText.clear();
    // Both the file and the byte counters are compared with the stored bytes, so the texts are
    // recomposed (and the speed sampled) in nearly every frame, also while nothing arrives.
    recompose = !(progress.done == patcher.filesDone && progress.total == patcher.filesTotal &&
                  progress.done == patcher.bytesDone && progress.total == patcher.bytesTotal);
  }

  if (recompose) {
    sampler.sample(patcher.bytesDone, patcher.stage, nowMs);
    if (sampler.stalled()) {
      progress.texts = {texts::NetworkInterrupted, L"", L""};
    } else {
      progress.texts = ComposeProgressTexts(patcher.stage, patcher.bytesDone, patcher.bytesTotal, sampler.speed());
    }
    progress.done = patcher.bytesDone;
    progress.total = patcher.bytesTotal;
    redraw.push_back(Invalidation{progress.redrawRect(), true});
  }

  if (patcher.versionText != versionText) {
    versionText = patcher.versionText;
    redraw.push_back(panel);
  }
  if (errorText != shownErrorText_) {
    shownErrorText_ = errorText;
    redraw.push_back(panel);
  }
}
