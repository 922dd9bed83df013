// vorel-update: runs one update of the installation it is placed in, exactly as the window
// does (same engine, files and log), printing the status and progress while it works.
// Exit code 0 when the game may be started (stage 10), 1 when the update failed.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/names.h"
#include "platform/dump_module.h"
#include "platform/text.h"
#include "update/patcher.h"

namespace {

void PrintState(Patcher& patcher, std::wstring& lastStatus) {
  std::wstring status = patcher.statusText.get();
  if (status != lastStatus && !status.empty()) {
    printf("%s\n", WideToUtf8(status).c_str());
    lastStatus = status;
  }
  int64_t done = patcher.bytesDone, total = patcher.bytesTotal;
  int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  printf("  stage %d  files %d/%d  %.1f/%.1f MB  %d%%\n", patcher.stage.load(), patcher.filesDone.load(),
         patcher.filesTotal.load(), done / 1048576.0, total / 1048576.0, percent);
  fflush(stdout);
}

}  // namespace

int main() {
  // The crash-dump module is set up as the launcher's start-up does it.
  DumperFunctions& dumper = GetDumperFunctions();
  if (dumper.setConfig) dumper.setConfig(6, "internal_us");
  if (dumper.init) dumper.init("p7kdmwra", LauncherVersion.c_str(), "");

  // Lives until the process ends, as in the launcher (never destroyed, so no end line is logged).
  static Patcher* patcher = new Patcher();
  std::atomic<bool> done{false};
  std::thread worker([&] {
    patcher->Work();
    done = true;
  });
  std::wstring lastStatus;
  int64_t lastPrint = 0;
  for (int tick = 0; !done; ++tick) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (tick - lastPrint >= 10) {
      PrintState(*patcher, lastStatus);
      lastPrint = tick;
    }
  }
  worker.join();
  PrintState(*patcher, lastStatus);
  std::wstring version = patcher->versionText.get();
  if (!version.empty()) printf("%s\n", WideToUtf8(version).c_str());
  int stage = patcher->stage;
  printf("%s (stage %d)\n", stage == Finished ? "update finished" : "update failed", stage);
  UninitialiseDumper();
  return stage == Finished ? 0 : 1;
}
