#include "update/download_passes.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/names.h"
#include "net/http_transfer.h"
#include "net/thread_pool.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/text_util.h"
#include "ui/texts.h"
#include "update/patcher.h"
#include "update/verify.h"

namespace {

const std::wstring kLocalFault = L"Local Fault";
const std::wstring kUnsuccessful = L"downloading unsuccessful";

// A failure recorded in an earlier pass is taken back before the entry is tried again.
template <typename Entry>
void ClearEarlierFailure(Entry& entry, const std::wstring& destination, DownloadCounters& counters) {
  if (!entry.failed) return;
  if (FileExists(destination)) RemoveFileCrt(destination);
  if (entry.message == kLocalFault) --counters.localFaults;
  if (counters.failedFiles > 0) --counters.failedFiles;
  entry.failed = false;
  entry.message.clear();
}

// A failure that a pass has already counted (a list line that could not be read is marked failed
// too, but no pass counted it).
template <typename Entry>
bool CountedFailure(const Entry& entry) {
  return entry.failed && (entry.message == kUnsuccessful || entry.message == kLocalFault);
}

void RunJob(void* job) { RunDownloadJob(static_cast<DownloadJob*>(job)); }

}  // namespace

DownloadCounters DownloadZipFiles(Patcher& patcher, const std::wstring& installDir,
                                  const std::vector<std::string>& baseUrls, std::vector<ZipListEntry>& entries,
                                  int32_t filesToDownload, uint64_t bytesToDownload) {
  DownloadCounters counters;
  const std::wstring zipDir = ZipDownloadDir(installDir);
  CreateDirectories(zipDir);
  patcher.filesDone = 0;
  patcher.filesTotal = filesToDownload;
  patcher.bytesDone = 0;
  patcher.bytesTotal = static_cast<int64_t>(bytesToDownload);

  for (size_t k = 0; k < baseUrls.size(); ++k) {
    if (patcher.filesDone >= patcher.filesTotal) break;
    patcher.bytesTotal = 0;
    downloadResults.clear();
    std::vector<std::unique_ptr<DownloadJob>> jobs;
    for (auto& entry : entries) {
      if (entry.status) {
        if (entry.status->result == -3) entry.message = kLocalFault;
        entry.status.reset();
      }
      patcher.currentFileSize = static_cast<uint32_t>(entry.size);
      patcher.currentFileName = AnsiToWide(entry.name);
      // Packages are written and verified under their path; the name only forms the address.
      std::wstring destination = zipDir + L"\\" + AnsiToWide(entry.path);
      if (!entry.needsDownload) continue;
      // A list line that could not be read names no file: nothing to fetch, and it ends the
      // passes as a failed download rather than as an unwritable folder.
      if (entry.path.empty()) continue;
      patcher.bytesTotal += entry.size;
      ClearEarlierFailure(entry, destination, counters);
      // Blanks are encoded as in the file list's addresses: libcurl refuses a URL that holds one.
      std::string url = ReplaceAll(baseUrls[k] + ReplaceAll(entry.name, "\\", "/"), " ", "%20");
      entry.status = std::make_shared<DownloadStatus>();
      downloadResults[url] = entry.status.get();
      auto job = std::make_unique<DownloadJob>();
      job->destinationPath = destination;
      job->url = url;
      job->received = &entry.status->received;
      job->log = &patcher.logger;
      jobs.push_back(std::move(job));
    }
    patcher.statusText = L"";
    patcher.stage = DownloadingPackages;
    EnsureCurlReady();

    auto pool = std::make_unique<ThreadPool>(2);
    patcher.threadPool = pool.get();
    if (pool->startedThreads() == 0 && !jobs.empty()) {
      // Without a worker nothing would ever finish: fetch this pass on the update thread.
      patcher.logger.error("Download threads could not be started, downloading on the update thread");
      for (auto& job : jobs) RunDownloadJob(job.get());
    } else {
      for (auto& job : jobs) pool->addTask(&RunJob, job.get());
    }

    int64_t lastSum = 0;
    for (;;) {
      int64_t sum = 0;
      size_t succeeded = 0, failed = 0;
      for (auto& result : downloadResults) {
        sum += result.second->received;
        int32_t value = result.second->result;
        if (value >= 1) ++succeeded;
        else if (value == -1 || value == -3) ++failed;
      }
      if (sum != 0) lastSum = sum;
      patcher.bytesDone = lastSum;
      if (succeeded + failed == downloadResults.size()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    fputs("finish all task =====================>\n", stdout);
    fflush(stdout);
    patcher.stage = TransferDone;
    pool->destroy();
    patcher.threadPool = nullptr;
    pool.reset();
    patcher.statusText = texts::FindingPackages;

    for (auto& entry : entries) {
      if (!entry.status) continue;
      std::wstring local = zipDir + L"\\" + AnsiToWide(entry.path);
      if (entry.status->result >= 1) {
        uint64_t measured = 0;
        std::string crc = FileCrc(local, &measured);
        if (crc == entry.crc) {
          entry.needsDownload = false;
          ++patcher.filesDone;
          continue;
        }
        bool exists = FileExists(local);
        patcher.bytesDone -= exists ? static_cast<int64_t>(measured) : entry.size;
        entry.status->result = -1;
        RemoveFileCrt(local);
        patcher.logger.error("Zip File CRC Check Error! FileName = " + entry.name + " CRC = " + crc);
      }
      if (entry.status->result == -1) {
        entry.failed = true;
        entry.message = kUnsuccessful;
        ++counters.failedFiles;
      }
      // -3: the entry keeps needsDownload and is marked "Local Fault" when the next pass begins.
    }
    downloadResults.clear();
  }
  // What is still missing decides the outcome: a package that could not be written in one pass
  // but arrived in a later one is no fault, and one that no pass fetched (no address left to
  // try) is a failure, never a success.
  for (auto& entry : entries) {
    if (!entry.needsDownload || CountedFailure(entry)) continue;
    entry.failed = true;
    if (entry.status && entry.status->result == -3) {
      entry.message = kLocalFault;
      ++counters.localFaults;
    } else {
      entry.message = kUnsuccessful;
      ++counters.failedFiles;
    }
  }
  return counters;
}

DownloadCounters DownloadIncrementFiles(Patcher& patcher, const std::wstring& targetDir,
                                        const std::vector<std::string>& baseUrls,
                                        std::vector<FileListEntry>& entries, int32_t filesToDownload,
                                        uint64_t bytesToDownload) {
  DownloadCounters counters;
  patcher.filesDone = 0;
  patcher.filesTotal = filesToDownload;
  patcher.bytesDone = 0;
  patcher.bytesTotal = static_cast<int64_t>(bytesToDownload);
  patcher.statusText = L"";
  patcher.stage = DownloadingFiles;

  std::vector<bool> verified(entries.size(), false);
  for (size_t k = 0; k < baseUrls.size(); ++k) {
    if (patcher.filesDone == patcher.filesTotal) break;
    // Every pass counts the verified files and their bytes afresh.
    patcher.filesDone = 0;
    patcher.bytesDone = 0;
    verified.assign(entries.size(), false);
    for (size_t i = 0; i < entries.size(); ++i) {
      auto& entry = entries[i];
      patcher.currentFileSize = entry.size;
      patcher.currentFileName = AnsiToWide(entry.name);
      if (entry.path.empty()) continue;  // a list line that could not be read, as above
      std::wstring destination = targetDir + L"\\" + AnsiToWide(entry.path);
      ClearEarlierFailure(entry, destination, counters);
      if (!entry.needsDownload) continue;
      if (FileExists(destination)) {
        if (FileCrc(destination) == entry.crc) {
          ++patcher.filesDone;
          patcher.bytesDone += entry.size;
          verified[i] = true;
          continue;
        }
        RemoveFileCrt(destination);
      }
      std::string url = ReplaceAll(baseUrls[k] + ReplaceAll(entry.path, "\\", "/"), " ", "%20");
      bool downloaded = DownloadBinaryFile(url, destination, &patcher.currentFileReceived, &patcher.bytesDone,
                                           &patcher.logger);
      if (downloaded) {
        uint64_t measured = 0;
        if (FileCrc(destination, &measured) == entry.crc) {
          ++patcher.filesDone;
          verified[i] = true;
          continue;
        }
        RemoveFileCrt(destination);
        patcher.bytesDone -= static_cast<int64_t>(measured);
      }
      entry.failed = true;
      entry.message = kUnsuccessful;
      ++counters.failedFiles;
      if (!downloaded && localFaultFlag) {
        ++counters.localFaults;
        entry.message = kLocalFault;
      }
    }
  }
  // A file that no pass fetched (no address to try) is a failure, never a success.
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].needsDownload || CountedFailure(entries[i]) || verified[i]) continue;
    entries[i].failed = true;
    entries[i].message = kUnsuccessful;
    ++counters.failedFiles;
  }
  return counters;
}
