#include "update/download_passes.h"

#include <atomic>
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

// A file shorter than its listed size, kept for a resumable download to continue.
bool Resumable(const std::wstring& path, int64_t size) {
  uint64_t length = 0;
  return ResumeDownloads() && OpenedFileSize(path, length) && length > 0 && static_cast<int64_t>(length) < size;
}

// A failure recorded in an earlier pass is taken back before the entry is tried again.
template <typename Entry>
void ClearEarlierFailure(Entry& entry, const std::wstring& destination, DownloadCounters& counters) {
  if (!entry.failed) return;
  if (FileExists(destination) && !Resumable(destination, static_cast<int64_t>(entry.size))) RemoveFileCrt(destination);
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

// The CRC check of a fetched file and, for a signed release, its SHA-256 from the same read: a
// file whose CRC was made to fit is caught by the second.
bool Matches(Patcher& patcher, const std::wstring& path, const FileListEntry& entry, uint64_t* measured = nullptr) {
  std::string sha;
  if (FileCrc(path, measured, entry.sha256.empty() ? nullptr : &sha) != entry.crc) return false;
  if (sha == entry.sha256) return true;
  patcher.logger.error("File SHA-256 Check Error! FileName = " + entry.name + " SHA-256 = " + sha);
  return false;
}

// Runs the jobs on two workers and follows the watched statuses until every one has ended;
// bytesDone shows base plus what they received.
void RunJobs(Patcher& patcher, const std::vector<DownloadJob*>& jobs, const std::vector<DownloadStatus*>& watched,
             int64_t base) {
  patcher.statusText = L"";
  patcher.stage = DownloadingPackages;
  EnsureCurlReady();

  auto pool = std::make_unique<ThreadPool>(2);
  patcher.threadPool = pool.get();
  if (pool->startedThreads() == 0 && !jobs.empty()) {
    // Without a worker nothing would ever finish: fetch this pass on the update thread.
    patcher.logger.error("Download threads could not be started, downloading on the update thread");
    for (DownloadJob* job : jobs) RunDownloadJob(job);
  } else {
    for (DownloadJob* job : jobs) pool->addTask(&RunJob, job);
  }

  int64_t lastSum = 0;
  for (;;) {
    int64_t sum = 0;
    size_t succeeded = 0, failed = 0;
    for (DownloadStatus* status : watched) {
      sum += status->received;
      int32_t value = status->result;
      if (value >= 1) ++succeeded;
      else if (value == -1 || value == -3) ++failed;
    }
    if (sum != 0) lastSum = sum;
    patcher.bytesDone = base + lastSum;
    if (succeeded + failed == watched.size()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }

  fputs("finish all task =====================>\n", stdout);
  fflush(stdout);
  patcher.stage = TransferDone;
  pool->destroy();
  patcher.threadPool = nullptr;
  pool.reset();
  patcher.statusText = texts::FindingPackages;
}

// A fetched package's CRC, size and (signed releases) SHA-256, worked out ahead of its check.
struct PackageSums {
  bool ready = false;
  std::string crc, sha;
  uint64_t size = 0;
};

// A signed release's fetched packages are summed two at a time: the SHA-256 takes several times
// as long as the CRC and goes through a file in one sequence, so on two cores two packages take
// about the time of one. (An unsigned release's packages are checked one after another as ever.)
void SumSignedPackages(const std::wstring& zipDir, const std::vector<ZipListEntry>& entries,
                       std::vector<PackageSums>& sums) {
  std::vector<size_t> todo;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].status && entries[i].status->result >= 1 && !entries[i].sha256.empty()) todo.push_back(i);
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t n; (n = next++) < todo.size();) {
      PackageSums& sum = sums[todo[n]];
      sum.crc = FileCrc(zipDir + L"\\" + AnsiToWide(entries[todo[n]].path), &sum.size, &sum.sha);
      sum.ready = true;
    }
  };
  std::thread second;
  if (todo.size() > 1) {
    try {
      second = std::thread(work);
    } catch (...) {
      // Without a second thread this one sums them all.
    }
  }
  work();
  if (second.joinable()) second.join();
}

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
    std::vector<DownloadJob*> jobOf(entries.size(), nullptr);
    for (size_t i = 0; i < entries.size(); ++i) {
      auto& entry = entries[i];
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
      job->expectedSize = entry.size;
      jobOf[i] = job.get();
      jobs.push_back(std::move(job));
    }
    std::vector<DownloadJob*> batch;
    for (auto& job : jobs) batch.push_back(job.get());
    std::vector<DownloadStatus*> watched;
    for (auto& result : downloadResults) watched.push_back(result.second);
    RunJobs(patcher, batch, watched, 0);

    // A resumed package that fails its check is fetched once more from zero, from the same address.
    std::vector<size_t> again;
    std::vector<PackageSums> sums(entries.size());
    auto verify = [&](size_t i, bool mayFetchAgain) {
      auto& entry = entries[i];
      if (!entry.status) return;
      std::wstring local = zipDir + L"\\" + AnsiToWide(entry.path);
      if (entry.status->result >= 1) {
        uint64_t measured = 0;
        std::string sha, crc;
        if (sums[i].ready) {
          crc = sums[i].crc, sha = sums[i].sha, measured = sums[i].size;
          sums[i].ready = false;  // a package fetched again is summed again
        } else {
          crc = FileCrc(local, &measured, entry.sha256.empty() ? nullptr : &sha);
        }
        if (crc == entry.crc && sha == entry.sha256) {
          entry.needsDownload = false;
          ++patcher.filesDone;
          return;
        }
        bool exists = FileExists(local);
        patcher.bytesDone -= exists ? static_cast<int64_t>(measured) : entry.size;
        entry.status->result = -1;
        RemoveFileCrt(local);
        if (crc == entry.crc)
          patcher.logger.error("Zip File SHA-256 Check Error! FileName = " + entry.name + " SHA-256 = " + sha);
        else
          patcher.logger.error("Zip File CRC Check Error! FileName = " + entry.name + " CRC = " + crc);
        if (mayFetchAgain && entry.status->resumed && jobOf[i]) {
          entry.status->result = 0;
          entry.status->received = 0;
          entry.status->resumed = false;
          again.push_back(i);
          return;
        }
      }
      if (entry.status->result == -1) {
        entry.failed = true;
        entry.message = kUnsuccessful;
        ++counters.failedFiles;
      }
      // -3: the entry keeps needsDownload and is marked "Local Fault" when the next pass begins.
    };
    SumSignedPackages(zipDir, entries, sums);
    for (size_t i = 0; i < entries.size(); ++i) verify(i, true);
    if (!again.empty()) {
      batch.clear();
      watched.clear();
      for (size_t i : again) {
        batch.push_back(jobOf[i]);
        watched.push_back(entries[i].status.get());
      }
      RunJobs(patcher, batch, watched, patcher.bytesDone);
      for (size_t i : again) verify(i, false);
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
      // A file shorter than listed is the start of an interrupted download: continued, not read.
      if (FileExists(destination) && !Resumable(destination, entry.size)) {
        if (Matches(patcher, destination, entry)) {
          ++patcher.filesDone;
          patcher.bytesDone += entry.size;
          verified[i] = true;
          continue;
        }
        RemoveFileCrt(destination);
      }
      std::string url = ReplaceAll(baseUrls[k] + ReplaceAll(entry.path, "\\", "/"), " ", "%20");
      bool downloaded = false, intact = false;
      for (int round = 0; round < 2; ++round) {
        bool resumed = false;
        downloaded = DownloadBinaryFile(url, destination, &patcher.currentFileReceived, &patcher.bytesDone,
                                        &patcher.logger, entry.size, &resumed);
        if (!downloaded) break;
        uint64_t measured = 0;
        intact = Matches(patcher, destination, entry, &measured);
        if (intact) break;
        RemoveFileCrt(destination);
        patcher.bytesDone -= static_cast<int64_t>(measured);
        // A resumed file that fails its check is fetched once more, from zero; others fail.
        if (!resumed) break;
      }
      if (intact) {
        ++patcher.filesDone;
        verified[i] = true;
        continue;
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
