// Starting and ending processes.
#pragma once

#include <string>

// Changes the current directory to directory and starts file with parameters.
bool RunProgram(const std::wstring& file, const std::wstring& parameters, const std::wstring& directory);
// Ends the process at once with exitCode, after flushing the C streams: no static destructors
// or exit handlers run, so threads still working are not pulled from under their objects.
[[noreturn]] void EndProcessNow(int exitCode);
// Ends every process whose executable file name is exactly name.
bool KillProcessesByName(const std::wstring& name);
// Starts a batch script hidden, with directory as its working directory, and does not wait.
bool StartHiddenScript(const std::wstring& scriptName, const std::wstring& directory);
// Runs program with its arguments (one text, split at blanks) in directory and waits for it.
// The exit code, or -1 when it could not be started. Used by tools and tests.
int RunAndWait(const std::wstring& program, const std::wstring& arguments, const std::wstring& directory);
