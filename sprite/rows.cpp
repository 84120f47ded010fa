#include "sprite/rows.h"

namespace kavoni {

SpriteRows EncodeRows(const SpriteGrid& grid) {
  SpriteRows rows;
  for (int row = 0; row < kSpriteSide; ++row) {
    std::string& line = rows[row];
    line.reserve(kRowPrefix.size() + kSpriteSide);
    line = kRowPrefix;
    for (int column = 0; column < kSpriteSide; ++column) {
      line += grid[row * kSpriteSide + column] ? '1' : '0';
    }
  }
  return rows;
}

}  // namespace kavoni
