#include "net/http_transfer.h"

#include <curl/curl.h>

#include <climits>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <type_traits>

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
  explicit OutputFile(FILE* file) : file_(file) {
    // Writes reach the disk in 1 MiB pieces rather than stdio's 4 KiB ones.
    if (!file_) return;
    buffer_.reset(new (std::nothrow) char[kBufferBytes]);
    if (buffer_) setvbuf(file_, buffer_.get(), _IOFBF, kBufferBytes);
  }
  ~OutputFile() {
    if (file_) fclose(file_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  FILE* get() const { return file_; }
  bool close() {
    FILE* file = file_;
    file_ = nullptr;
    return file && fclose(file) == 0;
  }

 private:
  static constexpr size_t kBufferBytes = 1 << 20;
  FILE* file_;
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
  if (progress->received) progress->received->store(receivedNow);
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

bool DownloadBinaryFile(std::string url, std::wstring destinationPath, std::atomic<int64_t>* received,
                        std::atomic<int64_t>* runningTotal, Logger* log) {
  EnsureCurlReady();
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

void RunJobAttempts(DownloadJob* job, DownloadStatus* status) {
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
      if (job->log) job->log->error("Job " + where + " DownLoad Error! curl_easy_init failed");
      std::lock_guard<std::mutex> lock(resultMutex);
      NoHandle(job->log);
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
      // A full disk or a destination that refuses the bytes: no other address can help.
      if (job->log) job->log->error("Job " + where + " download failed! cannot write the file");
      setResult(-3);
      return;
    }
    if (Succeeded(code, httpStatus)) {
      setResult(retries + 1);
      if (job->log) job->log->info("Job " + where + " Download Success. RetryTime = " + std::to_string(retries));
      return;
    }
    if (code == CURLE_OPERATION_TIMEDOUT && (httpStatus == 200 || httpStatus == 226)) {
      // The server answered and then slowed to a crawl: start over with a longer window.
      if (retries < INT32_MAX) ++retries;
      RemoveFileCrt(job->destinationPath);
      if (job->received) job->received->store(0);
      continue;
    }
    if (job->log) {
      job->log->error("Job " + where + " download failed! ResultCode = " + std::to_string(code) +
                      " HttpStatus = " + std::to_string(httpStatus));
      std::lock_guard<std::mutex> lock(resultMutex);
      job->log->setLastFailure(code, httpStatus);
    }
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
