// Binary patches: a changed game file rebuilt from the copy the player already has, in the manner
// of bsdiff (Colin Percival's method). A patch holds four streams:
//   control: (add, copy, seek) triples, each a little-endian signed 64-bit number;
//   gaps:    the differences to add to "add" old bytes at a time are mostly zero, so only the
//            nonzero ones travel: here the count of zeros before each, as LEB128 numbers;
//   values:  those nonzero differences, a byte each;
//   extra:   "copy" bytes at a time, new bytes taken as they are;
// after each triple the old position moves on by add + seek. Each stream is one zstd frame with a
// window of at most 8 MiB, so that applying a patch holds little memory however large the file.
//
// File layout: "VORELPT1", then six little-endian unsigned 64-bit numbers (old size, new size,
// the compressed sizes of control, gaps, values and extra), then the four streams in that order.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace patch {

constexpr char kMagic[8] = {'V', 'O', 'R', 'E', 'L', 'P', 'T', '1'};
constexpr size_t kHeaderSize = 8 + 6 * 8;
constexpr int kWindowLog = 23;  // 8 MiB: the most a stream's decoder keeps

struct Header {
  uint64_t oldSize = 0, newSize = 0;
  uint64_t controlSize = 0, gapsSize = 0, valuesSize = 0, extraSize = 0;
};
void WriteHeader(const Header& header, unsigned char (&bytes)[kHeaderSize]);
// False for anything but a patch header.
bool ReadHeader(const unsigned char (&bytes)[kHeaderSize], Header& header);

// Rebuilds newPath from oldPath with the patch at patchPath. Empty on success, otherwise what went
// wrong (a damaged or foreign patch, a base of the wrong size, a read or write failure); newPath
// may then hold a partial file. The result is only as good as its later size and checksum check:
// a patch for another base of the same size produces a wrong file, not an error. bytesDone, when
// given, counts the result's bytes as they are written.
std::string Apply(const std::wstring& oldPath, const std::wstring& patchPath, const std::wstring& newPath,
                  std::atomic<int64_t>* bytesDone = nullptr);

}  // namespace patch
