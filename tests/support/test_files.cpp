#include "support/test_files.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include <zlib.h>

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

void WriteFile(const std::wstring& path, const std::string& content) {
  fs::path target = FsPath(path);
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
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

std::string CrcText(const std::string& data) {
  char text[9];
  snprintf(text, sizeof text, "%08lX",
           crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  return text;
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
