// Local verification: a file is intact when it exists, opens, has the listed size and its
// CRC-32 equals the listed one (and, for a package of a signed release, its SHA-256 too).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/file_list.h"

class Patcher;

// CRC-32 of the whole file as 8 upper-case hex digits ("00000000" for an empty file), or ""
// when the file does not open. size, when given, receives the file's 64-bit size; sha256, when
// given, the file's SHA-256 (64 lower-case hex digits) from the same read ("" when it does not open).
std::string FileCrc(const std::wstring& path, uint64_t* size = nullptr, std::string* sha256 = nullptr);

struct CheckResults {
  int32_t faults = 0;           // files that exist but failed to open
  int32_t filesToDownload = 0;
  uint64_t bytesToDownload = 0;
};

// Marks the game files that must be downloaded.
// With withSha, a file whose SHA-256 differs from its entry's is damaged too.
CheckResults CheckLocalFiles(Patcher& patcher, const std::wstring& gameDir, std::vector<FileListEntry>& entries,
                             bool withSha = false);
// Marks the packages in baseDir\Temp\ZipUpdate that must be downloaded; damaged ones are deleted.
CheckResults CheckZipFiles(Patcher& patcher, const std::wstring& baseDir, std::vector<ZipListEntry>& entries);
// baseDir\Temp\ZipUpdate
std::wstring ZipDownloadDir(const std::wstring& baseDir);
