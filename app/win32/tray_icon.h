// The launcher's notification-area icon: the shell's icon data with the launcher's tip and
// "downloading in the background" balloon.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "ui/notification_icon.h"

class TrayIcon : public NotificationIcon<NOTIFYICONDATAW> {
 public:
  // callbackMessage arrives at window with the mouse message in lParam.
  void init(HWND window, HICON icon, UINT callbackMessage);
};
