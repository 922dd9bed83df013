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
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(NOTIFYICONDATAW);
  data.hWnd = window;
  data.uID = 0;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = callbackMessage;
  data.hIcon = icon;
  CopyText(data.szTip, texts::TrayTip);
  CopyText(data.szInfo, texts::BackgroundText);
  data.uTimeout = 5000;
  CopyText(data.szInfoTitle, texts::BackgroundTitle);
  data.dwInfoFlags = 0;
  auto shell = [](IconCall call, NOTIFYICONDATAW& icon) {
    const DWORD message = call == IconCall::Add ? NIM_ADD : call == IconCall::Modify ? NIM_MODIFY : NIM_DELETE;
    return Shell_NotifyIconW(message, &icon) != FALSE;
  };
  auto withBalloon = [](NOTIFYICONDATAW& icon) { icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO; };
  NotificationIcon::init(data, shell, withBalloon);
}
