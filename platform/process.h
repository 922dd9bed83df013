// Starting and ending processes.
#pragma once

#include <string>

// Changes the current directory to directory and starts file with parameters.
bool RunProgram(const std::wstring& file, const std::wstring& parameters, const std::wstring& directory);
// Ends every process whose executable file name is exactly name.
bool KillProcessesByName(const std::wstring& name);
// Starts a batch script hidden, with directory as its working directory, and does not wait.
bool StartHiddenScript(const std::wstring& scriptName, const std::wstring& directory);
