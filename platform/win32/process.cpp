#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "platform/process.h"

#include <cstdio>

bool RunProgram(const std::wstring& file, const std::wstring& parameters, const std::wstring& directory) {
  if (!SetCurrentDirectoryW(directory.c_str())) return false;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = 0;
  info.hwnd = nullptr;
  info.lpVerb = nullptr;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOWDEFAULT;
  return ShellExecuteExW(&info) != FALSE;
}

bool KillProcessesByName(const std::wstring& name) {
  if (name.empty()) return false;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  if (!Process32FirstW(snapshot, &entry)) {
    CloseHandle(snapshot);
    return false;
  }
  bool ok = true;
  do {
    if (name != entry.szExeFile) continue;
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, TRUE, entry.th32ProcessID);
    bool ended = process && TerminateProcess(process, 0);
    if (process) CloseHandle(process);
    if (!ended) {
      ok = false;
      break;
    }
  } while (Process32NextW(snapshot, &entry));
  CloseHandle(snapshot);
  return ok;
}

bool StartHiddenScript(const std::wstring& scriptName, const std::wstring& directory) {
  // The system's cmd.exe by its full path: a bare "cmd.exe" is looked for in the launcher's own
  // folder first, where anyone who can write there could put another one.
  wchar_t system[MAX_PATH];
  UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const std::wstring cmd = std::wstring(system, length) + L"\\cmd.exe";
  std::wstring commandLine = L"\"" + cmd + L"\" /c \"" + scriptName + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(cmd.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr, directory.c_str(), &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

int RunAndWait(const std::wstring& program, const std::wstring& arguments, const std::wstring& directory) {
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(),
                      &startup, &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

void EndProcessNow(int exitCode) {
  fflush(nullptr);
  ExitProcess(static_cast<UINT>(exitCode));
}
