#pragma once
// "Screen capture": the main window's pixels as a 32-bit bitmap file.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace klx {

// Rows of the window taken into the picture, and the rows the pixel area is sized for.
constexpr int kCaptureRows = 440;
constexpr int kCaptureAreaRows = 485;
constexpr int kBitmapHeaderBytes = 58;  // 14-byte file header, 40-byte info header, 4 zero bytes

// Pixels as read from a window: 0xAARRGGBB, row 0 at the top.
struct PixelImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

// The whole file for a picture `width` pixels wide (the window width less 5): rows bottom-up
// (client row 439 first), blue, green, red, 0 per pixel, then zero bytes up to width x 1940.
// Pixels outside the image are black.
std::vector<uint8_t> CaptureBitmapBytes(const PixelImage& image, int width);

// "%06d.bmp" with the logger's serial number.
std::string CaptureFileName(int serial);
// The chosen name with ".bmp" added when it does not end in it.
std::string WithBmpExtension(const std::string& name);

// Writes the bytes through a temporary name beside the target. False with the reason.
bool WriteCaptureFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                      std::string* error);

}  // namespace klx
