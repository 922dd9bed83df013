// Arbitrary bytes as a package: extraction succeeds or fails, and nothing is ever written
// outside the destination folder.
#include "fuzz_common.h"
#include "update/zip_extract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path root = fuzz::Scratch() / "zip";
  const fs::path archive = root / "in.zip", out = root / "a" / "b" / "out";
  fs::remove_all(root);
  fs::create_directories(out);
  fuzz::WriteBytes(archive, data, size);
  std::atomic<int64_t> extracted{0};
  ExtractZip(fuzz::Wide(archive), fuzz::Wide(out), &extracted);
  // Only the archive and the destination's own chain may exist beside what it holds.
  size_t outside = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::path& p = entry.path();
    bool inside = p.string().rfind(out.string() + "/", 0) == 0;
    if (!inside && p != archive && p != out && p != root / "a" && p != root / "a" / "b") ++outside;
  }
  fuzz::Require(outside == 0);
  return 0;
}
