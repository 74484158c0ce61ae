#include <gtest/gtest.h>

#include "card_fixture.h"
#include "cards/mmc_card.h"
#include "cards/modem.h"

namespace klx::test {
namespace {

struct MmcTest : CardTest {
  void SetUp() override {
    CardTest::SetUp();
    card.mmc = {{"!G00", "0003D090MMS\r\n"},
                {"!G04", "SDHC 2GB MMD\r\n"},
                {"!G02", "00000017MMF\r\n"},
                {"!G03", "00000042MML\r\n"},
                {"!GCC00000042", "2026/06/01 12:00:00,12.5\r\n2026/06/01 12:10:00,12.6\r\n"}};
  }
  MmcSdCard mmc{logger, clock};
};

TEST_F(MmcTest, EachMissingMarkerEndsTheRefreshWithItsMessage) {
  const std::pair<const char*, const char*> cases[] = {{"!G00", "Unable to read MMC/SD size"},
                                                       {"!G04", "Unable to read MMC/SD type"},
                                                       {"!G02", "Unable to read MMC/SD first file"},
                                                       {"!G03", "Unable to read MMC/SD last file"}};
  const auto replies = card.mmc;
  for (const auto& [command, message] : cases) {
    card.mmc = replies;
    card.mmc[command] = "garbage\r\n";
    card.commands.clear();
    mmc.Refresh();
    const int64_t took = Elapsed([&] { mmc.RunToEnd(); });
    EXPECT_FALSE(mmc.ok);
    EXPECT_EQ(mmc.Lines().back(), message);
    EXPECT_EQ(card.commands.back(), command);  // nothing after the failed step
    EXPECT_GE(took, MmcSdCard::kWaitSeconds * 1000);
    EXPECT_LT(took, (MmcSdCard::kWaitSeconds + 5) * 4 * 1000);
  }
}

TEST_F(MmcTest, FileNumbersAreRangeCheckedBeforeTheyAreSent) {
  EXPECT_EQ(MmcFileCommand(0).value_or(""), "!GCC00000000");
  EXPECT_EQ(MmcFileCommand(99999999).value_or(""), "!GCC99999999");
  EXPECT_FALSE(MmcFileCommand(100000000));
  EXPECT_FALSE(MmcFileCommand(-1));
  EXPECT_FALSE(mmc.FileContents(100000000));
  EXPECT_TRUE(device->log.empty());
  EXPECT_EQ(mmc.FileContents(42).value_or(""), card.mmc["!GCC00000042"]);
  EXPECT_EQ(mmc.Lines().back(), "2026/06/01 12:10:00,12.6");
}

TEST(ModemConfiguration, PorchesInFiveMillisecondCountsAndLevelFlags) {
  std::string error;
  const auto c = ModemFromFields("150", "47", "1", "2", error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->backPorch, 9);      // 47 ms: whole-number division
  EXPECT_EQ(c->inactiveLevel, 0);  // only 1 sets a level
  EXPECT_EQ(c->Pack(), (std::array<uint8_t, 5>{30, 0, 9, 0, 1}));
  EXPECT_EQ(ModemConfiguration::Unpack({0x10, 0x27, 0xFF, 0xFF, 3}).BackPorchMs(), 327675u);
  const auto top = ModemFromFields("327675", "0", "0", "1", error);
  ASSERT_TRUE(top);
  EXPECT_EQ(top->Pack(), (std::array<uint8_t, 5>{0xFF, 0xFF, 0, 0, 2}));
  for (const auto& [front, back] : {std::pair{"327680", "0"}, std::pair{"0", "4294967295"},
                                    std::pair{"-5", "0"}, std::pair{"", "0"}}) {
    error.clear();
    EXPECT_FALSE(ModemFromFields(front, back, "0", "0", error)) << front << "/" << back;
    EXPECT_FALSE(error.empty());
  }
}

struct ModemTest : CardTest {};

TEST_F(ModemTest, AWriteThatIsRefusedOrReadsBackOtherwiseIsTold) {
  ModemConfiguration c;
  ASSERT_TRUE(OpenModemSettings(logger, c));
  card.corruptModemWrite = true;
  EXPECT_FALSE(WriteModemSettings(logger, c));
  EXPECT_TRUE(host.Saw("tell", "ERROR #12 Modem configuration compare error."));
  card.nakModemWrite = true;
  EXPECT_FALSE(WriteModemSettings(logger, c));
  EXPECT_TRUE(host.Saw("tell", "ERROR #10 Modem configuration send error."));
}

TEST_F(ModemTest, ALoggingLoggerIsRefusedAndTheValuesStay) {
  card.loggerStatus = 2;
  ModemConfiguration c;
  c.frontPorch = 7;
  EXPECT_FALSE(OpenModemSettings(logger, c));
  EXPECT_TRUE(host.Saw("tell", "Cannot read the modem parameters at this time."));
  EXPECT_EQ(c.frontPorch, 7);
  EXPECT_EQ(std::count(card.commands.begin(), card.commands.end(), "R0800"), 0);
}

}  // namespace
}  // namespace klx::test
