// The channel type table, its look-ups, the gain range names and the stamp codes.
#include "decoding/channel_types.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

#include "records/data_set.h"
#include "records/logger_state.h"

namespace klx {
namespace {

TEST(ChannelTypeTable, ThirtyNineRowsOfElevenCharacterCodes) {
  ASSERT_EQ(kChannelTypeCount, 39);
  // Spot rows: the first, one with the micro sign, a derived one, the last.
  const std::tuple<int, std::string, std::string, uint32_t, std::string, uint32_t> rows[] = {
      {0, "T     Temp ", "%2d - Temperature", 0, "T%3d", 0},
      {29, "JOptd_\xB5Mol ", "%2d - Optode (conc) ", 4, "Opt%3d", 0},
      {30, "\x87 CorrCond ", "%2d - Conductivity", 2, "Ccor", 2},
      {38, "U  Unknown ", "%2d - Unknown", 23, "Unk%3d", 1}};
  for (const auto& [row, code, label, unit, mat, range] : rows) {
    const ChannelType& t = kChannelTypeTable[row];
    EXPECT_EQ(std::make_tuple(std::string(t.code), std::string(t.label), t.unitIndex,
                              std::string(t.matName), t.rangeClass),
              std::make_tuple(code, label, unit, mat, range))
        << row;
  }
}

TEST(ChannelTypeTable, LookUpsByLetterAndChannelAndTheNamesTheyGive) {
  // Case matters; the derived letters are the bytes 0x81 to 0x87. No match: "Unknown" (row 38),
  // also for its own letter, which is not searched.
  const std::pair<uint8_t, int> cases[] = {{'T', 0},   {'D', 3},   {'d', 24}, {'B', 37},
                                            {0x87, 30}, {'Q', 38},  {'U', 38}, {0x80, 38}};
  for (const auto& [letter, row] : cases) EXPECT_EQ(TypeRowOfLetter(letter), row) << int{letter};

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

  EXPECT_EQ(ChannelLabel(0, 12), "12 - Temperature");
  EXPECT_EQ(ChannelLabel(19, 2), "");  // Echo: never shown as a logger channel
  EXPECT_EQ(ChannelLabel(99, 1), " 1 - Unknown");
  EXPECT_EQ(ChannelMatName(0, 1), "T  1");
  EXPECT_EQ(ChannelMatName(20, 4), "Depth");
}

TEST(GainRangesAndStamps, NamesByLetterAndGainCodeAndStampCodesInTypeOrder) {
  // Gain code 3 is the most sensitive range.
  const std::array<const char*, 4> turbidity = {"2500NTU", "500NTU", "125NTU", "25NTU"};
  for (uint32_t code = 0; code < 4; ++code) EXPECT_STREQ(GainRangeName('y', code), turbidity[code]);
  EXPECT_STREQ(GainRangeName('g', 0), "150ug/l");
  EXPECT_STREQ(GainRangeName('z', 3), "30ug/l");
  EXPECT_TRUE(IsGainLetter('z') && !IsGainLetter('Y') && !IsGainLetter('T'));
  EXPECT_EQ(GainRangeName('y', 4), nullptr);
  EXPECT_EQ(GainRangeName('Y', 1), nullptr);

  const std::tuple<uint32_t, const char*, const char*> stamps[] = {
      {0, "TIM", "TIME STAMP"}, {3, "LUK", "COOL STARTUP"}, {11, "GAN", "GAIN STAMP"}};
  ASSERT_EQ(kStampCodeCount, 12);
  for (const auto& [k, code, name] : stamps) {
    EXPECT_STREQ(kStampCodes[k].code, code);
    EXPECT_STREQ(StampName(k), name);
  }
  EXPECT_EQ(std::make_tuple(kStampBurst, kStampGain), std::make_tuple(8u, 11u));
}

}  // namespace
}  // namespace klx
