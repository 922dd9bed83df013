#include "platform/dump_module.h"

#include <cstdlib>
#include <mutex>

#include "platform/files.h"
#include "platform/module.h"

namespace {

DumperFunctions table;

void FreeDumper() {
  if (table.module) FreeModuleFile(table.module);
  table.module = nullptr;
}

template <typename Fn>
Fn Export(void* module, const char* name) {
  return reinterpret_cast<Fn>(ModuleSymbol(module, name));
}

}  // namespace

DumperFunctions& GetDumperFunctions() {
  static std::once_flag once;
  std::call_once(once, [] {
    // By full path: a module from whatever the current directory is would be a planting hole.
    void* module = LoadModuleFile(ModuleDirectory() + L"\\Dumper64.dll");
    table.module = module;
    if (module) {
      table.init = Export<DumperFunctions::InitFn>(module, "InitDumperQuellum");
      table.onDumpCreated = ModuleSymbol(module, "SetOnMiniDumpCreateCallBack");
      table.setConfig = Export<DumperFunctions::SetConfigFn>(module, "SetConfig");
      table.uninit = Export<DumperFunctions::UnInitFn>(module, "UnInitDumper");
    }
    atexit(&FreeDumper);
  });
  return table;
}

void UninitialiseDumper() {
  DumperFunctions& functions = GetDumperFunctions();
  if (functions.uninit) functions.uninit();
}
