// What the meta-table window offers while a chain runs and after it: abort while the card is
// busy, saving only the table the last read brought, the channel and fetch mode kept.
#include <gtest/gtest.h>

#include "card_fixture.h"
#include "cards/generic_card.h"

namespace klx::test {
namespace {

struct HandlerState : CardTest {
  MetaTableHandler handler{logger, clock, host};
};

TEST_F(HandlerState, AbortWhileBusySaveOnlyAfterAGoodRead) {
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

TEST_F(HandlerState, GetDataPutsTheFetchModeBack) {
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
