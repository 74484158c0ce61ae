// The accessory-card commands of the main window on simulated loggers: meta table, MMC/SD, modem.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "cards/ui/card_windows.h"
#include "gui/main_window_rig.h"
#include "shell/command_ids.h"
#include "sim/sim_logger.h"
#include "sim/sim_profile.h"

namespace klx::ui {
namespace {

class CardsMenuTest : public test::MainWindowRig {
 protected:
  void Use(const std::string& name, const std::function<void(sim::SimProfile&)>& edit = {}) {
    window->session().link.CloseSerialPort(PortSlot::Logger);
    window->session().logger.state.connected = false;
    std::string error;
    if (edit) {
      sim::SimProfile profile;
      ASSERT_TRUE(sim::LoadProfile(name, profile, error)) << error;
      edit(profile);
      window->SimLoggers().Add(name + "-edited", std::make_shared<sim::SimLogger>(profile));
    }
    ASSERT_TRUE(window->session().SelectPort("sim:" + name + (edit ? "-edited" : ""), &error))
        << error;
  }
};

TEST_F(CardsMenuTest, MetaTableWindowReadsAndSavesTheCardsTable) {
  Use("VS-330-generic");
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

  Use("VS-330-generic", [](sim::SimProfile& p) { p.status = 2; });
  EXPECT_FALSE(WithDialog<MetaTableWindow>(cmd::kViewLoadMetaTable, [](MetaTableWindow&) {}));
  QApplication::processEvents();  // the driver waiting for a window that never opened
  EXPECT_TRUE(Told("Meta Table Access: Logging in progress or enabled."));
}

TEST_F(CardsMenuTest, MmcWindowOpensOnlyForALoggerWithTheCard) {
  Use("VS-330");
  window->RunCommand(cmd::kMmcSdMemory);
  EXPECT_EQ(Status(), "Error: Logger connected does not support the MMC/SD memory");
  Use("VS-330-mmc");
  ASSERT_TRUE(WithDialog<MmcSdWindow>(cmd::kMmcSdMemory, [](MmcSdWindow& w) {
    EXPECT_EQ(w.List()->item(0)->text(), "Refreshing MMC/SD card data");
  }));
}

TEST_F(CardsMenuTest, ModemSettingsWrittenAndReadBackThenTheModemSleeps) {
  Use("NMK-7400-modem");
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
