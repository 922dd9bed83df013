// The day log in Log\ beside the launcher. One Logger per run; lines come from the update
// thread, the download workers and the window's thread, each written whole under a lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

enum LogLevel : int32_t { Info = 1, Warning = 2, Error = 3 };

class Logger {
 public:
  Logger() = default;
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // path: narrow text in the ANSI code page. The two trailing integers are unused.
  void open(const std::string& path, int = 0, int = 0);
  // Any path, also one with characters outside the ANSI code page.
  void open(const std::wstring& path);
  void log(const std::string& message, int32_t level);
  void info(const std::string& message) { log(message, Info); }
  void warning(const std::string& message) { log(message, Warning); }
  void error(const std::string& message) { log(message, Error); }
  // The run's last line: written and flushed, and every line logged after it (by threads the
  // process is about to stop) is dropped.
  void logLast(const std::string& message, int32_t level);

 private:
  void write(const std::string& message, int32_t level, bool last);

  std::mutex mutex_;
  FILE* file_ = nullptr;
  int32_t target_ = 1;  // 0: file only, 1: standard output only, other: both
  int32_t consoleThreshold_ = 0;
  bool ended_ = false;  // the last line is written
};

// Log file upkeep used when the update process opens the day's log.
struct LogDate {
  int year = 0, month = 0, day = 0;
};
// Reads year, month and day from the first eight characters (atoi-style pieces).
LogDate ParseLogDate(const std::string& text);
bool IsValidLogDate(const LogDate& date);
// Days from `from` to `to`.
int64_t DaysBetween(const LogDate& from, const LogDate& to);
// Deletes files whose name does not start with a valid date, and logs dated `ageLimit` or
// more days before referenceDate ("%Y%m%d"). Subdirectories stay.
bool RemoveOldLogs(const std::wstring& directory, const std::string& referenceDate, int ageLimit);
// Removes old logs from installDir\Log and opens today's file there.
void OpenDayLog(Logger& logger, const std::wstring& installDir);
