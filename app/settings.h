// The launcher's own setting: what the window's close box does, kept as "exitMode" in
// Config\config.ini beside the executable. 1 hides the window to the notification area (the
// update goes on), 2 ends the launcher. Read at start, at every close and before the tray menu
// opens, so a change made by hand takes effect without a restart.
#pragma once

#include <cstdint>
#include <string>

class Logger;

class LauncherSettings {
 public:
  // installDir: the launcher's folder. log may be null.
  LauncherSettings(std::wstring installDir, Logger* log);

  // The exit mode the file holds, repairing a missing, unreadable or wrong value by writing the
  // default file (and then 1). Never throws.
  int32_t readSettings();
  // Replaces the key's line (keys compared without surrounding blanks), or adds it when no line
  // holds the key. True when the file was written.
  bool writeSetting(const std::string& key, const std::string& value);
  // Recreates the file as the single line "exitMode=1". True when it was written.
  bool writeDefaultSettings();

 private:
  std::wstring path_;
  Logger* log_;
};
