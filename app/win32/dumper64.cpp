// Dumper64.dll: the launcher's crash-dump module. Once initialised it writes a minidump of any
// unhandled exception into a Dumps folder beside the launcher; nothing else.
#include <windows.h>
#include <dbghelp.h>

#include <cwchar>
#include <string>

namespace {

LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
bool installed = false;

std::wstring DumpFolder() {
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(sizeof path / sizeof path[0]));
  std::wstring dir(path, n);
  size_t cut = dir.find_last_of(L"\\/");
  dir = cut == std::wstring::npos ? std::wstring(L".") : dir.substr(0, cut);
  return dir + L"\\Dumps";
}

LONG WINAPI WriteDump(EXCEPTION_POINTERS* exception) {
  std::wstring folder = DumpFolder();
  CreateDirectoryW(folder.c_str(), nullptr);
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t name[96];
  swprintf(name, sizeof name / sizeof name[0], L"\\crash_%04u%02u%02u_%02u%02u%02u_%lu.dmp", now.wYear, now.wMonth,
           now.wDay, now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId());
  HANDLE file = CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    MINIDUMP_EXCEPTION_INFORMATION info;
    info.ThreadId = GetCurrentThreadId();
    info.ExceptionPointers = exception;
    info.ClientPointers = FALSE;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &info, nullptr, nullptr);
    CloseHandle(file);
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

extern "C" {

__declspec(dllexport) void SetConfig(int, const char*) {}

__declspec(dllexport) void InitDumperQuellum(const char*, const char*, const char*) {
  if (installed) return;
  previousFilter = SetUnhandledExceptionFilter(&WriteDump);
  installed = true;
}

__declspec(dllexport) void SetOnMiniDumpCreateCallBack(void*) {}

__declspec(dllexport) void UnInitDumper() {
  if (!installed) return;
  SetUnhandledExceptionFilter(previousFilter);
  installed = false;
}

}  // extern "C"
