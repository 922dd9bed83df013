#include "support/test_files.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include <zlib.h>
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <unistd.h>
#endif

#include "platform/clock.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace testfiles {

#ifdef _WIN32
fs::path FsPath(const std::wstring& path) { return fs::path(path); }
std::wstring WidePath(const fs::path& path) { return path.wstring(); }
std::wstring HostPath(const std::string& linuxPath) {
  std::wstring path = L"Z:" + AnsiToWide(linuxPath);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}
#else
fs::path FsPath(const std::wstring& path) {
  std::string native = WideToAnsi(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return fs::path(native);
}
std::wstring WidePath(const fs::path& path) { return AnsiToWide(path.string()); }
std::wstring HostPath(const std::string& linuxPath) { return AnsiToWide(linuxPath); }
#endif

uint64_t ResidentBytes() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
#else
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  return statm >> size >> resident ? resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
#endif
}

uint64_t TreeBytes(const std::wstring& dir) {
  uint64_t total = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(FsPath(dir), error), end; !error && it != end; it.increment(error))
    if (it->is_regular_file(error)) total += it->file_size(error);
  return total;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device random;
  fs::path candidate;
  std::error_code ec;
  do {
    candidate = fs::temp_directory_path() / ("vorel-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
  } while (!fs::create_directory(candidate, ec));
  path_ = WidePath(candidate);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::path root = FsPath(path_);
  // Read-only files would stop the clean-up on Windows.
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  fs::remove_all(root, ec);
}

bool WriteFile(const std::wstring& path, const std::string& content) {
  fs::path target = FsPath(path);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return !out.fail();
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path) {
  std::error_code ec;
  return fs::exists(FsPath(path), ec);
}

std::vector<std::wstring> ListNames(const std::wstring& dir) {
  std::vector<std::wstring> names;
  std::error_code ec;
  for (auto& entry : fs::directory_iterator(FsPath(dir), ec)) names.push_back(WidePath(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> LogLines(const std::wstring& path) {
  static const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} : )");
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::regex_replace(line, stamp, "", std::regex_constants::format_first_only));
  }
  return lines;
}

std::vector<std::string> DayLogLines(const std::wstring& installDir) {
  return LogLines(installDir + L"\\Log\\" + AnsiToWide(TodayText()) + L".txt");
}

std::string CrcText(const std::string& data) {
  char text[9];
  snprintf(text, sizeof text, "%08lX",
           crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  return text;
}

std::string ForgeSameCrc(std::string data, const std::string& replacement) {
  // The reflected CRC-32 register steps as r' = (r >> 8) ^ T[(r ^ byte) & 0xFF], and the top
  // byte of T[i] tells i apart. So the four table indices that reach the wanted final register
  // follow backwards from it, and the bytes that pick them forwards from the prefix's register.
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  const uint32_t wanted = ~static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                                       static_cast<uInt>(data.size())));
  data.replace(0, replacement.size(), replacement);
  const size_t tail = data.size() - 4;
  uint32_t reg = ~static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(tail)));
  uint8_t index[4];
  uint32_t back = wanted;
  for (int k = 3; k >= 0; --k) {
    uint32_t i = 0;
    while ((table[i] >> 24) != (back >> 24)) ++i;
    index[k] = static_cast<uint8_t>(i);
    back = (back ^ table[i]) << 8;
  }
  for (int k = 0; k < 4; ++k) {
    data[tail + k] = static_cast<char>((reg ^ index[k]) & 0xFF);
    reg = (reg >> 8) ^ table[index[k]];
  }
  return data;
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(generator() & 0xFF);
  return bytes;
}

void SetReadOnly(const std::wstring& path, bool readOnly) {
  fs::permissions(FsPath(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

}  // namespace testfiles
