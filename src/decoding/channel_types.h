#pragma once
// The channel type table: the constant table through which every part names, labels
// and classifies a channel by its type letter, the gain range names of the auto-ranging
// channels, and the stamp codes found in logger memory.
#include <cstdint>
#include <string>

namespace klx {

struct DataSet;
struct LoggerState;

struct ChannelType {
  // Type letter in column 0, short name right-aligned in the next 9 columns, one space, NUL.
  char code[12];
  // A format with one integer argument, the channel number counted from 1; empty for the two
  // rows that are never shown as logger channels.
  const char* label;
  uint32_t unitIndex;   // the unit text is the display's
  const char* matName;  // a format with one integer argument (channel number) or a fixed name
  uint32_t rangeClass;  // 0, 1 or 2: wrap threshold of the extended range, range switching

  uint8_t Letter() const { return static_cast<uint8_t>(code[0]); }
};

constexpr int kChannelTypeCount = 39;
// Rows 0 to 37 are searched by letter; row 38 ("Unknown") answers when none matches.
constexpr int kUnknownTypeRow = 38;
extern const ChannelType kChannelTypeTable[kChannelTypeCount];

// Letters of the derived channels (rows 30 to 36).
constexpr uint8_t kLetterSignificantWaveHeight = 0x81;
constexpr uint8_t kLetterTidalSlope = 0x82;
constexpr uint8_t kLetterOxygenConcentration = 0x83;
constexpr uint8_t kLetterOxygenSaturation = 0x84;
constexpr uint8_t kLetterDerivedDepth = 0x85;
constexpr uint8_t kLetterDensityAnomaly = 0x86;
constexpr uint8_t kLetterCorrectedConductivity = 0x87;

// The row of a type letter, 0 to 38.
int TypeRowOfLetter(uint8_t letter);
inline int TypeRowOfLetter(char letter) {
  return TypeRowOfLetter(static_cast<uint8_t>(letter));
}
// The row of a channel (indexed from 0) from the channel letters of the logger (or of the data
// set, whose letters include the derived channels appended to it). A channel without a letter
// is "Unknown".
int TypeRowOfChannel(const LoggerState& logger, int channel);
int TypeRowOfChannel(const DataSet& data, int channel);
// The unitIndex of the channel's row.
uint32_t UnitOfChannel(const LoggerState& logger, int channel);
uint32_t UnitOfChannel(const DataSet& data, int channel);

// The row's label formatted with the channel number (counted from 1): "%2d - Temperature" for
// channel 3 gives " 3 - Temperature". Empty for the rows without a label.
std::string ChannelLabel(int row, int channelNumber);
// The row's file name formatted with the channel number ("T%3d" gives "T  3"; fixed names such
// as "Depth" stay as they are).
std::string ChannelMatName(int row, int channelNumber);

// True for the auto-ranging letters y, f, g, z and i, whose words carry a gain code.
bool IsGainLetter(uint8_t letter);
// The gain range name of an auto-ranging letter and gain code 0..3 ("25NTU" for y and 3);
// nullptr for any other letter or code.
const char* GainRangeName(uint8_t letter, uint32_t gainCode);

struct StampCode {
  const char* code;  // three ASCII bytes in memory
  const char* name;  // the display name used in files and on screen
};
constexpr int kStampCodeCount = 12;
extern const StampCode kStampCodes[kStampCodeCount];
// "TIME STAMP" .. "GAIN STAMP"; "UNKNOWN STAMP" for a type outside 0..11.
const char* StampName(uint32_t type);

}  // namespace klx
