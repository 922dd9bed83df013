// What the launcher's window decides, apart from drawing: the window half of the per-frame step
// (start button, reactions to the end of the update run), the game start's outcome, the close
// box, the notification icon's callbacks and its menu, and a second launcher's wait for the
// first one's window. The Win32 code decodes each message into one of these calls and carries
// out what comes back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/image_button.h"
#include "ui/progress_display.h"

// Returned by the per-frame step: what the window must do now.
struct FrameActions {
  bool attractAttention = false;  // flash, bring to the front and out of the tray
  bool launchGame = false;
};

enum class PointerEvent { Move, Leave, Down, Up };

class WindowModel {
 public:
  WindowModel(ImageSize normal, ImageSize pressed);

  // Before an update run starts: sampling reset, the button disabled and its area redrawn.
  void prepareRun(std::vector<Invalidation>& redraw);
  // The window half of the per-frame step. stage: the update run's stage; cursor: reads the
  // pointer's position in client coordinates, called only while the button is hovered or pressed
  // (only then can the pointer leaving the window matter).
  FrameActions frame(int32_t stage, const std::function<Point()>& cursor, std::vector<Invalidation>& redraw);
  void pointer(PointerEvent event, int32_t x, int32_t y, std::vector<Invalidation>& redraw);
  // A game start is about to be tried: the last failure's text goes.
  void launchStarting();
  // The game start failed with this text: it stays on screen until the next attempt, and the
  // start button is drawn so the player can try again.
  void launchFailed(const std::wstring& error, std::vector<Invalidation>& redraw);
  // The update run has ended, a frame has shown what it left, and the pointer holds nothing: no
  // frame can change anything until a message arrives, so the window need not wake up every frame
  // interval.
  bool idle(int32_t stage) const;

  ImageButton startButton;
  DisplayModel display;
  bool gameReady = false;  // the start button is drawn
  // The update thread had ended before the last frame read its status: the status on screen is
  // its final one (the engine sets the stage before the status, with a log line in between).
  bool runEndShown = false;
};

enum class CloseAction { None, HideToTray, Destroy };
CloseAction CloseActionFor(int32_t exitMode);

// The notification icon's callback, by the mouse message it carries.
enum class TrayAction { None, Restore, ShowMenu, RemoveIconAndQuit };
TrayAction TrayActionFor(uint32_t mouseMessage);

// The icon's menu: its items, command identifiers and what a returned one means.
namespace menu {
constexpr int32_t Restore = 12;
constexpr int32_t Quit = 13;
constexpr int32_t ExitOnClose = 14;
constexpr int32_t HideOnClose = 15;
}  // namespace menu
struct MenuItem {
  int32_t command = 0;  // what choosing it returns; 0 for an item that opens a submenu
  std::wstring text;
  std::vector<MenuItem> submenu;
  bool checked = false;
  bool enabled = true;
};
// Built each time it opens, so its check mark follows the settings file as it is then: the close
// box's two choices (the one of exitMode checked) in a submenu, restore, exit.
std::vector<MenuItem> TrayMenu(int32_t exitMode);
enum class MenuAction { None, Restore, Quit, SaveExitMode, Dismissed };
struct MenuChoice {
  MenuAction action = MenuAction::None;
  int32_t exitMode = 0;  // with SaveExitMode
};
MenuChoice MenuChoiceFor(int32_t command);

// A second launcher looks for the first one's window every FirstWindowPollMs; one started at the
// same moment may still be making it, so it counts as not responding only after 5 s. waitedMs:
// the time spent looking before this look.
constexpr int32_t FirstWindowPollMs = 100;
enum class FirstWindowAction { KeepLooking, NotResponding, Restore, Show };
FirstWindowAction FirstWindowStep(bool found, bool minimised, int32_t waitedMs);

// The message loop runs the frame step when a whole frame interval has passed since the last one,
// however many messages arrive in between.
bool FrameDue(int64_t lastFrameMs, int64_t nowMs, int32_t frameIntervalMs);
