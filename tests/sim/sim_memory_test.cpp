// The simulated loggers' memory read as a host reads it and decoded from the layout alone: the
// address rules, every layout (linear, paged with page ends and region tails, ASCII lines).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <tuple>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

TEST(SimMemory, AddressMapsSkipPageBytesAndRegionTails) {
  for (uint32_t regions : {2u, 4u}) {
    const AddressMap map(false, regions);
    uint32_t kept = 0;
    for (uint32_t a = 0x20000; a < regions * 0x100000; ++a) kept += HoldsNoData(a) ? 0 : 1;
    EXPECT_EQ(map.Capacity(), kept);
    EXPECT_EQ(map.AddressOf(map.Capacity()), regions * 0x100000);
    EXPECT_EQ(*map.OffsetOf(regions * 0x100000 - 0x803) + 1, map.Capacity());
  }
  const AddressMap older(false), linear(true), two(false, 2);
  EXPECT_FALSE(two.OffsetOf(0x200000)) << "a 2 MB memory has no third region";
  for (uint32_t off : {65535u, 915440u, 915441u})
    EXPECT_EQ(older.OffsetOf(older.AddressOf(off)), off) << off;
  EXPECT_EQ(linear.AddressOf(12345), 12345u);
  EXPECT_EQ(linear.Capacity(), 0x7FE000u);
}

// Every family's deployment read whole: the readings and stamps the logger expects, realistic
// values, and gains; a byte lost or repeated anywhere would shift every later word.
TEST(SimMemory, EveryLayoutDecodesToWhatWasLogged) {
  const struct {
    const char* profile;
    size_t header;
    uint32_t block;
    int pageEnds, regionEnds;
  } cases[] = {{"VS-330", 30, 960, 0, 0},        {"NA-7100-1.40", 0, 960, 0, 0},
               {"NMV-7400", 30, 960, 0, 0},      {"NMJ-7400", 48, 960, 0, 0},
               {"HL-240", 30, 960, 0, 0},        {"VS-330-PQ", 30, 960, 0, 0},
               {"VS-330-full", 30, 960, 13, 1},  {"NB-7100-1200", 30, 60, 2, 0},
               {"NB-7100-4800", 30, 240, 13, 1}, {"VS-330-FT", 30, 480, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile);
    const SimProfile p = Profile(c.profile);
    SimHost host(p, p.baud);
    ASSERT_EQ(host.logger->HeaderBytes(), c.header);
    const uint32_t pointer = host.logger->DataPointer();
    char g[16];
    std::snprintf(g, sizeof g, "%02X%02X%02X%02X", pointer & 0xFF, pointer >> 8 & 0xFF,
                  pointer >> 16 & 0xFF, pointer >> 24);
    EXPECT_EQ(host.Ask("G"), std::string(g) + "CDP\r\n");

    // The earliest NA loggers, without a parameter block, send no sum.
    int pages = 0, regions = 0;
    const std::string image = ReadMemory(host, p.IsExtended() ? 0 : 0x20000, pointer, c.block,
                                         c.header != 0, &pages, &regions);
    EXPECT_EQ(image.size(), host.logger->Memory().UsedBytes());
    EXPECT_GE(pages, c.pageEnds);
    EXPECT_GE(regions, c.regionEnds);
    const SimExpected e = host.logger->Expected();
    const size_t channels = e.types.size();
    const Decoded d = Decode(image, c.header, channels);
    ASSERT_GE(e.Rows(), static_cast<size_t>(p.samples));
    for (size_t ch = 0; ch < channels; ++ch) EXPECT_TRUE(d.raw[ch] == e.raw[ch]) << ch;
    ASSERT_EQ(d.stamps.size(), e.stamps.size());
    for (size_t i = 0; i < e.stamps.size(); ++i)
      EXPECT_TRUE(d.stamps[i].code == e.stamps[i].code && d.stamps[i].row == e.stamps[i].row &&
                  d.stamps[i].seconds == e.stamps[i].seconds)
          << i;
    EXPECT_EQ(e.stamps.front().code + std::to_string(e.stamps.front().row), "TIM0");
    EXPECT_EQ(e.rowMs.front(), e.stamps.front().seconds * 1000);
    EXPECT_EQ(e.stamps.back().code, p.stamps.empty() ? "TIM" : "STP");
    EXPECT_EQ(d.bursts.size(), e.bursts.size());

    // Realistic values where the logger is calibrated for them.
    for (size_t ch = 0; ch < channels; ++ch) {
      const auto [lo, hi] = std::minmax_element(e.values[ch].begin(), e.values[ch].end());
      const char t = p.calibration.empty() && e.types[ch] != 'T' ? '-' : e.types[ch];
      EXPECT_TRUE(t != 'T' || (*lo >= 1.9 && *hi <= 25.1 && *hi - *lo > 0.05)) << "moving";
      EXPECT_TRUE(t != 'P' || (*lo >= 10.13 + p.depth - 1.3 && *hi <= 10.13 + p.depth + 1.3));
      // uS/cm; the micro-salinometer's cells read volt ratios
      EXPECT_TRUE(t != 'C' || host.logger->Microsal() || (*lo >= 29900.0 && *hi <= 55100.0));
      // Auto-ranging channels (lower-case letters) carry their gain in bits 1 and 2.
      const bool ranging = std::islower(static_cast<unsigned char>(e.types[ch]));
      for (size_t r = 0; r < e.Rows(); ++r) {
        const uint32_t w = e.raw[ch][r];
        ASSERT_TRUE(w > 0 && w < 0xDFFFFF && (w & 1) == 0) << w;
        ASSERT_EQ(e.gains[ch][r], ranging ? static_cast<int>(w >> 1 & 3) : -1) << r;
      }
    }
    // A block asked as it stands over a page's last byte comes one byte short.
    if (!p.IsExtended() && pointer > 0x30000) {
      const std::string over =
          host.Ask(ReadCommand(0x2FFFF - c.block / 2, 0x2FFFF + c.block / 2), 5000);
      ASSERT_EQ(over.size(), c.block);  // block - 1 data bytes and the sum
      EXPECT_EQ(over.substr(0, c.block - 1), image.substr(0xFFFF - c.block / 2, c.block - 1));
    }
  }
}

// An ASCII logger holds one text line per reading, with its time and values.
TEST(SimMemory, AsciiLoggerHoldsTextLines) {
  const SimProfile profile = Profile("VS-330-ASCII");
  SimHost host(profile);
  EXPECT_EQ(host.ReadTable("R0700"), Bytes({0x0A, 0, 0, 0, 0xA5 - 0x0A}));
  const std::string text =
      ReadMemory(host, 0, host.logger->DataPointer()).substr(host.logger->HeaderBytes());
  const SimExpected e = host.logger->Expected();
  EXPECT_EQ(text, e.text);
  EXPECT_TRUE(e.stamps.empty());
  size_t line = 0;
  for (size_t at = 0; at < text.size(); ++line) {
    const size_t lf = text.find('\n', at);
    ASSERT_NE(lf, std::string::npos) << "every line ends with CR LF";
    ASSERT_EQ(text[lf - 1], '\r');
    const std::string l = text.substr(at, lf - at);
    at = lf + 1;
    int y, mo, d, h, mi, s;
    double v[3];
    ASSERT_EQ(std::sscanf(l.c_str(), "%d/%d/%d %d:%d:%d %lf %lf %lf", &y, &mo, &d, &h, &mi, &s,
                          &v[0], &v[1], &v[2]),
              9)
        << l;
    ASSERT_LT(line, e.Rows());
    const int64_t seconds = e.rowMs[line] / 1000;
    int ey = 0;
    unsigned emo = 0, ed = 0;
    CivilFromDays(seconds / 86400 + DaysFromCivil(2000, 1, 1), ey, emo, ed);
    EXPECT_EQ(std::tuple(y, mo, d), std::tuple(ey, int(emo), int(ed)));
    EXPECT_EQ(h * 3600 + mi * 60 + s, seconds % 86400);
    for (size_t ch = 0; ch < 3; ++ch) EXPECT_NEAR(v[ch], e.values[ch][line], 5.01e-5) << l;
  }
  EXPECT_EQ(line, static_cast<size_t>(profile.samples));
  EXPECT_EQ(e.Rows(), line);
}

}  // namespace
}  // namespace klx::sim::test
