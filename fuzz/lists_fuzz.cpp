// Arbitrary text through both list parsers. A kept path never leaves the folder it is joined
// to, and the zip list never names one package twice.
#include <set>

#include "fuzz_common.h"
#include "update/file_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Patcher& patcher = fuzz::QuietPatcher();
  for (const auto& entry : ParseFileList(text, patcher))
    fuzz::Require(entry.failed ? entry.path.empty() : IsSafeRelativePath(entry.path));
  int64_t unpacked = 0, sum = 0;
  std::set<std::string> names;
  for (const auto& entry : ParseZipList(text, patcher, unpacked)) {
    fuzz::Require(names.insert(entry.name).second);
    fuzz::Require(entry.failed ? entry.path.empty() : IsSafeRelativePath(entry.path));
    if (!entry.failed) sum += entry.unpackedSize;
  }
  fuzz::Require(sum == unpacked);
  return 0;
}
