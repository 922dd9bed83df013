// Real files in temporary folders for the tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testfiles {

std::filesystem::path FsPath(const std::wstring& path);
std::wstring WidePath(const std::filesystem::path& path);

// A path of the Linux host as the test program can open it (drive Z: under Wine).
std::wstring HostPath(const std::string& linuxPath);

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  // path, a backslash, relative (relative may use backslashes).
  std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

 private:
  std::wstring path_;
};

// Writes bytes, creating the parent folders; false when they did not all reach the file.
bool WriteFile(const std::wstring& path, const std::string& content);
std::string ReadFile(const std::wstring& path);
bool Exists(const std::wstring& path);
// File names directly in a folder, sorted.
std::vector<std::wstring> ListNames(const std::wstring& dir);
// The lines of a log file with their time stamps ("YYYY-MM-DD HH:MM:SS : ") cut out and their
// line ends removed.
std::vector<std::string> LogLines(const std::wstring& path);
// The same for today's log of the installation in installDir (Log\YYYYMMDD.txt).
std::vector<std::string> DayLogLines(const std::wstring& installDir);
// CRC-32 of bytes as the lists write it: 8 upper-case hex digits.
std::string CrcText(const std::string& data);
// data with its last four bytes replaced so that its CRC-32 is unchanged while its content is
// not: what an attacker can do to any file that only a CRC protects (data: at least 4 bytes).
std::string ForgeSameCrc(std::string data, const std::string& replacement);
// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t size, uint32_t seed);
// The test process's resident memory now, in bytes (the working set under Windows); 0 when the
// system does not say.
uint64_t ResidentBytes();
// The bytes of every file below a folder.
uint64_t TreeBytes(const std::wstring& dir);
// Makes a file read-only (or writable again).
void SetReadOnly(const std::wstring& path, bool readOnly);

}  // namespace testfiles
