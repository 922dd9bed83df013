#include "support/crc32.h"

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VOREL_CRC_FOLDING 1
#endif

namespace {

uint32_t ZlibCrc(uint32_t crc, const unsigned char* data, size_t size) {
  while (size > 0) {
    uInt piece = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
    crc = static_cast<uint32_t>(crc32(crc, data, piece));
    data += piece;
    size -= piece;
  }
  return crc;
}

#ifdef VOREL_CRC_FOLDING
// Folding by carry-less multiplication (Intel's published method for CRC with PCLMULQDQ) for
// the reflected polynomial 0xEDB88320: x^k mod P for fold distances of 512 and 128 bits, x^64 mod P,
// and the Barrett reduction pair (P', mu).
alignas(16) const uint64_t kFold512[2] = {0x154442bd4ull, 0x1c6e41596ull};
alignas(16) const uint64_t kFold128[2] = {0x1751997d0ull, 0x0ccaa009eull};
alignas(16) const uint64_t kFold64[2] = {0x163cd6124ull, 0};
alignas(16) const uint64_t kBarrett[2] = {0x1db710641ull, 0x1f7011641ull};

#define VOREL_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

VOREL_FOLD_TARGET inline __m128i Fold(__m128i x, __m128i key, __m128i next) {
  __m128i low = _mm_clmulepi64_si128(x, key, 0x00);
  __m128i high = _mm_clmulepi64_si128(x, key, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

VOREL_FOLD_TARGET inline __m128i Load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// size: a multiple of 16 and at least 64; crc: the running value, inverted.
VOREL_FOLD_TARGET uint32_t FoldBlocks(uint32_t crc, const unsigned char* p, size_t size) {
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(p + 16), x3 = Load(p + 32), x4 = Load(p + 48);
  __m128i key = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold512));
  for (p += 64, size -= 64; size >= 64; p += 64, size -= 64) {
    x1 = Fold(x1, key, Load(p));
    x2 = Fold(x2, key, Load(p + 16));
    x3 = Fold(x3, key, Load(p + 32));
    x4 = Fold(x4, key, Load(p + 48));
  }
  key = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold128));
  x1 = Fold(Fold(Fold(x1, key, x2), key, x3), key, x4);
  for (; size >= 16; p += 16, size -= 16) x1 = Fold(x1, key, Load(p));

  // 128 bits to 64, 64 to 32, then the Barrett reduction.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, key, 0x10));
  key = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), key, 0x00), _mm_srli_si128(x1, 4));
  key = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), key, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), key, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}
#endif

}  // namespace

bool Crc32UsesFolding() {
#ifdef VOREL_CRC_FOLDING
  static const bool folding = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return folding;
#else
  return false;
#endif
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
  auto* bytes = static_cast<const unsigned char*>(data);
#ifdef VOREL_CRC_FOLDING
  if (size >= 64 && Crc32UsesFolding()) {
    size_t body = size & ~static_cast<size_t>(15);
    crc = ~FoldBlocks(~crc, bytes, body);
    bytes += body;
    size -= body;
  }
#endif
  return ZlibCrc(crc, bytes, size);
}

uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength) {
  // zlib takes the length as a long, 32 bits on Windows: longer pieces are shifted in by parts
  // (combining with the CRC of no bytes, 0, only moves the first CRC on).
  constexpr uint64_t kPart = uint64_t(1) << 30;
  for (; secondLength > kPart; secondLength -= kPart) first = static_cast<uint32_t>(crc32_combine(first, 0, kPart));
  return static_cast<uint32_t>(crc32_combine(first, second, static_cast<z_off_t>(secondLength)));
}
