// Text and number helpers shared by the whole launcher.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Without leading and trailing blanks, tabs, carriage returns and line feeds; a text made
// only of those comes back unchanged.
std::string Trim(std::string text);
// The pieces between delimiters; empty pieces are dropped.
std::vector<std::string> Split(const std::string& text, char delimiter);
// Every occurrence of from replaced by to; the search restarts at the start of the text after
// each replacement, so to must not contain from.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);
std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to);
// Lenient decimal conversions: leading whitespace and a sign accepted, digits up to the first
// other character; 0 when nothing is read or the value is out of range.
int32_t ToInt(const std::string& text);
int64_t ToInt64(const std::string& text);
uint32_t ToUInt(const std::string& text);
// Strict forms for server lists and manifests: decimal digits only (no sign, no blanks, at most
// 19 of them), and exactly length hex digits of one case.
bool ParseDigits(const std::string& text, uint64_t& value);
bool IsHexDigits(const std::string& text, size_t length, bool upperCase);
