// The logger's real-time output: records at their samples' own times, binary and text forms.
#include <gtest/gtest.h>

#include <cstdio>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

// A two-channel logger (temperature, pressure) on the old command set.
SimProfile TwoChannels() {
  SimProfile p = Fresh("VS-330");
  p.channels = {{'T', 0}, {'P', 0}};
  return p;
}

// Clock 2026-06-01 12:00:00 at monotonic 0; sampling every 10 s from 12:00:10.
const char* const kDeploy = "J260601120000K000010L260601120010M260602000000";
constexpr size_t kBinaryLength = 2 * 3 + 13;

TEST(SimRealtime, BinaryRecordsAtTheSamplesOwnTimesWithTheStoredReadings) {
  SimProfile bad = TwoChannels();
  std::string error;  // every second record with its sum one off
  ASSERT_TRUE(ApplyProfileSetting("fault.realtime_bad_checksum", "2", bad, error)) << error;
  Deployed d(bad, kDeploy + std::string("!B13P"));
  d.logger.Poll(9999, d.out);
  EXPECT_TRUE(d.out.pieces.empty()) << "nothing before the start";
  d.logger.Poll(35000, d.out);
  ASSERT_EQ(d.out.pieces.size(), 3u);
  const SimExpected e = d.logger.Expected();
  ASSERT_EQ(e.Rows(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const std::string& r = d.out.pieces[i].bytes;
    EXPECT_EQ(d.out.pieces[i].atMs, 10000 + 10000 * static_cast<int64_t>(i)) << i;
    ASSERT_EQ(r.size(), kBinaryLength);
    EXPECT_EQ(r.substr(0, 12), std::string("\0\0\0TIM", 6) +
                                   Bytes({0x26, 0x06, 0x01, 0x12, 0x00, 0x10 * (int(i) + 1)}));
    EXPECT_EQ(Word(r, 12), e.raw[0][i]);
    EXPECT_EQ(Word(r, 15), e.raw[1][i]);
    EXPECT_EQ(static_cast<uint8_t>(r.back()), static_cast<uint8_t>(Sum(r.substr(3), 15) + i % 2));
  }
  // Polled again for the same time: no repeats. A command picks up what is due before its reply.
  d.logger.Poll(35000, d.out);
  EXPECT_EQ(d.out.pieces.size(), 3u);
  d.Say("T", 41000);
  ASSERT_EQ(d.out.pieces.size(), 5u);
  EXPECT_EQ(d.out.pieces[3].atMs, 40000);
  EXPECT_EQ(d.out.pieces[3].bytes.substr(3, 3), "TIM");
  EXPECT_EQ(d.out.pieces[4].bytes, "Logger status 02\r\n");
}

TEST(SimRealtime, EngineeringUnitsAsTextWhenFlaggedAndCapable) {
  SimProfile p = TwoChannels();
  p.capabilities[20] = 1;
  // Mode byte 0x20 (real-time on), start flags bit 2 (engineering units).
  Deployed d(p, kDeploy + std::string("!B13!120040000P"));
  d.logger.Poll(10000, d.out);
  ASSERT_EQ(d.out.pieces.size(), 1u);
  const std::string r = d.out.pieces[0].bytes;
  ASSERT_EQ(r.rfind("TIM 26 6 112 010 ", 0), 0u) << r;
  double values[2];
  char end[8] = {};
  ASSERT_EQ(std::sscanf(r.c_str() + 17, "%lf %lf %7[^\r]", &values[0], &values[1], end), 3) << r;
  EXPECT_TRUE(r.ends_with(" FET\r\n") && std::string(end) == "FET") << r;
  // Calibrated values (the temperature through the thermistor equation), to four decimals.
  const SimExpected e = d.logger.Expected();
  EXPECT_NEAR(values[0], e.values[0][0], 0.00006);
  EXPECT_NEAR(values[1], e.values[1][0], 0.00006);
  p.capabilities[20] = 0;
  Deployed binary(p, kDeploy + std::string("!B13!120040000P"));
  binary.logger.Poll(10000, binary.out);
  EXPECT_EQ(binary.out.pieces.at(0).bytes.size(), kBinaryLength) << "binary without the capability";
}

}  // namespace
}  // namespace klx::sim::test
