#include "update/release.h"

#include <cstdio>
#include <vector>

#include "platform/files.h"
#include "support/names.h"
#include "support/text_util.h"

namespace {

const std::string kHeader = "VORELRELEASE 2";

bool IsSha256Hex(const std::string& text) { return IsHexDigits(text, 64, false); }

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

std::string ItemLine(const std::string& kind, const ReleaseItem& item, const std::string& path) {
  return kind + " " + std::to_string(item.size) + " " + item.sha256 + " " + path + "\n";
}

}  // namespace

std::string FormatUtcTime(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  int64_t year;
  unsigned month, day;
  CivilFromDays(seconds / 86400, year, month, day);
  const int64_t second = seconds % 86400;
  char text[40];
  snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(year), month, day,
           static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
  return text;
}

bool ParseUtcTime(const std::string& text, int64_t& seconds) {
  // Exactly YYYY-MM-DDTHH:MM:SSZ.
  static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof kShape - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return false;
  }
  auto number = [&](size_t at, size_t length) { return static_cast<unsigned>(std::stoul(text.substr(at, length))); };
  const unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 ||
      second > 59)
    return false;
  seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return FormatUtcTime(seconds) == text;  // 29 February of a common year comes back otherwise
}

std::string FormatReleaseManifest(const ReleaseManifest& m) {
  std::string text = kHeader + "\n";
  text += "launcherVersion=" + FormatVersion(m.launcherVersion) + "\n";
  text += "zipVersion=" + FormatVersion(m.zipVersion) + "\n";
  text += "incrementVersion=" + FormatVersion(m.incrementVersion) + "\n";
  text += "issued=" + FormatUtcTime(m.issued) + "\n";
  text += "expires=" + FormatUtcTime(m.expires) + "\n";
  for (const auto& t : m.texts) text += "text " + t.second + " " + t.first + "\n";
  text += ItemLine("launcher", m.launcherPackage, m.launcherPath);
  for (const auto& p : m.packages) text += ItemLine("package", p.second, p.first);
  for (const auto& f : m.files) text += ItemLine("file", f.second, f.first);
  return text;
}

namespace {

// Lines 2 to 6: the three versions and the two dates, each under its key. Returns what is wrong
// with the line, or nothing.
std::string ParseHeadLine(size_t i, const std::string& line, ReleaseManifest& m) {
  const size_t equals = line.find('=');
  const std::string key = line.substr(0, equals), value = equals == std::string::npos ? "" : line.substr(equals + 1);
  if (i <= 3) {
    static const char* const keys[] = {"launcherVersion", "zipVersion", "incrementVersion"};
    Version* versions[] = {&m.launcherVersion, &m.zipVersion, &m.incrementVersion};
    if (equals == std::string::npos || key != keys[i - 1]) return "expected " + std::string(keys[i - 1]);
    *versions[i - 1] = ParseVersion(value);
    if (!IsValidVersion(*versions[i - 1]) || FormatVersion(*versions[i - 1]) != value) return "not a version";
    return "";
  }
  const char* expected = i == 4 ? "issued" : "expires";
  if (equals == std::string::npos || key != expected) return "expected " + std::string(expected);
  if (!ParseUtcTime(value, i == 4 ? m.issued : m.expires)) return "not a UTC time";
  if (i == 5 && m.expires <= m.issued) return "expires before it was issued";
  return "";
}

// "text SHA NAME" or "KIND SIZE SHA PATH"; the path is last because it may hold blanks. Returns
// what is wrong with the line, or nothing.
std::string ParseEntryLine(const std::string& line, ReleaseManifest& m, bool& haveLauncher) {
  const size_t first = line.find(' ');
  if (first == std::string::npos) return "no fields";
  const std::string kind = line.substr(0, first);
  const size_t second = line.find(' ', first + 1);
  if (kind == "text") {
    if (second == std::string::npos) return "no name";
    std::string sha = line.substr(first + 1, second - first - 1), name = line.substr(second + 1);
    if (!IsSha256Hex(sha) || name.empty()) return "malformed text entry";
    if (!m.texts.emplace(name, sha).second) return "repeats " + name;
    return "";
  }
  const size_t third = second == std::string::npos ? second : line.find(' ', second + 1);
  if (third == std::string::npos) return "too few fields";
  ReleaseItem item;
  const std::string path = line.substr(third + 1);
  item.sha256 = line.substr(second + 1, third - second - 1);
  if (!ParseDigits(line.substr(first + 1, second - first - 1), item.size) || !IsSha256Hex(item.sha256) || path.empty())
    return "malformed " + kind + " entry";
  if (kind == "launcher") {
    if (haveLauncher) return "a second launcher package";
    haveLauncher = true;
    m.launcherPath = path;
    m.launcherPackage = item;
  } else if (kind == "package" || kind == "file") {
    auto& items = kind == "package" ? m.packages : m.files;
    if (!items.emplace(path, item).second) return "repeats " + path;
  } else {
    return "unknown entry " + kind;
  }
  return "";
}

}  // namespace

bool ParseReleaseManifest(const std::string& text, ReleaseManifest& m, std::string& problem) {
  m = ReleaseManifest{};
  if (text.empty() || text.back() != '\n') {
    problem = "the manifest does not end with a line end";
    return false;
  }
  bool haveLauncher = false;
  size_t lines = 0;
  for (size_t start = 0; start < text.size(); ++lines) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::string wrong = lines == 0   ? (line == kHeader ? "" : "not a release manifest")
                              : lines <= 5 ? ParseHeadLine(lines, line, m)
                                           : ParseEntryLine(line, m, haveLauncher);
    if (!wrong.empty()) {
      problem = "line " + std::to_string(lines + 1) + ": " + wrong;
      return false;
    }
  }
  if (lines < 6) {
    problem = "the versions or dates are missing";
    return false;
  }
  if (!haveLauncher) {
    problem = "no launcher package";
    return false;
  }
  return true;
}

namespace {

std::wstring RecordPath(const std::wstring& installDir) {
  return installDir + L"\\" + ConfigDirName + L"\\" + AcceptedReleaseFileW;
}

}  // namespace

bool ReadAcceptedRelease(const std::wstring& installDir, AcceptedRelease& record) {
  std::string text;
  if (!ReadWholeFile(RecordPath(installDir), text)) return false;
  std::vector<std::string> lines = Split(text, '\n');
  if (lines.size() < 2 || lines[0].rfind("launcherVersion=", 0) != 0 || lines[1].rfind("incrementVersion=", 0) != 0)
    return false;
  record = AcceptedRelease{};
  record.launcher = ParseVersion(lines[0].substr(16));
  record.game = ParseVersion(lines[1].substr(17));
  // The issue time came later: a record without it still holds its versions.
  if (lines.size() >= 3 && lines[2].rfind("issued=", 0) == 0 && !ParseUtcTime(lines[2].substr(7), record.issued))
    return false;
  return IsValidVersion(record.launcher) && IsValidVersion(record.game);
}

std::string FormatAcceptedRelease(const ReleaseManifest& manifest) {
  return "launcherVersion=" + FormatVersion(manifest.launcherVersion) + "\nincrementVersion=" +
         FormatVersion(manifest.incrementVersion) + "\nissued=" + FormatUtcTime(manifest.issued) + "\n";
}

bool WriteAcceptedRelease(const std::wstring& installDir, const ReleaseManifest& manifest) {
  const std::string text = FormatAcceptedRelease(manifest);
  // Written whole beside the record and moved over it: a cut write never loses the old one.
  const std::wstring staged = installDir + L"\\" + TempDirName + L"\\" + AcceptedReleaseFileW;
  CreateDirectories(staged);
  FILE* file = OpenFile(staged, L"wb");
  if (!file) return false;
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  if (fclose(file) != 0) written = false;
  const std::wstring record = RecordPath(installDir);
  CreateDirectories(record);
  bool moved = written && CopyFileOver(staged, record);
  RemoveFileCrt(staged);
  return moved;
}
