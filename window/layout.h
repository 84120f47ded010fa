#pragma once

#include <string>

#include "sprite/rows.h"

// The window's layout, kept in twips (1/1440 inch) as it was designed, and converted to pixels
// in one place, and the one table of its controls: names, captions, accessible names and tab
// order. Both windows, the benchmark's floors and the layout tests build from here; neither
// window includes the other's toolkit, and this header includes none. Every text is ASCII.
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

// One control of the window. The tab position orders the controls that take the focus; the
// cells hold positions 0 to 63 by their index.
struct Control {
  const char* name;
  const char* caption;
  TwipsRect rect;
  int tab_position;
};

inline constexpr char kWindowCaption[] = "Kavoni";
inline constexpr Control kLabel1Control{"Label1", "Sprite Name", kLabel1, 66};  // takes no focus
inline constexpr Control kNmeControl{"nme", "", kNme, 65};
inline constexpr Control kCommand1Control{"Command1", "Make Sprite", kCommand1, 64};
// The caption does not fit a cell and never shows, so screen readers get CellName instead.
inline constexpr char kCheck1Name[] = "Check1";
inline constexpr char kCheck1Caption[] = "Check1";

// The tab chain that both windows build: the cells by index, then the button, then the name box.
static_assert(kCommand1Control.tab_position == kCellCount &&
              kNmeControl.tab_position == kCellCount + 1 &&
              kLabel1Control.tab_position > kNmeControl.tab_position);

// The save dialog, fixed in the layout and never changed by code.
inline constexpr char kDialogName[] = "CD";
inline constexpr char kDialogTitle[] = "Save Sprite";
inline constexpr char kDialogPattern[] = "*.txt";

// What a screen reader says for cell `index`: "Pixel row 1, column 1" for the top-left one.
inline std::string CellName(int index) {
  return "Pixel row " + std::to_string(index / kSpriteSide + 1) + ", column " +
         std::to_string(index % kSpriteSide + 1);
}

enum class Arrow { kUp, kDown, kLeft, kRight };

// The cell an arrow key moves the focus to from cell `index`: one row or one column on, and
// the same cell at the grid's edge, since the arrows neither wrap nor leave the grid.
constexpr int CellNeighbour(int index, Arrow arrow) {
  const int row = index / kSpriteSide;
  const int column = index % kSpriteSide;
  switch (arrow) {
    case Arrow::kUp:
      return row > 0 ? index - kSpriteSide : index;
    case Arrow::kDown:
      return row < kSpriteSide - 1 ? index + kSpriteSide : index;
    case Arrow::kLeft:
      return column > 0 ? index - 1 : index;
    case Arrow::kRight:
      return column < kSpriteSide - 1 ? index + 1 : index;
  }
  return index;
}

}  // namespace kavoni::layout
