// VORELLauncher.exe: the program a player starts. Its only option is "gameupdate".
#include <windows.h>

#include "app/win32/main_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
  return RunLauncher(instance, commandLine, showCommand);
}
