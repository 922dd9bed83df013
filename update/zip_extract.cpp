#include "update/zip_extract.h"

#include <minizip/unzip.h>
#ifdef _WIN32
#include <minizip/iowin32.h>
#endif

#include <atomic>
#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/texts.h"
#include "update/file_list.h"
#include "update/patcher.h"
#include "update/tree_ops.h"
#include "update/verify.h"

namespace {

// The current entry's information and its whole name, however long.
bool CurrentEntry(unzFile archive, unz_file_info64& info, std::string& name) {
  if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  std::vector<char> buffer(info.size_filename + 1, '\0');
  if (unzGetCurrentFileInfo64(archive, &info, buffer.data(), static_cast<uLong>(buffer.size()), nullptr, 0,
                              nullptr, 0) != UNZ_OK)
    return false;
  name.assign(buffer.data(), info.size_filename);
  return true;
}

// Every name of the archive must stay below the destination.
bool AllNamesSafe(unzFile archive, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    if (i > 0 && unzGoToNextFile(archive) != UNZ_OK) return false;
    unz_file_info64 info;
    std::string name;
    if (!CurrentEntry(archive, info, name) || !IsSafeEntryName(name)) return false;
  }
  return count == 0 || unzGoToFirstFile(archive) == UNZ_OK;
}

// minizip (zlib 1.2.13's, and Debian's 1.1) takes an end record found at offset 0 for a missing
// one, so it refuses an archive that holds nothing else: no entries, the end record and its comment.
bool IsEmptyArchive(const std::wstring& zipPath) {
  uint64_t size = 0;
  std::string data;
  // The size first, so that a large file that is no archive is never read whole.
  if (!OpenedFileSize(zipPath, size) || size < 22 || size > 22 + 0xFFFF || !ReadWholeFile(zipPath, data) ||
      data.size() < 22)
    return false;
  auto u16 = [&](size_t at) { return static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1]) << 8; };
  // Signature, then disk numbers, entry counts, directory size and offset, all zero.
  return data.compare(0, 4, "PK\x05\x06", 4) == 0 && data.find_first_not_of('\0', 4) >= 20 &&
         static_cast<size_t>(u16(20)) == data.size() - 22;
}

// Windows: minizip's own wide-character file functions, so that an installation folder whose
// name the ANSI code page cannot hold opens as well as any other. Elsewhere the narrow path is
// the file system's own.
unzFile OpenArchive(const std::wstring& zipPath) {
#ifdef _WIN32
  zlib_filefunc64_def functions;
  fill_win32_filefunc64W(&functions);
  return unzOpen2_64(zipPath.c_str(), &functions);
#else
  return unzOpen64(NarrowFileSystemPath(zipPath).c_str());
#endif
}

}  // namespace

bool IsSafeEntryName(const std::string& name) {
  // Directory entries end in "/"; the rest follows the rules of list paths.
  std::string trimmed = name;
  while (!trimmed.empty() && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
  return IsSafeRelativePath(trimmed);
}

int WriteCurrentEntry(void* archive, const std::wstring& path) {
  if (path.empty()) return -1;
  CreateDirectories(path);
  FILE* file = OpenFile(path, L"wb");
  if (!file) return -1;
  std::vector<char> buffer(65536);
  int n;
  while ((n = unzReadCurrentFile(static_cast<unzFile>(archive), buffer.data(), static_cast<unsigned>(buffer.size()))) >
         0) {
    if (fwrite(buffer.data(), 1, static_cast<size_t>(n), file) != static_cast<size_t>(n)) {
      n = -1;  // a full disk must not pass for a complete file
      break;
    }
  }
  if (fclose(file) != 0 && n == 0) n = -1;
  return n;
}

bool ExtractZip(std::wstring zipPath, std::wstring destinationDir, std::atomic<int64_t>* extractedBytes) {
  unzFile archive = OpenArchive(zipPath);
  unz_global_info64 global;
  if (unzGetGlobalInfo64(archive, &global) != UNZ_OK) {
    if (archive) unzClose(archive);
    return !archive && IsEmptyArchive(zipPath);
  }
  if (!AllNamesSafe(archive, global.number_entry)) {
    unzClose(archive);
    return false;
  }
  for (uint64_t i = 1; i <= global.number_entry; ++i) {
    unz_file_info64 info;
    std::string name;
    if (!CurrentEntry(archive, info, name)) {
      unzClose(archive);
      return false;
    }
    // The destination stays wide; only the entry's name is in the narrow encoding.
    std::wstring output = destinationDir + L"\\" + AnsiToWide(name);
    bool isDirectory = info.external_fa == 16 || (!name.empty() && name.back() == '/');
    if (isDirectory) {
      CreateDirectories(output);
    } else {
      if (unzOpenCurrentFile(archive) != UNZ_OK) {
        unzClose(archive);
        return false;
      }
      if (WriteCurrentEntry(archive, output) < 0) {
        unzCloseCurrentFile(archive);
        unzClose(archive);
        return false;
      }
      // The packages are verified as wholes before extraction, but an entry whose own
      // checksum does not match was damaged inside the archive: never install it.
      if (unzCloseCurrentFile(archive) == UNZ_CRCERROR) {
        unzClose(archive);
        return false;
      }
      if (extractedBytes) *extractedBytes += static_cast<int64_t>(info.uncompressed_size);
    }
    if (i < global.number_entry && unzGoToNextFile(archive) != UNZ_OK) {
      unzClose(archive);
      return false;
    }
  }
  unzClose(archive);
  return true;
}

// Packages are unpacked two at a time: each is an archive of files of its own, and inflating
// one keeps a core busy. The outcome is still the one of a run in list order: the first package
// in the list that fails is the one reported, and no package after a failure is started (one
// already started is finished whole).
bool UnzipPackage(Patcher& patcher, const std::wstring& installDir, const std::vector<ZipListEntry>& zipEntries,
                  int64_t totalBytes) {
  const std::wstring packageDir = installDir + L"\\" + PackageRootName;
  const std::wstring zipDir = ZipDownloadDir(installDir);
  patcher.statusText = texts::Arranging;
  DeleteTree(patcher, packageDir);
  patcher.statusText = L"";
  patcher.stage = Unpacking;
  patcher.bytesDone = 0;
  patcher.bytesTotal = totalBytes;
  auto zipPath = [&](size_t i) { return zipDir + L"\\" + AnsiToWide(zipEntries[i].path); };
  const size_t count = zipEntries.size();
  std::atomic<size_t> next{0}, firstFailed{count};
  std::vector<uint32_t> codes(count, 0);  // each written by the thread that unpacked the package
  auto unpack = [&] {
    for (size_t i; (i = next++) < count && i < firstFailed;) {
      if (ExtractZip(zipPath(i), packageDir, &patcher.bytesDone)) continue;
      codes[i] = LastErrorCode();
      for (size_t seen = firstFailed; i < seen && !firstFailed.compare_exchange_weak(seen, i);) {
      }
    }
  };
  std::thread helper;
  if (count > 1) {
    try {
      helper = std::thread(unpack);
    } catch (const std::system_error&) {
      // No second thread: this one unpacks them all.
    }
  }
  unpack();
  if (helper.joinable()) helper.join();
  if (firstFailed == count) return true;
  patcher.stage = Failed;
  const uint32_t code = codes[firstFailed];
  patcher.logger.error("Unzip failed! Zip path : " + WideToAnsi(zipPath(firstFailed)) + " Unzip path : " +
                       WideToAnsi(packageDir) + " LastError = " + std::to_string(code));
  patcher.statusText = texts::UnzipFailed + L" LastError(" + std::to_wstring(code) + L")";
  return false;
}
