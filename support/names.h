// Fixed names of the installation: directories, files, relative paths, addresses and
// identifiers. Every path is the installation directory joined to one of these with a
// backslash. Initialised before main and never changed.
#pragma once

#include <string>

#include "build_config.h"

inline const std::string LauncherVersion = "4.1.2037";
inline const std::string AnalyticsUrl =
    std::string(VOREL_ANALYTICS_HOST) + "/bisdk/batchpush?df=form&appId=111111678";

inline const std::wstring GameExeName = L"vorel.exe";
inline const std::wstring GameDirRel = L"Game\\vorel_win\\";
inline const std::wstring PackageDirRel = L"Package\\vorel_win\\";
inline const std::wstring GameFolderName = L"vorel_win";
inline const std::wstring GameRootName = L"Game";
inline const std::wstring GameExeRel = L"Game\\vorel_win\\vorel.exe";
inline const std::wstring PackageExeRel = L"Package\\vorel_win\\vorel.exe";
inline const std::wstring IncrementDirRel = L"Incrementupdate\\vorel_win";
inline const std::wstring LogDirName = L"Log";
inline const std::wstring ConfigDirName = L"Config";
inline const std::wstring TempDirName = L"Temp";
inline const std::wstring PackageRootName = L"Package";
inline const std::wstring ZipUpdateDirName = L"ZipUpdate";
inline const std::wstring PatchDirName = L"Patches";  // fetched patches before their apply, in Temp
inline const std::wstring LauncherUpdateDirName = L"LauncherUpdate";
inline const std::wstring ServerConfigFileW = L"serverconfig.txt";
inline const std::wstring LauncherConfigFileW = L"launcherconfig.txt";
inline const std::wstring SettingsFileName = L"config.ini";
inline const std::wstring UpdaterScriptName = L"updater.bat";
inline const std::string LauncherExeName = "VORELLauncher.exe";
inline const std::string LauncherBaseUrl =
    std::string(VOREL_UPDATE_HOST) + "/production/vorel_pql_win/Launcher/";
inline const std::string ServerConfigFileA = "serverconfig.txt";
inline const std::string LauncherConfigFileA = "launcherconfig.txt";
// Signed releases: the manifest and its detached signature beside launcherconfig.txt, and the
// versions of the last release accepted, kept in Config against a rollback.
inline const std::string ReleaseManifestFileA = "releasemanifest.txt";
inline const std::string ReleaseSignatureFileA = "releasemanifest.sig";
inline const std::string FileListNameA = "filelist.txt";  // the lists' names in the manifest
inline const std::string ZipListNameA = "ziplist.txt";
inline const std::wstring AcceptedReleaseFileW = L"acceptedrelease.txt";
inline const std::string AcceptedReleaseFileA = "acceptedrelease.txt";
inline const std::string ReleasePublicKey = VOREL_RELEASE_PUBLIC_KEY;
inline const std::wstring InstanceMutexName = L"vorelLauncher";
// The window's class: a second launcher finds the first one's window by it.
inline const std::wstring LauncherWindowClass = L"VORELLauncher";
inline const std::string CipherKeyword = "MORVANTELISHKADRUN";
