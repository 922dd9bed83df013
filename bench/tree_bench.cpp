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
  const int reps = Reps(5);
  RemoveAll(root);
  std::vector<GeneratedFile> files = WriteSmallTree(source, "", 20000, 1 << 10, 64 << 10, 7);
  const uint64_t bytes = TotalBytes(files);
  WarmRead(source);
  SettleAfterDeletes();

  // Every copy gets its own folder and all deletions come after all copies, so that no copy
  // runs right after a deletion (see SettleAfterDeletes).
  auto ours = [&](int i) { return root + "/copy-engine-" + std::to_string(i); };
  auto theirs = [&](int i) { return root + "/copy-cp-" + std::to_string(i); };
  Series copyEngine, copyCp, deleteEngine, deleteRm;
  auto engineCopy = [&](int i) {
    Quiesce();
    Stopwatch watch;
    bool ok = CopyTree(AnsiToWide(source), AnsiToWide(ours(i)));
    copyEngine.add(watch.stop());
    if (!ok) Fail("CopyTree failed");
  };
  auto cpCopy = [&](int i) {
    Quiesce();
    copyCp.add(Run({"cp", "-r", source, theirs(i)}));
  };
  auto engineDelete = [&](int i) {
    Quiesce();
    Patcher patcher;
    Stopwatch watch;
    bool ok = DeleteTree(patcher, AnsiToWide(ours(i)));
    deleteEngine.add(watch.stop());
    if (!ok) Fail("DeleteTree failed");
  };
  auto rmDelete = [&](int i) {
    Quiesce();
    deleteRm.add(Run({"rm", "-rf", theirs(i)}));
  };
  // Each goes first in turn, so that neither always meets the other's leftovers.
  for (int i = 0; i < reps; ++i) {
    if (i % 2 == 0) {
      engineCopy(i);
      cpCopy(i);
    } else {
      cpCopy(i);
      engineCopy(i);
    }
  }
  if (WarmRead(ours(0)) != bytes || WarmRead(theirs(0)) != bytes) Fail("the copies differ in size");
  for (int i = 0; i < reps; ++i) {
    if (i % 2 == 0) {
      engineDelete(i);
      rmDelete(i);
    } else {
      rmDelete(i);
      engineDelete(i);
    }
  }

  printf("tree: %zu files in 220 folders, %.0f MB, %d runs each (median); load %s\n", files.size(), bytes / 1e6,
         reps, LoadAverage().c_str());
  auto row = [&](const char* name, const Series& s) {
    printf("  %-22s %8.3f s  %8.0f files/s  CPU %6.3f s  [%s]\n", name, s.wall.median(),
           files.size() / s.wall.median(), s.cpu.median(), s.wall.list().c_str());
  };
  row("CopyTree (engine)", copyEngine);
  row("cp -r (reference)", copyCp);
  row("DeleteTree (engine)", deleteEngine);
  row("rm -rf (reference)", deleteRm);
  const double copyRatio = copyEngine.wall.median() / copyCp.wall.median();
  const double deleteRatio = deleteEngine.wall.median() / deleteRm.wall.median();
  const double copyCpu = copyEngine.cpu.median() / copyCp.cpu.median();
  const double deleteCpu = deleteEngine.cpu.median() / deleteRm.cpu.median();
  printf("  time ratios: copy %.2f, delete %.2f (targets <= 1.20); CPU time ratios: copy %.2f, delete %.2f\n",
         copyRatio, deleteRatio, copyCpu, deleteCpu);
  Summary("tree", "CopyTree vs cp -r, 20,000 files (s)", Fixed(copyEngine.wall.median(), 3),
          Fixed(copyCp.wall.median(), 3), Fixed(copyRatio, 2), "<= 1.20", copyRatio <= 1.20);
  Summary("tree", "DeleteTree vs rm -rf, 20,000 files (s)", Fixed(deleteEngine.wall.median(), 3),
          Fixed(deleteRm.wall.median(), 3), Fixed(deleteRatio, 2), "<= 1.20", deleteRatio <= 1.20);
  InfoRow("tree", "CopyTree vs cp -r, CPU time (s)", Fixed(copyEngine.cpu.median(), 3),
          Fixed(copyCp.cpu.median(), 3), Fixed(copyCpu, 2));
  InfoRow("tree", "DeleteTree vs rm -rf, CPU time (s)", Fixed(deleteEngine.cpu.median(), 3),
          Fixed(deleteRm.cpu.median(), 3), Fixed(deleteCpu, 2));
  if (!KeepData()) RemoveAll(root);
  return 0;
}
