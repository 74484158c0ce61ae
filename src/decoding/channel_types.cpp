#include "decoding/channel_types.h"

#include <cstdio>

#include "records/data_set.h"
#include "records/logger_state.h"

namespace klx {

// "µ" is the single byte 0xB5; the derived letters are the bytes 0x81 to 0x87. The escapes are
// closed by string concatenation so that no following character is read as a hex digit.
const ChannelType kChannelTypeTable[kChannelTypeCount] = {
    {"T     Temp ", "%2d - Temperature", 0, "T%3d", 0},
    {"P     Pres ", "%2d - Pressure", 1, "P%3d", 1},
    {"C     Cond ", "%2d - Conductivity", 2, "C%3d", 1},
    {"D     D_O2 ", "%2d - Dissolved O2", 3, "dO%3d", 1},
    {"N    Trans ", "%2d - Transmissometer", 17, "Tm%3d", 0},
    {"M      Vlt ", "%2d - Voltage", 5, "V%3d", 0},
    {"V     Volt ", "%2d - Voltage", 5, "V%3d", 1},
    {"Y     Turb ", "%2d - Turbidity", 6, "Tu%3d", 2},
    {"y   Turb-a ", "%2d - Turbidity", 6, "Tu%3d", 2},
    {"R      PAR ", "%2d - PAR", 7, "PAR%3d", 1},
    {"H       pH ", "%2d - pH", 8, "pH%3d", 1},
    {"F      FlC ", "%2d - Fluorometry-C", 9, "FlC%3d", 2},
    {"f    FlC-a ", "%2d - Fluorometry-C", 9, "FlC%3d", 2},
    {"G      FlR ", "%2d - Fluorometry-R", 10, "FlR%3d", 2},
    {"g    FlR-a ", "%2d - Fluorometry-R", 10, "FlR%3d", 2},
    {"Z     FlPe ", "%2d - Fluorometry-Pe", 10, "FlPe%3d", 2},
    {"z   FlPe-a ", "%2d - Fluorometry-Pe", 10, "FlPe%3d", 2},
    {"I     FlUV ", "%2d - Fluorometry-UV", 10, "FlUV%3d", 2},
    {"i   FlUV-a ", "%2d - Fluorometry-UV", 10, "FlUV%3d", 2},
    {"E     Echo ", "", 12, "Echo", 1},
    {"A    Depth ", "%2d - Depth", 12, "Depth", 2},
    {"S Salinity ", "%2d - Salinity ", 13, "Salin", 2},
    {"s SpecCond ", "%2d - Specific Cond", 2, "SpCnd", 1},
    {"u SoS (UN) ", "%2d - Speed of sound", 14, "SoS U", 1},
    {"dSoS (Grs) ", "%2d - Speed of sound", 14, "SoS W", 1},
    {"WSoS (Wil) ", "%2d - Speed of sound", 14, "SoS G", 1},
    {"X      dO2 ", "", 19, "dO2_C", 0},
    {"L     Paro ", "%2d - Paroscientific", 1, "Psc%3d", 0},
    {"K     Optd ", "%2d - Optode (sat)", 3, "Opt%3d", 0},
    {"JOptd_"
     "\xB5"
     "Mol ",
     "%2d - Optode (conc) ", 4, "Opt%3d", 0},
    {"\x87"
     " CorrCond ",
     "%2d - Conductivity", 2, "Ccor", 2},
    {"\x86"
     " DensAnom ",
     "%2d - Density (kg/m3)", 22, "DensA", 0},
    {"\x85"
     "    Depth ",
     "%2d - Depth", 12, "dDepth", 2},
    {"\x83"
     "     dO2C ",
     "%2d - Dissolved O2", 20, "dO2_C", 0},
    {"\x84"
     "     dO2S ",
     "%2d - Dissolved O2", 21, "dO2_S", 0},
    {"\x81"
     "      SWH ",
     "%2d - Sig wave ht", 15, "WavHt", 0},
    {"\x82"
     " Td_Slope ",
     "%2d - Tidal slope", 16, "TSlope", 1},
    {"B  Generic ", "%2d - Generic", 18, "Gen%3d", 0},
    {"U  Unknown ", "%2d - Unknown", 23, "Unk%3d", 1},
};

const StampCode kStampCodes[kStampCodeCount] = {
    {"TIM", "TIME STAMP"},   {"CLD", "COLD STARTUP"},   {"CHG", "CHANGE STARTUP"},
    {"LUK", "COOL STARTUP"}, {"WRM", "WARM STARTUP"},   {"STP", "STOP STAMP"},
    {"TTY", "COMMS STAMP"},  {"REC", "RECOVERY STAMP"}, {"BST", "BURST STAMP"},
    {"SER", "SERIAL STAMP"}, {"RTC", "RTC STAMP"},      {"GAN", "GAIN STAMP"},
};

int TypeRowOfLetter(uint8_t letter) {
  for (int row = 0; row < kUnknownTypeRow; ++row)
    if (kChannelTypeTable[row].Letter() == letter) return row;
  return kUnknownTypeRow;
}

namespace {

int RowOfLetters(const std::string& letters, int channel) {
  if (channel < 0 || static_cast<size_t>(channel) >= letters.size()) return kUnknownTypeRow;
  return TypeRowOfLetter(static_cast<uint8_t>(letters[static_cast<size_t>(channel)]));
}

std::string FormatWithNumber(const char* format, int number) {
  if (format == nullptr || format[0] == '\0') return std::string();
    // The formats are the table's own constants, each with at most one integer conversion.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, number);
#pragma GCC diagnostic pop
  return buffer;
}

}  // namespace

int TypeRowOfChannel(const LoggerState& logger, int channel) {
  return RowOfLetters(logger.channelTypes, channel);
}

int TypeRowOfChannel(const DataSet& data, int channel) {
  return RowOfLetters(data.logger.channelTypes, channel);
}

uint32_t UnitOfChannel(const LoggerState& logger, int channel) {
  return kChannelTypeTable[TypeRowOfChannel(logger, channel)].unitIndex;
}

uint32_t UnitOfChannel(const DataSet& data, int channel) {
  return kChannelTypeTable[TypeRowOfChannel(data, channel)].unitIndex;
}

std::string ChannelLabel(int row, int channelNumber) {
  if (row < 0 || row >= kChannelTypeCount) row = kUnknownTypeRow;
  return FormatWithNumber(kChannelTypeTable[row].label, channelNumber);
}

std::string ChannelMatName(int row, int channelNumber) {
  if (row < 0 || row >= kChannelTypeCount) row = kUnknownTypeRow;
  return FormatWithNumber(kChannelTypeTable[row].matName, channelNumber);
}

bool IsGainLetter(uint8_t letter) {
  return letter == 'y' || letter == 'f' || letter == 'g' || letter == 'z' || letter == 'i';
}

const char* GainRangeName(uint8_t letter, uint32_t gainCode) {
  // By gain code 3, 2, 1, 0 in this order.
  static const char* const kTurbidity[4] = {"25NTU", "125NTU", "500NTU", "2500NTU"};
  static const char* const kChlorophyll[4] = {"5ug/l", "15ug/l", "50ug/l", "150ug/l"};
  static const char* const kUltraviolet[4] = {"50ug/l", "150ug/l", "500ug/l", "1500ug/l"};
  static const char* const kPhycoerythrin[4] = {"30ug/l", "90ug/l", "300ug/l", "900ug/l"};
  if (gainCode > 3) return nullptr;
  const char* const* names = nullptr;
  switch (letter) {
    case 'y':
      names = kTurbidity;
      break;
    case 'f':
    case 'g':
      names = kChlorophyll;
      break;
    case 'i':
      names = kUltraviolet;
      break;
    case 'z':
      names = kPhycoerythrin;
      break;
    default:
      return nullptr;
  }
  return names[3 - gainCode];
}

const char* StampName(uint32_t type) {
  return type < kStampCodeCount ? kStampCodes[type].name : "UNKNOWN STAMP";
}

}  // namespace klx
