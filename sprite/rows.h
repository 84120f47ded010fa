#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kavoni {

inline constexpr int kSpriteSide = 8;
inline constexpr int kCellCount = kSpriteSide * kSpriteSide;

// The 64 pixel cells, row by row: index = 8 * row + column, row 0 at the top and column 0 at
// the left. true means ticked, a dark pixel.
using SpriteGrid = std::array<bool, kCellCount>;

// One assembler data line per pixel row, top row first. The lines carry no line end; the file
// writer adds it.
using SpriteRows = std::array<std::string, kSpriteSide>;

// Three spaces, then ".db %": the leading spaces keep the directive out of the label column.
inline constexpr std::string_view kRowPrefix = "   .db %";

// Each row becomes the prefix and eight binary digits, leftmost pixel first, so the leftmost
// pixel is the most significant bit of the byte the line defines.
SpriteRows EncodeRows(const SpriteGrid& grid);

}  // namespace kavoni
