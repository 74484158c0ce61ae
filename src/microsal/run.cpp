#include "microsal/run.h"

#include <algorithm>

#include "calibration/read.h"
#include "calibration/write.h"
#include "deployment/enable.h"
#include "deployment/status.h"
#include "realtime/collection.h"
#include "shell/datetime.h"
#include "shell/messages.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

namespace {

constexpr const char* kNoCommunicationText =
    "Unable to communicate with logger.\nTry again.\nContact KLX if the problem persists.";

// The two hexadecimal digits after `key` in a reply, or -1.
int HexAfterKey(const std::string& text, const char* key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  size_t i = at + std::char_traits<char>::length(key);
  while (i < text.size() && text[i] == ' ') ++i;
  if (i + 2 > text.size()) return -1;
  const std::string digits = text.substr(i, 2);
  if (!std::isxdigit(static_cast<unsigned char>(digits[0])) ||
      !std::isxdigit(static_cast<unsigned char>(digits[1])))
    return -1;
  return std::stoi(digits, nullptr, 16);
}

void UsePollingTimeouts(LoggerLink& link, bool polling) {
  SerialLink& serial = link.link();
  if (SerialPort* port = serial.Port(PortSlot::Logger)) {
    port->SetTimeouts(polling ? PollingTimeouts()
                              : SerialLink::OpenTimeouts(serial.currentBaudRate,
                                                         RtsControl::Disable));
  }
}

}  // namespace

bool StopUntilIdle(LoggerLink& link, Clock& clock, int64_t timeoutMs, const char* caption) {
  if (link.CommSet(13) != 1) {
    link.host().Tell(caption, kNoCommunicationText, BoxIcon::Stop);
    return false;
  }
  return WaitUntilIdle(link, clock, timeoutMs, caption);
}

bool WaitUntilIdle(LoggerLink& link, Clock& clock, int64_t timeoutMs, const char* caption) {
  const int64_t start = clock.MonotonicMs();
  for (;;) {
    if (link.CommGet(9) == 1 && StatusIsIdle(link.status.code)) return true;
    if (clock.MonotonicMs() - start >= timeoutMs) break;
    clock.SleepMs(500);
  }
  link.host().Tell(caption, kStopTimeoutText, BoxIcon::Stop);
  return false;
}

const char* MicrosalStartRefusal(const LoggerState& s, int statusCode) {
  if (!s.microSalinometerMode) return kNotMicrosalText;
  // Capability entry 5, bit value 16: the logger may be worked with while it logs.
  if (!StatusIsIdle(statusCode) && !s.commandLevelFlag4) return kMicrosalLoggingText;
  return nullptr;
}

bool SendStandardizationBlock(LoggerLink& link, const MicrosalStandardization& s) {
  const auto block = EncodeStandardizationBlock(s);
  const std::vector<uint8_t> sent(block.begin(), block.end());
  if (!link.WriteTable("S0600", sent)) {
    ShowStatus(link.host(), kMicrosalSendError);
    return false;
  }
  std::vector<uint8_t> back;
  if (link.ReadTable("R0600", back) != 1 || back.size() < kMicrosalBlockSize) {
    ShowStatus(link.host(), kMicrosalRetrieveError);
    return false;
  }
  if (!std::equal(sent.begin(), sent.end(), back.begin())) {
    ShowStatus(link.host(), kMicrosalCompareError);
    return false;
  }
  return true;
}

void DrainLine(LoggerLink& link, Clock& clock, int64_t quietMs, int64_t boundMs) {
  SerialLink& serial = link.link();
  SerialPort* port = serial.Port(PortSlot::Logger);
  if (!port) return;
  port->SetTimeouts(PollingTimeouts());
  std::array<uint8_t, 256> buffer{};
  const int64_t start = clock.MonotonicMs();
  int64_t lastData = start;
  for (;;) {
    const int64_t now = clock.MonotonicMs();
    if (now - lastData >= quietMs || now - start >= boundMs) break;
    if (serial.LinkRead(buffer.data(), static_cast<int>(buffer.size()) - 1) > 0)  // + its NUL
      lastData = clock.MonotonicMs();
    else
      clock.SleepMs(10);
  }
  UsePollingTimeouts(link, false);
}

bool MicrosalChannelsAsExpected(const LoggerState& s) {
  using namespace microsal_channel;
  if (s.channelCount < kCount || s.channelTypes.size() < static_cast<size_t>(kCount)) return false;
  return s.channelTypes[kSample] == 'C' && s.channelTypes[kTemperature] == 'T' &&
         s.channelTypes[kStandard] == 'C';
}

MicrosalRun::MicrosalRun(LoggerLink& link, Clock& clock, CalibrationCoefficients& calibration)
    : link_(link), clock_(clock), cal_(calibration) {}

bool MicrosalRun::Refuse(const char* text) {
  link_.host().Tell(kMicrosalCaption, text, BoxIcon::Stop);
  state = MicrosalState::Stopped;
  return false;
}

bool MicrosalRun::Start() {
  const bool started = StartRun(false);
  // An enable whose answer was not understood may still have started the sampling.
  if (!started && loggerStreaming) Stop();
  return started;
}

bool MicrosalRun::StartRun(bool restart) {
  Host& host = link_.host();
  state = MicrosalState::Stopped;
  reader_.reset();
  // 1. Retrieved data not yet saved.
  if (!restart && link_.hooks.hasUnsavedData && link_.hooks.hasUnsavedData()) {
    if (host.Ask(MessageText(Msg::FileReadCaption), MessageText(Msg::UnsavedData),
                 Buttons::YesNo, BoxIcon::Warning, Answer::No) == Answer::Yes) {
      if (link_.hooks.saveData) link_.hooks.saveData();
      return false;
    }
  }
  // 2. The link, the status and the capabilities.
  if (!link_.ConnectLogger()) return false;
  link_.AssessCapabilities();
  if (link_.CommGet(9) != 1) return Refuse(kNoCommunicationText);
  if (const char* refusal = MicrosalStartRefusal(link_.state, link_.status.code))
    return Refuse(refusal);
  // 3. Configuration, coefficients, standardization.
  if (link_.CommGet(16) != 1) return Refuse(kMicrosalChannelsText);
  cal_.calibrationReadNeeded = true;
  calibrationRead = ReadCalibration(link_, cal_) == CalibrationRead::Succeeded;
  ReadStandardization();
  // 4. The channels.
  if (!MicrosalChannelsAsExpected(link_.state)) return Refuse(kMicrosalChannelsText);
  // The run programs a new deployment: data not yet retrieved would be lost.
  // A restart after a standardization goes on from the run the user already started.
  if (!restart) {
    const bool pointerRead = link_.CommGet(6) == 1;
    const std::optional<uint32_t> pointer =
        pointerRead ? ParseDataPointer(link_.ReplyText()) : std::nullopt;
    const RetrievalMark& mark = link_.deployment().lastRetrieval;
    const bool retrieved = mark.model == link_.state.model && mark.serial == link_.state.serial &&
                           mark.dataPointer && pointer && *mark.dataPointer == *pointer;
    if (pointer && MemoryHoldsData(link_.state, *pointer) && !retrieved &&
        host.Ask(kMicrosalCaption, kMicrosalDataText, Buttons::YesNo, BoxIcon::Question,
                 Answer::No) != Answer::Yes) {
      return false;
    }
    // Without the pointer nobody knows what the memory holds: ask rather than start silently.
    if (!pointer && host.Ask(kMicrosalCaption, kUnknownDataText, Buttons::YesNo,
                             BoxIcon::Warning, Answer::No) != Answer::Yes) {
      return false;
    }
  }
  // 5. Stop, 6 Hz without averaging, clock, start now, enable.
  if (!ProgramRun()) return false;
  measurement.Clear();
  reader_ = std::make_unique<RecordReader>(link_.state.channelCount, false);
  UsePollingTimeouts(link_, true);
  state = MicrosalState::Setup;
  setupText = kMicrosalSetupText;
  setupProgress = 0;
  ShowStatus(host, kMicrosalRunStatus);
  return true;
}

bool MicrosalRun::ReadStandardization() {
  standardization = MicrosalStandardization{};
  previousBlock_.clear();
  if (calibrationRead) TakeFromCoefficients(cal_, standardization);
  std::vector<uint8_t> block;
  const int result = link_.ReadTable("R0600", block);
  if (result == -1) return true;  // the logger keeps no table yet: the defaults stand
  if (result != 1) {
    ShowStatus(link_.host(), kMicrosalRetrieveError);
    return false;
  }
  if (block.size() >= kMicrosalBlockSize)  // without the check byte
    previousBlock_.assign(block.begin(), block.begin() + kMicrosalBlockSize);
  if (!DecodeStandardizationBlock(block, standardization) && !block.empty() &&
      block[0] == kMicrosalBlockLayout)
    ShowStatus(link_.host(), kBadStandardizationText);
  return true;
}

bool MicrosalRun::ProgramRun() {
  Host& host = link_.host();
  DeploymentParameters& p = link_.deployment();
  if (!StopUntilIdle(link_, clock_, stopTimeoutMs, kMicrosalCaption)) return false;
  p.profiling6Hz = true;
  p.continuousPower = false;
  p.averagingEnabled = false;
  p.averagingSeconds = 0;
  p.startMode = kStartNow;
  p.realtimeOutput = true;
  int rate = 0;
  if (!link_.ReadDefaultBaudRate(rate) || rate <= 0) rate = link_.link().currentBaudRate;
  p.realtimeBaud = static_cast<uint32_t>(rate);
  p.realtimeBaudCode = static_cast<uint32_t>(std::max(0, 9216000 / (rate * 32) - 2));
  p.samplePeriod = Period{0, 1, 0};
  if (!SynchroniseClock(link_, clock_)) return false;

  SerialLink& serial = link_.link();
  if (!link_.state.extendedCommandSet || link_.state.averaging != 0) {
    serial.LinkWriteText("W0100");
    serial.WaitMilliseconds(50);
  }
  serial.LinkWriteText(CFormat("!B%02X", p.realtimeBaudCode & 0xFF));
  serial.WaitMilliseconds(50);
  if (link_.state.HasTwelveCommands()) {
    const uint32_t flags = link_.state.oemSupport ? p.startFlags : 0;
    const unsigned mode = 1u | 0x40u | 0x20u;  // start now, 6 Hz, real-time output
    const std::string command = CFormat("!1%02X%02X%02X%02X", mode, flags & 0xFF,
                                        (flags >> 8) & 0xFF, (flags >> 16) & 0xFF);
    serial.LinkWriteText(command);
    if (!link_.QueryTagged("!2", "STC") ||
        link_.ReplyText().find(command.substr(2)) == std::string_view::npos) {
      host.Tell(kMicrosalCaption,
                "Start characteristic set incorrectly.\nTry again.\nContact KLX if the problem "
                "persists.",
                BoxIcon::Stop);
      return false;
    }
  }

  SystemTime start = clock_.LocalTime();
  start.milliseconds = 0;
  p.startTime = start;
  p.endTime = AddSeconds(start, runDays * 86400);
  const DeploymentParameters wanted = p;
  link_.CommSet(3);
  link_.CommSet(4);
  link_.CommSet(2);
  const bool startOk =
      link_.CommGet(3) == 1 && DifferenceSeconds(p.startTime, wanted.startTime) == 0;
  const bool endOk = link_.CommGet(4) == 1 && DifferenceSeconds(p.endTime, wanted.endTime) == 0;
  const bool periodOk = link_.CommGet(2) == 1 && p.samplePeriod == wanted.samplePeriod;
  p.startTime = wanted.startTime;
  p.endTime = wanted.endTime;
  p.samplePeriod = wanted.samplePeriod;
  if (!startOk || !endOk || !periodOk) {
    host.Tell(kMicrosalCaption,
              !startOk ? "Start time set incorrectly.\nTry again.\nContact KLX if the problem "
                         "persists."
              : !endOk ? "End time set incorrectly.\nTry again.\nContact KLX if the problem "
                         "persists."
                       : "Period set incorrectly.\nTry again.\nContact KLX if the problem "
                         "persists.",
              BoxIcon::Stop);
    return false;
  }

  loggerStreaming = true;  // from the enable on, the logger may be left sampling
  link_.CommSet(8);
  std::array<uint8_t, 121> buffer{};
  const int n = serial.LinkRead(buffer.data(), 120);
  const std::string answer(reinterpret_cast<const char*>(buffer.data()),
                           static_cast<size_t>(std::max(n, 0)));
  int status = HexAfterKey(answer, "Logger status");
  if (status < 0) status = HexAfterKey(answer, "Logger started in mode");
  if (status <= 0 || status > 6) {
    host.Tell(kMicrosalCaption,
              "Logger has not been enabled.\nTry again.\nIf problem persists contact KLX.",
              BoxIcon::Stop);
    return false;
  }
  link_.status.code = status;
  return true;
}

int MicrosalRun::Poll() {
  if (!reader_) return 0;
  int taken = 0;
  std::array<uint8_t, RecordReader::kBufferSize + 1> buffer{};
  for (int reads = 0; reads < 16; ++reads) {
    const int n = link_.link().LinkRead(buffer.data(), static_cast<int>(reader_->ReadSize()));
    if (n > 0) reader_->Append(buffer.data(), static_cast<size_t>(n));
    while (auto record = reader_->Next()) {
      if (record->tag != RecordTag::Sample || record->raw.size() < 3) continue;
      AddRecord({record->raw[0], record->raw[1], record->raw[2]}, record->time);
      ++taken;
      if (!reader_) return taken;  // a record handler ended the run
    }
    if (n <= 0) break;
  }
  return taken;
}

void MicrosalRun::AddRecord(const std::array<int32_t, 3>& raw, const SystemTime& time) {
  if (state == MicrosalState::Setup) state = MicrosalState::Running;
  lastRecordTime = time;
  if (measurement.Add(ConvertMicrosalRecord(raw, cal_)))
    ShowStatus(link_.host(), kGraphOverflowText);
  capture.AutomaticRow(clock_.LocalTime(), sampleInformation, measurement);
  ReportCaptureFailure();
  if (onRecord) onRecord();
}

bool MicrosalRun::SaveNow() {
  const bool written = capture.SaveNow(clock_.LocalTime(), sampleInformation, measurement);
  ReportCaptureFailure();
  return written;
}

void MicrosalRun::ReportCaptureFailure() {
  if (capture.TakeNewFailure())
    ShowStatus(link_.host(), CFormat("Unable to write to %s: the readings are not being saved",
                                     capture.Path().string().c_str()));
}

void MicrosalRun::SecondTick() {
  if (state != MicrosalState::Setup) return;
  setupText += " .";
  setupProgress = std::min(100, setupProgress + 5);
}

void MicrosalRun::Stop() {
  reader_.reset();
  capture.Close();
  if (loggerStreaming) {
    DrainLine(link_, clock_, 100, 1500);
    if (StopUntilIdle(link_, clock_, stopTimeoutMs, kMicrosalCaption)) {
      link_.link().LinkWriteText("!B00");
      link_.link().WaitMilliseconds(50);
      loggerStreaming = false;
    }
  }
  state = MicrosalState::Stopped;
}

void MicrosalRun::CaptureZero(MicrosalStandardization& edit, bool standard) const {
  if (standard)
    edit.standardZero = measurement.Means().standard;
  else
    edit.sampleZero = measurement.Means().sample;
}

void MicrosalRun::CaptureStandard(MicrosalStandardization& edit) const {
  edit.sampleOne = measurement.Means().sample;
  edit.standardOne = measurement.Means().standard;
}

bool MicrosalRun::SaveStandardization(const MicrosalStandardization& next) {
  Host& host = link_.host();
  if (!GainAcceptable(next.alpha)) {
    host.Tell(kAcceptCaption, kBadGainText, BoxIcon::Stop);
    return false;
  }
  if (!calibrationRead) {
    host.Tell(kAcceptCaption, kNoCalibrationText, BoxIcon::Stop);
    return false;
  }
  ShowStatus(host, kSaveStartedText);
  // The reading stops and what the port still holds of the record stream is dropped, so that the
  // reconnect's identification gets its own answer.
  reader_.reset();
  if (loggerStreaming) DrainLine(link_, clock_, 100, 1500);
  UsePollingTimeouts(link_, false);
  state = MicrosalState::Saving;
  bool reached = false, restoreFailed = false;
  if (!WriteStandardization(next, reached, restoreFailed)) {
    host.Tell(kAcceptCaption,
              restoreFailed ? std::string(kSaveFailedText) + kRestoreFailedText
                            : std::string(kSaveFailedText),
              BoxIcon::Stop);
    state = MicrosalState::Stopped;
    setupText = kMicrosalHaltedText;
    setupProgress = 0;
    // The reading goes on with what the logger holds; the panel keeps the new values.
    if (reached) StartRun(true);
    return false;
  }
  MicrosalStandardization stored = next;
  stored.batch = stored.batch.substr(0, kMicrosalBatchLength);
  if (capture.IsOpen())
    capture.Append(CFormat(kStandardizationNote, stored.batch.c_str(), stored.k15));
  host.Tell(kAcceptCaption, kSaveSucceededText, BoxIcon::Information);
  StartRun(true);
  standardization = stored;
  return true;
}

bool MicrosalRun::WriteStandardization(const MicrosalStandardization& next, bool& reached,
                                       bool& restoreFailed) {
  Host& host = link_.host();
  if (!link_.ConnectLogger()) {
    host.Tell(kAcceptCaption, kSaveConnectText, BoxIcon::Stop);
    return false;
  }
  reached = true;
  if (!StopUntilIdle(link_, clock_, stopTimeoutMs, kAcceptCaption)) return false;
  loggerStreaming = false;
  const CalibrationCoefficients previous = cal_;
  CalibrationCoefficients work = cal_;
  ApplyToCoefficients(next, work);
  work.calibrationWriteFlags = 1;
  // A write that failed part way may have changed the logger as well.
  const bool written = WriteCalibration(link_, work) == CalibrationWrite::Written &&
                       SendStandardizationBlock(link_, next);
  if (written) {
    cal_ = work;
    cal_.calibrationReadNeeded = true;
    return true;
  }
  restoreFailed = !RestoreStandardization(previous);
  return false;
}

bool MicrosalRun::RestoreStandardization(const CalibrationCoefficients& previous) {
  cal_ = previous;
  CalibrationCoefficients back = previous;
  back.calibrationWriteFlags = 1;
  bool ok = WriteCalibration(link_, back) == CalibrationWrite::Written;
  if (!previousBlock_.empty()) {
    std::vector<uint8_t> read;
    ok = link_.WriteTable("S0600", previousBlock_) && link_.ReadTable("R0600", read) == 1 &&
         read.size() >= kMicrosalBlockSize &&
         std::equal(previousBlock_.begin(), previousBlock_.begin() + kMicrosalBlockSize,
                    read.begin()) &&
         ok;
  }
  cal_.calibrationReadNeeded = true;
  return ok;
}

}  // namespace klx
