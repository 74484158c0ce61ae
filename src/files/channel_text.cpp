#include "files/channel_text.h"

#include <cstring>

namespace klx::files {

const ChannelTypeName kChannelTypeNames[kChannelTypeRows] = {
    {'T', "     Temp "},  {'P', "     Pres "},    {'C', "     Cond "},  {'D', "     D_O2 "},
    {'N', "    Trans "},  {'M', "      Vlt "},    {'V', "     Volt "},  {'Y', "     Turb "},
    {'y', "   Turb-a "},  {'R', "      PAR "},    {'H', "       pH "},  {'F', "      FlC "},
    {'f', "    FlC-a "},  {'G', "      FlR "},    {'g', "    FlR-a "},  {'Z', "     FlPe "},
    {'z', "   FlPe-a "},  {'I', "     FlUV "},    {'i', "   FlUV-a "},  {'E', "     Echo "},
    {'A', "    Depth "},  {'S', " Salinity "},    {'s', " SpecCond "},  {'u', " SoS (UN) "},
    {'d', "SoS (Grs) "},  {'W', "SoS (Wil) "},    {'X', "      dO2 "},  {'L', "     Paro "},
    {'K', "     Optd "},  {'J', "Optd_\xB5Mol "}, {0x87, " CorrCond "}, {0x86, " DensAnom "},
    {0x85, "    Depth "}, {0x83, "     dO2C "},   {0x84, "     dO2S "}, {0x81, "      SWH "},
    {0x82, " Td_Slope "}, {'B', "  Generic "},    {'U', "  Unknown "},
};

int TypeRowOfLetter(uint8_t letter) {
  for (int row = 0; row < kChannelTypeRows - 1; ++row)
    if (kChannelTypeNames[row].letter == letter) return row;
  return kChannelTypeRows - 1;
}

std::string ShortNameOfLetter(uint8_t letter) {
  return kChannelTypeNames[TypeRowOfLetter(letter)].shortName;
}

uint8_t LetterOfTitleWord(std::string_view word) {
  if (word.empty()) return 'U';
  for (const auto& row : kChannelTypeNames)
    if (std::string_view(row.shortName).find(word) != std::string_view::npos) return row.letter;
  return 'U';
}

namespace {
const char* const kStampNames[12] = {
    "TIME STAMP",  "COLD STARTUP",   "CHANGE STARTUP", "COOL STARTUP", "WARM STARTUP", "STOP STAMP",
    "COMMS STAMP", "RECOVERY STAMP", "BURST STAMP",    "SERIAL STAMP", "RTC STAMP",    "GAIN STAMP",
};
}  // namespace

const char* StampName(uint32_t type) {
  return type < 12 ? kStampNames[type] : "UNKNOWN STAMP";
}

int StampTypeOfText(std::string_view text) {
  const size_t at = text.find("type:");
  if (at == std::string_view::npos) return -1;
  const std::string_view rest = text.substr(at + 5);
  for (int type = 0; type < 12; ++type)
    if (rest.find(kStampNames[type]) != std::string_view::npos) return type;
  return -1;
}

std::string GainRangeName(uint8_t letter, uint32_t gain) {
  // Indexed by gain code 0..3.
  static const char* const kTurbidity[4] = {"2500NTU", "500NTU", "125NTU", "25NTU"};
  static const char* const kChlorophyll[4] = {"150ug/l", "50ug/l", "15ug/l", "5ug/l"};
  static const char* const kUltraviolet[4] = {"1500ug/l", "500ug/l", "150ug/l", "50ug/l"};
  static const char* const kPhycoerythrin[4] = {"900ug/l", "300ug/l", "90ug/l", "30ug/l"};
  if (gain > 3) return {};
  switch (letter) {
    case 'y':
      return kTurbidity[gain];
    case 'f':
    case 'g':
      return kChlorophyll[gain];
    case 'i':
      return kUltraviolet[gain];
    case 'z':
      return kPhycoerythrin[gain];
    default:
      return {};
  }
}

}  // namespace klx::files
