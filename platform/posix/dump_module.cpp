// The Linux build loads a shared object named like the Windows module, so that the calling
// order can be tested natively as well.
#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

#include "platform/dump_module.h"
#include "platform/files.h"
#include "platform/posix/native_path.h"

namespace {

DumperFunctions table;

void FreeDumper() {
  if (table.module) dlclose(table.module);
  table.module = nullptr;
}

template <typename Fn>
Fn Export(void* module, const char* name) {
  return reinterpret_cast<Fn>(dlsym(module, name));
}

}  // namespace

DumperFunctions& GetDumperFunctions() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::wstring path = ModuleDirectory() + L"/Dumper64.dll";
    void* module = dlopen(NativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
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
