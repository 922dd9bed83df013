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

bool IsReservedDeviceName(const std::string& component) {
  // Windows finds the device however the name goes on after a dot ("nul.txt", "aux.tar.gz")
  // and ignores blanks before that dot ("con .txt").
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$" || base == "CLOCK$")
    return true;
  if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
  const std::string number = base.substr(3);
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  // Superscript one, two and three, in the ANSI code pages and in UTF-8.
  for (const char* superscript : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"}) {
    if (number == superscript) return true;
  }
  return false;
}

bool IsSafeRelativePath(const std::string& path) {
  // A leading separator is harmless: every path is joined to its folder with a separator in
  // between, so "/data/a.pak" names "<folder>\\data\\a.pak". Refused: a path that names no file
  // at all, climbs out with "..", carries a drive letter or stream name, or has a component
  // Windows would read as another name (a trailing dot or blank is dropped) or as a device.
  if (path.find_first_not_of("/\\") == std::string::npos) return false;
  if (path.find(':') != std::string::npos) return false;  // a drive letter or a stream name
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      const std::string component = path.substr(start, end - start);
      if (component.back() == '.' || component.back() == ' ' || IsReservedDeviceName(component)) return false;
    }
    start = end + 1;
  }
  return true;
}

std::string ScriptNameProblem(const std::string& name) {
  if (name.empty() || name.find_first_of("/\\") != std::string::npos || !IsSafeRelativePath(name))
    return "not a plain file name that Windows keeps as written";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return "control characters are not allowed";
    if (c >= 0x80) return "cmd.exe reads the script in the OEM code page: only ASCII names are kept as written";
    if (std::string("%!^\"&|<>").find(static_cast<char>(c)) != std::string::npos)
      return std::string("cmd.exe reads \"") + static_cast<char>(c) + "\" in a script line as syntax, even quoted";
    if (c == '*' || c == '?') return std::string("\"") + static_cast<char>(c) + "\" is a wildcard for copy and move";
  }
  return "";
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
