#include "net/http_transfer.h"

#include <curl/curl.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <type_traits>

#include "build_config.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/logger.h"

static_assert(std::is_same<curl_off_t, int64_t>::value, "the watchdog's signature must match libcurl's");

std::map<std::string, DownloadStatus*> downloadResults;
std::mutex resultMutex;
std::atomic<bool> localFaultFlag{false};

namespace {

TransferTimings timings;
std::atomic<bool> resumeDownloads{VOREL_RESUME_DOWNLOADS != 0};

bool Succeeded(CURLcode code, long status) { return code == CURLE_OK && (status == 200 || status == 226); }

// Options shared by every transfer; the caller adds its own time windows.
void SetCommonOptions(CURL* curl, const std::string& url, curl_write_callback write, void* writeData,
                      TransferProgress* progress) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  // A redirect loop would otherwise go round for ever: each answer resets the stall watchdog.
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 30L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, writeData);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TransferWatchdog);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, progress);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  // Receive in large pieces: with libcurl's 16 KiB default a fast download spends much of its
  // time in system calls.
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L << 10);
}

void SetLowSpeed(CURL* curl, long seconds) {
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, seconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, timings.lowSpeedLimit);
}

int32_t ResponseStatus(CURL* curl) {
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  return static_cast<int32_t>(status);
}

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

// A file being written: closed on every way out; close() tells whether every byte reached it.
class OutputFile {
 public:
  explicit OutputFile(FILE* file) { reset(file); }
  ~OutputFile() {
    if (file_) fclose(file_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  FILE* get() const { return file_; }
  // Closes the file (if any) and takes another in its place.
  void reset(FILE* file) {
    if (file_) fclose(file_);
    file_ = file;
    if (!file_) return;
    // Writes reach the disk in 1 MiB pieces rather than stdio's 4 KiB ones.
    if (!buffer_) buffer_.reset(new (std::nothrow) char[kBufferBytes]);
    if (buffer_) setvbuf(file_, buffer_.get(), _IOFBF, kBufferBytes);
  }
  bool close() {
    FILE* file = file_;
    file_ = nullptr;
    return file && fclose(file) == 0;
  }

 private:
  static constexpr size_t kBufferBytes = 1 << 20;
  FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // stdio's buffer: outlives the file, which the destructor closes
};

// No easy handle: the player's message must not show the codes of an older failure.
void NoHandle(Logger* log) {
  if (log) log->setLastFailure(CURLE_FAILED_INIT, 0);
}

TransferProgress StartProgress(std::atomic<int64_t>* received, std::atomic<int64_t>* runningTotal) {
  TransferProgress progress;
  progress.received = received;
  progress.runningTotal = runningTotal;
  progress.lastReceived = 0;
  progress.lastChangeMs = WallClockMs();
  return progress;
}

}  // namespace

const TransferTimings& CurrentTransferTimings() { return timings; }
void SetTransferTimingsForTesting(const TransferTimings& value) { timings = value; }
bool ResumeDownloads() { return resumeDownloads; }
void SetResumeDownloadsForTesting(bool on) { resumeDownloads = on; }

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

int TransferWatchdog(void* data, int64_t, int64_t receivedNow, int64_t, int64_t) {
  auto* progress = static_cast<TransferProgress*>(data);
  int64_t now = WallClockMs();
  auto delta = static_cast<int32_t>(static_cast<uint32_t>(receivedNow) - progress->lastReceived);
  if (delta > 0) progress->lastChangeMs = now;
  if (now - progress->lastChangeMs > timings.stallMs) return 1;
  progress->lastReceived = static_cast<uint32_t>(receivedNow);
  progress->seen = receivedNow;
  if (progress->received) progress->received->store(progress->offset + receivedNow);
  if (progress->runningTotal) progress->runningTotal->fetch_add(delta);
  return 0;
}

size_t AppendToText(char* data, size_t size, size_t count, void* text) {
  // No exception may unwind through libcurl's C frames: a failed append ends the transfer
  // with a write error instead.
  try {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
  } catch (...) {
    return 0;
  }
}

size_t WriteToFile(char* data, size_t size, size_t count, void* file) {
  return fwrite(data, size, count, static_cast<FILE*>(file));
}

bool GetRemoteTextFile(std::string url, std::string& text, Logger* log) {
  EnsureCurlReady();
  CurlHandle curl(curl_easy_init());
  if (!curl) {
    NoHandle(log);
    return false;
  }
  TransferProgress progress = StartProgress(nullptr, nullptr);
  SetCommonOptions(curl.get(), url, &AppendToText, &text, &progress);
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, timings.textConnectSeconds);
  CURLcode code = curl_easy_perform(curl.get());
  int32_t status = ResponseStatus(curl.get());
  if (Succeeded(code, status)) return true;
  if (log) {
    log->error("Get Remote TextFile Failed! CURL CODE = " + std::to_string(code) +
               " HttpStatusCode = " + std::to_string(status));
    log->setLastFailure(code, status);
  }
  return false;
}

namespace {

// Attempts in a row that add no byte to the file before a resumable download gives up.
constexpr int kIdleAttemptsLimit = 3;

bool StartsWithNoCase(const char* data, size_t size, const char* prefix) {
  size_t length = strlen(prefix);
  if (size < length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(data[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

bool IsHttpUrl(const std::string& url) {
  return StartsWithNoCase(url.data(), url.size(), "http://") || StartsWithNoCase(url.data(), url.size(), "https://");
}

bool IsHttpScheme(const char* scheme) {
  if (!scheme) return false;
  size_t length = strlen(scheme);
  return (length == 4 && StartsWithNoCase(scheme, length, "http")) ||
         (length == 5 && StartsWithNoCase(scheme, length, "https"));
}

// "bytes N-M/T" -> N; -1 for anything else ("bytes */T" included).
int64_t RangeStart(const char* text, size_t size) {
  size_t at = 0;
  while (at < size && (text[at] == ' ' || text[at] == '\t')) ++at;
  if (!StartsWithNoCase(text + at, size - at, "bytes")) return -1;
  at += 5;
  while (at < size && (text[at] == ' ' || text[at] == '\t')) ++at;
  int64_t value = 0;
  size_t digits = 0;
  for (; at < size && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
    if (value > (INT64_MAX - 9) / 10) return -1;
    value = value * 10 + (text[at] - '0');
  }
  return digits > 0 && at < size && text[at] == '-' ? value : -1;
}

// What one attempt of a resumable download does with the answer's body, decided at its first
// byte (or after an answer without one), once the status and headers are known.
class RangeAnswer {
 public:
  enum Kind { kUndecided, kWrite, kDiscard, kStartOver };

  RangeAnswer(CURL* curl, OutputFile* file, const std::wstring& path, int64_t offset, TransferProgress* progress)
      : curl_(curl), file_(file), path_(path), progress_(progress), offset(offset) {}

  void decide() {
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    char* scheme = nullptr;
    curl_easy_getinfo(curl_, CURLINFO_SCHEME, &scheme);
    const bool http = IsHttpScheme(scheme);
    if (offset == 0) {
      // An error page must not become the start of the file that a later attempt continues.
      kind = status == 200 || status == 226 ? kWrite : kDiscard;
    } else if (http && status == 206 && rangeStart == offset) {
      kind = kWrite;
    } else if (http && status == 200) {
      // The server ignored the range: its answer is the whole file, written from zero.
      kind = kWrite;
      file_->reset(OpenFile(path_, L"wb"));
      if (progress_->runningTotal) progress_->runningTotal->fetch_sub(offset);
      progress_->offset = offset = 0;
      if (progress_->received) progress_->received->store(progress_->seen);
    } else if (status != 0 && (status == 416 || status == 206 || !http)) {
      // Nothing that continues these bytes: a plain request follows.
      kind = kStartOver;
    } else {
      kind = kDiscard;  // an error status: the bytes on disk stay for a later attempt
    }
  }

  static size_t Write(char* data, size_t size, size_t count, void* self) {
    auto* answer = static_cast<RangeAnswer*>(self);
    // No exception may unwind through libcurl's C frames.
    try {
      if (answer->kind == kUndecided) answer->decide();
    } catch (...) {
      return 0;
    }
    if (answer->kind == kDiscard) return size * count;
    if (answer->kind == kStartOver || !answer->file_->get()) return 0;
    size_t done = fwrite(data, size, count, answer->file_->get());
    answer->written += static_cast<int64_t>(done * size);
    return done;
  }

  static size_t Header(char* data, size_t size, size_t count, void* self) {
    auto* answer = static_cast<RangeAnswer*>(self);
    const size_t length = size * count;
    static const char kContentRange[] = "content-range:";
    if (StartsWithNoCase(data, length, "HTTP/")) {
      answer->rangeStart = -1;  // a new response: a redirect's headers do not count
    } else if (StartsWithNoCase(data, length, kContentRange)) {
      answer->rangeStart = RangeStart(data + sizeof kContentRange - 1, length - (sizeof kContentRange - 1));
    }
    return length;
  }

 private:
  CURL* curl_;
  OutputFile* file_;
  const std::wstring& path_;
  TransferProgress* progress_;

 public:
  Kind kind = kUndecided;
  int64_t offset;           // where the body goes in the file: the range's start, 0 after a restart
  int64_t written = 0;      // body bytes written
  int64_t rangeStart = -1;  // the start in the last response's Content-Range
};

// A download of known size that continues the bytes on disk, one attempt at a time.
class ResumableDownload {
 public:
  enum Step { kDone, kAgain, kFailed, kNoHandle, kCannotOpen, kCannotWrite };

  ResumableDownload(const std::string& url, const std::wstring& path, int64_t expected,
                    std::atomic<int64_t>* received, std::atomic<int64_t>* runningTotal)
      : url_(url), path_(path), expected_(expected), received_(received), runningTotal_(runningTotal) {}

  Step attempt(long lowSpeedSeconds) {
    CurlHandle curl(curl_easy_init());
    if (!curl) return kNoHandle;
    // Bytes on disk are continued when they can be the start of the file (and only over HTTP).
    int64_t offset = 0;
    OutputFile file(fromZero_ || !IsHttpUrl(url_) ? nullptr : OpenFile(path_, L"rb+"));
    if (file.get()) {
      offset = SeekFile(file.get(), 0, SEEK_END) ? TellFile(file.get()) : 0;
      if (offset <= 0 || offset >= expected_) {
        offset = 0;
        file.reset(nullptr);
      }
    }
    if (!file.get()) file.reset(OpenFile(path_, L"wb"));
    if (!file.get()) return kCannotOpen;
    if (first_) best_ = offset;
    first_ = fromZero_ = false;
    if (offset == 0) resumed_ = false;

    // The progress counts the bytes on disk as done.
    TransferProgress progress = StartProgress(received_, runningTotal_);
    progress.offset = offset;
    if (received_) received_->store(offset);
    if (runningTotal_) runningTotal_->fetch_add(offset - counted_);
    RangeAnswer answer(curl.get(), &file, path_, offset, &progress);
    SetCommonOptions(curl.get(), url_, &RangeAnswer::Write, &answer, &progress);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, &RangeAnswer::Header);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &answer);
    // A range of our own rather than CURLOPT_RESUME_FROM_LARGE: a server that ignores it (200)
    // then still delivers the file instead of failing the attempt.
    const std::string range = std::to_string(offset) + "-";
    if (offset > 0) curl_easy_setopt(curl.get(), CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, timings.fileConnectSeconds);
    SetLowSpeed(curl.get(), lowSpeedSeconds);
    code_ = curl_easy_perform(curl.get());
    status_ = ResponseStatus(curl.get());
    if (answer.kind == RangeAnswer::kUndecided) answer.decide();  // an answer without a body
    curl.reset();
    counted_ = progress.offset + progress.seen;

    completed_ = code_ == CURLE_OK && answer.kind == RangeAnswer::kWrite;
    if (!file.close() || (code_ == CURLE_WRITE_ERROR && answer.kind != RangeAnswer::kStartOver)) return kCannotWrite;
    if (answer.kind == RangeAnswer::kWrite) resumed_ = answer.offset > 0;
    if (completed_) return kDone;
    const int64_t length = answer.kind == RangeAnswer::kWrite ? answer.offset + answer.written : offset;
    if (answer.kind == RangeAnswer::kStartOver) {
      fromZero_ = true;
    } else if (answer.kind != RangeAnswer::kWrite || length >= expected_) {
      return kFailed;  // no answer, an error status, or more bytes than the file has
    }
    // Cut or stalled (or to start over): again, as long as attempts keep adding bytes.
    if (length > best_) {
      best_ = length;
      idle_ = 0;
      return kAgain;
    }
    return ++idle_ < kIdleAttemptsLimit ? kAgain : kFailed;
  }

  CURLcode code() const { return code_; }
  int32_t status() const { return status_; }
  // The last attempt's transfer itself went well (only the file may have failed).
  bool completed() const { return completed_; }
  // The file continues bytes of an earlier attempt or run.
  bool resumed() const { return resumed_; }

 private:
  const std::string& url_;
  const std::wstring& path_;
  const int64_t expected_;
  std::atomic<int64_t>* received_;
  std::atomic<int64_t>* runningTotal_;
  bool first_ = true;
  bool fromZero_ = false;
  bool resumed_ = false;
  bool completed_ = false;
  int64_t best_ = 0;     // the longest the file has been: attempts must pass it to count as progress
  int idle_ = 0;         // attempts in a row that did not
  int64_t counted_ = 0;  // this file's bytes in the running total
  CURLcode code_ = CURLE_OK;
  int32_t status_ = 0;
};

bool DownloadResumable(const std::string& url, const std::wstring& path, std::atomic<int64_t>* received,
                       std::atomic<int64_t>* runningTotal, Logger* log, int64_t expectedSize, bool* resumed) {
  CreateDirectories(path);
  ResumableDownload download(url, path, expectedSize, received, runningTotal);
  ResumableDownload::Step step;
  while ((step = download.attempt(timings.lowSpeedSeconds)) == ResumableDownload::kAgain) {
  }
  switch (step) {
    case ResumableDownload::kDone:
      if (resumed) *resumed = download.resumed();
      return true;
    case ResumableDownload::kNoHandle:
      NoHandle(log);
      localFaultFlag = false;
      return false;
    case ResumableDownload::kCannotOpen:
      localFaultFlag = true;
      return false;
    default:
      break;
  }
  // The lines and codes of a download that is not resumable.
  if (log) {
    if (download.completed()) {
      log->error("Download Binary file failed! url = " + url + "    cannot write " + WideToAnsi(path));
    } else {
      log->error("Download Binary file failed! url = " + url + "    CURL CODE = " + std::to_string(download.code()) +
                 " HttpStatusCode = " + std::to_string(download.status()));
      log->setLastFailure(download.code(), download.status());
    }
  }
  localFaultFlag = step == ResumableDownload::kCannotWrite;
  return false;
}

}  // namespace

bool DownloadBinaryFile(std::string url, std::wstring destinationPath, std::atomic<int64_t>* received,
                        std::atomic<int64_t>* runningTotal, Logger* log, int64_t expectedSize, bool* resumed) {
  if (resumed) *resumed = false;
  EnsureCurlReady();
  if (ResumeDownloads() && expectedSize > 0) {
    return DownloadResumable(url, destinationPath, received, runningTotal, log, expectedSize, resumed);
  }
  CurlHandle curl(curl_easy_init());
  if (!curl) {
    NoHandle(log);
    localFaultFlag = false;
    return false;
  }
  CreateDirectories(destinationPath);
  OutputFile file(OpenFile(destinationPath, L"wb"));
  if (!file.get()) {
    localFaultFlag = true;
    return false;
  }
  TransferProgress progress = StartProgress(received, runningTotal);
  SetCommonOptions(curl.get(), url, &WriteToFile, file.get(), &progress);
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, timings.fileConnectSeconds);
  SetLowSpeed(curl.get(), timings.lowSpeedSeconds);
  CURLcode code = curl_easy_perform(curl.get());
  int32_t status = ResponseStatus(curl.get());
  // The last buffered bytes reach the disk only when the file is closed: a full disk shows here.
  bool written = file.close() && code != CURLE_WRITE_ERROR;
  if (Succeeded(code, status) && written) return true;
  // What arrived (part of the file, an error page) stays on disk.
  if (log) {
    if (Succeeded(code, status)) {
      log->error("Download Binary file failed! url = " + url + "    cannot write " + WideToAnsi(destinationPath));
    } else {
      log->error("Download Binary file failed! url = " + url + "    CURL CODE = " + std::to_string(code) +
                 " HttpStatusCode = " + std::to_string(status));
      log->setLastFailure(code, status);
    }
  }
  // A destination that cannot take the bytes is a local fault, like one that cannot be opened.
  localFaultFlag = !written;
  return false;
}

namespace {

void LogJobSuccess(DownloadJob* job, const std::string& where, int32_t retries) {
  if (job->log) job->log->info("Job " + where + " Download Success. RetryTime = " + std::to_string(retries));
}

void LogJobFailure(DownloadJob* job, const std::string& where, CURLcode code, int32_t httpStatus) {
  if (!job->log) return;
  job->log->error("Job " + where + " download failed! ResultCode = " + std::to_string(code) +
                  " HttpStatus = " + std::to_string(httpStatus));
  std::lock_guard<std::mutex> lock(resultMutex);
  job->log->setLastFailure(code, httpStatus);
}

void LogNoHandle(DownloadJob* job, const std::string& where) {
  if (job->log) job->log->error("Job " + where + " DownLoad Error! curl_easy_init failed");
  std::lock_guard<std::mutex> lock(resultMutex);
  NoHandle(job->log);
}

void LogCannotWrite(DownloadJob* job, const std::string& where) {
  // A full disk or a destination that refuses the bytes: no other address can help.
  if (job->log) job->log->error("Job " + where + " download failed! cannot write the file");
}

// A job of known size: a cut or stalled attempt is continued, not started over.
void RunResumableJob(DownloadJob* job, DownloadStatus* status) {
  auto setResult = [status](int32_t result) {
    if (status) status->result = result;
  };
  const std::string where = WideToAnsi(job->destinationPath);
  CreateDirectories(job->destinationPath);
  ResumableDownload download(job->url, job->destinationPath, job->expectedSize, job->received, nullptr);
  int32_t retries = 0;
  for (;;) {
    switch (download.attempt(retries == 0 ? timings.lowSpeedSeconds : timings.retryLowSpeedSeconds)) {
      case ResumableDownload::kAgain:
        if (retries < INT32_MAX) ++retries;
        continue;
      case ResumableDownload::kDone:
        if (status) status->resumed = download.resumed();
        setResult(retries + 1);
        LogJobSuccess(job, where, retries);
        return;
      case ResumableDownload::kNoHandle:
        LogNoHandle(job, where);
        setResult(-1);
        return;
      case ResumableDownload::kCannotOpen:
        setResult(-3);
        return;
      case ResumableDownload::kCannotWrite:
        LogCannotWrite(job, where);
        setResult(-3);
        return;
      case ResumableDownload::kFailed:
        LogJobFailure(job, where, download.code(), download.status());
        setResult(-1);
        return;
    }
  }
}

void RunJobAttempts(DownloadJob* job, DownloadStatus* status) {
  if (ResumeDownloads() && job->expectedSize > 0) {
    RunResumableJob(job, status);
    return;
  }
  auto setResult = [status](int32_t result) {
    if (status) status->result = result;
  };
  const std::string where = WideToAnsi(job->destinationPath);
  CreateDirectories(job->destinationPath);
  int32_t retries = 0;
  for (;;) {
    CurlHandle curl(curl_easy_init());
    if (!curl) {
      // Without a handle no attempt can ever be made; retrying would spin for ever.
      LogNoHandle(job, where);
      setResult(-1);
      return;
    }
    OutputFile file(OpenFile(job->destinationPath, L"wb+"));
    if (!file.get()) {
      setResult(-3);
      return;
    }
    TransferProgress progress = StartProgress(job->received, nullptr);
    SetCommonOptions(curl.get(), job->url, &WriteToFile, file.get(), &progress);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, timings.fileConnectSeconds);
    SetLowSpeed(curl.get(), retries == 0 ? timings.lowSpeedSeconds : timings.retryLowSpeedSeconds);
    CURLcode code = curl_easy_perform(curl.get());
    int32_t httpStatus = ResponseStatus(curl.get());
    curl.reset();
    bool written = file.close() && code != CURLE_WRITE_ERROR;
    if (!written) {
      LogCannotWrite(job, where);
      setResult(-3);
      return;
    }
    if (Succeeded(code, httpStatus)) {
      setResult(retries + 1);
      LogJobSuccess(job, where, retries);
      return;
    }
    if (code == CURLE_OPERATION_TIMEDOUT && (httpStatus == 200 || httpStatus == 226)) {
      // The server answered and then slowed to a crawl: start over with a longer window.
      if (retries < INT32_MAX) ++retries;
      RemoveFileCrt(job->destinationPath);
      if (job->received) job->received->store(0);
      continue;
    }
    LogJobFailure(job, where, code, httpStatus);
    setResult(-1);
    return;
  }
}

}  // namespace

void RunDownloadJob(DownloadJob* job) {
  DownloadStatus* status = nullptr;
  // Nothing may leave a worker thread: an escaping exception would end the whole process.
  try {
    EnsureCurlReady();
    auto found = downloadResults.find(job->url);
    if (found != downloadResults.end()) status = found->second;
    RunJobAttempts(job, status);
  } catch (const std::exception& e) {
    if (status) status->result = -1;
    if (job->log) job->log->error("Job " + WideToAnsi(job->destinationPath) + " DownLoad Error! " + e.what());
  } catch (...) {
    if (status) status->result = -1;
  }
}
