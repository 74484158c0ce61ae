// The channel equations, the extended range and the raw-values mode.
#include "decoding/equations.h"

#include <gtest/gtest.h>

#include <cmath>

#include "image_builder.h"
#include "records/data_set.h"

namespace klx {
namespace {

using test::kThermistorDefault;

DataSet Context(const std::string& letters) {
  DataSet data;
  data.logger.channelTypes = letters;
  data.logger.channelCount = static_cast<int>(letters.size());
  for (auto& row : data.calibration.coef) row = {0.0, 1.0, 0.0, 0.0};
  return data;
}

TEST(Equations, PolynomialAndThermistorFormsAndTheirMarkers) {
  // Values computed independently (NumPy); x = raw / 2^24, also beyond full scale and below zero.
  const std::array<double, 4> c{1.5, -20.0, 3.25, 0.125};
  const std::pair<int32_t, double> poly[] = {
      {0xABCDEF, -10.420670606381469}, {0x1000001, -15.12500078231095}, {-167774, 1.7003270755755695}};
  for (const auto& [raw, value] : poly) EXPECT_NEAR(PolynomialEquation(c, raw), value, 1e-12) << raw;
  // x = 0.5 with 0, 100, 0, 0 (the single-channel default) is 50.
  EXPECT_DOUBLE_EQ(PolynomialEquation({0, 100, 0, 0}, 0x800000), 50.0);
  const std::pair<int32_t, double> therm[] = {
      {0x100000, 78.56083812031696}, {0x7FFFFF, 12.56429057997109}, {0xF00000, -34.84802511250687}};
  for (const auto& [raw, value] : therm)
    EXPECT_NEAR(ThermistorEquation(kThermistorDefault, raw), value, 1e-9) << raw;
  // Markers: zero, full scale, s = 0, s not a number (x out of range or a NaN coefficient).
  EXPECT_EQ(ThermistorEquation(kThermistorDefault, 0), -1000.0);
  EXPECT_DOUBLE_EQ(ThermistorEquation(kThermistorDefault, 16777216), -273.15);
  EXPECT_EQ(ThermistorEquation({0, 0, 0, 0}, 0x400000), -1000.0);
  EXPECT_EQ(ThermistorEquation(kThermistorDefault, 0x1000001), -1000.0);
  EXPECT_EQ(ThermistorEquation(kThermistorDefault, -5), -1000.0);
  EXPECT_EQ(ThermistorEquation({NAN, 0, 0, 0}, 0x400000), -1000.0);
}

TEST(Equations, AChannelOutsideTheTableUsesTheIdentity) {
  EXPECT_NEAR(PolynomialValue(Context("TPA"), 0x400000, 30), 0.25, 1e-15);
}

TEST(ExtendedRange, WrapPointsPerRangeClassAndTheOddRule) {
  constexpr int32_t k24 = 0x1000000;
  struct Case {
    const char* letter;
    uint8_t byte0, byte1;  // capability bytes: 0 is the logger's own, 1 is channel 0
    uint32_t level;        // engineering units level
    int channel;
    int32_t raw, expected;
  };
  const Case cases[] = {
      // Class 2 wraps at 0xFD70A2, not at 0xFD70A1 (odd, but no odd rule with extended range).
      {"Y", 0, 1, 0, 0, 0xFD70A2, 0xFD70A2 - k24},
      {"Y", 0, 1, 0, 0, 0xFD70A1, 0xFD70A1},
      {"Y", 1, 0, 0, 0, 0xFD70A2, 0xFD70A2},  // byte 0 is not channel 0's
      // Class 1 wraps at 0xDFFFFF; only bit 0 of the byte matters.
      {"P", 0, 1, 0, 0, 0xDFFFFF, 0xDFFFFF - k24},
      {"P", 0, 0xFE, 0, 0, 0xDFFFFF, 0xDFFFFF - k24},  // odd rule, bit 23
      // Class 0 never wraps.
      {"T", 0, 1, 0, 0, 0xFFFFFF, 0xFFFFFF},
      // Depth counts as class 1 at engineering units level 1, as class 2 otherwise.
      {"A", 0, 1, 1, 0, 0xDFFFFF, 0xDFFFFF - k24},
      {"A", 0, 1, 2, 0, 0xDFFFFF, 0xDFFFFF},
      {"A", 0, 1, 2, 0, 0xFD70A2, 0xFD70A2 - k24},
      // Without extended range an odd reading lies above (bit 23 clear) or below the range.
      {"P", 0, 0, 0, 0, 0x000001, 0x1000001},
      {"P", 0, 0, 0, 0, 0x800001, 0x800001 - k24},
      {"P", 0, 0, 0, 0, 0x800000, 0x800000},  // even: unchanged
      {"P", 0, 0, 0, 40, 0x000001, 0x1000001},  // a channel beyond the capability bytes
  };
  for (const Case& c : cases) {
    DataSet data = Context(c.letter);
    data.extendedCapabilities[0] = c.byte0;
    data.extendedCapabilities[1] = c.byte1;
    data.logger.engineeringUnitsLevel = c.level;
    EXPECT_EQ(ApplyExtendedRange(data, c.channel, c.raw), c.expected)
        << c.letter << " " << int{c.byte1} << " level " << c.level << " raw " << c.raw;
  }
}

}  // namespace
}  // namespace klx
