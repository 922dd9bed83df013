// The server configuration (serverconfig.txt) and the launcher configuration
// (launcherconfig.txt), remote and local: records, parsers, version rules, the keyed-alphabet
// scrambling of remote values, and the writers of the local server configuration.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class Logger;

struct Version {
  int32_t major = -1;
  int32_t minor = -1;
  int32_t patch = -1;
};

struct PackageInfo {
  std::string path;
  int64_t unpackedSize = -1;
  int64_t size = -1;
  std::string crc;
  std::string sha256;  // signed releases: the manifest's SHA-256 of the package; empty otherwise
};

struct ServerConfig {
  Version incrementVersion;
  Version zipVersion;
  std::vector<std::string> filelistURLs;
  std::vector<std::string> ziplistURLs;
  std::vector<std::string> zipupdateURLs;
  std::vector<std::string> incrementupdateURLs;
  bool useZip = false;
  bool usePackage = false;
};

struct LauncherConfig {
  Version launcherVersion;
  std::vector<std::string> remoteURLs;
  PackageInfo launcherZipInfo;
};

// Letter substitution keyed by a word: the keyword's distinct upper-case letters first, then
// the rest of the alphabet. Only ASCII letters change; everything else passes through.
class KeyedAlphabet {
 public:
  KeyedAlphabet() = default;
  explicit KeyedAlphabet(const std::string& keyword);
  const std::string& keyword() const { return keyword_; }
  std::string descramble(const std::string& text) const;
  // The exact inverse of descramble, for publishing scrambled configuration files.
  std::string scramble(const std::string& text) const;

 private:
  std::string keyword_;
  bool built_ = false;
  std::array<char, 26> upper_{}, lower_{};                 // keyed alphabets
  std::array<char, 26> reverseUpper_{}, reverseLower_{};   // keyed letter -> plain letter
};

Version ParseVersion(const std::string& text);
std::string FormatVersion(const Version& version);
bool IsValidVersion(const Version& version);
PackageInfo ParsePackageText(const std::string& text);
// Component by component, each on its own: 2.0.0 against 1.5.0 counts as older.
// Release order: major, then minor, then patch.
bool VersionIsLower(const Version& a, const Version& b);
// Both compare each component on its own (4.2.0 counts as older than 4.1.5) unless releaseOrder
// asks for release order, as signed releases do: there a replayed older release must never look
// newer.
bool LauncherIsOlder(const Version& local, const Version& remote, bool releaseOrder = false);
bool GameNeedsZip(const Version& localGame, const ServerConfig& remote, bool releaseOrder = false);
// "https" -> "http" everywhere in every address.
void RewriteHttps(std::vector<std::string>& addresses);
// Plain when the first ":"-piece of the address list is exactly http, https or ftp.
bool LooksPlain(const std::string& addressList);

bool ParseServerConfig(const std::wstring& path, ServerConfig& config, bool isLocal, const KeyedAlphabet& alphabet,
                       Logger& logger);
bool ParseLauncherConfig(const std::wstring& path, LauncherConfig& config, const KeyedAlphabet& alphabet,
                         Logger& logger);

// installDir\Config\serverconfig.txt
std::wstring LocalServerConfigPath(const std::wstring& installDir);
// Three LF-ended lines; false when the file cannot be created.
bool WriteLocalServerConfig(const std::wstring& installDir, const Version& zipVersion,
                            const Version& incrementVersion, bool usePackage);
// Replaces the lines whose key is exactly `key` (never adds one); rewrites with CR LF.
// False when the rewritten file could not be written completely.
bool SetLocalServerConfigValue(const std::wstring& installDir, const std::string& key, const std::string& value);
