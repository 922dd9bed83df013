#include "app/win32/main_window.h"

#include <stdexcept>
#include <system_error>

#include "app/game_launch.h"
#include "app/win32/scoped_handle.h"
#include "net/http_transfer.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "resource_ids.h"
#include "support/names.h"
#include "ui/window_metrics.h"

namespace {

constexpr UINT TrayCallbackMessage = WM_USER;

// The window object comes with WM_NCCREATE, from CreateWindowExW's last argument, and stays with
// the window; the few messages before it get the default handling.
LRESULT CALLBACK ClassWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* created = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self) return self->windowProc(window, message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

// The portable menu as a Win32 pop-up menu, submenus included.
MenuHandle MakeMenu(const std::vector<MenuItem>& items) {
  MenuHandle menu(CreatePopupMenu());
  for (const MenuItem& item : items) {
    UINT flags = MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED) | (item.enabled ? MF_ENABLED : MF_GRAYED);
    UINT_PTR id = static_cast<UINT_PTR>(item.command);
    MenuHandle submenu;
    if (!item.submenu.empty()) {
      submenu = MakeMenu(item.submenu);
      flags |= MF_POPUP;
      id = reinterpret_cast<UINT_PTR>(submenu.get());
    }
    if (AppendMenuW(menu.get(), flags, id, item.text.c_str())) submenu.release();  // now the menu's
  }
  return menu;
}

int32_t DisplayFrequency() {
  DEVMODEW mode;
  ZeroMemory(&mode, sizeof mode);
  mode.dmSize = sizeof mode;
  if (!EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return 60;
  return static_cast<int32_t>(mode.dmDisplayFrequency);
}

RECT ToRect(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, const wchar_t* commandLine, int showCommand, LauncherSeam seam)
    : instance_(instance), seam_(std::move(seam)) {
  closeGameFirst_ = IsGameUpdateCommand(commandLine);
  EnsureCurlReady();
  patcher_ = std::make_unique<Patcher>();
  if (!seam_.installDir.empty()) patcher_->SetInstallDir(seam_.installDir);

  refreshRate_ = DisplayFrequency();
  frameInterval_ = FrameIntervalMs(refreshRate_);
  screenWidth_ = GetSystemMetrics(SM_CXSCREEN);
  screenHeight_ = GetSystemMetrics(SM_CYSCREEN);
  // The launcher declares itself DPI-aware: on a high-DPI display it reads the real DPI and the
  // screen in real pixels, and enlarges the skin itself (crisp at 200 %) instead of leaving
  // Windows to stretch it soft.
  if (HDC screen = GetDC(nullptr)) {
    scale_ = SkinScaleFor(GetDeviceCaps(screen, LOGPIXELSX), screenWidth_, screenHeight_);
    ReleaseDC(nullptr, screen);
  }
  position_ = CentredWindowPosition(screenWidth_, screenHeight_, scale_);

  wchar_t title[128] = {};
  LoadStringW(instance_, IDS_TITLE, title, 128);
  title_ = title;

  skin_ = std::make_unique<Skin>(instance_, layout::ClientWidth, layout::ClientHeight, seam_.backgroundIndex);
  model_ = std::make_unique<WindowModel>(skin_->buttonNormal.size(), skin_->buttonPressed.size());
  settings_ = std::make_unique<LauncherSettings>(installDir(), &patcher_->logger);
  settings_->readSettings();  // a missing or wrong settings file is repaired at start
  taskbarCreatedMessage_ = RegisterWindowMessageW(L"TaskbarCreated");

  HICON icon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_LAUNCHER));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = ClassWindowProc;
  windowClass.hInstance = instance_;
  windowClass.hIcon = icon;
  windowClass.hIconSm = icon;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = LauncherWindowClass.c_str();
  RegisterClassExW(&windowClass);  // a second window of a test program finds it registered

  // Everything the window procedure uses exists before this: it runs from WM_NCCREATE on.
  window_ = CreateWindowExW(WS_EX_ACCEPTFILES, LauncherWindowClass.c_str(), title_.c_str(),
                            WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, position_.x, position_.y, scale_.toScreen(layout::ClientWidth),
                            scale_.toScreen(layout::ClientHeight), nullptr, nullptr, instance_, this);
  if (!window_) throw std::logic_error("Failed to create window!");

  tray_.init(window_, icon, TrayCallbackMessage);
  tray_.add();

  // The window was created 1280 x 576 outside; grow it so that the client area is that size.
  RECT outer{}, inner{};
  GetWindowRect(window_, &outer);
  GetClientRect(window_, &inner);
  POINT origin{0, 0};
  ClientToScreen(window_, &origin);
  nonClientHeight_ = (outer.bottom - outer.top) - (inner.bottom - inner.top);
  clientOffsetX_ = origin.x - outer.left;
  clientOffsetY_ = origin.y - outer.top;
  MoveWindow(window_, position_.x, position_.y, scale_.toScreen(layout::ClientWidth) + 2 * clientOffsetX_,
             scale_.toScreen(layout::ClientHeight) + nonClientHeight_, FALSE);
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  running_ = true;
}

MainWindow::~MainWindow() {
  if (updateThread_.joinable()) updateThread_.join();
  tray_.removeForGood();
  if (window_ && IsWindow(window_)) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);  // its WM_DESTROY posts no quit to this thread's loop
    DestroyWindow(window_);
  }
}

std::wstring MainWindow::installDir() const { return patcher_->InstallDir(); }

WPARAM MainWindow::runMessageLoop() {
  StartUpdateThread(closeGameFirst_);
  const int64_t startMs = MonotonicMs();
  const std::string analytics = seam_.analyticsUrl.empty() ? AnalyticsUrl : seam_.analyticsUrl;
  const std::string mac = seam_.macAddress ? seam_.macAddress() : GetMacAddress();
  if (!mac.empty()) usage_.sendStartEvent(analytics, mac);

  // One periodic thread timer paces the frames; a frame also runs when other messages have kept
  // the loop busy for a whole interval, so a stream of them (the pointer moving over the window)
  // never holds it back. Once the run has ended and nothing is pending, the timer stops and each
  // message gets its frame at once: an idle window costs no CPU.
  UINT_PTR timer = 0;
  MSG message{};
  while (running_) {
    updateFrame();
    if (!running_) break;  // the game started: no message may be waited for now
    const int64_t frameMs = MonotonicMs();
    const bool idle = model_->idle(patcher_->stage);
    if (idle && timer) {
      KillTimer(nullptr, timer);
      timer = 0;
    } else if (!idle && !timer) {
      timer = SetTimer(nullptr, 0, static_cast<UINT>(frameInterval_), nullptr);
    }
    for (;;) {
      BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0 || got == -1) break;
      if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == timer) break;
      TranslateMessage(&message);
      DispatchMessageW(&message);
      if (!running_ || idle || FrameDue(frameMs, MonotonicMs(), frameInterval_)) break;
    }
  }
  if (timer) KillTimer(nullptr, timer);

  if (!mac.empty()) {
    usage_.sendStopEvent(analytics, mac, RunningSeconds(startMs, MonotonicMs()), seam_.stopEventWaitMs);
  }
  tray_.removeForGood();
  return message.wParam;
}

Point MainWindow::clientPoint(POINT screen) const {
  ScreenToClient(window_, &screen);
  return Point{scale_.toSkin(screen.x), scale_.toSkin(screen.y)};
}

void MainWindow::invalidate(const std::vector<Invalidation>& rects) {
  for (const Invalidation& r : rects) {
    RECT area = ToRect(scale_.toScreen(r.rect));
    InvalidateRect(window_, &area, r.erase ? TRUE : FALSE);
  }
}

void MainWindow::updateFrame() {
  redraw_.clear();
  auto cursor = [this] {
    POINT screen{};
    GetCursorPos(&screen);
    return clientPoint(screen);
  };
  const bool runEnded = runEnded_.load();  // read before the status, so that this frame shows the last one
  FrameActions actions = model_->frame(patcher_->stage, cursor, redraw_);
  if (actions.attractAttention) attractAttention();
  if (actions.launchGame) launchGame();
  model_->display.update(SnapshotOf(*patcher_), MonotonicMs(), redraw_);
  model_->runEndShown = runEnded;
  invalidate(redraw_);
}

void MainWindow::attractAttention() {
  FLASHWINFO flash{};
  flash.cbSize = sizeof flash;
  flash.hwnd = window_;
  flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
  flash.uCount = 0;
  flash.dwTimeout = 0;
  FlashWindowEx(&flash);
  const int32_t w = scale_.toScreen(layout::ClientWidth) + 2 * clientOffsetX_;
  const int32_t h = scale_.toScreen(layout::ClientHeight) + nonClientHeight_;
  SetWindowPos(window_, HWND_TOPMOST, position_.x, position_.y, w, h, SWP_NOSIZE);
  ShowWindow(window_, SW_SHOW);
  SetWindowPos(window_, HWND_NOTOPMOST, position_.x, position_.y, w, h, 0);
}

void MainWindow::launchGame() {
  model_->launchStarting();
  std::wstring error = LaunchGame(installDir(), patcher_->inPackage);
  if (error.empty()) {
    running_ = false;
    return;
  }
  std::vector<Invalidation> redraw;
  model_->launchFailed(error, redraw);
  invalidate(redraw);
}

void MainWindow::StartUpdateThread(bool closeGameFirst) {
  std::vector<Invalidation> redraw;
  model_->prepareRun(redraw);
  invalidate(redraw);
  patcher_->closeGameFirst = closeGameFirst;
  if (updateThread_.joinable()) {
    if (updateThread_.get_id() == std::this_thread::get_id()) {
      throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    }
    updateThread_.join();
  }
  // A launcher self-update ends the process from the update thread: the icon goes first.
  patcher_->beforeProcessEnd = [this] { tray_.removeForGood(); };
  Patcher* patcher = patcher_.get();
  std::string baseUrl = seam_.updateBaseUrl;
  runEnded_ = false;
  std::atomic<bool>* ended = &runEnded_;
  updateThread_ = std::thread([patcher, baseUrl, ended] {
    if (baseUrl.empty()) {
      patcher->Work();
    } else {
      patcher->RunGuarded([patcher, baseUrl] { patcher->UpdateProcess(baseUrl); });
    }
    *ended = true;
  });
}

void MainWindow::trayMenu() {
  MenuHandle menu = MakeMenu(TrayMenu(settings_->readSettings()));
  POINT cursor{};
  GetCursorPos(&cursor);
  SetForegroundWindow(window_);
  int command = TrackPopupMenu(menu.get(), TPM_RETURNCMD, cursor.x, cursor.y, 0, window_, nullptr);
  MenuChoice choice = MenuChoiceFor(command);
  switch (choice.action) {
    case MenuAction::Restore: ShowWindow(window_, SW_SHOW); break;
    case MenuAction::Quit: DestroyWindow(window_); break;
    // The next menu shows the check mark the settings file then holds.
    case MenuAction::SaveExitMode: settings_->writeSetting("exitMode", std::to_string(choice.exitMode)); break;
    case MenuAction::Dismissed: PostMessageW(window_, WM_LBUTTONDOWN, 0, 0); break;
    case MenuAction::None: break;
  }
}

LRESULT MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreatedMessage_ && taskbarCreatedMessage_ != 0) {
    tray_.add();
    return DefWindowProcW(window, message, wParam, lParam);
  }
  switch (message) {
    case WM_NCCREATE:
      window_ = window;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE: {
      const DWORD position = GetMessagePos();
      Point at = clientPoint(POINT{static_cast<SHORT>(LOWORD(position)), static_cast<SHORT>(HIWORD(position))});
      PointerEvent event = message == WM_LBUTTONDOWN ? PointerEvent::Down
                           : message == WM_LBUTTONUP ? PointerEvent::Up
                                                     : PointerEvent::Move;
      std::vector<Invalidation> redraw;
      model_->pointer(event, at.x, at.y, redraw);
      invalidate(redraw);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      HDC dc = BeginPaint(window, &paint);
      FrameContent content;
      content.gameReady = model_->gameReady;
      content.button = model_->startButton.currentImage();
      content.progress = &model_->display.progress;
      content.versionText = model_->display.versionText;
      content.statusText = model_->display.statusText;
      content.errorText = model_->display.errorText;
      if (dc) DrawFrame(*skin_, content, dc, &paint.rcPaint, scale_);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_SETCURSOR:
      SetCursor(skin_->arrowCursor);
      return 0;
    case WM_CLOSE:
      switch (CloseActionFor(settings_->readSettings())) {
        case CloseAction::HideToTray:
          ShowWindow(window, SW_HIDE);
          tray_.showBalloon();
          break;
        case CloseAction::Destroy: DestroyWindow(window); break;
        case CloseAction::None: break;
      }
      return 0;
    case WM_DESTROY:
      running_ = false;
      tray_.remove();
      PostQuitMessage(0);
      return 0;
    case WM_DROPFILES:
      // Files dropped on the window are not used; the drop must still be released.
      DragFinish(reinterpret_cast<HDROP>(wParam));
      return 0;
    case TrayCallbackMessage:
      switch (TrayActionFor(static_cast<uint32_t>(lParam))) {
        case TrayAction::Restore: ShowWindow(window, SW_SHOW); break;
        case TrayAction::ShowMenu: trayMenu(); break;
        case TrayAction::RemoveIconAndQuit:
          tray_.remove();
          PostQuitMessage(0);
          break;
        case TrayAction::None: break;
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}
