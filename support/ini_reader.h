// Reader of INI-style text with nested sections ("[a]", "[[b]]", ...). Bytes throughout:
// no quoting, no escapes, no character-set conversion. Throws std::runtime_error ending in
// " on line #N" at the first syntax error.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <vector>

class IniLevel {
 public:
  using Values = std::map<std::string, std::string>;
  using Sections = std::map<std::string, std::unique_ptr<IniLevel>>;

  // Get-or-insert: an absent key is added with an empty value (outside orderedValues).
  std::string& value(const std::string& key) { return values[key]; }
  // Get-or-insert: an absent name is added as a new, unplaced level (depth 0, no parent).
  IniLevel& section(const std::string& name);

  Values values;
  Sections sections;
  std::vector<Values::value_type*> orderedValues;
  std::vector<Sections::value_type*> orderedSections;
  IniLevel* parent = nullptr;
  uint64_t depth = 0;
};

class IniReader {
 public:
  explicit IniReader(std::istream& input);
  IniLevel& top() { return top_; }

 private:
  void parse();
  void parseSection();
  void parseValue();
  [[noreturn]] void fail(const char* text) const;

  IniLevel top_;
  std::istream& input_;
  std::string line_;
  uint64_t lineNumber_ = 0;
  IniLevel* current_ = &top_;
};

// Trims blanks, tabs, carriage returns and line feeds (and NUL bytes) from both ends.
std::string TrimIni(const std::string& text);
