#include "calibration/read.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "shell/datetime.h"
#include "shell/status.h"

namespace klx {
namespace {

constexpr int kTableAttempts = 5;
constexpr std::array<double, 4> kThermistorDefault = {0.0035, -0.00025, 2.7e-06, 2.3e-08};
constexpr std::array<double, 4> kNoCorrection = {0.0, 1.0, 0.0, 0.0};

// A little-endian IEEE double from eight bytes.
double DoubleAt(const uint8_t* bytes) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytes[i];
  return std::bit_cast<double>(bits);
}

// Four consecutive doubles; false when any of them is not a number.
bool RowAt(const uint8_t* bytes, std::array<double, 4>& row) {
  for (size_t i = 0; i < 4; ++i) {
    row[i] = DoubleAt(bytes + 8 * i);
    if (std::isnan(row[i])) return false;
  }
  return true;
}

char LetterOf(const LoggerState& state, int channel) {
  const auto index = static_cast<size_t>(channel);
  return index < state.channelTypes.size() ? state.channelTypes[index] : '\0';
}

// Reads "CAL" followed by yymmddhhmmss into the calibration date; leaves it when malformed.
void TakeCalibrationDate(const std::vector<uint8_t>& data, CalibrationCoefficients& cal) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  const size_t at = text.find("CAL");
  if (at == std::string_view::npos || at + 15 > text.size()) return;
  std::array<int, 6> date{};
  for (size_t i = 0; i < 6; ++i) {
    const char hi = text[at + 3 + 2 * i], lo = text[at + 4 + 2 * i];
    if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return;
    date[i] = (hi - '0') * 10 + (lo - '0');
  }
  cal.calibrationDate = date;
}

}  // namespace

// A short answer is asked again; an answer whose sum does not hold is followed by a 500 ms wait
// and a read that takes whatever else is on the line, then asked again.
bool ReadCalibrationMemory(LoggerLink& link, int offset, int length, std::vector<uint8_t>& out) {
  using namespace calibration_memory;
  SerialLink& port = link.link();
  const int want = length + 1;
  std::vector<uint8_t> buffer(static_cast<size_t>(want) + 1);
  std::vector<uint8_t> discard(static_cast<size_t>(kChannelBlockSize) + 2);
  const std::string command =
      MemoryReadCommand(kBase + static_cast<uint32_t>(offset), static_cast<uint32_t>(length));
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    port.LinkWriteText(command);
    const int n = port.LinkRead(buffer.data(), want);
    if (n != want) continue;
    const auto count = static_cast<size_t>(length);
    if (ByteSum(buffer.data(), count) == buffer[count]) {
      out.assign(buffer.begin(), buffer.begin() + length);
      return true;
    }
    port.WaitMilliseconds(kRetryWaitMs);
    port.LinkRead(discard.data(), kChannelBlockSize + 1);
  }
  return false;
}

namespace {

CalibrationRead ReadSingleChannel(LoggerLink& link, CalibrationCoefficients& cal,
                                  bool& uncalibrated) {
  std::array<double, 4> row{};
  if (link.ReadSingleChannelCalibration(row, uncalibrated) != 1) return CalibrationRead::Failed;
  if (uncalibrated) {
    ShowStatus(link.host(), kNotCalibratedText);
    LoadDefaultCoefficients(link.state, cal);
    cal.origin = CalibrationOrigin::Uncalibrated;
    return CalibrationRead::Succeeded;
  }
  if (std::any_of(row.begin(), row.end(), [](double v) { return std::isnan(v); }))
    return CalibrationRead::Failed;
  cal.coef[0] = row;
  cal.conductivityCorrection = kNoCorrection;
  return CalibrationRead::Succeeded;
}

CalibrationRead ReadMultiChannel(LoggerLink& link, CalibrationCoefficients& cal) {
  cal.nextRecordOffset = 0;
  RecordRead result = RecordRead::More;
  // Every further record moves the offset on, and the walk ends before the memory does.
  while (result == RecordRead::More) result = ReadCalibrationRecord(link, cal, false);
  if (result != RecordRead::Last) return CalibrationRead::Failed;
  cal.conductivityCorrection = kNoCorrection;
  return CalibrationRead::Succeeded;
}

}  // namespace

CalibrationGeneration GenerationOf(const LoggerState& state) {
  if (state.extendedCommandSet) return CalibrationGeneration::LinearMemory;
  if (state.IsVS()) return CalibrationGeneration::MultiChannel;
  return CalibrationGeneration::SingleChannel;
}

int CalibrationRows(const LoggerState& state) {
  if (GenerationOf(state) == CalibrationGeneration::SingleChannel) return 1;
  return std::clamp(state.channelCount, 1, CalibrationCoefficients::kMaxChannels);
}

std::array<double, 4> DefaultCoefficientRow(CalibrationGeneration generation, char letter,
                                            const std::string& model) {
  if (generation == CalibrationGeneration::SingleChannel) {
    if (model.find("NA") != std::string::npos) return kThermistorDefault;
    return {0.0, 100.0, 0.0, 0.0};
  }
  if (letter == 'T') return kThermistorDefault;
  if (generation == CalibrationGeneration::LinearMemory) {
    if (letter == 'K') return {0.0, 125.0, 0.0, 0.0};
    if (letter == 'J') return {0.0, 625.0, 0.0, 0.0};
  }
  return {0.0, 1.0, 0.0, 0.0};
}

void LoadDefaultCoefficients(const LoggerState& state, CalibrationCoefficients& cal) {
  const CalibrationGeneration generation = GenerationOf(state);
  const int rows = CalibrationRows(state);
  for (int n = 0; n < rows; ++n)
    cal.coef[static_cast<size_t>(n)] =
        DefaultCoefficientRow(generation, LetterOf(state, n), state.model);
  cal.conductivityCorrection = kNoCorrection;
}

bool HasConductivityCorrection(const LoggerState& state) {
  if ((state.rsCommandFlags & 0x08u) == 0 || state.ModelHas("HL-240")) return false;
  // The configuration read turns 'S' into 'C' and marks the channels as non-standard; the raw
  // table still carries the letter.
  const auto& table = state.configurationTable;
  const size_t count = table.empty() ? 0 : table[0];
  for (size_t i = 0; i < count && 5 + 2 * i < table.size(); ++i)
    if (table[5 + 2 * i] == 'S') return true;
  return !state.standardChannels;
}

CalibrationRead ReadCalibrationV(LoggerLink& link, CalibrationCoefficients& cal) {
  std::vector<uint8_t> data;
  int result = 0;
  for (int attempt = 0; attempt < kTableAttempts && result == 0; ++attempt)
    result = link.ReadTable("V000000", data);
  const std::string_view head(reinterpret_cast<const char*>(data.data()), data.size());
  if (result != 1) return CalibrationRead::Failed;
  if (head.find("CAL") == std::string_view::npos) {
    cal.origin = CalibrationOrigin::Uncalibrated;
    return CalibrationRead::Failed;
  }
  TakeCalibrationDate(data, cal);

  // Rows are collected first, so that a read that fails half-way leaves no mixture behind.
  const int rows = CalibrationRows(link.state);
  std::array<std::array<double, 4>, CalibrationCoefficients::kMaxChannels> read{};
  std::string progress = kReadingCalibrationText;
  for (int n = 1; n <= rows; ++n) {
    const std::string command = Format("V0000%02X", n);
    result = 0;
    for (int attempt = 0; attempt < kTableAttempts; ++attempt) {
      result = link.ReadTable(command, data);
      // Only a logger that said nothing at all is asked again.
      if (result != 0 || link.ReplyLength() > 0) break;
    }
    if (result != 1 || data.size() < 33) return CalibrationRead::Failed;
    if (!RowAt(data.data(), read[static_cast<size_t>(n - 1)])) return CalibrationRead::Failed;
    progress += "+ ";
    ShowStatus(link.host(), progress);
  }
  std::copy(read.begin(), read.begin() + rows, cal.coef.begin());

  cal.conductivityCorrection = kNoCorrection;
  if (HasConductivityCorrection(link.state)) {
    std::array<double, 4> correction{};
    if (link.ReadTable("R0600", data) == 1 && data.size() >= 34 && data[0] == 2 &&
        RowAt(data.data() + 1, correction))
      cal.conductivityCorrection = correction;
  }
  return CalibrationRead::Succeeded;
}

std::array<int, 6> DateOfRecordHeader(const uint8_t* bytes) {
  std::array<int, 6> date{};
  for (size_t i = 0; i < 6; ++i) date[i] = FromPackedDecimalUnchecked(bytes[i]);
  return date;
}

RecordRead ReadCalibrationRecord(LoggerLink& link, CalibrationCoefficients& cal, bool verify) {
  switch (ReadCalibrationRecordStep(link, cal, verify)) {
    case RecordStep::More:
      return RecordRead::More;
    case RecordStep::Last:
      return RecordRead::Last;
    default:
      return RecordRead::Failed;
  }
}

RecordStep ReadCalibrationRecordStep(LoggerLink& link, CalibrationCoefficients& cal, bool verify) {
  using namespace calibration_memory;
  const int channels = CalibrationRows(link.state);
  const int recordSize = kHeaderSize + kChannelBlockSize * channels;
  auto downloadError = [&link] {
    link.host().Tell("Calibration", kCalibrationDownloadError, BoxIcon::Warning);
    return RecordStep::Error;
  };

  int offset = cal.nextRecordOffset;
  if (offset < 0 || offset + kHeaderSize > kHighestEnd) return downloadError();
  std::vector<uint8_t> bytes;
  if (!ReadCalibrationMemory(link, offset, kHeaderSize, bytes)) return downloadError();
  if (bytes[0] == 0xFF) {
    ShowStatus(link.host(), kNotCalibratedText);
    LoadDefaultCoefficients(link.state, cal);
    if (offset == 0) cal.origin = CalibrationOrigin::Uncalibrated;
    return RecordStep::Empty;
  }
  // A record that would run past the end of the calibration memory is not a record.
  if (offset + recordSize > kHighestEnd) return downloadError();
  const std::array<int, 6> date = DateOfRecordHeader(bytes.data());
  offset += kHeaderSize;

  std::array<std::array<double, 4>, CalibrationCoefficients::kMaxChannels> rows{};
  for (int n = 0; n < channels; ++n) {
    if (!ReadCalibrationMemory(link, offset, kChannelBlockSize, bytes)) return downloadError();
    auto& row = rows[static_cast<size_t>(n)];
    if (!RowAt(bytes.data(), row)) return downloadError();
    offset += kChannelBlockSize;
  }
  cal.nextRecordOffset = offset;
  if (!verify) {
    cal.calibrationDate = date;
    std::copy(rows.begin(), rows.begin() + channels, cal.coef.begin());
  }

  // No further record fits behind this one: it is the last.
  bool last = offset + recordSize > kHighestEnd;
  if (!last) {
    if (!ReadCalibrationMemory(link, offset, 3, bytes)) return downloadError();
    last = bytes[0] == 0xFF;
  }
  if (!last) return RecordStep::More;
  if (!verify) return RecordStep::Last;
  const bool same = std::equal(rows.begin(), rows.begin() + channels, cal.coef.begin());
  return same ? RecordStep::Last : RecordStep::Mismatch;
}

CalibrationRead ReadCalibration(LoggerLink& link, CalibrationCoefficients& cal) {
  if (!cal.calibrationReadNeeded) return CalibrationRead::Succeeded;
  cal.calibrationReadNeeded = false;
  cal.origin = CalibrationOrigin::NotRead;
  cal.readFromSerial = link.state.serial;
  Host& host = link.host();
  ShowStatus(host, kReadingCalibrationText);

  const CalibrationGeneration generation = GenerationOf(link.state);
  CalibrationRead result = CalibrationRead::Failed;
  bool uncalibrated = false;
  // The records hold one block per configured channel, so the channel count must be known.
  const bool configured =
      generation == CalibrationGeneration::SingleChannel || link.CommGet(16) == 1;
  if (configured) {
    switch (generation) {
      case CalibrationGeneration::LinearMemory:
        result = ReadCalibrationV(link, cal);
        break;
      case CalibrationGeneration::MultiChannel:
        result = ReadMultiChannel(link, cal);
        break;
      case CalibrationGeneration::SingleChannel:
        result = ReadSingleChannel(link, cal, uncalibrated);
        break;
    }
  }
  if (result != CalibrationRead::Succeeded) {
    ShowStatus(host, kNotCalibratedText);
    LoadDefaultCoefficients(link.state, cal);
    cal.calibrationReadNeeded = true;
    // A logger that holds no calibration has been read completely: its defaults may be written
    // back. A read that broke off leaves the logger's values unknown.
    if (cal.origin != CalibrationOrigin::Uncalibrated) cal.origin = CalibrationOrigin::ReadFailed;
    return CalibrationRead::Failed;
  }
  if (cal.origin == CalibrationOrigin::NotRead) cal.origin = CalibrationOrigin::Logger;
  link.state.calibrationStale = false;
  // An uncalibrated single-channel logger keeps its warning in the message line.
  if (!uncalibrated) {
    ShowStatus(host, kCalibrationReadText);
    ShowStatusIcon(host, StatusIcon::Info);
  }
  return result;
}

void InstallCalibrationReader(LoggerLink& link, CalibrationCoefficients& cal) {
  link.calibrationReader = [&link, &cal] {
    // The link marks the calibration stale when another logger is connected.
    if (link.state.calibrationStale) cal.calibrationReadNeeded = true;
    return static_cast<int>(ReadCalibration(link, cal));
  };
}

}  // namespace klx
