// Local time, wall-clock milliseconds and identity of the machine.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Thread-safe local time.
std::tm LocalTimeOf(std::time_t when);
// Local time now formatted with strftime.
std::string LocalTimeText(const char* format);
std::string TodayText();             // %Y%m%d
std::string NowWithMilliseconds();   // %Y-%m-%d %H:%M:%S.mmm
int64_t WallClockMs();               // milliseconds since 1970
// Milliseconds from an arbitrary start that never goes back: a change of the system time
// neither fakes nor hides a stall, and durations do not wrap.
int64_t MonotonicMs();
std::string NewGuidText();
std::string GetLocalIp();
std::string GetMacAddress();
