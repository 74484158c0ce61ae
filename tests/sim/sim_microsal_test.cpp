// The micro-salinometer: 6 Hz records through the start characteristic, the cells' readings as
// a host converts them, the standardization table, and the single-channel history record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

// Clock 2026-06-01 12:00:00 at monotonic 0, a start now, a one-minute period, real-time output
// at 19200 baud (code 0x0D) and the start characteristic's mode byte as given.
std::string Deploy(const char* modeByte) {
  return std::string("J260601120000K000100L260601120000M260601130000!B0D!1") + modeByte + "000000P";
}

double Fraction(uint32_t raw) {
  return raw / 16777216.0;
}

// Rt as a host forms it from the logger's own coefficients: sample (channel 0) over standard
// (channel 2), each c0 + c1 x.
double Ratio(const SimProfile& p, uint32_t sample, uint32_t standard) {
  const auto& s = p.calibration.at(0);
  const auto& t = p.calibration.at(2);
  return (s[0] + s[1] * Fraction(sample)) / (t[0] + t[1] * Fraction(standard));
}

std::string Doubles(std::initializer_list<double> values) {
  std::string s;
  for (double v : values) s.append(reinterpret_cast<const char*>(&v), 8);
  return s;
}

double GetDouble(const std::string& bytes, size_t at) {
  double v = 0;
  std::memcpy(&v, bytes.data() + at, 8);
  return v;
}

TEST(SimMicrosal, SixRecordsASecondOnlyWhenTheStartCharacteristicAsksForProfiling) {
  const SimProfile p = Fresh("HL-240");
  const struct {
    const char* mode;
    size_t records;  // in the first ten seconds
  } cases[] = {{"60", 60}, {"20", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    Deployed d(p, Deploy(c.mode));
    d.logger.Poll(9999, d.out);
    ASSERT_EQ(d.out.pieces.size(), c.records);
    double sum = 0;
    for (size_t i = 0; i < c.records; ++i) {
      const std::string& r = d.out.pieces[i].bytes;
      ASSERT_EQ(r.size(), 3u * 3 + 13);
      EXPECT_EQ(d.out.pieces[i].atMs, static_cast<int64_t>(i / 6 * 1000 + i % 6 * 167)) << i;
      EXPECT_EQ(r.substr(3, 3), "TIM");
      EXPECT_EQ(static_cast<int>(r[11]), static_cast<int>(i / 6)) << "BCD seconds";
      EXPECT_EQ(static_cast<uint8_t>(r.back()), Sum(r.substr(3), r.size() - 4));
      // A steady ratio near the sample's 0.9995 (salinity about 34.98) with a little noise.
      const double rt = Ratio(p, Word(r, 12), Word(r, 18));
      EXPECT_NEAR(rt, 0.9995, 1e-4) << i;
      sum += std::fabs(rt - 0.9995);
    }
    EXPECT_GT(sum, 0.0) << "noise";
  }
}

TEST(SimMicrosal, StandardizingOnItsCellsGivesBackTheLoggersGainAndK15) {
  const SimProfile p = Fresh("HL-240");
  Deployed d(p, Deploy("60"));
  d.logger.Poll(2999, d.out);
  d.logger.SetMicrosalCells(SimMicrosalCells::Standard, 2999);
  d.logger.Poll(5999, d.out);
  d.logger.SetMicrosalCells(SimMicrosalCells::Zero, 5999);
  d.logger.Poll(8999, d.out);
  const SimExpected e = d.logger.Expected();
  ASSERT_EQ(e.Rows(), 54u);
  // Means of the sample (0) and standard (2) channels over the rows of one cell state.
  auto mean = [&](size_t ch, size_t first) {
    double s = 0;
    for (size_t i = first; i < first + 18; ++i) s += Fraction(e.raw[ch][i]);
    return s / 18;
  };
  for (size_t i = 0; i < 36; ++i)
    EXPECT_NEAR(Ratio(p, e.raw[0][i], e.raw[2][i]), i < 18 ? 0.9995 : 0.99993, 1e-4) << i;
  for (size_t i = 0; i < 54; ++i) EXPECT_NEAR(e.values[1][i], 24.0, 0.06) << "bath " << i;
  const double vs0 = mean(0, 36), vt0 = mean(2, 36), vs1 = mean(0, 18), vt1 = mean(2, 18);
  EXPECT_NEAR(vs0, 0.012, 1e-5);
  EXPECT_NEAR(vt0, 0.010, 1e-5);
  EXPECT_NEAR((vt1 - vt0) * 0.99993 / (vs1 - vs0), 1.0465, 1e-4) << "alpha";
}

// What is written to table 0600 and a mangled read-back are read through the host's run.
TEST(SimMicrosal, StandardizationTableHoldsTheInstrumentsOwnStandardization) {
  const std::string before = SimHost(Profile("HL-240")).ReadTable("R0600");
  ASSERT_EQ(before.size(), 34u);
  EXPECT_EQ(before[0], 1);
  // K15 and batch, and the gain the cells give back (alpha from the four readings).
  EXPECT_EQ(before.substr(17, 16), Doubles({0.99993}) + std::string("P165\0\0\0\0", 8));
  EXPECT_NEAR((GetDouble(before, 1) - 0.010) * 0.99993 / (GetDouble(before, 9) - 0.012), 1.0465,
              1e-9);
  EXPECT_EQ(SimHost(Profile("HL-240-unstandardized")).ReadTable("R0600").at(0), 0);
}

TEST(SimMicrosal, SingleChannelHistoryRecordsComeWithTheNextRecordsFirstByteAndTheirSum) {
  const struct {
    const char* profile;
    uint32_t address, count;
    size_t size;  // bytes sent
    int last;     // byte before the sum (-1: not checked)
  } cases[] = {
      {"NB-7100-cal-history", 0x10000, 38, 40, 0x26},       // the second record's year
      {"NB-7100-cal-history", 0x10000 + 76, 38, 40, 0xFF},  // the last: free memory follows
      {"VS-330", 0x10000, 6, 7, -1},                        // multi-channel: as asked
      {"NB-7100-cal-history", 0x20000, 30, 31, -1},         // data memory: as asked
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile + std::to_string(c.address));
    SimHost host(Profile(c.profile));
    const std::string r = host.Ask(ReadCommand(c.address, c.address + c.count), 60);
    ASSERT_EQ(r.size(), c.size);
    EXPECT_EQ(static_cast<uint8_t>(r.back()), Sum(r, c.size - 1));
    if (c.last >= 0) {
      EXPECT_EQ(static_cast<uint8_t>(r[c.size - 2]), c.last);
    }
  }
}

}  // namespace
}  // namespace klx::sim::test
