#include "support/sha256.h"

Sha256::Sha256() { sha256_init(&context_); }

void Sha256::update(const void* data, size_t size) {
  sha256_update(&context_, size, static_cast<const uint8_t*>(data));
}

std::string Sha256::hexDigest() {
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context_, SHA256_DIGEST_SIZE, digest);
  return ToHex(digest, sizeof digest);
}

std::string Sha256::OfText(const std::string& text) {
  Sha256 hash;
  hash.update(text.data(), text.size());
  return hash.hexDigest();
}

std::string ToHex(const unsigned char* bytes, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    text[2 * i] = digits[bytes[i] >> 4];
    text[2 * i + 1] = digits[bytes[i] & 15];
  }
  return text;
}

bool FromHex(const std::string& text, unsigned char* bytes, size_t size) {
  if (text.size() != size * 2) return false;
  auto value = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < size; ++i) {
    int high = value(text[2 * i]), low = value(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}
