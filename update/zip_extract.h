// Extraction of zip packages (zip and zip64, stored or deflated) with minizip's unzip interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "update/file_list.h"

class Patcher;

// An archive entry name that stays below the destination and names the file it says: the rules
// of list paths (IsSafeRelativePath), after the "/" that ends a directory entry.
bool IsSafeEntryName(const std::string& name);
// Writes the entry opened in archive (an unzFile) to path. 0 when the whole entry was written,
// a negative minizip code on a read error, -1 when path is empty or cannot be created.
int WriteCurrentEntry(void* archive, const std::wstring& path);
// Extracts every entry below destinationDir. Archives with an entry that would land outside
// it are refused before anything is written.
bool ExtractZip(std::wstring zipPath, std::wstring destinationDir, std::atomic<int64_t>* extractedBytes = nullptr);
// Empties installDir\Package and extracts every package of the zip list into it.
bool UnzipPackage(Patcher& patcher, const std::wstring& installDir, const std::vector<ZipListEntry>& zipEntries,
                  int64_t totalBytes);
