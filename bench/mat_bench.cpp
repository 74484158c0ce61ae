// MAT export and import of a full logger memory (8 MB: four channels of 698 368 samples, a time
// per row), and the same export by SciPy's savemat from NumPy arrays for comparison.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "files/mat_file.h"

#ifndef KLX_BINARY_DIR
#define KLX_BINARY_DIR "."
#endif

namespace {

using klx::HeldData;

constexpr int kChannels = 4;
constexpr int kRows = static_cast<int>(klx::MemoryImage::kCapacity / 3 / kChannels);

const HeldData& FullDataSet() {
  static const HeldData held = [] {
    HeldData h;
    auto& logger = h.data.logger;
    logger.model = "VS-330";
    logger.firmware = 3.05f;
    logger.serial = 4711;
    logger.channelCount = kChannels;
    logger.channelTypes = "TPCD";
    h.data.channelCount = kChannels;
    h.data.samplesPerChannel = kRows;
    for (int ch = 0; ch < kChannels; ++ch) {
      std::vector<float> s(static_cast<size_t>(kRows) + 2);
      for (int r = 0; r < kRows; ++r) s[static_cast<size_t>(r)] = static_cast<float>(ch + r * 1e-4);
      h.data.series.push_back(std::move(s));
    }
    for (int i = 0; i < 1000; ++i) {
      klx::StampRecord r;
      r.sampleIndex = static_cast<uint32_t>(i * (kRows / 1000));
      r.time.year = 2024;
      r.time.day = static_cast<uint16_t>(1 + i % 28);
      h.data.stamps.records.push_back(r);
    }
    h.image.snapshot.parameters.samplePeriod = klx::Period{0, 0, 1};
    return h;
  }();
  return held;
}

std::filesystem::path OutFile(const char* name) {
  return std::filesystem::path(KLX_BINARY_DIR) / name;
}

klx::MatWriteOptions PerRowDatenum() {
  klx::MatWriteOptions o;
  o.timeFrequency = klx::kMatTimePerRow;
  o.timeFormat = klx::kMatTimeDatenum;
  return o;
}

double SecondsOfOurWrite(const std::filesystem::path& path) {
  const auto t0 = std::chrono::steady_clock::now();
  const std::string error = klx::WriteMatFile(path, FullDataSet(), PerRowDatenum());
  const auto t1 = std::chrono::steady_clock::now();
  return error.empty() ? std::chrono::duration<double>(t1 - t0).count() : -1.0;
}

void BM_MatWrite(benchmark::State& state) {
  const auto path = OutFile("mat_bench_write.mat");
  const HeldData& held = FullDataSet();
  for (auto _ : state) {
    const std::string error = klx::WriteMatFile(path, held, PerRowDatenum());
    if (!error.empty()) state.SkipWithError(error.c_str());
  }
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  state.SetBytesProcessed(state.iterations() * int64_t{kRows} * kChannels * 4);
}
BENCHMARK(BM_MatWrite)->Unit(benchmark::kMillisecond);

void BM_MatRead(benchmark::State& state) {
  const auto path = OutFile("mat_bench_read.mat");
  if (!klx::WriteMatFile(path, FullDataSet(), PerRowDatenum()).empty()) {
    state.SkipWithError("cannot write the file to read");
    return;
  }
  for (auto _ : state) {
    HeldData fresh;
    int format = 0;
    std::vector<std::vector<float>> surface;
    const std::string error = klx::ReadMatFileInto(path, fresh, format, surface);
    if (!error.empty()) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(fresh.data.series.data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kRows} * kChannels * 4);
}
BENCHMARK(BM_MatRead)->Unit(benchmark::kMillisecond);

// SciPy's savemat of arrays of the same shapes and classes, timed inside the interpreter (the
// start of Python and the making of the arrays are not counted); our write of the same data is
// timed in the same iteration and the ratio reported.
void BM_SciPySavematComparison(benchmark::State& state) {
  const char* python = "/usr/bin/python3";
  if (std::system((std::string(python) + " -c 'import scipy.io' >/dev/null 2>&1").c_str()) != 0) {
    state.SkipWithError("/usr/bin/python3 cannot import scipy");
    return;
  }
  const auto script = OutFile("mat_bench_savemat.py");
  {
    std::ofstream out(script);
    out << "import sys, time, numpy as np, scipy.io\n"
           "n, k, s = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])\n"
           "data = (np.arange(k, dtype=np.float32)[None, :] +\n"
           "        np.arange(n, dtype=np.float32)[:, None] * np.float32(1e-4))\n"
           "times = (730486.0 + np.arange(n) / 86400.0)[None, :]\n"
           "names = np.array(['Temp', 'Pres', 'Cond', 'D_O2'][:k])\n"
           "private = np.zeros((1, 132 * s), dtype=np.uint32)\n"
           "variables = {'loggername': 'KLX VS-330  3.05 004711', 'loggerdata': data,\n"
           "  'loggerchannelnames': names, 'loggersampleperiod': np.float32(1.0),\n"
           "  'loggeraveragingperiod': np.float32(0.0), 'loggertimes': times,\n"
           "  'loggerprivate': private}\n"
           "t0 = time.perf_counter()\n"
           "scipy.io.savemat(sys.argv[1], variables, format='5', do_compression=False)\n"
           "print(time.perf_counter() - t0)\n";
  }
  const auto target = OutFile("mat_bench_scipy.mat");
  const std::string command = std::string(python) + " " + script.string() + " " + target.string() +
                              " " + std::to_string(kRows) + " " + std::to_string(kChannels) + " " +
                              std::to_string(FullDataSet().data.stamps.records.size());
  double ours = 0.0;
  double theirs = 0.0;
  for (auto _ : state) {
    std::FILE* p = ::popen(command.c_str(), "r");
    double seconds = -1.0;
    if (p == nullptr || std::fscanf(p, "%lf", &seconds) != 1) seconds = -1.0;
    if (p != nullptr) ::pclose(p);
    if (seconds < 0.0) {
      state.SkipWithError("savemat did not report its time");
      return;
    }
    state.SetIterationTime(seconds);
    theirs += seconds;
    ours += SecondsOfOurWrite(OutFile("mat_bench_ours.mat"));
  }
  state.counters["klx_write_ms"] = 1e3 * ours / static_cast<double>(state.iterations());
  state.counters["klx_to_scipy"] = theirs > 0.0 ? ours / theirs : 0.0;
}
BENCHMARK(BM_SciPySavematComparison)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
