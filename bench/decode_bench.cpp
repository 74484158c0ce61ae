// Decoding a full 8 MB image (a linear-memory logger: 48-byte header and 2 793 456 words)
// against a plain loop that only sums the same 24-bit words: what the decoder costs over reading
// the bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "decoding/decoder.h"
#include "full_memory.h"
#include "platform/host.h"

namespace {

using klx::bench::FullImage;
using klx::bench::kHeader;
using klx::bench::kWords;

klx::DataSet Logger() {
  klx::DataSet data;
  klx::bench::FullLogger(data);
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
