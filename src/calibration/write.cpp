#include "calibration/write.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <vector>

#include "calibration/command.h"
#include "calibration/read.h"
#include "link/status_codes.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx {
namespace {

constexpr int kChannelPauseMs = 100;

void AppendDouble(std::vector<uint8_t>& out, double v) {
  const auto bits = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

std::vector<uint8_t> RowBytes(const std::array<double, 4>& row) {
  std::vector<uint8_t> out;
  out.reserve(33);
  for (double v : row) AppendDouble(out, v);
  return out;
}

bool AllFinite(const std::array<double, 4>& row) {
  return std::all_of(row.begin(), row.end(), [](double v) { return std::isfinite(v); });
}

void Progress(const WriteProgress& progress, const std::string& text) {
  if (progress) progress(text);
}

// Sends a "U" table and, when the logger refuses it, leaves its answer for the error decode.
bool SendUTable(LoggerLink& link, const std::string& command, const std::vector<uint8_t>& data) {
  link.SetReply("");  // no older refusal may be taken for this one's
  return link.WriteTable(command, data);
}

void ShowCalibrationError(LoggerLink& link) {
  const std::string_view reply(reinterpret_cast<const char*>(link.ReplyBytes()),
                               static_cast<size_t>(link.ReplyLength()));
  const std::string text = CalibrationErrorText(reply);
  if (!text.empty()) link.host().Tell("Calibration Error", text, BoxIcon::Stop);
}

// The progress window of a linear-memory logger's write: start, each channel, end.
int WriteLinear(LoggerLink& link, const CalibrationCoefficients& cal, const WriteProgress& progress,
                bool coefficientsEdited) {
  Host& host = link.host();
  if (!coefficientsEdited) return 1;
  if (!SendUTable(link, "U0000", {'A'})) {
    ShowStatus(host, "Start of calibration procedure send error");
    ShowCalibrationError(link);
    return 0;
  }
  const int rows = CalibrationRows(link.state);
  for (int n = 1; n <= rows; ++n) {
    Progress(progress, Format("Writing calibration data for channel %d", n));
    std::vector<uint8_t> data = RowBytes(cal.coef[static_cast<size_t>(n - 1)]);
    data.push_back(0);
    if (!SendUTable(link, Format("U%02X%02X", n & 0xFF, (n >> 8) & 0xFF), data)) {
      ShowStatus(host, Format("Failure in writing calibration data for channel %d", n));
      return 0;
    }
  }
  if (!SendUTable(link, "U0000", {'Z'})) {
    ShowStatus(host, "End of calibration procedure send error");
    ShowCalibrationError(link);
    return 0;
  }
  ShowStatus(host, "Calibration successful");
  return 1;
}

bool WriteCorrection(LoggerLink& link, const CalibrationCoefficients& cal) {
  Host& host = link.host();
  std::vector<uint8_t> data{2};
  for (double v : cal.conductivityCorrection) AppendDouble(data, v);
  if (!link.WriteTable("S0600", data)) {
    ShowStatus(host, "Conductivity correction calibration send error");
    return false;
  }
  std::vector<uint8_t> back;
  if (link.ReadTable("R0600", back) != 1 || back.size() < data.size()) {
    ShowStatus(host, "Conductivity correction calibration retrieve error");
    return false;
  }
  if (!std::equal(data.begin(), data.end(), back.begin())) {
    ShowStatus(host, "Conductivity correction calibration compare error");
    return false;
  }
  return true;
}

bool WriteMultiChannel(LoggerLink& link, CalibrationCoefficients& cal,
                       const WriteProgress& progress) {
  using namespace calibration_memory;
  Host& host = link.host();
  const int rows = CalibrationRows(link.state);
  int offset = cal.nextRecordOffset;
  if (offset < 0 || offset + kChannelBlockSize * rows + kHeaderSize > kHighestEnd) {
    host.Tell("Calibration", kInsufficientCalibrationMemoryText, BoxIcon::Warning);
    ShowStatus(host, "");
    return false;
  }
  // The record's date is the logger's clock, which the frame has just set to the PC's time.
  if (link.CommGet(1) != 1) {
    host.Tell("Calibration", kClockReadFailedText, BoxIcon::Stop);
    return false;
  }
  const std::string stamp = LoggerDateText(link.loggerClock);
  SerialLink& port = link.link();
  port.LinkWriteText(Format("!C%02X%02X%02X", offset & 0xFF, (offset >> 8) & 0xFF, kHeaderSize) +
                     stamp);
  offset += kHeaderSize;
  for (int n = 0; n < rows; ++n) {
    port.WaitMilliseconds(kChannelPauseMs);
    const std::string line = Format("Writing calibration data for channel %d", n + 1);
    ShowStatus(host, line);
    Progress(progress, line);
    std::string text = Format("!C%02X%02X%02X", offset & 0xFF, (offset >> 8) & 0xFF, 32);
    for (uint8_t b : RowBytes(cal.coef[static_cast<size_t>(n)])) text += Format("%02X", b);
    port.LinkWriteText(text);
    offset += kChannelBlockSize;
  }
  port.WaitMilliseconds(kChannelPauseMs);

  // The verifying walk compares the last record with the table, which holds what was sent.
  cal.nextRecordOffset = 0;
  RecordStep step = RecordStep::More;
  while (step == RecordStep::More) step = ReadCalibrationRecordStep(link, cal, true);
  if (step == RecordStep::Last) {
    host.Tell("Calibration", kCalibrationWrittenText, BoxIcon::Information);
    return true;
  }
  // A walk that broke off leaves the end of the chain unknown: nothing may be appended until
  // the calibration has been read again.
  if (step == RecordStep::Error) cal.origin = CalibrationOrigin::ReadFailed;
  host.Tell("Calibration", kCalibrationWriteErrorText, BoxIcon::Warning);
  return false;
}

bool WriteSingleChannel(LoggerLink& link, CalibrationCoefficients& cal) {
  Host& host = link.host();
  const std::array<double, 4> sent = cal.coef[0];
  std::vector<uint8_t> message{'Y'};
  for (uint8_t b : RowBytes(sent)) message.push_back(b);
  link.link().LinkWriteBytes(message.data(), static_cast<int>(message.size()));
  // Always read back: a logger that ignored "Y" must not be reported as written.
  cal.calibrationReadNeeded = true;
  const bool read = ReadCalibration(link, cal) == CalibrationRead::Succeeded;
  if (read && cal.origin == CalibrationOrigin::Logger && cal.coef[0] == sent) {
    host.Tell("Calibration", kCalibrationWrittenText, BoxIcon::Information);
    return true;
  }
  host.Tell("Calibration", kCalibrationWriteErrorText, BoxIcon::Warning);
  cal.coef[0] = sent;
  return false;
}

}  // namespace

std::string CalibrationErrorText(std::string_view reply) {
  const size_t nak = reply.find(static_cast<char>(kNak));
  if (nak == std::string_view::npos) return {};
  const std::string_view tail = reply.substr(nak >= 8 ? nak - 8 : 0);
  if (tail.find("F0") != std::string_view::npos)
    return "There is a channel error in terminating\nthe writing of the calibration "
           "coefficients.";
  if (tail.find("F1") != std::string_view::npos)
    return "There is no more memory available for further calibration coefficients.";
  if (tail.find("F2") != std::string_view::npos)
    return "There is no configuration table loaded in this logger.";
  return {};
}

bool CalibrationWritable(LoggerLink& link, const CalibrationCoefficients& cal) {
  const bool fromThisLogger =
      cal.readFromSerial == link.state.serial &&
      (cal.origin == CalibrationOrigin::Logger || cal.origin == CalibrationOrigin::Uncalibrated);
  if (!fromThisLogger) {
    link.host().Tell("Calibration", kCalibrationNotReadText, BoxIcon::Warning);
    return false;
  }
  const int rows = CalibrationRows(link.state);
  const bool finite = std::all_of(cal.coef.begin(), cal.coef.begin() + rows, AllFinite) &&
                      AllFinite(cal.conductivityCorrection);
  if (!finite) {
    link.host().Tell("Calibration", kNotFiniteText, BoxIcon::Warning);
    return false;
  }
  return true;
}

CalibrationWrite WriteCalibration(LoggerLink& link, CalibrationCoefficients& cal,
                                  const WriteProgress& progress) {
  const unsigned flags = cal.calibrationWriteFlags;
  cal.calibrationWriteFlags = 0;
  if (!CalibrationWritable(link, cal)) return CalibrationWrite::Failed;
  const CalibrationGeneration generation = GenerationOf(link.state);
  const bool coefficientsEdited = (flags & 1u) != 0;
  const bool correctionToWrite = generation == CalibrationGeneration::LinearMemory &&
                                 (flags & 2u) != 0 && HasConductivityCorrection(link.state);

  // Nothing changed: the logger is left alone (an older multi-channel logger would otherwise
  // keep a duplicate record).
  if (generation == CalibrationGeneration::MultiChannel && !coefficientsEdited) {
    link.host().Tell("Calibration", kCalibrationUnchangedText, BoxIcon::Information);
    return CalibrationWrite::Written;
  }
  if (generation == CalibrationGeneration::LinearMemory && !coefficientsEdited &&
      !correctionToWrite)
    return CalibrationWrite::Written;

  // A logging or enabled logger may let its coefficients be read, never written: only an idle
  // logger (stopped, not started, stopped by the user) is written to.
  if (link.CommGet(9) != 1) {
    link.host().Tell("Calibration", kStatusReadFailedText, BoxIcon::Warning);
    return CalibrationWrite::Failed;
  }
  if (!StatusIsIdle(link.status.code)) {
    link.host().Tell("Calibration", kCalibrationWhileLoggingText, BoxIcon::Warning);
    return CalibrationWrite::Failed;
  }

  // The clock frame. Without the logger's own time there is nothing to restore it to, so the
  // clock is not touched at all.
  if (link.CommGet(1) != 1) {
    link.host().Tell("Calibration Error", kClockReadFailedText, BoxIcon::Stop);
    return CalibrationWrite::Failed;
  }
  const SystemTime loggerTime = link.loggerClock;
  Clock& clock = link.link().clock();
  const SystemTime pcTime = clock.LocalTime();
  const int32_t serial = link.state.serial;
  link.clockToSet = pcTime;
  link.CommSet(1);

  bool ok = link.ConnectLogger() && link.state.serial == serial;
  if (ok) {
    switch (generation) {
      case CalibrationGeneration::LinearMemory:
        ok = WriteLinear(link, cal, progress, coefficientsEdited) == 1;
        if (ok && correctionToWrite) ok = WriteCorrection(link, cal);
        break;
      case CalibrationGeneration::MultiChannel:
        ok = WriteMultiChannel(link, cal, progress);
        break;
      case CalibrationGeneration::SingleChannel:
        ok = WriteSingleChannel(link, cal);
        break;
    }
  }

  // Whatever the outcome, the logger may now hold something else than the table: the next read
  // replaces it.
  cal.calibrationReadNeeded = true;

  const int64_t elapsed = std::max<int64_t>(0, SecondsBetween(clock.LocalTime(), pcTime));
  link.clockToSet = AddSeconds(loggerTime, elapsed);
  link.CommSet(1);
  return ok ? CalibrationWrite::Written : CalibrationWrite::Failed;
}

void InstallCalibrationWriter(LoggerLink& link, CalibrationCoefficients& cal,
                              WriteProgress progress) {
  link.conductivityCalibration = [&link, &cal, progress = std::move(progress)] {
    return static_cast<int>(WriteCalibration(link, cal, progress));
  };
}

bool ParseCoefficient(const std::string& text, double& value) {
  double v = 0;
  if (std::sscanf(text.c_str(), "%lf", &v) != 1 || !std::isfinite(v)) return false;
  value = v;
  return true;
}

int ParseClipboardColumn(const std::string& text, std::array<double, 4>& values) {
  std::array<double, 4> read{};
  const int n =
      std::sscanf(text.c_str(), "%lf %lf %lf %lf", &read[0], &read[1], &read[2], &read[3]);
  int count = 0;
  while (count < std::max(n, 0) && std::isfinite(read[static_cast<size_t>(count)])) {
    values[static_cast<size_t>(count)] = read[static_cast<size_t>(count)];
    ++count;
  }
  return count;
}

std::string ClipboardWarning(int count) {
  if (count <= 0) return "WARNING\nNo items read from clipboard.";
  if (count < 4) return Format("WARNING\nOnly %d items read from clipboard.", count);
  return {};
}

unsigned EditedFlag(const CalibrationCoefficients& cal, const CoefficientRows& working, int rows) {
  if (cal.origin == CalibrationOrigin::Uncalibrated) return 1;
  rows = std::clamp(rows, 0, CalibrationCoefficients::kMaxChannels);
  return std::equal(working.begin(), working.begin() + rows, cal.coef.begin()) ? 0u : 1u;
}

}  // namespace klx
