// The COM settings offer the serial ports found at start-up.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <set>

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

}  // namespace
}  // namespace klx::ui
