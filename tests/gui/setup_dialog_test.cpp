// The setup dialog on the simulated VS-330 and the threshold, burst and range dialogs it opens.
#include "deployment/ui/setup_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>

#include "deployment/enable.h"
#include "deployment/range_switching.h"
#include "deployment/ui/range_switching_dialog.h"
#include "deployment/ui/setup_command.h"
#include "gui/qt_test_app.h"
#include "shell/command_ids.h"
#include "shell/datetime.h"
#include "sim/sim_profile.h"

namespace klx::ui {
namespace {

QDateTime Qt(const SystemTime& t) {
  return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
}

// A day's deployment from two minutes after the logger clock, enabled a second a tick; the ticks.
int Enable(SetupDialog& dialog, const LoggerSetup& setup, VirtualClock& clock) {
  const SystemTime start = AddSeconds(setup.view.loggerClock, 120);
  dialog.StartEdit()->setDateTime(Qt(start));
  dialog.EndEdit()->setDateTime(Qt(AddSeconds(start, 86400)));
  EXPECT_TRUE(dialog.EnableButton()->isEnabled()) << dialog.Message().toStdString();
  dialog.PressEnable();
  int ticks = 0;
  for (; dialog.Waiting() && ticks < 500; ++ticks) {
    clock.Advance(1000);
    dialog.TickOnce();
  }
  return ticks;
}

class SetupDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.Connect("sim:VS-330"));
    setup = std::make_unique<LoggerSetup>(session->logger, clock, session->batchValues);
    ASSERT_EQ(PrepareLoggerSetup(*session, *setup), 4);
    ASSERT_EQ(session->logger.state.channelCount, 3);
    setup->eraseAccepted = true;  // the questions about the old data are tested in the core
    dialog = std::make_unique<SetupDialog>(*session, setup.get(), session->logger.state);
  }

  RecordingHost host;
  test::SimSession rig{host, "setupgui"};
  VirtualClock& clock = rig.clock;
  std::unique_ptr<Session>& session = rig.session;
  std::unique_ptr<LoggerSetup> setup;
  std::unique_ptr<SetupDialog> dialog;
};

TEST_F(SetupDialogTest, ShowsTheLoggersScheduleRefusesItsPastStartAndTitlesNmjModels) {
  EXPECT_EQ(dialog->StatusField()->text(), "Logging Complete");
  EXPECT_EQ(dialog->StartEdit()->dateTime(), Qt(SystemTime{2026, 6, 0, 1, 0, 0, 0, 0}));
  // The old deployment starts before the logger clock (the messages are the validation's).
  EXPECT_EQ(dialog->MessageIcon(), 1);
  EXPECT_FALSE(dialog->EnableButton()->isEnabled());
  // The tide-and-wave title follows the model name, not the wave capability bit.
  LoggerState nmj = SimulatedLogger("NMJ-7400"), nmk = SimulatedLogger("NMK-7400");
  nmj.waves = false;
  nmk.waves = true;
  EXPECT_EQ(SetupDialog(*session, nullptr, nmj).windowTitle(), "KLX Logger - NMJ Setup");
  EXPECT_EQ(SetupDialog(*session, nullptr, nmk).windowTitle(), "KLX Logger - Setup");
}

TEST_F(SetupDialogTest, EveryEditRechecksTheMessageLineAndEnable) {
  const SystemTime start = AddSeconds(setup->view.loggerClock, 3600);
  dialog->StartEdit()->setDateTime(Qt(start));
  dialog->EndEdit()->setDateTime(Qt(AddSeconds(start, -60)));
  EXPECT_EQ(dialog->Message(), "Error: Start time greater than or equal to End time.");
  EXPECT_FALSE(dialog->EnableButton()->isEnabled());
  dialog->EndEdit()->setDateTime(Qt(AddSeconds(start, 86400)));
  EXPECT_TRUE(dialog->EnableButton()->isEnabled());
  EXPECT_EQ(dialog->MessageIcon(), 0);
  // The start mode list is an edit too: start now with an end in the past of the logger clock.
  dialog->StartList()->setCurrentIndex(1);
  dialog->EndEdit()->setDateTime(Qt(AddSeconds(setup->view.loggerClock, -60)));
  EXPECT_EQ(dialog->Message(), "Error: End time before the current time.");
}

TEST_F(SetupDialogTest, EnableProgramsTheLogger) {
  const SystemTime start = AddSeconds(setup->view.loggerClock, 120);
  EXPECT_GT(Enable(*dialog, *setup, clock), 1) << "the logger held data: it is erased first";
  EXPECT_EQ(dialog->LastStep(), EnableStep::Enabled);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(rig.sims->Logger("VS-330")->Status(), 1);
  EXPECT_EQ(session->batchValues.startTime, start);
  EXPECT_FALSE(session->deployment.changedSinceBatch);
}

// The burst dialog: the spin control steps the wave interval by one tide period, a new tide
// period keeps their count; Accept takes the plan, Discard restores it.
TEST_F(SetupDialogTest, BurstDialogFitsTheWaveIntervalToTheTidePeriod) {
  DeploymentParameters& p = session->deployment;
  p.waveEnabled = true;
  p.waveRateHz = 4;
  p.burstLength = 2048;           // 512 s at 4 Hz
  p.samplePeriod = {0, 2, 8};     // 128 s
  p.burstInterval = {3, 33, 20};  // 100 tide periods
  p.averagingEnabled = false;
  SystemTime start = AddSeconds(clock.LocalTime(), 3600);
  start.milliseconds = 0;
  p.startTime = start;
  p.endTime = AddSeconds(start, 86400);
  SetupDialog nmj(*session, nullptr, SimulatedLogger("NMJ-7400"));
  const auto press = [](QDialog& d, const QString& text) {
    for (auto* b : d.findChildren<QPushButton*>())
      if (b->text() == text) b->click();
  };
  bool opened = false;
  test::OnNextModal<QDialog>(
      [&](QDialog& d) {
        auto* interval = d.findChild<QTimeEdit*>("waveInterval");
        ASSERT_TRUE(interval);
        const auto shows = [interval] { return interval->time().toString("HH:mm:ss"); };
        EXPECT_EQ(shows(), "03:33:20");
        d.findChild<QSpinBox*>("waveSpin")->stepDown();
        EXPECT_EQ(shows(), "03:31:12");
        d.findChild<QTimeEdit*>("tidePeriod")->setTime(QTime(0, 4, 16));  // still 99 of them
        EXPECT_EQ(shows(), "07:02:24");
        d.findChild<QComboBox*>("rate")->setCurrentIndex(1);
        press(d, "Accept");
      },
      &opened);
  nmj.EditBurst();
  ASSERT_TRUE(opened);
  EXPECT_EQ(p.waveRateHz, 2);
  EXPECT_EQ(p.samplePeriod, (Period{0, 4, 16}));
  EXPECT_EQ(p.burstInterval, (Period{7, 2, 24}));

  // Discard puts the burst settings back.
  test::OnNextModal<QDialog>([&](QDialog& d) {
    d.findChild<QSpinBox*>("waveSpin")->stepUp();
    d.findChild<QCheckBox*>("waves")->setChecked(false);
    press(d, "Discard");
  });
  nmj.EditBurst();
  EXPECT_EQ(p.burstInterval, (Period{7, 2, 24}));
  EXPECT_TRUE(p.waveEnabled);
}

// A suspended logger (status 5) offers "Resume/Enable" and its old start is not held against it.
TEST_F(SetupDialogTest, SuspendedLoggerOffersResumeEnable) {
  EXPECT_EQ(dialog->EnableButton()->text(), "Enable");  // status 4 is not suspended

  RecordingHost quiet;
  test::SimSession suspendedRig(quiet, "setupgui-suspended");
  Session& other = *suspendedRig.session;
  sim::SimProfile profile;
  std::string error;
  ASSERT_TRUE(sim::LoadProfile("VS-330", profile, error)) << error;
  profile.status = 2;  // logging since 11:00, until the end of the year
  profile.clock = LoggerDateText(clock.LocalTime());
  profile.start = "261206110000";
  profile.end = "261231000000";
  auto logger = std::make_shared<sim::SimLogger>(profile);
  suspendedRig.sims->Add("suspended", logger);
  ASSERT_TRUE(suspendedRig.Connect("sim:suspended"));
  other.logger.CommSet(22);  // "!S"
  ASSERT_EQ(logger->Status(), 5);
  LoggerSetup suspended(other.logger, clock, other.batchValues);
  ASSERT_EQ(PrepareLoggerSetup(other, suspended), 5);
  SetupDialog d(other, &suspended, other.logger.state);
  EXPECT_EQ(d.EnableButton()->text(), "Resume/Enable");
  // The suspended deployment started before the logger clock; resuming does not hold it.
  EXPECT_TRUE(d.EnableButton()->isEnabled()) << d.Message().toStdString();
}

// A host that runs posted commands from the event loop, as the main window does.
struct PostingHost : RecordingHost {
  void PostCommand(int commandId) override {
    RecordingHost::PostCommand(commandId);
    if (run) QTimer::singleShot(0, [this, commandId] { run(commandId); });
  }
  std::function<void(int)> run;
};

// A read-back that fails after the erase posts "&Setup"; no second dialog opens.
TEST(SetupDialogFailure, FailedReadBackLeavesOneDialog) {
  PostingHost host;
  test::SimSession rig(host, "setupfail");
  Session& session = *rig.session;
  VirtualClock& clock = rig.clock;
  std::string error;
  ASSERT_TRUE(session.SelectPort("sim:NMJ-7400", &error)) << error;
  ASSERT_TRUE(session.logger.ConnectCommand());
  LoggerSetup setup(session.logger, clock, session.batchValues);
  ASSERT_GE(PrepareLoggerSetup(session, setup), 0);
  setup.eraseAccepted = true;
  rig.sims->Logger("NMJ-7400")->AnswerUnknown("!7");  // the wave parameters cannot be read back
  session.deployment.expectedWaterDepth = 12.0;  // the site's depth, entered with the burst plan
  SetupDialog dialog(session, &setup, session.logger.state);
  dialog.show();

  int opened = 0;
  host.run = [&](int id) {
    if (id != cmd::kSetup) return;
    // Should a second dialog open, count it and close it so the test goes on.
    QTimer::singleShot(50, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<SetupDialog*>(w); d && d != &dialog && d->isVisible()) {
          ++opened;
          d->reject();
        }
    });
    RunSetupCommand(nullptr, session, host);
  };
  Enable(dialog, setup, clock);
  EXPECT_EQ(dialog.LastStep(), EnableStep::Failed);
  EXPECT_TRUE(host.Saw("tell", "Wave parameters set incorrectly."));
  ASSERT_TRUE(host.Saw("post", "")) << "the link asks for the setup again";
  for (int i = 0; i < 10; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(opened, 0);
  EXPECT_TRUE(dialog.isVisible()) << "the dialog that failed is the one that stays";
  dialog.close();
}

TEST_F(SetupDialogTest, RangeSwitchingDialogWritesTheChoices) {
  // Turbidity auto-ranging, chlorophyll at a fixed gain it may leave, rhodamine user-switchable
  // only; the "Fixed gain" fourth channel is not offered.
  LoggerState& s = session->logger.state;
  s.channelCount = 4;
  s.channelTypes = "YFGI";
  RangeSwitching r;
  r.extended.fill(0);
  r.behaviour.fill(0xFF);
  r.behaviour[1] = 0 * 32 + 0 * 8 + 6;
  r.behaviour[2] = 2 * 32 + 1 * 8 + 5;
  r.behaviour[3] = 1 * 32 + 2 * 8 + 5;
  r.behaviour[4] = 0 * 32 + 3 * 8 + 5;
  bool seen = false, wrote = false;
  test::OnNextModal<QDialog>(
      [](QDialog& d) {
        const auto groups = d.findChildren<QGroupBox*>();
        ASSERT_EQ(groups.size(), 3);
        auto radios = [](QGroupBox* g) { return g->findChildren<QRadioButton*>(); };
        auto gain = [](QGroupBox* g) { return g->findChild<QComboBox*>(); };
        EXPECT_EQ(gain(groups[1])->currentText(), "50ug/l");
        EXPECT_FALSE(radios(groups[2])[0]->isEnabled()) << "user-switchable gain only";
        // Turbidity to a fixed 125NTU, the fluorometer back to auto-ranging.
        radios(groups[0])[1]->setChecked(true);
        gain(groups[0])->setCurrentIndex(1);
        radios(groups[1])[0]->setChecked(true);
        d.accept();
      },
      &seen);
  uint8_t turbidity = 0, fluorometer = 0;
  const bool accepted = EditRangeSwitching(dialog.get(), *session, r, [&] {
    wrote = true;
    turbidity = r.behaviour[1];
    fluorometer = r.behaviour[2];
  });
  EXPECT_TRUE(seen && accepted && wrote);
  EXPECT_EQ(turbidity, 1 * 32 + 1 * 8 + 6) << "gain 1, fixed gain on an auto-range sensor";
  EXPECT_EQ(fluorometer, 0xFF) << "auto-ranging";
}

}  // namespace
}  // namespace klx::ui
