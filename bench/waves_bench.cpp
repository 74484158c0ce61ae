// The wave analysis of a full memory of bursts (680 bursts of 4096 pressure samples at 4 Hz, as
// an NMJ-7400 fills its memory with), against the same computation written with NumPy and
// vectorised over the bursts, timed in the same run (/usr/bin/python3; skipped without NumPy).
// Counters: cxx_ms and numpy_ms per full memory, numpy_over_cxx (above 1: faster than NumPy),
// and the largest difference in Hm0 between the two (a check that they compute the same).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "waves/analysis.h"

namespace {

constexpr int kBursts = 680;
constexpr int kLength = 4096;
constexpr int kRate = 4;
constexpr double kHeight = 1.0;

// Pressure bursts (dbar): a tide level, a trend, a swell and a sea of random phases.
klx::DataSet FullMemory() {
  klx::DataSet data;
  data.logger.model = "NMJ-7400";
  data.logger.channelTypes = "TP";
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> phase(0.0, klx::kWaveTwoPi);
  std::normal_distribution<double> noise(0.0, 0.01);
  data.bursts.resize(kBursts);
  for (int b = 0; b < kBursts; ++b) {
    auto& samples = data.bursts[static_cast<size_t>(b)].samples;
    samples.resize(kLength);
    const double level = 10.1325 + 8.0 + 2.0 * std::sin(b * 0.25);
    const double p1 = phase(rng), p2 = phase(rng), p3 = phase(rng);
    for (int i = 0; i < kLength; ++i) {
      const double t = static_cast<double>(i) / kRate;
      samples[static_cast<size_t>(i)] = static_cast<float>(
          level + 1e-5 * i + 0.3 * std::sin(klx::kWaveTwoPi * t / 11.0 + p1) +
          0.1 * std::sin(klx::kWaveTwoPi * t / 5.3 + p2) +
          0.05 * std::sin(klx::kWaveTwoPi * t / 3.1 + p3) + noise(rng));
    }
  }
  return data;
}

klx::WaveSetup Setup() {
  klx::WaveSetup s;
  s.rateHz = kRate;
  s.burstLength = kLength;
  s.loggerHeight = kHeight;
  s.depthChannel = false;  // simplified depth from pressure
  return s;
}

// The same analysis in NumPy: everything but the zero crossings vectorised over the bursts.
constexpr const char* kNumPyScript = R"PY(
import sys, time
import numpy as np
path, B, N, R, hb, repeats = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6])
raw = np.fromfile(path, dtype=np.float32).reshape(B, N)
TWO_PI = 6.283185307179464
G = 9.80665

def wave_number(h, T):
    k0 = 39.47841760435743 / (T * T * G)
    kold = np.ones(np.broadcast(h, T).shape); knew = kold.copy()
    done = np.zeros(kold.shape, bool)
    for _ in range(20000):
        kmid = (knew + kold) / 2
        new = k0 / np.tanh(h * kmid)
        kold = np.where(done, kold, knew)
        conv = np.abs(kmid - new) <= 1e-6
        knew = np.where(done, knew, new)
        done |= conv
        if done.all():
            break
    return knew

def zero_crossings(eta):
    up = np.nonzero((eta[:-1] < 0) & (eta[1:] > 0))[0] + 1
    n = len(up)
    if n == 0:
        return 0.0, 0.0, 0.0, 0.0, 0.0, 0.0
    starts = np.concatenate(([0], up[:-1] + 1))
    crest = np.maximum.reduceat(eta[:up[-1] + 1], starts)
    trough = np.minimum.reduceat(eta[:up[-1] + 1], starts)
    crest[1:] = np.maximum(crest[1:], 0); trough[1:] = np.minimum(trough[1:], 0)
    H = (crest - trough).astype(np.float32)
    T = np.diff(np.concatenate(([0], up)))
    havg = H[1:].astype(np.float64).mean() if n > 1 else 0.0
    tavg = T[1:].mean() if n > 1 else 0.0
    order = np.argsort(-H, kind='stable')
    H, T = H[order], T[order]
    t13 = T[:n // 3].mean() if n // 3 else 0.0
    h110 = H[:n // 10].astype(np.float64).mean() if n // 10 else 0.0
    return float(H[0]), float(T[0]), havg, tavg, t13, h110

def analyse(raw):
    x = (raw.astype(np.float64) - 10.1325) / (1.0281 * 0.980665)
    i = np.arange(N, dtype=np.float64)
    sx, sxx = i.sum(), (i * i).sum()
    sy, sxy = x.sum(1), x @ i
    a = (N * sxy - sx * sy) / (N * sxx - sx * sx)
    c = (sy - a * sx) / N
    d = a * (N // 2) + c
    y = x - (a[:, None] * i + c[:, None])
    w = 0.5 - 0.5 * np.cos(TWO_PI * np.arange(48) / 96)
    y[:, :48] *= w
    y[:, N - 48:] *= w[::-1]
    s = np.sqrt(N / (N - 96 + (w * w).sum()))
    h = d + hb
    kappa = TWO_PI / (d / 0.3)
    fc = np.sqrt(9.780318 * kappa * np.tanh(kappa * h)) / TWO_PI
    kc = np.minimum((N * fc / R).astype(np.int64), N // 2)
    X = np.fft.fft(y, axis=1) / N
    K = int(kc.max())
    k = np.arange(1, K + 1)
    kap = wave_number(h[:, None], (N / (k * R))[None, :])
    gain = np.cosh(kap * h[:, None]) / np.cosh(kap * hb)
    inside = k[None, :] <= kc[:, None]
    mult = np.zeros((B, N // 2 + 1))
    mult[:, 0] = 1.0
    mult[:, 1:K + 1] = np.where(inside, np.where(gain < 20.0, gain, 1.0), 0.0)
    full = np.concatenate([mult, mult[:, 1:N // 2][:, ::-1]], axis=1)
    X *= full
    amp = np.abs(X[:, 1:N // 2 + 1])
    peak = np.where(amp.max(1) > 0, amp.argmax(1) + 1, 0)
    z = np.fft.ifft(X, axis=1) * N
    big = w > 0.1
    z[:, :48][:, big] /= w[big]
    z[:, N - 48:][:, big[::-1]] /= w[::-1][big[::-1]]
    z *= s
    surface = np.where(z.real < 0, -np.abs(z), np.abs(z)).astype(np.float32)
    m0 = (surface.astype(np.float64) ** 2).sum(1) / (N - 1)
    energy = m0 * G * 1.0281 * 1000
    zc = [zero_crossings(surface[b]) for b in range(B)]
    return 4 * np.sqrt(m0), peak * R / N, energy, zc

best = None
for _ in range(repeats):
    t0 = time.perf_counter()
    hm0, peak, energy, zc = analyse(raw)
    t = time.perf_counter() - t0
    best = t if best is None else min(best, t)
print(best)
np.savetxt(path + '.hm0', hm0, '%.9g')
)PY";

double NumPySeconds(const klx::DataSet& data, std::vector<double>& hm0) {
  const char* python = "/usr/bin/python3";
  if (!std::filesystem::exists(python) ||
      std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    return -1;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("klx_waves_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "bursts.f32", std::ios::binary);
    for (const auto& b : data.bursts)
      out.write(reinterpret_cast<const char*>(b.samples.data()),
                static_cast<std::streamsize>(b.samples.size() * sizeof(float)));
    std::ofstream(dir / "waves.py") << kNumPyScript;
  }
  const std::string command = std::string(python) + " " + (dir / "waves.py").string() + " " +
                              (dir / "bursts.f32").string() + " " + std::to_string(kBursts) +
                              " " + std::to_string(kLength) + " " + std::to_string(kRate) + " " +
                              std::to_string(kHeight) + " 3";
  double seconds = -1;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
    pclose(pipe);
  }
  std::ifstream in(dir / "bursts.f32.hm0");
  for (double v; in >> v;) hm0.push_back(v);
  std::filesystem::remove_all(dir);
  return seconds;
}

void BM_AnalyseFullMemory(benchmark::State& state) {
  klx::DataSet data = FullMemory();
  const klx::WaveSetup setup = Setup();
  klx::WaveAnalyser analyser;
  for (auto& b : data.bursts) b.surface.resize(kLength);  // the data set's own storage
  double best = 1e30;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const int analysed = klx::AnalyseAllBursts(data, setup, analyser);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    benchmark::DoNotOptimize(analysed);
  }
  state.SetItemsProcessed(state.iterations() * kBursts);
  state.counters["bursts"] = kBursts;
  state.counters["cxx_ms"] = best * 1e3;
  std::vector<double> hm0;
  const double numpy = NumPySeconds(data, hm0);
  if (numpy > 0) {
    state.counters["numpy_ms"] = numpy * 1e3;
    state.counters["numpy_over_cxx"] = numpy / best;
    double worst = 0;
    for (size_t b = 0; b < hm0.size() && b < data.bursts.size(); ++b)
      worst = std::max(worst, std::fabs(hm0[b] - data.bursts[b].stats.h13));
    state.counters["hm0_max_diff"] = worst;
  }
}
BENCHMARK(BM_AnalyseFullMemory)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One burst, for the cost per burst and its parts.
void BM_AnalyseOneBurst(benchmark::State& state) {
  klx::DataSet data = FullMemory();
  klx::WaveSetup setup = Setup();
  setup.burstLength = static_cast<int>(state.range(0));
  auto& burst = data.bursts[0];
  // A longer burst repeats the recorded one (zeros would read as a sensor out of the water and
  // skip the analysis).
  const size_t recorded = burst.samples.size();
  burst.samples.resize(static_cast<size_t>(setup.burstLength));
  for (size_t i = recorded; i < burst.samples.size(); ++i)
    burst.samples[i] = burst.samples[i % recorded];
  klx::WaveAnalyser analyser;
  for (auto _ : state) {
    analyser.AnalyseBurst(setup, burst);
    benchmark::DoNotOptimize(burst.stats.h13);
  }
}
BENCHMARK(BM_AnalyseOneBurst)->Arg(512)->Arg(4096)->Arg(8192)->Unit(benchmark::kMicrosecond);

void BM_Fft(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<double> re(static_cast<size_t>(n), 0.5), im(static_cast<size_t>(n), 0.0);
  klx::WaveFft fft;
  for (auto _ : state) {
    fft.Transform(re.data(), im.data(), n, false);
    fft.Transform(re.data(), im.data(), n, true);
    benchmark::DoNotOptimize(re.data());
  }
}
BENCHMARK(BM_Fft)->Arg(4096)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
