#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/image_button.h"

namespace {

ImageButton StartButton() {
  ImageButton button(layout::StartButton, {221, 58}, {221, 58}, {216, 57});
  button.setDisabled(false);
  return button;
}

// A pointer sequence: "m x y", "d x y", "u x y".
struct Step {
  char what;
  int32_t x, y;
};

}  // namespace

TEST(ImageButton, PointerSequences) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    bool clicked, hover, pressed;
  };
  const Case cases[] = {
      {"press and release inside", {{'m', 1100, 530}, {'d', 1100, 530}, {'u', 1100, 530}}, true, true, false},
      {"press on, move off, release off", {{'d', 1100, 530}, {'m', 900, 530}, {'u', 900, 530}}, false, false, false},
      {"press outside, release inside", {{'d', 900, 530}, {'m', 1100, 530}, {'u', 1100, 530}}, true, true, false},
      // The rectangle holds its left and top edges, not its right and bottom ones.
      {"left/top edge", {{'d', 1048, 507}, {'u', 1048, 507}}, true, true, false},
      {"right edge", {{'d', 1269, 530}, {'u', 1269, 530}}, false, false, false},
      {"bottom edge", {{'d', 1100, 565}, {'u', 1100, 565}}, false, false, false},
      {"last pixel", {{'u', 1268, 564}}, true, true, false},
  };
  for (const auto& c : cases) {
    ImageButton button = StartButton();
    for (const auto& s : c.steps) {
      if (s.what == 'm') button.mouseMove(s.x, s.y);
      if (s.what == 'd') button.mouseDown(s.x, s.y);
      if (s.what == 'u') button.mouseUp(s.x, s.y);
    }
    EXPECT_EQ(button.clicked(), c.clicked) << c.name;
    EXPECT_EQ(button.hover(), c.hover) << c.name;
    EXPECT_EQ(button.pressed(), c.pressed) << c.name;
  }
}

TEST(ImageButton, RedrawsOnChangeAndIgnoresThePointerWhileDisabled) {
  ImageButton button(layout::StartButton, {221, 58}, {221, 58}, {216, 57});
  EXPECT_FALSE(button.mouseMove(1100, 530) || button.mouseDown(1100, 530) || button.mouseUp(1100, 530));
  EXPECT_FALSE(button.clicked() || button.hover() || button.pressed());
  button.setDisabled(false);
  EXPECT_TRUE(button.mouseMove(1100, 530) && button.mouseDown(1101, 531) && button.mouseUp(1101, 531));
  // Consuming the click clears it and the hover state, once.
  EXPECT_TRUE(button.takeClick());
  EXPECT_FALSE(button.clicked() || button.hover());
  EXPECT_FALSE(button.takeClick());
  EXPECT_EQ(button.invalidRect(), (Rect{1048, 507, 1269, 565}));
}

TEST(ImageButton, ImagesAreCentredOnTheNormalImage) {
  ImageButton button = StartButton();
  EXPECT_EQ(button.currentImage().at, (Point{1048, 507}));
  button.mouseMove(1100, 530);
  EXPECT_EQ(button.currentImage().image, ButtonImage::Hover);
  button.mouseDown(1100, 530);
  EXPECT_EQ(button.currentImage().image, ButtonImage::Pressed);
  EXPECT_EQ(button.currentImage().at, (Point{1050, 507}));
}
