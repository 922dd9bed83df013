// Conversions between narrow text and wide text. Narrow text is the system's ANSI code page
// on Windows and UTF-8 on Linux; bytes that are not valid UTF-8 survive a round trip through
// wide text on Linux (they map to U+DC80..U+DCFF).
#pragma once

#include <string>

std::wstring AnsiToWide(std::string text);
std::string WideToAnsi(std::wstring text);
// UTF-8 <-> wide, for the percent-encoding of usage reports.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
// GBK (code page 936) bytes -> wide, whatever the system's ANSI code page is.
std::wstring GbkToWide(const std::string& text);
