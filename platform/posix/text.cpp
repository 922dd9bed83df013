// UTF-8 is the narrow encoding on Linux. Invalid bytes are kept as U+DC80+byte so that any
// byte string (a file name from an archive, say) survives the trip through wide text.
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace {

std::wstring DecodeUtf8(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = s[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((c & 0xE0) == 0xC0) { length = 2; cp = c & 0x1F; minimum = 0x80; }
    else if ((c & 0xF0) == 0xE0) { length = 3; cp = c & 0x0F; minimum = 0x800; }
    else if ((c & 0xF8) == 0xF0) { length = 4; cp = c & 0x07; minimum = 0x10000; }
    bool ok = length > 0 && i + length <= n;
    for (int k = 1; ok && k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (ok && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back(static_cast<wchar_t>(0xDC00 + c));
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += length;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string EncodeUtf8(const std::wstring& text, bool keepEscapes) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t w : text) {
    auto cp = static_cast<char32_t>(w);
    if (cp >= 0xDC80 && cp <= 0xDCFF && keepEscapes) {
      out.push_back(static_cast<char>(cp - 0xDC00));
    } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back('?');  // as WideCharToMultiByte's default character
    } else {
      AppendUtf8(out, cp);
    }
  }
  return out;
}

}  // namespace

std::wstring AnsiToWide(std::string text) { return DecodeUtf8(text); }
std::string WideToAnsi(std::wstring text) { return EncodeUtf8(text, true); }
std::string WideToUtf8(const std::wstring& text) { return EncodeUtf8(text, false); }
std::wstring Utf8ToWide(const std::string& text) { return DecodeUtf8(text); }

std::wstring GbkToWide(const std::string& text) {
  std::wstring out;
  if (text.empty()) return out;
  iconv_t cd = iconv_open("WCHAR_T", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::string input = text;
  std::wstring buffer(text.size() + 1, L'\0');
  char* in = input.data();
  size_t inLeft = input.size();
  char* outPtr = reinterpret_cast<char*>(buffer.data());
  size_t outLeft = buffer.size() * sizeof(wchar_t);
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    // As MultiByteToWideChar does by default: an unmappable byte becomes a replacement mark.
    if (outLeft < sizeof(wchar_t)) break;
    *reinterpret_cast<wchar_t*>(outPtr) = L'?';
    outPtr += sizeof(wchar_t);
    outLeft -= sizeof(wchar_t);
    ++in;
    --inLeft;
  }
  iconv_close(cd);
  buffer.resize(buffer.size() - outLeft / sizeof(wchar_t));
  return buffer;
}
