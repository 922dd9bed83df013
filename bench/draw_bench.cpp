// draw (Windows build, run under Wine): one whole frame of the window composed with GDI+ in the
// skin's back buffer and copied with BitBlt to a window-sized device context, while downloading (background, logo,
// panel, progress bar and its texts, version line) and after a failure (status, error line,
// start button). Also the skin's construction (images decoded, scaled and cached).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/texts.h"
#include "ui/win32/skin.h"

using namespace Gdiplus;

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  GdiplusStartupInput input;
  ULONG_PTR token = 0;
  GdiplusStartup(&token, &input, nullptr);
  {
    const char* env = getenv("BENCH_REPS");
    const int reps = env ? std::max(1, atoi(env)) * 40 : 200;
    double start = Now();
    Skin skin(GetModuleHandleW(nullptr), 1280, 576, 2);
    double construction = Now() - start;
    if (!skin.background || !skin.logo) {
      printf("the skin's images did not load\n");
      return 1;
    }

    FrameMemory window(1280, 576);  // stands in for the window's device context
    ProgressDisplay progress;
    progress.visible = true;
    progress.done = 120LL << 20;
    progress.total = 2048LL << 20;
    progress.texts = ComposeProgressTexts(8, progress.done, progress.total, 3.41);
    FrameContent downloading;
    downloading.progress = &progress;
    downloading.versionText = L"Version: V1.0.2/V1.0.3";
    FrameContent failed;
    failed.gameReady = true;
    failed.button = ButtonPlacement{ButtonImage::Normal, {1048, 507}};
    failed.versionText = downloading.versionText;
    failed.statusText = texts::DownloadFailed;
    failed.errorText = texts::GameNotFound;

    std::vector<double> a, b;
    for (int i = 0; i < reps; ++i) {
      double t = Now();
      DrawFrame(skin, downloading, window.dc);
      a.push_back(Now() - t);
      t = Now();
      DrawFrame(skin, failed, window.dc);
      b.push_back(Now() - t);
    }
    printf("draw: %d frames each, 1280 x 576, under Wine (median)\n", reps);
    printf("  skin construction (decode, scale and cache the images): %.1f ms\n", construction * 1e3);
    printf("  frame while downloading: %.2f ms (best %.2f)\n", Median(a) * 1e3, *std::min_element(a.begin(), a.end()) * 1e3);
    printf("  frame after a failure: %.2f ms (best %.2f)\n", Median(b) * 1e3, *std::min_element(b.begin(), b.end()) * 1e3);
    printf("  share of a 16 ms frame: %.2f\n", Median(a) / 0.016);
    printf("SUMMARY\tdraw\tone whole frame under Wine (ms)\t%.2f\t16 (frame at 60 Hz)\t%.3f\tinformation\t-\n",
           Median(a) * 1e3, Median(a) / 0.016);
  }
  GdiplusShutdown(token);
  return 0;
}
