#include <gtest/gtest.h>

#include <initializer_list>

#include "sprite/rows.h"

namespace kavoni {
namespace {

SpriteGrid GridWith(std::initializer_list<int> ticked) {
  SpriteGrid grid{};
  for (int index : ticked) {
    grid[index] = true;
  }
  return grid;
}

std::string Row(const char* digits) {
  return std::string(kRowPrefix) + digits;
}

TEST(EncodeRows, EveryRowIsTheFixedPrefixAndEightDigits) {
  EXPECT_EQ(kRowPrefix, "   .db %");
  for (const std::string& line : EncodeRows(SpriteGrid{})) {
    EXPECT_EQ(line.size(), 16u);
  }
}

TEST(EncodeRows, ClearGridGivesAllZeroRows) {
  for (const std::string& line : EncodeRows(SpriteGrid{})) {
    EXPECT_EQ(line, Row("00000000"));
  }
}

TEST(EncodeRows, FullGridGivesAllOneRows) {
  SpriteGrid grid;
  grid.fill(true);
  for (const std::string& line : EncodeRows(grid)) {
    EXPECT_EQ(line, Row("11111111"));
  }
}

TEST(EncodeRows, FirstCellIsTopRowMostSignificantBit) {
  const SpriteRows rows = EncodeRows(GridWith({0}));
  EXPECT_EQ(rows[0], Row("10000000"));
  for (int r = 1; r < kSpriteSide; ++r) {
    EXPECT_EQ(rows[r], Row("00000000")) << "row " << r;
  }
}

TEST(EncodeRows, LastCellIsBottomRowLeastSignificantBit) {
  const SpriteRows rows = EncodeRows(GridWith({63}));
  EXPECT_EQ(rows[7], Row("00000001"));
  for (int r = 0; r < 7; ++r) {
    EXPECT_EQ(rows[r], Row("00000000")) << "row " << r;
  }
}

TEST(EncodeRows, CellsWithinARowReadLeftToRight) {
  EXPECT_EQ(EncodeRows(GridWith({2, 3, 4, 5}))[0], Row("00111100"));
  EXPECT_EQ(EncodeRows(GridWith({8, 10, 15}))[1], Row("10100001"));
}

TEST(EncodeRows, MiddleBlockLandsOnRowsThreeAndFour) {
  const SpriteRows rows = EncodeRows(GridWith({27, 28, 35, 36}));
  for (int r = 0; r < kSpriteSide; ++r) {
    EXPECT_EQ(rows[r], Row(r == 3 || r == 4 ? "00011000" : "00000000")) << "row " << r;
  }
}

// Every single cell must land on exactly one digit: row index / 8, digit index % 8.
TEST(EncodeRows, EachCellMapsToItsOwnDigit) {
  for (int cell = 0; cell < kCellCount; ++cell) {
    const SpriteRows rows = EncodeRows(GridWith({cell}));
    for (int r = 0; r < kSpriteSide; ++r) {
      std::string digits(8, '0');
      if (r == cell / kSpriteSide) {
        digits[cell % kSpriteSide] = '1';
      }
      EXPECT_EQ(rows[r], Row(digits.c_str())) << "cell " << cell << ", row " << r;
    }
  }
}

}  // namespace
}  // namespace kavoni
