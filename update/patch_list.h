// The patch list: what a release offers besides whole files. It sits beside the file list as
// patchlist.txt, one patch a line:
//   path=baseSize$baseCRC$patchAddress$patchSize$patchCRC$resultSize$resultCRC[$patchSHA256]
// A patch turns the copy of path whose size and CRC-32 are baseSize and baseCRC into the one the
// file list names (resultSize and resultCRC). patchAddress is relative to the list's own folder.
// A signed release's list gives every patch's SHA-256, and the manifest vouches for the list.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

inline const std::string PatchListNameA = "patchlist.txt";

struct PatchListEntry {
  std::string path;
  uint64_t baseSize = 0;
  std::string baseCrc;  // 8 upper-case hex digits, as FileCrc gives them
  std::string address;
  uint64_t patchSize = 0;
  std::string patchCrc;
  uint64_t resultSize = 0;
  std::string resultCrc;
  std::string patchSha256;  // 64 lower-case hex digits, or empty
};

std::string FormatPatchListLine(const PatchListEntry& entry);

// The lines that can be used, by path (several bases a path); every other line is skipped and
// counted in skipped. A line is usable when its paths are safe, its sizes and checksums are well
// formed, and its patch is smaller than its result (a larger one would gain nothing).
std::multimap<std::string, PatchListEntry> ParsePatchList(const std::string& text, size_t* skipped = nullptr);
