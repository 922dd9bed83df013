#include "ui/image_button.h"

ImageButton::ImageButton(Rect area, ImageSize normal, ImageSize hover, ImageSize pressed)
    : area_(area), normal_(normal), hoverSize_(hover), pressedSize_(pressed) {}

bool ImageButton::contains(int32_t px, int32_t py) const {
  return area_.contains(Point{px, py});
}

bool ImageButton::mouseMove(int32_t px, int32_t py) {
  if (disabled_) return false;
  if (contains(px, py)) {
    if (hover_ || pressed_) return false;
    hover_ = true;
    return true;
  }
  if (!hover_ && !pressed_) return false;
  hover_ = pressed_ = false;
  return true;
}

bool ImageButton::mouseDown(int32_t px, int32_t py) {
  if (disabled_ || !contains(px, py) || pressed_) return false;
  pressed_ = true;
  return true;
}

bool ImageButton::mouseUp(int32_t px, int32_t py) {
  // A release inside is a click even when the press began elsewhere.
  if (disabled_ || !contains(px, py)) return false;
  hover_ = true;
  pressed_ = false;
  clicked_ = true;
  return true;
}

bool ImageButton::takeClick() {
  if (!clicked_) return false;
  clicked_ = hover_ = false;
  return true;
}

Rect ImageButton::invalidRect() const {
  auto left = static_cast<int32_t>(area_.left + normal_.width / 2.0 - hoverSize_.width / 2.0);
  auto top = static_cast<int32_t>(area_.top + normal_.height / 2.0 - hoverSize_.height / 2.0);
  return Rect{left, top, left + hoverSize_.width, top + hoverSize_.height};
}

ButtonPlacement ImageButton::currentImage() const {
  ButtonPlacement placement;
  ImageSize size = normal_;
  if (pressed_) {
    placement.image = ButtonImage::Pressed;
    size = pressedSize_;
  } else if (hover_) {
    placement.image = ButtonImage::Hover;
    size = hoverSize_;
  }
  // Single precision, as the drawing code places it: the pressed image lands half a pixel
  // further in and is cut to whole pixels.
  placement.at.x = static_cast<int32_t>(static_cast<float>(area_.left) + static_cast<float>(normal_.width) * 0.5f -
                                        static_cast<float>(size.width) * 0.5f);
  placement.at.y = static_cast<int32_t>(static_cast<float>(area_.top) + static_cast<float>(normal_.height) * 0.5f -
                                        static_cast<float>(size.height) * 0.5f);
  return placement;
}
