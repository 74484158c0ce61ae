#pragma once
// What the range switching behaviour table (table 0500: byte 0 the slowest channel, then one
// byte per channel) makes of the channels: their auto-ranging letters, the time each takes to
// read, the logger's reading time and whether its sensors may stay powered between samples.
// The configuration read and the range switching setup both apply it.
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace klx {

struct RangeBehaviour {
  static constexpr size_t kChannels = 25;
  std::array<int, kChannels> channelReadingMs{};  // per channel, 0 when it does not switch
  int readingTimeMs = 0;                  // the largest of the default and the channels' times
  int longestChannel = 1;                 // from 1; 1 when no channel reads longer than the default
  bool continuousPowerForbidden = false;  // a channel reads in full auto-ranging mode

  static int SensorType(uint8_t b) { return b & 7; }   // 5 fluorometer, 6 turbidity, 7 none
  static int Mode(uint8_t b) { return (b >> 3) & 3; }  // 0 full auto-ranging .. 3 fixed gain
  static int Gain(uint8_t b) { return (b >> 5) & 7; }
  // A channel with this byte switches ranges.
  static bool Switches(uint8_t b) { return SensorType(b) < 7 && Mode(b) < 3; }
};

// The reading time of a sensor under full auto-ranging, ms (0 for letters without ranges).
int AutoRangingSensorMs(char letter);

// Applies the table's data bytes to the first `channels` letters: a switching turbidity sensor
// becomes "y", a switching fluorometer the lower case of its letter.
RangeBehaviour ApplyRangeBehaviour(std::span<const uint8_t> table, std::string& letters,
                                   size_t channels, int defaultReadingTimeMs);

}  // namespace klx
