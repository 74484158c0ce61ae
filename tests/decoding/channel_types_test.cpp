// The channel type table through its look-ups, the gain range names and the stamp codes.
#include "decoding/channel_types.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

#include "records/data_set.h"
#include "records/logger_state.h"

namespace klx {
namespace {

TEST(ChannelTypeTable, LookUpsByLetterAndChannelAndTheNamesTheyGive) {
  // Case matters; the derived letters are the bytes 0x81 to 0x87. No match: "Unknown" (row 38),
  // also for its own letter, which is not searched.
  const std::pair<uint8_t, int> cases[] = {{'T', 0},   {'D', 3},   {'d', 24}, {'B', 37},
                                            {0x87, 30}, {'Q', 38},  {'U', 38}, {0x80, 38}};
  for (const auto& [letter, row] : cases) EXPECT_EQ(TypeRowOfLetter(letter), row) << int{letter};
  EXPECT_STREQ(kChannelTypeTable[29].code, "JOptd_\xB5Mol ");  // the micro sign as one byte

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
