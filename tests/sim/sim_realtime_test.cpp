// The logger's real-time output: records at their samples' own times, binary and text forms.
#include <gtest/gtest.h>

#include <sstream>

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

// A logger opened at 0 that was sent `commands`, with what it sent since forgotten.
struct Deployed {
  explicit Deployed(SimProfile p, const std::string& commands, int64_t atMs = 0)
      : logger(std::move(p)) {
    logger.HostOpened(0);
    Say(commands, atMs);
    out.pieces.clear();
  }
  void Say(const std::string& text, int64_t nowMs) {
    logger.Receive(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 19200, nowMs, out);
  }
  SimLogger logger;
  Pieces out;
};

// Reads through the port for the given (virtual) time.
std::string ReadFor(SimHost& host, int64_t ms) {
  const int64_t until = host.clock.MonotonicMs() + ms;
  std::string got;
  while (host.clock.MonotonicMs() < until) got += host.Read();
  return got;
}

TEST(SimRealtime, BinaryRecordsAtTheSamplesOwnTimesWithTheStoredReadings) {
  Deployed d(TwoChannels(), kDeploy + std::string("!B13P"));
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
    for (size_t ch = 0; ch < 2; ++ch) {
      const auto* w = reinterpret_cast<const uint8_t*>(r.data()) + 12 + 3 * ch;
      EXPECT_EQ(static_cast<uint32_t>(w[0] << 16 | w[1] << 8 | w[2]), e.raw[ch][i]) << i << ch;
    }
    EXPECT_EQ(static_cast<uint8_t>(r.back()), static_cast<uint8_t>(Sum(r.substr(3), 15)));
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

TEST(SimRealtime, ReadThroughAPortStoppedByTheHostAndSilentWhileOff) {
  for (const std::string stop : {"!9", "!B00", "!S", ""}) {
    SCOPED_TRACE(stop);
    SimHost host(TwoChannels());
    host.Write(kDeploy + std::string(stop.empty() ? "" : "!B13"));
    EXPECT_EQ(host.Ask("P"), "Logger started in mode 01\r\n");
    const std::string first = ReadFor(host, 25000);  // samples at 10 s and 20 s
    ASSERT_EQ(first.size(), stop.empty() ? 0 : 2 * kBinaryLength);
    if (stop.empty()) {  // output off: nothing, though the logger logs
      EXPECT_EQ(host.Ask("T"), "Logger status 02\r\n");
      EXPECT_GE(host.logger->Memory().RowCount(), 2u);
      continue;
    }
    EXPECT_EQ(first.substr(kBinaryLength + 3, 3), "TIM");
    host.Write(stop);
    ReadFor(host, 1000);  // the reply
    const uint64_t rows = host.logger->Memory().RowCount();
    EXPECT_EQ(ReadFor(host, 60000), "") << "no records after " << stop;
    if (stop == "!B00") {
      EXPECT_GT(host.logger->Memory().RowCount(), rows) << "still logging, silently";
      const int64_t on = host.clock.MonotonicMs();
      host.Write("!B13");  // on again: only what is logged from now on
      const std::string again = ReadFor(host, 10000);
      ASSERT_EQ(again.size(), kBinaryLength);
      const int second = static_cast<int>((on / 10000 + 1) * 10 % 60);
      EXPECT_EQ(static_cast<uint8_t>(again[11]), second / 10 * 16) << "the next sample only";
    }
  }
  // A logger already logging before the host reached it sends nothing of that either.
  SimProfile p = TwoChannels();
  p.status = 2;
  p.clock = "260601115900";
  p.start = "260601115000";
  p.end = "260602000000";
  p.period = "000010";
  Deployed d(p, "!B13", 30000);
  EXPECT_EQ(d.logger.Memory().RowCount(), 58u) << "11:50:00 to 11:59:30";
  d.logger.Poll(40000, d.out);
  ASSERT_EQ(d.out.pieces.size(), 1u) << "only the sample at 11:59:40";
  EXPECT_EQ(d.out.pieces[0].bytes.substr(6, 6), Bytes({0x26, 0x06, 0x01, 0x11, 0x59, 0x40}));
}

TEST(SimRealtime, EngineeringUnitsAsTextWhenFlaggedAndCapable) {
  for (const uint32_t level : {0u, 1u}) {
    SimProfile p = TwoChannels();
    p.capabilities[20] = level;
    // Mode byte 0x20 (real-time on), start flags bit 2 (engineering units).
    Deployed d(p, kDeploy + std::string("!B13!120040000P"));
    d.logger.Poll(10000, d.out);
    ASSERT_EQ(d.out.pieces.size(), 1u);
    const std::string r = d.out.pieces[0].bytes;
    if (level == 0) {
      EXPECT_EQ(r.size(), kBinaryLength) << "binary without the capability";
      continue;
    }
    ASSERT_EQ(r.rfind("TIM 26 6 112 010 ", 0), 0u) << r;
    ASSERT_TRUE(r.ends_with(" FET\r\n")) << r;
    std::istringstream fields(r.substr(17, r.size() - 23));
    std::vector<double> values;
    for (double v = 0; fields >> v;) values.push_back(v);
    EXPECT_TRUE(fields.eof()) << r;
    ASSERT_EQ(values.size(), 2u) << r;
    // Calibrated values (the temperature through the thermistor equation), to four decimals.
    const SimExpected e = d.logger.Expected();
    EXPECT_NEAR(values[0], e.values[0][0], 0.00006);
    EXPECT_NEAR(values[1], e.values[1][0], 0.00006);
    EXPECT_TRUE(values[0] > -5.0 && values[0] < 40.0) << values[0];
  }
}

TEST(SimRealtime, SixRecordsASecondUnderProfilingAndTheBadChecksumFault) {
  // Threshold block with the profiling bit.
  Deployed six(TwoChannels(), kDeploy + std::string("!A4000000000000000!B13P"));
  six.logger.Poll(11999, six.out);
  ASSERT_EQ(six.out.pieces.size(), 12u);
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(six.out.pieces[i].atMs, 10000 + static_cast<int64_t>(i / 6 * 1000 + i % 6 * 167));
    EXPECT_EQ(static_cast<uint8_t>(six.out.pieces[i].bytes[11]), i < 6 ? 0x10 : 0x11);
  }

  SimProfile p = TwoChannels();
  std::string error;
  ASSERT_TRUE(ApplyProfileSetting("fault.realtime_bad_checksum", "2", p, error)) << error;
  EXPECT_FALSE(ApplyProfileSetting("fault.realtime_bad_checksum", "x", p, error));
  Deployed d(p, kDeploy + std::string("!B13P"));
  d.logger.Poll(40000, d.out);
  ASSERT_EQ(d.out.pieces.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const std::string& r = d.out.pieces[i].bytes;
    const uint8_t good = Sum(r.substr(3), 15);
    EXPECT_EQ(static_cast<uint8_t>(r.back()), static_cast<uint8_t>(i % 2 == 1 ? good + 1 : good))
        << i;
  }
}

}  // namespace
}  // namespace klx::sim::test
