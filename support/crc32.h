// CRC-32 (the checksum of zip archives and zlib's crc32): carry-less multiply folding where the
// processor has it, zlib's crc32 otherwise and for short pieces.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues crc (0 to start) over size bytes, as zlib's crc32 does.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);
// The CRC of two pieces one after the other, from the CRC of each and the second's length.
uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength);
// Whether the folding path is in use on this processor.
bool Crc32UsesFolding();
