#include <gtest/gtest.h>

#include <cstring>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

std::array<double, 4> Doubles(const std::string& bytes, size_t at = 0) {
  std::array<double, 4> c;
  std::memcpy(c.data(), bytes.data() + at, 32);
  return c;
}

// A table write as the host makes it: the header, then the data and check byte in 16-byte
// chunks; the replies to each.
std::string WriteTable(SimHost& host, const std::string& command, std::string data) {
  data += static_cast<char>(0xA5 - Sum(data, data.size()));
  char h[8];
  std::snprintf(h, sizeof h, "%02X", static_cast<unsigned>(data.size()));
  std::string reply = host.Ask(command + h, 80);
  for (size_t i = 0; i < data.size(); i += 16) reply += host.Ask(data.substr(i, 16), 80);
  return reply;
}

TEST(SimLogger, AnswersOnlyAtItsOwnRateAndSwitchesAfterTheExpressReply) {
  SimHost host(Profile("NB-7100-2400"));
  // The host's baud walk: 19200, then 1200 (the index wraps), then 2400.
  EXPECT_EQ(host.Ask("A"), "");
  host.SetBaud(1200);
  EXPECT_EQ(host.Ask("A"), "");
  host.SetBaud(2400);
  EXPECT_EQ(host.Ask("A"), "KLX NB-7100 3.20 020518\r\n");

  SimHost vs(Profile("VS-330"));
  vs.Write("J2606");  // half a clock setting, then noise at another rate: thrown away
  vs.SetBaud(9600);
  vs.Write("01");
  vs.SetBaud(19200);
  EXPECT_EQ(vs.Ask("A"), "KLX VS-330 4.30 040211\r\n");
  EXPECT_EQ(vs.Ask("!E03"), "!E03\r\n");  // 9216000 / (32 x 5) = 57600
  EXPECT_EQ(vs.logger->CurrentBaud(), 57600);
  EXPECT_EQ(vs.Ask("A"), "");
  vs.SetBaud(57600);
  EXPECT_EQ(vs.Ask("A"), "KLX VS-330 4.30 040211\r\n");
  EXPECT_EQ(vs.Ask("!E01"), "!E01\r\n");
  EXPECT_EQ(vs.logger->CurrentBaud(), 115200);
  vs.clock.Advance(31000);  // left alone, it falls back to its default rate
  vs.SetBaud(19200);
  EXPECT_EQ(vs.Ask("A"), "KLX VS-330 4.30 040211\r\n");

  SimHost na(Profile("NA-7100"));
  na.Ask("!E00");
  EXPECT_EQ(na.logger->CurrentBaud(), 28800);
  na.SetBaud(28800);
  na.Ask("!E01");
  EXPECT_EQ(na.logger->CurrentBaud(), 57600);
  na.SetBaud(57600);
  EXPECT_EQ(na.Ask("!E05"), "Unknown command\r\n");
}

TEST(SimLogger, ReadsTablesInAcknowledgedChunksOfSixteenAndMissingOnesHaveLengthZero) {
  SimProfile p = Profile("NMJ-7400");
  p.tables[9] = std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  SimHost host(p);
  // Header: the echoed command and L = 16 data bytes + the check byte; no chunk before an ACK.
  EXPECT_EQ(host.Ask("R0900", 80), "R090011");
  EXPECT_EQ(host.Read(80), "");
  host.Ack();
  const std::string first = host.Read(80);
  EXPECT_EQ(first, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(host.Read(80), "");
  host.Ack();
  const std::string second = host.Read(80);
  ASSERT_EQ(second.size(), 1u);
  host.Ack();
  EXPECT_EQ(Sum(first + second, 17), 0xA5);
  // The configuration table: channel count, latency / 10 ms, reading time / 100 ms, letters.
  const std::string config = host.ReadTable("R0100");
  ASSERT_EQ(config.size(), 10u);
  EXPECT_EQ(config.substr(0, 9), Bytes({2, 30, 0, 2, 0, 'T', 0, 'P', 1}));
  EXPECT_EQ(Sum(config, 10), 0xA5);
  // Default baud rate code 13 = 19200; the RS Advanced word exists for this logger.
  EXPECT_EQ(host.ReadTable("R0300").substr(0, 1), Bytes({13}));
  EXPECT_EQ(host.ReadTable("R0700").size(), 5u);
  EXPECT_EQ(host.Ask("A"), "KLX NMJ-7400 6.10 071342\r\n");

  SimHost vs(Fresh("VS-330"));
  EXPECT_EQ(vs.Ask("R0700", 80), "R070000");
  vs.Ack();  // the host acknowledges even an empty table
  EXPECT_EQ(vs.Read(80), "");
  EXPECT_EQ(vs.Ask("R0200", 80), "R020000");
  vs.Ack();
  EXPECT_EQ(vs.Ask("T"), "Logger status 00\r\n");
}

TEST(SimLogger, WritesTablesWithCheckByte) {
  SimHost host(Profile("NMJ-7400"));
  // Latency 500 ms: 50 in bytes 1 and 2.
  std::string table = Bytes({2, 50, 0, 2, 0, 'T', 0, 'P', 1});
  EXPECT_EQ(WriteTable(host, "S0100", table), "\x06\x06");
  table += static_cast<char>(0xA5 - Sum(table, table.size()));
  EXPECT_EQ(host.ReadTable("R0100"), table);
  // 17 data bytes + check: two chunks, each acknowledged.
  const std::string big(17, '\x11');
  EXPECT_EQ(WriteTable(host, "S0600", big), "\x06\x06\x06");
  EXPECT_EQ(host.ReadTable("R0600").substr(0, 17), big);
  // A bad check byte is refused with NAK and the table keeps its contents.
  EXPECT_EQ(host.Ask("S01000A", 80), "\x06");
  EXPECT_EQ(host.Ask(Bytes({2, 99, 0, 2, 0, 'T', 0, 'P', 1, 0}), 80), "\x15");
  EXPECT_EQ(host.ReadTable("R0100"), table);
  // A new default rate code takes effect as the rate the logger falls back to.
  EXPECT_EQ(WriteTable(host, "S0300", Bytes({3})), "\x06\x06");  // 288000 / 5 = 57600
  EXPECT_EQ(host.logger->DefaultBaud(), 57600);
}

TEST(SimLogger, MemoryReadsCarryAPlainSum) {
  SimHost host(Fresh("VS-330"));
  // The configuration block 0x1FFC9..0x20000: channel count, letters, reading time 200 ms,
  // latency 300 ms, then two sums.
  const std::string block = host.Ask("I00000200C9FF0100", 120);
  ASSERT_EQ(block.size(), 56u);
  EXPECT_EQ(Bytes({block[53], block[47], block[45], block[43], block[49], block[51]}),
            Bytes({3, 'T', 'P', 'C', 2, 30}));
  EXPECT_EQ(static_cast<uint8_t>(block[54]), Sum(block, 54));
  EXPECT_EQ(static_cast<uint8_t>(block[55]), Sum(block, 55));
  // The calibration record chain at 0x10000: BCD header, then 33 bytes per channel.
  EXPECT_EQ(host.Ask("I0600010000000100", 120), Bytes({0x26, 0x02, 0x10, 0x10, 0x15, 0x00, 0x5D}));
  const std::string ch1 = host.Ask("I4800010027000100", 120);  // offset 39, 33 bytes
  ASSERT_EQ(ch1.size(), 34u);
  EXPECT_EQ(Doubles(ch1)[0], -10.2);
  EXPECT_EQ(Doubles(ch1)[1], 1012.5);
  EXPECT_EQ(static_cast<uint8_t>(ch1[33]), Sum(ch1, 33));
  const std::string probe = host.Ask("I6C00010069000100", 120);  // offset 6 + 3 * 33 = 105
  EXPECT_EQ(probe.substr(0, 1), "\xFF");
  // Lower-case hex is read too (retrieval blocks), and the earliest NA loggers send no sum.
  EXPECT_EQ(host.Ask("I0a00020000000200", 120), std::string(10, '\xFF') + '\xF6');
  SimHost old(Fresh("NA-7100-1.40"));
  EXPECT_EQ(old.Ask("I0600010000000100", 120).size(), 6u);
}

TEST(SimLogger, SetCommandsReadBackThroughTheirQueries) {
  SimHost host(Fresh("NMJ-7400"));
  const struct {
    const char *set, *query, *reply;
  } pairs[] = {
      {"J260715103000", "B", "260715103000CTD\r\n"},
      {"K001500", "C", "001500CSP\r\n"},
      {"L260716000000", "D", "260716000000CST\r\n"},
      {"M260816000000", "E", "260816000000CET\r\n"},
      {"W2400", "X", "2400BST\r\n"},
      {"!1A1B2C3D4", "!2", "A1B2C3D4STC\r\n"},
      {"!402", "!5", "02RAT\r\n"},
      {"!60008003000", "!7", "0008003000WAV\r\n"},
      {"!Y0000000000002440", "!Z", "0000000000002440LHT\r\n"},
      {"!A0501800000000000", "!L", "0501800000000000THR\r\n"},
      {"!B0D", "!M", "0DBAU\r\n"},
      {"!H3C00", "!O", "3C00HYS\r\n"},
      {"!K000500", "!P", "000500PSP\r\n"},
  };
  for (const auto& p : pairs) {
    EXPECT_EQ(host.Ask(p.set), "") << p.set;
    EXPECT_EQ(host.Ask(p.query), p.reply) << p.set;
  }
  // "!U" and two digits is a silent prefix; the command behind it is answered.
  EXPECT_EQ(host.Ask("!U01T"), "Logger status 00 00\r\n");
  // Malformed fields are refused and change nothing.
  EXPECT_EQ(host.Ask("K996000"), "Unknown command\r\n");
  EXPECT_EQ(host.Ask("C"), "001500CSP\r\n");
  EXPECT_EQ(host.Ask("J261315103000"), "Unknown command\r\n");
  EXPECT_EQ(host.Ask("W2G00"), "Unknown command\r\n");
  // The clock runs with time.
  host.Write("J260715235958");
  host.clock.Advance(3000);
  EXPECT_EQ(host.Ask("B"), "260716000001CTD\r\n");
}

TEST(SimLogger, QueriesAnswerPerFamily) {
  const struct {
    const char *profile, *query, *reply;
  } rows[] = {
      {"NMJ-7400", "!000", "B5740300CAP00\r\n"},  // capability entries echo their number
      {"NMJ-7400", "!00D", "00C20118CAP0D\r\n"},
      {"NMJ-7400", "!01F", "00000000CAP1F\r\n"},
      {"VS-330", "!003", "1E000000CAP03\r\n"},
      {"NA-7100", "!000", "Unknown command\r\n"},
      {"VS-330-2.50", "!000", "Unknown command\r\n"},
      {"NA-7100", "T", "Logger status 00\r\n"},
      {"NA-7100", "G", "00000200CDP\r\n"},  // empty memory: 0x20000, low byte first
      {"NMJ-7400", "G", "00000000CDP\r\n"},
      {"NA-7100", "!D", "36BAT\r\n"},
      {"NA-7100-1.40", "!D", "36\r\n"},
      {"NA-7100", "!W", "6.00WIN\r\n"},
      {"NMJ-7400", "Z", "Unknown command\r\n"},
      {"VS-330", "Q", "Unknown command\r\n"},
      {"VS-330", "!q", "Unknown command\r\n"},
      {"VS-330", "\x01\x02\x03\xfe", "Unknown command\r\n"},  // once per burst
      {"VS-330", "\r\n\x06\x15T", "Logger status 00\r\n"},
      {"NB-7100", "Z", "CAL\r\n"},  // no calibration yet
  };
  for (const auto& r : rows) EXPECT_EQ(SimHost(Fresh(r.profile)).Ask(r.query), r.reply) << r.query;
  // Instant readings: one reading and the line end, or the binary real-time record of all
  // channels (zeros, "TIM", time, counts, the sum from the tag on).
  EXPECT_EQ(SimHost(Fresh("NA-7100")).Ask("F").size(), 8u);
  SimHost nmj(Fresh("NMJ-7400"));
  EXPECT_EQ(nmj.Ask("F01").size(), 8u);
  const std::string all = nmj.Ask("F00", 300);
  ASSERT_EQ(all.size(), 2u * 3 + 13);
  EXPECT_EQ(all.substr(0, 6), std::string("\0\0\0TIM", 6));
  EXPECT_EQ(static_cast<uint8_t>(all.back()), Sum(all.substr(3), all.size() - 4));
}

TEST(SimLogger, DeploymentStatusFollowsTheClock) {
  SimHost host(Fresh("NMJ-7400"));
  host.Write("J260601120000L260601120100M260601130000K000010");
  EXPECT_EQ(host.Ask("P"), "Logger started in mode 01\r\n");
  EXPECT_EQ(host.Ask("T"), "Logger status 01 00\r\n");
  host.clock.Advance(60000);
  EXPECT_EQ(host.Ask("T"), "Logger status 02 00\r\n");
  host.clock.Advance(30000);  // readings at +0, +10, +20, +30 s: 4 x 2 channels x 3 bytes
  // 48-byte parameter block + "TIM" stamp + 24
  EXPECT_EQ(host.Ask("G"), "54000000CDP\r\n");
  EXPECT_EQ(host.Ask("!S"), "Logger status 05 00\r\n");
  host.clock.Advance(60000);
  EXPECT_EQ(host.Ask("G"), "54000000CDP\r\n") << "no readings while suspended";
  EXPECT_EQ(host.Ask("!R"), "Logger started in mode 02\r\n");
  EXPECT_EQ(host.Ask("G"), "66000000CDP\r\n") << "a TIM stamp, then the row due at once";
  EXPECT_EQ(host.Ask("!9"), "Logger status 04 02\r\n");
  EXPECT_EQ(host.Ask("G"), "72000000CDP\r\n") << "an STP stamp at the stop";
  const SimExpected e = host.logger->Expected();
  ASSERT_EQ(e.stamps.size(), 3u);
  EXPECT_EQ(e.stamps[0].code + e.stamps[1].code + e.stamps[2].code, "TIMTIMSTP");
  EXPECT_EQ(e.stamps[1].row, 4u);
  EXPECT_EQ(host.Ask("N"), "Memory erased\r\n");
  EXPECT_EQ(host.Ask("T"), "Logger status 00 00\r\n");
  EXPECT_EQ(host.Ask("G"), "00000000CDP\r\n");

  SimHost vs(Fresh("VS-330"));
  vs.Write("J260601120000L260601110000M260601130000");
  EXPECT_EQ(vs.Ask("P"), "Logger started in mode 02\r\n");
  // The parameter block is written, a TIM stamp and the first reading: 0x20000 + 30 + 12 + 9.
  EXPECT_EQ(vs.Ask("G"), "33000200CDP\r\n");
  EXPECT_EQ(vs.Ask("!9"), "Logger status 04\r\n");
  vs.Write("L260601140000");  // a start after the end does not enable
  EXPECT_EQ(vs.Ask("P"), "Logger started in mode 00\r\n");
}

TEST(SimLogger, CalibrationIsReadAndWrittenTheWayOfEachGeneration) {
  SimHost na(Profile("NA-7100"));  // single channel: "Z" and "Y"
  const std::string z = na.Ask("Z");
  ASSERT_EQ(z.size(), 37u);
  EXPECT_EQ(z.substr(32), "CAL\r\n");
  EXPECT_EQ(Doubles(z)[0], 0.00349);
  EXPECT_EQ(Doubles(z)[3], 2.31e-08);
  SimHost nb(Profile("NB-7100"));
  const double w[4] = {-10.0, 1000.0, 0.5, 0.0};
  const std::string coefficients(reinterpret_cast<const char*>(w), 32);
  EXPECT_EQ(nb.Ask("Y" + coefficients), "");
  EXPECT_EQ(nb.Ask("Z"), coefficients + "CAL\r\n");
  // The history record at 0x10000: six BCD bytes, then the four coefficients.
  EXPECT_EQ(nb.Ask("I2600010000000100", 120).substr(6, 32), coefficients);

  SimHost nmj(Profile("NMJ-7400"));  // extended: "V" records, written with "U"
  EXPECT_EQ(nmj.ReadTable("V000000").substr(0, 15), "CAL260320153000");
  const std::string ch2 = nmj.ReadTable("V000002");
  ASSERT_EQ(ch2.size(), 33u);
  EXPECT_EQ(Doubles(ch2)[0], -10.13);
  std::string header;
  EXPECT_EQ(nmj.ReadTable("V010000", &header), "");
  EXPECT_EQ(header, "V01000000");
  EXPECT_EQ(WriteTable(nmj, "U0000", "A"), "\x06\x06");
  EXPECT_EQ(WriteTable(nmj, "U0100", coefficients + '\0'), "\x06\x06\x06\x06");
  EXPECT_EQ(WriteTable(nmj, "U0000", "Z"), "\x06\x06");
  EXPECT_EQ(nmj.ReadTable("V000001").substr(0, 32), coefficients);
  EXPECT_EQ(nmj.ReadTable("V010002").substr(0, 32), ch2.substr(0, 32)) << "the old one kept";
  EXPECT_EQ(WriteTable(nmj, "U0500", coefficients + '\0').substr(0, 1), "\x06");

  SimHost vs(Profile("VS-550"));  // multi-channel: "!C" writes, no calibration yet
  EXPECT_EQ(vs.Ask("I0600010000000100").substr(0, 1), "\xFF");
  std::string hex;
  while (hex.size() < 64) hex += "3F";
  vs.Write("!C000006260701120000!C060020" + hex);
  EXPECT_EQ(vs.Ask("I0600010000000100").substr(0, 6), Bytes({0x26, 0x07, 0x01, 0x12, 0x00, 0x00}));
  EXPECT_EQ(vs.Ask("I2700010006000100").substr(0, 33), std::string(32, '\x3F') + '\0');
}

TEST(SimLogger, GarbageAndHalfCommandsLeaveItAnswering) {
  SimHost host(Fresh("VS-330"));
  host.Write("K00");  // a partial command left hanging is dropped after a pause
  host.clock.Advance(2000);
  EXPECT_EQ(host.Ask("T"), "Logger status 00\r\n");
  // Every byte value in every position: no crash, and the logger still answers afterwards.
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 73 + i / 7) & 0xFF);
  host.Write(noise);
  while (!host.Read(2000).empty()) {
  }
  // Long enough for any table transfer to be dropped and any rate switch to fall back.
  host.clock.Advance(31000);
  EXPECT_EQ(host.Ask("A"), "KLX VS-330 4.30 040211\r\n");
}

TEST(SimLogger, PacedRepliesTakeTheirLineTime) {
  SimProfile p = Profile("NB-7100-2400");
  p.paced = true;
  SimHost host(p, 2400);
  host.Write("A");
  const int64_t sent = host.clock.MonotonicMs();
  ASSERT_EQ(host.Read(25).size(), 25u);  // exactly the reply's length
  // Delay 3 ms, then 24 byte times of 10000 / 2400 ms.
  EXPECT_EQ(host.clock.MonotonicMs() - sent, 3 + 100);
}

}  // namespace
}  // namespace klx::sim::test
