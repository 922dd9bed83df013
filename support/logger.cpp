#include "support/logger.h"

#include <cstdlib>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/names.h"
#include "support/text_util.h"

Logger::~Logger() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) {
    std::string line = LocalTimeText("%Y-%m-%d %H:%M:%S") + " : === End logging ===\r\n";
    fwrite(line.data(), 1, line.size(), file_);
    fflush(file_);
    fclose(file_);
    file_ = nullptr;
  }
}

void Logger::open(const std::string& path, int, int) { open(AnsiToWide(path)); }

void Logger::open(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  target_ = 0;
  consoleThreshold_ = 0;
  std::string startLine = LocalTimeText("%Y-%m-%d %H:%M:%S") + " : === Start logging ===\n";
  if (file_) fclose(file_);
  // Text mode: "\n" reaches the disk as CR LF on Windows. Shared so that the file can be
  // read while the launcher runs.
  file_ = OpenSharedFile(path, L"a");
  if (file_) {
    fwrite(startLine.data(), 1, startLine.size(), file_);
    fflush(file_);
  }
}

void Logger::log(const std::string& message, int32_t level) { write(message, level, false); }

void Logger::logLast(const std::string& message, int32_t level) { write(message, level, true); }

void Logger::write(const std::string& message, int32_t level, bool last) {
  const char* prefix = "";
  if (level == Info) prefix = "[INFO] ";
  else if (level == Warning) prefix = "[WARNING] ";
  else if (level == Error) prefix = "[ERROR] ";
  std::string line = prefix + LocalTimeText("%Y-%m-%d %H:%M:%S") + " : " + message + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_) return;
  ended_ = last;
  if (target_ != 0 && level >= consoleThreshold_) {
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
  }
  if (target_ != 1 && file_) {
    fwrite(line.data(), 1, line.size(), file_);
    fflush(file_);
  }
}

LogDate ParseLogDate(const std::string& text) {
  auto piece = [&](size_t at, size_t length) {
    return at < text.size() ? std::atoi(text.substr(at, length).c_str()) : 0;
  };
  return LogDate{piece(0, 4), piece(4, 2), piece(6, 2)};
}

bool IsValidLogDate(const LogDate& date) {
  static const int daysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (date.year < 0 || date.month < 1 || date.month > 12 || date.day < 1) return false;
  bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
  int limit = daysIn[date.month - 1] + (date.month == 2 && leap ? 1 : 0);
  return date.day <= limit;
}

namespace {

int64_t DayNumber(const LogDate& date) {
  int64_t m = (date.month + 9) % 12;
  int64_t y = date.year - m / 10;
  return 365 * y + y / 4 - y / 100 + y / 400 + (306 * m + 5) / 10 + date.day;
}

}  // namespace

int64_t DaysBetween(const LogDate& from, const LogDate& to) { return DayNumber(to) - DayNumber(from); }

bool RemoveOldLogs(const std::wstring& directory, const std::string& referenceDate, int ageLimit) {
  LogDate today = ParseLogDate(referenceDate);
  if (!IsValidLogDate(today)) return false;
  if (!DirectoryExists(directory)) return true;
  return ForEachChild(directory, [&](const std::wstring& path, const DirectoryEntry& entry) {
    if (entry.isDirectory) return true;
    std::vector<std::string> pieces = Split(WideToAnsi(entry.name), '.');
    LogDate date = ParseLogDate(pieces.empty() ? std::string() : pieces.front());
    if (!IsValidLogDate(date) || DaysBetween(date, today) >= ageLimit) RemoveFile(path);
    return true;
  });
}

void OpenDayLog(Logger& logger, const std::wstring& installDir) {
  std::wstring logDir = installDir + L"\\" + LogDirName;
  std::string today = TodayText();
  RemoveOldLogs(logDir, today, 7);
  std::wstring path = logDir + L"\\" + AnsiToWide(today) + L".txt";
  CreateDirectories(path);
  logger.open(path);
}
