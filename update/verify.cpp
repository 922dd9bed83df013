#include "update/verify.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

#include "app/names.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui/texts.h"
#include "update/patcher.h"

std::string FileCrc(const std::wstring& path, uint64_t* size) {
  FILE* file = OpenFile(path, L"rb");
  if (!file) return "";
  SeekFile(file, 0, SEEK_END);
  int64_t length = TellFile(file);
  SeekFile(file, 0, SEEK_SET);
  if (size) *size = length < 0 ? 0 : static_cast<uint64_t>(length);
  std::vector<unsigned char> block(65536);
  uLong crc = crc32(0L, Z_NULL, 0);
  size_t n;
  // A read error ends the loop like the end of the file; the checksum then will not match.
  while ((n = fread(block.data(), 1, block.size(), file)) > 0) crc = crc32(crc, block.data(), static_cast<uInt>(n));
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
