// Where things sit in the launcher's 1280 x 576 client area, and the small geometry types the
// window's portable logic works with.
#pragma once

#include <cstdint>

struct Point {
  int32_t x = 0, y = 0;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
};

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  // Right and bottom edges are outside, as for a Win32 RECT.
  bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  bool operator==(const Rect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// A text box: x, y, width, height, as the drawing code takes them.
struct TextBox {
  float x = 0, y = 0, width = 0, height = 0;
};

namespace layout {

constexpr int32_t ClientWidth = 1280;
constexpr int32_t ClientHeight = 576;
constexpr Rect Client{0, 0, ClientWidth, ClientHeight};
constexpr Rect BottomPanel{0, 363, 1280, 576};  // repainted when the status changes
constexpr Point LogoAt{28, 18};
constexpr int32_t LogoBoxWidth = 300, LogoBoxHeight = 123;  // fitted to 300 x 126
constexpr Point PanelAt{0, 363};
constexpr Rect StartButton{1048, 507, 1048 + 221, 507 + 58};
constexpr Rect ProgressBar{20, 559, 1260, 565};
constexpr TextBox ProgressTexts{20, 539, 1240, 20};
constexpr TextBox StatusLine{20, 541, 1240, 20};
constexpr TextBox VersionLine{20, 519, 1240, 20};
constexpr TextBox ErrorLine{20, 497, 1240, 20};

}  // namespace layout
