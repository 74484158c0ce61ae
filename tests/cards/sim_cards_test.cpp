// The accessory cards against the simulated logger's cards, with the failures its profiles offer.
#include <gtest/gtest.h>

#include <algorithm>

#include "calibration/sim_link_fixture.h"
#include "card_fixture.h"
#include "cards/generic_card.h"
#include "cards/mmc_card.h"
#include "cards/modem.h"

namespace klx::test {
namespace {

const std::string kTable = "SENSOR=\x93OPT-4\x94\r\nBAUD=4800\r\nPOLL=M\r\n";

TEST(SimGenericCard, TableSentVerifiedAndReadBackWithTypographicQuotes) {
  for (const char* profile : {"VS-330-generic", "VS-330-generic-v3"}) {
    SCOPED_TRACE(profile);
    SimLinkFixture f(profile);
    ASSERT_TRUE(f.Connect());
    ASSERT_TRUE(MetaTableAccessAllowed(f.logger));
    MetaTableHandler h(f.logger, f.clock, f.host);
    ASSERT_EQ(h.Channels(), std::vector<int>{3});
    TempTable file(kTable);
    ASSERT_TRUE(h.SetTable(file.path));
    h.RunToEnd();
    EXPECT_EQ(h.outcome, MetaTableHandler::Outcome::Success) << h.Lines().back();

    ASSERT_TRUE(h.GetTable());
    h.RunToEnd();
    EXPECT_EQ(h.tableRead, "SENSOR=\"OPT-4\"\r\nBAUD=4800\r\nPOLL=M\r\n");
    EXPECT_EQ(h.Lines().back(), "POLL=M");
    const bool v4 = f.logger.state.genericCardVersion >= 4;
    EXPECT_EQ(f.Heard(v4 ? "!X05" : "!X02"), 1);
    EXPECT_EQ(f.Heard(v4 ? "!X04" : "!X01"), 2);

    // Live readings of the card's channel: the reply replaces the waiting line.
    ASSERT_TRUE(h.GetData(3));
    h.RunToEnd();
    EXPECT_EQ(h.outcome, MetaTableHandler::Outcome::Success);
    EXPECT_EQ(f.Heard("F03"), 1);
    EXPECT_EQ(h.Lines().end()[-2].rfind("Requesting data from: VS-330 6.20 04031", 0), 0u);
  }
}

TEST(SimGenericCard, FailuresOfTheCardGiveTheirMessages) {
  const std::pair<const char*, const char*> cases[] = {
      {"no-etx", "Error - failure in verification of meta table"},
      {"bad-checksum", "Error - failure in verification of meta table"},
      {"status-133", "Error - failed to read meta table"},
      {"config-fails", "Sensor configuration failed."},  // configured, no table sent
  };
  for (const auto& [profile, last] : cases) {
    SCOPED_TRACE(profile);
    SimLinkFixture f(std::string("VS-330-generic-") + profile);
    ASSERT_TRUE(f.Connect());
    MetaTableHandler h(f.logger, f.clock, f.host);
    TempTable file(kTable);
    ASSERT_TRUE(last[0] == 'S' ? h.Configure() : h.SetTable(file.path));
    const int64_t before = f.clock.MonotonicMs();
    h.RunToEnd();
    EXPECT_EQ(h.outcome, MetaTableHandler::Outcome::Failed);
    ASSERT_FALSE(h.Lines().empty());
    EXPECT_EQ(h.Lines().back(), last);
    // Every wait is bounded: at most the first poll, four waits of thirty tries and a read.
    EXPECT_LT(f.clock.MonotonicMs() - before, 6 * 35 * 1000);
  }
}

TEST(SimMmcCard, RefreshAndOneFile) {
  SimLinkFixture f("VS-330-mmc");
  ASSERT_TRUE(f.Connect());
  ASSERT_TRUE(MmcSdSupported(f.logger));
  ASSERT_TRUE(MmcSdAccessAllowed(f.logger));
  MmcSdCard mmc(f.logger, f.clock);
  mmc.Refresh();
  mmc.RunToEnd();
  ASSERT_TRUE(mmc.ok) << mmc.Lines().back();
  EXPECT_EQ(std::count(mmc.Lines().begin(), mmc.Lines().end(), "Memory size = 1921024KB"), 1);
  EXPECT_EQ(mmc.type, "SD 2GB FAT16");
  EXPECT_EQ(std::stoi(mmc.firstFile), 17);
  EXPECT_EQ(std::stoi(mmc.lastFile), 21);
  const size_t heard = f.simLogger->CommandLog().size();
  EXPECT_FALSE(mmc.FileContents(100000000));  // refused before it is sent
  EXPECT_EQ(f.simLogger->CommandLog().size(), heard);
  const std::string text = mmc.FileContents(21).value_or("");
  // The card sends the first 300 bytes of a longer file; all of them reach the list.
  EXPECT_EQ(text.substr(0, 15), "File 00000021\r\n");
  EXPECT_EQ(text.size(), 300u);
  EXPECT_EQ(mmc.Lines()[mmc.Lines().size() - 1], text.substr(text.rfind('\n') + 1));
}

TEST(SimModem, TableReadWrittenAndReadBackThenSleep) {
  SimLinkFixture f("NMK-7400-modem");
  ASSERT_TRUE(f.Connect());
  EXPECT_EQ(f.logger.state.modemControlLevel, 1u);
  ModemConfiguration m;
  ASSERT_TRUE(OpenModemSettings(f.logger, m));
  EXPECT_EQ(std::make_pair(m.FrontPorchMs(), m.BackPorchMs()), std::make_pair(150u, 100u));
  EXPECT_EQ(std::make_pair(int{m.activeLevel}, int{m.inactiveLevel}), std::make_pair(1, 0));

  std::string error;
  const auto edited = ModemFromFields("1000", "327675", "0", "1", error);
  ASSERT_TRUE(edited);
  ASSERT_TRUE(WriteModemSettings(f.logger, *edited));
  ModemConfiguration back;
  ASSERT_TRUE(ReadModemTable(f.logger, back));
  EXPECT_EQ(back, *edited);

  ASSERT_TRUE(ModemSleep(f.logger));
  EXPECT_FALSE(f.logger.state.connected);
  EXPECT_EQ(f.Heard("!B0D"), 1);
}

}  // namespace
}  // namespace klx::test
