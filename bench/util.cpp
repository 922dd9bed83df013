// vorel-bench-util: the waiting helpers of the C++ benchmarks for bench/install.sh.
//   settle    wait until file creation is no longer slowed by a recent deletion
//   quiesce   flush dirty data and wait until the data folder's disk is idle
//   removed   note that the script has just deleted a large tree
#include <cstdio>
#include <string>

#include "common.h"

int main(int argc, char** argv) {
  const std::string command = argc == 2 ? argv[1] : "";
  if (command == "settle") {
    bench::SettleAfterDeletes();
  } else if (command == "quiesce") {
    bench::Quiesce();
  } else if (command == "removed") {
    // RemoveAll of an empty new folder records the time like a large deletion.
    const std::string marker = bench::DataRoot() + "/.removed-marker";
    bench::MakeDirs(marker);
    bench::RemoveAll(marker);
  } else {
    fprintf(stderr, "usage: vorel-bench-util settle|quiesce|removed\n");
    return 2;
  }
  return 0;
}
