#pragma once
// The data set the benchmarks share: a linear-memory logger's full 8 MB memory (48-byte header
// and 2 793 456 words), four channels T/P/C/y with a slow drift and some noise, even words, the
// turbidity channel's gain code changing every 5000 rows, and (when asked) a "TIM" stamp every
// 1000 rows.
#include <cstdint>
#include <initializer_list>
#include <random>

#include "records/data_set.h"
#include "records/memory_image.h"

namespace klx::bench {

constexpr int kHeader = 48;
constexpr int kWords = 2793456;  // (0x7FE000 - 48) / 3

inline MemoryImage FullImage(bool stamps) {
  MemoryImage image;
  image.bytes.assign(kHeader, 0x11);
  image.bytes.reserve(kHeader + 3 * static_cast<size_t>(kWords));
  std::mt19937 rng(7);
  std::uniform_int_distribution<uint32_t> noise(0, 0x3FFF);
  auto word = [&](uint32_t w) {
    image.bytes.push_back(static_cast<uint8_t>(w >> 16));
    image.bytes.push_back(static_cast<uint8_t>(w >> 8));
    image.bytes.push_back(static_cast<uint8_t>(w));
  };
  int words = 0, row = 0;
  while (words < kWords) {
    if (stamps && row % 1000 == 999 && words + 4 <= kWords) {
      word(0);
      for (uint8_t b : std::initializer_list<uint8_t>{'T', 'I', 'M', 0x24, 0x03, 0x10, 0x12, 0, 0})
        image.bytes.push_back(b);
      words += 4;
    }
    for (int ch = 0; ch < 4 && words < kWords; ++ch, ++words) {
      uint32_t w = (0x400000u + static_cast<uint32_t>(ch) * 0x200000u + noise(rng) +
                    static_cast<uint32_t>(row % 4096) * 16u) &
                   0xFFFFFEu;
      if (ch == 3) w = (w & ~6u) | (static_cast<uint32_t>(row / 5000 % 4) << 1);
      word(w);
    }
    ++row;
  }
  image.fill = static_cast<int32_t>(image.bytes.size());
  image.sampleWords = image.fill / 3;
  return image;
}

// The logger of that memory, with its calibration.
inline void FullLogger(DataSet& data) {
  data.logger.model = "NMK-7400";
  data.logger.firmware = 6.1f;
  data.logger.serial = 74001;
  data.logger.extendedCommandSet = true;
  data.logger.parameterBlockLength = kHeader;
  data.logger.channelCount = 4;
  data.logger.channelTypes = "TPCy";
  for (auto& row : data.calibration.coef) row = {0.0, 1.0, 0.0, 0.0};
  data.calibration.coef[0] = {0.0035, -0.00025, 2.7e-06, 2.3e-08};
  data.calibration.coef[1] = {-10.0, 1200.0, 0.5, 0.0};
}

}  // namespace klx::bench
