#include "update/patch_list.h"

#include "support/text_util.h"
#include "update/file_list.h"

namespace {

// No game file comes near 2^50 bytes.
bool ParseSize(const std::string& text, uint64_t& value) {
  return ParseDigits(text, value) && value <= (uint64_t{1} << 50);
}

bool ParseLine(const std::string& line, PatchListEntry& entry) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  entry.path = line.substr(0, equals);
  std::vector<std::string> pieces = Split(line.substr(equals + 1), '$');
  if (pieces.size() != 7 && pieces.size() != 8) return false;
  entry.baseCrc = pieces[1];
  entry.address = pieces[2];
  entry.patchCrc = pieces[4];
  entry.resultCrc = pieces[6];
  entry.patchSha256 = pieces.size() == 8 ? pieces[7] : "";
  return IsSafeRelativePath(entry.path) && IsSafeRelativePath(entry.address) && ParseSize(pieces[0], entry.baseSize) &&
         ParseSize(pieces[3], entry.patchSize) && ParseSize(pieces[5], entry.resultSize) &&
         IsHexDigits(entry.baseCrc, 8, true) && IsHexDigits(entry.patchCrc, 8, true) &&
         IsHexDigits(entry.resultCrc, 8, true) && (entry.patchSha256.empty() || IsHexDigits(entry.patchSha256, 64, false)) && entry.patchSize > 0 &&
         entry.patchSize < entry.resultSize;
}

}  // namespace

std::string FormatPatchListLine(const PatchListEntry& e) {
  std::string line = e.path + "=" + std::to_string(e.baseSize) + "$" + e.baseCrc + "$" + e.address + "$" +
                     std::to_string(e.patchSize) + "$" + e.patchCrc + "$" + std::to_string(e.resultSize) + "$" +
                     e.resultCrc;
  if (!e.patchSha256.empty()) line += "$" + e.patchSha256;
  return line + "\n";
}

std::multimap<std::string, PatchListEntry> ParsePatchList(const std::string& text, size_t* skipped) {
  std::multimap<std::string, PatchListEntry> entries;
  size_t bad = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    PatchListEntry entry;
    if (ParseLine(line, entry))
      entries.emplace(entry.path, entry);
    else
      ++bad;
  }
  if (skipped) *skipped = bad;
  return entries;
}
