// The NetCDF file of a full logger memory (8 MB: four channels T/P/C/y decoded from the shared
// memory image, a stamp every 1000 rows) against the MAT file of the same data set, written one
// after the other in each iteration: the time ratio and both file sizes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "decoding/decoder.h"
#include "files/mat_file.h"
#include "files/netcdf_file.h"
#include "full_memory.h"
#include "platform/host.h"

namespace {

namespace fs = std::filesystem;
using klx::HeldData;

const HeldData& FullHeld() {
  static const HeldData held = [] {
    HeldData h;
    klx::bench::FullLogger(h.data);
    h.image = klx::bench::FullImage(true);
    h.image.headerLength = klx::bench::kHeader;
    h.image.hasSnapshot = true;
    auto& snap = h.image.snapshot;
    snap.hostTime = klx::SystemTime{2024, 3, 6, 2, 10, 11, 12, 0};
    snap.loggerTime = snap.hostTime;
    snap.parameters.startTime = klx::SystemTime{2024, 1, 1, 1, 0, 0, 0, 0};
    snap.parameters.samplePeriod = {0, 0, 1};
    klx::RecordingHost host;
    const klx::DecodeResult r = klx::DecodeImage(h.image, snap.parameters, h.data, host);
    h.image.headerLength = r.headerLength;
    return h;
  }();
  return held;
}

// A folder of the run's own under the temporary directory, removed once the figures are taken.
fs::path OutFolder() {
  const fs::path dir =
      fs::temp_directory_path() / ("klx-netcdf-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir;
}

klx::NetcdfWriteOptions Utc() {
  klx::NetcdfWriteOptions o;
  o.utcOffsetSeconds = 0;
  return o;
}

// Each iteration writes the NetCDF file (timed) and then the MAT file with a time per row
// ('datenum'), the MAT writer's largest form; the ratio is NetCDF time / MAT time.
void BM_NetcdfAgainstMat(benchmark::State& state) {
  const HeldData& held = FullHeld();
  const fs::path dir = OutFolder();
  const fs::path nc = dir / "netcdf_bench.nc";
  const fs::path mat = dir / "netcdf_bench.mat";
  klx::MatWriteOptions matOptions;
  matOptions.timeFrequency = klx::kMatTimePerRow;
  matOptions.timeFormat = klx::kMatTimeDatenum;
  double ncSeconds = 0.0, matSeconds = 0.0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::string ncError = klx::WriteNetcdfFile(nc, held, Utc());
    const auto t1 = std::chrono::steady_clock::now();
    const std::string matError = klx::WriteMatFile(mat, held, matOptions);
    const auto t2 = std::chrono::steady_clock::now();
    if (!ncError.empty() || !matError.empty()) {
      state.SkipWithError((ncError + matError).c_str());
      fs::remove_all(dir);
      return;
    }
    ncSeconds += std::chrono::duration<double>(t1 - t0).count();
    matSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["rows"] = held.data.samplesPerChannel;
  state.counters["nc_ms"] = 1e3 * ncSeconds / n;
  state.counters["mat_ms"] = 1e3 * matSeconds / n;
  state.counters["nc_to_mat"] = matSeconds > 0.0 ? ncSeconds / matSeconds : 0.0;
  state.counters["nc_MB"] = static_cast<double>(fs::file_size(nc)) / 1e6;
  state.counters["mat_MB"] = static_cast<double>(fs::file_size(mat)) / 1e6;
  fs::remove_all(dir);
}
BENCHMARK(BM_NetcdfAgainstMat)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
