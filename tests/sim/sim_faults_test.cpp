// The faults a simulated logger can be given: wrong check bytes, dropped bytes, silence,
// unknown commands, refused writes, bad and short blocks and a lost link.
#include <gtest/gtest.h>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

TEST(SimFaults, WrongCheckByteOnTheNextRepliesAndADroppedByte) {
  SimProfile p = Profile("NMJ-7400");
  p.faults.badCheck = 2;  // from the profile: the table read and the memory read below
  SimHost host(p);
  for (bool good : {false, true}) {  // used up: the retries succeed
    const std::string table = host.ReadTable("R0100"), memory = host.Ask("I0500000000000000");
    ASSERT_EQ(table.size() + memory.size(), 10u + 6u);
    EXPECT_EQ(Sum(table, 10) == 0xA5, good);
    EXPECT_EQ(Sum(memory, 5) == static_cast<uint8_t>(memory[5]), good);
  }

  host.logger->DropByteInNextReplies(1);
  EXPECT_EQ(host.Ask("A").size(), 25u);
  EXPECT_EQ(host.Ask("A"), "KLX NMJ-7400 6.10 071342\r\n");
  // A dropped byte in a table chunk leaves the host one byte short.
  host.logger->DropByteInNextReplies(2);  // the header loses one too: "R0700" + 2 - 1
  EXPECT_EQ(host.Ask("R0700", 80).size(), 6u);
}

TEST(SimFaults, SilenceForTimeForCommandsAndAfterAWhile) {
  SimProfile p = Fresh("VS-330");
  p.faults.silentMs = 1000;
  SimHost host(p);
  auto after = [](SimHost& h, int64_t ms, const char* command) {
    h.clock.Advance(ms);
    return h.Ask(command);
  };
  // The first command starts the silence.
  EXPECT_EQ(after(host, 0, "A"), "");
  EXPECT_EQ(after(host, 500, "A"), "");
  EXPECT_EQ(after(host, 500, "T"), "Logger status 00\r\n");
  host.logger->SilenceNextCommands(2);
  EXPECT_EQ(after(host, 0, "T"), "");
  EXPECT_EQ(after(host, 0, "!W"), "");
  EXPECT_EQ(after(host, 0, "T"), "Logger status 00\r\n");
  host.logger->SilenceUntil(host.clock.MonotonicMs() + 5000);
  EXPECT_EQ(after(host, 0, "T"), "");
  EXPECT_EQ(after(host, 5000, "T"), "Logger status 00\r\n");

  // Longer than five seconds, two seconds after the host arrived.
  p = Profile("VS-330");
  p.faults.silentAfterMs = 2000;
  p.faults.silentMs = 6000;
  SimHost later(p);
  EXPECT_EQ(after(later, 0, "T"), "Logger status 04\r\n");
  EXPECT_EQ(after(later, 2000, "I1000020000000200"), "");
  EXPECT_EQ(after(later, 5500, "T"), "");
  EXPECT_EQ(after(later, 600, "T"), "Logger status 04\r\n");
}

TEST(SimFaults, UnknownCommandForChosenCommandsAndNakForTableWrites) {
  SimProfile p = Profile("NMJ-7400");
  p.faults.unknown = {"!0", "R0700"};
  p.faults.nakWrites = 1;
  SimHost host(p);
  for (const char* command : {"!000", "!00D", "R0700"})
    EXPECT_EQ(host.Ask(command, 80), "Unknown command\r\n") << command;
  EXPECT_EQ(host.ReadTable("R0100").size(), 10u);
  host.logger->AnswerUnknown("T");
  EXPECT_EQ(host.Ask("T"), "Unknown command\r\n");

  EXPECT_EQ(WriteTable(host, "S0300", Bytes({3})), "\x06\x15");
  EXPECT_EQ(host.ReadTable("R0300").substr(0, 1), "\x0D") << "not stored";
  EXPECT_EQ(WriteTable(host, "S0300", Bytes({3})), "\x06\x06");
  host.logger->NakNextWrites(-1);  // every write from now on
  for (int i = 0; i < 2; ++i) EXPECT_EQ(WriteTable(host, "S0300", Bytes({3})), "\x06\x15");
}

TEST(SimFaults, BadAndShortBlocksAtTheirRatesAndTheLinkLostAfterARateSwitch) {
  auto run = [](const char* key, const char* value) {
    SimProfile p = Profile("VS-330");
    std::string error;
    EXPECT_TRUE(ApplyProfileSetting(key, value, p, error)) << error;
    SimHost host(p);
    std::vector<int> bad;
    for (int i = 0; i < 300; ++i) {
      const std::string b = host.Ask(ReadCommand(0x20000 + 96 * i, 0x20060 + 96 * i), 97);
      if (b.size() != 97 || Sum(b, 96) != static_cast<uint8_t>(b[96])) bad.push_back(i);
    }
    return bad;
  };
  const auto bad = run("fault.bad_block_rate", "0.05");
  EXPECT_TRUE(bad.size() >= 5 && bad.size() <= 35) << bad.size();
  EXPECT_EQ(run("fault.bad_block_rate", "0.05"), bad) << "the same blocks every run";
  const auto dropped = run("fault.drop_block_rate", "0.05");
  EXPECT_TRUE(dropped.size() >= 5 && dropped.size() <= 35) << dropped.size();
  EXPECT_NE(dropped, bad);
  EXPECT_TRUE(run("fault.bad_block_rate", "0").empty());

  SimProfile p = Profile("NMJ-7400");
  std::string error;
  ASSERT_TRUE(ApplyProfileSetting("fault.lost_after_switch", "yes", p, error));
  SimHost host(p);
  const std::string id = "KLX NMJ-7400 6.10 071342\r\n";
  for (const char* heard : {"", id.c_str()}) {  // used up by the first switch
    EXPECT_EQ(host.Ask("!E01"), "!E01\r\n");
    host.SetBaud(115200);
    EXPECT_EQ(host.Ask("A"), heard);
    host.SetBaud(19200);
  }
  EXPECT_EQ(host.Ask("A"), "") << "still at 115200";
}

}  // namespace
}  // namespace klx::sim::test
