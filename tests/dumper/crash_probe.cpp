// Sets up the crash-dump module beside it as the launcher does and then crashes, so that the
// tests can look for the minidump it leaves.
#include "platform/dump_module.h"

int main() {
  DumperFunctions& dumper = GetDumperFunctions();
  if (dumper.setConfig) dumper.setConfig(6, "internal_us");
  if (dumper.init) dumper.init("p7kdmwra", "4.1.2037", "");
  volatile int* nowhere = nullptr;
  return *nowhere;
}
