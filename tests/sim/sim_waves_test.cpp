// The tide-and-wave recorder: the logger height through "!Y"/"!Z", wave bursts in memory
// decoded here from the memory layout alone, and the burst records of the real-time output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The used memory as the logger holds it (memory reads of these bytes are checked in
// sim_memory_test).
std::string Used(const SimLogger& logger) {
  const AddressMap& map = logger.Memory().Map();
  std::string all;
  for (uint32_t a = map.Base(); a < logger.DataPointer(); ++a)
    if (!map.IsGap(a)) all += static_cast<char>(logger.MemoryByte(a));
  return all;
}

int64_t Seconds(const uint8_t* bcd) {
  int v[6];
  for (int i = 0; i < 6; ++i) v[i] = (bcd[i] >> 4) * 10 + (bcd[i] & 15);
  return (DaysFromCivil(2000 + v[0], static_cast<unsigned>(v[1]), static_cast<unsigned>(v[2])) -
          DaysFromCivil(2000, 1, 1)) *
             86400 +
         v[3] * 3600 + v[4] * 60 + v[5];
}

// The stream as the memory layout defines it: words of three bytes, most significant first; a
// zero word and a stamp code start a stamp of four words; a "BST" stamp is followed by the burst
// words, and the next stamp ends the burst.
struct Stream {
  std::vector<std::vector<uint32_t>> bursts;
  std::vector<int64_t> burstSeconds;
  std::vector<std::string> afterBurst;  // code of the stamp that ends each burst
  size_t rowWords = 0;
};

Stream Parse(const std::string& s, size_t header) {
  Stream out;
  auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  bool inBurst = false;
  for (size_t o = header; o + 3 <= s.size();) {
    const uint32_t w = byte(o) << 16 | byte(o + 1) << 8 | byte(o + 2);
    const std::string code = o + 12 <= s.size() ? s.substr(o + 3, 3) : "";
    if (w == 0 && (code == "TIM" || code == "BST" || code == "STP")) {
      const int64_t t = Seconds(reinterpret_cast<const uint8_t*>(s.data()) + o + 6);
      if (inBurst) out.afterBurst.push_back(code);
      inBurst = code == "BST";
      if (inBurst) {
        out.bursts.emplace_back();
        out.burstSeconds.push_back(t);
      }
      o += 12;
      continue;
    }
    inBurst ? out.bursts.back().push_back(w) : void(++out.rowWords);
    o += 3;
  }
  return out;
}

// The wave number by the fixed-point iteration of the host's analysis (a second way to the
// dispersion relation).
double FixedPointWaveNumber(double h, double t) {
  const double k0 = 39.47841760435743 / (t * t * 9.80665);
  double kold = 1.0, knew = 1.0;
  for (int i = 0; i < 20000; ++i) {
    const double kmid = (knew + kold) / 2;
    kold = knew;
    knew = k0 / std::tanh(h * kmid);
    if (std::abs(kmid - knew) <= 1e-6) break;
  }
  return knew;
}

// Least squares of v(t) = cubic in t + A sin(wt) + B cos(wt), t in seconds from the first
// sample. Returns the trend at tMid, the amplitude hypot(A, B) and the residual's RMS.
struct Fit {
  double trendAtMiddle = 0, amplitude = 0, rms = 0;
};

Fit FitSine(const std::vector<double>& v, double rate, double period) {
  const size_t n = v.size();
  const double span = static_cast<double>(n - 1) / rate, w = 2 * kPi / period;
  auto basis = [&](size_t k, double out[6]) {
    const double t = static_cast<double>(k) / rate, u = 2 * t / span - 1;
    out[0] = 1, out[1] = u, out[2] = u * u, out[3] = u * u * u;
    out[4] = std::sin(w * t), out[5] = std::cos(w * t);
  };
  double a[6][7] = {};
  for (size_t k = 0; k < n; ++k) {
    double b[6];
    basis(k, b);
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
    for (int r = 0; r < 6; ++r) {
      if (r == c) continue;
      const double f = a[r][c] / a[c][c];
      for (int j = c; j < 7; ++j) a[r][j] -= f * a[c][j];
    }
  }
  double x[6];
  for (int i = 0; i < 6; ++i) x[i] = a[i][6] / a[i][i];
  Fit f;
  double sq = 0;
  for (size_t k = 0; k < n; ++k) {
    double b[6], m = 0;
    basis(k, b);
    for (int i = 0; i < 6; ++i) m += x[i] * b[i];
    sq += (v[k] - m) * (v[k] - m);
  }
  f.rms = std::sqrt(sq / static_cast<double>(n));
  f.amplitude = std::hypot(x[4], x[5]);
  const double um = 2 * (static_cast<double>(n / 2) / rate) / span - 1;
  f.trendAtMiddle = x[0] + x[1] * um + x[2] * um * um + x[3] * um * um * um;
  return f;
}

double Polynomial(const std::vector<double>& c, uint32_t raw) {
  const double x = raw / 16777216.0;
  return c[0] + x * (c[1] + x * (c[2] + x * c[3]));
}

TEST(SimWaves, WaveNumberMeetsTheDispersionRelation) {
  // Roots of 9.80665 k tanh(k h) = (2 pi / T)^2 found by SciPy's brentq.
  const struct {
    double h, t, k;
  } cases[] = {{13.1, 8, 0.08035209483234908},
               {21.9, 16, 0.02843508301320558},
               {1000, 8, 0.06290122264668212},
               {0.5, 10, 0.28470454605102424},
               {8.4, 8, 0.09493161831729069}};
  for (const auto& c : cases) EXPECT_NEAR(SimWaveNumber(c.h, c.t), c.k, 1e-12 * c.k) << c.h;
  EXPECT_EQ(SimWaveNumber(-1, 8), 0.0);
  EXPECT_EQ(SimWaveNumber(10, 0), 0.0);
}

TEST(SimWaves, LoggerHeightRoundTripsThroughYAndZ) {
  SimHost host(Profile("NMJ-7400"));
  // The profile's 1.2 m, as the eight bytes of an IEEE double, least significant first.
  EXPECT_EQ(host.Ask("!Z"), "333333333333F33FLHT\r\n");
  EXPECT_DOUBLE_EQ(host.logger->HeightM(), 1.2);
  const struct {
    const char* bytes;
    double metres;
  } cases[] = {{"0000000000000640", 2.75},
               {"0000000000205940", 100.5},
               {"0000000000000000", 0.0},
               {"333333333333f33f", 1.2}};  // lower-case digits are read too
  for (const auto& c : cases) {
    EXPECT_EQ(host.Ask(std::string("!Y") + c.bytes), "") << c.bytes;
    std::string upper = c.bytes;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::string reply = host.Ask("!Z");
    EXPECT_EQ(reply, upper + "LHT\r\n");
    // The host's acceptance rule: the set command from its third character on is in the reply.
    EXPECT_NE(reply.find(upper), std::string::npos);
    EXPECT_DOUBLE_EQ(host.logger->HeightM(), c.metres);
  }
  // A malformed field is refused and the height stays.
  EXPECT_EQ(host.Ask("!Y333333333333F3GG"), "Unknown command\r\n");
  EXPECT_EQ(host.Ask("!Z"), "333333333333F33FLHT\r\n");
}

TEST(SimWaves, MemoryHoldsTheBurstsWithTheWavePutIn) {
  const struct {
    const char* profile;
    size_t header;
  } profiles[] = {{"NMJ-7400", 48},
                  {"NMJ-7400-4096", 48},
                  {"NMJ-7400-8192", 48},
                  {"NMJ-7400-dry", 48},
                  {"VS-550-waves", 30}};
  for (const auto& pr : profiles) {
    SCOPED_TRACE(pr.profile);
    const SimProfile p = Profile(pr.profile);
    SimHost host(p, p.baud);
    const Stream s = Parse(Used(*host.logger), pr.header);
    const SimExpected e = host.logger->Expected();
    ASSERT_FALSE(s.bursts.empty());
    ASSERT_EQ(s.bursts.size(), e.waves.size());
    EXPECT_EQ(s.rowWords, e.Rows() * e.types.size()) << "tide rows are whole rows";
    const auto& cal = p.calibration.at(1);
    int dry = 0;
    for (size_t b = 0; b < s.bursts.size(); ++b) {
      SCOPED_TRACE(b);
      const SimBurstWave& w = e.waves[b];
      // A "BST" stamp, the burst's words, and a "TIM" stamp before the tide rows go on.
      ASSERT_EQ(s.bursts[b].size(), static_cast<size_t>(p.burstLength));
      EXPECT_EQ(s.afterBurst[b], "TIM");
      EXPECT_EQ(s.burstSeconds[b], w.seconds);
      if (b > 0) {
        const int64_t interval = std::stoi(p.burstInterval.substr(0, 2)) * 3600 +
                                 std::stoi(p.burstInterval.substr(2, 2)) * 60;
        EXPECT_EQ(s.burstSeconds[b] - s.burstSeconds[b - 1], interval);
      }
      std::vector<double> v;
      for (uint32_t raw : s.bursts[b]) v.push_back(Polynomial(cal, raw));
      for (size_t k = 0; k < v.size(); k += 97) EXPECT_NEAR(v[k], e.bursts[b][k], 1e-9);

      EXPECT_EQ(w.periodS, p.wavePeriod);
      EXPECT_EQ(w.loggerHeightM, p.height);
      EXPECT_EQ(w.rateHz, p.waveRate);
      const Fit f = FitSine(v, p.waveRate, p.wavePeriod);
      EXPECT_LT(f.rms, 0.0015) << "a sine on a smooth tide, and sensor noise";
      // Depth by the hydrostatic relation with the host's default constants.
      const double depth = (f.trendAtMiddle - 10.1325) / (1.0281 * 0.980665);
      EXPECT_NEAR(depth, w.meanDepthM, 0.002);
      EXPECT_NEAR(f.trendAtMiddle, w.meanPressure, 0.002);
      if (w.dry) {
        ++dry;
        EXPECT_LT(depth, 0);
        EXPECT_EQ(w.amplitudeM, 0);
        EXPECT_LT(f.amplitude, 0.0005) << "no waves out of the water";
        continue;
      }
      // Back from the sensor to the surface with linear wave theory.
      const double h = depth + p.height;
      const double k = FixedPointWaveNumber(h, p.wavePeriod);
      const double surface =
          f.amplitude / (1.0281 * 0.980665) * std::cosh(k * h) / std::cosh(k * p.height);
      EXPECT_NEAR(surface, w.amplitudeM, 0.01 * w.amplitudeM);
      EXPECT_NEAR(w.waterDepthM, h, 0.002);
      EXPECT_GE(w.amplitudeM, 0.8 * p.waveAmplitude - 1e-12);
      EXPECT_LE(w.amplitudeM, 1.2 * p.waveAmplitude + 1e-12);
      EXPECT_NEAR(w.SignificantHeightM(), 2 * std::sqrt(2.0) * w.amplitudeM, 1e-12);
    }
    EXPECT_EQ(dry > 0, std::string(pr.profile) == "NMJ-7400-dry");
    if (dry > 0) {
      EXPECT_EQ(dry, static_cast<int>(s.bursts.size())) << "out of the water throughout";
    }
  }
}

// Clock 2026-06-01 12:00:00 at monotonic 0; a tide row every minute from 12:01:00, a 512-word
// burst at 2 Hz every five minutes, height 2.75 m, real-time output on.
const char* const kDeploy =
    "J260601120000K000100L260601120100M260602000000!402!60002000500!Y0000000000000640!B13P";
constexpr int64_t kBurstMs = 360000;  // the first burst begins at 12:06:00

struct Capture final : klx::LineOutput {
  struct Piece {
    std::string bytes;
    int64_t atMs;
  };
  void Send(const uint8_t* data, size_t count, int64_t atMs, double) override {
    pieces.push_back({std::string(reinterpret_cast<const char*>(data), count), atMs});
  }
  void DiscardPending() override { pieces.clear(); }
  std::vector<Piece> pieces;
};

void Send(SimLogger& logger, const std::string& text, int64_t nowMs, klx::LineOutput& out) {
  logger.Receive(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 19200, nowMs, out);
}

uint32_t Word(const std::string& r, size_t at) {
  const auto* p = reinterpret_cast<const uint8_t*>(r.data()) + at;
  return static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
}

TEST(SimWaves, RealtimeBurstRecordsAtTheWordsOwnTimes) {
  SimLogger logger(Fresh("NMJ-7400"));
  Capture out;
  logger.HostOpened(0);
  Send(logger, kDeploy, 0, out);
  ASSERT_EQ(out.pieces.back().bytes, "Logger started in mode 01\r\n");
  out.pieces.clear();

  // The first burst begins five minutes after the start and lasts 255.5 s.
  logger.Poll(kBurstMs + 255000, out);
  EXPECT_TRUE(logger.InBurst());
  logger.Poll(kBurstMs + 255500 + 1, out);
  EXPECT_FALSE(logger.InBurst());
  const SimExpected e = logger.Expected();
  ASSERT_EQ(e.waves.size(), 1u);
  EXPECT_DOUBLE_EQ(e.waves[0].loggerHeightM, 2.75);
  ASSERT_EQ(e.bursts[0].size(), 512u);
  const std::vector<double> cal = Profile("NMJ-7400").calibration.at(1);

  // Rows at 12:01 to 12:05, 256 burst records, then the rows held back by the burst.
  ASSERT_EQ(out.pieces.size(), 5u + 256u + 5u);
  size_t i = 0;
  for (; i < 5; ++i) {
    EXPECT_EQ(out.pieces[i].bytes.substr(3, 3), "TIM");
    EXPECT_EQ(out.pieces[i].atMs, 60000 * static_cast<int64_t>(i + 1));
  }
  for (size_t pair = 0; pair < 256; ++pair, ++i) {
    const std::string& r = out.pieces[i].bytes;
    ASSERT_EQ(r.size(), 2u * 3 + 13) << pair;
    EXPECT_EQ(r.substr(0, 3), std::string(3, '\0'));
    EXPECT_EQ(out.pieces[i].atMs, kBurstMs + 500 * static_cast<int64_t>(2 * pair + 1));
    if (pair == 0) {
      EXPECT_EQ(r.substr(3, 3), "BST");
      EXPECT_EQ(r.substr(6, 6), Bytes({0x26, 0x06, 0x01, 0x12, 0x06, 0x00}));
    } else {
      EXPECT_EQ(r.substr(3, 3), "SEQ");
      EXPECT_EQ(static_cast<uint8_t>(r[6]) << 8 | static_cast<uint8_t>(r[7]),
                static_cast<int>(2 * pair));
      EXPECT_EQ(r.substr(8, 4), std::string(4, '\0'));
    }
    EXPECT_EQ(static_cast<uint8_t>(r.back()), Sum(r.substr(3), r.size() - 4));
    EXPECT_NEAR(Polynomial(cal, Word(r, 12)), e.bursts[0][2 * pair], 1e-9);
    EXPECT_NEAR(Polynomial(cal, Word(r, 15)), e.bursts[0][2 * pair + 1], 1e-9);
  }
  // The tide rows of 12:06 to 12:10 were taken during the burst and follow it, in order.
  for (int minute : {0x06, 0x07, 0x08, 0x09, 0x10}) {
    EXPECT_EQ(out.pieces[i].bytes.substr(3, 9),
              "TIM" + Bytes({0x26, 0x06, 0x01, 0x12, minute, 0x00}));
    EXPECT_GE(out.pieces[i].atMs, kBurstMs + 255500);
    ++i;
  }
  // In memory: the burst, then a stamp at the first row held back.
  ASSERT_GE(e.stamps.size(), 3u);
  EXPECT_EQ(e.stamps[1].code, "BST");
  EXPECT_EQ(e.stamps[1].row, 5u);
  EXPECT_EQ(e.stamps[2].code, "TIM");
  EXPECT_EQ(e.stamps[2].seconds, e.stamps[1].seconds);
}

TEST(SimWaves, EngineeringUnitsBurstRecordsAsText) {
  SimProfile p = Fresh("NMJ-7400");
  p.capabilities[20] = 1;
  SimLogger logger(p);
  Capture out;
  logger.HostOpened(0);
  // Start characteristic with the engineering-units flag (bit 2 of the first start-flag byte).
  Send(logger, std::string(kDeploy) + "!100040000", 0, out);
  out.pieces.clear();
  logger.Poll(kBurstMs + 2000, out);
  ASSERT_EQ(out.pieces.size(), 5u + 2u);
  const SimExpected e = logger.Expected();  // the burst is still under way
  EXPECT_TRUE(e.bursts.empty());
  EXPECT_EQ(out.pieces[5].bytes.substr(0, 17), "BST 26 6 112 6 0 ");  // "%2d" fields
  char tag[4] = {}, fet[4] = {};
  int t[6];
  unsigned seq = 0;
  double v1 = 0, v2 = 0;
  ASSERT_EQ(std::sscanf(out.pieces[6].bytes.c_str(), "%3s %2d%2d%2d%2d%2d%2d %4X %lf %lf %3s", tag,
                        &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &seq, &v1, &v2, fet),
            11)
      << out.pieces[6].bytes;
  EXPECT_STREQ(tag, "SEQ");
  EXPECT_EQ(seq, 2u);
  EXPECT_EQ(t[4] * 60 + t[5], 6 * 60 + 1) << "word 2 is taken at 12:06:01";
  EXPECT_TRUE(out.pieces[6].bytes.ends_with(" FET\r\n"));
  EXPECT_NEAR(v1, 10.13 + 12, 1.5) << "a pressure in dbar";
}

TEST(SimWaves, StopOrSuspendDuringABurstKeepsTheWordsTaken) {
  for (const char* command : {"!9", "!S"}) {
    SCOPED_TRACE(command);
    SimLogger logger(Fresh("NMJ-7400"));
    Capture out;
    logger.HostOpened(0);
    Send(logger, kDeploy, 0, out);
    logger.Poll(kBurstMs + 10200, out);  // words 0..20 of the first burst are taken
    ASSERT_TRUE(logger.InBurst());
    out.pieces.clear();
    Send(logger, command, kBurstMs + 10200, out);
    EXPECT_FALSE(logger.InBurst());
    const SimExpected e = logger.Expected();
    ASSERT_EQ(e.bursts.size(), 1u);
    EXPECT_EQ(e.bursts[0].size(), 21u);
    EXPECT_EQ(e.stamps[2].code, "TIM") << "a stamp ends the burst";
    EXPECT_EQ(e.stamps.back().code, std::string(command) == "!9" ? "STP" : "TIM");
    logger.Poll(1000000, out);
    EXPECT_EQ(out.pieces.size(), 1u) << "only the status reply: the output has ended";
    EXPECT_EQ(logger.Expected().bursts.size(), 1u);
  }
}

}  // namespace
}  // namespace klx::sim::test
