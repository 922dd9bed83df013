// Single transfers over libcurl's easy interface: a text into memory, a file onto disk, and
// a download job for the worker pool. A transfer succeeds only with libcurl code 0 and status
// 200 (HTTP) or 226 (FTP). Stalls are caught by the low-speed limit of file downloads and by a
// watchdog that aborts any transfer after a minute without a new byte.
//
// Resumable downloads (ResumeDownloads(), off unless the build turns it on): a file or job that
// knows its expected size continues a shorter file already on disk with "Range: bytes=N-", and
// continues a cut or stalled transfer the same way while attempts keep adding bytes. A 206 is
// then a success only when its Content-Range starts at N; a 200 restarts the file from zero with
// the same answer; a 416, a 206 from elsewhere or an answer by another protocol start over with
// a plain request.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class Logger;

// Byte counters of one transfer, handed to the watchdog.
struct TransferProgress {
  std::atomic<int64_t>* received = nullptr;      // the transfer's current byte count
  std::atomic<int64_t>* runningTotal = nullptr;  // the caller's running total, moved by each change
  uint32_t lastReceived = 0;
  int64_t lastChangeMs = 0;
  int64_t offset = 0;  // bytes already on disk before this transfer's body: part of what received shows
  int64_t seen = 0;    // the transfer's count when the counters last moved
};

// Outcome of one pool job: 0 while queued or running, n >= 1 after success in n attempts, -1
// after failure, -3 when the destination cannot be created.
struct DownloadStatus {
  std::atomic<int32_t> result{0};
  std::atomic<int64_t> received{0};
  // Set with a success when the file continues bytes of an earlier attempt or run: if it then
  // fails its check, it is fetched again from zero.
  std::atomic<bool> resumed{false};
};

struct DownloadJob {
  std::wstring destinationPath;
  std::string url;
  std::atomic<int64_t>* received = nullptr;
  std::atomic<int64_t>* runningTotal = nullptr;  // jobs keep no running total
  Logger* log = nullptr;
  int64_t expectedSize = -1;  // the file's size, when known: what makes it resumable
};

// URL -> status of the current download pass. Filled before the pass's jobs run and not
// changed while they run; each job writes only its own status.
extern std::map<std::string, DownloadStatus*> downloadResults;
// Guards the logger's last-failure codes written from the worker threads.
extern std::mutex resultMutex;
// Set when DownloadBinaryFile could not open its destination; cleared by its other failures.
extern std::atomic<bool> localFaultFlag;

// The time windows of transfers. The product always uses the defaults; tests may shorten them
// so that a stall is caught in seconds instead of minutes.
struct TransferTimings {
  int64_t stallMs = 60000;
  long textConnectSeconds = 5;
  long fileConnectSeconds = 10;
  long lowSpeedSeconds = 15;
  long retryLowSpeedSeconds = 30;
  long lowSpeedLimit = 10240;
};
const TransferTimings& CurrentTransferTimings();
void SetTransferTimingsForTesting(const TransferTimings& timings);

// Whether downloads of a known size resume (see above). The build option decides; tests, and
// the headless runner's --resume-downloads, may change it.
bool ResumeDownloads();
void SetResumeDownloadsForTesting(bool on);

int TransferWatchdog(void* progress, int64_t totalToReceive, int64_t receivedNow, int64_t totalToSend,
                     int64_t sentNow);
size_t AppendToText(char* data, size_t size, size_t count, void* text);
size_t WriteToFile(char* data, size_t size, size_t count, void* file);

bool GetRemoteTextFile(std::string url, std::string& text, Logger* log);
// expectedSize (when >= 1, with ResumeDownloads()) makes the download resumable; resumed then
// tells whether the file continues bytes of an earlier attempt or run.
bool DownloadBinaryFile(std::string url, std::wstring destinationPath, std::atomic<int64_t>* received,
                        std::atomic<int64_t>* runningTotal, Logger* log, int64_t expectedSize = -1,
                        bool* resumed = nullptr);
// Runs on a pool thread; the outcome goes to the job's status in downloadResults.
void RunDownloadJob(DownloadJob* job);
// libcurl's global set-up, done once for the process.
void EnsureCurlReady();
