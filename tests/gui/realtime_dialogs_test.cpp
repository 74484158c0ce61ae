// The real-time windows on simulated loggers: live readings, the fetch command, GPS test, limits.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include "calibration/read.h"
#include "gui/qt_test_app.h"
#include "realtime/ui/gps_test_dialog.h"
#include "realtime/ui/limits_dialog.h"
#include "realtime/ui/live_readings_dialog.h"
#include "shell/limits_file.h"
#include "shell/messages.h"

namespace klx::ui {
namespace {

namespace fs = std::filesystem;
using test::OnNextModal;
using test::ReadText;
using test::RunUntil;

class RealtimeDialogTest : public ::testing::Test {
 protected:
  void UseLogger(const std::string& name) {
    std::string error;
    ASSERT_TRUE(session->SelectPort(name, &error)) << error;
  }
  // A copy of the profile with `keys` replaced by `added`; its "sim:" name.
  std::string EditedProfile(const std::string& profile, std::initializer_list<const char*> keys,
                            const std::string& added) {
    std::string text = ReadText(fs::path(KLX_SIM_PROFILES) / (profile + ".profile"));
    for (const char* key : keys) {
      const size_t at = text.find(std::string("\n") + key + " = ");
      if (at != std::string::npos) text.erase(at + 1, text.find('\n', at + 1) - at);
    }
    const fs::path file = rig.dir / (profile + "-edited.profile");
    std::ofstream(file) << text << "\n" << added << "\n";
    return "sim:" + file.string();
  }
  // The profile's deployment moved into the coming year, in the given status.
  std::string ProfileWithStatus(const std::string& profile, int status) {
    return EditedProfile(
        profile, {"status", "start", "end"},
        "start = 270101000000\nend = 270201000000\nstatus = " + std::to_string(status));
  }
  int FetchCommands(const std::string& logger) {
    int n = 0;
    for (const std::string& c : rig.sims->Logger(logger)->CommandLog())
      if (!c.empty() && c[0] == 'F') ++n;
    return n;
  }

  RecordingHost host;
  test::SimSession rig{host, "rtgui"};
  VirtualClock& clock = rig.clock;
  std::unique_ptr<Session>& session = rig.session;
};

TEST(SingleChannelReading, CountsAndEngineeringText) {
  DataSet context;
  context.logger.channelTypes = "TP";
  context.logger.channelCount = 2;
  context.channelCount = 2;
  context.calibration.coef[1] = {-10.0, 1000.0, 0.0, 0.0};
  // Half of full scale on a pressure channel of -10 + 1000 x.
  EXPECT_NEAR(SingleChannelReading("800000\r\n", context, 1, false).value_or(0), 490.0, 1e-9);
  EXPECT_NEAR(SingleChannelReading("7f0000", context, 1, false).value_or(0), 486.09375, 1e-9);
  // Not six hexadecimal digits: nothing, whatever the logger sent.
  for (const char* bad : {"", "80000\r\n", "80000G\r\n"})
    EXPECT_FALSE(SingleChannelReading(bad, context, 1, false)) << bad;
  // Engineering units: the last number before "FET".
  EXPECT_DOUBLE_EQ(
      SingleChannelReading("TIM 26 6 1 12 0 0   12.3456 FET", context, 0, true).value_or(0),
      12.3456);
  EXPECT_FALSE(SingleChannelReading("TIM 26 6 1 12 0 0 12.3456", context, 0, true));
}

TEST_F(RealtimeDialogTest, LiveReadingsFetchEveryChannelFreezeAndWrap) {
  ASSERT_TRUE(rig.Connect("sim:VS-330"));
  ASSERT_EQ(session->logger.state.channelCount, 3);
  ASSERT_EQ(ReadCalibration(session->logger, session->calibration), CalibrationRead::Succeeded);
  LiveReadingsDialog dialog(*session, host);
  dialog.Timer().setInterval(5);
  dialog.show();
  // Channel by channel: each gets its value.
  for (int channel = 1; channel <= 3; ++channel) {
    dialog.ChannelField()->setValue(channel);
    ASSERT_TRUE(RunUntil([&] { return !dialog.ValueLabel(channel - 1)->text().isEmpty(); }))
        << "channel " << channel;
  }
  const auto& log = rig.sims->Logger("VS-330")->CommandLog();
  EXPECT_NE(std::find(log.begin(), log.end(), "F03"), log.end());
  // A logger below the extended command set has its averaging switched off first.
  EXPECT_NE(std::find(log.begin(), log.end(), "W0100"), log.end());
  EXPECT_FALSE(session->deployment.averagingEnabled);

  // The field wraps at both ends.
  dialog.ChannelField()->stepUp();
  EXPECT_EQ(dialog.ChannelField()->value(), 1);
  dialog.ChannelField()->stepDown();
  EXPECT_EQ(dialog.ChannelField()->value(), 3);

  // Freeze: no more fetch commands until Run.
  dialog.FreezeButton()->click();
  const int frozenAt = FetchCommands("VS-330");
  RunUntil([] { return false; });
  EXPECT_EQ(FetchCommands("VS-330"), frozenAt);
  dialog.FreezeButton()->click();
  EXPECT_TRUE(RunUntil([&] { return FetchCommands("VS-330") > frozenAt; }));

  dialog.FinishButton()->click();
  EXPECT_FALSE(dialog.Timer().isActive());
}

// "Auto-ranging" pauses the fetching; the choice goes to the logger once its countdown is at 5.
TEST_F(RealtimeDialogTest, LiveReadingsChangeTheGainOfARangeSwitchingChannel) {
  std::string extended = "00", behaviour = "01";
  for (int c = 1; c < 26; ++c) {
    extended += c == 1 ? " 00" : " 02";
    behaviour += c == 1 ? " 06" : " FF";
  }
  const std::string port =
      EditedProfile("VS-330", {"channels", "cap.0"},
                    "channels = YTP\ncap.0 = 0x00001085\ncap.8 = 0x04\ntable.4 = " + extended +
                        "\ntable.5 = " + behaviour);
  ASSERT_TRUE(rig.Connect(port));
  ASSERT_TRUE(session->logger.state.rsCommandFlags & 0x04u);
  LiveReadingsDialog dialog(*session, host);
  ASSERT_NE(dialog.AutoRangingButton(), nullptr);
  ASSERT_TRUE(dialog.Timer().isActive());

  session->link.linkActivityCountdown = 7;
  QTimer countdown;  // the main window's once-a-second tick, faster
  QObject::connect(&countdown, &QTimer::timeout, [&] { session->link.TickSecond(); });
  countdown.start(150);
  bool seen = false;
  OnNextModal<QDialog>(
      [&](QDialog& d) {
        EXPECT_FALSE(dialog.Timer().isActive()) << "fetching pauses";
        const auto radios = d.findChildren<QRadioButton*>();
        ASSERT_EQ(radios.size(), 2);
        radios[1]->setChecked(true);                    // "Fixed gain"
        d.findChild<QComboBox*>()->setCurrentIndex(2);  // "500NTU"
        d.accept();
      },
      &seen);
  dialog.AutoRangingButton()->click();
  EXPECT_TRUE(seen);
  EXPECT_TRUE(dialog.Timer().isActive()) << "fetching resumes";
  const auto table = rig.sims->Logger(port.substr(4))->Table(5);
  ASSERT_TRUE(table);
  EXPECT_EQ((*table)[1], 2 * 32 + 1 * 8 + 6);
  dialog.FinishButton()->click();
}

// The fetch command refuses a logging logger and an enabled VS-550; an idle one gets the window.
TEST_F(RealtimeDialogTest, FetchCommandRefusesLoggingLoggersAndOpensForAnIdleOne) {
  const std::tuple<std::string, int, std::string> cases[] = {
      {"VS-550", 1, "Unable to perform fetch while VS-550 logger is enabled"},
      {"VS-330", 2, MessageText(Msg::LoggingCannotFetch)},
  };
  for (const auto& [profile, status, text] : cases) {
    SCOPED_TRACE(profile);
    host.events.clear();
    UseLogger(ProfileWithStatus(profile, status));
    session->logger.state.connected = false;
    bool opened = true;
    OnNextModal<QDialog>([](QDialog&) {}, &opened);
    RunFetchLiveReadingsCommand(nullptr, *session, host);
    QApplication::processEvents();
    EXPECT_FALSE(opened);
    EXPECT_TRUE(host.Saw("tell", text));
  }
  UseLogger("sim:VS-330");
  session->logger.state.connected = false;
  bool seen = false;
  OnNextModal<LiveReadingsDialog>([](LiveReadingsDialog& d) { d.FinishButton()->click(); }, &seen);
  RunFetchLiveReadingsCommand(nullptr, *session, host);
  EXPECT_TRUE(seen);
}

// The dialog shows the receiver's fix while the GPS port is open.
TEST_F(RealtimeDialogTest, GpsTestShowsTheReceiversFix) {
  session->link.gpsPort = session->ports.NumberFor("sim:GPS");
  bool seen = false;
  QString text;
  OnNextModal<GpsTestDialog>(
      [&](GpsTestDialog& d) {
        for (int i = 0; i < 40 && d.MessageLine()->text().isEmpty(); ++i) {
          clock.Advance(250);
          d.Tick();
        }
        text = d.MessageLine()->text();
        EXPECT_TRUE(session->link.IsOpen(PortSlot::Gps));
        d.CloseButton()->click();
      },
      &seen);
  RunGpsTestCommand(nullptr, *session, host);
  ASSERT_TRUE(seen);
  EXPECT_TRUE(text.startsWith("Message GGA:  4807.0") && text.endsWith(",E")) << text.toStdString();
  EXPECT_FALSE(session->link.IsOpen(PortSlot::Gps)) << "closed after the dialog";
}

TEST_F(RealtimeDialogTest, LimitsMinimumAndMaximumPushEachOtherAndOkWritesTheFile) {
  LimitsDialog dialog(session->limits);
  QSpinBox* min = dialog.MinimumBox("Temperature");
  QSpinBox* max = dialog.MaximumBox("Temperature");
  EXPECT_EQ(min->value(), -5);
  EXPECT_EQ(max->value(), 35);
  min->setValue(40);
  EXPECT_EQ(max->value(), 40) << "raising the minimum above the maximum raises it";
  max->setValue(-8);
  EXPECT_EQ(min->value(), -8) << "lowering the maximum below the minimum lowers it";
  max->setValue(20);
  EXPECT_EQ(min->value(), -8);
  EXPECT_EQ(dialog.Limits().Find("Temperature")->upper, 20);

  // Through the command: OK writes the file.
  const fs::path file = LimitsFilePath(rig.dir);
  bool seen = false;
  OnNextModal<LimitsDialog>(
      [&](LimitsDialog& d) {
        d.MinimumBox("Temperature")->setValue(2);
        d.MaximumBox("Temperature")->setValue(28);
        d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
      },
      &seen);
  RunRealTimeLimitsCommand(nullptr, *session);
  ASSERT_TRUE(seen);
  EXPECT_NE(ReadText(file).find("Temperature=28 2\n"), std::string::npos) << ReadText(file);
  EXPECT_EQ(session->limits.Find("Temperature")->lower, 2);
}

}  // namespace
}  // namespace klx::ui
