#include "cards/generic_card.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "card_fixture.h"
#include <unistd.h>

namespace klx::test {
namespace {

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int Count(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<int>(std::count(v.begin(), v.end(), s));
}

struct MetaTableTest : CardTest {
  std::filesystem::path Write(const std::string& bytes) {
    const auto path = dir.path() / "table.txt";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  struct Dir {
    Dir() {
      const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
      p = std::filesystem::temp_directory_path() /
          ("klx_cards_" + std::to_string(::getpid()) + "_" + info->name());
      std::filesystem::remove_all(p);
      std::filesystem::create_directories(p);
    }
    ~Dir() {
      std::error_code ec;
      std::filesystem::remove_all(p, ec);
    }
    const std::filesystem::path& path() const { return p; }
    std::filesystem::path p;
  } dir;
  MetaTableHandler handler{logger, clock, host};
};

TEST_F(MetaTableTest, SendsReadsBackAndVerifiesATableWithTypographicQuotes) {
  const std::string file = "NAME=\x93" "CTD\x94\r\nBAUD=9600\r\n";
  card.statuses = {0, 7, 10, 0};
  ASSERT_TRUE(handler.SetTable(Write(file)));
  EXPECT_EQ(handler.channel, 2);
  handler.RunToEnd();

  EXPECT_EQ(handler.outcome, MetaTableHandler::Outcome::Success);
  EXPECT_EQ(card.stored, "NAME=\"CTD\"\r\nBAUD=9600\r\n");
  EXPECT_EQ(card.receivedCheck, Format("%02X", MetaTableCheckByte(card.stored)));
  EXPECT_EQ(card.commands, (std::vector<std::string>{"!X0000", "!X0502", "!X0000", "!X0000",
                                                     "!X0000", "!X0402"}));
  const auto& lines = handler.Lines();
  EXPECT_TRUE(Has(lines, "Transfer status: 07 - Receiving meta table from host"));
  EXPECT_TRUE(Has(lines, "Transfer status: 0A - Meta table received"));
  EXPECT_TRUE(Has(lines, "Verifying table ..."));
  EXPECT_EQ(host.status[kStatusMessagePart], "Success - meta table written correctly");
  EXPECT_EQ(host.icon, StatusIcon::Info);
}

TEST_F(MetaTableTest, OlderCardsGetTheOlderCommandsAndNoCheckDigits) {
  logger.state.genericCardVersion = 3;
  card.version4 = false;
  ASSERT_TRUE(handler.SetTable(Write("A=1\n")));
  handler.RunToEnd();
  EXPECT_EQ(handler.outcome, MetaTableHandler::Outcome::Success);
  EXPECT_EQ(card.stored, "A=1\n");
  EXPECT_TRUE(card.receivedCheck.empty());
  EXPECT_EQ(Count(card.commands, "!X0202"), 1);
  EXPECT_EQ(Count(card.commands, "!X0102"), 1);
}

TEST_F(MetaTableTest, ACardThatChangedAByteFailsTheVerification) {
  card.answerSet = true;
  card.answer = std::string("A=2\n") + kEtx + Format("%02X", MetaTableCheckByte("A=2\n"));
  ASSERT_TRUE(handler.SetTable(Write("A=1\n")));
  handler.RunToEnd();
  EXPECT_EQ(handler.outcome, MetaTableHandler::Outcome::Failed);
  EXPECT_EQ(host.status[kStatusMessagePart], "Error - failure in verification of meta table");
}

TEST_F(MetaTableTest, AReadBackWithoutEndOfTextEndsOnItsTimeOut) {
  card.answerSet = true;
  card.answer = "A=1\n";
  ASSERT_TRUE(handler.SetTable(Write("A=1\n")));
  const int64_t took = Elapsed([&] { handler.RunToEnd(); });
  EXPECT_EQ(handler.outcome, MetaTableHandler::Outcome::Failed);
  EXPECT_TRUE(Has(handler.Lines(), "Error - Unable to read meta table"));
  EXPECT_TRUE(Has(handler.Lines(), "Error - failure in verification of meta table"));
  EXPECT_LT(took, 10000);
}

TEST_F(MetaTableTest, AFailureStatusAfterTheSendReportsItAndReadsNothing) {
  card.statuses = {0, 0x87};
  ASSERT_TRUE(handler.SetTable(Write("A=1\n")));
  handler.RunToEnd();
  EXPECT_EQ(handler.outcome, MetaTableHandler::Outcome::Failed);
  EXPECT_TRUE(Has(handler.Lines(), "Generic card communication has failed - returned status: 87 "
                                   "- Bad checksum on received meta table"));
  EXPECT_EQ(handler.Lines().back(), "Error - failed to read meta table");
  EXPECT_EQ(Count(card.commands, "!X0402"), 0);
}

TEST_F(MetaTableTest, ConfigurationFailureRestartsTheWaitOnlyThreeTimes) {
  ASSERT_TRUE(handler.SetTable(Write("A=1\n")));
  handler.Tick();  // first poll: idle, the table goes out
  card.stuckStatus = 133;
  handler.RunToEnd();
  EXPECT_EQ(handler.outcome, MetaTableHandler::Outcome::Failed);
  EXPECT_EQ(Count(card.commands, "!X0000"), 1 + 1 + MetaTableHandler::kConfigurationRestarts);
  EXPECT_EQ(handler.lastStatus, 133);
  EXPECT_EQ(handler.Lines().back(), "Error - failed to read meta table");
}

TEST_F(MetaTableTest, FilesThatCannotBeSentWholeAreRefusedBeforeAnythingIsSent) {
  for (const std::string& bytes : {std::string(81, 'x') + "\n", std::string(16382, 'x')}) {
    EXPECT_FALSE(handler.SetTable(Write(bytes)));
    EXPECT_FALSE(handler.Busy());
  }
  EXPECT_TRUE(device->log.empty());
  logger.state.channelTypes = "TC";
  EXPECT_FALSE(handler.SetTable(Write("A=1\n")));
  EXPECT_TRUE(host.Saw("tell", "Not a generic serial card channel"));
  EXPECT_TRUE(device->log.empty());
}

TEST_F(MetaTableTest, PollingGivesUpAfterThirtySecondsAndAnIdleCardAnswersAfterOne) {
  card.stuckStatus = 4;
  ASSERT_TRUE(handler.GetTable());
  const int64_t took = Elapsed([&] { handler.RunToEnd(); });
  EXPECT_GE(took, 30000);
  EXPECT_LT(took, 35000);
  EXPECT_EQ(Count(card.commands, "!X0000"), 30);
  EXPECT_EQ(handler.Lines().back(), "Error - Unable to communicate with generic card.");
  EXPECT_FALSE(handler.saveEnabled);

  card.stuckStatus = -1;
  card.commands.clear();
  ASSERT_TRUE(handler.GetTable());
  handler.Tick();
  EXPECT_FALSE(handler.Busy());
  EXPECT_EQ(card.commands, (std::vector<std::string>{"!X0000", "!X0402"}));
}

TEST_F(MetaTableTest, GetTableListsTheLinesAndSavesThemUnchanged) {
  card.stored = "ONE=1\r\nTWO=\"2\"\r\n";
  ASSERT_TRUE(handler.GetTable());
  handler.RunToEnd();
  const auto& lines = handler.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 2], "ONE=1");
  EXPECT_EQ(lines.back(), "TWO=\"2\"");
  EXPECT_TRUE(handler.saveEnabled);
  EXPECT_FALSE(handler.abortEnabled);

  ASSERT_TRUE(handler.SaveTable(dir.path() / "saved"));
  std::ifstream in(dir.path() / "saved.txt", std::ios::binary);
  const std::string back{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(back, card.stored);
}

TEST_F(MetaTableTest, ReadFailuresGiveTheirMessages) {
  struct Case {
    const char* name;
    std::string answer;
    const char* message;
  };
  const std::string table = "X=1\n";
  const std::string good = Format("%02X", MetaTableCheckByte(table));
  const std::string offByOne = Format("%02X", (MetaTableCheckByte(table) + 1) & 0xFF);
  const Case cases[] = {
      {"check off by one", table + kEtx + offByOne, "Checksum error on received table."},
      {"no check digits", table + kEtx, "Generic card has not sent a checksum."},
      {"empty", std::string(1, kEtx) + Format("%02X", MetaTableCheckByte("")),
       "Generic card has reported an empty table."},
      {"unknown command", "Unknown command\r\n", "Error - Unable to read meta table"},
      {"overrun", std::string(16384, 'x'), "Generic card meta table read has overrun storage."},
      {"good", table + kEtx + good, "X=1"},
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

TEST_F(MetaTableTest, ConfigureSensorReportsCompletionOrFailure) {
  card.statuses = {0, 16, 0};
  ASSERT_TRUE(handler.Configure());
  handler.RunToEnd();
  EXPECT_EQ(handler.Lines().back(), "Sensor configuration complete.");
  EXPECT_EQ(Count(card.commands, "!X0302"), 1);

  card.statuses = {0, 133};
  ASSERT_TRUE(handler.Configure());
  handler.RunToEnd();
  EXPECT_EQ(handler.Lines().back(), "Sensor configuration failed.");
}

TEST_F(MetaTableTest, AbortSendsTheAbortCommandAndStopsTheChain) {
  card.stuckStatus = 7;
  ASSERT_TRUE(handler.SetTable(Write("A=1\n")));
  EXPECT_TRUE(handler.abortEnabled);
  handler.Tick();
  handler.Abort();
  EXPECT_FALSE(handler.Busy());
  EXPECT_FALSE(handler.abortEnabled);
  EXPECT_EQ(card.commands.back(), "!XAA00");
  EXPECT_EQ(handler.Lines().back(), "Meta table transfer aborted");
}

}  // namespace
}  // namespace klx::test
