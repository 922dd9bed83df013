// The launcher's update engine. One Patcher per process: the window creates it, runs Work()
// once on a thread of its own and follows it through the shared fields below, which the
// update thread (and the workers it starts) write while the window reads them every frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "build_config.h"
#include "net/http_transfer.h"
#include "support/logger.h"
#include "support/shared_text.h"
#include "update/config.h"
#include "update/release.h"
#include "update/stage.h"

class ThreadPool;
struct DownloadCounters;
struct UpdateRun;

// What the engine may be told besides its installation. The launcher passes nothing; the
// headless runner and the tests pass their own (shorter time windows, resume on, no workers).
struct EngineOptions {
  TransferTimings timings;
  bool resumeDownloads = VOREL_RESUME_DOWNLOADS != 0;
  int downloadWorkers = 2;
};

// How fetching one text from its candidate addresses ended.
enum class FetchEnd { Fetched, NotFetched, NotVouched };

class Patcher {
 public:
  explicit Patcher(EngineOptions options = {});
  Patcher(const Patcher&) = delete;
  Patcher& operator=(const Patcher&) = delete;

  // The update thread's body: one update process with the built-in base address.
  void Work();
  // Runs an update process so that no exception leaves the update thread (where it would end
  // the launcher without a word): one fails the run at stage 17, with the status line and a log line.
  void RunGuarded(const std::function<void()>& process);
  // True when the run finished (stage 10), false when it failed (stage 17). A launcher
  // self-update ends the process instead of returning.
  bool UpdateProcess(const std::string& baseUrl);

  // Each base followed by name, then each "$"-piece of extraBases followed by name.
  static std::vector<std::string> BuildCandidateUrls(const std::vector<std::string>& baseList, const std::string& name,
                                                     const std::string& extraBases);
  // With expectedSha256 (signed releases), a download whose SHA-256 differs is refused and the
  // next address is tried.
  FetchEnd DownloadFirstAvailable(const std::wstring& path, const std::vector<std::string>& urls,
                                  const std::string& expectedSha256 = "");
  // The text of the first address that answers alone: nothing a failed attempt received.
  FetchEnd FetchFirstAvailableText(const std::vector<std::string>& urls, const std::string& expectedSha256,
                                   std::string& text);
  void SetLocalServerConfigValue(const std::string& key, const std::string& value);

  // Transfers with this engine's time windows and resume setting, logged in its log. A failed
  // transfer's codes become the ones the player is shown.
  TransferRequest request(TransferKind kind, const std::string& url) const;
  bool fetchText(const std::string& url, std::string& text);
  TransferResult downloadFile(const TransferRequest& request);
  void noteFailure(const TransferResult& result);
  // " CURLCODE(c) HTTP STATUES CODE(s)" with the codes of the run's latest failed transfer.
  std::wstring codesSuffix() const;
  const EngineOptions& options() const { return options_; }

  // The installation directory: the executable's folder unless a runner or test chose one.
  std::wstring InstallDir() const;
  void SetInstallDir(const std::wstring& dir) { installDir_ = dir; }

  std::atomic<int32_t> stage{Starting};
  SharedText statusText;
  SharedText versionText;
  std::atomic<bool> inPackage{false};
  std::atomic<bool> enoughDiskSpace{true};
  std::atomic<bool> closeGameFirst{false};
  std::atomic<int32_t> filesDone{0};
  std::atomic<int32_t> filesTotal{0};
  std::atomic<int64_t> bytesDone{0};
  std::atomic<int64_t> bytesTotal{0};
  SharedText currentFileName;
  std::atomic<uint32_t> currentFileSize{0};
  std::atomic<int64_t> currentFileReceived{0};
  std::atomic<int64_t> currentFileTotal{0};
  std::atomic<ThreadPool*> threadPool{nullptr};
  Logger logger;
  // Run on the update thread just before a launcher self-update ends the process (the window
  // takes its notification icon away). Set before the update thread starts.
  std::function<void()> beforeProcessEnd;
  KeyedAlphabet alphabet;
  // Signed releases: the hex Ed25519 key releases must be signed with (the build's; empty takes
  // releases as they come), and the manifest accepted in this run.
  std::string releasePublicKey;
  ReleaseManifest release;
  // No record of an accepted release was found: installed files may predate signing, so they are
  // checked by SHA-256 too.
  bool releaseRecordMissing = false;
  bool signedReleases() const { return !releasePublicKey.empty(); }

 private:
  // The phases of a run, in their order. A phase that returns false has set stage 17 and the
  // status line.
  bool checkLauncher(UpdateRun& run);
  bool handOverToNewLauncher(UpdateRun& run);
  bool checkServer(UpdateRun& run);
  bool selectGameDirectory(UpdateRun& run);
  bool chooseUpdate(UpdateRun& run);
  bool zipUpdate(UpdateRun& run);
  bool incrementUpdate(UpdateRun& run);
  // After a zip update: the package becomes the game, unless the old tree cannot be deleted.
  void switchDirectories(UpdateRun& run);
  bool finish(UpdateRun& run);

  bool fail(const std::wstring& message);
  // A configuration or list that could not be taken: not fetched, or (signed) not the release's.
  bool failFetch(FetchEnd end);
  bool deleteOldGame(const UpdateRun& run);
  // Fails the run when a download pass left local faults or failed files.
  bool downloadsComplete(const DownloadCounters& counters);
  // Installed files are checked by SHA-256 too: signed, and no record of an accepted release.
  bool shaCheckInstalled() const { return signedReleases() && releaseRecordMissing; }
  // The SHA-256 the release manifest gives a text; empty without signed releases.
  std::string vouchedText(const std::string& name) const;

  EngineOptions options_;
  std::wstring installDir_;
  int32_t lastCurlCode_ = -1;
  int32_t lastHttpStatus_ = -1;
};
