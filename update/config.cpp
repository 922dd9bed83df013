#include "update/config.h"

#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/text.h"
#include "support/ini_reader.h"
#include "support/logger.h"
#include "support/names.h"
#include "support/text_util.h"
#include "update/file_list.h"

KeyedAlphabet::KeyedAlphabet(const std::string& keyword) : keyword_(keyword) {
  if (keyword.empty()) return;
  bool taken[26] = {};
  size_t n = 0;
  auto take = [&](char c) {
    taken[c - 'A'] = true;
    upper_[n] = c;
    lower_[n] = static_cast<char>(c - 'A' + 'a');
    ++n;
  };
  for (char c : keyword) {
    if (c >= 'A' && c <= 'Z' && !taken[c - 'A']) take(c);
  }
  for (char c = 'A'; c <= 'Z'; ++c) {
    if (!taken[c - 'A']) take(c);
  }
  for (int i = 0; i < 26; ++i) {
    reverseUpper_[upper_[i] - 'A'] = static_cast<char>('A' + i);
    reverseLower_[lower_[i] - 'a'] = static_cast<char>('a' + i);
  }
  built_ = true;
}

namespace {

// Every ASCII letter replaced by its counterpart in the tables; everything else as it is.
std::string Substitute(const std::string& text, const std::array<char, 26>& upper, const std::array<char, 26>& lower) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = upper[c - 'A'];
    else if (c >= 'a' && c <= 'z') c = lower[c - 'a'];
  }
  return out;
}

}  // namespace

std::string KeyedAlphabet::descramble(const std::string& text) const {
  return built_ ? Substitute(text, reverseUpper_, reverseLower_) : text;
}

std::string KeyedAlphabet::scramble(const std::string& text) const {
  return built_ ? Substitute(text, upper_, lower_) : text;
}

Version ParseVersion(const std::string& text) {
  std::vector<std::string> pieces = Split(text, '.');
  if (pieces.size() != 3) return Version{};
  return Version{ToInt(pieces[0]), ToInt(pieces[1]), ToInt(pieces[2])};
}

std::string FormatVersion(const Version& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

bool IsValidVersion(const Version& v) { return v.major >= 1 && v.minor >= 0 && v.patch >= 0; }

PackageInfo ParsePackageText(const std::string& text) {
  PackageInfo info;
  std::vector<std::string> pieces = Split(text, '$');
  // The path names a file below Temp: one that would climb out counts as a wrong shape.
  if (pieces.size() == 4 && IsSafeRelativePath(pieces[0])) {
    info.path = pieces[0];
    info.unpackedSize = ToInt64(pieces[1]);
    info.size = ToInt64(pieces[2]);
    info.crc = pieces[3];
  }
  return info;
}

bool VersionIsLower(const Version& a, const Version& b) {
  if (a.major != b.major) return a.major < b.major;
  if (a.minor != b.minor) return a.minor < b.minor;
  return a.patch < b.patch;
}

bool LauncherIsOlder(const Version& local, const Version& remote, bool releaseOrder) {
  if (!IsValidVersion(local)) return true;
  if (releaseOrder) return IsValidVersion(remote) && VersionIsLower(local, remote);
  return local.major < remote.major || local.minor < remote.minor || local.patch < remote.patch;
}

bool GameNeedsZip(const Version& g, const ServerConfig& remote, bool releaseOrder) {
  if (!IsValidVersion(g)) return true;
  const Version& inc = remote.incrementVersion;
  if (g.major == inc.major && g.minor == inc.minor && g.patch == inc.patch) return false;
  if (!remote.useZip) return false;
  const Version& zip = remote.zipVersion;
  if (releaseOrder) return VersionIsLower(g, zip);
  return g.major < zip.major || g.minor < zip.minor || g.patch < zip.patch;
}

void RewriteHttps(std::vector<std::string>& addresses) {
  for (auto& address : addresses) address = ReplaceAll(address, "https", "http");
}

bool LooksPlain(const std::string& addressList) {
  std::vector<std::string> pieces = Split(addressList, ':');
  if (pieces.empty()) return false;
  const std::string& scheme = pieces.front();
  return scheme == "http" || scheme == "https" || scheme == "ftp";
}

namespace {

// Reads the top-level values of one configuration file; a missing file reads as empty. A
// syntax error is logged with the file's path and leaves `values` untouched.
bool ReadTopLevel(const std::wstring& path, const std::vector<std::string>& keys, std::vector<std::string>& values,
                  const char* errorPrefix, Logger& logger) {
  std::string content;
  ReadWholeFile(path, content);
  std::istringstream input(content);
  try {
    IniReader reader(input);
    values.clear();
    for (const auto& key : keys) values.push_back(reader.top().value(key));
  } catch (const std::runtime_error& e) {
    logger.error(errorPrefix + WideToAnsi(path) + e.what());
    return false;
  }
  return true;
}

}  // namespace

bool ParseServerConfig(const std::wstring& path, ServerConfig& config, bool isLocal, const KeyedAlphabet& alphabet,
                       Logger& logger) {
  enum { IncrementVersion, IncrementUrls, ZipVersion, UseZip, ZipUpdateUrls, ZipListUrls, FileListUrls, UsePackage };
  std::vector<std::string> v;
  if (!ReadTopLevel(path,
                    {"incrementVersion", "incrementupdateURLs", "zipVersion", "useZip", "zipupdateURLs",
                     "ziplistURLs", "filelistURLs", "usePackage"},
                    v, "Process serverConfig error! ", logger))
    return false;
  config.incrementVersion = ParseVersion(v[IncrementVersion]);
  config.zipVersion = ParseVersion(v[ZipVersion]);
  if (isLocal) config.usePackage = v[UsePackage] == "True";
  if (v[FileListUrls].empty()) return false;
  bool plain = LooksPlain(v[FileListUrls]);
  if (isLocal) return true;
  auto value = [&](int index) { return plain ? v[index] : alphabet.descramble(v[index]); };
  config.ziplistURLs = Split(value(ZipListUrls), '$');
  config.useZip = value(UseZip) == "True";
  config.incrementupdateURLs = Split(value(IncrementUrls), '$');
  config.zipupdateURLs = Split(value(ZipUpdateUrls), '$');
  config.filelistURLs = Split(value(FileListUrls), '$');
  return true;
}

bool ParseLauncherConfig(const std::wstring& path, LauncherConfig& config, const KeyedAlphabet& alphabet,
                         Logger& logger) {
  std::vector<std::string> v;
  if (!ReadTopLevel(path, {"launcherVersion", "remoteURLs", "launcherZipInfo"}, v, "Process launcherconfig error! ",
                    logger))
    return false;
  if (v[1].empty()) return false;
  if (!LooksPlain(v[1])) {
    for (auto& value : v) value = alphabet.descramble(value);
  }
  config.launcherVersion = ParseVersion(v[0]);
  config.remoteURLs = Split(v[1], '$');
  config.launcherZipInfo = ParsePackageText(v[2]);
  return true;
}

std::wstring LocalServerConfigPath(const std::wstring& installDir) {
  return installDir + L"\\" + ConfigDirName + L"\\" + ServerConfigFileW;
}

bool WriteLocalServerConfig(const std::wstring& installDir, const Version& zipVersion,
                            const Version& incrementVersion, bool usePackage) {
  std::wstring path = LocalServerConfigPath(installDir);
  CreateDirectories(path);
  FILE* file = OpenFile(path, L"wb");
  if (!file) return false;
  std::string text = "incrementVersion=" + FormatVersion(incrementVersion) + "\n" +
                     "zipVersion=" + FormatVersion(zipVersion) + "\n" +
                     (usePackage ? "usePackage=True\n" : "usePackage=False\n");
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  // A full disk shows only when the buffered bytes are flushed at the close.
  return fclose(file) == 0 && written;
}

bool SetLocalServerConfigValue(const std::wstring& installDir, const std::string& key, const std::string& value) {
  std::wstring path = LocalServerConfigPath(installDir);
  if (!FileExists(path)) return true;
  std::string content;
  if (!ReadWholeFile(path, content)) return false;
  std::string rewritten;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    std::vector<std::string> pieces = Split(line, '=');
    if (pieces.empty()) continue;
    rewritten += (pieces.front() == key ? key + "=" + value : line) + "\r\n";
  }
  // Everything was read first: a file that cannot be reopened for writing stays as it was.
  FILE* file = OpenFile(path, L"wb");
  if (!file) return false;
  bool written = fwrite(rewritten.data(), 1, rewritten.size(), file) == rewritten.size();
  return fclose(file) == 0 && written;
}
