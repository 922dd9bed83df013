// Arbitrary text through both list parsers and the release manifest's. A kept path never leaves
// the folder it is joined to, the zip list never names one package twice, and a manifest that
// is accepted reads back the same once written out.
#include <set>

#include "fuzz_common.h"
#include "update/file_list.h"
#include "update/release.h"

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
  ReleaseManifest manifest, again;
  std::string problem;
  if (ParseReleaseManifest(text, manifest, problem)) {
    const std::string written = FormatReleaseManifest(manifest);
    fuzz::Require(ParseReleaseManifest(written, again, problem) && FormatReleaseManifest(again) == written);
  }
  return 0;
}
