// The logger's real-time output: records at their samples' own times, binary and text forms.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace klx::sim::test
