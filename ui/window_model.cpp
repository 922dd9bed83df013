#include "ui/window_model.h"

#include "support/texts.h"
#include "update/stage.h"

WindowModel::WindowModel(ImageSize normal, ImageSize pressed)
    : startButton(layout::StartButton, normal, normal, pressed) {}

void WindowModel::prepareRun(std::vector<Invalidation>& redraw) {
  display.resetSampling();
  runEndShown = false;
  startButton.setDisabled(true);
  redraw.push_back({startButton.invalidRect(), false});
}

FrameActions WindowModel::frame(int32_t stage, const std::function<Point()>& cursor,
                                std::vector<Invalidation>& redraw) {
  FrameActions actions;
  if ((startButton.hover() || startButton.pressed()) && !layout::Client.contains(cursor())) {
    pointer(PointerEvent::Leave, -1, -1, redraw);
  }
  if (startButton.disabled() && (stage == Failed || stage == Finished)) {
    // The run has ended: once, as the button is enabled.
    if (stage == Failed) gameReady = true;
    startButton.setDisabled(false);
    redraw.push_back({startButton.invalidRect(), false});
    actions.attractAttention = true;
    actions.launchGame = stage == Finished;
  }
  if (startButton.takeClick()) actions.launchGame = true;
  return actions;
}

void WindowModel::pointer(PointerEvent event, int32_t x, int32_t y, std::vector<Invalidation>& redraw) {
  bool changed = false;
  switch (event) {
    case PointerEvent::Move: changed = startButton.mouseMove(x, y); break;
    case PointerEvent::Leave: changed = startButton.mouseMove(-1, -1); break;
    case PointerEvent::Down: changed = startButton.mouseDown(x, y); break;
    case PointerEvent::Up: changed = startButton.mouseUp(x, y); break;
  }
  if (changed) redraw.push_back({startButton.invalidRect(), false});
}

void WindowModel::launchStarting() { display.errorText.clear(); }

void WindowModel::launchFailed(const std::wstring& error, std::vector<Invalidation>& redraw) {
  display.errorText = error;
  if (!gameReady) {
    gameReady = true;
    redraw.push_back({startButton.invalidRect(), false});
  }
}

bool WindowModel::idle(int32_t stage) const {
  return (stage == Failed || stage == Finished) && runEndShown && !startButton.disabled() && !startButton.hover() &&
         !startButton.pressed() && !startButton.clicked();
}

CloseAction CloseActionFor(int32_t exitMode) {
  if (exitMode == 1) return CloseAction::HideToTray;
  if (exitMode == 2) return CloseAction::Destroy;
  return CloseAction::None;
}

TrayAction TrayActionFor(uint32_t mouseMessage) {
  constexpr uint32_t LeftDoubleClick = 0x0203, RightDown = 0x0204;
  // 1134 takes the icon away and posts a quit message; the loop takes it and goes on running.
  constexpr uint32_t RemoveIconAndQuit = 1134;
  if (mouseMessage == LeftDoubleClick) return TrayAction::Restore;
  if (mouseMessage == RightDown) return TrayAction::ShowMenu;
  if (mouseMessage == RemoveIconAndQuit) return TrayAction::RemoveIconAndQuit;
  return TrayAction::None;
}

MenuChoice MenuChoiceFor(int32_t command) {
  switch (command) {
    case 0: return {MenuAction::Dismissed, 0};
    case menu::Restore: return {MenuAction::Restore, 0};
    case menu::Quit: return {MenuAction::Quit, 0};
    case menu::ExitOnClose: return {MenuAction::SaveExitMode, 2};
    case menu::HideOnClose: return {MenuAction::SaveExitMode, 1};
    default: return {};
  }
}

std::vector<MenuItem> TrayMenu(int32_t exitMode) {
  const bool hide = exitMode == 1;
  return {
      {0, texts::CloseSettings, {{menu::HideOnClose, texts::Minimise, {}, hide}, {menu::ExitOnClose, texts::Exit, {}, !hide}}},
      {menu::Restore, texts::RestoreWindow, {}},
      {menu::Quit, texts::Exit, {}},
  };
}

FirstWindowAction FirstWindowStep(bool found, bool minimised, int32_t waitedMs) {
  if (found) return minimised ? FirstWindowAction::Restore : FirstWindowAction::Show;
  return waitedMs < 5000 ? FirstWindowAction::KeepLooking : FirstWindowAction::NotResponding;
}

bool FrameDue(int64_t lastFrameMs, int64_t nowMs, int32_t frameIntervalMs) {
  // A clock that seems to run backwards never blocks the frame.
  return nowMs - lastFrameMs >= frameIntervalMs || nowMs < lastFrameMs;
}
