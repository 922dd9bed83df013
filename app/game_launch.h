// Starting the game once the update has finished: Game\vorel_win\vorel.exe, or the copy in
// Package\vorel_win\ while the game lives there, with the parameter "Launcher".
#pragma once

#include <string>

// Empty when the game was started; otherwise the text to show the player.
std::wstring LaunchGame(const std::wstring& installDir, bool inPackage);
