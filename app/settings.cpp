#include "app/settings.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/files.h"
#include "support/ini_reader.h"
#include "support/logger.h"
#include "support/names.h"
#include "support/text_util.h"

namespace {

// Writes and closes; a failed write or a failed flush at close (a full disk) is a failure.
bool WriteAndClose(FILE* file, const std::string& bytes) {
  bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

}  // namespace

LauncherSettings::LauncherSettings(std::wstring installDir, Logger* log)
    : path_(installDir + L"\\" + ConfigDirName + L"\\" + SettingsFileName), log_(log) {}

int32_t LauncherSettings::readSettings() {
  if (!FileExists(path_)) {
    writeDefaultSettings();
    return 1;
  }
  std::string content;
  ReadWholeFile(path_, content);
  std::string value;
  try {
    std::istringstream in(content);
    IniReader reader(in);
    value = reader.top().value("exitMode");
  } catch (const std::runtime_error& e) {
    // Called from the window procedure: a file edited into bad syntax must not end the
    // launcher. It counts as a wrong value and is repaired like one.
    if (log_) log_->warning(std::string("Launcher settings unreadable, exitMode reset to 1: ") + e.what());
  }
  int32_t mode = ToInt(value);
  if (mode == 1 || mode == 2) return mode;
  writeDefaultSettings();
  return 1;
}

bool LauncherSettings::writeDefaultSettings() {
  if (FileExists(path_) && !RemoveFile(path_)) return false;
  CreateDirectories(path_);
  FILE* file = OpenFile(path_, L"wb");
  if (!file) return false;
  return WriteAndClose(file, "exitMode=1\n");
}

bool LauncherSettings::writeSetting(const std::string& key, const std::string& value) {
  const std::string newLine = key + "=" + value;
  if (!FileExists(path_) && !writeDefaultSettings()) return false;
  std::string content;
  if (!ReadWholeFile(path_, content)) return false;

  std::vector<std::string> lines;
  bool replaced = false;
  std::istringstream in(content);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> pieces = Split(line, '=');
    if (pieces.empty()) continue;  // empty lines, and lines of "=" alone, are dropped
    // Blanks around the key ("exitMode = 2") still name the key.
    if (Trim(pieces[0]) == key) {
      lines.push_back(newLine);
      replaced = true;
    } else {
      lines.push_back(line);
    }
  }
  if (!replaced) lines.push_back(newLine);

  // Lines end in CR LF once the file has been rewritten, as text mode writes them on Windows.
  std::string out;
  for (const auto& kept : lines) out += kept + "\r\n";
  FILE* file = OpenFile(path_, L"wb");
  if (!file) return false;
  return WriteAndClose(file, out);
}
