// The instant-reading reply as text (FormatInstantReading).
#include "decoding/instant_reading.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "image_builder.h"
#include "records/data_set.h"

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
  std::string r = prefix + "TIM" + std::string("\x24\x03\x10\x12\x00\x00", 6);
  for (uint32_t w : words)
    r += {static_cast<char>(w >> 16), static_cast<char>(w >> 8), static_cast<char>(w)};
  // 234 ("TIM") plus the signed bytes after it, modulo 256.
  int sum = 234;
  for (size_t i = prefix.size() + 3; i < r.size(); ++i) sum += static_cast<signed char>(r[i]);
  r.push_back(static_cast<char>((sum + adjust) & 0xFF));
  return r;
}

constexpr const char* kUnable = "Unable to read data from logger";
constexpr const char* kChecksum = "Checksum of data incorrect";

TEST(InstantReading, BinaryRepliesTheirLabelsChecksumAndPlace) {
  DataSet data = Context();
  const std::string t = Line("", ExpectedThermistor(kThermistorDefault, 0x400000));
  const std::string p2 = Line("", ExpectedPolynomial(kPressure, 0x200000));
  struct Case {
    std::string reply;
    bool labels;
    std::string expected;
  };
  const Case cases[] = {
      {BinaryReply("\r\n", {0x400000, 0xF00000}), true,
       Line(" 1 - Temperature", ExpectedThermistor(kThermistorDefault, 0x400000)) +
           Line(" 2 - Pressure", ExpectedPolynomial(kPressure, 0xF00000))},
      {BinaryReply("", {0x400000, 0x200000}), false, t + p2},
      {BinaryReply("", {0x400000, 0x200000}, 1), true, kChecksum},
      // "TIM" must lie within the first 12 bytes.
      {BinaryReply(std::string(9, 'x'), {0x400000, 0x200000}), false, t + p2},
      {BinaryReply(std::string(10, 'x'), {0x400000, 0x200000}), false, kUnable},
      {"", false, kUnable},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatInstantReading(c.reply, c.labels, data, false), c.expected) << c.reply;
  // Bytes above 0x7F enter the checksum as negative numbers; modulo 256 that is the same byte.
  EXPECT_NE(FormatInstantReading(BinaryReply("", {0xFFFFFE, 0x808080}), false, data, false),
            kChecksum);
  // Values get the extended range (channel 1: byte 2).
  data.logger.channelTypes = "TY";
  data.extendedCapabilities[2] = 1;
  EXPECT_EQ(FormatInstantReading(BinaryReply("", {0x400000, 0xFD70A2}), false, data, false),
            t + Line("", ExpectedPolynomial(kPressure, 0xFD70A2LL - 0x1000000LL)));
}

TEST(InstantReading, EngineeringUnitsTextOnlyAtLevel1WithTheFlag) {
  DataSet data = Context();
  data.logger.engineeringUnitsLevel = 1;
  const std::pair<const char*, const char*> cases[] = {
      {"TIM 240310120000 12.3456 7.8900 FET\r\n",
       " 1 - Temperature\t12.3456\n 2 - Pressure\t7.8900\n"},
      {"Not calibrated TIM FET", "This logger is not calibrated"},
      {"TIM 240310120000 12.3 7.8", kUnable},
      {"240310120000 12.3 7.8 FET", kUnable},
      // Fewer words than channels: the words there are.
      {"FET TIM 240310120000 12.3", " 1 - Temperature\t12.3\n"}};
  for (const auto& [reply, expected] : cases)
    EXPECT_EQ(FormatInstantReading(reply, true, data, true), expected) << reply;
  // Labels are listed in this form whatever withLabels says.
  EXPECT_EQ(FormatInstantReading("xxTIM 240310120000  1.5 2.5 FET", false, data, true),
            " 1 - Temperature\t1.5\n 2 - Pressure\t2.5\n");

  const std::string reply = BinaryReply("", {0x400000, 0x200000});
  data.logger.engineeringUnitsLevel = 0;
  EXPECT_NE(FormatInstantReading(reply, false, data, true), kUnable);
  data.logger.engineeringUnitsLevel = 2;  // with the flag: text, and this reply has no "FET"
  EXPECT_EQ(FormatInstantReading(reply, false, data, true), kUnable);
}

}  // namespace
}  // namespace klx
