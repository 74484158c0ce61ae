// The MMC/SD card's and the modem's failures against the simulated cards.
#include <gtest/gtest.h>

#include "calibration/sim_link_fixture.h"
#include "cards/mmc_card.h"
#include "cards/modem.h"

namespace klx::test {
namespace {

TEST(MmcCard, EachMissingMarkerEndsTheRefreshWithItsMessage) {
  const std::pair<const char*, const char*> cases[] = {{"!G00", "Unable to read MMC/SD size"},
                                                       {"!G04", "Unable to read MMC/SD type"},
                                                       {"!G02", "Unable to read MMC/SD first file"},
                                                       {"!G03", "Unable to read MMC/SD last file"}};
  for (const auto& [command, message] : cases) {
    SimLinkFixture f("VS-330-mmc");
    ASSERT_TRUE(f.Connect());
    f.simLogger->AnswerUnknown(command);
    MmcSdCard mmc(f.logger, f.clock);
    mmc.Refresh();
    const int64_t before = f.clock.MonotonicMs();
    mmc.RunToEnd();
    const int64_t took = f.clock.MonotonicMs() - before;
    EXPECT_FALSE(mmc.ok);
    EXPECT_EQ(mmc.Lines().back(), message);
    EXPECT_EQ(f.simLogger->CommandLog().back(), command);  // nothing after the failed step
    EXPECT_GE(took, MmcSdCard::kWaitSeconds * 1000);
    EXPECT_LT(took, (MmcSdCard::kWaitSeconds + 5) * 4 * 1000);
  }
}

TEST(MmcCard, FileNumbersAreRangeChecked) {
  EXPECT_EQ(MmcFileCommand(0).value_or(""), "!GCC00000000");
  EXPECT_EQ(MmcFileCommand(99999999).value_or(""), "!GCC99999999");
  EXPECT_FALSE(MmcFileCommand(100000000));
  EXPECT_FALSE(MmcFileCommand(-1));
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

TEST(SimModem, ALoggingLoggerIsRefusedAndFailedWritesAreTold) {
  SimLinkFixture logging("NMK-7400-modem", [](sim::SimProfile& p) { p.status = 2; });
  ASSERT_TRUE(logging.Connect());
  ModemConfiguration c;
  c.frontPorch = 7;
  EXPECT_FALSE(OpenModemSettings(logging.logger, c));
  EXPECT_TRUE(logging.host.Saw("tell", "Cannot read the modem parameters at this time."));
  EXPECT_EQ(c.frontPorch, 7);
  EXPECT_EQ(logging.Heard("R0800"), 0);

  SimLinkFixture f("NMK-7400-modem");
  ASSERT_TRUE(f.Connect());
  f.simLogger->NakNextWrites(-1);
  EXPECT_FALSE(WriteModemSettings(f.logger, c));
  EXPECT_TRUE(f.host.Saw("tell", "ERROR #10 Modem configuration send error."));
  f.simLogger->NakNextWrites(0);
  f.simLogger->AnswerUnknown("R0800");
  EXPECT_FALSE(WriteModemSettings(f.logger, c));
  EXPECT_TRUE(f.host.Saw("tell", "ERROR #11 Modem configuration retrieve error."));
}

}  // namespace
}  // namespace klx::test
