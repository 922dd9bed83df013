#include "update/verify.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/http_transfer.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/crc32.h"
#include "support/names.h"
#include "support/sha256.h"
#include "support/texts.h"
#include "update/patcher.h"

namespace {

constexpr size_t kBlock = 256 << 10;

// A read buffer, allocated without being cleared: zeroing a fresh 256 KiB buffer for every file
// cost more than reading a small file. A check reuses one for all its files. (No thread_local
// buffer: the mingw runtime can run its destructor after the thread's storage is gone.)
using ReadBuffer = std::unique_ptr<unsigned char[]>;
ReadBuffer NewReadBuffer() { return ReadBuffer(new unsigned char[kBlock]); }

// Reads and checksums up to limit bytes (all of the rest when limit < 0) in blocks; bytes gets
// how many were read. sha, when given, hashes the same blocks: a signed release's SHA-256 costs
// no second read. A read error ends the loop like the end of the file; the checksum then will not
// match. fread only comes back short at the end of the file or on an error: no further read is asked.
uint32_t ChecksumRange(FILE* file, unsigned char* block, int64_t limit, uint64_t& bytes, Sha256* sha = nullptr) {
  uint32_t crc = 0;
  bytes = 0;
  for (;;) {
    const int64_t left = limit < 0 ? INT64_MAX : limit - static_cast<int64_t>(bytes);
    const size_t want = left >= static_cast<int64_t>(kBlock) ? kBlock : static_cast<size_t>(left);
    if (want == 0) break;
    const size_t n = fread(block, 1, want, file);
    crc = Crc32Update(crc, block, n);
    if (sha) sha->update(block, n);
    bytes += n;
    if (n < want) break;
  }
  return crc;
}

// For large files a second thread reads the next blocks while this one checksums: reading
// from the page cache and checksumming take about as long as each other.
uint32_t ChecksumWhileReading(FILE* file, Sha256* sha) {
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
    if (sha) sha->update(storage.data() + slot * kBlock, n);
    lock.lock();
    ++consumed;
    changed.notify_all();
  }
  reader.join();
  return crc;
}

FILE* OpenForChecksum(const std::wstring& path);

// Large files without a SHA-256: two threads each read and checksum one half from a handle of
// their own, and the halves are joined. One thread reading and checksumming in turn stays well
// below what the disk cache delivers. False when the second handle or thread cannot be had.
bool ChecksumInHalves(FILE* file, const std::wstring& path, int64_t length, uint32_t& crc) {
  FILE* second = OpenForChecksum(path);
  if (!second) return false;
  const int64_t half = length / 2 / static_cast<int64_t>(kBlock) * static_cast<int64_t>(kBlock);
  if (!SeekFile(second, half, SEEK_SET)) {
    fclose(second);
    return false;
  }
  uint32_t secondCrc = 0;
  uint64_t secondBytes = 0;
  std::thread reader;
  try {
    reader = std::thread([&] { secondCrc = ChecksumRange(second, NewReadBuffer().get(), -1, secondBytes); });
  } catch (const std::exception&) {  // no thread, or no memory for it
    fclose(second);
    return false;
  }
  uint64_t firstBytes = 0;  // (up to half)
  const uint32_t firstCrc = ChecksumRange(file, NewReadBuffer().get(), half, firstBytes);
  reader.join();
  fclose(second);
  // (A file changed while it is read gives a checksum that will not match, as when read in one go.)
  crc = Crc32Combine(firstCrc, secondCrc, secondBytes);
  return true;
}

// The 64-bit size of an open file; the position is left at the start.
int64_t OpenedLength(FILE* file) {
  SeekFile(file, 0, SEEK_END);
  int64_t length = TellFile(file);
  SeekFile(file, 0, SEEK_SET);
  return length;
}

// The whole file's CRC-32 as 8 upper-case hex digits, and its SHA-256 when sha256 is given; file
// is positioned at its start, and path names it.
std::string ChecksumText(FILE* file, const std::wstring& path, int64_t length, unsigned char* block,
                         std::string* sha256 = nullptr) {
  Sha256 sha;
  Sha256* hash = sha256 ? &sha : nullptr;
  const bool large = length >= int64_t(8) << 20;
  uint32_t crc = 0;
  if (!large) {
    uint64_t bytes = 0;
    crc = ChecksumRange(file, block, -1, bytes, hash);
  } else if (hash || !ChecksumInHalves(file, path, length, crc)) {
    crc = ChecksumWhileReading(file, hash);  // SHA-256 only goes from the start to the end
  }
  if (sha256) *sha256 = sha.hexDigest();
  char text[9];
  snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(crc));
  return text;
}

FILE* OpenForChecksum(const std::wstring& path) {
  FILE* file = OpenFile(path, L"rb");
  // Every read fills a buffer of ours: stdio's own buffer would only add a copy.
  if (file) setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

}  // namespace

std::string FileCrc(const std::wstring& path, uint64_t* size, std::string* sha256) {
  if (sha256) sha256->clear();
  FILE* file = OpenForChecksum(path);
  if (!file) return "";
  int64_t length = OpenedLength(file);
  if (size) *size = length < 0 ? 0 : static_cast<uint64_t>(length);
  std::string text = ChecksumText(file, path, length, NewReadBuffer().get(), sha256);
  fclose(file);
  return text;
}

std::wstring ZipDownloadDir(const std::wstring& baseDir) {
  return baseDir + L"\\" + TempDirName + L"\\" + ZipUpdateDirName;
}

namespace {

// Shared walk of both checks. Entry supplies name, path, size and the flags.
template <typename Entry>
CheckResults CheckEntries(Patcher& patcher, const std::wstring& dir, std::vector<Entry>& entries,
                          const std::wstring& status, bool deleteDamaged, bool checkSha) {
  CheckResults results;
  ReadBuffer block = NewReadBuffer();
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
      results.bytesToDownload = SaturatingAdd(results.bytesToDownload, static_cast<uint64_t>(entry.size));
    };
    // One open per file: the size and the checksum both come from this handle.
    FILE* file = OpenForChecksum(local);
    if (!file) {
      // Nothing there, or a directory, is simply missing; a file that will not open is a fault.
      mark();
      if (FileExists(local)) {
        entry.failed = true;
        entry.message = L"failed to open for checking";
        ++results.faults;
      }
      continue;
    }
    // The size comes first, so a file of the wrong size is never read through.
    int64_t size = OpenedLength(file);
    std::string sha;
    bool withSha = checkSha && !entry.sha256.empty();
    bool intact = size == static_cast<int64_t>(entry.size) &&
                  ChecksumText(file, local, size, block.get(), withSha ? &sha : nullptr) == entry.crc &&
                  (!withSha || sha == entry.sha256);
    fclose(file);
    if (intact) {
      entry.needsDownload = false;
      ++patcher.filesDone;
    } else {
      mark();
      // A package shorter than listed stays for a resumable download to continue.
      bool partial = patcher.options().resumeDownloads && size > 0 && size < static_cast<int64_t>(entry.size);
      if (deleteDamaged && !partial) RemoveFileCrt(local);
    }
  }
  return results;
}

}  // namespace

CheckResults CheckLocalFiles(Patcher& patcher, const std::wstring& gameDir, std::vector<FileListEntry>& entries,
                             bool withSha) {
  // Installed files came from checked packages or checked downloads: the CRC is enough, unless
  // they may have arrived before releases were signed.
  return CheckEntries(patcher, gameDir, entries, texts::VerifyingGame, false, withSha);
}

CheckResults CheckZipFiles(Patcher& patcher, const std::wstring& baseDir, std::vector<ZipListEntry>& entries) {
  // A package left by an earlier run may never have been checked against a signed manifest.
  return CheckEntries(patcher, ZipDownloadDir(baseDir), entries, texts::FindingPackages, true, true);
}
