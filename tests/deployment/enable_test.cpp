// The Enable sequence on simulated loggers, its questions and failures; range switching tables.
#include "deployment/enable.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "calibration/read.h"
#include "deployment/range_switching.h"
#include "deployment/status.h"
#include "session/retrieval.h"
#include "session/session.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/temp_dir.h"
#include "sim/sim_host.h"
#include "sim/sim_profile.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

// Remembers the icon of every question, and answers file choices with `file`.
struct IconHost : RecordingHost {
  Answer Ask(const std::string& caption, const std::string& text, Buttons buttons, BoxIcon icon,
             Answer defaultAnswer) override {
    askIcons.push_back(icon);
    return RecordingHost::Ask(caption, text, buttons, icon, defaultAnswer);
  }
  std::optional<std::string> ChooseFile(const FileChoice&) override { return file; }
  std::vector<BoxIcon> askIcons;
  std::optional<std::string> file;
};

using sim::test::MakeFresh;  // a logger before its first deployment: not enabled, memory empty

struct Files : TempDirTest {
  using TempDirTest::ReadFile;
};
const auto ReadAll = &Files::ReadFile;

// A connected, configured simulated logger on the host's time, erasing 64 KiB in 1.5 s.
const SystemTime kNow{2027, 1, 0, 10, 11, 0, 0, 0};
struct Rig : sim::test::SimSession<IconHost> {
  explicit Rig(const std::string& profileName,
               const std::function<void(sim::SimProfile&)>& edit = {})
      : SimSession(
            profileName,
            [&edit](sim::SimProfile& p) {
              p.eraseMsPer64k = 1500;
              p.clock = LoggerDateText(kNow);
              if (edit) edit(p);
            },
            kNow) {
    EXPECT_TRUE(session.logger.ConnectCommand());
    session.logger.AssessCapabilities();
    session.logger.CommGet(16);
  }

  int Open() {  // a fresh setup as the dialog opens it: the logger's status, or -1
    setup = std::make_unique<LoggerSetup>(session.logger, clock, session.batchValues);
    setup->logDirectory = dir;
    return setup->Open();
  }

  int Ready(int64_t length, Period period) {  // opened, with a plan
    const int status = Open();
    if (status >= 0) Plan(length, period);
    return status;
  }
  void Plan(int64_t length, Period period) {
    DeploymentParameters& p = session.deployment;
    p.startMode = kStartAtTime;
    p.startTime = AddSeconds(setup->view.loggerClock, 60);
    p.startTime.milliseconds = 0;
    p.endTime = AddSeconds(p.startTime, length);
    p.samplePeriod = period;
    p.averagingEnabled = false;
  }

  // Presses Enable and drives the erase wait as the timer would.
  EnableStep Enable(std::vector<Answer> answers = {Answer::Yes}) {
    host.answers = std::move(answers);
    EnableStep step = setup->PressEnable();
    for (ticks = 0; step == EnableStep::Waiting && ticks < 1000; ++ticks) {
      clock.Advance(1000);
      step = setup->Tick();
    }
    return step;
  }

  int Heard(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : logger->CommandLog()) n += c.rfind(prefix, 0) == 0;
    return n;
  }
  int Sent(const std::string& command) const {
    const auto& log = logger->CommandLog();
    return static_cast<int>(std::count(log.begin(), log.end(), command));
  }

  std::unique_ptr<LoggerSetup> setup;
  int ticks = 0;
};

TEST(Enable, OlderLoggerWithDataIsErasedAndEnabled) {
  Rig rig("VS-330");
  ASSERT_EQ(rig.Open(), 4);
  EXPECT_TRUE(MemoryHoldsData(rig.session.logger.state, rig.setup->dataPointer));
  rig.Plan(3600, {0, 0, 10});
  EXPECT_EQ(rig.Enable({Answer::No}), EnableStep::ReturnToDialog) << "the data are kept on No";
  EXPECT_GT(rig.logger->DataPointer(), 0x20000u);

  EXPECT_EQ(rig.Enable(), EnableStep::Enabled);
  EXPECT_GT(rig.ticks, 1) << "the erase is waited for";
  EXPECT_EQ(rig.logger->Status(), 1);
  EXPECT_EQ(rig.logger->DataPointer(), 0x20000u + 30);
  EXPECT_TRUE(rig.host.Saw("status", ": 'Enabled' to start at "));
  // The commands went out in order: stop, erase, threshold, schedule, enable.
  std::string order;
  for (const auto& c : rig.logger->CommandLog())
    if (c == "!9" || c == "N" || c.rfind("!A", 0) == 0 || c[0] == 'L' || c == "P")
      order += c.substr(0, 2) + ",";
  EXPECT_NE(order.find("!9,N,!A,L2,P,"), std::string::npos) << order;
  // Both questions (old data, then memory) carry the exclamation icon.
  ASSERT_FALSE(rig.host.askIcons.empty());
  for (BoxIcon icon : rig.host.askIcons) EXPECT_EQ(icon, BoxIcon::Warning);
}

// Real-time output at the logger's default baud rate ("!B%02X"), after the checks it needs.
TEST(Enable, RealTimeOutputCarriesTheDefaultBaudRate) {
  Rig rig("NMJ-7400", [](sim::SimProfile& p) {
    MakeFresh(p);
    p.capabilities[0] |= 0x800u;  // the external data connector
    p.defaultBaudCode = 28;       // 288000 / 30 = 9600 baud
  });
  ASSERT_EQ(rig.Open(), 0);
  LoggerSetup& setup = *rig.setup;
  EXPECT_EQ(setup.defaultBaudRate, 9600);
  rig.Plan(3600, {0, 0, 1});
  DeploymentParameters& p = rig.session.deployment;
  p.realtimeOutput = true;
  ASSERT_EQ(setup.Validate().code, kValidationOk) << setup.validation.message;

  setup.calibrationRead = false;
  EXPECT_EQ(setup.PressEnable(), EnableStep::ReturnToDialog);
  EXPECT_TRUE(rig.host.Saw("tell", "Logger not yet calibrated - realtime operation prohibited"));
  setup.calibrationRead =
      ReadCalibration(rig.session.logger, rig.session.calibration) == CalibrationRead::Succeeded;
  ASSERT_TRUE(setup.calibrationRead);
  setup.prepareRealTime = [&](DeploymentParameters& q) { return rig.session.PrepareRealTime(q); };
  rig.session.held.image.unsaved = true;
  EXPECT_EQ(rig.Enable(), EnableStep::ClosedToSave);
  rig.session.held.image.unsaved = false;
  // A 150-baud line cannot carry 19 bytes a second.
  setup.defaultBaudRate = 150;
  EXPECT_EQ(setup.PressEnable(), EnableStep::ReturnToDialog);
  EXPECT_TRUE(rig.host.Saw("tell", "requires a default baud rate greater than 190."));
  setup.defaultBaudRate = 9600;
  rig.Plan(3600, {0, 1, 0});
  rig.host.file = (rig.dir / "hex" / "live").string();
  ASSERT_EQ(rig.Enable({Answer::Yes, Answer::Yes, Answer::Yes}), EnableStep::Enabled);
  EXPECT_EQ(rig.Sent("!B1C"), 1);
  EXPECT_FALSE(setup.liveReadingsRequested) << "binary output goes to the real-time display";
  ASSERT_TRUE(rig.session.realTimeFiles);
  EXPECT_EQ(rig.session.realTimeFiles->data, rig.dir / "hex" / "live.hex");
}

TEST(Enable, StartNowIsRoundedAfterTheLoggerClock) {
  EXPECT_EQ(StartAfterClock(SystemTime{2027, 1, 0, 10, 12, 0, 3, 0}),
            (SystemTime{2027, 1, 0, 10, 12, 0, 20, 0}));
  EXPECT_EQ(StartAfterClock(SystemTime{2027, 1, 0, 10, 12, 0, 50, 0}).minute, 1);
}

TEST(Enable, LinearLoggerReadBackFailureIsReportedAndLogged) {
  Rig rig("NMJ-7400");
  ASSERT_GE(rig.Ready(3600, {0, 0, 10}), 0);
  rig.logger->AnswerUnknown("E");  // the end time cannot be read back
  EXPECT_EQ(rig.Enable(), EnableStep::Failed);
  EXPECT_TRUE(rig.host.Saw("tell", "End time set incorrectly.\nTry again."));
  EXPECT_NE(rig.logger->Status(), 1);
  EXPECT_LT(rig.ticks, 121) << "a linear logger's erase ends at 100 %, or earlier";
  // A failed set-up is entered in the logger's log and the day's log alike.
  const SystemTime host = rig.clock.LocalTime();
  const std::string text =
      ReadAll(rig.dir / "log" / Format("%06d.log", rig.session.logger.state.serial));
  EXPECT_EQ(ReadAll(rig.dir / "log" / Format("%04d%02d%02d.log", host.year, host.month, host.day)),
            text);
  EXPECT_TRUE(text.ends_with("Logger setup FAILED at logger time: " +
                             DateDisplayText(rig.session.logger.loggerClock) + "\n\n"))
      << text;
}

// The wave and logger-height commands follow the model name, not the wave capability bit.
TEST(Enable, WaveCommandsFollowTheModelName) {
  Rig nmj("NMJ-7400", [](sim::SimProfile& p) { p.capabilities[0] &= ~0x10000u; });
  // The same recorder named as a tide-only model, its wave bit still set.
  Rig nmk("NMJ-7400", [](sim::SimProfile& p) { p.model = "NMK-7400"; });
  ASSERT_FALSE(nmj.session.logger.state.waves);
  ASSERT_TRUE(nmk.session.logger.state.waves);
  for (Rig* rig : {&nmj, &nmk}) {
    ASSERT_GE(rig->Ready(3600, {0, 0, 10}), 0);
    ASSERT_EQ(rig->Enable(), EnableStep::Enabled);
  }
  EXPECT_TRUE(nmj.Heard("!6") > 0 && nmj.Heard("!Y") > 0);
  EXPECT_EQ(nmk.Heard("!6") + nmk.Heard("!Y"), 0);
}

// Setting up keeps the logger's autorun and sampling LED flags unless they are changed.
TEST(Enable, StartFlagsAreReadFromTheLoggerAndKept) {
  Rig rig("NMJ-7400", [](sim::SimProfile& p) { p.capabilities[0] |= 0x8000u; });  // OEM
  LoggerLink& link = rig.session.logger;
  link.deployment().startFlags = 0x0A;  // autorun and the LED
  ASSERT_EQ(link.CommSet(28), 1);
  link.deployment().startFlags = 0;  // a fresh program knows nothing of them
  auto flagsRead = [&link] {
    link.deployment().startFlags = 0;
    EXPECT_EQ(link.CommGet(28), 1);
    return link.deployment().startFlags & 0x0Au;
  };

  ASSERT_GE(rig.Open(), 0);
  EXPECT_TRUE(rig.setup->autorun && rig.setup->samplingLed);
  rig.Plan(3600, {0, 0, 10});
  ASSERT_EQ(rig.Enable({Answer::Yes, Answer::Yes}), EnableStep::Enabled);  // old data, autorun
  EXPECT_TRUE(rig.host.Saw("ask", "You have chosen to enable automatic start on powerup."));
  EXPECT_EQ(flagsRead(), 0x0Au) << "the logger keeps both flags";
}

// Only the setup dialog gives a threshold start an end one year after the logger clock.
TEST(Enable, ThresholdEndIsReplacedOnlyInTheDialog) {
  Rig rig("VS-330");
  ASSERT_EQ(rig.Ready(3 * 86400, {0, 0, 10}), 4);
  DeploymentParameters& p = rig.session.deployment;
  p.startMode = kStartAboveThreshold;
  const SystemTime end = p.endTime;
  EXPECT_EQ(rig.setup->Validate().code, kValidationOk) << rig.setup->validation.message;
  EXPECT_EQ(p.endTime, end);
  rig.setup->dialogOpen = true;
  rig.setup->Validate();
  SystemTime year = rig.setup->view.loggerClock;
  ++year.year;
  EXPECT_EQ(p.endTime, year);
}

// When only one range switching table can be read, only that one is reset.
TEST(RangeSwitchingRead, OnlyTheUnreadableTableIsReset) {
  std::vector<uint8_t> extended(26, 0x02);
  extended[0] = 0;
  Rig rig("NMJ-7400", [&](sim::SimProfile& p) { p.tables[4] = extended; });  // no table 5
  RangeSwitching r;
  EXPECT_FALSE(ReadRangeSwitching(rig.session.logger, r));
  EXPECT_EQ(r.behaviour[0], 1);
  EXPECT_TRUE(std::equal(extended.begin() + 1, extended.end(), r.extended.begin() + 1));
  EXPECT_EQ(std::count(r.behaviour.begin() + 1, r.behaviour.begin() + 26, 0xFF), 25);
  EXPECT_TRUE(rig.host.Saw("status", "Range switching behaviour retrieve error"));
}

// Accepting a too-many-samples suggestion at Enable carries on with the changed plan.
TEST(Enable, AcceptedSuggestionCarriesOn) {
  Rig rig("VS-330");
  ASSERT_EQ(rig.Open(), 4);
  rig.Plan(10 * 86400, {0, 0, 1});  // 864000 samples of 3 channels in 4 MB
  // Lose the old data; "Accept Sampling Period".
  ASSERT_EQ(rig.Enable({Answer::Yes, Answer::No}), EnableStep::Enabled);
  EXPECT_TRUE(rig.host.Saw("ask", "requires too many samples for this logger"));
  EXPECT_EQ(rig.session.deployment.samplePeriod, (Period{0, 0, 2}));
  EXPECT_EQ(rig.logger->Status(), 1);
  EXPECT_EQ(rig.Sent("K000002"), 1) << "the accepted period is programmed";
}

// The undownloaded-data question comes only when the data pointer moved since the last retrieval.
TEST(Enable, UndownloadedDataQuestionFollowsTheLastRetrieval) {
  // The retrieval mark's pointer shift from the logger's (1000: no mark), its serial's shift.
  for (const auto& [shift, serialShift, asked] :
       {std::tuple{0, 0, false}, {-3, 0, true}, {0, 1, true}, {1000, 0, true}}) {
    Rig rig("VS-330");
    if (shift != 1000) {
      RecordRetrievalPointer(rig.session.logger,
                             rig.logger->DataPointer() + static_cast<uint32_t>(shift));
      rig.session.deployment.lastRetrieval.serial += serialShift;
    }
    ASSERT_EQ(rig.Ready(3600, {0, 0, 10}), 4);
    EXPECT_EQ(rig.Enable(), EnableStep::Enabled);
    EXPECT_EQ(rig.host.Saw("ask", "The logger contains data that has not been downloaded."), asked)
        << shift << serialShift;
    // Without that question the memory question still guards the erase.
    EXPECT_EQ(rig.host.Saw("ask", "Memory contains data\nDo you wish to continue?"), !asked);
  }
}

TEST(Enable, FailedEraseIsOfferedAgainAndTheRetryErases) {
  Rig rig("NMJ-7400", [](sim::SimProfile& p) { p.faults.eraseFails = 1; });
  ASSERT_GE(rig.Ready(3600, {0, 0, 10}), 0);
  // Lose the data; erase again after the failure (the retry has its own erase wait).
  EXPECT_EQ(rig.Enable({Answer::Yes, Answer::Yes}), EnableStep::Enabled);
  EXPECT_TRUE(rig.host.Saw("ask", "failed to erase properly"));
  EXPECT_FALSE(rig.host.Saw("tell", "Logger status is incorrect"));
  EXPECT_EQ(rig.Sent("N"), 2);
  EXPECT_EQ(rig.logger->Status(), 1);
}

// The logger keeps averaging as a count of readings; the setup reads it back in seconds.
TEST(Enable, AveragingReadBackIsInSecondsAndAnUnchangedEnableSendsTheSameCount) {
  Rig rig("NMJ-7400", MakeFresh);
  ASSERT_TRUE(rig.session.logger.state.highSamplingRates);
  ASSERT_EQ(rig.Ready(3600, {0, 1, 0}), 0);
  DeploymentParameters& p = rig.session.deployment;
  p.waveRateHz = 2;
  p.averagingEnabled = true;
  p.averagingSeconds = 10;
  ASSERT_EQ(rig.setup->PressEnable(), EnableStep::Enabled) << rig.setup->validation.message;
  EXPECT_EQ(rig.Heard("W1400"), 1);  // 10 s at 2 Hz: 20 readings, low byte first

  p.averagingSeconds = 0;
  p.waveRateHz = 1;
  ASSERT_GE(rig.Open(), 0);
  EXPECT_EQ(p.waveRateHz, 2) << "the rate is read before the averaging";
  EXPECT_TRUE(p.averagingEnabled);
  EXPECT_EQ(p.averagingSeconds, 10u);
}

// Enable's questions before anything is sent: clock, OEM settings, a logger still collecting.
TEST(Enable, ClockCollectingAndOemQuestionsComeBeforeAnythingIsProgrammed) {
  Rig rig("NMJ-7400", [](sim::SimProfile& p) {
    MakeFresh(p);
    p.capabilities[0] |= 0x8000u;  // OEM start characteristics
  });
  ASSERT_EQ(rig.Ready(3600, {0, 1, 0}), 0);
  // The logger's clock 40 minutes behind: No keeps everything as it was.
  rig.logger->SetClock(AddSeconds(rig.clock.LocalTime(), -2400), rig.clock.MonotonicMs());
  EXPECT_EQ(rig.Enable({Answer::No}), EnableStep::ReturnToDialog);
  EXPECT_EQ(rig.Heard("P"), 0);
  rig.logger->SetClock(rig.clock.LocalTime(), rig.clock.MonotonicMs());

  // Autorun and inhibited storage together: the combined question; No returns.
  rig.setup->autorun = true;
  rig.session.deployment.startFlags |= 1u;
  EXPECT_EQ(rig.Enable({Answer::No}), EnableStep::ReturnToDialog);
  EXPECT_EQ(rig.Heard("N"), 0);
  rig.setup->autorun = false;
  rig.session.deployment.startFlags &= ~1u;

  // Enabled and logging a minute later; a new Enable finds it collecting and stops it on Yes.
  ASSERT_EQ(rig.Enable(), EnableStep::Enabled);
  rig.clock.Advance(120 * 1000);
  ASSERT_EQ(rig.Open(), 2);
  rig.setup->eraseAccepted = true;
  rig.Plan(3600, {0, 1, 0});
  const int stops = rig.Heard("!9");
  EXPECT_EQ(rig.Enable({Answer::No}), EnableStep::ReturnToDialog);
  EXPECT_EQ(rig.Heard("!9"), stops) << "No leaves it logging";
  EXPECT_EQ(rig.Enable(), EnableStep::Enabled);
  EXPECT_GT(rig.Heard("!9"), stops);
}

// A suspended logger whose deployment has not ended can go on with all its settings.
TEST(Enable, ContinueToAddResumesWithTheSettingsInOrderAndLogsIt) {
  Rig rig("NMJ-7400", MakeFresh);
  // A deployment that logs for a while and is suspended.
  ASSERT_EQ(rig.Ready(86400, {0, 1, 0}), 0);
  ASSERT_EQ(rig.setup->PressEnable(), EnableStep::Enabled);
  rig.clock.Advance(300 * 1000);
  ASSERT_EQ(rig.session.logger.CommSet(22), 1);

  ASSERT_EQ(rig.Open(), 5);
  rig.setup->resuming = true;
  rig.setup->continueToAdd = true;
  const size_t before = rig.logger->CommandLog().size();
  ASSERT_EQ(rig.Enable(), EnableStep::Resumed);  // its data "may be lost": go on
  // Start characteristic, threshold, real-time output and averaging, then resume.
  std::string order;
  const auto& log = rig.logger->CommandLog();
  for (size_t i = before; i < log.size(); ++i)
    for (const char* c : {"!1", "!A", "!B", "W", "!R", "N", "P"})
      if (log[i].rfind(c, 0) == 0) order += std::string(c) + ",";
  EXPECT_EQ(order.find_first_of("NP"), std::string::npos)
      << "neither erased nor enabled: " << order;
  EXPECT_NE(order.find("W,!R,"), std::string::npos) << order;
  EXPECT_EQ(rig.logger->Status(), 2);
  const std::string text =
      ReadAll(rig.dir / "log" / Format("%06d.log", rig.session.logger.state.serial));
  EXPECT_NE(text.find("Resumed logging"), std::string::npos) << text;
}

// A reply that is neither a status nor "started in mode" means the logger did not enable.
TEST(Enable, AnEnableCommandWithoutItsReplyIsAFailure) {
  Rig rig("NMJ-7400", MakeFresh);
  ASSERT_EQ(rig.Ready(3600, {0, 1, 0}), 0);
  rig.logger->AnswerUnknown("P");
  EXPECT_EQ(rig.setup->PressEnable(), EnableStep::Failed);
}

// An older VS-550 is assessed like any other logger before a setup; only its wave bursts go.
TEST(SetupAssessment, OlderVs550GetsItsOwnCapabilities) {
  Rig rig("VS-550");
  ASSERT_LE(rig.session.logger.state.firmware, 4.99f);
  AssessCapabilitiesForSetup(rig.session.logger);
  const LoggerState& s = rig.session.logger.state;
  EXPECT_FALSE(s.capabilitiesStale);
  EXPECT_EQ(s.memorySizeMb, 4);             // memory type 2 in capability entry 1
  EXPECT_EQ(s.expressDownloadRate, 57600);  // capability entry 13
  EXPECT_TRUE(s.profiling6Hz);              // capability mask bit 1
  EXPECT_FALSE(s.waves);
}

// The tables go out as 25 bytes; the logger holds 26 at first. Both lengths read back.
TEST(RangeSwitchingTables, WriteReadBackAndCompareWhateverTheLength) {
  Rig rig("VS-330-FT");
  LoggerLink& link = rig.session.logger;
  RangeSwitching r;
  ASSERT_TRUE(ReadRangeSwitching(link, r));  // 26 data bytes as the logger was set up
  ASSERT_TRUE(r.Switches(2));

  SetChannelFixedGain(r, 2, 2, kUserFixedGain, kSeapointFluorometer);
  ASSERT_TRUE(WriteRangeSwitching(link, r)) << rig.host.status[1];
  EXPECT_TRUE(rig.host.Saw(
      "status", "Range switching behaviour and Extended channel capabilities write success"));
  const auto stored = rig.logger->Table(5);
  ASSERT_TRUE(stored.has_value() && stored->size() >= 25u);
  EXPECT_EQ((*stored)[3], (2 << 5) | (kUserFixedGain << 3) | kSeapointFluorometer);

  RangeSwitching again;
  ASSERT_TRUE(ReadRangeSwitching(link, again));  // now the 25 bytes it was sent
  // Byte 0 is worked out afresh on every read; the channels' bytes are what was written.
  EXPECT_TRUE(std::equal(again.behaviour.begin() + 1, again.behaviour.begin() + 25,
                         r.behaviour.begin() + 1));
  EXPECT_EQ(again.behaviour[25], 0xFF);  // no channel 25
}

}  // namespace
}  // namespace klx::test
