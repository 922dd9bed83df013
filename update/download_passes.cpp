#include "update/download_passes.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "net/http_transfer.h"
#include "net/thread_pool.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/text_util.h"
#include "support/texts.h"
#include "update/binary_patch.h"
#include "update/patcher.h"
#include "update/verify.h"

namespace {

const std::wstring kLocalFault = L"Local Fault";
const std::wstring kUnsuccessful = L"downloading unsuccessful";

// A file shorter than its listed size, kept for a resumable download to continue.
bool Resumable(const Patcher& patcher, const std::wstring& path, int64_t size) {
  uint64_t length = 0;
  return patcher.options().resumeDownloads && OpenedFileSize(path, length) && length > 0 &&
         static_cast<int64_t>(length) < size;
}

// A failure recorded in an earlier pass is taken back before the entry is tried again.
template <typename Entry>
void ClearEarlierFailure(const Patcher& patcher, Entry& entry, const std::wstring& destination,
                         DownloadCounters& counters) {
  if (!entry.failed) return;
  if (FileExists(destination) && !Resumable(patcher, destination, static_cast<int64_t>(entry.size)))
    RemoveFileCrt(destination);
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

// Where a list entry is fetched from: blanks are encoded as libcurl refuses a URL that holds one.
std::string EntryUrl(const std::string& base, const std::string& relative) {
  return ReplaceAll(base + ReplaceAll(relative, "\\", "/"), " ", "%20");
}

TransferResult CodesOf(const DownloadStatus& status) {
  TransferResult result;
  result.hasCodes = status.hasCodes;
  result.curlCode = status.curlCode;
  result.httpStatus = status.httpStatus;
  return result;
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

// Runs the jobs on the workers and follows their statuses until every one has ended; bytesDone
// shows base plus what they received. A failed job's codes become the run's latest as it is seen.
void RunJobs(Patcher& patcher, const std::vector<DownloadJob*>& jobs, int64_t base) {
  patcher.statusText = L"";
  patcher.stage = DownloadingPackages;

  auto pool = std::make_unique<ThreadPool>(patcher.options().downloadWorkers);
  patcher.threadPool = pool.get();
  if (pool->startedThreads() == 0 && !jobs.empty()) {
    // Without a worker nothing would ever finish: fetch this pass on the update thread.
    patcher.logger.error("Download threads could not be started, downloading on the update thread");
    for (DownloadJob* job : jobs) RunDownloadJob(job);
  } else {
    for (DownloadJob* job : jobs) pool->addTask(&RunJob, job);
  }

  std::vector<bool> seen(jobs.size(), false);
  int64_t lastSum = 0;
  for (;;) {
    int64_t sum = 0;
    size_t ended = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
      const DownloadStatus& status = *jobs[i]->status;
      sum += status.received;
      int32_t value = status.result;
      if (value >= 1 || value == -1 || value == -3) ++ended;
      if (value == -1 && !seen[i]) patcher.noteFailure(CodesOf(status));
      seen[i] = seen[i] || value != 0;
    }
    if (sum != 0) lastSum = sum;
    patcher.bytesDone = base + lastSum;
    if (ended == jobs.size()) break;
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

// A signed release's fetched packages are summed while the others still download, by a thread
// that takes each package as its job succeeds; once every job has ended, the update thread joins
// in for what is left. The SHA-256 takes several times as long as the CRC and goes through a file
// in one sequence, so two packages at a time take about the time of one. (An unsigned release's
// packages are checked one after another as ever.)
class SignedPackageSums {
 public:
  SignedPackageSums(const std::wstring& zipDir, const std::vector<ZipListEntry>& entries, std::vector<PackageSums>& sums)
      : zipDir_(zipDir), entries_(entries), sums_(sums) {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].status && !entries[i].sha256.empty()) todo_.push_back(i);
    taken_.assign(todo_.size(), false);
    if (todo_.empty()) return;
    try {
      early_ = std::thread([this] { work(); });
    } catch (...) {
      // Without it every package is summed once the downloads have ended.
    }
  }
  SignedPackageSums(const SignedPackageSums&) = delete;
  SignedPackageSums& operator=(const SignedPackageSums&) = delete;
  ~SignedPackageSums() { finish(); }

  // Once every job has ended: what is left, on this thread and the early one.
  void finish() {
    if (ended_.exchange(true) || todo_.empty()) return;
    work();
    if (early_.joinable()) early_.join();
  }

 private:
  // Sums every package whose job has succeeded and nobody took yet; the early thread goes round
  // again until the jobs have ended (a round that starts after that is its last).
  void work() {
    for (;;) {
      const bool last = ended_;
      for (size_t n = 0; n < todo_.size(); ++n) {
        const size_t i = todo_[n];
        if (entries_[i].status->result < 1 || !claim(n)) continue;
        PackageSums& sum = sums_[i];
        sum.crc = FileCrc(zipDir_ + L"\\" + AnsiToWide(entries_[i].path), &sum.size, &sum.sha);
        sum.ready = true;
      }
      if (last) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  bool claim(size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (taken_[n]) return false;
    taken_[n] = true;
    return true;
  }

  const std::wstring& zipDir_;
  const std::vector<ZipListEntry>& entries_;
  std::vector<PackageSums>& sums_;
  std::vector<size_t> todo_;  // the signed packages fetched in this pass
  std::vector<bool> taken_;   // by todo_'s index, under mutex_
  std::mutex mutex_;
  std::atomic<bool> ended_{false};
  std::thread early_;
};

// One pass over the zip list at one address: a job for every package still missing, then the
// check of what arrived. A resumed package that fails its check is fetched once more from zero,
// from the same address.
class PackagePass {
 public:
  PackagePass(Patcher& patcher, const std::wstring& zipDir, std::vector<ZipListEntry>& entries,
              DownloadCounters& counters)
      : patcher_(patcher), zipDir_(zipDir), entries_(entries), counters_(counters), jobs_(entries.size()),
        sums_(entries.size()) {}

  void run(const std::string& base) {
    prepare(base);
    std::vector<DownloadJob*> batch;
    for (auto& job : jobs_)
      if (job) batch.push_back(job.get());
    {
      SignedPackageSums summing(zipDir_, entries_, sums_);
      RunJobs(patcher_, batch, 0);
      summing.finish();
    }
    for (size_t i = 0; i < entries_.size(); ++i) verify(i, true);
    if (again_.empty()) return;
    batch.clear();
    for (size_t i : again_) batch.push_back(jobs_[i].get());
    RunJobs(patcher_, batch, patcher_.bytesDone);
    for (size_t i : again_) verify(i, false);
  }

 private:
  std::wstring local(const ZipListEntry& entry) const { return zipDir_ + L"\\" + AnsiToWide(entry.path); }

  void prepare(const std::string& base) {
    patcher_.bytesTotal = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
      auto& entry = entries_[i];
      if (entry.status) {
        if (entry.status->result == -3) entry.message = kLocalFault;
        entry.status.reset();
      }
      patcher_.currentFileSize = static_cast<uint32_t>(entry.size);
      patcher_.currentFileName = AnsiToWide(entry.name);
      // A list line that could not be read names no file: nothing to fetch, and it ends the
      // passes as a failed download rather than as an unwritable folder.
      if (!entry.needsDownload || entry.path.empty()) continue;
      patcher_.bytesTotal += entry.size;
      // Packages are written and verified under their path; the name only forms the address.
      ClearEarlierFailure(patcher_, entry, local(entry), counters_);
      entry.status = std::make_shared<DownloadStatus>();
      auto job = std::make_unique<DownloadJob>();
      job->request = patcher_.request(TransferKind::Job, EntryUrl(base, entry.name));
      job->request.destination = local(entry);
      job->request.received = &entry.status->received;
      job->request.expectedSize = entry.size;
      job->status = entry.status.get();
      job->log = &patcher_.logger;
      jobs_[i] = std::move(job);
    }
  }

  void verify(size_t i, bool mayFetchAgain) {
    auto& entry = entries_[i];
    if (!entry.status) return;
    if (entry.status->result >= 1 && !failsCheck(i, mayFetchAgain)) return;
    if (entry.status->result == -1) {
      entry.failed = true;
      entry.message = kUnsuccessful;
      ++counters_.failedFiles;
    }
    // -3: the entry keeps needsDownload and is marked "Local Fault" when the next pass begins.
  }

  // A fetched package's check: true when it failed and is not fetched again. A damaged package
  // is deleted and its status becomes a failure.
  bool failsCheck(size_t i, bool mayFetchAgain) {
    auto& entry = entries_[i];
    const std::wstring path = local(entry);
    PackageSums sum;
    std::swap(sum, sums_[i]);  // a package fetched again is summed again
    if (!sum.ready) sum.crc = FileCrc(path, &sum.size, entry.sha256.empty() ? nullptr : &sum.sha);
    if (sum.crc == entry.crc && sum.sha == entry.sha256) {
      entry.needsDownload = false;
      ++patcher_.filesDone;
      return false;
    }
    patcher_.bytesDone -= FileExists(path) ? static_cast<int64_t>(sum.size) : entry.size;
    entry.status->result = -1;
    RemoveFileCrt(path);
    if (sum.crc == entry.crc)
      patcher_.logger.error("Zip File SHA-256 Check Error! FileName = " + entry.name + " SHA-256 = " + sum.sha);
    else
      patcher_.logger.error("Zip File CRC Check Error! FileName = " + entry.name + " CRC = " + sum.crc);
    if (!mayFetchAgain || !entry.status->resumed) return true;
    entry.status->result = 0;
    entry.status->received = 0;
    entry.status->resumed = false;
    again_.push_back(i);
    return false;
  }

  Patcher& patcher_;
  const std::wstring& zipDir_;
  std::vector<ZipListEntry>& entries_;
  DownloadCounters& counters_;
  std::vector<std::unique_ptr<DownloadJob>> jobs_;  // by entry: this pass's job, if any
  std::vector<PackageSums> sums_;
  std::vector<size_t> again_;
};

// What is still missing after the last pass decides the outcome: a package that could not be
// written in one pass but arrived in a later one is no fault, and one that no pass fetched (no
// address left to try) is a failure, never a success.
void CountWhatIsMissing(std::vector<ZipListEntry>& entries, DownloadCounters& counters) {
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
}

// An increment file from one address, and its check. A resumed file that fails its check is
// fetched once more, from zero; others fail.
TransferResult FetchChecked(Patcher& patcher, const std::string& url, const std::wstring& destination,
                            const FileListEntry& entry) {
  TransferResult result;
  for (int round = 0; round < 2; ++round) {
    TransferRequest download = patcher.request(TransferKind::File, url);
    download.destination = destination;
    download.received = &patcher.currentFileReceived;
    download.runningTotal = &patcher.bytesDone;
    download.expectedSize = entry.size;
    result = patcher.downloadFile(download);
    if (!result.ok) return result;
    uint64_t measured = 0;
    if (Matches(patcher, destination, entry, &measured)) return result;
    RemoveFileCrt(destination);
    patcher.bytesDone -= static_cast<int64_t>(measured);
    if (!result.resumed) break;
  }
  result.ok = false;  // arrived, but damaged
  return result;
}

// The patch an increment file gets: one whose result is the listed file (and, for a signed
// release, whose list line names its SHA-256) and whose base is the installed copy. Null when
// there is none; the installed copy is only read through when a patch's base has its size.
const PatchListEntry* PatchFor(const IncrementPatches& patches, const FileListEntry& entry, bool needSha) {
  auto [from, to] = patches.list.equal_range(entry.path);
  if (from == to) return nullptr;
  const std::wstring base = patches.baseDir + L"\\" + AnsiToWide(entry.path);
  uint64_t size = 0;
  if (!OpenedFileSize(base, size)) return nullptr;
  std::string crc;
  for (auto it = from; it != to; ++it) {
    const PatchListEntry& offer = it->second;
    if (offer.resultSize != entry.size || offer.resultCrc != entry.crc || offer.baseSize != size) continue;
    if (needSha && offer.patchSha256.empty()) continue;
    if (crc.empty()) crc = FileCrc(base);
    if (crc == offer.baseCrc) return &offer;
  }
  return nullptr;
}

// Fetches the patch from the first address that has it whole and applies it into destination,
// whose result is checked as a downloaded file is. Empty on success, otherwise why the patch was
// refused; nothing of a refused patch stays behind, and its bytes leave the progress again.
std::string ApplyPatch(Patcher& patcher, const IncrementPatches& patches, const PatchListEntry& offer,
                       const FileListEntry& entry, size_t index, const std::wstring& destination) {
  const std::wstring patchPath = patches.workDir + L"\\" + std::to_wstring(index) + L".patch";
  CreateDirectories(patchPath);
  std::string problem = "not fetched";
  uint64_t fetched = 0;
  for (const std::string& folder : patches.folders) {
    RemoveFileCrt(patchPath);
    TransferRequest download = patcher.request(TransferKind::File, EntryUrl(folder, offer.address));
    download.resume = false;
    download.destination = patchPath;
    download.received = &patcher.currentFileReceived;
    download.runningTotal = &patcher.bytesDone;
    download.expectedSize = static_cast<int64_t>(offer.patchSize);
    TransferResult result = DownloadBinaryFile(download, nullptr);  // its failures are the patch's, not the player's
    if (!result.ok) {
      problem = "not fetched (CURL CODE = " + std::to_string(result.curlCode) +
                " HttpStatusCode = " + std::to_string(result.httpStatus) + ")";
      continue;
    }
    std::string sha;
    const std::string crc = FileCrc(patchPath, &fetched, offer.patchSha256.empty() ? nullptr : &sha);
    if (fetched == offer.patchSize && crc == offer.patchCrc && sha == offer.patchSha256) {
      problem.clear();
      break;
    }
    problem = "damaged patch (size " + std::to_string(fetched) + " CRC " + crc +
              (sha.empty() ? std::string() : " SHA-256 " + sha) + ")";
    patcher.bytesDone -= static_cast<int64_t>(fetched);
    fetched = 0;
  }
  if (problem.empty()) {
    CreateDirectories(destination);
    problem = patch::Apply(patches.baseDir + L"\\" + AnsiToWide(entry.path), patchPath, destination);
    if (problem.empty() && !Matches(patcher, destination, entry)) problem = "the result fails its check";
    if (!problem.empty()) {
      patcher.bytesDone -= static_cast<int64_t>(fetched);
      RemoveFileCrt(destination);
    }
  }
  RemoveFileCrt(patchPath);
  return problem;
}

// The patch each file to fetch gets, if any: the progress counts its bytes instead of the file's.
std::vector<const PatchListEntry*> OfferedPatches(Patcher& patcher, const IncrementPatches* patches,
                                                  const std::vector<FileListEntry>& entries) {
  std::vector<const PatchListEntry*> offers(entries.size(), nullptr);
  if (!patches || patches->list.empty()) return offers;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].needsDownload || entries[i].path.empty()) continue;
    offers[i] = PatchFor(*patches, entries[i], !entries[i].sha256.empty());
    if (offers[i]) patcher.bytesTotal -= static_cast<int64_t>(entries[i].size - offers[i]->patchSize);
  }
  return offers;
}

// The file rebuilt by its patch, or the patch refused: then the offer is withdrawn and the
// progress counts the whole file again.
bool Patched(Patcher& patcher, const IncrementPatches& patches, const PatchListEntry*& offer,
             const FileListEntry& entry, size_t index, const std::wstring& destination) {
  patcher.currentFileSize = static_cast<uint32_t>(offer->patchSize);
  const std::string problem = ApplyPatch(patcher, patches, *offer, entry, index, destination);
  patcher.currentFileSize = entry.size;
  if (problem.empty()) {
    patcher.logger.info("Patch Update Success! FileName = " + entry.name + " PatchSize = " +
                        std::to_string(offer->patchSize) + " FileSize = " + std::to_string(entry.size));
    return true;
  }
  patcher.logger.warning("Patch Update Failed! FileName = " + entry.name + " Reason = " + problem +
                         ", downloading the whole file");
  patcher.bytesTotal += static_cast<int64_t>(entry.size - offer->patchSize);
  offer = nullptr;
  return false;
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
  for (const std::string& base : baseUrls) {
    if (patcher.filesDone >= patcher.filesTotal) break;
    PackagePass(patcher, zipDir, entries, counters).run(base);
  }
  CountWhatIsMissing(entries, counters);
  return counters;
}

DownloadCounters DownloadIncrementFiles(Patcher& patcher, const std::wstring& targetDir,
                                        const std::vector<std::string>& baseUrls,
                                        std::vector<FileListEntry>& entries, int32_t filesToDownload,
                                        uint64_t bytesToDownload, const IncrementPatches* patches) {
  DownloadCounters counters;
  patcher.filesDone = 0;
  patcher.filesTotal = filesToDownload;
  patcher.bytesDone = 0;
  patcher.bytesTotal = static_cast<int64_t>(bytesToDownload);
  patcher.statusText = L"";
  patcher.stage = DownloadingFiles;

  std::vector<const PatchListEntry*> offers = OfferedPatches(patcher, patches, entries);
  auto cost = [&](size_t i) {
    return offers[i] ? static_cast<int64_t>(offers[i]->patchSize) : static_cast<int64_t>(entries[i].size);
  };

  std::vector<bool> verified(entries.size(), false);
  for (const std::string& base : baseUrls) {
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
      ClearEarlierFailure(patcher, entry, destination, counters);
      if (!entry.needsDownload) continue;
      // A file shorter than listed is the start of an interrupted download: continued, not read.
      bool onDisk = FileExists(destination) && !Resumable(patcher, destination, entry.size);
      if (onDisk && Matches(patcher, destination, entry)) {
        patcher.bytesDone += cost(i);
      } else {
        if (onDisk) RemoveFileCrt(destination);
        if (!offers[i] || !Patched(patcher, *patches, offers[i], entry, i, destination)) {
          TransferResult result = FetchChecked(patcher, EntryUrl(base, entry.path), destination, entry);
          if (!result.ok) {
            entry.failed = true;
            entry.message = result.localFault ? kLocalFault : kUnsuccessful;
            ++counters.failedFiles;
            if (result.localFault) ++counters.localFaults;
            continue;
          }
        }
      }
      ++patcher.filesDone;
      verified[i] = true;
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
