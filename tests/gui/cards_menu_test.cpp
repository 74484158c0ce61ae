// The accessory-card commands of the main window on simulated loggers: meta table, MMC/SD, modem.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "cards/ui/card_windows.h"
#include "gui/main_window_rig.h"
#include "shell/command_ids.h"

namespace klx::ui {
namespace {

using CardsMenuTest = test::MainWindowRig;

TEST_F(CardsMenuTest, MetaTableWindowReadsAndSavesTheCardsTable) {
  UseSim("VS-330-generic");
  nextFile = (Dir() / "copy").string();
  ASSERT_TRUE(WithDialog<MetaTableWindow>(cmd::kViewLoadMetaTable, [](MetaTableWindow& w) {
    QTest::mouseClick(w.Button("Get table from sensor"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.Timer().isActive(); }, 15000));
    ASSERT_GT(w.List()->count(), 0);
    QTest::mouseClick(w.Button("Save table to file"), Qt::LeftButton);
  }));
  ASSERT_FALSE(choices.empty());
  EXPECT_EQ(choices.back().initialDirectory, (Dir() / "meta").string());
  EXPECT_EQ(test::ReadText(Dir() / "copy.txt").substr(0, 17), "SENSOR=\"CTD-90\"\r\n");

  UseSim(
      "VS-330-generic", [](sim::SimProfile& p) { p.status = 2; }, "generic-logging");
  EXPECT_FALSE(WithDialog<MetaTableWindow>(cmd::kViewLoadMetaTable, [](MetaTableWindow&) {}));
  QApplication::processEvents();  // the driver waiting for a window that never opened
  EXPECT_TRUE(Told("Meta Table Access: Logging in progress or enabled."));
}

TEST_F(CardsMenuTest, MmcWindowOpensOnlyForALoggerWithTheCard) {
  UseSim("VS-330");
  window->RunCommand(cmd::kMmcSdMemory);
  EXPECT_EQ(Status(), "Error: Logger connected does not support the MMC/SD memory");
  UseSim("VS-330-mmc");
  ASSERT_TRUE(WithDialog<MmcSdWindow>(cmd::kMmcSdMemory, [](MmcSdWindow& w) {
    EXPECT_EQ(w.List()->item(0)->text(), "Refreshing MMC/SD card data");
  }));
}

TEST_F(CardsMenuTest, ModemSettingsWrittenAndReadBackThenTheModemSleeps) {
  UseSim("NMK-7400-modem");
  window->RunCommand(cmd::kConnect);
  window->session().logger.AssessCapabilities();  // as every command that assesses the logger
  EXPECT_TRUE(window->Action(cmd::kModemSleep)->isVisible());
  ASSERT_TRUE(WithDialog<ModemDialog>(cmd::kSetModem, [](ModemDialog& d) {
    EXPECT_EQ(d.Field(0)->text(), "150");
    d.Field(0)->setText("300");
    d.accept();
  }));
  EXPECT_FALSE(Told("ERROR #1"));
  ASSERT_TRUE(WithDialog<ModemDialog>(cmd::kSetModem, [](ModemDialog& d) {
    EXPECT_EQ(d.Field(0)->text(), "300");
    d.reject();
  }));
  window->RunCommand(cmd::kModemSleep);
  EXPECT_FALSE(window->Action(cmd::kModemSleep)->isVisible());
  EXPECT_FALSE(window->session().logger.state.connected);
}

}  // namespace
}  // namespace klx::ui
