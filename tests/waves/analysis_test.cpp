// The wave analysis on bursts with a known answer, the transform against NumPy's, the tide slope.
#include "waves/analysis.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>

#include "waves/tide.h"

namespace klx {
namespace {

TEST(WaveNumber, DeepAndShallowWaterAndTheCutoff) {
  EXPECT_NEAR(WaveNumber(10.0, 10.0), 0.068032, 1e-6);
  const double omega = kWaveTwoPi / 3.0;  // deep water: κ = ω²/g
  EXPECT_NEAR(WaveNumber(500.0, 3.0), omega * omega / kWaveGravity, 1e-6);
  EXPECT_NEAR(CutoffFrequency(12.0, 12.0), 0.192771, 1e-6);  // sensor at 0.3 wavelengths
}

// A line c + b·i plus a cosine at bin k, symmetric about the middle (its fit is the line itself).
std::vector<float> Burst(int n, double c, double b, double amplitude, int k) {
  std::vector<float> x(static_cast<size_t>(n));
  const double middle = (n - 1) / 2.0;
  for (int i = 0; i < n; ++i)
    x[static_cast<size_t>(i)] =
        static_cast<float>(c + b * i + amplitude * std::cos(kWaveTwoPi * k * (i - middle) / n));
  return x;
}

WaveSetup DepthSetup(int n, int rate, double height) {
  WaveSetup s;
  s.rateHz = rate, s.burstLength = n, s.loggerHeight = height;
  s.depthChannel = true;  // the burst values are depths
  return s;
}

// A sine on a trend, the logger 1 m up; the taper leaves a scale √(N/S): 1.087 at 512, 1.010 at 4096.
void CheckKnownBurst(int n, double taperScale, double tolerance) {
  const int rate = 2, k = n / 16;  // T = 8 s
  const double a = 0.4, c = 9.0, b = 0.5 / n;
  const double d = b * (n / 2) + c;  // the line at the burst's middle
  const double h = d + 1.0, period = static_cast<double>(n) / (k * rate);
  const double kappa = WaveNumber(h, period);
  const double gain = std::cosh(kappa * h) / std::cosh(kappa * 1.0);
  const auto x = Burst(n, c, b, a / gain, k);  // the sensor sees the attenuated wave

  WaveAnalyser analyser;
  WaveStatistics st;
  std::vector<float> surface(static_cast<size_t>(n));
  std::string error;
  ASSERT_TRUE(analyser.Analyse(DepthSetup(n, rate, 1.0), x, surface, st, &error)) << error;
  EXPECT_NEAR(st.meanDepth, d, 1e-4);
  EXPECT_FLOAT_EQ(st.peakFrequency, static_cast<float>(1.0 / period));
  EXPECT_NEAR(st.cutoffFrequency, CutoffFrequency(h, d), 1e-6);
  EXPECT_EQ(st.flag, kWaveGood);
  const double expected = 2.0 * std::sqrt(2.0) * a * taperScale;
  EXPECT_NEAR(st.h13, expected, tolerance * expected) << "N=" << n;
  EXPECT_NEAR(st.t13, period, 1.0 / rate);
  EXPECT_NEAR(st.surfaceMax, a * taperScale, 0.01);
  EXPECT_NEAR(st.energy, st.variance * kWaveGravity * 1.0281 * 1000, 1e-3 * st.energy);
  EXPECT_FLOAT_EQ(analyser.latestHm0, st.h13);
}

TEST(AnalyseBurst, KnownAnswerAt512And4096) {
  CheckKnownBurst(512, 1.087, 0.03);
  CheckKnownBurst(4096, 1.010, 0.01);
}

// The cut-off and the depth gains on a transformed burst of 8 bins (bin k mirrored at 8 − k).
TEST(AnalyseBurst, CutoffGainsAndPeak) {
  const struct {
    const char* name;
    int kc;
    double gains[5];  // by bin, 0 unused
    double in[8], out[8];
    int peak;
  } cases[] = {
      // clang-format off
      {"a gain of 20 or more leaves the bin as it is", 2, {0, 20, 2},
       {0, 1, 1, 0, 0, 0, 1, 1}, {0, 1, 2, 0, 0, 0, 2, 1}, 2},
      {"equal amplitudes after the gain: the lower bin", 2, {0, 1, 2},
       {0, 2, 1, 0, 0, 0, 1, 2}, {0, 2, 2, 0, 0, 0, 2, 2}, 1},
      {"bins above the cut-off and their mirrors are zero", 1, {0, 3},
       {0, 1, 5, 5, 5, 5, 5, 1}, {0, 3, 0, 0, 0, 0, 0, 3}, 1},
      {"bin N/2 is its own mirror: one gain", 4, {0, 1, 1, 1, 3},
       {0, 0, 0, 0, 1, 0, 0, 0}, {0, 0, 0, 0, 3, 0, 0, 0}, 4},
      {"nothing above 0: bin 0", 2, {0, 2, 2},
       {7, 0, 0, 0, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0, 0, 0}, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    double re[8], im[8];
    for (int i = 0; i < 8; ++i) re[i] = c.in[i], im[i] = -0.5 * c.in[i];
    EXPECT_EQ(ApplyDepthGains(re, im, 8, c.kc, c.gains), c.peak) << c.name;
    for (int i = 0; i < 8; ++i) {
      EXPECT_DOUBLE_EQ(re[i], c.out[i]) << c.name << ", bin " << i;
      EXPECT_DOUBLE_EQ(im[i], -0.5 * c.out[i]) << c.name << ", bin " << i;
    }
  }
}

TEST(AnalyseBurst, FlagsAndPressureBursts) {
  WaveAnalyser analyser;
  BurstSeries error, warning, pressure;
  error.samples = Burst(512, -2.0, 0.0, 0.1, 8);
  ASSERT_TRUE(analyser.AnalyseBurst(DepthSetup(512, 2, 1.0), error));
  EXPECT_EQ(error.stats.flag, kWaveError);
  EXPECT_EQ(error.stats.h13, 0.0f);
  warning.samples = Burst(512, 0.5, 0.0, 1.0, 8);  // 0.5 m of water, waves of 2 m
  ASSERT_TRUE(analyser.AnalyseBurst(DepthSetup(512, 4, 0.0), warning));
  EXPECT_EQ(warning.stats.flag, kWaveWarning);
  EXPECT_GT(warning.stats.h13, 0.5f);
  WaveSetup setup = DepthSetup(512, 2, 1.0);
  setup.depthChannel = false;  // simplified depth: (P − 10.1325) / (1.0281 × 0.980665)
  pressure.samples.assign(512, static_cast<float>(10.1325 + 10.0 * 1.0281 * 0.980665));
  ASSERT_TRUE(analyser.AnalyseBurst(setup, pressure));
  EXPECT_NEAR(pressure.stats.meanDepth, 10.0, 1e-3);
  EXPECT_NEAR(pressure.stats.h13, 0.0f, 1e-6);
}

TEST(AnalyseBurst, LengthsShortAndLongBursts) {
  WaveAnalyser analyser;
  BurstSeries longest, burst, one;
  longest.samples = Burst(8192, 20.0, 0.0, 0.2, 100);
  EXPECT_TRUE(analyser.AnalyseBurst(DepthSetup(8192, 4, 1.0), longest));
  std::string error;
  burst.samples.assign(16384, 10.0f);
  EXPECT_FALSE(analyser.AnalyseBurst(DepthSetup(16384, 4, 1.0), burst, &error));
  EXPECT_TRUE(!burst.stats.analysed && burst.surface.empty());
  EXPECT_FALSE(analyser.AnalyseBurst(DepthSetup(1000, 4, 1.0), burst, &error));

  const WaveSetup setup = DepthSetup(512, 2, 1.0);
  BurstSeries cut;
  cut.samples = Burst(512, 8.0, 0.0, 0.3, 8);
  cut.samples.resize(300);
  BurstSeries filled = cut;
  const double mean = std::accumulate(cut.samples.begin(), cut.samples.end(), 0.0) / 300;
  filled.samples.resize(512, static_cast<float>(mean));
  ASSERT_TRUE(analyser.AnalyseBurst(setup, cut));
  ASSERT_TRUE(analyser.AnalyseBurst(setup, filled));
  EXPECT_EQ(cut.samples.size(), 300u);  // its own samples stay as they came
  EXPECT_NEAR(cut.stats.h13, filled.stats.h13, 1e-5);
  one.samples = {5.0f};
  EXPECT_FALSE(analyser.AnalyseBurst(setup, one, &error));
  EXPECT_FALSE(one.stats.analysed);
}


TEST(ZeroCrossings, HeightsAndPeriods) {
  // Up-crossings at 2, 5, 9 and 12: waves (T, H) = (2, 1.5), (3, 2), (4, 2), (3, 4).
  const std::vector<float> eta = {1, -0.5, 0.5, 1, -1, 1, 0.5, 1, -1, 1, -3, -1, 1};
  WaveStatistics st;
  EXPECT_EQ(ZeroCrossingStatistics(eta, st), 4);
  EXPECT_FLOAT_EQ(st.hmax, 4.0f);
  EXPECT_FLOAT_EQ(st.tmax, 3.0f);
  EXPECT_FLOAT_EQ(st.h13, 4.0f);  // n/3 = 1
  EXPECT_FLOAT_EQ(st.t13, 3.0f);
  EXPECT_FLOAT_EQ(st.havg, (2.0f + 2.0f + 4.0f) / 3);  // the first wave is not averaged
  EXPECT_FLOAT_EQ(st.tavg, (3.0f + 4.0f + 3.0f) / 3);
  EXPECT_EQ(st.h110, 0.0f);  // n/10 = 0: kept
}

TEST(ZeroCrossings, FewWavesKeepOrZero) {
  WaveStatistics st;
  st.h13 = 7.0f, st.t13 = 6.0f, st.h110 = 5.0f, st.t110 = 4.0f;
  // Fewer than three waves keep H1/3 and T1/3; fewer than two have no averages.
  const struct {
    std::vector<float> eta;
    int waves;
    float hmax;
  } cases[] = {{{-1, 1, -1, 2}, 2, 3.0f}, {{-1, 1, 1}, 1, 2.0f}, {{1, 2, 3}, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(ZeroCrossingStatistics(c.eta, st), c.waves);
    EXPECT_FLOAT_EQ(st.hmax, c.hmax) << c.waves;
    EXPECT_FLOAT_EQ(st.t13, 6.0f) << c.waves;
    if (c.waves > 0) {
      EXPECT_FLOAT_EQ(st.h13, 7.0f) << c.waves;
    }
    if (c.waves < 2) {
      EXPECT_TRUE(st.havg == 0 && st.tavg == 0) << c.waves;
    } else {
      EXPECT_FLOAT_EQ(st.tavg, 2.0f);  // the second wave alone
    }
  }
  EXPECT_EQ(st.tmax, 0.0f);
  // A burst of one cycle: the spectral H1/3, T1/3 kept (0 when new, seconds when kept).
  WaveAnalyser analyser;
  BurstSeries burst;
  burst.samples = Burst(512, 10.0, 0.0, 0.2, 1);  // one cycle in the burst
  ASSERT_TRUE(analyser.AnalyseBurst(DepthSetup(512, 2, 1.0), burst));
  EXPECT_EQ(burst.stats.t13, 0.0f);
  EXPECT_GT(burst.stats.h13, 0.0f);
  burst.stats.t13 = 6.0f, burst.stats.t110 = 4.0f;
  ASSERT_TRUE(analyser.AnalyseBurst(DepthSetup(512, 2, 1.0), burst));
  EXPECT_EQ(burst.stats.t13, 6.0f);
  EXPECT_EQ(burst.stats.t110, 4.0f);
}


TEST(WaveFft, MatchesNumPy) {
  if (std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "NumPy is not installed";
  const size_t n = 1024;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> re(n), im(n);
  const auto dir =
      std::filesystem::temp_directory_path() / ("klx_wave_fft_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / "in.txt");
  out.precision(17);
  for (size_t i = 0; i < n; ++i)
    re[i] = u(random), im[i] = u(random), out << re[i] << ' ' << im[i] << '\n';
  out.close();
  const std::string script =
      "import numpy as np, sys; d = sys.argv[1]; a = np.loadtxt(d + '/in.txt'); "
      "z = a[:, 0] + 1j * a[:, 1]; f = np.fft.fft(z) / len(z); b = np.fft.ifft(f) * len(z); "
      "np.savetxt(d + '/out.txt', np.column_stack([f.real, f.imag, b.real, b.imag]), '%.17g')";
  const std::string command = "/usr/bin/python3 -c \"" + script + "\" " + dir.string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  WaveFft fft;
  std::vector<double> fr = re, fi = im;
  ASSERT_TRUE(fft.Transform(fr.data(), fi.data(), static_cast<int>(n), false));
  std::vector<double> br = fr, bi = fi;  // and back
  ASSERT_TRUE(fft.Transform(br.data(), bi.data(), static_cast<int>(n), true));
  std::ifstream in(dir / "out.txt");
  double worst = 0;
  for (size_t k = 0; k < n; ++k) {
    double a, b, c, d;
    ASSERT_TRUE(in >> a >> b >> c >> d);
    worst = std::max({worst, std::fabs(a - fr[k]), std::fabs(b - fi[k]), std::fabs(c - br[k]),
                      std::fabs(d - bi[k])});
  }
  std::filesystem::remove_all(dir);
  EXPECT_LT(worst, 1e-12);
  EXPECT_FALSE(fft.Transform(fr.data(), fi.data(), 1000, false));
}


TEST(TideSlope, LineGivesItsSlopeMissingGivesMissing) {
  std::vector<float> depth(20);
  for (size_t i = 0; i < depth.size(); ++i) depth[i] = 10.0f + 0.01f * static_cast<float>(i);
  // The filter's response to a line of slope 0.01 per sample, in m/hour at 10-minute samples.
  const double response = 2 * (7 * 0.010292142 + 5 * 0.014320589 + 3 * 0.032075668 + 0.260125065);
  EXPECT_NEAR(TideSlope(depth, 10, 10.0), response * 0.01 * 6.0, 1e-6);
  EXPECT_EQ(TideSlope(depth, 6, 10.0), 0.0);   // sample i − 7 lies outside
  EXPECT_EQ(TideSlope(depth, 13, 10.0), 0.0);  // sample i + 7 lies outside
  EXPECT_NE(TideSlope(depth, 12, 10.0), 0.0);  // the last whole window
  depth[11] = kMissingValue;
  EXPECT_EQ(TideSlope(depth, 10, 10.0), kMissingValue);
  EXPECT_EQ(TideSlope(depth, 12, 10.0), kMissingValue);
  depth[10] = kMissingValue;  // the centre itself is not among the eight
  depth[11] = 10.11f;
  EXPECT_NE(TideSlope(depth, 10, 10.0), kMissingValue);
  DeploymentParameters p;
  p.samplePeriod = {1, 2, 30};
  EXPECT_DOUBLE_EQ(TideSlopePeriodMinutes(p), 62.5);
}

}  // namespace
}  // namespace klx
