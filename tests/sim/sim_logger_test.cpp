#include <gtest/gtest.h>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

TEST(SimLogger, AnswersOnlyAtItsOwnRateAndSwitchesAfterTheExpressReply) {
  SimHost host(Profile("NB-7100-2400"));
  EXPECT_EQ(host.Ask("A"), "") << "not at 19200";
  host.SetBaud(2400);
  EXPECT_EQ(host.Ask("A"), "KLX NB-7100 3.20 020518\r\n");
  SimHost vs(Profile("VS-330"));
  vs.Write("J2606");  // half a clock setting, then noise at another rate: thrown away
  vs.SetBaud(9600);
  vs.Write("01");
  vs.SetBaud(19200);
  EXPECT_EQ(vs.Ask("!E03"), "!E03\r\n");  // 9216000 / (32 x 5) = 57600
  EXPECT_EQ(vs.logger->CurrentBaud(), 57600);
  EXPECT_EQ(vs.Ask("A"), "");
  vs.clock.Advance(31000);  // left alone, it falls back to its default rate
  EXPECT_EQ(vs.Ask("A"), "KLX VS-330 4.30 040211\r\n");
  SimHost na(Profile("NA-7100"));
  for (const int baud : {28800, 57600}) {  // "!E00" and "!E01" on the older clock
    na.Ask(baud == 28800 ? "!E00" : "!E01");
    EXPECT_EQ(na.logger->CurrentBaud(), baud);
    na.SetBaud(baud);
  }
  EXPECT_EQ(na.Ask("!E05"), "Unknown command\r\n");
}

TEST(SimLogger, ReadsAndWritesTablesInAcknowledgedChunksWithTheirCheckByte) {
  SimProfile p = Profile("NMJ-7400");
  p.tables[9] = std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  SimHost host(p);
  // Header: the echoed command and L = 16 data bytes + the check byte; no chunk before an ACK.
  EXPECT_EQ(host.Ask("R0900", 80), "R090011");
  std::string data;
  for (size_t size : {16u, 17u}) {
    EXPECT_EQ(host.Read(80), "");
    host.Ack();
    data += host.Read(80);
    EXPECT_EQ(data.size(), size);
  }
  host.Ack();
  EXPECT_EQ(data, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0x1D}));
  // The configuration table: channel count, latency / 10 ms, reading time / 100 ms, letters.
  std::string table = Bytes({2, 30, 0, 2, 0, 'T', 0, 'P', 1});
  EXPECT_EQ(host.ReadTable("R0100"), table + static_cast<char>(0xA5 - Sum(table, 9)));
  // Default baud rate code 13 = 19200; the RS Advanced word exists for this logger.
  EXPECT_EQ(host.ReadTable("R0300").substr(0, 1), Bytes({13}));
  EXPECT_EQ(host.ReadTable("R0700").size(), 5u);

  table[1] = 50;  // latency 500 ms
  EXPECT_EQ(WriteTable(host, "S0100", table), "\x06\x06");
  table += static_cast<char>(0xA5 - Sum(table, 9));
  EXPECT_EQ(host.ReadTable("R0100"), table);
  // A bad check byte is refused with NAK and the table keeps its contents.
  EXPECT_EQ(host.Ask("S01000A", 80), "\x06");
  EXPECT_EQ(host.Ask(Bytes({2, 99, 0, 2, 0, 'T', 0, 'P', 1, 0}), 80), "\x15");
  EXPECT_EQ(host.ReadTable("R0100"), table);
  // A new default rate code takes effect as the rate the logger falls back to.
  EXPECT_EQ(WriteTable(host, "S0300", Bytes({3})), "\x06\x06");  // 288000 / 5 = 57600
  EXPECT_EQ(host.logger->DefaultBaud(), 57600);

  SimHost vs(Fresh("VS-330"));  // missing tables have length zero
  for (const char* r : {"R0700", "R0200"}) {
    EXPECT_EQ(vs.Ask(r, 80), std::string(r) + "00");
    vs.Ack();  // the host acknowledges even an empty table
    EXPECT_EQ(vs.Read(80), "");
  }
  EXPECT_EQ(vs.Ask("T"), "Logger status 00\r\n");
}

TEST(SimLogger, SetCommandsReadBackThroughTheirQueries) {
  SimHost host(Fresh("NMJ-7400"));
  const struct {
    const char *set, *query, *reply;
  } pairs[] = {
      {"J260715103000", "B", "260715103000CTD\r\n"},
      {"K001500", "C", "001500CSP\r\n"},
      {"W2400", "X", "2400BST\r\n"},
      {"!1A1B2C3D4", "!2", "A1B2C3D4STC\r\n"},
      {"!60008003000", "!7", "0008003000WAV\r\n"},
      {"!Y333333333333f33f", "!Z", "333333333333F33FLHT\r\n"},  // a double, lower-case digits too
      {"!B0D", "!M", "0DBAU\r\n"},
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
  EXPECT_EQ(host.Ask("!Y333333333333F3GG"), "Unknown command\r\n");
  EXPECT_EQ(host.Ask("!Z"), "333333333333F33FLHT\r\n");
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
      {"VS-330", "!003", "1E000000CAP03\r\n"},
      {"NA-7100", "!000", "Unknown command\r\n"},
      {"VS-330-2.50", "!000", "Unknown command\r\n"},
      {"NA-7100", "T", "Logger status 00\r\n"},
      {"NA-7100", "G", "00000200CDP\r\n"},  // empty memory: 0x20000, low byte first
      {"NA-7100", "!D", "36BAT\r\n"},
      {"NA-7100-1.40", "!D", "36\r\n"},
      {"NMJ-7400", "Z", "Unknown command\r\n"},
      {"VS-330", "\x01\x02\x03\xfe", "Unknown command\r\n"},  // once per burst
      {"VS-330", "\r\n\x06\x15T", "Logger status 00\r\n"},
      {"NB-7100", "Z", "CAL\r\n"},  // no calibration yet
  };
  for (const auto& r : rows) EXPECT_EQ(SimHost(Fresh(r.profile)).Ask(r.query), r.reply) << r.query;
  // Instant readings: one reading and the line end, or the binary real-time record of all
  // channels (zeros, "TIM", time, counts, the sum from the tag on).
  EXPECT_EQ(SimHost(Fresh("NA-7100")).Ask("F").size(), 8u);
  const std::string all = SimHost(Fresh("NMJ-7400")).Ask("F00", 300);
  ASSERT_EQ(all.size(), 2u * 3 + 13);
  EXPECT_EQ(all.substr(0, 6), std::string("\0\0\0TIM", 6));
  EXPECT_EQ(static_cast<uint8_t>(all.back()), Sum(all.substr(3), all.size() - 4));
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
  while (!host.Read(2000).empty()) continue;
  // Long enough for any table transfer to be dropped and any rate switch to fall back.
  host.clock.Advance(31000);
  EXPECT_EQ(host.Ask("A"), "KLX VS-330 4.30 040211\r\n");
}

}  // namespace
}  // namespace klx::sim::test
