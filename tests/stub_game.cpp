// A stand-in for the game in tests and the demo: it records how it was started (arguments and
// working directory) in launched.txt in its working directory, and says so.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) arguments += (i > 1 ? " " : "") + std::string(argv[i]);
  // UTF-8, so that a folder named outside the ANSI code page is recorded, not an exception.
  std::string where = std::filesystem::current_path().u8string();
  std::ofstream record("launched.txt", std::ios::binary | std::ios::trunc);
  record << "arguments: " << arguments << "\n" << "directory: " << where << "\n";
  printf("vorel.exe started with \"%s\" in %s\n", arguments.c_str(), where.c_str());
  return 0;
}
