// Arbitrary text through the list parsers (files, zip packages, patches) and the release
// manifest's. A kept path never leaves the folder it is joined to, the zip list never names one
// package twice, every line of the patch list is either kept or counted as skipped, a kept patch
// is smaller than its result and reads back the same once written out, and a manifest that is
// accepted reads back the same once written out.
#include <set>

#include "fuzz_common.h"
#include "update/file_list.h"
#include "update/patch_list.h"
#include "update/release.h"

namespace {

bool Same(const PatchListEntry& a, const PatchListEntry& b) {
  return a.path == b.path && a.baseSize == b.baseSize && a.baseCrc == b.baseCrc && a.address == b.address &&
         a.patchSize == b.patchSize && a.patchCrc == b.patchCrc && a.resultSize == b.resultSize &&
         a.resultCrc == b.resultCrc && a.patchSha256 == b.patchSha256;
}

void CheckPatchList(const std::string& text) {
  size_t lines = 0;  // the lines with anything on them, a CR before the LF not counted
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t length = end - start;
    if (length > 0 && text[end - 1] == '\r') --length;
    if (length > 0) ++lines;
    start = end + 1;
  }
  size_t skipped = 0;
  const auto entries = ParsePatchList(text, &skipped);
  fuzz::Require(entries.size() + skipped == lines);
  for (const auto& [path, entry] : entries) {
    fuzz::Require(path == entry.path && IsSafeRelativePath(entry.path) && IsSafeRelativePath(entry.address));
    fuzz::Require(entry.patchSize > 0 && entry.patchSize < entry.resultSize);
    size_t again = 0;
    const auto back = ParsePatchList(FormatPatchListLine(entry), &again);
    fuzz::Require(back.size() == 1 && again == 0 && Same(back.begin()->second, entry));
  }
}

}  // namespace

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
  CheckPatchList(text);
  ReleaseManifest manifest, again;
  std::string problem;
  if (ParseReleaseManifest(text, manifest, problem)) {
    const std::string written = FormatReleaseManifest(manifest);
    fuzz::Require(ParseReleaseManifest(written, again, problem) && FormatReleaseManifest(again) == written);
  }
  return 0;
}
