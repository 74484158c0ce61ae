#include <gtest/gtest.h>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

const char kEtx = '\x03';

// A table as the host sends it to a card of version 4: its bytes, ETX, and the two digits that
// make the 8-bit sum 0xA5.
std::string WithChecksum(const std::string& table) {
  const std::string body = table + kEtx;
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X",
                static_cast<unsigned>((0xA5 - Sum(body, body.size())) & 0xFF));
  return body + digits;
}

// The same with its checksum one too high.
std::string OneOff(const std::string& sent) {
  char digits[3];
  const int value = std::stoi(sent.substr(sent.size() - 2), nullptr, 16);
  std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(value + 1) & 0xFF);
  return sent.substr(0, sent.size() - 2) + digits;
}

// The status the card reports, as a number (-1 when the reply is not a status reply).
int Status(SimHost& host) {
  const std::string r = host.Ask("!X0000", 50);
  const auto tag = r.find("MTS");
  if (tag == std::string::npos || tag < 4) return -1;
  return std::stoi(r.substr(tag - 4, 2), nullptr, 16);
}

SimProfile Card(const std::string& name, int stepMs = 1000) {
  SimProfile p = Profile(name);
  p.cards.cardStepMs = stepMs;
  return p;
}

TEST(SimCards, GenericCardReceivesATableWalksItsStatesAndReadsItBack) {
  SimHost host(Card("VS-330-generic"));
  EXPECT_EQ(host.Ask("!X0000", 50), "0000MTS\r\n");
  // Typographic quotes arrive and are kept as plain quotes; the sum covers the bytes as sent.
  const std::string table = "NAME=\x93O2\x94\r\nBAUD=9600\r\n";
  host.Write("!X0503" + WithChecksum(table));
  std::vector<int> walk;
  for (int i = 0; i < 8; ++i) {
    walk.push_back(Status(host));
    host.clock.Advance(1000);
  }
  EXPECT_EQ(walk, (std::vector<int>{9, 8, 10, 11, 12, 13, 14, 0}));
  EXPECT_EQ(host.Ask("!X0000", 50), "0003MTS\r\n") << "the channel of the last request";
  const std::string back = host.Ask("!X0403", 200);
  EXPECT_EQ(back, WithChecksum("NAME=\"O2\"\r\nBAUD=9600\r\n"));
  EXPECT_EQ(host.logger->Cards().MetaTable(3), "NAME=\"O2\"\r\nBAUD=9600\r\n");
  // The older commands are unknown to this card, and a logger without a card knows none.
  EXPECT_EQ(host.Ask("!X0103", 50), "Unknown command\r\n");
  SimHost plain(Profile("NMJ-7400"));
  EXPECT_EQ(plain.Ask("!X0000", 50), "Unknown command\r\n");
}

TEST(SimCards, GenericCardFailuresAreReportedOnceWithTheirCodes) {
  struct Case {
    const char* what;
    std::string sent;
    int status;
    int capacity = 16384;
    int64_t pauseMs = 0;  // between the command and the table
  } cases[] = {
      {"checksum one off", "!X0503" + OneOff(WithChecksum("A=1\r\n")), 135},
      {"not a generic channel", "!X0502" + WithChecksum("A=1\r\n"), 128},
      {"too big for the buffer", "!X0503" + WithChecksum("0123456789\r\n"), 132, 8},
      {"aborted inside the table", "!X0503A=1\r\n!XAA00", 134},
      {"host left the table", "!X0503", 131, 16384, 6000},
  };
  for (const auto& c : cases) {
    SimProfile p = Card("VS-330-generic");
    p.cards.cardCapacity = c.capacity;
    p.cards.metaTable = "OLD\r\n";
    SimHost host(p);
    host.Write(c.sent);
    if (c.pauseMs > 0) {
      host.clock.Advance(c.pauseMs);
      host.Write("A=1\r\n");  // too late: these bytes are commands again
      host.Read();
    }
    EXPECT_EQ(Status(host), c.status) << c.what;
    EXPECT_EQ(Status(host), 0) << c.what << ": reported once";
    EXPECT_EQ(host.Ask("!X0403", 200), WithChecksum("OLD\r\n")) << c.what << ": table kept";
  }
  // Abort of a request under way; an idle card stays idle.
  SimHost host(Card("VS-330-generic"));
  host.Write("!XAA00");
  EXPECT_EQ(Status(host), 0);
  host.Write("!X0303!XAA00");
  EXPECT_EQ(Status(host), 134);
}

TEST(SimCards, OlderCardSendsNoChecksumAndConfigurationFaultsShow) {
  SimHost v3(Card("VS-330-generic-v3", 0));
  EXPECT_EQ(v3.Ask("!X0503", 50), "Unknown command\r\n");
  v3.Write(std::string("!X0203B=2\r\n") + kEtx);
  EXPECT_EQ(Status(v3), 0);
  EXPECT_EQ(v3.Ask("!X0103", 50), std::string("B=2\r\n") + kEtx);

  SimHost ok(Card("VS-330-generic"));
  ok.Write("!X0303");
  std::vector<int> walk = {Status(ok)};
  ok.clock.Advance(1000);
  walk.push_back(Status(ok));
  ok.clock.Advance(1000);
  walk.push_back(Status(ok));
  EXPECT_EQ(walk, (std::vector<int>{15, 16, 0}));
  EXPECT_EQ(Status(ok), 0);

  SimHost fails(Card("VS-330-generic-config-fails", 0));
  fails.Write("!X0303");
  EXPECT_EQ(Status(fails), 133);
  EXPECT_EQ(Status(fails), 0);
  // A bounded count lets the card recover.
  SimProfile twice = Card("VS-330-generic", 0);
  twice.cards.status133 = 2;
  SimHost bounded(twice);
  bounded.Write("!X0503" + WithChecksum("C=3\r\n"));
  EXPECT_EQ(Status(bounded), 133);
  EXPECT_EQ(Status(bounded), 133);
  EXPECT_EQ(Status(bounded), 0);
}

TEST(SimCards, MmcCardAnswersByItsOwnCommandLengths) {
  SimHost host(Profile("VS-330-mmc"));
  // "!G00" is four characters: the "A" behind it is a command of its own, answered after the
  // size (1921024 kB), which comes after the card's delay.
  EXPECT_EQ(host.Ask("!G00A", 50), "");
  host.clock.Advance(1500);
  EXPECT_EQ(host.Read(50), "001D5000MMS\r\nKLX VS-330 6.20 040320\r\n");
  EXPECT_EQ(host.Ask("!G04", 50), "SD 2GB FAT16MMD\r\n");
  EXPECT_EQ(host.Ask("!G02", 50), "00000017MMF\r\n");
  EXPECT_EQ(host.Ask("!G03", 50), "00000021MML\r\n");
  const std::string file = host.Ask("!GCC00000019", 400);
  EXPECT_EQ(file.substr(0, 15), "File 00000019\r\n");
  EXPECT_EQ(file.size(), 300u) << "the first 300 bytes of a longer file";
  EXPECT_EQ(host.Ask("!GCC00000022", 400), "File 00000022 not found\r\n");
  SimHost none(Profile("VS-330-generic"));
  EXPECT_EQ(none.Ask("!G00", 50), "Unknown command\r\n");
}

TEST(SimCards, OptodeFrontEndAnswersThroughModePacketsAtItsAddress) {
  SimHost host(Profile("VS-330-optode"));
  const std::string a = "\x03";  // channel 3
  EXPECT_EQ(host.Ask("~" + a + "\x01"), "") << "not in through mode";
  EXPECT_EQ(host.Ask("!300000"), "");
  EXPECT_EQ(host.Ask("~\x02\x01"), "") << "another address";
  EXPECT_EQ(host.Ask("~" + a + "\x01"), "~" + a + "FFFFF5\r\n");
  EXPECT_EQ(host.Ask("~" + a + "A\x01~" + a + "A" + std::string(1, '\0')),
            "~" + a + "01\r\n~" + a + "01\r\n");
  EXPECT_EQ(host.logger->Cards().OptodeMode(), 1) << "a K channel measures saturation";
  const std::string entry = "02" + std::string(14, 'F') + "AA";
  EXPECT_EQ(host.Ask("~" + a + "B" + entry), "");
  EXPECT_EQ(host.Ask("~" + a + "\x04"), "~" + a + entry + "\r\n");
  EXPECT_EQ(host.logger->Cards().OptodeMode(), 2);
  host.clock.Advance(61000);  // through mode closes
  EXPECT_EQ(host.Ask("~" + a + "\x04"), "");

  SimProfile p = Profile("VS-330-optode");
  p.cards.optodeStuck = true;
  p.cards.optodeAbsent = true;
  SimHost stuck(p);
  stuck.Write("!300000");
  EXPECT_EQ(stuck.Ask("~3\x01"), "") << "absent: no presence reply (ASCII address)";
  stuck.Write("~3B" + entry);
  EXPECT_EQ(stuck.Ask("~3\x04"), "~301" + std::string(14, 'F') + "AB\r\n");
}

TEST(SimCards, ScriptTablesChangeTheCapabilitiesModemAndCards) {
  // The identity table written and answered again is read through the host's script run.
  SimHost host(Fresh("VS-330-optode"));
  std::string caps = host.ReadTable("R0200");
  ASSERT_EQ(caps.size(), 33u);
  EXPECT_EQ(caps.substr(0, 5), Bytes({0x95, 0x12, 0x00, 0x00, 4}));  // mask, then entry 1
  caps.pop_back();
  caps[2] = 0x01;  // waves
  EXPECT_EQ(WriteTable(host, "S0200", caps), std::string(4, '\x06'));
  EXPECT_EQ(host.Ask("!000").substr(0, 8), "95120100");
  EXPECT_EQ(WriteTable(host, "S0200", caps.substr(0, 31)), "\x06\x06\x15") << "not 32 bytes";

  SimHost modem(Fresh("NMK-7400-modem"));
  EXPECT_EQ(modem.ReadTable("R0800"), Bytes({30, 0, 20, 0, 1, 0xA5 - 51}));
  EXPECT_EQ(WriteTable(modem, "S0800", Bytes({40, 1, 2, 0})), "\x06\x15") << "not 5 bytes";
  EXPECT_EQ(host.Ask("R0800", 80), "R080000") << "no modem control";

  // The cards follow the channel letters of the configuration table as last written.
  SimHost card(Fresh("VS-330-generic"));
  std::string config = card.ReadTable("R0100");
  ASSERT_EQ(config.size(), 12u);
  config.pop_back();
  config[9] = 'T';
  EXPECT_EQ(WriteTable(card, "S0100", config), "\x06\x06");
  EXPECT_EQ(card.Ask("!X0000", 50), "Unknown command\r\n");
}

TEST(SimCards, CardKeysRefuseBadValues) {
  for (const char* text :
       {"meta_table = \\x4\n", "mmc.files = 100000000\n", "fault.optode_stuck = sometimes\n"}) {
    SimProfile p;
    std::string error;
    EXPECT_FALSE(ParseProfile(text, p, error)) << text;
    EXPECT_NE(error.find("bad value"), std::string::npos) << text << " -> " << error;
  }
}

}  // namespace
}  // namespace klx::sim::test
