#include "update/verify.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "app/names.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/crc32.h"
#include "ui/texts.h"
#include "update/patcher.h"

namespace {

constexpr size_t kBlock = 256 << 10;

uint32_t ChecksumInLine(FILE* file) {
  std::vector<unsigned char> block(kBlock);
  uint32_t crc = 0;
  size_t n;
  // A read error ends the loop like the end of the file; the checksum then will not match.
  while ((n = fread(block.data(), 1, block.size(), file)) > 0) crc = Crc32Update(crc, block.data(), n);
  return crc;
}

// For large files a second thread reads the next blocks while this one checksums: reading
// from the page cache and checksumming take about as long as each other.
uint32_t ChecksumWhileReading(FILE* file) {
  constexpr size_t kSlots = 4;
  std::vector<unsigned char> storage(kSlots * kBlock);
  size_t filled[kSlots] = {};
  std::mutex mutex;
  std::condition_variable changed;
  size_t produced = 0, consumed = 0;
  bool finished = false;
  std::thread reader([&] {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return produced - consumed < kSlots; });
      size_t slot = produced % kSlots;
      lock.unlock();
      size_t n = fread(storage.data() + slot * kBlock, 1, kBlock, file);
      lock.lock();
      if (n == 0) {
        finished = true;
      } else {
        filled[slot] = n;
        ++produced;
      }
      changed.notify_all();
      if (n == 0) return;
    }
  });
  uint32_t crc = 0;
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return consumed < produced || finished; });
    if (consumed == produced) break;
    size_t slot = consumed % kSlots;
    size_t n = filled[slot];
    lock.unlock();
    crc = Crc32Update(crc, storage.data() + slot * kBlock, n);
    lock.lock();
    ++consumed;
    changed.notify_all();
  }
  reader.join();
  return crc;
}

}  // namespace

std::string FileCrc(const std::wstring& path, uint64_t* size) {
  FILE* file = OpenFile(path, L"rb");
  if (!file) return "";
  SeekFile(file, 0, SEEK_END);
  int64_t length = TellFile(file);
  SeekFile(file, 0, SEEK_SET);
  if (size) *size = length < 0 ? 0 : static_cast<uint64_t>(length);
  uint32_t crc = length >= int64_t(8) << 20 ? ChecksumWhileReading(file) : ChecksumInLine(file);
  fclose(file);
  char text[9];
  snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(crc));
  return text;
}

std::wstring ZipDownloadDir(const std::wstring& baseDir) {
  return baseDir + L"\\" + TempDirName + L"\\" + ZipUpdateDirName;
}

namespace {

// Shared walk of both checks. Entry supplies name, path, size and the flags.
template <typename Entry>
CheckResults CheckEntries(Patcher& patcher, const std::wstring& dir, std::vector<Entry>& entries,
                          const std::wstring& status, bool deleteDamaged) {
  CheckResults results;
  patcher.stage = Verifying;
  patcher.statusText = status;
  patcher.filesDone = 0;
  patcher.filesTotal = static_cast<int32_t>(entries.size());
  patcher.bytesDone = 0;
  for (auto& entry : entries) {
    patcher.currentFileName = AnsiToWide(entry.name);
    std::wstring local = dir + L"\\" + AnsiToWide(entry.path);
    auto mark = [&] {
      entry.needsDownload = true;
      ++results.filesToDownload;
      results.bytesToDownload += static_cast<uint64_t>(entry.size);
    };
    if (!FileExists(local)) {
      mark();
      continue;
    }
    FILE* file = OpenFile(local, L"rb");
    if (!file) {
      mark();
      entry.failed = true;
      entry.message = L"failed to open for checking";
      ++results.faults;
      continue;
    }
    SeekFile(file, 0, SEEK_END);
    int64_t size = TellFile(file);
    fclose(file);
    // The size comes first, so a file of the wrong size is never read through.
    bool intact = size == static_cast<int64_t>(entry.size) && FileCrc(local) == entry.crc;
    if (intact) {
      entry.needsDownload = false;
      ++patcher.filesDone;
    } else {
      mark();
      if (deleteDamaged) RemoveFileCrt(local);
    }
  }
  return results;
}

}  // namespace

CheckResults CheckLocalFiles(Patcher& patcher, const std::wstring& gameDir, std::vector<FileListEntry>& entries) {
  return CheckEntries(patcher, gameDir, entries, texts::VerifyingGame, false);
}

CheckResults CheckZipFiles(Patcher& patcher, const std::wstring& baseDir, std::vector<ZipListEntry>& entries) {
  return CheckEntries(patcher, ZipDownloadDir(baseDir), entries, texts::FindingPackages, true);
}
