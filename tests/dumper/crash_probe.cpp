// Sets up the crash-dump module beside it as the launcher does and then crashes, so that the
// tests can look for the minidump it leaves.
#include "platform/dump_module.h"

int main() {
  InitialiseDumper("4.1.2037");
  volatile int* nowhere = nullptr;
  return *nowhere;
}
