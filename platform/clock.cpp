// Clock texts, the same on both platforms.
#include "platform/clock.h"

#include <cstdio>

std::tm LocalTimeOf(std::time_t when) {
  std::tm out{};
#ifdef _WIN32
  localtime_s(&out, &when);
#else
  localtime_r(&when, &out);
#endif
  return out;
}

std::string LocalTimeText(const char* format) {
  std::tm now = LocalTimeOf(std::time(nullptr));
  char buffer[64];
  size_t n = strftime(buffer, sizeof buffer, format, &now);
  return std::string(buffer, n);
}

std::string TodayText() { return LocalTimeText("%Y%m%d"); }

std::string NowWithMilliseconds() {
  const int64_t ms = WallClockMs();
  std::tm local = LocalTimeOf(static_cast<std::time_t>(ms / 1000));
  char buffer[80];
  size_t n = strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S.", &local);
  char fraction[8];
  snprintf(fraction, sizeof fraction, "%03d", static_cast<int>(ms % 1000));
  return std::string(buffer, n) + fraction;
}
