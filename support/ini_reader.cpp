#include "support/ini_reader.h"

#include <stdexcept>

IniLevel& IniLevel::section(const std::string& name) {
  auto& slot = sections[name];
  if (!slot) slot = std::make_unique<IniLevel>();
  return *slot;
}

std::string TrimIni(const std::string& text) {
  auto strip = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; };
  size_t first = 0;
  size_t last = text.size();
  while (first < last && strip(text[first])) ++first;
  while (last > first && strip(text[last - 1])) --last;
  return text.substr(first, last - first);
}

IniReader::IniReader(std::istream& input) : input_(input) { parse(); }

void IniReader::fail(const char* text) const {
  throw std::runtime_error(std::string(text) + " on line #" + std::to_string(lineNumber_));
}

void IniReader::parse() {
  std::string raw;
  while (std::getline(input_, raw)) {
    ++lineNumber_;
    line_ = TrimIni(raw);
    if (line_.empty() || line_[0] == '#' || line_[0] == ';') continue;
    if (line_[0] == '[') parseSection();
    else parseValue();
  }
}

void IniReader::parseSection() {
  uint64_t depth = 0;
  while (depth < line_.size() && line_[depth] == '[') ++depth;
  // The name is cut by count; the closing brackets are never looked at.
  std::string name = 2 * depth > line_.size() ? line_.substr(depth) : line_.substr(depth, line_.size() - 2 * depth);
  if (depth > current_->depth + 1) fail("section with wrong depth");
  IniLevel* parent = current_;
  if (depth != current_->depth + 1) {
    parent = current_->parent;
    for (uint64_t step = depth; step < current_->depth; ++step) parent = parent->parent;
  }
  auto& slot = parent->sections[name];
  if (!slot) slot = std::make_unique<IniLevel>();
  IniLevel& found = *slot;
  if (found.depth != 0) fail("duplicate section name on the same level");
  if (!found.parent) {
    found.depth = depth;
    found.parent = parent;
  }
  parent->orderedSections.push_back(&*parent->sections.find(name));
  current_ = &found;
}

void IniReader::parseValue() {
  size_t equals = line_.find('=');
  if (equals == std::string::npos) fail("no '=' found");
  std::string value = TrimIni(line_.substr(equals + 1));
  size_t comment = value.find('#');
  if (comment == std::string::npos) comment = value.find(';');
  if (comment != std::string::npos) value.resize(comment);
  std::string key = TrimIni(line_.substr(0, equals));
  auto inserted = current_->values.emplace(key, value);
  if (!inserted.second) fail("duplicated key found");
  current_->orderedValues.push_back(&*inserted.first);
}
