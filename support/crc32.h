// CRC-32 (the checksum of zip archives and zlib's crc32): carry-less multiply folding where the
// processor has it, zlib's crc32 otherwise and for short pieces.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues crc (0 to start) over size bytes, as zlib's crc32 does.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);
// Whether the folding path is in use on this processor.
bool Crc32UsesFolding();
