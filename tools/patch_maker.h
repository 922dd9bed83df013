// Builds binary patches (see update/binary_patch.h) for the publisher. The old file's suffix array
// (libdivsufsort) finds, for each stretch of the new file, the longest matching stretch of the old
// one; matches are then extended over bytes that differ (code whose addresses moved) and written
// as differences, which compress to little. Building holds both files and the suffix array in
// memory: about six times the old file's size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace patch {

struct MadeStats {
  uint64_t patchSize = 0;
  uint64_t diffBytes = 0, extraBytes = 0, triples = 0;
  uint64_t searches = 0;  // suffix-array searches made: the maker's cost beside the suffix sort
};

// The patch from oldData to newData, compressed at the zstd level given (1-22).
std::string MakePatch(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData, int level,
                      MadeStats* stats = nullptr);

// The largest base a patch is built for: the suffix array's 32-bit positions.
constexpr uint64_t kMostBase = (uint64_t(1) << 31) - 1;

}  // namespace patch
