#include "crc_variants.h"

#include "support/crc32.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

namespace {

uint32_t Zlib(uint32_t crc, const unsigned char* data, size_t size) {
  return static_cast<uint32_t>(crc32_z(crc, data, size));
}

using CrcFunction = uint32_t (*)(uint32_t, const unsigned char*, size_t);

uint32_t CrcWithRead(const std::string& path, size_t block, uint64_t& bytes, CrcFunction f) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    bytes = UINT64_MAX;
    return 0;
  }
  std::vector<unsigned char> buffer(block);
  uint32_t crc = 0;
  bytes = 0;
  ssize_t n;
  while ((n = read(fd, buffer.data(), buffer.size())) > 0) {
    crc = f(crc, buffer.data(), static_cast<size_t>(n));
    bytes += static_cast<uint64_t>(n);
  }
  close(fd);
  return crc;
}

}  // namespace

// The engine's own CRC-32: folding where the processor has it, zlib otherwise.
bool HaveFoldCrc32() { return Crc32UsesFolding(); }

uint32_t FoldCrc32(uint32_t crc, const unsigned char* data, size_t size) { return Crc32Update(crc, data, size); }

uint32_t CrcFread(const std::string& path, size_t block, uint64_t& bytes) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    bytes = UINT64_MAX;
    return 0;
  }
  std::vector<unsigned char> buffer(block);
  uint32_t crc = 0;
  bytes = 0;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    crc = Zlib(crc, buffer.data(), n);
    bytes += n;
  }
  fclose(file);
  return crc;
}

uint32_t CrcRead(const std::string& path, size_t block, uint64_t& bytes) {
  return CrcWithRead(path, block, bytes, &Zlib);
}

uint32_t CrcReadFold(const std::string& path, size_t block, uint64_t& bytes) {
  return CrcWithRead(path, block, bytes, &FoldCrc32);
}

uint32_t CrcMmapFold(const std::string& path, uint64_t& bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    if (fd >= 0) close(fd);
    bytes = UINT64_MAX;
    return 0;
  }
  bytes = static_cast<uint64_t>(st.st_size);
  if (bytes == 0) {
    close(fd);
    return 0;
  }
  void* map = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  close(fd);
  if (map == MAP_FAILED) {
    bytes = UINT64_MAX;
    return 0;
  }
  uint32_t crc = FoldCrc32(0, static_cast<const unsigned char*>(map), bytes);
  munmap(map, bytes);
  return crc;
}

uint32_t CrcPipelined(const std::string& path, size_t block, bool fold, uint64_t& bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    bytes = UINT64_MAX;
    return 0;
  }
  constexpr int kSlots = 4;
  std::vector<unsigned char> buffers[kSlots];
  ssize_t filled[kSlots];
  bool ready[kSlots] = {};
  for (auto& b : buffers) b.resize(block);
  std::mutex mutex;
  std::condition_variable changed;
  std::thread reader([&] {
    for (int slot = 0;; slot = (slot + 1) % kSlots) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !ready[slot]; });
      }
      ssize_t n = read(fd, buffers[slot].data(), block);
      {
        std::lock_guard<std::mutex> lock(mutex);
        filled[slot] = n;
        ready[slot] = true;
      }
      changed.notify_all();
      if (n <= 0) return;
    }
  });
  CrcFunction f = fold ? &FoldCrc32 : &Zlib;
  uint32_t crc = 0;
  bytes = 0;
  for (int slot = 0;; slot = (slot + 1) % kSlots) {
    ssize_t n;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return ready[slot]; });
      n = filled[slot];
    }
    if (n <= 0) break;
    crc = f(crc, buffers[slot].data(), static_cast<size_t>(n));
    bytes += static_cast<uint64_t>(n);
    {
      std::lock_guard<std::mutex> lock(mutex);
      ready[slot] = false;
    }
    changed.notify_all();
  }
  reader.join();
  close(fd);
  return crc;
}

uint32_t CrcTwoHalves(const std::string& path, size_t block, uint64_t& bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    if (fd >= 0) close(fd);
    bytes = UINT64_MAX;
    return 0;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint64_t half = size / 2;
  uint32_t crcs[2] = {0, 0};
  auto work = [&](int part) {
    std::vector<unsigned char> buffer(block);
    uint64_t at = part == 0 ? 0 : half, end = part == 0 ? half : size;
    while (at < end) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(block, end - at));
      ssize_t n = pread(fd, buffer.data(), want, static_cast<off_t>(at));
      if (n <= 0) break;
      crcs[part] = FoldCrc32(crcs[part], buffer.data(), static_cast<size_t>(n));
      at += static_cast<uint64_t>(n);
    }
  };
  std::thread second(work, 1);
  work(0);
  second.join();
  close(fd);
  bytes = size;
  return static_cast<uint32_t>(crc32_combine64(crcs[0], crcs[1], static_cast<z_off64_t>(size - half)));
}

uint64_t ReadOnly(const std::string& path, size_t block) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::vector<unsigned char> buffer(block);
  uint64_t total = 0;
  ssize_t n;
  while ((n = read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<uint64_t>(n);
  close(fd);
  return total;
}

}  // namespace bench
