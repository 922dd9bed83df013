#include "update/file_list.h"

#include <set>

#include "support/text_util.h"
#include "update/patcher.h"

namespace {

std::string NormalisedCrc(const std::string& piece) {
  std::string crc = Trim(piece);
  if (crc.find_first_not_of(" \t\r\n") == std::string::npos) crc.clear();  // blanks only
  for (char& c : crc) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return crc;
}

// Calls add(name, pieces) for every line of the form name=...; lines of another shape are skipped.
template <typename Add>
void ForEachLine(const std::string& text, Add add) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> halves = Split(text.substr(start, end - start), '=');
    start = end + 1;
    if (halves.size() != 2) continue;
    add(halves[0], Split(halves[1], '$'));
  }
}

// The file a list path names on a Windows file system: separators alike, doubled or leading
// ones dropped, letters in any case.
std::string FileKey(const std::string& path) {
  std::string key;
  for (char c : path) {
    bool separator = c == '/' || c == '\\';
    if (separator && (key.empty() || key.back() == '/')) continue;
    key += separator ? '/' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return key;
}

// No package comes near a pebibyte; a size beyond that, or below zero, is a damaged line whose
// sums could wrap.
bool PlausibleSize(int64_t size) { return size >= 0 && size <= (int64_t{1} << 50); }

}  // namespace

bool IsSafeRelativePath(const std::string& path) {
  // A leading separator is harmless: every path is joined to its folder with a separator in
  // between, so "/data/a.pak" names "<folder>\\data\\a.pak". Only a path that names no file at all,
  // climbs out with "..", or carries a drive letter or stream name is refused.
  if (path.find_first_not_of("/\\") == std::string::npos) return false;
  if (path.find(':') != std::string::npos) return false;  // a drive letter or a stream name
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

namespace {

// The entry of one line: its name, and its path when the line holds `fields` pieces with a path
// that stays in its folder. False, and the entry marked failed, when it does not.
template <typename Entry>
bool ReadEntry(Entry& entry, const std::string& name, const std::vector<std::string>& pieces, size_t fields) {
  entry.name = name;
  if (pieces.size() == fields && IsSafeRelativePath(pieces[0])) {
    entry.path = pieces[0];
    return true;
  }
  entry.failed = true;
  entry.message = L"Parse Failed";
  return false;
}

}  // namespace

std::vector<FileListEntry> ParseFileList(const std::string& text, Patcher& patcher) {
  std::vector<FileListEntry> entries;
  patcher.bytesTotal = 0;
  ForEachLine(text, [&](const std::string& name, const std::vector<std::string>& pieces) {
    FileListEntry entry;
    if (ReadEntry(entry, name, pieces, 3)) {
      entry.size = ToUInt(pieces[1]);
      entry.crc = NormalisedCrc(pieces[2]);
    }
    entries.push_back(std::move(entry));
  });
  return entries;
}

std::vector<ZipListEntry> ParseZipList(const std::string& text, Patcher& patcher, int64_t& unpackedTotal) {
  std::vector<ZipListEntry> entries;
  std::set<std::string> names, paths;
  patcher.bytesTotal = 0;
  ForEachLine(text, [&](const std::string& name, const std::vector<std::string>& pieces) {
    // Each package has one download slot, keyed by its address, and one file: a second line
    // with the same name or path would share both with the first.
    if (!names.insert(name).second ||
        (pieces.size() == 4 && !paths.insert(FileKey(pieces[0])).second)) {
      patcher.logger.warning("Zip list line dropped, its package is already listed: " + name);
      return;
    }
    ZipListEntry entry;
    if (ReadEntry(entry, name, pieces, 4)) {
      entry.unpackedSize = ToInt64(pieces[1]);
      entry.size = ToInt64(pieces[2]);
      entry.crc = NormalisedCrc(pieces[3]);
      if (PlausibleSize(entry.unpackedSize) && PlausibleSize(entry.size)) {
        unpackedTotal = static_cast<int64_t>(SaturatingAdd(static_cast<uint64_t>(unpackedTotal),
                                                           static_cast<uint64_t>(entry.unpackedSize), INT64_MAX));
      } else {
        entry = ZipListEntry{};
        entry.name = name;
        entry.failed = true;
        entry.message = L"Parse Failed";
      }
    }
    entries.push_back(std::move(entry));
  });
  return entries;
}
