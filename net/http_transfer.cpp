#include "net/http_transfer.h"

#include <curl/curl.h>

#include <climits>
#include <cstdio>
#include <exception>
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
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, writeData);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TransferWatchdog);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, progress);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
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
  static_cast<std::string*>(text)->append(data, size * count);
  return size * count;
}

size_t WriteToFile(char* data, size_t size, size_t count, void* file) {
  return fwrite(data, size, count, static_cast<FILE*>(file));
}

bool GetRemoteTextFile(std::string url, std::string& text, Logger* log) {
  EnsureCurlReady();
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  TransferProgress progress = StartProgress(nullptr, nullptr);
  SetCommonOptions(curl, url, &AppendToText, &text, &progress);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timings.textConnectSeconds);
  CURLcode code = curl_easy_perform(curl);
  int32_t status = ResponseStatus(curl);
  curl_easy_cleanup(curl);
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
  CURL* curl = curl_easy_init();
  if (!curl) {
    localFaultFlag = false;
    return false;
  }
  CreateDirectories(destinationPath);
  FILE* file = OpenFile(destinationPath, L"wb");
  if (!file) {
    curl_easy_cleanup(curl);
    localFaultFlag = true;
    return false;
  }
  TransferProgress progress = StartProgress(received, runningTotal);
  SetCommonOptions(curl, url, &WriteToFile, file, &progress);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timings.fileConnectSeconds);
  SetLowSpeed(curl, timings.lowSpeedSeconds);
  CURLcode code = curl_easy_perform(curl);
  int32_t status = ResponseStatus(curl);
  fclose(file);
  curl_easy_cleanup(curl);
  if (Succeeded(code, status)) return true;
  // What arrived (part of the file, an error page) stays on disk.
  if (log) {
    log->error("Download Binary file failed! url = " + url + "    CURL CODE = " + std::to_string(code) +
               " HttpStatusCode = " + std::to_string(status));
    log->setLastFailure(code, status);
  }
  localFaultFlag = false;
  return false;
}

void RunDownloadJob(DownloadJob* job) {
  EnsureCurlReady();
  auto found = downloadResults.find(job->url);
  DownloadStatus* status = found == downloadResults.end() ? nullptr : found->second;
  auto setResult = [status](int32_t result) {
    if (status) status->result = result;
  };
  const std::string where = WideToAnsi(job->destinationPath);
  CreateDirectories(job->destinationPath);
  int32_t retries = 0;
  FILE* file = nullptr;
  try {
    for (;;) {
      CURL* curl = curl_easy_init();
      if (!curl) {
        // Without a handle no attempt can ever be made; retrying would spin for ever.
        if (job->log) job->log->error("Job " + where + " DownLoad Error! curl_easy_init failed");
        setResult(-1);
        return;
      }
      file = OpenFile(job->destinationPath, L"wb+");
      if (!file) {
        setResult(-3);
        curl_easy_cleanup(curl);
        return;
      }
      TransferProgress progress = StartProgress(job->received, nullptr);
      SetCommonOptions(curl, job->url, &WriteToFile, file, &progress);
      curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timings.fileConnectSeconds);
      SetLowSpeed(curl, retries == 0 ? timings.lowSpeedSeconds : timings.retryLowSpeedSeconds);
      CURLcode code = curl_easy_perform(curl);
      int32_t httpStatus = ResponseStatus(curl);
      if (Succeeded(code, httpStatus)) {
        fclose(file);
        file = nullptr;
        setResult(retries + 1);
        curl_easy_cleanup(curl);
        if (job->log) job->log->info("Job " + where + " Download Success. RetryTime = " + std::to_string(retries));
        return;
      }
      if (code == CURLE_OPERATION_TIMEDOUT && (httpStatus == 200 || httpStatus == 226)) {
        // The server answered and then slowed to a crawl: start over with a longer window.
        if (retries < INT32_MAX) ++retries;
        curl_easy_cleanup(curl);
        fclose(file);
        file = nullptr;
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
      curl_easy_cleanup(curl);
      fclose(file);
      file = nullptr;
      return;
    }
  } catch (const std::exception& e) {
    if (job->log) job->log->error("Job " + where + " DownLoad Error! " + e.what());
    setResult(-1);
    if (file) fclose(file);
  }
}
