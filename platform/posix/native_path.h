// Wide Windows-style paths to the Linux file system: narrow UTF-8 with "/" separators.
#pragma once

#include <string>

#include "platform/text.h"

inline std::string NativePath(const std::wstring& path) {
  std::string native = WideToAnsi(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}
