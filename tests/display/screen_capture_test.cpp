// The screen capture bitmap: header fields, row order, pixel bytes and the zero tail.
#include "display/screen_capture.h"

#include <gtest/gtest.h>

#include <array>

namespace klx {
namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(ScreenCapture, HeaderAndSize) {
  PixelImage image{995, 460, std::vector<uint32_t>(995 * 460, 0xFF808080u)};
  const auto b = CaptureBitmapBytes(image, 995);
  ASSERT_EQ(b.size(), 995u * 1940 + 58);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 2), "BM");
  // File size, reserved, pixel offset, header size, width, height; planes and bits per pixel.
  EXPECT_EQ((std::array{U32(b, 2), U32(b, 6), U32(b, 10), U32(b, 14), U32(b, 18), U32(b, 22)}),
            (std::array<uint32_t, 6>{995u * 1940 + 58, 0, 58, 40, 995, 440}));
  EXPECT_EQ(U16(b, 26) + (U16(b, 28) << 16), 1u + (32u << 16));  // planes, bits per pixel
  for (size_t at = 30; at < 58; ++at) EXPECT_EQ(b[at], 0) << at;
  // Everything after the 440 rows is zero.
  const size_t rowsEnd = 58 + 995u * 1760;
  EXPECT_EQ(b[rowsEnd - 2], 0x80);  // red of the last captured pixel
  for (size_t at = rowsEnd; at < b.size(); ++at) ASSERT_EQ(b[at], 0) << at;
}

TEST(ScreenCapture, RowsBottomUpInBlueGreenRedZeroOrder) {
  PixelImage image{3, 450, std::vector<uint32_t>(3 * 450, 0)};
  image.pixels[439 * 3 + 0] = 0xFF112233u;  // client row 439, column 0: first stored pixel
  image.pixels[0 * 3 + 2] = 0xFFA0B0C0u;    // client row 0, column 2: last pixel of row 439
  image.pixels[445 * 3 + 1] = 0xFFFFFFFFu;  // below the captured rows: not stored
  const auto b = CaptureBitmapBytes(image, 3);
  const auto at = [&](size_t from) {
    return std::vector<uint8_t>(b.begin() + from, b.begin() + from + 4);
  };
  EXPECT_EQ(at(58), (std::vector<uint8_t>{0x33, 0x22, 0x11, 0x00}));
  EXPECT_EQ(at(58 + 439 * 12 + 2 * 4), (std::vector<uint8_t>{0xC0, 0xB0, 0xA0, 0x00}));
  size_t nonZero = 0;
  for (size_t at = 58; at < b.size(); ++at) nonZero += b[at] != 0;
  EXPECT_EQ(nonZero, 6u);
}

TEST(ScreenCapture, SmallerPictureIsPaddedBlackAndBadImagesDoNotCrash) {
  PixelImage image{2, 2, std::vector<uint32_t>(4, 0xFFFFFFFFu)};
  const auto b = CaptureBitmapBytes(image, 4);
  ASSERT_EQ(b.size(), 4u * 1940 + 58);
  // Client row 1 is the 439th stored row; row 2 and below (stored first) are black.
  EXPECT_EQ(b[58], 0);
  EXPECT_EQ(b[58 + 438 * 16], 0xFF);
  EXPECT_EQ(b[58 + 438 * 16 + 8], 0);  // column 2 lies outside the image
  PixelImage broken{100, 100, {}};     // claims pixels it does not hold
  EXPECT_EQ(CaptureBitmapBytes(broken, 10).size(), 10u * 1940 + 58);
}

}  // namespace
}  // namespace klx
