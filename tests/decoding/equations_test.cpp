// The channel equations, the extended range and the raw-values mode. Expected values
// come from the equations written out again in image_builder.h.
#include "decoding/equations.h"

#include <gtest/gtest.h>

#include <cmath>

#include "records/data_set.h"
#include "image_builder.h"

namespace klx {
namespace {

using test::ExpectedPolynomial;
using test::ExpectedThermistor;
using test::kThermistorDefault;

DataSet Context(const std::string& letters) {
  DataSet data;
  data.logger.channelTypes = letters;
  data.logger.channelCount = static_cast<int>(letters.size());
  for (auto& row : data.calibration.coef) row = {0.0, 1.0, 0.0, 0.0};
  return data;
}

TEST(Equations, PolynomialIsTheCubicInTheFractionOfFullScale) {
  const std::array<double, 4> c{1.5, -20.0, 3.25, 0.125};
  for (int32_t raw : {0, 1, 0x400000, 0x800000, 0xABCDEF, 0xFFFFFF, -167774, 0x1000001}) {
    EXPECT_NEAR(PolynomialEquation(c, raw), ExpectedPolynomial(c, raw), 1e-12) << raw;
  }
  // x = 0.5 with 0, 100, 0, 0 (the single-channel default) is 50.
  EXPECT_DOUBLE_EQ(PolynomialEquation({0, 100, 0, 0}, 0x800000), 50.0);
}

TEST(Equations, ThermistorFollowsTheSteinhartHartForm) {
  for (int32_t raw : {0x100000, 0x400000, 0x7FFFFF, 0x900000, 0xC00000, 0xF00000}) {
    EXPECT_NEAR(ThermistorEquation(kThermistorDefault, raw),
                ExpectedThermistor(kThermistorDefault, raw), 1e-9)
        << raw;
  }
  // A reading near 0.3 of full scale with the default thermistor is a plausible water
  // temperature.
  const double t = ThermistorEquation(kThermistorDefault, 0x4CCCCC);
  EXPECT_GT(t, -5.0);
  EXPECT_LT(t, 40.0);
}

TEST(Equations, ThermistorMarkers) {
  EXPECT_EQ(ThermistorEquation(kThermistorDefault, 0), -1000.0);
  EXPECT_DOUBLE_EQ(ThermistorEquation(kThermistorDefault, 16777216), -273.15);
  // s = 0: all coefficients zero.
  EXPECT_EQ(ThermistorEquation({0, 0, 0, 0}, 0x400000), -1000.0);
  // s not a number: x beyond full scale (ln of a negative number) or below zero.
  EXPECT_EQ(ThermistorEquation(kThermistorDefault, 0x1000001), -1000.0);
  EXPECT_EQ(ThermistorEquation(kThermistorDefault, -5), -1000.0);
  EXPECT_EQ(ThermistorEquation({NAN, 0, 0, 0}, 0x400000), -1000.0);
}

TEST(Equations, ChannelValuePicksByLetter) {
  DataSet data = Context("TPA");
  data.calibration.coef[0] = kThermistorDefault;
  data.calibration.coef[1] = {0.5, 200.0, 0.0, 0.0};
  EXPECT_NEAR(ChannelValue(data, 0x400000, 0), ExpectedThermistor(kThermistorDefault, 0x400000),
              1e-9);
  EXPECT_NEAR(ThermistorValue(data, 0x400000, 0), ChannelValue(data, 0x400000, 0), 0.0);
  EXPECT_NEAR(ChannelValue(data, 0x400000, 1), 0.5 + 200.0 * 0.25, 1e-12);
  EXPECT_NEAR(PolynomialValue(data, 0x400000, 1), 50.5, 1e-12);
  // A channel outside the table uses 0, 1, 0, 0.
  EXPECT_NEAR(PolynomialValue(data, 0x400000, 30), 0.25, 1e-15);
  EXPECT_DOUBLE_EQ(RawValue(0x400000), 0.25);
  EXPECT_DOUBLE_EQ(RawValue(0xFFFFFF), 16777215.0 / 16777216.0);
}

TEST(ExtendedRange, Class2WrapsAt0xFD70A2NotAt0xFD70A1) {
  DataSet data = Context("Y");
  data.extendedCapabilities[1] = 1;
  EXPECT_EQ(EffectiveRangeClass(data, 0), 2u);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xFD70A2), 0xFD70A2 - 0x1000000);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xFFFFFF), -1);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xFD70A1), 0xFD70A1);  // odd, but no odd rule here
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0x000003), 3);
  // A small negative fraction of full scale.
  const double x = RawValue(ApplyExtendedRange(data, 0, 0xFD70A2));
  EXPECT_NEAR(x, -(0x1000000 - 0xFD70A2) / 16777216.0, 1e-15);
  EXPECT_LT(x, 0.0);
  EXPECT_GT(x, -0.011);
}

TEST(ExtendedRange, ByteZeroBelongsToTheLoggerNotToChannelZero) {
  // Byte 0 of the table is the logger's own: with only it set, channel 0 does not wrap.
  DataSet data = Context("Y");
  data.extendedCapabilities[0] = 1;
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xFD70A2), 0xFD70A2);
}

TEST(ExtendedRange, Class1WrapsAt0xDFFFFF) {
  DataSet data = Context("P");
  data.extendedCapabilities[1] = 0x01;
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xDFFFFF), 0xDFFFFF - 0x1000000);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xDFFFFE), 0xDFFFFE);
  // Other bits of the byte do not matter, bit 0 does.
  data.extendedCapabilities[1] = 0xFE;
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xDFFFFE), 0xDFFFFE);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xDFFFFF), 0xDFFFFF - 0x1000000);  // odd rule, bit 23
}

TEST(ExtendedRange, Class0NeverWraps) {
  DataSet data = Context("T");
  data.extendedCapabilities[1] = 1;
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xFFFFFF), 0xFFFFFF);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0x000001), 1);
}

TEST(ExtendedRange, DepthCountsAsClass1AtEngineeringUnitsLevel1) {
  DataSet data = Context("A");
  data.extendedCapabilities[1] = 1;
  data.logger.engineeringUnitsLevel = 1;
  EXPECT_EQ(EffectiveRangeClass(data, 0), 1u);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xDFFFFF), 0xDFFFFF - 0x1000000);
  data.logger.engineeringUnitsLevel = 2;
  EXPECT_EQ(EffectiveRangeClass(data, 0), 2u);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xDFFFFF), 0xDFFFFF);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xFD70A2), 0xFD70A2 - 0x1000000);
  data.logger.engineeringUnitsLevel = 0;
  EXPECT_EQ(EffectiveRangeClass(data, 0), 2u);
}

TEST(ExtendedRange, OddReadingsLieOutsideTheNormalRange) {
  DataSet data = Context("P");                                  // no extended range
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0x000001), 0x1000001);  // bit 23 clear: above
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0x7FFFFF), 0x17FFFFF);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0x800001), 0x800001 - 0x1000000);  // bit 23: below
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0xFFFFFF), -1);
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0x800000), 0x800000);  // even: unchanged
  EXPECT_EQ(ApplyExtendedRange(data, 0, 0), 0);
  // A channel index outside the capability bytes has no extended range.
  EXPECT_EQ(ApplyExtendedRange(data, 40, 0x000001), 0x1000001);
}

}  // namespace
}  // namespace klx
