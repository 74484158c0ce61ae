// The meta-table handler against a scripted generic serial card: waits, failures, what it offers.
#include "cards/generic_card.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>

#include "card_fixture.h"

namespace klx::test {
namespace {

struct MetaTableTest : CardTest {
  std::filesystem::path Write(const std::string& bytes) { return files.emplace_back(bytes).path; }
  int Polls() const {
    return static_cast<int>(std::count(card.commands.begin(), card.commands.end(), "!X0000"));
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
  EXPECT_EQ(Polls(), 1 + 1 + MetaTableHandler::kConfigurationRestarts);
  EXPECT_EQ(handler.lastStatus, 133);
  EXPECT_EQ(handler.Lines().back(), "Error - failed to read meta table");
}

TEST_F(MetaTableTest, FilesThatCannotBeSentWholeAreRefusedBeforeAnythingIsSent) {
  EXPECT_FALSE(handler.SetTable(Write(std::string(81, 'x') + "\n")));
  EXPECT_FALSE(handler.Busy());
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
  EXPECT_EQ(Polls(), 30);
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
  const std::string table = "X=1\n";
  const std::string offByOne = Format("%02X", (MetaTableCheckByte(table) + 1) & 0xFF);
  const std::pair<std::string, const char*> cases[] = {
      {table + kEtx + offByOne, "Checksum error on received table."},
      {table + kEtx, "Generic card has not sent a checksum."},
      {std::string(1, kEtx) + Format("%02X", MetaTableCheckByte("")),
       "Generic card has reported an empty table."},
      {"Unknown command\r\n", "Error - Unable to read meta table"},
      {std::string(16384, 'x'), "Generic card meta table read has overrun storage."},
  };
  for (const auto& [answer, message] : cases) {
    card.answerSet = true;
    card.answer = answer;
    MetaTableHandler h(logger, clock, host);
    ASSERT_TRUE(h.GetTable());
    h.RunToEnd();
    EXPECT_EQ(h.Lines().back(), message);
  }
}

TEST_F(MetaTableTest, AbortWhileBusySaveOnlyAfterAGoodRead) {
  card.stored = "A=1\r\n";
  ASSERT_TRUE(handler.GetTable());
  EXPECT_TRUE(handler.abortEnabled) << "the read can be aborted while it waits";
  handler.RunToEnd();
  EXPECT_FALSE(handler.abortEnabled);
  ASSERT_TRUE(handler.saveEnabled);
  EXPECT_EQ(handler.tableRead, "A=1\r\n");

  card.answer = "A=1\r\n";  // no end-of-text byte: the read fails
  card.answerSet = true;
  ASSERT_TRUE(handler.GetTable());
  handler.RunToEnd();
  EXPECT_EQ(handler.outcome, MetaTableHandler::Outcome::Failed);
  EXPECT_FALSE(handler.saveEnabled) << "the previous table must not be saved as this one";
  EXPECT_TRUE(handler.tableRead.empty());
  ASSERT_TRUE(handler.Configure());
  EXPECT_TRUE(handler.abortEnabled);
}

TEST_F(MetaTableTest, GetDataPutsTheFetchModeBack) {
  logger.fetchAll = false;
  logger.fetchChannel = 2;
  handler.GetData(0);  // all channels; the scripted card sends no readings
  handler.RunToEnd();
  EXPECT_NE(handler.outcome, MetaTableHandler::Outcome::None);
  EXPECT_FALSE(logger.fetchAll);
  EXPECT_EQ(logger.fetchChannel, 2);
}

}  // namespace
}  // namespace klx::test
