#include "platform/dump_module.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "platform/files.h"
#include "platform/module.h"

namespace {

struct DumperFunctions {
  using InitFn = void (*)(const char* appKey, const char* appVersion, const char* extra);
  using UnInitFn = void (*)();
  using SetConfigFn = void (*)(int32_t value, const char* text);

  void* module = nullptr;
  InitFn init = nullptr;            // InitDumperQuellum
  UnInitFn uninit = nullptr;        // UnInitDumper
  void* onDumpCreated = nullptr;    // SetOnMiniDumpCreateCallBack: resolved, never called
  SetConfigFn setConfig = nullptr;  // SetConfig
};

DumperFunctions table;

void FreeDumper() {
  if (table.module) FreeModuleFile(table.module);
  table.module = nullptr;
}

template <typename Fn>
Fn Export(void* module, const char* name) {
  return reinterpret_cast<Fn>(ModuleSymbol(module, name));
}

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

}  // namespace

void InitialiseDumper(const char* appVersion) {
  DumperFunctions& functions = GetDumperFunctions();
  if (functions.setConfig) functions.setConfig(6, "internal_us");
  if (functions.init) functions.init("p7kdmwra", appVersion, "");
}

void UninitialiseDumper() {
  DumperFunctions& functions = GetDumperFunctions();
  if (functions.uninit) functions.uninit();
}
