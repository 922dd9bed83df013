// Shared pieces of the fuzz targets: a scratch folder of this process, and a quiet engine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "platform/text.h"
#include "update/patcher.h"

namespace fs = std::filesystem;

namespace fuzz {

// A folder of this process, in memory where the system offers it (each input is written to a
// file and read back), made on first use.
inline const fs::path& Scratch() {
  static const fs::path dir = [] {
    fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path path = base / ("vorel-fuzz-" + std::to_string(getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
  }();
  return dir;
}

inline std::wstring Wide(const fs::path& path) { return AnsiToWide(path.string()); }

inline void WriteBytes(const fs::path& path, const uint8_t* data, size_t size) {
  FILE* file = fopen(path.string().c_str(), "wb");
  if (!file) abort();
  if (size && fwrite(data, 1, size, file) != size) abort();
  if (fclose(file) != 0) abort();
}

// One Patcher for the whole run, its log going nowhere.
inline Patcher& QuietPatcher() {
  static Patcher* patcher = [] {
    auto* p = new Patcher();
    p->logger.open("/dev/null");
    return p;
  }();
  return *patcher;
}

// A failed invariant: libFuzzer keeps the input that led here.
inline void Require(bool condition) {
  if (!condition) abort();
}

}  // namespace fuzz
