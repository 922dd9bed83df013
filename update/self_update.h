// Replacing the launcher itself: fetch, check and unpack the launcher package into
// Temp\LauncherUpdate, then hand over to a generated updater.bat and end the process.
#pragma once

#include <string>
#include <vector>

#include "update/config.h"

class Patcher;

// True when Temp\LauncherUpdate holds the unpacked package (stage 15 and the status text set
// otherwise).
bool FetchLauncherPackage(Patcher& patcher, const std::wstring& installDir, const std::vector<std::string>& urls,
                          const PackageInfo& launcherZipInfo);
// The script's bytes for the given file names (the launcher's own executable excluded).
std::string BuildUpdaterScript(const std::vector<std::string>& files);
// Writes and starts updater.bat, then ends the process. Returns (false) only when the script
// could not be written or started; the failure is logged and nothing is started then.
bool ApplyLauncherUpdate(Patcher& patcher, const std::wstring& installDir, const std::wstring& updateDir);
