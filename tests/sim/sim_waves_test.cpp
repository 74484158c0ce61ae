// The tide-and-wave recorder: wave bursts in memory, decoded from the layout alone and fitted
// here, and the burst records of the real-time output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

// Least squares of v(t) = cubic + A sin(wt) + B cos(wt): the trend at the middle sample,
// hypot(A, B) and the residual's RMS.
struct Fit {
  double trendAtMiddle = 0, amplitude = 0, rms = 0;
};

Fit FitSine(const std::vector<double>& v, double rate, double period) {
  const size_t n = v.size();
  const double span = static_cast<double>(n - 1) / rate, w = 2 * M_PI / period;
  auto basis = [&](double t, double out[6]) {
    const double u = 2 * t / span - 1;
    out[0] = 1, out[1] = u, out[2] = u * u, out[3] = u * u * u;
    out[4] = std::sin(w * t), out[5] = std::cos(w * t);
  };
  double a[6][7] = {}, b[6];
  for (size_t k = 0; k < n; ++k) {
    basis(static_cast<double>(k) / rate, b);
    for (int i = 0; i < 6; ++i) {
      for (int j = 0; j < 6; ++j) a[i][j] += b[i] * b[j];
      a[i][6] += b[i] * v[k];
    }
  }
  for (int c = 0; c < 6; ++c) {  // Gauss-Jordan with partial pivoting
    int p = c;
    for (int r = c + 1; r < 6; ++r)
      if (std::abs(a[r][c]) > std::abs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    for (int r = 0; r < 6; ++r)
      for (int j = 6; r != c && j >= c; --j) a[r][j] -= a[r][c] / a[c][c] * a[c][j];
  }
  double x[6], sq = 0;
  for (int i = 0; i < 6; ++i) x[i] = a[i][6] / a[i][i];
  for (size_t k = 0; k < n; ++k) {
    basis(static_cast<double>(k) / rate, b);
    double m = 0;
    for (int i = 0; i < 6; ++i) m += x[i] * b[i];
    sq += (v[k] - m) * (v[k] - m);
  }
  basis(static_cast<double>(n / 2) / rate, b);
  return {x[0] + x[1] * b[1] + x[2] * b[2] + x[3] * b[3], std::hypot(x[4], x[5]),
          std::sqrt(sq / static_cast<double>(n))};
}

TEST(SimWaves, WaveNumberMeetsTheDispersionRelation) {
  // Roots of 9.80665 k tanh(k h) = (2 pi / T)^2 found by SciPy's brentq.
  const struct {
    double h, t, k;
  } cases[] = {{13.1, 8, 0.08035209483234908}, {1000, 8, 0.06290122264668212},
               {0.5, 10, 0.28470454605102424}, {-1, 8, 0}, {10, 0, 0}};
  for (const auto& c : cases) EXPECT_NEAR(SimWaveNumber(c.h, c.t), c.k, 1e-12 * c.k) << c.h;
}

TEST(SimWaves, MemoryHoldsTheBurstsWithTheWavePutIn) {
  for (const char* name :
       {"NMJ-7400", "NMJ-7400-8192", "NMJ-7400-dry", "VS-550-waves"}) {
    SCOPED_TRACE(name);
    const SimProfile p = Profile(name);
    SimHost host(p, p.baud);
    const uint32_t base = host.logger->Memory().Map().Base();
    const SimExpected e = host.logger->Expected();
    const Decoded s = Decode(ReadMemory(host, base, host.logger->DataPointer()),
                             host.logger->HeaderBytes(), e.types.size());
    ASSERT_FALSE(s.bursts.empty());
    ASSERT_EQ(s.bursts.size(), e.waves.size());
    EXPECT_EQ(s.raw[0], e.raw[0]) << "tide rows are whole rows";
    const int64_t interval = std::stoi(p.burstInterval.substr(0, 2)) * 3600 +
                             std::stoi(p.burstInterval.substr(2, 2)) * 60;
    size_t stamp = 0, dry = 0;
    int64_t previous = 0;
    for (size_t b = 0; b < s.bursts.size(); ++b) {
      SCOPED_TRACE(b);
      const SimBurstWave& w = e.waves[b];
      while (s.stamps[stamp].code != "BST") ++stamp;
      // A "BST" stamp, the burst's words, and a "TIM" stamp before the tide rows go on.
      ASSERT_EQ(s.bursts[b].size(), static_cast<size_t>(p.burstLength));
      EXPECT_EQ(s.afterBurst[b], "TIM");
      EXPECT_EQ(s.stamps[stamp].seconds, w.seconds);
      if (b > 0) {
        EXPECT_EQ(s.stamps[stamp].seconds - previous, interval);
      }
      previous = s.stamps[stamp++].seconds;
      std::vector<double> v;
      for (uint32_t raw : s.bursts[b]) v.push_back(Polynomial(p.calibration.at(1), raw));
      const Fit f = FitSine(v, p.waveRate, p.wavePeriod);
      EXPECT_LT(f.rms, 0.0015) << "a sine on a smooth tide, and sensor noise";
      // Depth by the hydrostatic relation with the host's default constants.
      const double depth = (f.trendAtMiddle - 10.1325) / (1.0281 * 0.980665);
      EXPECT_NEAR(depth, w.meanDepthM, 0.002);
      if (w.dry) {
        ++dry;
        EXPECT_LT(depth, 0);
        EXPECT_EQ(w.amplitudeM, 0);
        EXPECT_LT(f.amplitude, 0.0005) << "no waves out of the water";
        continue;
      }
      // Back from the sensor to the surface with linear wave theory.
      const double h = depth + p.height, k = SimWaveNumber(h, p.wavePeriod);
      const double surface =
          f.amplitude / (1.0281 * 0.980665) * std::cosh(k * h) / std::cosh(k * p.height);
      EXPECT_NEAR(surface, w.amplitudeM, 0.01 * w.amplitudeM);
      EXPECT_NEAR(w.waterDepthM, h, 0.002);
      EXPECT_TRUE(w.amplitudeM >= 0.8 * p.waveAmplitude - 1e-12 &&
                  w.amplitudeM <= 1.2 * p.waveAmplitude + 1e-12);
    }
    EXPECT_EQ(dry, std::string(name) == "NMJ-7400-dry" ? s.bursts.size() : 0u);
  }
}

// From 12:00:00 at 0: tide rows each minute from 12:01, 512 words at 2 Hz every 5 min, 2.75 m.
const char* const kDeploy =
    "J260601120000K000100L260601120100M260602000000!402!60002000500!Y0000000000000640!B13P";
constexpr int64_t kBurstMs = 360000;  // the first burst begins at 12:06:00

TEST(SimWaves, RealtimeBurstRecordsAtTheWordsOwnTimes) {
  Deployed d(Fresh("NMJ-7400"), kDeploy);
  // The first burst begins five minutes after the start and lasts 255.5 s.
  d.logger.Poll(kBurstMs + 255500 + 1, d.out);
  EXPECT_FALSE(d.logger.InBurst());
  const SimExpected e = d.logger.Expected();
  ASSERT_EQ(e.waves.size(), 1u);
  EXPECT_DOUBLE_EQ(e.waves[0].loggerHeightM, 2.75);
  ASSERT_EQ(e.bursts[0].size(), 512u);
  const std::vector<double> cal = Profile("NMJ-7400").calibration.at(1);
  const auto& out = d.out.pieces;
  // Rows at 12:01 to 12:05, 256 burst records, then the rows held back by the burst.
  ASSERT_EQ(out.size(), 5u + 256u + 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(out[i].bytes.substr(3, 3), "TIM");
    EXPECT_EQ(out[i].atMs, 60000 * static_cast<int64_t>(i + 1));
  }
  for (size_t pair = 0; pair < 256; ++pair) {
    const std::string& r = out[5 + pair].bytes;
    ASSERT_EQ(r.size(), 2u * 3 + 13) << pair;
    EXPECT_EQ(out[5 + pair].atMs, kBurstMs + 500 * static_cast<int64_t>(2 * pair + 1));
    const int seq = static_cast<int>(2 * pair);
    EXPECT_EQ(r.substr(0, 12),
              pair == 0 ? std::string("\0\0\0BST", 6) + Bytes({0x26, 0x06, 0x01, 0x12, 0x06, 0x00})
                        : std::string("\0\0\0SEQ", 6) + Bytes({seq >> 8, seq & 0xFF, 0, 0, 0, 0}));
    EXPECT_EQ(static_cast<uint8_t>(r.back()), Sum(r.substr(3), r.size() - 4));
    EXPECT_NEAR(Polynomial(cal, Word(r, 12)), e.bursts[0][2 * pair], 1e-9);
    EXPECT_NEAR(Polynomial(cal, Word(r, 15)), e.bursts[0][2 * pair + 1], 1e-9);
  }
  // The tide rows of 12:06 to 12:10 were taken during the burst and follow it, in order.
  EXPECT_EQ(out[261].bytes.substr(3, 9), "TIM" + Bytes({0x26, 0x06, 0x01, 0x12, 0x06, 0x00}));
  EXPECT_EQ(out[265].bytes.substr(3, 9), "TIM" + Bytes({0x26, 0x06, 0x01, 0x12, 0x10, 0x00}));
  EXPECT_GE(out[261].atMs, kBurstMs + 255500);
  // In memory: the burst, then a stamp at the first row held back.
  ASSERT_GE(e.stamps.size(), 3u);
  EXPECT_EQ(e.stamps[1].code + e.stamps[2].code, "BSTTIM");
  EXPECT_EQ(e.stamps[1].row, 5u);
  EXPECT_EQ(e.stamps[2].seconds, e.stamps[1].seconds);

  // In engineering units (bit 2 of the first start-flag byte) the burst records are text.
  SimProfile p = Fresh("NMJ-7400");
  p.capabilities[20] = 1;
  Deployed text(p, std::string(kDeploy) + "!100040000");
  text.logger.Poll(kBurstMs + 2000, text.out);
  ASSERT_EQ(text.out.pieces.size(), 5u + 2u);
  EXPECT_TRUE(text.logger.Expected().bursts.empty()) << "the burst is still under way";
  EXPECT_EQ(text.out.pieces[5].bytes.substr(0, 17), "BST 26 6 112 6 0 ");  // "%2d" fields
  const std::string& line = text.out.pieces[6].bytes;  // word 2 is taken at 12:06:01
  ASSERT_EQ(line.substr(0, 22), "SEQ 26 6 112 6 1 0002 ") << line;
  EXPECT_TRUE(line.ends_with(" FET\r\n")) << line;
  EXPECT_NEAR(std::atof(line.c_str() + 22), 10.13 + 12, 1.5) << "a pressure in dbar";
}

}  // namespace
}  // namespace klx::sim::test
