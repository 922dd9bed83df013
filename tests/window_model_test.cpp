#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "support/texts.h"
#include "ui/notification_icon.h"
#include "ui/window_model.h"
#include "update/patcher.h"

namespace {

// The pointer's position as the window reads it, in client coordinates.
std::function<Point()> At(int32_t x, int32_t y) {
  return [=] { return Point{x, y}; };
}
const std::function<Point()> Inside = At(640, 300);

struct WindowModelTest : ::testing::Test {
  WindowModel model{{221, 58}, {216, 57}};
  std::vector<Invalidation> redraw;
  void click() {
    model.pointer(PointerEvent::Down, 1100, 530, redraw);
    model.pointer(PointerEvent::Up, 1100, 530, redraw);
  }
};

}  // namespace

TEST(WindowModel, TheEndOfTheRunIsHandledOnce) {
  struct Case {
    int32_t stage;
    bool enabled, gameReady, attract, launch;
  };
  const Case cases[] = {
      {Failed, true, true, true, false},     // the button is drawn for the player
      {Finished, true, false, true, true},   // the game starts by itself, the button stays hidden
      {SelfUpdateFailed, false, false, false, false},
  };
  for (const Case& c : cases) {
    WindowModel model({221, 58}, {216, 57});
    std::vector<Invalidation> redraw;
    model.prepareRun(redraw);
    FrameActions first = model.frame(c.stage, Inside, redraw);
    EXPECT_EQ(!model.startButton.disabled(), c.enabled) << c.stage;
    EXPECT_EQ(model.gameReady, c.gameReady) << c.stage;
    EXPECT_EQ(first.attractAttention, c.attract) << c.stage;
    EXPECT_EQ(first.launchGame, c.launch) << c.stage;
    FrameActions next = model.frame(c.stage, Inside, redraw);
    EXPECT_FALSE(next.attractAttention || next.launchGame) << c.stage;
  }
}

TEST_F(WindowModelTest, AClickLaunchesAndAFailedStartKeepsItsErrorAndShowsTheButton) {
  model.frame(Finished, Inside, redraw);
  model.launchStarting();
  redraw.clear();
  model.launchFailed(texts::GameNotFound, redraw);
  EXPECT_TRUE(model.gameReady);  // the automatic start failed: the player can retry
  EXPECT_EQ(redraw.size(), 1u);
  for (int frame = 0; frame < 3; ++frame) model.frame(Finished, Inside, redraw);
  EXPECT_EQ(model.display.errorText, texts::GameNotFound);

  click();
  EXPECT_TRUE(model.frame(Finished, Inside, redraw).launchGame);

  // The pointer leaving the window releases a pressed button without a click; the last row and
  // column are still inside.
  model.pointer(PointerEvent::Down, 1100, 530, redraw);
  model.frame(Finished, At(layout::ClientWidth - 1, layout::ClientHeight - 1), redraw);
  EXPECT_TRUE(model.startButton.pressed());
  EXPECT_FALSE(model.frame(Finished, At(layout::ClientWidth, 300), redraw).launchGame);
  EXPECT_FALSE(model.startButton.pressed());
}

TEST_F(WindowModelTest, IdleOnlyOnceTheRunHasEndedAndThePointerHoldsNothing) {
  model.prepareRun(redraw);
  EXPECT_FALSE(model.idle(Failed));  // the end of the run is not seen yet
  model.frame(Failed, Inside, redraw);
  // The stage comes before the status: until a frame has read the status after the update thread
  // ended, the one on screen may not be the last.
  EXPECT_FALSE(model.idle(Failed));
  model.runEndShown = true;
  EXPECT_TRUE(model.idle(Failed));
  EXPECT_FALSE(model.idle(DownloadingPackages));
  model.pointer(PointerEvent::Move, 1100, 530, redraw);
  EXPECT_FALSE(model.idle(Failed));  // leaving must be noticed
  click();
  EXPECT_FALSE(model.idle(Failed));  // the click is still to be taken
}

// The mappings the real window drives (close modes 1 and 2, double click, right click, 1134,
// items 12 to 15 chosen by keys, a second start) are checked end to end by the window tests; here
// what they cannot see.
TEST(WindowModel, CloseTrayMenuAndSecondStartOutsideWhatTheWindowTestsSee) {
  EXPECT_EQ(CloseActionFor(3), CloseAction::None);
  EXPECT_EQ(TrayActionFor(0x0201), TrayAction::None);
  EXPECT_EQ(MenuChoiceFor(0).action, MenuAction::Dismissed);
  EXPECT_EQ(MenuChoiceFor(99).action, MenuAction::None);
  // Every item means something, and the exit mode's own choice alone carries the check mark.
  for (int32_t exitMode : {1, 2}) {
    std::vector<MenuItem> choosable;
    for (const MenuItem& item : TrayMenu(exitMode)) {
      if (item.submenu.empty()) choosable.push_back(item);
      choosable.insert(choosable.end(), item.submenu.begin(), item.submenu.end());
    }
    int32_t checked = 0;
    for (const MenuItem& item : choosable) {
      MenuChoice choice = MenuChoiceFor(item.command);
      EXPECT_NE(choice.action, MenuAction::None) << item.command;
      EXPECT_TRUE(item.enabled);
      EXPECT_EQ(item.checked, choice.action == MenuAction::SaveExitMode && choice.exitMode == exitMode) << item.command;
      checked += item.checked;
    }
    EXPECT_EQ(checked, 1) << exitMode;
  }
  // The first launcher's window is looked for until 5 s have passed: 51 looks, 50 waits.
  EXPECT_EQ(FirstWindowStep(false, false, 4900), FirstWindowAction::KeepLooking);
  EXPECT_EQ(FirstWindowStep(false, false, 5000), FirstWindowAction::NotResponding);
  EXPECT_EQ(FirstWindowStep(true, true, 5000), FirstWindowAction::Restore);
}

TEST(WindowModel, FramesRunOncePerIntervalWhateverTheMessages) {
  EXPECT_FALSE(FrameDue(1000, 1015, 16));
  EXPECT_TRUE(FrameDue(1000, 1016, 16));
  EXPECT_TRUE(FrameDue(1000, 999, 16));  // never stuck on a clock that went back
}

// The self-update takes the icon away for good from its own thread while the window's thread
// still adds it (the taskbar was recreated) and shows the balloon.
TEST(NotificationIcon, IsTakenAwayOnceAndForGoodWhileTheWindowStillUsesIt) {
  struct Data {
    int flags = 0;
  };
  constexpr int Balloon = 2;
  std::vector<IconCall> calls;
  std::vector<int> modifiedFlags;
  NotificationIcon<Data> icon;
  icon.init(
      Data{1},
      [&](IconCall call, Data& data) {
        calls.push_back(call);
        if (call == IconCall::Modify) modifiedFlags.push_back(data.flags);
        return true;
      },
      [](Data& data) { data.flags |= Balloon; });
  EXPECT_TRUE(icon.add());
  icon.remove();  // a player's message takes it away; a new taskbar brings it back
  EXPECT_TRUE(icon.add());
  std::atomic<int> rounds{0};
  std::thread window([&] {
    for (int i = 0; i < 2000; ++i) {
      icon.showBalloon();
      icon.add();
      ++rounds;
    }
  });
  while (rounds < 50) std::this_thread::yield();
  icon.removeForGood();
  window.join();
  // The last call is the final delete: no icon outlives the process.
  ASSERT_EQ(std::count(calls.begin(), calls.end(), IconCall::Delete), 2);
  EXPECT_EQ(calls.back(), IconCall::Delete);
  EXPECT_FALSE(icon.add());
  EXPECT_FALSE(icon.showBalloon());
  icon.remove();
  EXPECT_EQ(calls.back(), IconCall::Delete);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), IconCall::Delete), 2);
  for (int flags : modifiedFlags) EXPECT_EQ(flags, 1 | Balloon);
}
