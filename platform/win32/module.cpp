#include <windows.h>

#include "platform/module.h"

void* LoadModuleFile(const std::wstring& path) { return LoadLibraryW(path.c_str()); }

void* ModuleSymbol(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeModuleFile(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }
