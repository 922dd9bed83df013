// Transfers over libcurl's easy interface. One routine, Transfer(), runs them all: a text into
// memory, a file onto disk, and a download job of the worker pool; they differ only in the data
// of their request (time windows, retries, where the body goes) and in their log lines. A
// transfer succeeds only with libcurl code 0 and status 200 (HTTP) or 226 (FTP). Stalls are
// caught by the low-speed limits and by a watchdog that aborts any transfer after a minute
// without a new byte; no body may pass its request's size limit (CURLE_FILESIZE_EXCEEDED).
// Addresses may be http, https or ftp; redirects may lead to http or https only: a file:// or
// SMB address would read the player's disk or hand an SMB server the Windows log-on.
//
// Resumable downloads (a request's `resume`): a file or job that knows its expected size
// continues a shorter file already on disk with "Range: bytes=N-", and continues a cut or stalled
// transfer the same way while attempts keep adding bytes. A 206 is then a success only when its
// Content-Range starts at N; a 200 restarts the file from zero with the same answer; a 416, a 206
// from elsewhere or an answer by another protocol start over with a plain request.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

class Logger;

// The most a body may hold when its size is not known beforehand: configuration texts, lists and
// manifests. The file list of a game of 100 000 files is about 10 MiB.
constexpr int64_t kMaxTextBytes = int64_t(32) << 20;

// The time windows of transfers. The launcher always uses the defaults; tests and tools may pass
// shorter ones so that a stall is caught in seconds instead of minutes.
struct TransferTimings {
  int64_t stallMs = 60000;
  long textConnectSeconds = 5;
  long fileConnectSeconds = 10;
  long lowSpeedSeconds = 15;
  long retryLowSpeedSeconds = 30;
  long lowSpeedLimit = 10240;
  // A text slower than textLowSpeedLimit bytes a second for textLowSpeedSeconds, or not whole
  // after textTotalSeconds, fails: a server that trickles cannot hold the launcher.
  long textLowSpeedSeconds = 20;
  long textLowSpeedLimit = 64;
  long textTotalSeconds = 120;
};

// Attempts in a row that get no further before a transfer gives up: a resumable download's that
// add no byte to the file, and a job's restarts of answers that slowed to a crawl. A job starts
// such answers over at most kMaxRestarts times.
constexpr int kIdleAttemptsLimit = 3;
constexpr int kMaxRestarts = 8;

// A text fetch appends the body to a text and has its own low-speed window and a total time. A
// file download makes one attempt. A job starts an answered transfer that slowed to a crawl over
// with a longer window.
enum class TransferKind { Text, File, Job };

struct TransferRequest {
  TransferRequest() = default;
  TransferRequest(TransferKind kind, std::string url, std::wstring destination = {})
      : kind(kind), url(std::move(url)), destination(std::move(destination)) {}

  TransferKind kind = TransferKind::File;
  std::string url;
  std::string* text = nullptr;  // Text: the body is appended here (never cleared)
  std::wstring destination;     // File and Job: the body is written here
  TransferTimings timings;
  bool resume = false;          // with expectedSize >= 1: continue the bytes on disk
  int64_t expectedSize = -1;
  // The body may not pass this many bytes (a file's bytes on disk included): the transfer fails
  // instead, as any other failed transfer of that address. -1: expectedSize when known, else
  // kMaxTextBytes. No transfer is unbounded.
  int64_t maxBytes = -1;
  std::atomic<int64_t>* received = nullptr;      // the transfer's byte count, bytes on disk included
  std::atomic<int64_t>* runningTotal = nullptr;  // the caller's total, moved by every change
};

struct TransferResult {
  bool ok = false;
  int32_t attempts = 0;
  // The destination could not be opened or written: no other address can help.
  bool localFault = false;
  // With ok: the file continues bytes of an earlier attempt or run.
  bool resumed = false;
  // A failure of the transfer itself, whose codes the player is shown.
  bool hasCodes = false;
  int32_t curlCode = 0;
  int32_t httpStatus = 0;
};

// Runs the request to its end, retries included, and writes its lines to log (may be null).
// Never throws out of libcurl's callbacks; the standard library may throw out of it.
TransferResult Transfer(const TransferRequest& request, Logger* log);
// The text fetch and the file download: Transfer() with the kind filled in.
TransferResult GetRemoteTextFile(const std::string& url, std::string& text, const TransferTimings& timings, Logger* log);
TransferResult DownloadBinaryFile(TransferRequest request, Logger* log);

// Outcome of one pool job, written by the job and read by the pass that follows it: 0 while
// queued or running, n >= 1 after success in n attempts, -1 after failure, -3 when the
// destination cannot be created or written. The other fields are written before the result.
struct DownloadStatus {
  std::atomic<int32_t> result{0};
  std::atomic<int64_t> received{0};
  // Set with a success when the file continues bytes of an earlier attempt or run: if it then
  // fails its check, it is fetched again from zero.
  bool resumed = false;
  // With -1: the failure's codes, when the transfer itself failed.
  bool hasCodes = false;
  int32_t curlCode = 0;
  int32_t httpStatus = 0;
};

struct DownloadJob {
  TransferRequest request;  // kind Job; its `received` is the status's
  DownloadStatus* status = nullptr;
  Logger* log = nullptr;
};

// Runs on a pool thread; the outcome goes to the job's status. Nothing escapes it.
void RunDownloadJob(DownloadJob* job);

// Byte counters of one attempt, handed to the watchdog.
struct TransferProgress {
  std::atomic<int64_t>* received = nullptr;      // the transfer's current byte count
  std::atomic<int64_t>* runningTotal = nullptr;  // the caller's running total, moved by each change
  uint32_t lastReceived = 0;
  int64_t lastChangeMs = 0;
  int64_t stallMs = 60000;
  int64_t offset = 0;  // bytes already on disk before this transfer's body: part of what received shows
  int64_t seen = 0;    // the transfer's count when the counters last moved
};

int TransferWatchdog(void* progress, int64_t totalToReceive, int64_t receivedNow, int64_t totalToSend,
                     int64_t sentNow);
size_t AppendToText(char* data, size_t size, size_t count, void* text);
// libcurl's global set-up, done once for the process.
void EnsureCurlReady();
