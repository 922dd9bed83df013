#include <windows.h>

#include <cstdlib>
#include <mutex>

#include "platform/dump_module.h"
#include "platform/files.h"

namespace {

DumperFunctions table;

void FreeDumper() {
  if (table.module) FreeLibrary(static_cast<HMODULE>(table.module));
  table.module = nullptr;
}

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

DumperFunctions& GetDumperFunctions() {
  static std::once_flag once;
  std::call_once(once, [] {
    // By full path: a module from whatever the current directory is would be a planting hole.
    std::wstring path = ModuleDirectory() + L"\\Dumper64.dll";
    HMODULE module = LoadLibraryW(path.c_str());
    table.module = module;
    if (module) {
      table.init = Export<DumperFunctions::InitFn>(module, "InitDumperQuellum");
      table.onDumpCreated = Export<void*>(module, "SetOnMiniDumpCreateCallBack");
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
