// The channel type table, its look-ups, the gain range names and the stamp codes.
#include "decoding/channel_types.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>

#include "records/data_set.h"
#include "records/logger_state.h"

namespace klx {
namespace {

struct ExpectedRow {
  const char* code;
  const char* label;
  uint32_t unitIndex;
  const char* matName;
  uint32_t rangeClass;
};

// Transcribed from the documented table (by a script from the reference text, not from the
// code).
const ExpectedRow kExpected[39] = {
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
    {"JOptd_\xB5Mol ", "%2d - Optode (conc) ", 4, "Opt%3d", 0},
    {"\x87 CorrCond ", "%2d - Conductivity", 2, "Ccor", 2},
    {"\x86 DensAnom ", "%2d - Density (kg/m3)", 22, "DensA", 0},
    {"\x85    Depth ", "%2d - Depth", 12, "dDepth", 2},
    {"\x83     dO2C ", "%2d - Dissolved O2", 20, "dO2_C", 0},
    {"\x84     dO2S ", "%2d - Dissolved O2", 21, "dO2_S", 0},
    {"\x81      SWH ", "%2d - Sig wave ht", 15, "WavHt", 0},
    {"\x82 Td_Slope ", "%2d - Tidal slope", 16, "TSlope", 1},
    {"B  Generic ", "%2d - Generic", 18, "Gen%3d", 0},
    {"U  Unknown ", "%2d - Unknown", 23, "Unk%3d", 1},
};

TEST(ChannelTypeTable, HasAll39RowsExactly) {
  ASSERT_EQ(kChannelTypeCount, 39);
  for (int row = 0; row < 39; ++row) {
    const ChannelType& t = kChannelTypeTable[row];
    const ExpectedRow& e = kExpected[row];
    // 12 characters: 11 visible and the terminating zero.
    EXPECT_EQ(std::strlen(t.code), 11u) << row;
    EXPECT_EQ(std::make_tuple(std::string(t.code), std::string(t.label), t.unitIndex,
                              std::string(t.matName), t.rangeClass),
              std::make_tuple(std::string(e.code), std::string(e.label), e.unitIndex,
                              std::string(e.matName), e.rangeClass))
        << row;
  }
}

TEST(ChannelTypeTable, LookUpsByLetterAndChannelAndTheNamesTheyGive) {
  // Case matters; the derived letters are the bytes 0x81 to 0x87. No match: "Unknown" (row 38),
  // also for its own letter, which is not searched.
  const std::pair<uint8_t, int> cases[] = {
      {'T', 0},   {'D', 3},   {'d', 24},  {'y', 8},   {'A', 20},  {'J', 29},  {'B', 37},
      {0x87, 30}, {0x86, 31}, {0x85, 32}, {0x83, 33}, {0x84, 34}, {0x81, 35}, {0x82, 36},
      {'Q', 38},  {'U', 38},  {0, 38},    {0x80, 38}, {0xB5, 38}};
  for (const auto& [letter, row] : cases) {
    EXPECT_EQ(TypeRowOfLetter(letter), row) << int{letter};
    if (row >= 30 && row < 37) {
      EXPECT_EQ(kChannelTypeTable[row].Letter(), letter);
    }
  }
  EXPECT_EQ(TypeRowOfLetter(kLetterSignificantWaveHeight), 35);
  EXPECT_EQ(TypeRowOfLetter(kLetterCorrectedConductivity), 30);

  DataSet data;
  data.logger.channelCount = 3;
  data.logger.channelTypes = "TPy";
  // Channel 3 has no letter, channel -1 does not exist.
  for (auto [channel, row, unit] :
       {std::tuple{0, 0, 0u}, {1, 1, 1u}, {2, 8, 6u}, {3, 38, 23u}, {-1, 38, 23u}, {9, 38, 23u}})
    EXPECT_EQ(
        std::make_pair(TypeRowOfChannel(data.logger, channel), UnitOfChannel(data.logger, channel)),
        std::make_pair(row, unit))
        << channel;
  data.logger.channelTypes += static_cast<char>(0x85);
  EXPECT_EQ(std::make_pair(TypeRowOfChannel(data, 3), UnitOfChannel(data, 3)),
            std::make_pair(32, 12u));

  EXPECT_EQ(ChannelLabel(0, 3), " 3 - Temperature");
  EXPECT_EQ(ChannelLabel(0, 12), "12 - Temperature");
  EXPECT_EQ(ChannelLabel(21, 2), " 2 - Salinity ");
  EXPECT_EQ(ChannelLabel(19, 2), "");  // Echo: never shown as a logger channel
  EXPECT_EQ(ChannelLabel(99, 1), " 1 - Unknown");
  EXPECT_EQ(ChannelMatName(0, 1), "T  1");
  EXPECT_EQ(ChannelMatName(15, 12), "FlPe 12");
  EXPECT_EQ(ChannelMatName(20, 4), "Depth");
  EXPECT_EQ(ChannelMatName(38, 2), "Unk  2");
}

TEST(GainRangesAndStamps, NamesByLetterAndGainCodeAndStampCodesInTypeOrder) {
  const std::pair<char, std::array<const char*, 4>> gains[] = {
      // gain codes 3, 2, 1, 0
      {'y', {"25NTU", "125NTU", "500NTU", "2500NTU"}},
      {'f', {"5ug/l", "15ug/l", "50ug/l", "150ug/l"}},
      {'g', {"5ug/l", "15ug/l", "50ug/l", "150ug/l"}},
      {'i', {"50ug/l", "150ug/l", "500ug/l", "1500ug/l"}},
      {'z', {"30ug/l", "90ug/l", "300ug/l", "900ug/l"}}};
  for (const auto& [letter, names] : gains) {
    EXPECT_TRUE(IsGainLetter(static_cast<uint8_t>(letter)));
    for (uint32_t code = 0; code < 4; ++code)
      EXPECT_STREQ(GainRangeName(static_cast<uint8_t>(letter), code), names[3 - code])
          << letter << code;
    EXPECT_EQ(GainRangeName(static_cast<uint8_t>(letter), 4), nullptr);
  }
  EXPECT_FALSE(IsGainLetter('Y') || IsGainLetter('T'));
  EXPECT_EQ(GainRangeName('Y', 1), nullptr);

  const std::pair<const char*, const char*> stamps[] = {
      {"TIM", "TIME STAMP"},   {"CLD", "COLD STARTUP"},   {"CHG", "CHANGE STARTUP"},
      {"LUK", "COOL STARTUP"}, {"WRM", "WARM STARTUP"},   {"STP", "STOP STAMP"},
      {"TTY", "COMMS STAMP"},  {"REC", "RECOVERY STAMP"}, {"BST", "BURST STAMP"},
      {"SER", "SERIAL STAMP"}, {"RTC", "RTC STAMP"},      {"GAN", "GAIN STAMP"}};
  ASSERT_EQ(kStampCodeCount, 12);
  for (uint32_t k = 0; k < 12; ++k) {
    EXPECT_STREQ(kStampCodes[k].code, stamps[k].first);
    EXPECT_STREQ(kStampCodes[k].name, stamps[k].second);
    EXPECT_STREQ(StampName(k), stamps[k].second);
  }
  EXPECT_EQ(std::make_tuple(kStampBurst, kStampGain), std::make_tuple(8u, 11u));
}

}  // namespace
}  // namespace klx
