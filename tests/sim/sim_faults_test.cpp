#include <gtest/gtest.h>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

TEST(SimFaults, WrongCheckByteOnTheNextRepliesAndADroppedByte) {
  SimProfile p = Profile("NMJ-7400");
  p.faults.badCheck = 2;  // from the profile: the table read and the memory read below
  SimHost host(p);
  const std::string bad = host.ReadTable("R0100");
  ASSERT_EQ(bad.size(), 10u);
  EXPECT_NE(Sum(bad, 10), 0xA5);
  const std::string memory = host.Ask("I0500000000000000");
  ASSERT_EQ(memory.size(), 6u);
  EXPECT_NE(static_cast<uint8_t>(memory[5]), Sum(memory, 5));
  // Used up: the retries succeed.
  EXPECT_EQ(Sum(host.ReadTable("R0100"), 10), 0xA5);
  const std::string again = host.Ask("I0500000000000000");
  EXPECT_EQ(static_cast<uint8_t>(again[5]), Sum(again, 5));
  // Through the API.
  host.logger->FailNextChecks(1);
  EXPECT_NE(Sum(host.ReadTable("R0300"), 2), 0xA5);
  EXPECT_EQ(Sum(host.ReadTable("R0300"), 2), 0xA5);

  host.logger->DropByteInNextReplies(1);
  const std::string dropped = host.Ask("A");
  EXPECT_EQ(dropped.size(), 25u);
  EXPECT_EQ(dropped.substr(0, 4), "KLX ");
  EXPECT_EQ(host.Ask("A"), "KLX NMJ-7400 6.10 071342\r\n");
  // A dropped byte in a table chunk leaves the host one byte short.
  host.logger->DropByteInNextReplies(2);  // the header loses one too: "R0700" + 2 - 1
  EXPECT_EQ(host.Ask("R0700", 80).size(), 6u);
}

TEST(SimFaults, SilenceForTimeForCommandsAndAfterAWhile) {
  SimProfile p = Fresh("VS-330");
  p.faults.silentMs = 1000;
  SimHost host(p);
  EXPECT_EQ(host.Ask("A"), "");  // the first command starts the silence
  host.clock.Advance(500);
  EXPECT_EQ(host.Ask("A"), "");
  host.clock.Advance(500);
  EXPECT_EQ(host.Ask("A"), "KLX VS-330 4.30 040211\r\n");
  host.logger->SilenceNextCommands(2);
  EXPECT_EQ(host.Ask("T"), "");
  EXPECT_EQ(host.Ask("!W"), "");
  EXPECT_EQ(host.Ask("T"), "Logger status 00\r\n");
  host.logger->SilenceUntil(host.clock.MonotonicMs() + 5000);
  EXPECT_EQ(host.Ask("T"), "");
  host.clock.Advance(5000);
  EXPECT_EQ(host.Ask("T"), "Logger status 00\r\n");

  // Longer than five seconds, two seconds after the host arrived.
  p = Profile("VS-330");
  p.faults.silentAfterMs = 2000;
  p.faults.silentMs = 6000;
  SimHost later(p);
  EXPECT_EQ(later.Ask("T"), "Logger status 04\r\n");
  later.clock.Advance(2000);
  EXPECT_EQ(later.Ask("I1000020000000200", 17), "");
  later.clock.Advance(5500);
  EXPECT_EQ(later.Ask("T"), "");
  later.clock.Advance(600);
  EXPECT_EQ(later.Ask("T"), "Logger status 04\r\n");
}

TEST(SimFaults, UnknownCommandForChosenCommandsAndNakForTableWrites) {
  SimProfile p = Profile("NMJ-7400");
  p.faults.unknown = {"!0", "R0700"};
  p.faults.nakWrites = 1;
  SimHost host(p);
  EXPECT_EQ(host.Ask("!000"), "Unknown command\r\n");
  EXPECT_EQ(host.Ask("!00D"), "Unknown command\r\n");
  EXPECT_EQ(host.Ask("R0700", 80), "Unknown command\r\n");
  EXPECT_EQ(host.ReadTable("R0100").size(), 10u);
  host.logger->AnswerUnknown("T");
  EXPECT_EQ(host.Ask("T"), "Unknown command\r\n");
  EXPECT_EQ(host.Ask("A"), "KLX NMJ-7400 6.10 071342\r\n");

  const std::string table = Bytes({3, 0xA5 - 3});
  EXPECT_EQ(host.Ask("S030002", 80), "\x06");
  EXPECT_EQ(host.Ask(table, 80), "\x15");
  EXPECT_EQ(host.ReadTable("R0300").substr(0, 1), "\x0D") << "not stored";
  EXPECT_EQ(host.Ask("S030002", 80), "\x06");
  EXPECT_EQ(host.Ask(table, 80), "\x06");
  EXPECT_EQ(host.ReadTable("R0300"), table);
  host.logger->NakNextWrites(-1);  // every write from now on
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(host.Ask("S030002", 80), "\x06");
    EXPECT_EQ(host.Ask(table, 80), "\x15");
  }
}

}  // namespace
}  // namespace klx::sim::test
