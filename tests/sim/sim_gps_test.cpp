// The simulated GPS receiver: NMEA sentences once a second with valid checksums.
#include "sim/sim_gps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

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

// The line's checksum (two upper-case hex digits) is the XOR of the characters between $ and *.
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
  EXPECT_EQ(lines[0].substr(0, 44), "$GPGGA,123456.00,4807.0380,N,01131.0000,E,1,");
  EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), 14) << lines[0];
  EXPECT_NE(lines[7].find(",010626,"), std::string::npos) << lines[7];
  // The position moves, slowly.
  const double lat3 = std::atof(lines[7].substr(19, 9).c_str());
  EXPECT_TRUE(lat3 > 4807.038 && lat3 < 4807.048) << lines[7];
  // Nothing twice, and nothing ahead of its time.
  gps.Poll(3999, out);
  EXPECT_EQ(Lines(out.All()).size(), 8u);
  out.pieces.clear();
  gps.Poll(3600000, out);  // an hour unread: only the latest seconds, no flood
  const auto late = Lines(out.All());
  ASSERT_EQ(late.size(), 20u);
  EXPECT_EQ(late.back().substr(7, 9), "133456.00");
  // Nothing from before the host came.
  SimGps opened;
  opened.SetClock(SystemTime{2026, 6, 1, 1, 0, 0, 0, 0}, 0);
  opened.HostOpened(5500);
  opened.Poll(6000, out);
  EXPECT_EQ(Lines(out.All()).size(), 22u);
  EXPECT_EQ(Lines(out.All())[20].substr(7, 9), "000006.00");
}

}  // namespace
}  // namespace klx::sim::test
