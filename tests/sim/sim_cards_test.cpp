// The simulated cards' failure modes; their ordinary exchanges are checked by the host's card,
// modem and script tests against the same profiles.
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
  // A bounded count of configuration failures lets the card recover.
  SimProfile twice = Card("VS-330-generic", 0);
  twice.cards.status133 = 2;
  SimHost bounded(twice);
  bounded.Write("!X0503" + WithChecksum("C=3\r\n"));
  for (int status : {133, 133, 0}) EXPECT_EQ(Status(bounded), status);
}

// "!G00" is four characters (it was once framed as twelve and stalled): the "A" behind it is a
// command of its own, answered after the size (1921024 kB), which comes after the card's delay.
TEST(SimCards, MmcCommandsAreFramedByTheirOwnLength) {
  SimHost host(Profile("VS-330-mmc"));
  EXPECT_EQ(host.Ask("!G00A", 50), "");
  host.clock.Advance(1500);
  EXPECT_EQ(host.Read(50), "001D5000MMS\r\nKLX VS-330 6.20 040320\r\n");
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
