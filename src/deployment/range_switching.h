#pragma once
// Channels whose sensors have several measuring ranges: the extended channel capabilities
// (table 0400) and the range switching behaviour (table 0500), what they make of the channel
// letters and the reading time, and their readable summary.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/logger_link.h"
#include "link/range_behaviour.h"
#include "records/logger_state.h"

namespace klx {

enum RangeSensorType : int { kSeapointFluorometer = 5, kSeapointTurbidity = 6, kNonSwitching = 7 };
enum RangeMode : int {
  kFullAutoRanging = 0,
  kAutoRangeFixedGain = 1,
  kUserFixedGain = 2,
  kFixedGain = 3
};

struct RangeSwitching {
  static constexpr size_t kTableSize = 26;
  std::array<uint8_t, kTableSize> extended{};   // table 0400
  std::array<uint8_t, kTableSize> behaviour{};  // table 0500
  // The logger's own reading time before any channel raised it (-1: not yet known).
  int defaultReadingTimeMs = -1;
  // A channel in full auto-ranging mode: the sensors cannot stay powered between samples.
  bool continuousPowerForbidden = false;
  std::array<int, RangeBehaviour::kChannels> channelReadingMs{};  // per channel, 0: no switching
  std::array<std::string, 25> labels;  // short label per switching channel

  static int SensorType(uint8_t b) { return RangeBehaviour::SensorType(b); }
  static int Mode(uint8_t b) { return RangeBehaviour::Mode(b); }
  static int Gain(uint8_t b) { return RangeBehaviour::Gain(b); }
  // The channel (from 0) switches ranges.
  bool Switches(int channel) const;
  // Offered in the channel dialog: extended bit 1 clear and mode not 3.
  bool Offered(int channel) const;
  // Both tables as after a failed read: every channel non-switching.
  void SetNonSwitching();
};

// The gain names of a channel letter (four entries), or nullptr.
const std::array<const char*, 4>* GainNames(char letter);

// Derives the channel letters, the per-channel and overall reading time, byte 0 of the
// behaviour table and the continuous-power restriction.
void ApplyRangeSwitching(RangeSwitching& r, LoggerState& logger);

// Channel settings (channel from 0).
void SetChannelAutoRanging(RangeSwitching& r, int channel);
void SetChannelFixedGain(RangeSwitching& r, int channel, int gain, int mode, int sensorType);

// Reads both tables (a table that cannot be read is reset to byte 0 = 1 and 0xFF for every
// channel; the other table keeps what was read) and applies them. True when both were read.
bool ReadRangeSwitching(LoggerLink& link, RangeSwitching& r);
// Writes, reads back and compares both tables, with the status messages. True on success.
bool WriteRangeSwitching(LoggerLink& link, RangeSwitching& r);

// "Show range changes".
std::vector<std::string> RangeSwitchingSummary(const RangeSwitching& r, const LoggerState& logger);

}  // namespace klx
