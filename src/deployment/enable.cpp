#include "deployment/enable.h"

#include <algorithm>
#include <array>

#include "deployment/status.h"
#include "deployment/thresholds.h"
#include "files/activity_log.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx {
namespace {

constexpr const char* kTryAgain = "\nTry again.\nContact KLX if the problem persists.";

bool SameSecond(const SystemTime& a, const SystemTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

// The two hexadecimal digits after a marker in a reply; -1 when absent.
int HexAfter(std::string_view reply, std::string_view marker) {
  const size_t at = reply.find(marker);
  if (at == std::string_view::npos) return -1;
  size_t i = at + marker.size();
  while (i < reply.size() && reply[i] == ' ') ++i;
  if (i + 2 > reply.size()) return -1;
  int v = 0;
  for (size_t k = 0; k < 2; ++k) {
    const char c = reply[i + k];
    int d = -1;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

}  // namespace

int ReadLoggerSchedule(LoggerLink& link, Clock& clock, ScheduleView& view) {
  view = ScheduleView{};
  if (link.CommGet(9) != 1) {
    ShowStatus(link.host(), "Error: Status read incorrectly");
    return -1;
  }
  view.status = link.status.code;
  view.statusName = StatusName(view.status);
  view.hostTime = clock.LocalTime();
  const LoggerState& s = link.state;
  const bool onlyStatus =
      s.ModelHas("VS-550") && s.firmware < 6.415f &&
      (view.status == 1 || view.status == 2 || view.status == 3 || view.status == 6);
  if (onlyStatus) return view.status;
  link.CommGet(1);
  view.loggerClock = link.loggerClock;
  if (link.CommGet(3) != 1) view.message = "TIMEOUT: Start date/time read incorrectly";
  if (link.CommGet(4) != 1) view.message = "TIMEOUT: End date/time read incorrectly";
  if (link.CommGet(2) != 1) {
    view.message = "TIMEOUT: Period read incorrectly";
  } else if (link.deployment().samplePeriod == Period{}) {
    link.deployment().samplePeriod = Period{0, 1, 0};
  }
  if (!view.message.empty()) ShowStatus(link.host(), view.message);
  return view.status;
}

bool SynchroniseClock(LoggerLink& link, Clock& clock) {
  // A second that is about to roll over could carry the minute with it while the command
  // travels.
  for (int i = 0; i < 20 && clock.LocalTime().second == 59; ++i) clock.SleepMs(100);
  const SystemTime host = clock.LocalTime();
  link.clockToSet = AddSeconds(host, 1);
  link.clockToSet.milliseconds = 0;
  link.CommSet(1);
  const bool read = link.CommGet(1) == 1;
  const int64_t diff = DifferenceSeconds(link.loggerClock, clock.LocalTime());
  if (read && diff > -2 && diff < 2) return true;
  link.host().Tell("Synchronize Clock", "Logger clock has not set properly.\nTry again.",
                   BoxIcon::Stop);
  return false;
}

uint32_t EmptyPointer(const LoggerState& state) {
  return state.extendedCommandSet ? 0 : kOlderLoggerMemoryStart;
}

bool MemoryHoldsData(const LoggerState& state, uint32_t pointer) {
  if (state.extendedCommandSet) return pointer != 0;
  const float fw = state.firmware;
  if (state.ModelHas("NA")) return pointer > (fw < 1.5f ? 0x20000u : 0x2000Fu);
  if ((state.ModelHas("NB") && fw > 1.5f) || state.IsVS()) return pointer > 0x2001Eu;
  return pointer > 0x20000u;
}

SystemTime StartAfterClock(const SystemTime& loggerClock) {
  SystemTime t = AddSeconds(loggerClock, 10);
  t.milliseconds = 0;
  const int over = t.second % 10;
  return over == 0 ? t : AddSeconds(t, 10 - over);
}

void RecordRetrievalPointer(LoggerLink& link, uint32_t dataPointer) {
  RetrievalMark& mark = link.deployment().lastRetrieval;
  mark.model = link.state.model;
  mark.serial = link.state.serial;
  mark.dataPointer = dataPointer;
}

LoggerSetup::LoggerSetup(LoggerLink& link, Clock& clock, DeploymentParameters& batchValues)
    : link_(link), clock_(clock), p_(link.deployment()), batch_(batchValues) {}

void AssessCapabilitiesForSetup(LoggerLink& link) {
  // Every logger is assessed, so that averaging, real-time output, 6 Hz profiling, the memory
  // size and the command level are its own; a VS-550 of firmware 4.99 or below cannot burst.
  link.AssessCapabilities();
  LoggerState& s = link.state;
  if (s.ModelHas("VS-550") && s.firmware <= 4.99f) s.waves = false;
}

int LoggerSetup::Open() {
  const int status = ReadLoggerSchedule(link_, clock_, view);
  if (status < 0) return status;
  if (link_.CommGet(6) == 1) {
    if (const auto pointer = ParseDataPointer(link_.ReplyText())) dataPointer = *pointer;
  }
  const RetrievalMark& mark = p_.lastRetrieval;
  if (mark.dataPointer && mark.model == link_.state.model && mark.serial == link_.state.serial)
    lastRetrievalPointer = mark.dataPointer;
  // The sampling rate first: a high-rate logger counts its averaging in readings at that rate.
  if (link_.state.highSamplingRates) link_.CommGet(30);
  if (link_.state.waves) {
    link_.CommGet(31);
    link_.CommGet(32);  // the logger height: the analysis and the programming need it
  }
  if (link_.state.averaging != 0) link_.CommGet(17);
  // The logger's start characteristic: autorun and the sampling LED stay as the logger has them
  // unless the user changes them.
  if (link_.state.HasTwelveCommands() && link_.CommGet(28) == 1) {
    autorun = (p_.startFlags & 2u) != 0;
    samplingLed = (p_.startFlags & 8u) != 0;
  }
  if (link_.state.rsCommandFlags & 0x04u) rangesRead = ReadRangeSwitching(link_, ranges);
  defaultBaudRate = 0;
  if (link_.state.externalDataConnector && link_.state.extendedCommandSet)
    link_.ReadDefaultBaudRate(defaultBaudRate);
  if (defaultBaudRate <= 0) defaultBaudRate = link_.state.defaultBaudRateMinimum;
  return status;
}

ValidationResult LoggerSetup::Validate() {
  ValidationInputs in;
  in.loggerClock = view.loggerClock;
  in.resuming = resuming;
  in.setupDialogOpen = dialogOpen;
  in.continuousPowerForbidden = ranges.continuousPowerForbidden;
  in.host = &link_.host();
  // The minimum periods count the time of each real-time record at the output's rate.
  SetRealTimeBaud(p_, defaultBaudRate > 0 ? defaultBaudRate : link_.state.defaultBaudRateMinimum);
  validation = ValidateDeployment(p_, link_.state, in);
  if (validation.code == kValidationOk) {
    const UsageEstimate e = EstimateUsage(p_, link_.state, view.loggerClock);
    estimates = e.text;
  }
  return validation;
}

void LoggerSetup::Drain() {
  std::array<uint8_t, 121> buffer{};
  link_.link().LinkRead(buffer.data(), 120);
}

void LoggerSetup::LogEntry(int event) {
  if (logDirectory.empty()) return;
  LogEntryInputs in;
  in.programDirectory = logDirectory;
  in.logger = link_.state;
  in.parameters = p_;
  in.hostTime = clock_.LocalTime();
  in.loggerTime = link_.loggerClock;
  in.loggerStatus = link_.status.code;
  in.estimates = estimates;
  WriteLogEntry(link_.host(), event, in);
}

EnableStep LoggerSetup::FailQuietly() {
  waiting_ = false;
  link_.host().SetProgress(0, 100);
  LogEntry(kLogSetupFailed);
  return EnableStep::Failed;
}

EnableStep LoggerSetup::Fail(const std::string& text, const char* caption) {
  link_.host().Tell(caption, text, BoxIcon::Stop);
  return FailQuietly();
}

EnableStep LoggerSetup::PressEnable() {
  Host& host = link_.host();
  LoggerState& s = link_.state;
  // 1. The stop button, or data not yet downloaded.
  if (stopButton) {
    link_.CommSet(13);
    Drain();
    p_.realtimeOutput = false;
    link_.CommSet(19);
    return EnableStep::Stopped;
  }
  if (link_.CommGet(6) == 1) {
    if (const auto pointer = ParseDataPointer(link_.ReplyText())) dataPointer = *pointer;
  }
  const bool unread =
      lastRetrievalPointer ? dataPointer != *lastRetrievalPointer : MemoryHoldsData(s, dataPointer);
  if (eraseAccepted) acceptedLoss_ = true;
  if (unread && !forceErase_ && !eraseAccepted) {
    const char* text =
        resuming ? "The logger contains data that has not been downloaded.\n\nThese data may be "
                   "lost if you continue.\n\nDo you want to continue?"
                 : "The logger contains data that has not been downloaded.\n\nThese data will be "
                   "lost if you continue.\n\nDo you want to continue?";
    if (host.Ask("Setup", text, Buttons::YesNo, BoxIcon::Warning, Answer::No) != Answer::Yes)
      return EnableStep::ReturnToDialog;
    acceptedLoss_ = true;
  }
  // 2. Start characteristics from the dialog's boxes.
  if (s.HasTwelveCommands()) {
    if (s.oemSupport) p_.startFlags = autorun ? (p_.startFlags | 2u) : (p_.startFlags & ~2u);
    if (s.SamplingLed()) p_.startFlags = samplingLed ? (p_.startFlags | 8u) : (p_.startFlags & ~8u);
  }
  // 3. Threshold limits again.
  const bool threshold =
      p_.startMode == kStartAboveThreshold || p_.startMode == kStartBelowThreshold;
  if (s.IsVS() && threshold && calibration &&
      AcceptThreshold(p_, s, *calibration, host) == ThresholdCheck::Refused)
    return EnableStep::ReturnToDialog;
  // 4. Real-time output.
  if (!s.externalDataConnector) {
    p_.realtimeOutput = false;
  } else if (p_.realtimeOutput && !calibrationRead) {
    host.Tell("KLX Logger Setup", "Logger not yet calibrated - realtime operation prohibited",
              BoxIcon::Stop);
    return EnableStep::ReturnToDialog;
  }
  SetRealTimeBaud(p_, defaultBaudRate > 0 ? defaultBaudRate : s.defaultBaudRateMinimum);
  liveReadingsRequested = false;
  if (p_.realtimeOutput && prepareRealTime) {
    switch (prepareRealTime(p_)) {
      case RealTimeChoice::Proceed:
        break;
      case RealTimeChoice::ReturnToDialog:
        return EnableStep::ReturnToDialog;
      case RealTimeChoice::CloseDialog:
        return EnableStep::ClosedToSave;
    }
  }
  // 5. Clocks.
  link_.CommGet(1);
  view.loggerClock = link_.loggerClock;
  const int64_t apart = DifferenceSeconds(clock_.LocalTime(), link_.loggerClock);
  if ((apart > 1800 || apart < -1800) &&
      host.Ask("Setup Logger",
               "Logger time and Host time differ by more than 30 minutes.\nDo you want to "
               "continue?",
               Buttons::YesNo, BoxIcon::Warning, Answer::No) != Answer::Yes)
    return EnableStep::ReturnToDialog;
  // 6. The parameters must pass.
  if (Validate().code != kValidationOk) {
    ShowStatus(host, validation.message);
    return EnableStep::ReturnToDialog;
  }
  // 7. A logger still collecting data.
  const int status = link_.status.code;
  if (status == 2 || status == 3) {
    if (host.Ask("Setup", "Logger still collecting data.\nDo you wish to continue?", Buttons::YesNo,
                 BoxIcon::Warning, Answer::No) != Answer::Yes)
      return EnableStep::ReturnToDialog;
    link_.CommSet(13);
    Drain();
    const bool realtime = p_.realtimeOutput;
    p_.realtimeOutput = false;
    link_.CommSet(19);
    p_.realtimeOutput = realtime;
  }
  // 8. OEM settings.
  const bool autorunOn = (p_.startFlags & 2u) != 0, inhibit = (p_.startFlags & 1u) != 0;
  if (autorunOn || inhibit) {
    const char* text =
        autorunOn && inhibit
            ? "You have chosen to enable automatic start on powerup\n\nand to inhibit data storage "
              "- no data will be stored in the logger.\n\nAre these what you want?"
        : autorunOn ? "You have chosen to enable automatic start on powerup.\n\nIs this what you "
                      "want?"
                    : "You have chosen to inhibit data storage.\nNo data will be stored in the "
                      "logger.\n\nIs this what you want?";
    if (host.Ask("OEM settings", text, Buttons::YesNo, BoxIcon::Warning, Answer::No) != Answer::Yes)
      return EnableStep::ReturnToDialog;
  }
  // 9. Memory already holding data.
  const bool holds = MemoryHoldsData(s, dataPointer);
  const bool canAdd =
      (s.IsVS() && !s.extendedCommandSet && s.firmware > 2.45f && dataPointer > 0x2001Eu) ||
      (s.extendedCommandSet && holds);
  if (canAdd && resuming && Compare(p_.endTime, link_.loggerClock) > 0 && !forceErase_ &&
      !eraseAccepted) {
    bool add = false;
    if (continueToAdd) {
      add = *continueToAdd;
    } else {
      const int choice = host.Choose(
          "Setup",
          "The logger contains data\nYou may continue to add data to the logger using all the "
          "previous settings or\nerase the memory.",
          {"Continue to add", "Erase old readings"}, BoxIcon::Question);
      if (choice < 0) return EnableStep::ReturnToDialog;
      add = choice == 0;
    }
    if (add) return ContinueToAdd() ? EnableStep::Resumed : FailQuietly();
  } else if (holds && !acceptedLoss_ && !forceErase_ &&
             host.Ask("Logger Enable", "Memory contains data\nDo you wish to continue?",
                      Buttons::YesNo, BoxIcon::Warning, Answer::No) != Answer::Yes) {
    return EnableStep::ReturnToDialog;
  }
  return StartErase();
}

void LoggerSetup::RequestLiveReadings() {
  // An engineering-output logger shows its live readings instead of the binary display.
  if (p_.realtimeOutput && (link_.state.rsAdvancedWord & 0x0Au) == 0x0Au)
    liveReadingsRequested = true;
}

bool LoggerSetup::ContinueToAdd() {
  if (!link_.ConnectLogger()) return false;
  if (link_.state.HasTwelveCommands() && link_.CommSet(28) != 1) return false;
  BuildThresholdBlock(p_, link_.state);
  link_.CommSet(18);
  link_.CommSet(19);
  if (link_.CommSet(17) != 1) return false;
  if (link_.CommSet(23) != 1) return false;
  LogEntry(kLogResumed);
  RequestLiveReadings();
  return true;
}

EnableStep LoggerSetup::StartErase() {
  Host& host = link_.host();
  LoggerState& s = link_.state;
  progress_ = 0;
  host.SetProgress(0, 100);
  ShowStatus(host, "Waiting for logger to reset");
  if (!link_.ConnectLogger()) return FailQuietly();
  if (s.IsVS() && !s.extendedCommandSet) {
    link_.CommSet(13);
    Drain();
  }
  bool erase = false;
  if (s.extendedCommandSet) {
    erase = dataPointer != 0 || link_.status.code > 0;
    step_ = 0.8333;
  } else {
    erase = dataPointer != kOlderLoggerMemoryStart;
    const double blocks = std::max(1.0, static_cast<double>(dataPointer / 65536) - 1.0);
    step_ = std::max(0.7, 100.0 / (2.0 * blocks));
  }
  erase = erase || forceErase_;
  forceErase_ = false;
  acceptedLoss_ = false;
  if (!erase) return EnableSequence();
  link_.CommSet(12);
  Drain();
  waiting_ = true;
  return EnableStep::Waiting;
}

EnableStep LoggerSetup::Tick() {
  if (!waiting_) return EnableStep::ReturnToDialog;
  progress_ += step_;
  link_.host().SetProgress(static_cast<int>(std::min(progress_, 100.0)), 100);
  bool done = progress_ > 100;
  if (!done && link_.state.extendedCommandSet) {
    // While it erases the logger does not answer; once it reports a status again the erase
    // has ended, well or badly, and the sequence can go on.
    link_.link().LinkWriteText("T");
    std::array<uint8_t, 121> buffer{};
    const int n = link_.link().LinkRead(buffer.data(), 120);
    const std::string_view reply(reinterpret_cast<const char*>(buffer.data()),
                                 static_cast<size_t>(std::max(n, 0)));
    done = reply.find("Logger status 00") != std::string_view::npos ||
           reply.find("Logger status 7F") != std::string_view::npos;
  }
  if (!done) return EnableStep::Waiting;
  waiting_ = false;
  link_.host().SetProgress(100, 100);
  return EnableSequence();
}

bool LoggerSetup::SendOptionalParameters() {
  LoggerState& s = link_.state;
  if (s.IsVS()) {
    BuildThresholdBlock(p_, s);
    link_.CommSet(18);
    if (s.hysteresis) {
      p_.count16 = HysteresisCount(p_);
      link_.CommSet(25);
    }
  }
  if (s.ModelHas("HL") && !p_.profiling6Hz) p_.continuousPower = true;
  if (s.averaging != 0 && link_.CommSet(17) != 1) return false;
  if (s.externalDataConnector) {
    link_.CommSet(19);
    RequestLiveReadings();
  }
  if (s.HasTwelveCommands() && link_.CommSet(28) != 1) return false;
  if (TideAndWaveLogger(s) && (link_.CommSet(31) != 1 || link_.CommSet(32) != 1)) return false;
  if (s.highSamplingRates) {
    p_.highRateCode = p_.waveRateHz >= 4 ? 2 : (p_.waveRateHz == 2 ? 1 : 0);
    if (link_.CommSet(30) != 1) return false;
  }
  return true;
}

bool LoggerSetup::SetAndCheckSchedule() {
  Host& host = link_.host();
  const std::string tail = kTryAgain;
  const SystemTime start = p_.startTime, end = p_.endTime;
  const Period period = p_.samplePeriod;
  link_.CommSet(3);
  if (!link_.QueryTagged("D", "CST") || !SameSecond(ParseLoggerDate(link_.ReplyText()), start)) {
    host.Tell(kResetCaption, "Start time set incorrectly." + tail, BoxIcon::Stop);
    return false;
  }
  link_.CommSet(4);
  if (!link_.QueryTagged("E", "CET") || !SameSecond(ParseLoggerDate(link_.ReplyText()), end)) {
    host.Tell(kResetCaption, "End time set incorrectly." + tail, BoxIcon::Stop);
    return false;
  }
  link_.CommSet(2);
  const bool read = link_.QueryTagged("C", "CSP");
  const SystemTime got = ParseLoggerDuration(link_.ReplyText());
  if (!read || got.hour != period.hours || got.minute != period.minutes ||
      got.second != period.seconds) {
    host.Tell(kResetCaption, "Period set incorrectly." + tail, BoxIcon::Stop);
    return false;
  }
  return true;
}

EnableStep LoggerSetup::EnableSequence() {
  Host& host = link_.host();
  waiting_ = false;
  // 1-3. The logger must be there, erased and not enabled.
  if (link_.CommGet(9) != 1)
    return Fail(
        "Unable to communicate with logger.\nTry again.\nContact KLX if the problem "
        "persists.");
  const std::string reply(link_.ReplyText());
  if (reply.find("Logger status 7F") != std::string::npos) {
    const Answer a = host.Ask(kResetCaption,
                              "The logger status indicates that the logger failed to erase "
                              "properly.\n\nTry to erase again?\n\nContact KLX if the problem "
                              "persists.",
                              Buttons::YesNo, BoxIcon::Warning, Answer::No);
    if (a == Answer::Yes && link_.ConnectLogger()) {
      // The memory looks empty now, whatever it holds: the retry always erases.
      forceErase_ = true;
      return PressEnable();
    }
    return FailQuietly();
  }
  if (reply.find("Logger status 00") == std::string::npos)
    return Fail("Logger status is incorrect.\nTry again.\nContact KLX if the problem persists.");
  // 4. The optional parameters.
  if (!SendOptionalParameters()) return FailQuietly();
  // 5. What was enabled, for "Accept batch values" (the start as the user chose it).
  CopyBatchFields(p_, batch_);
  batch_.batchSet = true;
  p_.changedSinceBatch = false;
  // 6. Start-now and threshold deployments start shortly after the logger clock.
  if (p_.startMode != kStartAtTime) {
    link_.CommGet(1);
    p_.startTime = StartAfterClock(link_.loggerClock);
  }
  // 7. The schedule, each part read back.
  if (!SetAndCheckSchedule()) return FailQuietly();
  // 8. Enable.
  link_.CommSet(8);
  std::array<uint8_t, 121> buffer{};
  const int n = link_.link().LinkRead(buffer.data(), 120);
  const std::string answer(reinterpret_cast<const char*>(buffer.data()),
                           static_cast<size_t>(std::max(n, 0)));
  int status = HexAfter(answer, "Logger status");
  if (status < 0) status = HexAfter(answer, "Logger started in mode");
  if (status < 0 || status > 6) status = 7;
  enabledStatus = status;
  // 9. The status line.
  std::string head = answer.substr(0, std::min<size_t>(22, answer.size()));
  while (!head.empty() && (head.back() == '\n' || head.back() == '\r')) head.pop_back();
  enabledMessage = status == 1 ? head + Format(": 'Enabled' to start at %s",
                                               DateDisplayText(p_.startTime).c_str())
                               : head + Format(": %s", StatusName(status));
  ShowStatus(host, enabledMessage);
  // 10.
  if (status == 0 || status > 3)
    return Fail("Logger has not been enabled.\nTry again.\nIf problem persists contact KLX.",
                "Logger Enable");
  link_.status.code = status;
  LogEntry(kLogSetUp);
  return EnableStep::Enabled;
}

}  // namespace klx
