// The launcher's notification-area icon: owns its NOTIFYICONDATAW, adds itself again when the
// taskbar is recreated, shows the "downloading in the background" balloon once the window hides,
// and takes itself away before the process ends (from any thread, once). The self-update removes
// it from the update thread while the window's thread may be showing the balloon: every use of
// the icon's data holds the lock.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <mutex>

class TrayIcon {
 public:
  // callbackMessage arrives at window with the mouse message in lParam.
  void init(HWND window, HICON icon, UINT callbackMessage);
  bool add();
  // From now on every add or change also shows the balloon.
  bool showBalloon();
  void remove();

 private:
  std::mutex mutex_;
  NOTIFYICONDATAW data_{};
  bool added_ = false;
};
