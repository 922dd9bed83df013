#include <dlfcn.h>

#include "platform/module.h"
#include "platform/posix/native_path.h"

void* LoadModuleFile(const std::wstring& path) { return dlopen(NativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL); }
void* ModuleSymbol(void* module, const char* name) { return dlsym(module, name); }
void FreeModuleFile(void* module) { dlclose(module); }
