// Whole updates against a hostile server: the test server's chaos mode answers each request with
// a fault drawn from the run's seed (error statuses, stalls, drips below the low-speed limit, cut
// or corrupted bodies, redirect loops, wrong lengths, huge headers, dropped connections). The
// transfer windows are shortened as in the transfer tests. A run may fail, but never report a
// finished update with a game that does not verify, and never take longer than its transfers'
// windows allow.
// All runs share one process, whose memory, open descriptors and threads are printed after the
// first, the middle and the last run: they must stay flat.
//   usage: vorel_chaos [RUNS] [FIRST_SEED]     prints the outcomes and "N passed, N failed"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "publisher.h"
#include "support/test_files.h"
#include "support/test_server.h"
#include "update/file_list.h"
#include "update/patcher.h"
#include "update/verify.h"

namespace {

const std::string kLauncherPath = "production/vorel_pql_win/Launcher/";
const std::string kGamePath = "production/vorel_pql_win/Game/1.0.3/";
constexpr double kLongestRun = 120.0;
const size_t kTail = getenv("VOREL_CHAOS_TAIL") ? strtoul(getenv("VOREL_CHAOS_TAIL"), nullptr, 10) : 4;

struct Outcome {
  bool finished = false;
  std::string problem;  // empty when the run was sound
  double seconds = 0;
  std::wstring status;
};

Outcome RunOnce(const std::wstring& work, int seed) {
  testserver::Area server;
  // Three mirrors (the same folder under three spellings): a file that fails on one is tried on
  // the next, as with a studio's mirrors.
  PublishOptions options;
  options.gameDir = work + L"\\game";
  options.launcherDir = work + L"\\launcher";
  options.outputDir = server.file("");
  options.gameVersion = "1.0.3";
  options.launcherVersion = "4.1.3";
  options.mirrors = {server.base(), server.base() + "./", server.base() + "././"};
  options.packageSize = 150000;
  PublishResult published = Publish(options);
  if (!published.ok) return {false, "publishing failed: " + published.error, 0, L""};
  testfiles::TempDir install;
  CreateDirectories(install / L"Config\\");
  CopyFileOver(server.file(kLauncherPath + "launcherconfig.txt"), install / L"Config\\launcherconfig.txt");
  server.put("chaos.json", "{\"seed\": " + std::to_string(seed) + ", \"rate\": 0.3}");

  Outcome outcome;
  auto start = std::chrono::steady_clock::now();
  EngineOptions shortWindows;
  shortWindows.timings = TransferTimings{1500, 5, 5, 1, 3, 10240};
  Patcher patcher(shortWindows);
  patcher.SetInstallDir(install.path());
  outcome.finished = patcher.UpdateProcess(server.base() + kLauncherPath);
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.status = patcher.statusText.get();
  if (getenv("VOREL_CHAOS_VERBOSE") && !outcome.finished) {
    // The log's last lines, to see why the run stopped.
    for (const auto& name : testfiles::ListNames(install / L"Log")) {
      auto lines = testfiles::LogLines(install / (L"Log\\" + name));
      for (size_t i = lines.size() > kTail ? lines.size() - kTail : 0; i < lines.size(); ++i) printf("    %s\n", lines[i].c_str());
    }
  }
  if (outcome.finished != (patcher.stage == Finished)) outcome.problem = "the result and the stage disagree";
  if (outcome.seconds > kLongestRun) outcome.problem = "took " + std::to_string(outcome.seconds) + " s";
  if (outcome.finished) {
    // The finished tree against the list as published, read without the chaos.
    std::string list = testfiles::ReadFile(server.file(kGamePath + "filelist.txt"));
    std::vector<FileListEntry> entries = ParseFileList(list, patcher);
    std::wstring game = install / (patcher.inPackage ? L"Package\\vorel_win" : L"Game\\vorel_win");
    CheckResults check = CheckLocalFiles(patcher, game, entries);
    if (entries.empty() || check.filesToDownload != 0)
      outcome.problem = "finished with " + std::to_string(check.filesToDownload) + " files that do not verify";
  }
  return outcome;
}

// Resident memory, open descriptors and threads of this process, from /proc.
std::string ProcessFigures() {
  std::string status = testfiles::ReadFile(L"/proc/self/status"), rss = "?", threads = "?";
  auto field = [&status](const std::string& name) {
    size_t at = status.find("\n" + name + ":");
    if (at == std::string::npos) return std::string("?");
    size_t start = status.find_first_not_of(" \t", at + name.size() + 2);
    return status.substr(start, status.find('\n', start) - start);
  };
  size_t descriptors = testfiles::ListNames(L"/proc/self/fd").size();
  return "resident " + field("VmRSS") + ", " + std::to_string(descriptors) + " open descriptors, " +
         field("Threads") + " threads";
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? atoi(argv[1]) : 500;
  const int firstSeed = argc > 2 ? atoi(argv[2]) : 1;
  testfiles::TempDir work;
  testfiles::WriteFile(work / L"game\\vorel.exe", testfiles::RandomBytes(120000, 1));
  for (int i = 0; i < 12; ++i)
    testfiles::WriteFile(work / (L"game\\data\\f" + std::to_wstring(i) + L".dat"), testfiles::RandomBytes(30000 + 7000 * i, i + 2));
  testfiles::WriteFile(work / L"launcher\\VORELLauncher.exe", "launcher");

  int failed = 0, finished = 0;
  double longest = 0;
  std::map<std::wstring, int> endings;
  for (int seed = firstSeed; seed < firstSeed + runs; ++seed) {
    Outcome outcome = RunOnce(work.path(), seed);
    longest = std::max(longest, outcome.seconds);
    if (outcome.finished) ++finished;
    else ++endings[outcome.status.substr(0, 40)];
    if (getenv("VOREL_CHAOS_VERBOSE"))
      printf("seed %d: %s %.1f s %s\n", seed, outcome.finished ? "10" : "17", outcome.seconds,
             WideToUtf8(outcome.status).c_str());
    if (!outcome.problem.empty()) {
      ++failed;
      printf("FAIL seed %d: %s\n", seed, outcome.problem.c_str());
    }
    // Memory, descriptors and threads must stay flat over the runs of one process.
    int done = seed - firstSeed + 1;
    if (done == 1 || done == (runs + 1) / 2 || done == runs) printf("after run %d: %s\n", done, ProcessFigures().c_str());
    fflush(stdout);
  }
  printf("chaos: %d runs from seed %d, %d finished at stage 10, longest run %.1f s\n", runs, firstSeed, finished,
         longest);
  for (const auto& ending : endings) printf("  stage 17, %d x \"%s...\"\n", ending.second, WideToUtf8(ending.first).c_str());
  printf("%d passed, %d failed\n", runs - failed, failed);
  return failed == 0 ? 0 : 1;
}
