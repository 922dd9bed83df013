// Transfers over libcurl's easy interface. One routine, Transfer(), runs them all: a text into
// memory, a file onto disk, and a download job of the worker pool; they differ only in the data
// of their request (time windows, retries, where the body goes) and in their log lines. A
// transfer succeeds only with libcurl code 0 and status 200 (HTTP) or 226 (FTP). Stalls are
// caught by the low-speed limits and by a watchdog that aborts any transfer after a minute
// without a new byte; a text also has a total time.
//
// Nothing an update server sends is taken without bound. A body never passes its cap (the
// listed size of a file, or maxBytes for anything unlisted): the bytes up to the cap are kept
// and the transfer fails with CURLE_FILESIZE_EXCEEDED, a failure of that address, not a local
// fault. An error page may be longer than a small file's cap, but only what fits is written
// and it ends at kMaxPageBytes. Only HTTP, HTTPS and FTP are spoken, and redirects stay on
// HTTP(S). An answered job that stalls starts over only while its attempts get further.
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

// The time windows of transfers. The launcher always uses the defaults; tests and tools may pass
// shorter ones so that a stall is caught in seconds instead of minutes.
struct TransferTimings {
  int64_t stallMs = 60000;
  long textConnectSeconds = 5;
  long fileConnectSeconds = 10;
  long lowSpeedSeconds = 15;
  long retryLowSpeedSeconds = 30;
  long lowSpeedLimit = 10240;
  // Texts (configurations, lists, the release manifest). A player's line that drops below
  // 512 B/s for a minute and a half cannot fetch a list of several MiB anyway, while a server
  // that trickles a few bytes at a time is cut off; the window is longer than the watchdog's
  // minute so that plain silence still ends on the watchdog. The total lets the largest list
  // (several MiB for a big game) arrive over a 256 kbit/s line, and bounds an answer that
  // keeps just above the limit.
  long textLowSpeedSeconds = 90;
  long textLowSpeedLimit = 512;
  long textTotalSeconds = 300;
};

// The cap of a body whose size no list gives: texts and the configuration files. A list line
// is about a hundred bytes with its SHA-256, so the cap holds over half a million files, far
// more than a game has (a big one lists some 100,000 in about 10 MiB), while the memory a
// hostile answer can take stays bounded.
constexpr int64_t kMaxUnlistedBytes = int64_t{64} << 20;
// The most an answer that is not the requested body (an error page) may send, and the least
// libcurl's up-front Content-Length check is set to: a redirect's page of a few hundred bytes
// must not fail the download of a smaller file.
constexpr int64_t kMaxPageBytes = int64_t{1} << 20;

// A text fetch appends the body to a text, with a low-speed window and a total time of its own.
// A file download makes one attempt. A job starts an answered transfer that slowed to a crawl
// over with a longer window, as long as the attempts get further.
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
  // The file's listed size: when known (>= 0), no attempt writes past it.
  int64_t expectedSize = -1;
  // The cap of a body when expectedSize is unknown; negative: none.
  int64_t maxBytes = kMaxUnlistedBytes;
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
