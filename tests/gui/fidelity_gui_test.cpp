// The desktop's view of what is really there: the serial ports found at start-up, and the
// logger's status and battery polled while the setup dialog is open.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QLabel>
#include <QTest>
#include <set>

#include "deployment/enable.h"
#include "deployment/status.h"
#include "deployment/ui/setup_command.h"
#include "deployment/ui/setup_dialog.h"
#include "desktop/com_settings_dialog.h"
#include "desktop/main_window.h"
#include "gui/qt_test_app.h"
#include "shell/settings.h"
#include "shell/status.h"
#include "shell/temp_dir.h"

namespace klx::ui {
namespace {

class PortScan : public test::TempDirTest {};

// A device that opens is offered; one that does not exist is not, in either list.
TEST_F(PortScan, ComSettingsOfferOnlyThePortsFoundAtStart) {
  test::QtApp();
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  const std::string missing = (Dir() / "no-such-port").string();
  ASSERT_TRUE(Settings(Dir()).WriteSettings());
  MainWindow window(Dir(), {name, missing});
  Session& session = window.session();
  const int present = session.ports.NumberFor(name);
  const int absent = session.ports.NumberFor(missing);
  EXPECT_TRUE(session.link.PortAvailable(present));
  EXPECT_FALSE(session.link.PortAvailable(absent));

  std::set<std::string> offered;
  for (const PortEntry& e : PortEntries(session)) offered.insert(e.name);
  EXPECT_TRUE(offered.count(Format("COM%d", present)));
  EXPECT_FALSE(offered.count(Format("COM%d", absent)));
  close(slave);
  close(master);
}

// While the setup dialog is open its tick reads the logger's status and battery voltage.
TEST(SetupTick, PollsTheLoggersStatusAndBattery) {
  RecordingHost host;
  test::SimSession rig{host, "setuptick"};
  ASSERT_TRUE(rig.Connect("sim:VS-330"));
  Session& session = *rig.session;
  LoggerSetup setup(session.logger, rig.clock, session.batchValues);
  ASSERT_GE(PrepareLoggerSetup(session, setup), 0);
  ASSERT_TRUE(session.logger.state.reportsBatteryVoltage);
  SetupDialog dialog(session, &setup, session.logger.state);
  ASSERT_NE(dialog.PolledStatus(), nullptr);
  const size_t before = rig.sims->Logger("VS-330")->CommandLog().size();
  QTest::qWait(1300);  // one tick of the dialog's one-second timer
  const auto& log = rig.sims->Logger("VS-330")->CommandLog();
  const std::set<std::string> polled(log.begin() + static_cast<long>(before), log.end());
  EXPECT_TRUE(polled.count("T") && polled.count("!D"));
  const std::string shown = dialog.PolledStatus()->text().toStdString();
  EXPECT_EQ(shown.rfind(std::string("Logger status: ") + StatusName(session.logger.status.code), 0),
            0u)
      << shown;
  EXPECT_NE(shown.find("Battery: " + session.logger.batteryVoltage), std::string::npos) << shown;
}

}  // namespace
}  // namespace klx::ui
