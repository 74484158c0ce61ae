// The simulated GPS receiver: NMEA sentences once a second with valid checksums.
#include "sim/sim_gps.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "sim/sim_transport.h"
#include "sim_host.h"

namespace klx::sim::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  EXPECT_EQ(at, text.size()) << "every sentence ends with CR LF";
  return lines;
}

// The checksum the line carries (two upper-case hex digits) is the XOR of the characters
// between "$" and "*".
bool ChecksumValid(const std::string& line) {
  const size_t star = line.find('*');
  if (line.empty() || line[0] != '$' || star == std::string::npos || star + 3 != line.size())
    return false;
  unsigned sum = 0;
  for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return line.substr(star + 1) == hex;
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
  Pieces out;
  gps.HostOpened(0);
  gps.Poll(3500, out);
  const auto lines = Lines(out.All());
  ASSERT_EQ(lines.size(), 8u);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(ChecksumValid(lines[i])) << lines[i];
    EXPECT_EQ(lines[i].substr(0, 7), i % 2 == 0 ? "$GPGGA," : "$GPRMC,") << lines[i];
  }
  ASSERT_EQ(out.pieces.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out.pieces[i].atMs, 1000 * i) << "each second on time";
  const auto gga = Fields(lines[0]);
  ASSERT_EQ(gga.size(), 16u) << lines[0];
  EXPECT_EQ(std::vector<std::string>(gga.begin() + 1, gga.begin() + 7),
            (std::vector<std::string>{"123456.00", "4807.0380", "N", "01131.0000", "E", "1"}));
  const auto rmc = Fields(lines[7]);
  ASSERT_GE(rmc.size(), 10u);
  EXPECT_EQ(rmc[1] + rmc[2] + rmc[9], "123459.00A010626");
  // The position moves, slowly.
  const double lat0 = std::atof(gga[2].c_str()), lat3 = std::atof(rmc[3].c_str());
  EXPECT_GT(lat3, lat0);
  EXPECT_LT(lat3 - lat0, 0.01);
  // Nothing twice, and nothing ahead of its time.
  gps.Poll(3500, out);
  gps.Poll(3999, out);
  EXPECT_EQ(Lines(out.All()).size(), 8u);
  // Host bytes are ignored, but time moves on.
  gps.Receive(reinterpret_cast<const uint8_t*>("xyz"), 3, 4800, 4000, out);
  EXPECT_EQ(Lines(out.All()).size(), 10u);
}

TEST(SimGps, ModesGllAndRmcOnly) {
  SimGps gll(SimGps::Mode::Gll);
  gll.SetClock(SystemTime{2026, 6, 1, 1, 0, 0, 0, 0}, 0);
  Pieces out;
  gll.Poll(0, out);
  const auto lines = Lines(out.All());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0] + "\r\n", SimGps::Sentence("GPGLL,4807.0380,N,01131.0000,E,000000.00,A"));
  EXPECT_TRUE(ChecksumValid(lines[0]));
  EXPECT_EQ(lines[1].substr(0, 7), "$GPRMC,");

  SimGps rmc(SimGps::Mode::Rmc);
  Pieces only;
  for (int64_t t = 0; t < 300000; t += 700) rmc.Poll(t, only);
  const auto all = Lines(only.All());
  EXPECT_EQ(all.size(), 300u);
  for (const auto& line : all) EXPECT_TRUE(line.starts_with("$GPRMC,") && ChecksumValid(line));
  EXPECT_EQ(SimGps::ModeNamed("gll"), SimGps::Mode::Gll);
  EXPECT_FALSE(SimGps::ModeNamed("GSV"));
}

TEST(SimGps, NothingFromBeforeTheHostAndNoFloodAfterALongGap) {
  SimGps gps;
  gps.SetClock(SystemTime{2026, 6, 1, 1, 0, 0, 0, 0}, 0);
  Pieces out;
  gps.HostOpened(5500);
  gps.Poll(6000, out);
  auto lines = Lines(out.All());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(7, 9), "000006.00");
  out.pieces.clear();
  gps.Poll(3600000, out);  // an hour unread: only the latest seconds
  lines = Lines(out.All());
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
