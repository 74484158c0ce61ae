#include "display/screen_capture.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "shell/status.h"

namespace klx {

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFFu);
  Put16(out, v >> 16);
}

}  // namespace

std::vector<uint8_t> CaptureBitmapBytes(const PixelImage& image, int width) {
  width = std::max(width, 0);
  const size_t w = static_cast<size_t>(width);
  const uint32_t area = static_cast<uint32_t>(w * 4 * kCaptureAreaRows);
  std::vector<uint8_t> out;
  out.reserve(kBitmapHeaderBytes + area);
  out.push_back('B');
  out.push_back('M');
  Put32(out, area + kBitmapHeaderBytes);
  Put32(out, 0);
  Put32(out, kBitmapHeaderBytes);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, kCaptureRows);
  Put16(out, 1);
  Put16(out, 32);
  for (int i = 0; i < 6; ++i) Put32(out, 0);  // compression .. important colours
  Put32(out, 0);                              // the 4 bytes after the info header
  const bool valid =
      image.width > 0 && image.height > 0 &&
      image.pixels.size() >= static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  for (int row = kCaptureRows - 1; row >= 0; --row) {
    for (int x = 0; x < width; ++x) {
      const uint32_t p = valid && x < image.width && row < image.height ? image.At(x, row) : 0u;
      out.push_back(static_cast<uint8_t>(p));        // blue
      out.push_back(static_cast<uint8_t>(p >> 8));   // green
      out.push_back(static_cast<uint8_t>(p >> 16));  // red
      out.push_back(0);
    }
  }
  out.resize(kBitmapHeaderBytes + area, 0);
  return out;
}

std::string CaptureFileName(int serial) {
  return Format("%06d.bmp", serial);
}

std::string WithBmpExtension(const std::string& name) {
  if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".bmp") == 0) return name;
  return name + ".bmp";
}

bool WriteCaptureFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                      std::string* error) {
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream f(temporary, std::ios::binary | std::ios::trunc);
    if (f)
      f.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!f || !f.flush()) {
      if (error) *error = Format("Unable to open file: %s", path.string().c_str());
      std::error_code ec;
      std::filesystem::remove(temporary, ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    if (error) *error = Format("Unable to open file: %s", path.string().c_str());
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace klx
