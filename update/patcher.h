// The launcher's update engine. One Patcher per process: the window creates it, runs Work()
// once on a thread of its own and follows it through the shared fields below, which the
// update thread (and the workers it starts) write while the window reads them every frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/logger.h"
#include "support/shared_text.h"
#include "update/config.h"
#include "update/release.h"

class ThreadPool;

enum Stage : int32_t {
  Starting = 0,
  TransferDone = 1,
  Verifying = 6,
  DownloadingFiles = 7,
  DownloadingPackages = 8,
  Unpacking = 9,
  Finished = 10,
  SelfUpdateFailed = 15,
  Failed = 17,
};

class Patcher {
 public:
  Patcher();
  Patcher(const Patcher&) = delete;
  Patcher& operator=(const Patcher&) = delete;

  // The update thread's body: one update process with the built-in base address.
  void Work();
  // True when the run finished (stage 10), false when it failed (stage 17). A launcher
  // self-update ends the process instead of returning.
  bool UpdateProcess(const std::string& baseUrl);

  // Each base followed by name, then each "$"-piece of extraBases followed by name.
  static std::vector<std::string> BuildCandidateUrls(const std::vector<std::string>& baseList, const std::string& name,
                                                     const std::string& extraBases);
  // With expectedSha256 (signed releases), a download whose SHA-256 differs is refused and the
  // next address is tried.
  bool DownloadFirstAvailable(const std::wstring& path, const std::vector<std::string>& urls,
                              const std::string& expectedSha256 = "");
  std::string FetchFirstAvailableText(const std::vector<std::string>& urls, const std::string& expectedSha256 = "");
  void SetLocalServerConfigValue(const std::string& key, const std::string& value);

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
  // releases as they come), the manifest accepted in this run, and whether the last fetch of a
  // text refused a download for not matching it.
  std::string releasePublicKey;
  ReleaseManifest release;
  bool releaseRefused = false;
  bool signedReleases() const { return !releasePublicKey.empty(); }

 private:
  bool fail(const std::wstring& message);
  // A configuration or list that could not be taken: not fetched, or (signed) not the release's.
  bool failFetch();
  std::wstring codesSuffix() const;

  std::wstring installDir_;
};
