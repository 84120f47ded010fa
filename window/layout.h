#pragma once

#include "sprite/rows.h"

// The window's layout, kept in twips (1/1440 inch) as it was designed, and converted to pixels
// in one place. Both windows place their controls from here; neither includes the other's
// toolkit, and this header includes none.
namespace kavoni::layout {

// A screen of 96 dots per inch has 15 twips to a pixel: the size the layout was drawn at.
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kBaseDpi = 96;

struct TwipsRect {
  int left;
  int top;
  int width;
  int height;
};

struct PixelRect {
  int left;
  int top;
  int width;
  int height;
};

// Rounds to the nearest pixel, so that at 96 DPI every length comes out exact and at other
// scales neighbouring controls keep their designed overlaps and gaps within a pixel.
constexpr int ToPixels(int twips, int dpi = kBaseDpi) {
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

// Edges are converted rather than sizes, so that rounding never opens a gap between
// neighbours that touch in twips.
constexpr PixelRect ToPixels(TwipsRect r, int dpi = kBaseDpi) {
  const int left = ToPixels(r.left, dpi);
  const int top = ToPixels(r.top, dpi);
  return {left, top, ToPixels(r.left + r.width, dpi) - left, ToPixels(r.top + r.height, dpi) - top};
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
