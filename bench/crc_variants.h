// Alternative ways to checksum a whole file, prototyped here to put numbers beside the engine's
// FileCrc; none of them is used by the launcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

// CRC-32 (the zip/zlib one) of data, continuing from crc, by carry-less multiplication
// (PCLMULQDQ folding); falls back to zlib's crc32 where the CPU lacks the instructions.
uint32_t FoldCrc32(uint32_t crc, const unsigned char* data, size_t size);
bool HaveFoldCrc32();

// Each returns the file's CRC-32 and sets bytes; UINT64_MAX bytes when the file does not open.
uint32_t CrcFread(const std::string& path, size_t block, uint64_t& bytes);        // fread + zlib
uint32_t CrcRead(const std::string& path, size_t block, uint64_t& bytes);         // read + zlib
uint32_t CrcReadFold(const std::string& path, size_t block, uint64_t& bytes);     // read + folding
uint32_t CrcMmapFold(const std::string& path, uint64_t& bytes);                   // mmap + folding
// A reader thread fills blocks while the calling thread checksums the previous ones.
uint32_t CrcPipelined(const std::string& path, size_t block, bool fold, uint64_t& bytes);
// Two threads each read and checksum one half; the halves are joined with crc32_combine.
uint32_t CrcTwoHalves(const std::string& path, size_t block, uint64_t& bytes);
// read only, no checksum: what the file system gives one thread.
uint64_t ReadOnly(const std::string& path, size_t block);

}  // namespace bench
