#include "cards/generic_card.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <list>

#include "card_fixture.h"

namespace klx::test {
namespace {

int Count(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<int>(std::count(v.begin(), v.end(), s));
}

struct MetaTableTest : CardTest {
  std::filesystem::path Write(const std::string& bytes) {
    files.emplace_back(bytes);
    return files.back().path;
  }
  std::list<TempTable> files;
  MetaTableHandler handler{logger, clock, host};
};

TEST_F(MetaTableTest, ConfigurationFailureRestartsTheWaitOnlyThreeTimes) {
  ASSERT_TRUE(handler.SetTable(Write("A=1\n")));
  handler.Tick();  // first poll: idle, the table goes out
  card.status = 133;
  handler.RunToEnd();
  EXPECT_EQ(handler.outcome, MetaTableHandler::Outcome::Failed);
  EXPECT_EQ(Count(card.commands, "!X0000"), 1 + 1 + MetaTableHandler::kConfigurationRestarts);
  EXPECT_EQ(handler.lastStatus, 133);
  EXPECT_EQ(handler.Lines().back(), "Error - failed to read meta table");
}

TEST_F(MetaTableTest, FilesThatCannotBeSentWholeAreRefusedBeforeAnythingIsSent) {
  EXPECT_FALSE(handler.SetTable(Write(std::string(81, 'x') + "\n")));
  EXPECT_FALSE(handler.Busy());
  EXPECT_TRUE(device->log.empty());
  logger.state.channelTypes = "TC";
  EXPECT_FALSE(handler.SetTable(Write("A=1\n")));
  EXPECT_TRUE(host.Saw("tell", "Not a generic serial card channel"));
  EXPECT_TRUE(device->log.empty());
}

TEST_F(MetaTableTest, PollingGivesUpAfterThirtySecondsAndAnIdleCardAnswersAfterOne) {
  card.status = 4;
  ASSERT_TRUE(handler.GetTable());
  const int64_t took = Elapsed([&] { handler.RunToEnd(); });
  EXPECT_GE(took, 30000);
  EXPECT_LT(took, 35000);
  EXPECT_EQ(Count(card.commands, "!X0000"), 30);
  EXPECT_EQ(handler.Lines().back(), "Error - Unable to communicate with generic card.");
  EXPECT_FALSE(handler.saveEnabled);

  card.status = 0;
  card.commands.clear();
  ASSERT_TRUE(handler.GetTable());
  handler.Tick();
  EXPECT_FALSE(handler.Busy());
  EXPECT_EQ(card.commands, (std::vector<std::string>{"!X0000", "!X0402"}));
}

TEST_F(MetaTableTest, ReadFailuresGiveTheirMessages) {
  struct Case {
    const char* name;
    std::string answer;
    const char* message;
  };
  const std::string table = "X=1\n";
  const std::string offByOne = Format("%02X", (MetaTableCheckByte(table) + 1) & 0xFF);
  const Case cases[] = {
      {"check off by one", table + kEtx + offByOne, "Checksum error on received table."},
      {"no check digits", table + kEtx, "Generic card has not sent a checksum."},
      {"empty", std::string(1, kEtx) + Format("%02X", MetaTableCheckByte("")),
       "Generic card has reported an empty table."},
      {"unknown command", "Unknown command\r\n", "Error - Unable to read meta table"},
      {"overrun", std::string(16384, 'x'), "Generic card meta table read has overrun storage."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    card.answerSet = true;
    card.answer = c.answer;
    MetaTableHandler h(logger, clock, host);
    ASSERT_TRUE(h.GetTable());
    h.RunToEnd();
    EXPECT_EQ(h.Lines().back(), c.message);
  }
}

}  // namespace
}  // namespace klx::test
