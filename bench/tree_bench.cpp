// tree: CopyTree and DeleteTree over a 20,000-file tree against `cp -r` and `rm -rf` of the
// same tree.
#include <cstdio>

#include "common.h"
#include "platform/text.h"
#include "update/patcher.h"
#include "update/tree_ops.h"

using namespace bench;

int main() {
  const std::string root = DataRoot() + "/tree";
  const std::string source = root + "/source";
  const std::string ours = root + "/copy-engine";
  const std::string theirs = root + "/copy-cp";
  const int reps = Reps(3);
  RemoveAll(root);
  std::vector<GeneratedFile> files = WriteSmallTree(source, "", 20000, 1 << 10, 64 << 10, 7);
  const uint64_t bytes = TotalBytes(files);
  WarmRead(source);

  Samples copyEngine, copyCp, deleteEngine, deleteRm;
  auto engineCopy = [&] {
    Sync();
    double start = Now();
    bool ok = CopyTree(AnsiToWide(source), AnsiToWide(ours));
    copyEngine.add(Now() - start);
    if (!ok) Fail("CopyTree failed");
  };
  auto cpCopy = [&] {
    Sync();
    copyCp.add(Run({"cp", "-r", source, theirs}));
  };
  auto engineDelete = [&] {
    Sync();
    Patcher patcher;
    double start = Now();
    bool ok = DeleteTree(patcher, AnsiToWide(ours));
    deleteEngine.add(Now() - start);
    if (!ok) Fail("DeleteTree failed");
  };
  auto rmDelete = [&] {
    Sync();
    deleteRm.add(Run({"rm", "-rf", theirs}));
  };
  for (int i = 0; i < reps; ++i) {
    // Each goes first in turn, so that neither always meets the other's write-back.
    if (i % 2 == 0) {
      engineCopy();
      cpCopy();
    } else {
      cpCopy();
      engineCopy();
    }
    if (i == 0 && (WarmRead(ours) != bytes || WarmRead(theirs) != bytes)) Fail("the copies differ in size");
    if (i % 2 == 0) {
      engineDelete();
      rmDelete();
    } else {
      rmDelete();
      engineDelete();
    }
  }

  const double copyRatio = copyEngine.median() / copyCp.median();
  const double deleteRatio = deleteEngine.median() / deleteRm.median();
  printf("tree: %zu files in %d folders, %.0f MB, %d runs each (median)\n", files.size(), 20 * 10 + 20,
         bytes / 1e6, reps);
  printf("  %-26s %8.3f s  %8.0f files/s  [%s]\n", "CopyTree (engine)", copyEngine.median(),
         files.size() / copyEngine.median(), copyEngine.list().c_str());
  printf("  %-26s %8.3f s  %8.0f files/s  [%s]\n", "cp -r (reference)", copyCp.median(),
         files.size() / copyCp.median(), copyCp.list().c_str());
  printf("  %-26s %8.3f s  %8.0f files/s  [%s]\n", "DeleteTree (engine)", deleteEngine.median(),
         files.size() / deleteEngine.median(), deleteEngine.list().c_str());
  printf("  %-26s %8.3f s  %8.0f files/s  [%s]\n", "rm -rf (reference)", deleteRm.median(),
         files.size() / deleteRm.median(), deleteRm.list().c_str());
  printf("  time ratios: copy %.2f, delete %.2f (targets <= 1.20)\n", copyRatio, deleteRatio);
  Summary("tree", "CopyTree vs cp -r, 20,000 files (s)", Fixed(copyEngine.median(), 3), Fixed(copyCp.median(), 3),
          Fixed(copyRatio, 2), "<= 1.20", copyRatio <= 1.20);
  Summary("tree", "DeleteTree vs rm -rf, 20,000 files (s)", Fixed(deleteEngine.median(), 3),
          Fixed(deleteRm.median(), 3), Fixed(deleteRatio, 2), "<= 1.20", deleteRatio <= 1.20);
  RemoveAll(root);
  return 0;
}
