// Loading a shared module at run time: LoadLibraryW/GetProcAddress on Windows, dlopen on Linux.
#pragma once

#include <string>

void* LoadModuleFile(const std::wstring& path);
void* ModuleSymbol(void* module, const char* name);
void FreeModuleFile(void* module);
