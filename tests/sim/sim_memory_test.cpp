// The simulated logger's data memory: placement rules, stamps, inverse calibration, paced
// block reads and the retrieval faults.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

std::string ReadCommand(uint32_t start, uint32_t end) {
  char b[32];
  std::snprintf(b, sizeof b, "I%02x%02x%02x%02x%02x%02x%02x%02x", end & 0xFF, end >> 8 & 0xFF,
                end >> 16 & 0xFF, end >> 24, start & 0xFF, start >> 8 & 0xFF, start >> 16 & 0xFF,
                start >> 24);
  return b;
}

// Reads [from, to) block by block and checks each block's sum; the bytes that hold data.
std::string ReadMemory(SimHost& host, uint32_t from, uint32_t to, bool checksum = true,
                       uint32_t span = 960) {
  const AddressMap& map = host.logger->Memory().Map();
  std::string all;
  for (uint32_t a = from; a < to;) {
    const uint32_t end = std::min(to, a + span);
    int count = checksum ? 1 : 0;
    for (uint32_t i = a; i < end; ++i) count += map.IsGap(i) ? 0 : 1;
    const std::string block = host.Ask(ReadCommand(a, end), count);
    if (static_cast<int>(block.size()) != count) return all + "short block";
    const size_t data = block.size() - (checksum ? 1 : 0);
    EXPECT_TRUE(!checksum || Sum(block, data) == static_cast<uint8_t>(block.back())) << a;
    all += block.substr(0, data);
    a = end;
  }
  return all;
}

// A second reading of the stream, written from the memory format alone.
struct Decoded {
  std::vector<std::vector<uint32_t>> raw;
  std::vector<SimStampRecord> stamps;
  std::vector<size_t> bursts;
};

Decoded Decode(const std::string& s, size_t header, size_t channels, size_t burstLength) {
  static const std::set<std::string> kCodes = {"TIM", "CLD", "CHG", "LUK", "WRM", "STP",
                                               "TTY", "REC", "BST", "SER", "RTC"};
  Decoded d;
  d.raw.resize(channels);
  auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  size_t o = header, ch = 0;
  while (o + 3 <= s.size()) {
    const uint32_t w = byte(o) << 16 | byte(o + 1) << 8 | byte(o + 2);
    if (w == 0 && o + 12 <= s.size() && kCodes.count(s.substr(o + 3, 3))) {
      EXPECT_EQ(ch, 0u) << "stamps lie between rows";
      SimStampRecord r;
      r.row = d.raw[0].size();
      r.code = s.substr(o + 3, 3);
      int v[6];
      for (size_t i = 0; i < 6; ++i) {
        const uint8_t b = byte(o + 6 + i);
        EXPECT_TRUE((b >> 4) < 10 && (b & 15) < 10) << "BCD";
        v[i] = (b >> 4) * 10 + (b & 15);
      }
      EXPECT_TRUE(v[1] >= 1 && v[1] <= 12 && v[2] >= 1 && v[2] <= 31 && v[3] < 24 && v[4] < 60 &&
                  v[5] < 60);
      r.seconds =
          (DaysFromCivil(2000 + v[0], static_cast<unsigned>(v[1]), static_cast<unsigned>(v[2])) -
           DaysFromCivil(2000, 1, 1)) *
              86400 +
          v[3] * 3600 + v[4] * 60 + v[5];
      d.stamps.push_back(r);
      o += 12;
      if (r.code == "BST") {
        d.bursts.push_back(std::min(burstLength, (s.size() - o) / 3));
        o += 3 * burstLength;
      }
      continue;
    }
    d.raw[ch].push_back(w);
    ch = (ch + 1) % channels;
    o += 3;
  }
  return d;
}

TEST(SimMemory, PageBytesAndRegionGapsHoldNoData) {
  const AddressMap older(false), linear(true);
  EXPECT_EQ(older.OffsetOf(0x20000), 0u);
  for (uint32_t gap : {0x1FFFFu, 0x2FFFFu, 0xFF7FEu, 0x1FFFFFu}) EXPECT_FALSE(older.OffsetOf(gap));
  EXPECT_EQ(older.AddressOf(*older.OffsetOf(0x2FFFE) + 1), 0x30000u);
  EXPECT_EQ(older.AddressOf(*older.OffsetOf(0xFF7FD) + 1), 0x100000u);
  EXPECT_EQ(older.AddressOf(older.Capacity()), 0x400000u);
  EXPECT_EQ(*older.OffsetOf(0x3FF7FD) + 1, older.Capacity());
  for (uint32_t off : {0u, 65534u, 65535u, 915440u, 915441u, 2000000u})
    EXPECT_EQ(older.OffsetOf(older.AddressOf(off)), off) << off;
  EXPECT_EQ(linear.AddressOf(12345), 12345u);
  EXPECT_EQ(linear.Capacity(), 0x7FE000u);

  // About 1.1 MB of data run from the first region into the second.
  SimHost host(Profile("VS-330-full"));
  const uint32_t pointer = host.logger->DataPointer();
  EXPECT_GT(pointer, 0x100000u);
  EXPECT_LT(pointer, 0x140000u);
  EXPECT_FALSE(host.logger->Memory().Map().IsGap(pointer));
  EXPECT_EQ(*host.logger->Memory().Map().OffsetOf(pointer), host.logger->Memory().UsedBytes());
  // The retrieval's page block: 256 addresses give 255 bytes and the sum.
  EXPECT_EQ(host.Ask(ReadCommand(0x2FF00, 0x30000), 300).size(), 256u);
  // Its region block: 0xFF780 to the next region gives 126 bytes and the sum.
  const std::string edge = host.Ask(ReadCommand(0xFF780, 0x100000), 300);
  ASSERT_EQ(edge.size(), 127u);
  EXPECT_EQ(static_cast<uint8_t>(edge[126]), Sum(edge, 126));
  EXPECT_EQ(host.logger->MemoryByte(0x2FFFF), 0xFF);
  EXPECT_EQ(host.logger->MemoryByte(0xFF900), 0xFF);
  // Read as a retrieval does, the whole image decodes to what was logged, across the gap.
  const Decoded d = Decode(ReadMemory(host, 0x20000, pointer, true, 4000), 30, 3, 0);
  const SimExpected e = host.logger->Expected();
  ASSERT_EQ(e.Rows(), 122000u);
  for (size_t ch = 0; ch < 3; ++ch) EXPECT_TRUE(d.raw[ch] == e.raw[ch]) << ch;
  EXPECT_EQ(d.stamps.size(), 3u);
}

TEST(SimMemory, EveryFamilyHoldsItsDeployment) {
  const struct {
    const char* profile;
    size_t header;
  } families[] = {{"VS-330", 30},      {"VS-550", 30},  {"NA-7100", 30},
                  {"NA-7100-1.40", 0}, {"NB-7100", 30}, {"NMV-7400", 30},
                  {"NMJ-7400", 48},    {"HL-240", 30},  {"VS-330-PQ", 30}};
  for (const auto& f : families) {
    SCOPED_TRACE(f.profile);
    SimProfile p = Profile(f.profile);
    SimHost host(p, p.baud);
    ASSERT_EQ(host.logger->HeaderBytes(), f.header);
    const uint32_t base = p.IsExtended() ? 0 : 0x20000;
    const uint32_t pointer = host.logger->DataPointer();
    char g[16];
    std::snprintf(g, sizeof g, "%02X%02X%02X%02X", pointer & 0xFF, pointer >> 8 & 0xFF,
                  pointer >> 16 & 0xFF, pointer >> 24);
    EXPECT_EQ(host.Ask("G"), std::string(g) + "CDP\r\n");
    EXPECT_EQ(host.Ask("T").substr(0, 16), "Logger status 04");

    const bool checksum = std::string(f.profile) != "NA-7100-1.40";
    const SimExpected e = host.logger->Expected();
    const size_t channels = e.types.size();
    const Decoded d =
        Decode(ReadMemory(host, base, pointer, checksum), f.header, channels, p.burstLength);
    ASSERT_GE(e.Rows(), static_cast<size_t>(p.samples));
    for (size_t ch = 0; ch < channels; ++ch) EXPECT_EQ(d.raw[ch], e.raw[ch]) << ch;
    ASSERT_EQ(d.stamps.size(), e.stamps.size());
    for (size_t i = 0; i < e.stamps.size(); ++i)
      EXPECT_TRUE(d.stamps[i].code == e.stamps[i].code && d.stamps[i].row == e.stamps[i].row &&
                  d.stamps[i].seconds == e.stamps[i].seconds)
          << i;
    EXPECT_EQ(e.stamps.front().code, "TIM");
    EXPECT_EQ(e.stamps.front().row, 0u);
    EXPECT_EQ(e.rowMs.front(), e.stamps.front().seconds * 1000);
    EXPECT_EQ(e.stamps.back().code, p.stamps.empty() ? "TIM" : "STP");
    EXPECT_EQ(d.bursts.size(), e.bursts.size());

    // Realistic values where the logger is calibrated for them.
    for (size_t ch = 0; ch < channels; ++ch) {
      const auto [lo, hi] = std::minmax_element(e.values[ch].begin(), e.values[ch].end());
      const char t = p.calibration.empty() && e.types[ch] != 'T' ? '-' : e.types[ch];
      EXPECT_TRUE(t != 'T' || (*lo >= 1.9 && *hi <= 25.1 && *hi - *lo > 0.05)) << "moving";
      EXPECT_TRUE(t != 'P' || (*lo >= 10.13 + p.depth - 1.3 && *hi <= 10.13 + p.depth + 1.3));
      EXPECT_TRUE(t != 'C' || (*lo >= 29900.0 && *hi <= 55100.0));  // uS/cm
      for (uint32_t w : e.raw[ch]) EXPECT_TRUE(w > 0 && w < 0xDFFFFF && (w & 1) == 0) << w;
    }
  }
}

TEST(SimMemory, StampsAndBurstsWhereTheDeploymentHadThem) {
  SimHost na(Profile("NA-7100"));  // CLD:1800 after an hour's break, STP after the last row
  const SimExpected e = na.logger->Expected();
  ASSERT_EQ(e.stamps.size(), 3u);
  EXPECT_EQ(e.stamps[1].code, "CLD");
  EXPECT_EQ(e.stamps[1].row, 1800u);
  EXPECT_EQ(e.stamps[1].seconds - e.rowMs[1799] / 1000, 60 + 3600);
  EXPECT_EQ(e.rowMs[1800], e.stamps[1].seconds * 1000);
  EXPECT_EQ(e.stamps[2].row, 3000u);

  SimHost nmj(Profile("NMJ-7400"));  // a 512-word burst every 3 hours at 1-minute tides
  const SimExpected w = nmj.logger->Expected();
  ASSERT_EQ(w.bursts.size(), 4000u / 180);
  for (size_t i = 0; i < w.bursts.size(); ++i) {
    EXPECT_EQ(w.bursts[i].size(), 512u);
    EXPECT_EQ(w.burstSeconds[i] - w.burstSeconds[0], static_cast<int64_t>(i) * 3 * 3600);
    const auto [lo, hi] = std::minmax_element(w.bursts[i].begin(), w.bursts[i].end());
    EXPECT_TRUE(*hi - *lo > 0.3 && *hi - *lo < 2.0) << "waves";
  }
  // BST, its burst, then a TIM stamp at the same time before the tide rows go on.
  size_t bst = 0;
  while (w.stamps[bst].code != "BST") ++bst;
  EXPECT_EQ(w.stamps[bst + 1].code, "TIM");
  EXPECT_EQ(w.stamps[bst + 1].seconds, w.stamps[bst].seconds);
  EXPECT_EQ(w.stamps[bst].row, 180u);

  SimHost vs(Profile("VS-550"));  // 6 Hz profiling: six rows a second
  const SimExpected six = vs.logger->Expected();
  EXPECT_EQ(six.rowMs[5] - six.rowMs[0], 835);
  EXPECT_EQ(six.rowMs[6] - six.rowMs[0], 1000);
}

TEST(SimMemory, GainCodesRideInBitsOneAndTwo) {
  SimHost host(Profile("VS-330-PQ"));  // TPCyf
  const SimExpected e = host.logger->Expected();
  for (size_t ch : {size_t{3}, size_t{4}}) {
    std::set<int> seen;
    size_t changes = 0;
    for (size_t r = 0; r < e.Rows(); ++r) {
      EXPECT_EQ(static_cast<int>(e.raw[ch][r] >> 1 & 3), e.gains[ch][r]);
      seen.insert(e.gains[ch][r]);
      if (r > 0 && e.gains[ch][r] != e.gains[ch][r - 1]) ++changes;
    }
    EXPECT_GE(seen.size(), 2u) << ch;
    EXPECT_GE(changes, 2u);
    EXPECT_LT(changes, e.Rows() / 50) << "now and then, not every row";
  }
  for (int g : e.gains[0]) EXPECT_EQ(g, -1);
}

TEST(SimMemory, InverseCalibrationRoundTrip) {
  const SimConversion thermistor{true, {0.0035, -0.00025, 2.7e-06, 2.3e-08}};
  const SimConversion pressure{false, {-10.2, 1012.5, 0.3, 0}};
  for (double t = 2; t <= 25; t += 0.5) {
    const double x = SimMemory::InverseFraction(thermistor, t);
    EXPECT_NEAR(thermistor.AtFraction(x), t, 1e-7);
    // One count of 2^24 moves the temperature by far less than a millidegree.
    const auto raw = static_cast<uint32_t>(std::lround(x * 16777216.0));
    EXPECT_NEAR(thermistor.Value(raw), t, 1e-3);
  }
  for (double v = 0; v <= 30; v += 1.5)
    EXPECT_NEAR(pressure.AtFraction(SimMemory::InverseFraction(pressure, v)), v, 1e-7);
  EXPECT_EQ(thermistor.Value(0), -1000.0);
  EXPECT_EQ(thermistor.Value(16777216), -273.15);

  // The stored calibration is the one the readings were made with, in every generation: the
  // multi-channel record (channel 2), the extended "V" record and the single-channel "Z" reply.
  const struct {
    const char *profile, *command;
    size_t channel;
  } generations[] = {
      {"VS-330", "I4800010027000100", 1}, {"NMJ-7400", "V000002", 1}, {"NMV-7400", "Z", 0}};
  for (const auto& g : generations) {
    SimHost host(Profile(g.profile));
    const std::string reply = g.command[0] == 'V' ? host.ReadTable(g.command) : host.Ask(g.command);
    ASSERT_GE(reply.size(), 32u);
    double c[4];
    std::memcpy(c, reply.data(), 32);
    const auto& conv = host.logger->Memory().Configuration().channels[g.channel].conversion;
    EXPECT_TRUE(std::equal(c, c + 4, conv.c.begin())) << g.profile;
  }
}

TEST(SimMemory, LoggingStopSuspendAndResumeWriteTheirStamps) {
  SimProfile p = Profile("VS-330");
  p.status = 2;
  p.clock = "260616000000";  // after the 4000 rows, before the end
  SimHost host(p);
  const uint32_t before = host.logger->DataPointer();
  EXPECT_EQ(host.Ask("T"), "Logger status 02\r\n");
  const uint32_t logging = host.logger->DataPointer();
  EXPECT_GT(logging, before) << "the rows up to the clock";
  host.clock.Advance(600000);
  EXPECT_EQ(host.Ask("T"), "Logger status 02\r\n");
  EXPECT_EQ(host.logger->DataPointer(), logging + 2 * 9);
  EXPECT_EQ(host.Ask("!S"), "Logger status 05\r\n");
  host.clock.Advance(3600000);
  EXPECT_EQ(host.Ask("!R"), "Logger started in mode 02\r\n");
  EXPECT_EQ(host.Ask("!9"), "Logger status 04\r\n");
  const SimExpected e = host.logger->Expected();
  ASSERT_GE(e.stamps.size(), 4u);
  EXPECT_EQ(e.stamps[e.stamps.size() - 2].code, "TIM");
  EXPECT_EQ(e.stamps.back().code, "STP");
  const Decoded d = Decode(ReadMemory(host, 0x20000, host.logger->DataPointer()), 30, 3, 0);
  EXPECT_EQ(d.raw[2], e.raw[2]);
  EXPECT_EQ(d.stamps.size(), e.stamps.size());
}

TEST(SimMemory, EightMegabytesServeTheirLastBlock) {
  SimHost host(Profile("NMJ-7400-8MB"));
  const uint32_t pointer = host.logger->DataPointer();
  EXPECT_GT(pointer, 0x7FE000u * 94 / 100);
  EXPECT_LE(pointer, 0x7FE000u);
  const std::string last = host.Ask(ReadCommand(pointer - 960, pointer), 961);
  ASSERT_EQ(last.size(), 961u);
  EXPECT_EQ(Sum(last, 960), static_cast<uint8_t>(last[960]));
  EXPECT_NE(last.substr(0, 960), std::string(960, '\xFF'));
}

TEST(SimMemory, PacedBlocksTakeTheirLineTimeAtTheExpressRate) {
  SimProfile p = Profile("VS-330");
  p.paced = true;
  SimHost host(p);
  int64_t t = host.clock.MonotonicMs();
  EXPECT_EQ(host.Ask(ReadCommand(0x20000, 0x201E0), 481).size(), 481u);
  EXPECT_NEAR(static_cast<double>(host.clock.MonotonicMs() - t), 3 + 480 * 10000.0 / 19200, 1.5);
  EXPECT_EQ(host.Ask("!E01"), "!E01\r\n");
  host.SetBaud(115200);
  t = host.clock.MonotonicMs();
  EXPECT_EQ(host.Ask(ReadCommand(0x20000, 0x203C0), 961).size(), 961u);
  EXPECT_NEAR(static_cast<double>(host.clock.MonotonicMs() - t), 3 + 960 * 10000.0 / 115200, 1.5);
}

TEST(SimFaults, BadAndShortBlocksAtTheirRatesAlike) {
  auto run = [](const char* key, const char* value) {
    SimProfile p = Profile("VS-330");
    std::string error;
    EXPECT_TRUE(ApplyProfileSetting(key, value, p, error)) << error;
    SimHost host(p);
    std::vector<int> bad;
    for (int i = 0; i < 300; ++i) {
      const std::string b = host.Ask(ReadCommand(0x20000 + 96 * i, 0x20060 + 96 * i), 97);
      if (b.size() != 97 || Sum(b, 96) != static_cast<uint8_t>(b[96])) bad.push_back(i);
    }
    return bad;
  };
  const auto bad = run("fault.bad_block_rate", "0.05");
  EXPECT_TRUE(bad.size() >= 5 && bad.size() <= 35) << bad.size();
  EXPECT_EQ(run("fault.bad_block_rate", "0.05"), bad) << "the same blocks every run";
  const auto dropped = run("fault.drop_block_rate", "0.05");
  EXPECT_TRUE(dropped.size() >= 5 && dropped.size() <= 35) << dropped.size();
  EXPECT_NE(dropped, bad);
  EXPECT_TRUE(run("fault.bad_block_rate", "0").empty());
}

TEST(SimFaults, LinkLostAfterARateSwitch) {
  SimProfile p = Profile("NMJ-7400");
  std::string error;
  ASSERT_TRUE(ApplyProfileSetting("fault.lost_after_switch", "yes", p, error));
  SimHost host(p);
  EXPECT_EQ(host.Ask("!E01"), "!E01\r\n");
  host.SetBaud(115200);
  EXPECT_EQ(host.Ask("A"), "") << "not at the new rate";
  host.SetBaud(19200);
  EXPECT_EQ(host.Ask("A"), "KLX NMJ-7400 6.10 071342\r\n");
  // Used up: the next switch takes.
  EXPECT_EQ(host.Ask("!E01"), "!E01\r\n");
  host.SetBaud(115200);
  EXPECT_EQ(host.Ask("A"), "KLX NMJ-7400 6.10 071342\r\n");
}

}  // namespace
}  // namespace klx::sim::test
