// Bringing a whole list of files onto disk, in passes over the base addresses: each pass
// fetches what is still missing or damaged from the next address. Zip packages go through two
// worker threads; increment files are fetched one by one on the update thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/file_list.h"

class Patcher;

struct DownloadCounters {
  int32_t failedFiles = 0;
  int32_t localFaults = 0;
};

DownloadCounters DownloadZipFiles(Patcher& patcher, const std::wstring& installDir,
                                  const std::vector<std::string>& baseUrls, std::vector<ZipListEntry>& entries,
                                  int32_t filesToDownload, uint64_t bytesToDownload);
DownloadCounters DownloadIncrementFiles(Patcher& patcher, const std::wstring& targetDir,
                                        const std::vector<std::string>& baseUrls,
                                        std::vector<FileListEntry>& entries, int32_t filesToDownload,
                                        uint64_t bytesToDownload);
