#include "support/text_util.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

template <typename Text>
Text ReplaceEvery(Text text, const Text& from, const Text& to) {
  if (from.empty()) return text;
  // Restarting at the start of the text after each replacement (a caller relies on that for
  // repeated "https"); `to` never holds `from`, so this ends.
  for (size_t at = text.find(from); at != Text::npos; at = text.find(from)) text.replace(at, from.size(), to);
  return text;
}

}  // namespace

std::string Trim(std::string text) {
  size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  if (first == text.size()) return text;
  size_t last = text.size();
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::vector<std::string> Split(const std::string& text, char delimiter) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(delimiter, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  return ReplaceEvery(std::move(text), from, to);
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to) {
  return ReplaceEvery(std::move(text), from, to);
}

namespace {

// strtoll's reading; false when no digit was read or the value is out of its range.
bool ReadDecimal(const std::string& text, long long& value) {
  errno = 0;
  const char* start = text.c_str();
  char* end = nullptr;
  value = strtoll(start, &end, 10);
  return end != start && errno != ERANGE;
}

}  // namespace

int64_t ToInt64(const std::string& text) {
  long long value = 0;
  return ReadDecimal(text, value) ? value : 0;
}

int32_t ToInt(const std::string& text) {
  int64_t value = ToInt64(text);
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(value);
}

uint32_t ToUInt(const std::string& text) {
  long long value = 0;
  if (!ReadDecimal(text, value)) return 0;
  if (value > static_cast<long long>(std::numeric_limits<uint32_t>::max()) ||
      value < -static_cast<long long>(std::numeric_limits<uint32_t>::max())) {
    return 0;
  }
  // A negative text wraps around as strtoul's does with a 32-bit unsigned long: "-1" is 4294967295.
  return static_cast<uint32_t>(value);
}

bool ParseDigits(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

bool IsHexDigits(const std::string& text, size_t length, bool upperCase) {
  if (text.size() != length) return false;
  for (char c : text) {
    const bool letter = upperCase ? (c >= 'A' && c <= 'F') : (c >= 'a' && c <= 'f');
    if (!(c >= '0' && c <= '9') && !letter) return false;
  }
  return true;
}
