#include "app/win32/tray_icon.h"

#include <cwchar>

#include "support/texts.h"

namespace {

template <size_t N>
void CopyText(wchar_t (&target)[N], const std::wstring& text) {
  wcsncpy(target, text.c_str(), N - 1);
  target[N - 1] = L'\0';
}

}  // namespace

void TrayIcon::init(HWND window, HICON icon, UINT callbackMessage) {
  data_ = NOTIFYICONDATAW{};
  data_.cbSize = sizeof(NOTIFYICONDATAW);
  data_.hWnd = window;
  data_.uID = 0;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = callbackMessage;
  data_.hIcon = icon;
  CopyText(data_.szTip, texts::TrayTip);
  CopyText(data_.szInfo, texts::BackgroundText);
  data_.uTimeout = 5000;
  CopyText(data_.szInfoTitle, texts::BackgroundTitle);
  data_.dwInfoFlags = 0;
}

bool TrayIcon::add() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool ok = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
  if (ok) added_ = true;
  return ok;
}

bool TrayIcon::showBalloon() {
  std::lock_guard<std::mutex> lock(mutex_);
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO;
  return Shell_NotifyIconW(NIM_MODIFY, &data_) != FALSE;
}

void TrayIcon::remove() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (added_) Shell_NotifyIconW(NIM_DELETE, &data_);
  added_ = false;
}
