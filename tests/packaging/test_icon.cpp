#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/temp_dir.h"

namespace kavoni {
namespace {

std::uint32_t Le(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
  }
  return value;
}

std::uint32_t Be32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
  }
  return value;
}

struct IcoImage {
  int size;
  int colours;
  int bits;
};

// The Windows icon holds exactly three images: 32 x 32 and 16 x 16 in 16 colours, and
// 32 x 32 in 2 colours. Each directory entry must agree with the bitmap it points at.
TEST(WindowsIcon, HoldsExactlyTheThreeClassicImages) {
  const std::string ico = testing::ReadBytes(KAVONI_ICONS_DIR "/kavoni.ico");
  ASSERT_GE(ico.size(), 6u);
  EXPECT_EQ(Le(ico, 0, 2), 0u);
  EXPECT_EQ(Le(ico, 2, 2), 1u) << "type 1 is an icon";
  ASSERT_EQ(Le(ico, 4, 2), 3u);

  const IcoImage expected[] = {{32, 16, 4}, {16, 16, 4}, {32, 2, 1}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    const std::size_t entry = 6 + 16 * i;
    const IcoImage& want = expected[i];
    EXPECT_EQ(Le(ico, entry, 1), static_cast<std::uint32_t>(want.size));
    EXPECT_EQ(Le(ico, entry + 1, 1), static_cast<std::uint32_t>(want.size));
    EXPECT_EQ(Le(ico, entry + 2, 1), static_cast<std::uint32_t>(want.colours));
    EXPECT_EQ(Le(ico, entry + 6, 2), static_cast<std::uint32_t>(want.bits));
    const std::uint32_t length = Le(ico, entry + 8, 4);
    const std::uint32_t offset = Le(ico, entry + 12, 4);
    ASSERT_LE(static_cast<std::size_t>(offset) + length, ico.size());

    // The bitmap: header, palette, colour rows and the transparency mask, rows padded to
    // 4 bytes, height doubled for the mask.
    EXPECT_EQ(Le(ico, offset, 4), 40u);
    EXPECT_EQ(Le(ico, offset + 4, 4), static_cast<std::uint32_t>(want.size));
    EXPECT_EQ(Le(ico, offset + 8, 4), static_cast<std::uint32_t>(2 * want.size));
    EXPECT_EQ(Le(ico, offset + 14, 2), static_cast<std::uint32_t>(want.bits));
    const int colour_row = (want.size * want.bits + 31) / 32 * 4;
    const int mask_row = (want.size + 31) / 32 * 4;
    EXPECT_EQ(length, 40u + 4u * want.colours +
                          static_cast<std::uint32_t>(want.size * (colour_row + mask_row)));
  }
}

TEST(ThemeIcons, PngsHaveTheirNamedSizes) {
  for (int size : {16, 32, 48}) {
    const std::string png =
        testing::ReadBytes(KAVONI_ICONS_DIR "/kavoni-" + std::to_string(size) + ".png");
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(Be32(png, 16), static_cast<std::uint32_t>(size));
    EXPECT_EQ(Be32(png, 20), static_cast<std::uint32_t>(size));
  }
}

}  // namespace
}  // namespace kavoni
