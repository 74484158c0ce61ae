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

// A table write as a host makes it: header with the length, data and check byte in 16-byte
// chunks; every reply the logger gave.
std::string SendTable(SimHost& host, const std::string& command, std::string data) {
  data += static_cast<char>(0xA5 - Sum(data, data.size()));
  char h[8];
  std::snprintf(h, sizeof h, "%02X", static_cast<unsigned>(data.size()));
  std::string reply = host.Ask(command + h, 80);
  for (size_t i = 0; i < data.size(); i += 16) reply += host.Ask(data.substr(i, 16), 80);
  return reply;
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

// The record walk of a multi-channel logger's calibration memory from offset 0: header (6
// bytes), one 33-byte block per channel (each followed by its sum), a 3-byte probe for the next
// header. Returns the records found; `end` gets the offset after the last one.
std::vector<SimCalibration> Walk(SimHost& host, size_t channels, size_t* end = nullptr) {
  std::vector<SimCalibration> records;
  uint32_t offset = 0;
  for (;;) {
    const std::string header = ReadAt(host, 0x10000 + offset, 6, 7);
    EXPECT_EQ(header.size(), 7u);
    if (header.size() != 7 || header[0] == '\xFF') break;
    EXPECT_EQ(static_cast<uint8_t>(header[6]), Sum(header, 6));
    SimCalibration r;
    r.date = BcdDigits(header.substr(0, 6));
    offset += 6;
    for (size_t ch = 0; ch < channels; ++ch, offset += 33) {
      const std::string block = ReadAt(host, 0x10000 + offset, 33, 34);
      EXPECT_EQ(block.size(), 34u);
      if (block.size() != 34) return records;
      EXPECT_EQ(static_cast<uint8_t>(block[33]), Sum(block, 33));
      EXPECT_EQ(block[32], '\0') << "the logger's own byte";
      r.coef.push_back(RowOf(block));
    }
    records.push_back(r);
    const std::string probe = ReadAt(host, 0x10000 + offset, 3, 4);
    if (probe.empty() || probe[0] == '\xFF') break;
  }
  if (end) *end = offset;
  return records;
}

// The records a single-channel logger keeps from 0x10000 on, 38 bytes each, walked as a host
// lists its history (with the sum where the logger sends one).
std::vector<SimCalibration> WalkSingle(SimHost& host, bool sums) {
  std::vector<SimCalibration> records;
  for (uint32_t a = 0x10000; a + 38 <= 0x20000; a += 38) {
    const std::string r = ReadAt(host, a, 38, sums ? 39 : 38);
    EXPECT_EQ(r.size(), sums ? 39u : 38u);
    if (r.size() < 38 || r[0] == '\xFF') break;
    if (sums) {
      EXPECT_EQ(static_cast<uint8_t>(r[38]), Sum(r, 38));
    }
    records.push_back({BcdDigits(r.substr(0, 6)), true, {RowOf(r, 6)}});
  }
  return records;
}

void ExpectSame(const std::vector<SimCalibration>& a, const std::vector<SimCalibration>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].date, b[i].date) << i;
    EXPECT_EQ(a[i].coef, b[i].coef) << i;
  }
}

const Row kTemp{0.0035, -0.00025, 2.7e-06, 2.3e-08};

TEST(SimCalibration, LinearMemoryWriteStoresANewRecordDatedByTheLoggerClock) {
  SimHost host(Profile("NMK-7400-CT"));
  const auto before = host.logger->Calibrations();
  ASSERT_EQ(before.size(), 4u);
  EXPECT_EQ(before.back().date, "260402110000");
  EXPECT_EQ(before.back().coef[2], (Row{-10.13, 1010.2, 0.3, 0}));

  // The clock set to the PC's time, then the procedure: start, three channels, end.
  host.Write("J260615120000");
  const std::vector<Row> rows = {kTemp, {0.01, 75.5, 0.5, 0}, {-10.0, 1011.0, 0.25, 1e-9}};
  EXPECT_EQ(SendTable(host, "U0000", "A"), "\x06\x06");
  for (size_t n = 1; n <= 3; ++n) {
    char cmd[16];
    std::snprintf(cmd, sizeof cmd, "U%02X00", static_cast<unsigned>(n));
    EXPECT_EQ(SendTable(host, cmd, Raw(rows[n - 1]) + '\0'), "\x06\x06\x06\x06") << n;
  }
  EXPECT_EQ(host.logger->Calibrations().size(), 4u) << "nothing stored before the end";
  EXPECT_EQ(SendTable(host, "U0000", "Z"), "\x06\x06");

  // Record 0 is the new one, record 1 the one that was current.
  // Dated when the end arrived, a moment after the clock was set.
  EXPECT_EQ(host.ReadTable("V000000").substr(0, 13), "CAL2606151200");
  for (size_t n = 1; n <= 3; ++n) {
    char cmd[16];
    std::snprintf(cmd, sizeof cmd, "V0000%02X", static_cast<unsigned>(n));
    const std::string data = host.ReadTable(cmd);
    ASSERT_EQ(data.size(), 33u);
    EXPECT_EQ(Sum(data, 33), 0xA5);
    EXPECT_EQ(RowOf(data), rows[n - 1]) << n;
  }
  EXPECT_EQ(host.ReadTable("V010000").substr(0, 15), "CAL260402110000");
  const auto after = host.logger->Calibrations();
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(after.back().coef, rows);
  EXPECT_EQ(after[3].coef, before.back().coef);

  // A procedure that sends one channel keeps the others; one left open stores nothing.
  EXPECT_EQ(SendTable(host, "U0000", "A"), "\x06\x06");
  EXPECT_EQ(SendTable(host, "U0200", Raw({1, 2, 3, 4}) + '\0'), "\x06\x06\x06\x06");
  EXPECT_EQ(SendTable(host, "U0000", "A"), "\x06\x06");
  EXPECT_EQ(SendTable(host, "U0300", Raw({5, 6, 7, 8}) + '\0'), "\x06\x06\x06\x06");
  EXPECT_EQ(SendTable(host, "U0000", "Z"), "\x06\x06");
  const auto last = host.logger->Calibrations();
  ASSERT_EQ(last.size(), 6u);
  EXPECT_EQ(last.back().coef, (std::vector<Row>{rows[0], rows[1], {5, 6, 7, 8}}));
}

TEST(SimCalibration, LinearMemoryRefusalsPutTheirCodeBeforeTheNak) {
  struct Case {
    const char* name;
    std::function<void(SimHost&)> setup;
    std::vector<std::pair<std::string, std::string>> writes;  // command, data
    std::string lastReply;
  };
  const std::string channel = Raw({1, 2, 3, 4}) + '\0';
  const std::vector<Case> cases = {
      {"no more memory",
       [](SimHost& h) { h.logger->RefuseNextCalibrations(1, 1); },
       {{"U0000", "A"}},
       "\x06"
       "ERROR F1\x15"},
      {"no configuration table",
       [](SimHost& h) { h.logger->RefuseNextCalibrations(2, 1); },
       {{"U0000", "A"}},
       "\x06"
       "ERROR F2\x15"},
      {"a configuration table without channels",
       [](SimHost& h) {
         SendTable(h, "S0100", Bytes({0, 30, 0, 2, 0}));
       },
       {{"U0000", "A"}},
       "\x06"
       "ERROR F2\x15"},
      {"end without start",
       [](SimHost&) {},
       {{"U0000", "Z"}},
       "\x06"
       "ERROR F0\x15"},
      {"channel without start",
       [](SimHost&) {},
       {{"U0100", channel}},
       "\x06\x06\x06"
       "ERROR F0\x15"},
      {"a channel the logger lacks",
       [](SimHost&) {},
       {{"U0000", "A"}, {"U0400", channel}},
       "\x06\x06\x06"
       "ERROR F0\x15"},
      {"32 bytes without the zero byte",
       [](SimHost&) {},
       {{"U0000", "A"}, {"U0100", channel.substr(0, 32)}},
       "\x06\x06\x06"
       "ERROR F0\x15"},
  };
  for (const auto& c : cases) {
    SimHost host(Profile("NMK-7400-CT"));
    c.setup(host);
    const auto before = host.logger->Calibrations();
    std::string reply;
    for (const auto& [command, data] : c.writes) reply = SendTable(host, command, data);
    EXPECT_EQ(reply, c.lastReply) << c.name;
    EXPECT_EQ(SendTable(host, "U0000", "Z").substr(1), "ERROR F0\x15") << c.name;
    ExpectSame(host.logger->Calibrations(), before);
  }

  // A fault used up lets the next procedure through; -1 refuses every one.
  SimHost host(Profile("NMK-7400-CT"));
  host.logger->RefuseNextCalibrations(1, 1);
  EXPECT_EQ(SendTable(host, "U0000", "A"),
            "\x06"
            "ERROR F1\x15");
  EXPECT_EQ(SendTable(host, "U0000", "A"), "\x06\x06");
  host.logger->RefuseNextCalibrations(2, -1);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(SendTable(host, "U0000", "A"),
              "\x06"
              "ERROR F2\x15");

  // A list with room for one more: the first write fits, the second meets F1.
  SimProfile p = Profile("NMK-7400-CT");
  p.calRoom = 1;
  SimHost nearlyFull(p);
  EXPECT_EQ(nearlyFull.logger->CalibrationRoom(), 1u);
  for (const char* end : {"\x06\x06",
                          "\x06"
                          "ERROR F1\x15"}) {
    const std::string start = SendTable(nearlyFull, "U0000", "A");
    if (start == "\x06\x06") SendTable(nearlyFull, "U0000", "Z");
    EXPECT_EQ(start, end);
  }
  EXPECT_EQ(nearlyFull.logger->CalibrationRoom(), 0u);
  EXPECT_EQ(nearlyFull.logger->Calibrations().size(), 5u);
}

TEST(SimCalibration, LinearMemoryHistoryListsEveryRecordNewestFirst) {
  SimHost host(Profile("NMK-7400-CT"));
  std::vector<std::string> markers;
  for (int k = 0;; ++k) {
    char cmd[16];
    std::snprintf(cmd, sizeof cmd, "V%02X%02X00", k & 255, k >> 8);
    std::string header;
    const std::string data = host.ReadTable(cmd, &header);
    if (data.empty()) {
      EXPECT_EQ(header, std::string(cmd) + "00") << "a record it lacks has length 0";
      break;
    }
    ASSERT_EQ(data.size(), 16u);
    EXPECT_EQ(Sum(data, 16), 0xA5);
    markers.push_back(data.substr(0, 15));
  }
  ASSERT_EQ(markers.size(), 4u);
  EXPECT_EQ(markers[0], "CAL260402110000");
  EXPECT_EQ(markers[2].substr(0, 3), "CMM") << "the unfinished calibration";
  for (size_t k = 1; k < markers.size(); ++k)
    EXPECT_LT(markers[k].substr(3), markers[k - 1].substr(3)) << "older going down";
  // The channels of every record, the current one as the profile gives it.
  EXPECT_EQ(RowOf(host.ReadTable("V000002")), (Row{-0.05, 74.8, 0.6, 0}));
  EXPECT_NE(RowOf(host.ReadTable("V010002")), (Row{-0.05, 74.8, 0.6, 0}));
  EXPECT_EQ(host.ReadTable("V000004"), "") << "no fourth channel";
  const auto list = host.logger->Calibrations();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_FALSE(list[1].complete);
  EXPECT_EQ(list[0].coef[1], RowOf(host.ReadTable("V030002")));
}

TEST(SimCalibration, ConductivityCorrectionTableIsKeptAsWritten) {
  SimHost host(Profile("NMK-7400-CT"));
  const std::string initial = host.ReadTable("R0600");
  ASSERT_EQ(initial.size(), 34u);
  EXPECT_EQ(initial[0], '\x02');
  EXPECT_EQ(RowOf(initial, 1), (Row{0.0191, 0.00021, 20, -1.2e-7}));
  EXPECT_EQ(Sum(initial, 34), 0xA5);

  const Row correction{0.0185, 0.0002, 25, 1e-7};
  const std::string block = "\x02" + Raw(correction);
  EXPECT_EQ(SendTable(host, "S0600", block), "\x06\x06\x06\x06");
  EXPECT_EQ(host.ReadTable("R0600").substr(0, 33), block);
  EXPECT_EQ(host.logger->ConductivityCorrection(), correction);
  // The micro-salinometer's standardization block shares the table; it is no correction.
  const std::string standard = "\x01" + Raw({2.5, 2.4, 0.99986, 0}).substr(0, 24) + "P163    ";
  EXPECT_EQ(SendTable(host, "S0600", standard), "\x06\x06\x06\x06");
  EXPECT_EQ(host.ReadTable("R0600").substr(0, 33), standard);
  EXPECT_EQ(host.logger->ConductivityCorrection(), std::nullopt);
  // A logger without a correction reports no table.
  SimHost plain(Profile("NMJ-7400"));
  std::string header;
  EXPECT_EQ(plain.ReadTable("R0600", &header), "");
  EXPECT_EQ(header, "R060000");
}

TEST(SimCalibration, MultiChannelRecordIsAppendedAtTheOldEndAndFoundByTheWalk) {
  SimHost host(Profile("VS-330-cal-history"));
  size_t end = 0;
  const auto walked = Walk(host, 3, &end);
  ASSERT_EQ(walked.size(), 5u);
  EXPECT_EQ(end, 5u * (6 + 3 * 33));
  EXPECT_EQ(walked.back().date, "260305141500");
  EXPECT_EQ(walked.back().coef[1], (Row{-10.2, 1012.5, 0, 0}));
  for (size_t i = 1; i < walked.size(); ++i) EXPECT_LT(walked[i - 1].date, walked[i].date);
  ExpectSame(host.logger->Calibrations(), walked);

  // The host's append: the clock set to the PC's time and read back for the header, then the
  // channels, each "!C" with the offset and the length.
  host.Write("J260620083000");
  const std::string clock = host.Ask("B");
  ASSERT_EQ(clock.substr(12), "CTD\r\n");
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "!C%02X%02X06", static_cast<unsigned>(end & 255),
                static_cast<unsigned>(end >> 8));
  host.Write(cmd + clock.substr(0, 12));
  const std::vector<Row> rows = {kTemp, {-10.0, 1010.0, 0.5, 0}, {0.1, 71000, 90, 0}};
  for (size_t ch = 0; ch < 3; ++ch) {
    const size_t at = end + 6 + 33 * ch;
    std::snprintf(cmd, sizeof cmd, "!C%02X%02X20", static_cast<unsigned>(at & 255),
                  static_cast<unsigned>(at >> 8));
    host.Write(cmd + HexOf(Raw(rows[ch])));
  }
  EXPECT_EQ(host.Read(), "") << "no reply to any of them";
  size_t newEnd = 0;
  const auto again = Walk(host, 3, &newEnd);
  ASSERT_EQ(again.size(), 6u);
  EXPECT_EQ(newEnd, end + 105);
  EXPECT_EQ(again.back().date, clock.substr(0, 12));
  EXPECT_EQ(again.back().coef, rows);
  ExpectSame(host.logger->Calibrations(), again);
}

TEST(SimCalibration, MultiChannelMemoryEndsAtTheUsableLimit) {
  SimHost full(Profile("VS-330-cal-full"));
  size_t end = 0;
  const auto records = Walk(full, 3, &end);
  EXPECT_EQ(full.logger->CalibrationRoom(), 0u);
  EXPECT_LE(end, 65024u);
  EXPECT_GT(end + 105, 65024u) << "no room for one more record";
  EXPECT_EQ(records.size(), end / 105);
  EXPECT_EQ(records.back().date, "260305141500");
  // A header past the limit is not kept.
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "!C%02X%02X06", static_cast<unsigned>(end & 255),
                static_cast<unsigned>(end >> 8));
  full.Write(std::string(cmd) + "260620083000");
  EXPECT_EQ(full.Read(), "");
  EXPECT_EQ(ReadAt(full, 0x10000 + static_cast<uint32_t>(end), 3, 4).substr(0, 1), "\xFF");
  // Room for one: the record that fits ends at most at the limit.
  SimProfile p = Profile("VS-330-cal-full");
  p.calRoom = 1;
  SimHost one(p);
  size_t oneEnd = 0;
  Walk(one, 3, &oneEnd);
  EXPECT_EQ(one.logger->CalibrationRoom(), 1u);
  EXPECT_LE(oneEnd + 105, 65024u);
  EXPECT_GT(oneEnd + 210, 65024u);
}

TEST(SimCalibration, SingleChannelYMakesTheCoefficientsCurrentAndAppendsARecord) {
  SimHost host(Profile("NB-7100-cal-history"));
  const Row current{-10.3, 1005.5, 0.2, 0};
  EXPECT_EQ(host.Ask("Z"), Raw(current) + "CAL\r\n");
  const auto before = WalkSingle(host, true);
  ASSERT_EQ(before.size(), 3u);
  EXPECT_EQ(before.back().date, "260210090000");
  EXPECT_EQ(before.back().coef[0], current);
  ExpectSame(host.logger->Calibrations(), before);

  host.Write("J260701101500");
  const Row written{-10.0, 1002.0, 0.1, 0};
  EXPECT_EQ(host.Ask("Y" + Raw(written)), "") << "no reply";
  EXPECT_EQ(host.Ask("Z"), Raw(written) + "CAL\r\n");
  const auto after = WalkSingle(host, true);
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after.back().date.substr(0, 10), "2607011015");
  EXPECT_EQ(after.back().coef[0], written);
  ExpectSame(host.logger->Calibrations(), after);

  // A logger that ignores "Y": it hears it, keeps what it had and adds no record.
  host.logger->IgnoreNextY(1);
  host.Write("Y" + Raw({1, 2, 3, 4}));
  EXPECT_EQ(host.logger->CommandLog().back().substr(0, 1), "Y");
  EXPECT_EQ(host.Ask("Z"), Raw(written) + "CAL\r\n");
  EXPECT_EQ(WalkSingle(host, true).size(), 4u);

  // A first calibration lands at 0x10000; the earliest NA loggers send no sum.
  SimProfile never = Fresh("NA-7100-1.40");
  never.calibration.clear();
  SimHost blank(never);
  EXPECT_EQ(blank.Ask("Z"), "CAL\r\n");
  blank.Write("Y" + Raw(kTemp));
  const auto first = WalkSingle(blank, false);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].coef[0], kTemp);
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
  EXPECT_EQ(host.logger->CommandLog().size(), 6u) << "heard, all the same";
}

TEST(SimCalibration, ProfileKeys) {
  SimProfile p;
  std::string error;
  ASSERT_TRUE(
      ParseProfile("cal_history = 7\ncal_room = 0\ncal_incomplete = 2\n"
                   "correction = 0.5, 1, 20, -1e-3\nfault.cal_no_memory = -1\n"
                   "fault.cal_no_config = 2\nfault.ignore_y = 1\nfault.silent = B,!D\n",
                   p, error))
      << error;
  EXPECT_EQ(std::tie(p.calHistory, p.calRoom, p.calIncomplete),
            std::make_tuple(7, std::optional<int>(0), 2));
  EXPECT_EQ(p.correction, (std::vector<double>{0.5, 1, 20, -1e-3}));
  EXPECT_EQ(std::tie(p.faults.calNoMemory, p.faults.calNoConfig, p.faults.ignoreY),
            std::make_tuple(-1, 2, 1));
  EXPECT_EQ(p.faults.silent, (std::vector<std::string>{"B", "!D"}));
  for (const char* bad :
       {"cal_history = -1\n", "cal_room = x\n", "correction = 1 2 3\n", "correction = 1 2 3 nan\n",
        "fault.ignore_y = -2\n", "fault.silent =\n"}) {
    SimProfile q;
    EXPECT_FALSE(ParseProfile(bad, q, error)) << bad;
  }
}

}  // namespace
}  // namespace klx::sim::test
