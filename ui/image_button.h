// The start button as a state machine: hover, pressed, clicked and disabled, driven by pointer
// positions in client coordinates. Each operation says whether its image area must be redrawn;
// the window then invalidates invalidRect().
#pragma once

#include "ui/layout.h"

// Size of one of the button's images; 0 x 0 when the image could not be loaded.
struct ImageSize {
  int32_t width = 0, height = 0;
};

enum class ButtonImage { Normal, Hover, Pressed };

struct ButtonPlacement {
  ButtonImage image = ButtonImage::Normal;
  Point at;  // top-left corner of the image
};

class ImageButton {
 public:
  ImageButton(Rect area, ImageSize normal, ImageSize hover, ImageSize pressed);

  // Each returns true when the button's look changed (redraw invalidRect()).
  bool mouseMove(int32_t px, int32_t py);
  bool mouseDown(int32_t px, int32_t py);
  bool mouseUp(int32_t px, int32_t py);
  // A click that has not been consumed yet; taking it also clears the hover state.
  bool takeClick();

  void setDisabled(bool value) { disabled_ = value; }
  bool disabled() const { return disabled_; }
  bool hover() const { return hover_; }
  bool pressed() const { return pressed_; }
  bool clicked() const { return clicked_; }

  // The hover image's rectangle, centred on the normal image's centre.
  Rect invalidRect() const;
  // The image for the current state, centred on the normal image's centre.
  ButtonPlacement currentImage() const;
  bool contains(int32_t px, int32_t py) const;

 private:
  Rect area_;
  ImageSize normal_, hoverSize_, pressedSize_;
  bool hover_ = false;
  bool pressed_ = false;
  bool clicked_ = false;
  bool disabled_ = true;  // the window enables it when the update has ended
};
