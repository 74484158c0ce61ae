#pragma once
// Hand-built memory images: header bytes, 24-bit words (high byte first) and in-line stamps.
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "records/data_set.h"
#include "records/memory_image.h"

namespace klx::test {

class ImageBuilder {
 public:
  ImageBuilder& Header(size_t length, uint8_t value = 0xA5) {
    bytes_.insert(bytes_.end(), length, value);
    return *this;
  }
  ImageBuilder& Word(uint32_t raw) {
    return Raw({static_cast<uint8_t>(raw >> 16), static_cast<uint8_t>(raw >> 8),
                static_cast<uint8_t>(raw)});
  }
  ImageBuilder& Words(std::initializer_list<uint32_t> words) {
    for (uint32_t w : words) Word(w);
    return *this;
  }
  ImageBuilder& Stamp(const char* code, int year, int month, int day, int hour, int minute,
                      int second) {
    Word(0).bytes_.insert(bytes_.end(), code, code + 3);
    for (int v : {year - 2000, month, day, hour, minute, second})
      bytes_.push_back(static_cast<uint8_t>(((v / 10) << 4) | (v % 10)));  // BCD
    return *this;
  }
  ImageBuilder& Raw(std::initializer_list<uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes);
    return *this;
  }

  // The image as the retrieval leaves it: fill = bytes held, sampleWords = fill / 3.
  MemoryImage Build() const {
    MemoryImage image;
    image.bytes = bytes_;
    image.fill = static_cast<int32_t>(bytes_.size());
    image.sampleWords = image.fill / 3;
    return image;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// The equations written out again from their definition (long double, powers).
inline double ExpectedPolynomial(const std::array<double, 4>& c, long long raw) {
  const long double x = static_cast<long double>(raw) / 16777216.0L;
  return static_cast<double>(c[0] + c[1] * x + c[2] * std::pow(x, 2) + c[3] * std::pow(x, 3));
}
inline double ExpectedThermistor(const std::array<double, 4>& c, long long raw) {
  if (raw == 16777216) return -273.15;
  if (raw == 0) return -1000.0;
  const long double x = static_cast<long double>(raw) / 16777216.0L;
  const long double l = std::log(1.0L / x - 1.0L);
  const long double s = c[0] + c[1] * l + c[2] * std::pow(l, 2) + c[3] * std::pow(l, 3);
  if (s == 0 || std::isnan(s)) return -1000.0;
  return static_cast<double>(1.0L / s - 273.15L);
}

constexpr std::array<double, 4> kThermistorDefault{0.0035, -0.00025, 2.7e-06, 2.3e-08};

}  // namespace klx::test
