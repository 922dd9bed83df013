// Files and paths: what both platforms share.
#include <cerrno>

#include "platform/error.h"
#include "platform/files.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool AlreadyThereOrDenied(uint32_t code) {
#ifdef _WIN32
  return code == 183 || code == 5;  // ERROR_ALREADY_EXISTS, ERROR_ACCESS_DENIED
#else
  return code == EEXIST || code == EACCES;
#endif
}

}  // namespace

std::wstring ModuleDirectory() {
  std::wstring path = ModulePath();
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(0, cut);
}

bool CreateDirectories(const std::wstring& path) {
  size_t last = std::wstring::npos;
  for (size_t i = path.size(); i-- > 0;) {
    if (IsSeparator(path[i])) {
      last = i;
      break;
    }
  }
  // A bare name has no directory before it; it is never created as one.
  if (last == std::wstring::npos) return true;
  size_t start = 0;
  for (;;) {
    size_t next = start + 1;
    while (next < path.size() && !IsSeparator(path[next])) ++next;
    if (!MakeDirectory(path.substr(0, next)) && !AlreadyThereOrDenied(LastErrorCode())) return false;
    start = next;
    if (next >= last) break;
  }
  return true;
}

bool EndsWithSeparator(const std::wstring& path) { return !path.empty() && IsSeparator(path.back()); }

std::wstring ListingPattern(const std::wstring& dir) {
  return EndsWithSeparator(dir) ? dir + L"*.*" : dir + L"\\*.*";
}

bool ReadWholeFile(const std::wstring& path, std::string& content) {
  content.clear();
  FILE* file = OpenFile(path, L"rb");
  if (!file) return false;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
  fclose(file);
  return true;
}
