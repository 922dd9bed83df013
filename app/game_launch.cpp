#include "app/game_launch.h"

#include "platform/files.h"
#include "platform/process.h"
#include "support/names.h"
#include "support/texts.h"

std::wstring LaunchGame(const std::wstring& installDir, bool inPackage) {
  std::wstring directory = installDir + L"\\" + (inPackage ? PackageDirRel : GameDirRel);
  std::wstring program = installDir + L"\\" + (inPackage ? PackageExeRel : GameExeRel);
  if (!FileExists(program)) return texts::GameNotFound;
  if (!RunProgram(program, L"Launcher", directory)) return texts::GameCannotStart;
  return L"";
}
