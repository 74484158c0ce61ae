// Decoding a full 8 MB image (a linear-memory logger: 48-byte header and 2 793 456 words)
// against a plain loop that only sums the same 24-bit words: what the decoder costs over reading
// the bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "decoding/decoder.h"
#include "platform/host.h"

namespace {

constexpr int kHeader = 48;
constexpr int kWords = 2793456;  // (0x7FE000 - 48) / 3

// Four channels (thermistor, pressure, conductivity, auto-ranging turbidity), even words (no
// zero words, so no stamps) with a slow drift and some noise, a gain change every 5000 rows;
// a time stamp every 1000 rows when `stamps` is set.
klx::MemoryImage FullImage(bool stamps) {
  klx::MemoryImage image;
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
      // The turbidity channel changes range every 5000 rows (bits 1 and 2: the gain code).
      if (ch == 3) w = (w & ~6u) | (static_cast<uint32_t>(row / 5000 % 4) << 1);
      word(w);
    }
    ++row;
  }
  image.fill = static_cast<int32_t>(image.bytes.size());
  image.sampleWords = image.fill / 3;
  return image;
}

klx::DataSet Logger() {
  klx::DataSet data;
  data.logger.model = "NMK-7400";
  data.logger.firmware = 6.1f;
  data.logger.extendedCommandSet = true;
  data.logger.parameterBlockLength = kHeader;
  data.logger.channelCount = 4;
  data.logger.channelTypes = "TPCy";
  for (auto& row : data.calibration.coef) row = {0.0, 1.0, 0.0, 0.0};
  data.calibration.coef[0] = {0.0035, -0.00025, 2.7e-06, 2.3e-08};
  data.calibration.coef[1] = {-10.0, 1200.0, 0.5, 0.0};
  return data;
}

void BM_DecodeImage(benchmark::State& state) {
  const klx::MemoryImage image = FullImage(state.range(0) != 0);
  klx::DeploymentParameters p;
  p.samplePeriod = {0, 0, 1};
  klx::RecordingHost host;
  klx::DataSet data = Logger();
  for (auto _ : state) {
    klx::DecodeImage(image, p, data, host);
    benchmark::DoNotOptimize(data.series.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.bytes.size()));
  state.counters["words"] = kWords;
  state.counters["rows"] = data.samplesPerChannel;
  state.counters["stamps"] = static_cast<double>(data.stamps.records.size());
}
BENCHMARK(BM_DecodeImage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SumWords(benchmark::State& state) {
  const klx::MemoryImage image = FullImage(false);
  for (auto _ : state) {
    uint64_t sum = 0;
    const uint8_t* b = image.bytes.data() + kHeader;
    for (int i = 0; i < kWords; ++i, b += 3)
      sum += (static_cast<uint32_t>(b[0]) << 16) | (static_cast<uint32_t>(b[1]) << 8) | b[2];
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(image.bytes.size()));
}
BENCHMARK(BM_SumWords)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
