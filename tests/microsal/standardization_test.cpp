// The standardization model: the gain it fits, the coefficients it stands for, and table 0600.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "microsal/measurement.h"
#include "microsal/standardization.h"

namespace klx {
namespace {

int32_t Raw(double x) {
  return static_cast<int32_t>(std::lround(x * 16777216.0));
}

MicrosalStandardization Captured() {
  MicrosalStandardization s;
  s.batch = "P165", s.k15 = 0.99993;
  s.standardZero = 0.0125, s.sampleZero = 0.0210, s.standardOne = 0.6100, s.sampleOne = 0.5870;
  return s;
}

TEST(MicrosalStandardization, StandardSeawaterReadsK15WithTheFittedGain) {
  MicrosalStandardization s = Captured();
  s.alpha = NewAlpha(s);
  CalibrationCoefficients cal;
  cal.coef[1] = {0.0035, -0.00025, 2.7e-06, 2.3e-08};
  ApplyToCoefficients(s, cal);
  // The instrument as it read on Standard Seawater: Rt comes out as the batch's K15.
  const MicrosalReading r = ConvertMicrosalRecord(
      {Raw(s.sampleOne), Raw(0.45), Raw(s.standardOne)}, cal);
  EXPECT_NEAR(r.ratio, s.k15, 2e-6);
  EXPECT_EQ(cal.coef[1][0], 0.0035);  // the temperature row is left alone
}

TEST(MicrosalStandardization, CoefficientsAndStandardizationMapBothWays) {
  MicrosalStandardization s = Captured();
  s.alpha = 1.0374125;
  CalibrationCoefficients cal;
  ApplyToCoefficients(s, cal);
  MicrosalStandardization back;
  TakeFromCoefficients(cal, back);
  EXPECT_DOUBLE_EQ(back.alpha, s.alpha);
  EXPECT_NEAR(back.sampleZero, s.sampleZero, 1e-15);
  EXPECT_DOUBLE_EQ(back.standardZero, s.standardZero);

  // A sample row without a gain keeps what was there instead of dividing by zero.
  cal.coef[0] = {0.5, 0.0, 0.0, 0.0};
  TakeFromCoefficients(cal, back);
  EXPECT_DOUBLE_EQ(back.alpha, s.alpha);
  EXPECT_TRUE(std::isfinite(back.sampleZero));
}

TEST(MicrosalStandardization, EqualSampleReadingsGiveAGainThatCannotBeAccepted) {
  MicrosalStandardization s = Captured();
  s.sampleOne = s.sampleZero;
  const double alpha = NewAlpha(s);
  EXPECT_TRUE(std::isnan(alpha));
  EXPECT_EQ(NewAlphaText(alpha).find("nan"), 0u);  // shown as such
  EXPECT_TRUE(GainAcceptable(1.0374125));
}

TEST(MicrosalStandardization, BlockCarriesLayoutDoublesAndBatch) {
  MicrosalStandardization s = Captured();
  s.batch = "P165LONGER";  // only eight characters fit
  const auto block = EncodeStandardizationBlock(s);
  ASSERT_EQ(block.size(), 33u);
  EXPECT_EQ(block[0], 1);
  // 0.61 as a little-endian IEEE double: 0x3FE3851EB851EB85.
  const uint8_t standardOne[8] = {0x85, 0xEB, 0x51, 0xB8, 0x1E, 0x85, 0xE3, 0x3F};
  EXPECT_EQ(std::memcmp(&block[1], standardOne, 8), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[25]), 8), "P165LONG");

  // A short label is padded with zero bytes and reads back without them.
  s.batch = "P16";
  const auto shortBlock = EncodeStandardizationBlock(s);
  EXPECT_EQ(shortBlock[28], 0);
  MicrosalStandardization back;
  ASSERT_TRUE(DecodeStandardizationBlock({shortBlock.begin(), shortBlock.end()}, back));
  EXPECT_EQ(back.batch, "P16");
  EXPECT_EQ(back.k15, 0.99993);
  EXPECT_EQ(back.standardOne, 0.61);
}

TEST(MicrosalStandardization, OtherLayoutsAndShortBlocksLeaveTheDefaults) {
  auto block = EncodeStandardizationBlock(Captured());
  std::vector<uint8_t> bytes(block.begin(), block.end());
  bytes[0] = 2;  // a conductivity correction, not a standardization
  MicrosalStandardization s;
  EXPECT_FALSE(DecodeStandardizationBlock(bytes, s));
  bytes[0] = 1;
  bytes.resize(20);
  EXPECT_FALSE(DecodeStandardizationBlock(bytes, s));
  // A number that is not finite (a damaged table) is no standardization either.
  MicrosalStandardization damaged;
  damaged.k15 = std::nan("");
  const auto nan = EncodeStandardizationBlock(damaged);
  EXPECT_FALSE(DecodeStandardizationBlock({nan.begin(), nan.end()}, s));
  EXPECT_EQ(s, MicrosalStandardization{});
}

}  // namespace
}  // namespace klx
