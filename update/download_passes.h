// Bringing a whole list of files onto disk, in passes over the base addresses: each pass
// fetches what is still missing or damaged from the next address. Zip packages go through two
// worker threads; increment files are fetched one by one on the update thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "update/file_list.h"
#include "update/patch_list.h"

class Patcher;

struct DownloadCounters {
  int32_t failedFiles = 0;
  int32_t localFaults = 0;
};

DownloadCounters DownloadZipFiles(Patcher& patcher, const std::wstring& installDir,
                                  const std::vector<std::string>& baseUrls, std::vector<ZipListEntry>& entries,
                                  int32_t filesToDownload, uint64_t bytesToDownload);

// What a release offers besides whole files: patches that rebuild a changed file from the copy
// the player has. A file whose installed copy is a patch's base gets the patch first; when the
// patch cannot be fetched, does not check out, does not apply or its result fails the file's
// check, the whole file is fetched as ever.
struct IncrementPatches {
  std::wstring baseDir;              // the installed game files: the patches' bases
  std::wstring workDir;              // where fetched patches wait for their apply
  std::vector<std::string> folders;  // the patch list's folder at each address, ending in "/"
  std::multimap<std::string, PatchListEntry> list;
};

DownloadCounters DownloadIncrementFiles(Patcher& patcher, const std::wstring& targetDir,
                                        const std::vector<std::string>& baseUrls,
                                        std::vector<FileListEntry>& entries, int32_t filesToDownload,
                                        uint64_t bytesToDownload, const IncrementPatches* patches = nullptr);
