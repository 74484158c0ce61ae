// The channel type table through its look-ups, the gain range names and the stamp codes.
#include "decoding/channel_types.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "records/data_set.h"
#include "records/logger_state.h"

namespace klx {
namespace {

TEST(ChannelTypeTable, LookUpsByLetterAndChannelAndTheNamesTheyGive) {
  // Case matters; derived letters are 0x81 to 0x87; no match (even 'U') is "Unknown", row 38.
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

  EXPECT_EQ(ChannelLabel(19, 2), "");  // Echo: never shown as a logger channel
  EXPECT_EQ(ChannelLabel(99, 1), " 1 - Unknown");
  EXPECT_EQ(ChannelMatName(0, 1), "T  1");
  EXPECT_EQ(ChannelMatName(20, 4), "Depth");
}

TEST(GainRangesAndStamps, NamesByLetterAndGainCodeAndStampCodesInTypeOrder) {
  EXPECT_STREQ(GainRangeName('y', 0), "2500NTU");
  EXPECT_STREQ(GainRangeName('z', 3), "30ug/l");  // code 3: the most sensitive range
  EXPECT_TRUE(IsGainLetter('z') && !IsGainLetter('Y') && !IsGainLetter('T'));
  EXPECT_EQ(GainRangeName('y', 4), nullptr);
  EXPECT_EQ(GainRangeName('Y', 1), nullptr);
  EXPECT_STREQ(StampName(kStampGain), "GAIN STAMP");
}

}  // namespace
}  // namespace klx
