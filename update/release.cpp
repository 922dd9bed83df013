#include "update/release.h"

#include <cstdio>
#include <vector>

#include "platform/files.h"
#include "support/names.h"
#include "support/text_util.h"

namespace {

const std::string kHeader = "VORELRELEASE 1";

bool IsSha256Hex(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool ParseSize(const std::string& text, uint64_t& size) {
  if (text.empty() || text.size() > 19) return false;
  size = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    size = size * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

std::string ItemLine(const std::string& kind, const ReleaseItem& item, const std::string& path) {
  return kind + " " + std::to_string(item.size) + " " + item.sha256 + " " + path + "\n";
}

}  // namespace

std::string FormatReleaseManifest(const ReleaseManifest& m) {
  std::string text = kHeader + "\n";
  text += "launcherVersion=" + FormatVersion(m.launcherVersion) + "\n";
  text += "zipVersion=" + FormatVersion(m.zipVersion) + "\n";
  text += "incrementVersion=" + FormatVersion(m.incrementVersion) + "\n";
  for (const auto& t : m.texts) text += "text " + t.second + " " + t.first + "\n";
  text += ItemLine("launcher", m.launcherPackage, m.launcherPath);
  for (const auto& p : m.packages) text += ItemLine("package", p.second, p.first);
  for (const auto& f : m.files) text += ItemLine("file", f.second, f.first);
  return text;
}

bool ParseReleaseManifest(const std::string& text, ReleaseManifest& m, std::string& problem) {
  m = ReleaseManifest{};
  if (text.empty() || text.back() != '\n') {
    problem = "the manifest does not end with a line end";
    return false;
  }
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  bool haveLauncher = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    auto bad = [&](const std::string& why) {
      problem = "line " + std::to_string(i + 1) + ": " + why;
      return false;
    };
    if (i == 0) {
      if (line != kHeader) return bad("not a release manifest");
      continue;
    }
    size_t equals = line.find('=');
    if (i <= 3) {
      static const char* const keys[] = {"launcherVersion", "zipVersion", "incrementVersion"};
      Version* versions[] = {&m.launcherVersion, &m.zipVersion, &m.incrementVersion};
      if (equals == std::string::npos || line.substr(0, equals) != keys[i - 1]) return bad("expected " + std::string(keys[i - 1]));
      *versions[i - 1] = ParseVersion(line.substr(equals + 1));
      if (!IsValidVersion(*versions[i - 1]) || FormatVersion(*versions[i - 1]) != line.substr(equals + 1))
        return bad("not a version");
      continue;
    }
    // "text SHA NAME" or "KIND SIZE SHA PATH"; the path is last because it may hold blanks.
    size_t first = line.find(' ');
    std::string kind = line.substr(0, first);
    if (first == std::string::npos) return bad("no fields");
    if (kind == "text") {
      size_t second = line.find(' ', first + 1);
      if (second == std::string::npos) return bad("no name");
      std::string sha = line.substr(first + 1, second - first - 1), name = line.substr(second + 1);
      if (!IsSha256Hex(sha) || name.empty()) return bad("malformed text entry");
      if (!m.texts.emplace(name, sha).second) return bad("repeats " + name);
      continue;
    }
    size_t second = line.find(' ', first + 1);
    size_t third = second == std::string::npos ? second : line.find(' ', second + 1);
    if (third == std::string::npos) return bad("too few fields");
    ReleaseItem item;
    std::string path = line.substr(third + 1);
    item.sha256 = line.substr(second + 1, third - second - 1);
    if (!ParseSize(line.substr(first + 1, second - first - 1), item.size) || !IsSha256Hex(item.sha256) ||
        path.empty())
      return bad("malformed " + kind + " entry");
    if (kind == "launcher") {
      if (haveLauncher) return bad("a second launcher package");
      haveLauncher = true;
      m.launcherPath = path;
      m.launcherPackage = item;
    } else if (kind == "package" || kind == "file") {
      auto& items = kind == "package" ? m.packages : m.files;
      if (!items.emplace(path, item).second) return bad("repeats " + path);
    } else {
      return bad("unknown entry " + kind);
    }
  }
  if (lines.size() < 4) {
    problem = "the versions are missing";
    return false;
  }
  if (!haveLauncher) {
    problem = "no launcher package";
    return false;
  }
  return true;
}

bool VersionIsLower(const Version& a, const Version& b) {
  if (a.major != b.major) return a.major < b.major;
  if (a.minor != b.minor) return a.minor < b.minor;
  return a.patch < b.patch;
}

namespace {

std::wstring RecordPath(const std::wstring& installDir) {
  return installDir + L"\\" + ConfigDirName + L"\\" + AcceptedReleaseFileW;
}

}  // namespace

bool ReadAcceptedRelease(const std::wstring& installDir, Version& launcher, Version& game) {
  std::string text;
  if (!ReadWholeFile(RecordPath(installDir), text)) return false;
  std::vector<std::string> lines = Split(text, '\n');
  if (lines.size() < 2 || lines[0].rfind("launcherVersion=", 0) != 0 || lines[1].rfind("incrementVersion=", 0) != 0)
    return false;
  launcher = ParseVersion(lines[0].substr(16));
  game = ParseVersion(lines[1].substr(17));
  return IsValidVersion(launcher) && IsValidVersion(game);
}

bool WriteAcceptedRelease(const std::wstring& installDir, const ReleaseManifest& manifest) {
  std::string text = "launcherVersion=" + FormatVersion(manifest.launcherVersion) + "\nincrementVersion=" +
                     FormatVersion(manifest.incrementVersion) + "\n";
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
