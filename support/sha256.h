// SHA-256 of signed releases, streamed: nettle picks the processor's SHA instructions when it
// has them, which keeps the check of a multi-gigabyte package close to the speed of the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nettle/sha2.h>

class Sha256 {
 public:
  Sha256();
  void update(const void* data, size_t size);
  // 64 lower-case hex digits; the hash starts afresh afterwards.
  std::string hexDigest();

  static std::string OfText(const std::string& text);

 private:
  sha256_ctx context_;
};

// Lower-case hex of bytes, and its inverse (false for anything but 2 * size hex digits).
std::string ToHex(const unsigned char* bytes, size_t size);
bool FromHex(const std::string& text, unsigned char* bytes, size_t size);
