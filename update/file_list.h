// The two list texts of the update server: the increment file list (one game file a line:
// name=path$size$CRC) and the zip list (one package a line: name=path$unpacked$size$CRC).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Patcher;
struct DownloadStatus;

// a + b, or limit when the sum would pass it: byte totals from server lists never wrap.
inline uint64_t SaturatingAdd(uint64_t a, uint64_t b, uint64_t limit = UINT64_MAX) {
  return a > limit || b > limit - a ? limit : a + b;
}

struct FileListEntry {
  std::string name;
  std::string path;
  uint32_t size = 0;
  std::string crc;
  bool needsDownload = false;
  bool failed = false;
  std::wstring message;
  std::string sha256;  // signed releases: the manifest's SHA-256 of the file; empty otherwise
};

struct ZipListEntry {
  std::string name;
  std::string path;
  int64_t size = 0;
  int64_t unpackedSize = 0;
  std::string crc;
  bool needsDownload = false;
  bool failed = false;
  std::wstring message;
  std::shared_ptr<DownloadStatus> status;  // the package's job in the current download pass
  std::string sha256;                      // as for files
};

std::vector<FileListEntry> ParseFileList(const std::string& text, Patcher& patcher);
// Lines with a negative size or one past 1 PiB are marked failed; the unpacked total stops at
// INT64_MAX instead of wrapping.
std::vector<ZipListEntry> ParseZipList(const std::string& text, Patcher& patcher, int64_t& unpackedTotal);
// A list path is written and deleted below a folder of ours: it must be relative and must not
// climb out (".."), name a drive or stream (":"), or hold a component that Windows reads as another
// name (trailing dot or blank) or as a device (CON, NUL, COM1... in any case, with any extension).
// The rule for every name from a server, and for what vorel-publish publishes.
bool IsSafeRelativePath(const std::string& path);
// One component (no separators) that names a device in every Windows folder.
bool IsReservedDeviceName(const std::string& component);
// Why updater.bat cannot carry a launcher file name on its quoted cmd.exe lines; empty when it
// can. Blanks and , ; = ( ) are fine between quotes; % ! ^ " & | < >, wildcards, control
// characters and non-ASCII bytes are not. Checked by the self-update and by vorel-publish.
std::string ScriptNameProblem(const std::string& name);
