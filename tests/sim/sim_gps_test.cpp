// The simulated GPS receiver: NMEA sentences once a second with valid checksums.
#include "sim/sim_gps.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/clock.h"
#include "sim/sim_transport.h"

namespace klx::sim::test {
namespace {

struct Capture final : klx::LineOutput {
  void Send(const uint8_t* data, size_t count, int64_t atMs, double) override {
    text.append(reinterpret_cast<const char*>(data), count);
    times.push_back(atMs);
  }
  void DiscardPending() override { text.clear(); }
  std::string text;
  std::vector<int64_t> times;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  EXPECT_EQ(at, text.size()) << "every sentence ends with CR LF";
  return lines;
}

// The checksum the line carries agrees with the XOR of the characters between "$" and "*".
bool ChecksumValid(const std::string& line) {
  const size_t star = line.find('*');
  if (line.empty() || line[0] != '$' || star == std::string::npos || star + 3 != line.size())
    return false;
  unsigned sum = 0;
  for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
  return std::strtoul(line.substr(star + 1).c_str(), nullptr, 16) == sum &&
         line.substr(star + 1) ==
             std::string(1, "0123456789ABCDEF"[sum >> 4]) + "0123456789ABCDEF"[sum & 15];
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  size_t at = 0;
  for (size_t c; (c = line.find_first_of(",*", at)) != std::string::npos; at = c + 1)
    f.push_back(line.substr(at, c - at));
  f.push_back(line.substr(at));
  return f;
}

TEST(SimGps, SentencesEverySecondWithValidChecksums) {
  SimGps gps;  // GGA and RMC
  gps.SetClock(SystemTime{2026, 6, 1, 1, 12, 34, 56, 0}, 0);
  Capture out;
  gps.HostOpened(0);
  gps.Poll(3500, out);
  const auto lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 8u);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(ChecksumValid(lines[i])) << lines[i];
    EXPECT_EQ(lines[i].substr(0, 7), i % 2 == 0 ? "$GPGGA," : "$GPRMC,") << lines[i];
  }
  EXPECT_EQ(out.times, (std::vector<int64_t>{0, 1000, 2000, 3000})) << "each second on the second";
  const auto gga = Fields(lines[0]);
  ASSERT_EQ(gga.size(), 16u) << lines[0];
  EXPECT_EQ(gga[1], "123456.00");
  EXPECT_EQ(gga[2], "4807.0380");
  EXPECT_EQ(gga[3], "N");
  EXPECT_EQ(gga[4], "01131.0000");
  EXPECT_EQ(gga[5], "E");
  EXPECT_EQ(gga[6], "1");
  const auto rmc = Fields(lines[7]);
  ASSERT_GE(rmc.size(), 10u);
  EXPECT_EQ(rmc[1], "123459.00");
  EXPECT_EQ(rmc[2], "A");
  EXPECT_EQ(rmc[9], "010626");
  // The position moves, slowly.
  const double lat0 = std::atof(gga[2].c_str()), lat3 = std::atof(rmc[3].c_str());
  EXPECT_GT(lat3, lat0);
  EXPECT_LT(lat3 - lat0, 0.01);
  // Nothing twice, and nothing ahead of its time.
  gps.Poll(3500, out);
  gps.Poll(3999, out);
  EXPECT_EQ(Lines(out.text).size(), 8u);
  // Host bytes are ignored, but time moves on.
  gps.Receive(reinterpret_cast<const uint8_t*>("xyz"), 3, 4800, 4000, out);
  EXPECT_EQ(Lines(out.text).size(), 10u);
}

TEST(SimGps, ModesGllAndRmcOnly) {
  SimGps gll(SimGps::Mode::Gll);
  gll.SetClock(SystemTime{2026, 6, 1, 1, 0, 0, 0, 0}, 0);
  Capture out;
  gll.Poll(0, out);
  const auto lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0] + "\r\n", SimGps::Sentence("GPGLL,4807.0380,N,01131.0000,E,000000.00,A"));
  EXPECT_TRUE(ChecksumValid(lines[0]));
  EXPECT_EQ(lines[1].substr(0, 7), "$GPRMC,");

  SimGps rmc(SimGps::Mode::Rmc);
  Capture only;
  for (int64_t t = 0; t < 300000; t += 700) rmc.Poll(t, only);
  const auto all = Lines(only.text);
  EXPECT_EQ(all.size(), 300u);
  for (const auto& line : all) {
    EXPECT_EQ(line.find("GGA"), std::string::npos);
    EXPECT_EQ(line.find("GLL"), std::string::npos);
    EXPECT_TRUE(ChecksumValid(line)) << line;
  }
  EXPECT_EQ(SimGps::ModeNamed("gll"), SimGps::Mode::Gll);
  EXPECT_FALSE(SimGps::ModeNamed("GSV"));
}

TEST(SimGps, NothingFromBeforeTheHostAndNoFloodAfterALongGap) {
  SimGps gps;
  gps.SetClock(SystemTime{2026, 6, 1, 1, 0, 0, 0, 0}, 0);
  Capture out;
  gps.HostOpened(5500);
  gps.Poll(6000, out);
  auto lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(7, 9), "000006.00");
  out.text.clear();
  gps.Poll(3600000, out);  // an hour unread: only the latest seconds
  lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines.back().substr(7, 9), "010000.00");
}

TEST(SimGps, OpenedThroughTheSimTransport) {
  VirtualClock clock;
  SimLoggers sims(clock);
  EXPECT_EQ(sims.Gps("GPS-GLL"), sims.Gps("GPS-GLL")) << "one receiver per name";
  EXPECT_EQ(sims.Gps("GPS-RMC")->SentenceMode(), SimGps::Mode::Rmc);
  EXPECT_EQ(sims.Gps("GPS")->SentenceMode(), SimGps::Mode::Gga);
  EXPECT_EQ(sims.Gps("VS-330"), nullptr);
  auto port = sims.MakePort("GPS-GLL");
  ASSERT_TRUE(port->Open());
  CommTimeouts t;
  t.readTotalTimeoutConstant = 1500;
  port->SetTimeouts(t);
  std::string got(400, '\0');
  const int n = port->Read(reinterpret_cast<uint8_t*>(got.data()), 400);
  got.resize(static_cast<size_t>(std::max(n, 0)));
  EXPECT_NE(got.find("$GPGLL,"), std::string::npos) << got;
  EXPECT_NE(got.find("$GPRMC,"), std::string::npos) << got;
  // A logger name still opens a logger.
  EXPECT_TRUE(sims.MakePort("VS-330")->Open());
}

}  // namespace
}  // namespace klx::sim::test
