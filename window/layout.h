#pragma once

#include <QRect>

#include "sprite/rows.h"

// The window's layout, kept in twips (1/1440 inch) as it was designed, and converted in one
// place. Qt's device-independent pixels are 1/96 inch, so 15 twips make one; Qt's own scaling
// takes care of HiDPI screens from there.
namespace kavoni::layout {

inline constexpr int kTwipsPerPixel = 15;

struct TwipsRect {
  int left;
  int top;
  int width;
  int height;
};

constexpr int ToPixels(int twips) {
  return twips / kTwipsPerPixel;
}

constexpr QRect ToPixels(TwipsRect r) {
  return QRect(ToPixels(r.left), ToPixels(r.top), ToPixels(r.width), ToPixels(r.height));
}

inline constexpr TwipsRect kClientArea{0, 0, 1965, 4380};
// Starts 360 twips in but is as wide as the grid, so its right end is cut off by the window
// edge; the caption is short enough not to notice.
inline constexpr TwipsRect kLabel1{360, 0, 1935, 255};
inline constexpr TwipsRect kNme{0, 360, 1935, 285};
inline constexpr TwipsRect kCommand1{0, 2760, 1935, 1575};

// Cells sit at a 240-twip pitch but are 255 twips square, so neighbours overlap by 15.
inline constexpr int kCellPitch = 240;
inline constexpr int kCellSize = 255;
inline constexpr int kGridTop = 720;

constexpr TwipsRect Check1(int index) {
  return {kCellPitch * (index % kSpriteSide), kGridTop + kCellPitch * (index / kSpriteSide),
          kCellSize, kCellSize};
}

}  // namespace kavoni::layout
