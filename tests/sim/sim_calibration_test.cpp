// The simulated logger's calibration memory: what each generation stores when a host writes a
// calibration, what it answers to the reads and walks a host makes afterwards, and the faults
// it shows on request.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

using Row = std::array<double, 4>;

std::string Raw(const Row& c) {
  return std::string(reinterpret_cast<const char*>(c.data()), 32);
}

Row RowOf(const std::string& bytes, size_t at = 0) {
  Row c{};
  std::memcpy(c.data(), bytes.data() + at, 32);
  return c;
}

std::string HexOf(const std::string& bytes) {
  std::string s;
  char b[3];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X", c);
    s += b;
  }
  return s;
}

// Twelve digits yymmddhhmmss from six BCD bytes.
std::string BcdDigits(const std::string& bcd) {
  std::string s;
  for (unsigned char c : bcd) {
    s += static_cast<char>('0' + (c >> 4));
    s += static_cast<char>('0' + (c & 15));
  }
  return s;
}

// "I" + end + start, four bytes each, low first: `count` bytes at `address` (below 0x20000).
std::string ReadAt(SimHost& host, uint32_t address, uint32_t count, int expect) {
  char cmd[32];
  const uint32_t end = address + count;
  std::snprintf(cmd, sizeof cmd, "I%02X%02X%02X%02X%02X%02X%02X%02X", end & 255, end >> 8 & 255,
                end >> 16 & 255, end >> 24, address & 255, address >> 8 & 255, address >> 16 & 255,
                address >> 24);
  return host.Ask(cmd, expect);
}

// The records of an older logger's calibration memory from 0x10000 on: six BCD date bytes, then
// per channel c0..c3 and (multi-channel loggers) one byte of the logger's own. Each record is
// read whole, with its sum where the logger sends one (a single-channel logger sends one byte
// more, the next record's first, before the sum); `end` gets the offset after the last.
std::vector<SimCalibration> Walk(SimHost& host, size_t channels, size_t block, bool sums = true,
                                 size_t* end = nullptr) {
  std::vector<SimCalibration> records;
  const size_t size = 6 + block * channels;
  const size_t sent = size + (block == 32 ? 1 : 0);
  size_t offset = 0;
  for (; offset + size <= 0x10000; offset += size) {
    const std::string r = ReadAt(host, 0x10000 + static_cast<uint32_t>(offset),
                                 static_cast<uint32_t>(size), static_cast<int>(sent + sums));
    EXPECT_EQ(r.size(), sent + sums);
    if (r.size() < size || r[0] == '\xFF') break;
    if (sums) {
      EXPECT_EQ(static_cast<uint8_t>(r.back()), Sum(r, sent));
    }
    records.push_back({BcdDigits(r.substr(0, 6)), true, {}});
    for (size_t ch = 0; ch < channels; ++ch)
      records.back().coef.push_back(RowOf(r, 6 + block * ch));
  }
  if (end) *end = offset;
  return records;
}

void ExpectSame(const std::vector<SimCalibration>& a, const std::vector<SimCalibration>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i)
    EXPECT_EQ(std::tie(a[i].date, a[i].coef), std::tie(b[i].date, b[i].coef)) << i;
}

const Row kTemp{0.0035, -0.00025, 2.7e-06, 2.3e-08};

std::string Cmd(const char* format, size_t a, size_t b = 0) {
  char c[24];
  std::snprintf(c, sizeof c, format, static_cast<unsigned>(a), static_cast<unsigned>(b));
  return c;
}

TEST(SimCalibration, LinearMemoryWriteAddsANewestRecordAndTheHistoryListsAll) {
  SimHost host(Profile("NMK-7400-CT"));
  const auto before = host.logger->Calibrations();
  host.Write("J260615120000");  // the PC's time, for the record's date
  const std::vector<Row> rows = {kTemp, {0.01, 75.5, 0.5, 0}, {-10.0, 1011.0, 0.25, 1e-9}};
  EXPECT_EQ(WriteTable(host, "U0000", "A"), "\x06\x06");
  for (size_t n = 1; n <= 3; ++n)
    EXPECT_EQ(WriteTable(host, Cmd("U%02X00", n), Raw(rows[n - 1]) + '\0'), "\x06\x06\x06\x06");
  EXPECT_EQ(host.logger->Calibrations().size(), before.size()) << "nothing stored before Z";
  EXPECT_EQ(WriteTable(host, "U0000", "Z"), "\x06\x06");

  // The history as a host lists it: record k's marker and date, then its channels.
  std::vector<std::string> markers;
  for (size_t k = 0; k < 10; ++k) {
    const std::string data = host.ReadTable(Cmd("V%02X%02X00", k & 255, k >> 8));
    if (data.empty()) break;
    ASSERT_EQ(data.size(), 16u);
    EXPECT_EQ(Sum(data, 16), 0xA5);
    markers.push_back(data.substr(0, 15));
  }
  ASSERT_EQ(markers.size(), 5u);
  EXPECT_EQ(markers[0].substr(0, 13), "CAL2606151200") << "dated a moment after the setting";
  EXPECT_EQ(markers[1], "CAL260402110000") << "the one that was current";
  EXPECT_EQ(markers[3].substr(0, 3), "CMM") << "the profile's unfinished one";
  for (size_t n = 1; n <= 3; ++n)
    EXPECT_EQ(RowOf(host.ReadTable(Cmd("V0000%02X", n))), rows[n - 1]);
  EXPECT_EQ(RowOf(host.ReadTable("V010003")), (Row{-10.13, 1010.2, 0.3, 0}));
  EXPECT_EQ(host.ReadTable("V000004"), "") << "no fourth channel";
  const auto after = host.logger->Calibrations();
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(after.back().coef, rows);
  EXPECT_FALSE(after[1].complete);
}

TEST(SimCalibration, LinearMemoryRefusalsPutTheirCodeBeforeTheNakAndStoreNothing) {
  const std::string channel = Raw({1, 2, 3, 4}) + '\0';
  using Writes = std::vector<std::pair<std::string, std::string>>;  // command, data
  // Setup: 1 and 2 refuse on request (F1, F2), 3 leaves a configuration table without channels.
  const std::vector<std::tuple<int, Writes, char>> cases = {
      {1, {{"U0000", "A"}}, '1'},
      {2, {{"U0000", "A"}}, '2'},
      {3, {{"U0000", "A"}}, '2'},
      {0, {{"U0000", "Z"}}, '0'},
      {0, {{"U0100", channel}}, '0'},
      {0, {{"U0000", "A"}, {"U0400", channel}}, '0'},                // a channel it lacks
      {0, {{"U0000", "A"}, {"U0100", channel.substr(0, 32)}}, '0'},  // no zero byte
  };
  for (const auto& [setup, writes, code] : cases) {
    SimHost host(Profile("NMK-7400-CT"));
    if (setup == 1 || setup == 2) host.logger->RefuseNextCalibrations(setup, setup == 1 ? 1 : -1);
    if (setup == 3) WriteTable(host, "S0100", Bytes({0, 30, 0, 2, 0}));
    const auto before = host.logger->Calibrations();
    std::string reply;
    for (const auto& [command, data] : writes) reply = WriteTable(host, command, data);
    const std::string refusal = std::string("ERROR F") + code + "\x15";
    ASSERT_GE(reply.size(), refusal.size()) << writes.back().first;
    EXPECT_EQ(reply.substr(reply.size() - refusal.size()), refusal) << writes.back().first;
    EXPECT_EQ(reply.find_first_not_of('\x06'), reply.size() - refusal.size());
    EXPECT_EQ(WriteTable(host, "U0000", "Z").substr(1), "ERROR F0\x15") << "the procedure is over";
    ExpectSame(host.logger->Calibrations(), before);
  }
  // A list with room for one more: the first write fits, the second meets F1.
  SimProfile p = Profile("NMK-7400-CT");
  p.calRoom = 1;
  SimHost host(p);
  for (const char* reply : {"\x06\x06",
                            "\x06"
                            "ERROR F1\x15"}) {
    EXPECT_EQ(WriteTable(host, "U0000", "A"), reply);
    WriteTable(host, "U0000", "Z");
  }
  EXPECT_EQ(host.logger->Calibrations().size(), 5u);
}

TEST(SimCalibration, MultiChannelRecordIsAppendedAtTheOldEndAndFoundByTheWalk) {
  SimHost host(Profile("VS-330-cal-history"));
  size_t end = 0;
  const auto walked = Walk(host, 3, 33, true, &end);
  ASSERT_EQ(walked.size(), 5u);
  EXPECT_EQ(end, 5u * 105);
  EXPECT_EQ(walked.back().date, "260305141500");
  EXPECT_EQ(walked.back().coef[1], (Row{-10.2, 1012.5, 0, 0}));
  ExpectSame(host.logger->Calibrations(), walked);

  // The clock set to the PC's time and read back for the header, then one "!C" per channel.
  host.Write("J260620083000");
  const std::string clock = host.Ask("B").substr(0, 12);
  host.Write(Cmd("!C%02X%02X06", end & 255, end >> 8) + clock);
  const std::vector<Row> rows = {kTemp, {-10.0, 1010.0, 0.5, 0}, {0.1, 71000, 90, 0}};
  for (size_t ch = 0; ch < 3; ++ch) {
    const size_t at = end + 6 + 33 * ch;
    host.Write(Cmd("!C%02X%02X20", at & 255, at >> 8) + HexOf(Raw(rows[ch])));
  }
  EXPECT_EQ(host.Read(), "") << "no reply to any of them";
  const auto again = Walk(host, 3, 33);
  ASSERT_EQ(again.size(), 6u);
  EXPECT_EQ(std::tie(again.back().date, again.back().coef), std::tie(clock, rows));
  ExpectSame(host.logger->Calibrations(), again);

  // A full memory: the record after the last would pass offset 65024 and is not kept.
  SimHost full(Profile("VS-330-cal-full"));
  Walk(full, 3, 33, true, &end);
  EXPECT_EQ(full.logger->CalibrationRoom(), 0u);
  EXPECT_TRUE(end <= 65024 && end + 105 > 65024) << end;
  full.Write(Cmd("!C%02X%02X06", end & 255, end >> 8) + "260620083000");
  EXPECT_EQ(full.logger->Calibrations().size(), end / 105);
}

TEST(SimCalibration, SingleChannelYMakesTheCoefficientsCurrentAndAppendsARecord) {
  SimHost host(Profile("NB-7100-cal-history"));
  EXPECT_EQ(host.Ask("Z"), Raw({-10.3, 1005.5, 0.2, 0}) + "CAL\r\n");
  const auto before = Walk(host, 1, 32);
  ASSERT_EQ(before.size(), 3u);
  EXPECT_EQ(before.back().date, "260210090000");
  host.Write("J260701101500");
  const Row written{-10.0, 1002.0, 0.1, 0};
  EXPECT_EQ(host.Ask("Y" + Raw(written)), "") << "no reply";
  EXPECT_EQ(host.Ask("Z"), Raw(written) + "CAL\r\n");
  const auto after = Walk(host, 1, 32);
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after.back().date.substr(0, 10), "2607011015");
  EXPECT_EQ(after.back().coef[0], written);
  ExpectSame(host.logger->Calibrations(), after);
}

TEST(SimCalibration, ClockSetsAreKeptAndASilentClockReadAnswersNothing) {
  SimProfile p = Fresh("VS-330");
  p.clock = "260601120000";
  SimHost host(p);
  EXPECT_EQ(host.Ask("B"), "260601120000CTD\r\n");
  host.clock.Advance(90000);
  host.Write("J260615080000");
  host.clock.Advance(2000);
  host.Write("J260601120135");  // back to its own time plus what went by
  ASSERT_EQ(host.logger->ClockSets().size(), 2u);
  const SimClockSet& set = host.logger->ClockSets()[0];
  EXPECT_EQ(std::tie(set.from, set.to), std::make_tuple("260601120130", "260615080000"));
  EXPECT_EQ(host.logger->ClockSets()[1].from, "260615080002");
  EXPECT_EQ(host.Ask("B"), "260601120135CTD\r\n");
  host.logger->NeverAnswer("B");
  EXPECT_EQ(host.Ask("B"), "");
  EXPECT_EQ(host.Ask("T"), "Logger status 00\r\n");
}

}  // namespace
}  // namespace klx::sim::test
