#include <gtest/gtest.h>

#include <zlib.h>

#include "support/crc32.h"
#include "support/test_files.h"

// The folding path must give zlib's value for every length and alignment, also when a
// checksum is continued across pieces.
TEST(Crc32, MatchesZlibForEveryLengthAlignmentAndSplit) {
  std::string data = testfiles::RandomBytes(70000, 5);
  auto zlib = [&](size_t from, size_t size) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data() + from), static_cast<uInt>(size)));
  };
  for (size_t size = 0; size <= 300; ++size) {
    for (size_t from : {0u, 1u, 7u, 15u}) ASSERT_EQ(Crc32Update(0, data.data() + from, size), zlib(from, size)) << size;
  }
  for (size_t size : {1024u, 4096u + 13u, 65536u, 70000u - 3u}) {
    ASSERT_EQ(Crc32Update(0, data.data() + 3, size), zlib(3, size));
    uint32_t split = Crc32Update(Crc32Update(0, data.data(), size / 3), data.data() + size / 3, size - size / 3);
    ASSERT_EQ(split, zlib(0, size));
    ASSERT_EQ(Crc32Combine(zlib(0, size / 3), zlib(size / 3, size - size / 3), size - size / 3), zlib(0, size));
  }
  // Second pieces past 4 GiB, which zlib takes as a 32-bit long on Windows (its 64-bit long here
  // gives the reference).
  if (sizeof(long) == 8) {
    for (uint64_t length : {(uint64_t(1) << 32) + 5, (uint64_t(3) << 30) + 77}) {
      EXPECT_EQ(Crc32Combine(0x12345678u, 0x9ABCDEF0u, length),
                crc32_combine(0x12345678u, 0x9ABCDEF0u, static_cast<z_off_t>(length)));
    }
  }
  EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
  RecordProperty("folding", Crc32UsesFolding() ? "yes" : "no");
}
