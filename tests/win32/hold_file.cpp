// Holds a file open without sharing, as a running game may hold its data, until it is ended.
//   usage: vorel_hold_file FILE    writes FILE.held once the file is open
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::wstring marker = std::wstring(argv[1]) + L".held";
  FILE* note = _wfopen(marker.c_str(), L"wb");
  if (note) fclose(note);
  Sleep(INFINITE);
  return 0;
}
