// Arbitrary bytes through the INI reader: either a tree or the reader's own error.
#include <sstream>
#include <stdexcept>

#include "fuzz_common.h"
#include "support/ini_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
  try {
    IniReader reader(input);
  } catch (const std::runtime_error& error) {
    fuzz::Require(std::string(error.what()).find(" on line #") != std::string::npos);
  }
  return 0;
}
