// The instant-reading reply as text ( FormatInstantReading).
#include "decoding/instant_reading.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "records/data_set.h"
#include "image_builder.h"

namespace klx {
namespace {

using test::ExpectedPolynomial;
using test::ExpectedThermistor;
using test::kThermistorDefault;

constexpr std::array<double, 4> kPressure{0.5, 200.0, 0.0, 0.0};

DataSet Context() {
  DataSet data;
  data.logger.model = "VS-330";
  data.logger.channelCount = 2;
  data.logger.channelTypes = "TP";
  data.calibration.coef[0] = kThermistorDefault;
  data.calibration.coef[1] = kPressure;
  return data;
}

std::string Line(const char* label, double value) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%s\t%9.4f\n", label, value);
  return buffer;
}

// prefix + "TIM" + six time bytes + the channel words + the check byte (+ adjust).
std::string BinaryReply(const std::string& prefix, std::initializer_list<uint32_t> words,
                        int adjust = 0) {
  std::string r = prefix + "TIM";
  const uint8_t time[6] = {0x24, 0x03, 0x10, 0x12, 0x00, 0x00};
  r.append(reinterpret_cast<const char*>(time), 6);
  for (uint32_t w : words) {
    r.push_back(static_cast<char>(w >> 16));
    r.push_back(static_cast<char>(w >> 8));
    r.push_back(static_cast<char>(w));
  }
  // 234 ("TIM") plus the signed bytes after it, modulo 256.
  int sum = 234;
  for (size_t i = prefix.size() + 3; i < r.size(); ++i) sum += static_cast<signed char>(r[i]);
  r.push_back(static_cast<char>((sum + adjust) & 0xFF));
  return r;
}

TEST(InstantReading, BinaryReplyWithLabels) {
  const DataSet data = Context();
  const std::string reply = BinaryReply("\r\n", {0x400000, 0xF00000});
  const std::string expected =
      Line(" 1 - Temperature", ExpectedThermistor(kThermistorDefault, 0x400000)) +
      Line(" 2 - Pressure", ExpectedPolynomial(kPressure, 0xF00000));
  EXPECT_EQ(FormatInstantReading(reply, true, data, false), expected);
}

TEST(InstantReading, BinaryReplyWithoutLabels) {
  const DataSet data = Context();
  const std::string reply = BinaryReply("", {0x400000, 0x200000});
  EXPECT_EQ(FormatInstantReading(reply, false, data, false),
            Line("", ExpectedThermistor(kThermistorDefault, 0x400000)) +
                Line("", ExpectedPolynomial(kPressure, 0x200000)));
}

TEST(InstantReading, BinaryValuesGetTheExtendedRange) {
  DataSet data = Context();
  data.logger.channelTypes = "TY";
  data.extendedCapabilities[2] = 1;  // channel 1
  const std::string reply = BinaryReply("", {0x400000, 0xFD70A2});
  const std::string text = FormatInstantReading(reply, false, data, false);
  EXPECT_EQ(text, Line("", ExpectedThermistor(kThermistorDefault, 0x400000)) +
                      Line("", ExpectedPolynomial(kPressure, 0xFD70A2LL - 0x1000000LL)));
  // Without extended range an odd word lies above full scale.
  data.extendedCapabilities[2] = 0;
  EXPECT_EQ(FormatInstantReading(BinaryReply("", {0x400000, 0x000001}), false, data, false),
            Line("", ExpectedThermistor(kThermistorDefault, 0x400000)) +
                Line("", ExpectedPolynomial(kPressure, 0x1000001LL)));
}

TEST(InstantReading, BadChecksum) {
  const DataSet data = Context();
  EXPECT_EQ(FormatInstantReading(BinaryReply("", {0x400000, 0x200000}, 1), true, data, false),
            "Checksum of data incorrect");
  EXPECT_EQ(FormatInstantReading(BinaryReply("", {0x400000, 0x200000}, -1), true, data, false),
            "Checksum of data incorrect");
}

TEST(InstantReading, SignedBytesInTheChecksum) {
  // Bytes above 0x7F enter as negative numbers; modulo 256 that is the same check byte.
  const DataSet data = Context();
  const std::string reply = BinaryReply("", {0xFFFFFE, 0x808080});
  EXPECT_NE(FormatInstantReading(reply, false, data, false), "Checksum of data incorrect");
}

TEST(InstantReading, TimMustLieWithinTheFirst12Bytes) {
  const DataSet data = Context();
  EXPECT_NE(FormatInstantReading(BinaryReply(std::string(9, 'x'), {0x400000, 0x200000}), false,
                                 data, false),
            "Unable to read data from logger");
  EXPECT_EQ(FormatInstantReading(BinaryReply(std::string(10, 'x'), {0x400000, 0x200000}), false,
                                 data, false),
            "Unable to read data from logger");
  EXPECT_EQ(FormatInstantReading("", false, data, false), "Unable to read data from logger");
}

TEST(InstantReading, ShortBinaryReplyReadsNothingBeyondIt) {
  const DataSet data = Context();
  const std::string full = BinaryReply("", {0x400000, 0x200000});
  for (size_t n = 0; n < full.size(); ++n) {
    const std::string cut = full.substr(0, n);
    EXPECT_EQ(FormatInstantReading(cut, true, data, false), "Unable to read data from logger") << n;
  }
}

TEST(InstantReading, EngineeringUnitsText) {
  DataSet data = Context();
  data.logger.engineeringUnitsLevel = 1;
  EXPECT_EQ(FormatInstantReading("TIM 240310120000 12.3456 7.8900 FET\r\n", true, data, true),
            " 1 - Temperature\t12.3456\n 2 - Pressure\t7.8900\n");
  // Labels are listed in this form whatever withLabels says.
  EXPECT_EQ(FormatInstantReading("xxTIM 240310120000  1.5 2.5 FET", false, data, true),
            " 1 - Temperature\t1.5\n 2 - Pressure\t2.5\n");
  EXPECT_EQ(FormatInstantReading("Not calibrated TIM FET", true, data, true),
            "This logger is not calibrated");
  EXPECT_EQ(FormatInstantReading("TIM 240310120000 12.3 7.8", true, data, true),
            "Unable to read data from logger");
  EXPECT_EQ(FormatInstantReading("240310120000 12.3 7.8 FET", true, data, true),
            "Unable to read data from logger");
  // Fewer words than channels: the words there are.
  EXPECT_EQ(FormatInstantReading("FET TIM 240310120000 12.3", true, data, true),
            " 1 - Temperature\t12.3\n");
}

TEST(InstantReading, TextOnlyAtEngineeringUnitsLevel1WithTheFlag) {
  DataSet data = Context();
  const std::string reply = BinaryReply("", {0x400000, 0x200000});
  data.logger.engineeringUnitsLevel = 0;
  EXPECT_NE(FormatInstantReading(reply, false, data, true), "Unable to read data from logger");
  data.logger.engineeringUnitsLevel = 2;
  EXPECT_EQ(FormatInstantReading(reply, false, data, false),
            Line("", ExpectedThermistor(kThermistorDefault, 0x400000)) +
                Line("", ExpectedPolynomial(kPressure, 0x200000)));
  // Level 2 with the flag: text, and this binary reply has no "FET".
  EXPECT_EQ(FormatInstantReading(reply, false, data, true), "Unable to read data from logger");
}

}  // namespace
}  // namespace klx
