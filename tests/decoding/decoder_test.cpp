// DecodeImage, the word parser, the stamps, marker classes and sample times, on small
// images built by hand. Expected engineering values come from the equations written out again in
// image_builder.h, never from the code under test.
#include "decoding/decoder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "decoding/channel_types.h"
#include "image_builder.h"
#include "platform/host.h"
#include "shell/datetime.h"

namespace klx {
namespace {

using test::ExpectedPolynomial;
using test::ExpectedThermistor;
using test::ImageBuilder;
using test::kThermistorDefault;

constexpr std::array<double, 4> kPressure{0.5, 200.0, 0.0, 0.0};
constexpr std::array<double, 4> kIdentity{0.0, 1.0, 0.0, 0.0};

SystemTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  SystemTime t = MakeSystemTime(y, mo, d, h, mi, s);
  t.milliseconds = static_cast<uint16_t>(ms);
  t.dayOfWeek = 0;
  return t;
}

// Compares the calendar fields (the day of the week is not part of a stamp's time).
void ExpectTime(const SystemTime& actual, const SystemTime& expected) {
  EXPECT_EQ(actual.year, expected.year);
  EXPECT_EQ(actual.month, expected.month);
  EXPECT_EQ(actual.day, expected.day);
  EXPECT_EQ(actual.hour, expected.hour);
  EXPECT_EQ(actual.minute, expected.minute);
  EXPECT_EQ(actual.second, expected.second);
  EXPECT_EQ(actual.milliseconds, expected.milliseconds);
}

// An older multi-channel logger (VS family): header = parameter block length (30 bytes).
DataSet VsLogger(const std::string& letters) {
  DataSet data;
  data.logger.model = "VS-330";
  data.logger.firmware = 3.1f;
  data.logger.extendedCommandSet = false;
  data.logger.parameterBlockLength = 30;
  data.logger.channelTypes = letters;
  data.logger.channelCount = static_cast<int>(letters.size());
  for (size_t i = 0; i < data.calibration.coef.size(); ++i)
    data.calibration.coef[i] =
        i < letters.size() && letters[i] == 'T' ? kThermistorDefault : kIdentity;
  return data;
}

DeploymentParameters Params() {
  DeploymentParameters p;
  p.startTime = At(2024, 3, 10, 12, 0, 0);
  p.samplePeriod = {0, 0, 10};
  return p;
}

float Poly(const std::array<double, 4>& c, long long raw) {
  return static_cast<float>(ExpectedPolynomial(c, raw));
}
float Therm(long long raw) {
  return static_cast<float>(ExpectedThermistor(kThermistorDefault, raw));
}

// ---- Rows, minimum and maximum ----------------------------------------------------------------

TEST(DecodeImage, FillsRowsAndRunningMinimumAndMaximum) {
  DataSet data = VsLogger("TP");
  data.calibration.coef[1] = kPressure;
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Words({0x400000, 0x200000, 0x600000, 0x100000, 0x500000, 0x300000})
                                .Build();
  RecordingHost host;
  const DecodeResult r = DecodeImage(image, Params(), data, host);
  EXPECT_EQ(r.headerLength, 30);
  EXPECT_EQ(r.sampleWords, 6);
  ASSERT_EQ(data.channelCount, 2);
  ASSERT_EQ(data.samplesPerChannel, 3);
  ASSERT_EQ(data.series.size(), 2u);
  ASSERT_EQ(data.series[0].size(), 5u);
  const float t[3] = {Therm(0x400000), Therm(0x600000), Therm(0x500000)};
  const float p[3] = {Poly(kPressure, 0x200000), Poly(kPressure, 0x100000),
                      Poly(kPressure, 0x300000)};
  for (int i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(data.series[0][static_cast<size_t>(i)], t[i]);
    EXPECT_FLOAT_EQ(data.series[1][static_cast<size_t>(i)], p[i]);
  }
  EXPECT_FLOAT_EQ(data.Minimum(0), std::min({t[0], t[1], t[2]}));
  EXPECT_FLOAT_EQ(data.Maximum(0), std::max({t[0], t[1], t[2]}));
  EXPECT_FLOAT_EQ(data.Minimum(1), p[1]);
  EXPECT_FLOAT_EQ(data.Maximum(1), p[2]);
  EXPECT_TRUE(data.stamps.records.empty());
  EXPECT_TRUE(host.events.empty());
}

TEST(DecodeImage, IncompleteLastRowYieldsOnlyCompleteRows) {
  DataSet data = VsLogger("PPP");
  const MemoryImage image =
      ImageBuilder()
          .Header(30)
          .Words({0x100000, 0x200000, 0x300000, 0x400000, 0x500000, 0x600000, 0xFFFFFE})
          .Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 2);
  EXPECT_EQ(data.series[0].size(), 4u);
  EXPECT_FLOAT_EQ(data.series[0][1], Poly(kIdentity, 0x400000));
  // The word of the incomplete row is not decoded and does not reach the maximum.
  EXPECT_FLOAT_EQ(data.Maximum(0), Poly(kIdentity, 0x400000));
  EXPECT_FLOAT_EQ(data.Minimum(0), Poly(kIdentity, 0x100000));
}

TEST(DecodeImage, MinimumAndMaximumStartAt300AndMinus300) {
  DataSet data = VsLogger("P");
  data.calibration.coef[0] = {400.0, 0.0, 0.0, 0.0};  // every value 400: above the start of max
  const MemoryImage image = ImageBuilder().Header(30).Words({0x100000, 0x200000}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  EXPECT_FLOAT_EQ(data.Minimum(0), 300.0f);  // 400 is never <= 300
  EXPECT_FLOAT_EQ(data.Maximum(0), 400.0f);
}

TEST(DecodeImage, RawModeDividesByFullScaleOnly) {
  DataSet data = VsLogger("TP");
  data.rawMode = true;
  const MemoryImage image =
      ImageBuilder().Header(30).Words({0x400000, 0x000001, 0x000000, 0x800000}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 2);
  EXPECT_FLOAT_EQ(data.series[0][0], 0.25f);
  EXPECT_FLOAT_EQ(data.series[1][0], static_cast<float>(1.0 / 16777216.0));  // no odd rule
  EXPECT_FLOAT_EQ(data.series[0][1], 0.0f);  // no thermistor marker in raw mode
  EXPECT_FLOAT_EQ(data.series[1][1], 0.5f);
  // Minimum and maximum start at 0 and 1 in raw mode.
  EXPECT_FLOAT_EQ(data.Minimum(0), 0.0f);
  EXPECT_FLOAT_EQ(data.Maximum(0), 1.0f);
  EXPECT_FLOAT_EQ(data.Minimum(1), 0.0f);
  EXPECT_FLOAT_EQ(data.Maximum(1), 1.0f);
}

// ---- Equations inside the decoder -------------------------------------------------------------

TEST(DecodeImage, Class2ChannelWrapsAt0xFD70A2ButNot0xFD70A1) {
  DataSet data = VsLogger("Y");
  data.extendedCapabilities[1] = 1;  // channel 0
  const MemoryImage image = ImageBuilder().Header(30).Words({0xFD70A2, 0xFD70A1}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 2);
  const float wrapped = Poly(kIdentity, 0xFD70A2LL - 0x1000000LL);
  EXPECT_FLOAT_EQ(data.series[0][0], wrapped);
  EXPECT_LT(data.series[0][0], 0.0f);
  EXPECT_GT(data.series[0][0], -0.011f);
  EXPECT_FLOAT_EQ(data.series[0][1], Poly(kIdentity, 0xFD70A1));
  EXPECT_GT(data.series[0][1], 0.98f);
  EXPECT_FLOAT_EQ(data.Minimum(0), wrapped);
}

TEST(DecodeImage, OddRawLiesOutsideTheNormalRange) {
  DataSet data = VsLogger("P");
  const MemoryImage image = ImageBuilder().Header(30).Words({0x400001, 0x800001, 0x800000}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][0], Poly(kIdentity, 0x1400001LL));  // above full scale
  EXPECT_FLOAT_EQ(data.series[0][1], Poly(kIdentity, 0x800001LL - 0x1000000LL));  // below 0
  EXPECT_FLOAT_EQ(data.series[0][2], 0.5f);
  EXPECT_GT(data.series[0][0], 1.0f);
  EXPECT_LT(data.series[0][1], 0.0f);
}

TEST(DecodeImage, ThermistorZeroIsMissingAndStaysOutOfMinimumAndMaximum) {
  DataSet data = VsLogger("T");
  // The zero word is followed by 0x40 0x00 0x00, which is no stamp code: the reading 0.
  const MemoryImage image = ImageBuilder().Header(30).Words({0x000000, 0x400000, 0x600000}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][0], -1000.0f);
  EXPECT_FLOAT_EQ(data.series[0][1], Therm(0x400000));
  EXPECT_FLOAT_EQ(data.Minimum(0), std::min(Therm(0x400000), Therm(0x600000)));
  EXPECT_FLOAT_EQ(data.Maximum(0), std::max(Therm(0x400000), Therm(0x600000)));
  EXPECT_TRUE(data.stamps.records.empty());
  // The other marker: exactly 2^24 gives -273.15 (it cannot come from a 24-bit word).
  EXPECT_DOUBLE_EQ(ExpectedThermistor(kThermistorDefault, 16777216), -273.15);
}

TEST(DecodeImage, ThermistorMarkerDoesNotMoveTheMinimumOfAOnlyMissingChannel) {
  DataSet data = VsLogger("T");
  const MemoryImage image = ImageBuilder().Header(30).Words({0x000000, 0x000000}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 2);
  EXPECT_FLOAT_EQ(data.Minimum(0), 300.0f);
  EXPECT_FLOAT_EQ(data.Maximum(0), -300.0f);
}

// ---- Stamps -----------------------------------------------------------------------------------

TEST(DecodeImage, TwoStampsInARowAreBothConsumed) {
  DataSet data = VsLogger("PP");
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Words({0x100000, 0x200000})
                                .Stamp("TIM", 2024, 3, 10, 13, 0, 0)
                                .Stamp("CLD", 2024, 3, 10, 13, 0, 5)
                                .Words({0x300000, 0x400000, 0x500000, 0x600000})
                                .Build();
  RecordingHost host;
  const DecodeResult r = DecodeImage(image, Params(), data, host);
  EXPECT_EQ(r.stampWords, 8);
  ASSERT_EQ(data.stamps.records.size(), 2u);
  const StampRecord& a = data.stamps.records[0];
  const StampRecord& b = data.stamps.records[1];
  EXPECT_EQ(a.type, kStampTime);
  EXPECT_EQ(b.type, kStampCold);
  EXPECT_EQ(a.sampleIndex, 1u);
  EXPECT_EQ(b.sampleIndex, 1u);
  ExpectTime(a.time, At(2024, 3, 10, 13, 0, 0));
  ExpectTime(b.time, At(2024, 3, 10, 13, 0, 5));
  // (14 words - 8 stamp words) / 2 channels.
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][1], Poly(kIdentity, 0x300000));
  EXPECT_FLOAT_EQ(data.series[1][2], Poly(kIdentity, 0x600000));
  EXPECT_FLOAT_EQ(data.Maximum(1), Poly(kIdentity, 0x600000));
  EXPECT_EQ(data.series[1].size(), 5u);
  // Marker classes: neither remembers its index, so both are class 8.
  EXPECT_EQ(a.markerClass, 8);
  EXPECT_EQ(b.markerClass, 8);
}

TEST(DecodeImage, StampInTheMiddleOfARowStartsANewRow) {
  DataSet data = VsLogger("PPP");
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Words({0x100000, 0x110000, 0x120000})  // row 0
                                .Words({0x200000})                      // row 1, channel 0 only
                                .Stamp("TIM", 2024, 3, 10, 14, 0, 0)
                                .Words({0x300000, 0x310000, 0x320000})  // row 2
                                .Words({0x400000, 0x410000, 0x420000})  // row 3
                                .Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.stamps.records.size(), 1u);
  EXPECT_EQ(data.stamps.records[0].sampleIndex, 1u);  // the row at which it was found
  // The abandoned row keeps what it reached; the channels it did not reach are missing.
  EXPECT_FLOAT_EQ(data.series[0][1], Poly(kIdentity, 0x200000));
  EXPECT_FLOAT_EQ(data.series[1][1], kMissingValue);
  EXPECT_FLOAT_EQ(data.series[2][1], kMissingValue);
  EXPECT_FLOAT_EQ(data.series[0][2], Poly(kIdentity, 0x300000));
  EXPECT_FLOAT_EQ(data.series[2][2], Poly(kIdentity, 0x320000));
  // Samples per channel = (14 words - 4 stamp words) / 3 = 3: the final correction counts
  // words, not rows, so the last decoded row (row 3) falls outside.
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.Maximum(0), Poly(kIdentity, 0x400000));  // it had entered the maximum
  EXPECT_FLOAT_EQ(data.Minimum(1), Poly(kIdentity, 0x110000));  // missing entries do not
}

TEST(DecodeImage, StampAtTheVeryEndIsConsumed) {
  DataSet data = VsLogger("PP");
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Words({0x100000, 0x200000})
                                .Stamp("STP", 2024, 3, 10, 15, 30, 45)
                                .Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.stamps.records.size(), 1u);
  EXPECT_EQ(data.stamps.records[0].type, kStampStop);
  EXPECT_EQ(data.stamps.records[0].sampleIndex, 1u);
  ExpectTime(data.stamps.records[0].time, At(2024, 3, 10, 15, 30, 45));
  EXPECT_EQ(data.samplesPerChannel, 1);
}

TEST(DecodeImage, TruncatedStampAtTheEndIsTheReadingZero) {
  DataSet data = VsLogger("PP");
  // A zero word, the code "TIM" and only two of the six BCD bytes: no stamp. The zero word is
  // the reading 0 and "TIM" is the next word.
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Words({0x100000, 0x200000, 0x000000})
                                .Raw({'T', 'I', 'M', 0x24, 0x03})
                                .Build();
  RecordingHost host;
  const DecodeResult r = DecodeImage(image, Params(), data, host);
  EXPECT_EQ(r.sampleWords, 4);
  EXPECT_TRUE(data.stamps.records.empty());
  ASSERT_EQ(data.samplesPerChannel, 2);
  EXPECT_FLOAT_EQ(data.series[0][1], 0.0f);
  // 0x54494D is odd with bit 23 clear: above the normal range.
  EXPECT_FLOAT_EQ(data.series[1][1], Poly(kIdentity, 0x54494DLL + 0x1000000LL));
}

TEST(DecodeImage, ZeroWordWithoutACodeIsTheReadingZero) {
  DataSet data = VsLogger("P");
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Words({0x000000})
                                .Raw({'X', 'Y', 'Z', 0x24, 0x01, 0x01, 0, 0, 0})
                                .Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 4);
  EXPECT_FLOAT_EQ(data.series[0][0], 0.0f);
  EXPECT_FLOAT_EQ(data.series[0][1], Poly(kIdentity, 0x58595A));
  EXPECT_TRUE(data.stamps.records.empty());
}

TEST(DecodeImage, EveryStampCodeIsRecognised) {
  DataSet data = VsLogger("P");
  ImageBuilder b;
  b.Header(30);
  for (int k = 0; k < kStampCodeCount; ++k)
    b.Word(0x100000).Stamp(kStampCodes[k].code, 2024, 1, 2, 3, 4, k);
  const MemoryImage image = b.Word(0x200000).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.stamps.records.size(), 12u);
  for (uint32_t k = 0; k < 12; ++k) {
    EXPECT_EQ(data.stamps.records[k].type, k);
    EXPECT_EQ(data.stamps.records[k].sampleIndex, k + 1);
    EXPECT_EQ(data.stamps.records[k].time.second, k);
  }
  EXPECT_EQ(data.samplesPerChannel, 13);
}

TEST(DecodeImage, StampTimesAreBcd) {
  DataSet data = VsLogger("P");
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Raw({0, 0, 0, 'R', 'T', 'C', 0x99, 0x12, 0x31, 0x23, 0x59, 0x58})
                                .Word(0x100000)
                                .Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.stamps.records.size(), 1u);
  ExpectTime(data.stamps.records[0].time, At(2099, 12, 31, 23, 59, 58));
  EXPECT_EQ(data.stamps.records[0].type, kStampRtc);
  EXPECT_EQ(data.stamps.records[0].markerClass, 9);
}

// ---- The stamp-table limit --------------------------------------------------------------------

ImageBuilder ManyStamps(int count) {
  ImageBuilder b;
  b.Header(30);
  for (int i = 0; i < count; ++i) b.Stamp("TIM", 2024, 1, 1, i / 3600, (i / 60) % 60, i % 60);
  return b;
}

TEST(DecodeImage, AtMost11000StampsAndTheMessageOnce) {
  DataSet data = VsLogger("P");
  const MemoryImage image = ManyStamps(11005).Words({0x100000, 0x200000, 0x300000}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  EXPECT_EQ(data.stamps.records.size(), 11000u);
  EXPECT_TRUE(data.stamps.overflowed);
  int tells = 0;
  for (const auto& e : host.events) {
    if (e.kind != "tell") continue;
    ++tells;
    EXPECT_EQ(e.caption, "Timestamps");
    EXPECT_EQ(e.text,
              "Data contains more timestamps than buffer can hold.\nSubsequent timestamps will "
              "be suppressed.");
    EXPECT_EQ(e.number, static_cast<int>(BoxIcon::Warning));
  }
  EXPECT_EQ(tells, 1);
  // (44023 words - 44020 stamp words) / 1 channel.
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][2], Poly(kIdentity, 0x300000));
  ExpectTime(data.stamps.records.back().time, At(2024, 1, 1, 3, 3, 19));  // stamp 10999

  // Once per decoding: a second decoding shows it again, once.
  DecodeImage(image, Params(), data, host);
  tells = 0;
  for (const auto& e : host.events) tells += e.kind == "tell";
  EXPECT_EQ(tells, 2);
}

TEST(DecodeImage, ExactlyElevenThousandStampsGiveNoMessage) {
  DataSet data = VsLogger("P");
  const MemoryImage image = ManyStamps(11000).Word(0x100000).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  EXPECT_EQ(data.stamps.records.size(), 11000u);
  EXPECT_FALSE(data.stamps.overflowed);
  EXPECT_TRUE(host.events.empty());
}

TEST(WordParser, StampsBeyondTheLimitStillMoveTheCurrentTime) {
  const MemoryImage image = ManyStamps(11002).Word(0x123456).Build();
  TimestampTable table;
  RecordingHost host;
  WordParser parser(image.bytes.data(), image.bytes.size(), 30, table, &host, nullptr,
                    At(2024, 1, 1, 0, 0, 0));
  bool flag = false;
  EXPECT_EQ(parser.ReadWord(0, flag), 0x123456);
  EXPECT_TRUE(flag);
  EXPECT_EQ(table.records.size(), 11000u);
  EXPECT_EQ(parser.stampWords, 11002 * 4);
  EXPECT_EQ(parser.wordIndex, 11002 * 4 + 1);
  EXPECT_EQ(parser.currentMs, ToEpochMs(At(2024, 1, 1, 3, 3, 21)));  // stamp 11001
  EXPECT_EQ(host.events.size(), 1u);
  flag = false;
  EXPECT_EQ(parser.ReadWord(1, flag), WordParser::kEndOfImage);
  EXPECT_FALSE(flag);
}

// ---- Gain stamps ------------------------------------------------------------------------------

uint32_t GainWord(uint32_t gain) {
  return 0x400000 | (gain << 1);
}

TEST(DecodeImage, GainStampOnRowZeroAndWhereTheGainChanges) {
  DataSet data = VsLogger("Py");
  ImageBuilder b;
  b.Header(30);
  const uint32_t gains[] = {3, 3, 1, 1, 1, 0};
  for (uint32_t g : gains) b.Words({0x100000, GainWord(g)});
  const MemoryImage image = b.Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 6);
  ASSERT_EQ(data.stamps.records.size(), 3u);
  const uint32_t rows[] = {0, 2, 5};
  const uint32_t codes[] = {3, 1, 0};
  for (size_t i = 0; i < 3; ++i) {
    const StampRecord& r = data.stamps.records[i];
    EXPECT_EQ(r.type, kStampGain);
    EXPECT_EQ(r.sampleIndex, rows[i]);
    EXPECT_EQ(r.changedMask, 0b10u);
    EXPECT_EQ(r.gain[1], codes[i]);
    EXPECT_EQ(r.gain[0], 0u);
    EXPECT_EQ(r.markerClass, 1);  // the lowest changed channel
    ExpectTime(r.time, At(2024, 3, 10, 12, 0, static_cast<int>(rows[i]) * 10));
  }
  // Gain words decode like any other word (even: no odd-reading correction).
  EXPECT_FLOAT_EQ(data.series[1][0], Poly(kIdentity, GainWord(3)));
  EXPECT_EQ(data.series[1].size(), 8u);
}

TEST(DecodeImage, TwoGainChannelsChangingTogetherGiveClass12) {
  DataSet data = VsLogger("yfT");
  ImageBuilder b;
  b.Header(30);
  b.Words({GainWord(0), GainWord(2), 0x400000});
  b.Words({GainWord(0), GainWord(1), 0x400000});
  b.Words({GainWord(3), GainWord(0), 0x400000});
  b.Words({GainWord(3), GainWord(0), 0x400000});
  const MemoryImage image = b.Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.stamps.records.size(), 3u);
  EXPECT_EQ(data.stamps.records[0].changedMask, 0b11u);
  EXPECT_EQ(data.stamps.records[0].gain[0], 0u);
  EXPECT_EQ(data.stamps.records[0].gain[1], 2u);
  EXPECT_EQ(data.stamps.records[0].markerClass, 12);
  EXPECT_EQ(data.stamps.records[1].changedMask, 0b10u);
  EXPECT_EQ(data.stamps.records[1].sampleIndex, 1u);
  EXPECT_EQ(data.stamps.records[1].markerClass, 1);
  EXPECT_EQ(data.stamps.records[2].changedMask, 0b11u);
  EXPECT_EQ(data.stamps.records[2].gain[0], 3u);
  EXPECT_EQ(data.stamps.records[2].gain[1], 0u);
  EXPECT_EQ(data.stamps.records[2].sampleIndex, 2u);
  EXPECT_EQ(data.samplesPerChannel, 4);
}

// ---- 6 Hz profiling ---------------------------------------------------------------------------

TEST(DecodeImage, SixHzTimesRunInStepsOf167MillisecondsAndSnapToTheSecond) {
  DataSet data = VsLogger("y");
  ImageBuilder b;
  b.Header(30);
  for (int i = 0; i < 14; ++i) b.Word(GainWord(static_cast<uint32_t>(i % 2)));  // a change per row
  const MemoryImage image = b.Build();
  DeploymentParameters p = Params();
  p.profiling6Hz = true;
  RecordingHost host;
  DecodeImage(image, p, data, host);
  ASSERT_EQ(data.stamps.records.size(), 14u);
  const int ms[] = {0, 167, 334, 501, 668, 835, 0, 167, 334, 501, 668, 835, 0, 167};
  for (int i = 0; i < 14; ++i) {
    SCOPED_TRACE(i);
    ExpectTime(data.stamps.records[static_cast<size_t>(i)].time,
               At(2024, 3, 10, 12, 0, i / 6, ms[i]));
    // The writers' rule gives the same times.
    ExpectTime(SampleTime(data, p.startTime, p.samplePeriod.TotalSeconds(), true, i),
               At(2024, 3, 10, 12, 0, i / 6, ms[i]));
  }
}

TEST(SampleTime, SixHzStepSnapsMilliseconds1To49) {
  EXPECT_EQ(SixHzStepMs(835), 1000);  // 1002 -> 1000
  EXPECT_EQ(SixHzStepMs(0), 167);
  EXPECT_EQ(SixHzStepMs(882), 1049 - 49);
  EXPECT_EQ(SixHzStepMs(883), 1050);  // 50 is kept
  EXPECT_EQ(SixHzStepMs(833), 1000);  // exactly a whole second stays
}

// ---- Sample times -----------------------------------------------------------------------------

TEST(SampleTime, StartPlusPeriodsThenFromEachStamp) {
  DataSet data;
  StampRecord s;
  s.sampleIndex = 5;
  s.type = kStampTime;
  s.time = At(2024, 4, 1, 0, 0, 0);
  data.stamps.records.push_back(s);
  s.sampleIndex = 9;
  s.type = kStampWarm;
  s.time = At(2024, 4, 2, 6, 0, 0);
  data.stamps.records.push_back(s);
  const SystemTime start = At(2024, 3, 31, 23, 59, 0);
  ExpectTime(SampleTime(data, start, 30, false, 0), start);
  ExpectTime(SampleTime(data, start, 30, false, 4), At(2024, 4, 1, 0, 1, 0));
  ExpectTime(SampleTime(data, start, 30, false, 5), At(2024, 4, 1, 0, 0, 0));
  ExpectTime(SampleTime(data, start, 30, false, 8), At(2024, 4, 1, 0, 1, 30));
  ExpectTime(SampleTime(data, start, 30, false, 9), At(2024, 4, 2, 6, 0, 0));
  ExpectTime(SampleTime(data, start, 30, false, 2009), At(2024, 4, 2, 22, 40, 0));
  // 6 Hz from a stamp.
  ExpectTime(SampleTime(data, start, 30, true, 12), At(2024, 4, 2, 6, 0, 0, 501));
  ExpectTime(SampleTime(data, start, 30, true, 9 + 6 * 1000 + 1), At(2024, 4, 2, 6, 16, 40, 167));
}

TEST(SampleTime, SixHzFromAnOddMillisecondReachesTheSecondAndThenCycles) {
  DataSet data;
  const SystemTime start = At(2024, 1, 1, 0, 0, 0, 50);
  int64_t ms = ToEpochMs(start);
  for (int row = 0; row < 3000; ++row) {
    ASSERT_EQ(ToEpochMs(SampleTime(data, start, 1, true, row)), ms) << row;
    ms = SixHzStepMs(ms);
  }
}

TEST(DecodeImage, ZeroPeriodCountsAsOneDay) {
  DataSet data = VsLogger("y");
  const MemoryImage image = ImageBuilder().Header(30).Words({GainWord(0), GainWord(1)}).Build();
  DeploymentParameters p = Params();
  p.samplePeriod = {0, 0, 0};
  RecordingHost host;
  DecodeImage(image, p, data, host);
  ASSERT_EQ(data.stamps.records.size(), 2u);
  ExpectTime(data.stamps.records[1].time, At(2024, 3, 11, 12, 0, 0));
}

TEST(DecodeImage, GainStampAfterAStampTakesTheStampTime) {
  DataSet data = VsLogger("y");
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Word(GainWord(0))
                                .Stamp("TIM", 2025, 6, 1, 8, 0, 0)
                                .Words({GainWord(1), GainWord(2)})
                                .Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.stamps.records.size(), 4u);
  EXPECT_EQ(data.stamps.records[1].type, kStampTime);
  EXPECT_EQ(data.stamps.records[2].sampleIndex, 1u);
  ExpectTime(data.stamps.records[2].time, At(2025, 6, 1, 8, 0, 0));
  ExpectTime(data.stamps.records[3].time, At(2025, 6, 1, 8, 0, 10));
  // Classes: the row-0 gain stamp is channel 0; the time stamp lies at another row.
  EXPECT_EQ(data.stamps.records[0].markerClass, 0);
  EXPECT_EQ(data.stamps.records[1].markerClass, 8);
}

// ---- Marker classes ---------------------------------------------------------------------------

TEST(MarkerClasses, InTableOrder) {
  TimestampTable t;
  auto add = [&](uint32_t type, uint32_t index, uint32_t mask = 0) {
    StampRecord r;
    r.type = type;
    r.sampleIndex = index;
    r.changedMask = mask;
    t.records.push_back(r);
  };
  add(kStampTime, 0);         // 8: nothing remembered
  add(kStampRtc, 5);          // 9
  add(kStampTime, 5);         // 9: same index as the RTC
  add(kStampTime, 6);         // 8
  add(kStampBurst, 7);        // 10, remembers -1
  add(kStampTime, 7);         // -1
  add(kStampGain, 8, 0b100);  // 2
  add(kStampCold, 8);         // 2
  add(kStampGain, 9, 0b101);  // 12
  add(kStampStop, 9);         // 12
  add(kStampRecovery, 10);    // 9
  add(kStampTime, 11);        // 8
  add(kStampGain, 12, 1);     // 0
  add(kStampTime, 12);        // 0
  AssignMarkerClasses(t);
  const int expected[] = {8, 9, 9, 8, 10, -1, 2, 2, 12, 12, 9, 8, 0, 0};
  ASSERT_EQ(t.records.size(), 14u);
  for (size_t i = 0; i < 14; ++i) EXPECT_EQ(t.records[i].markerClass, expected[i]) << i;
}

// ---- Header rules per family ------------------------------------------------------------------

struct HeaderCase {
  const char* model;
  float firmware;
  bool extended;
  int parameterBlockLength;
  int headerLength;
  int channels;   // channel count after the rules
  char channel0;  // letter after the rules
};

class HeaderRules : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderRules, HeaderLengthChannelsAndFirstValue) {
  const HeaderCase& c = GetParam();
  DataSet data;
  data.logger.model = c.model;
  data.logger.firmware = c.firmware;
  data.logger.extendedCommandSet = c.extended;
  data.logger.parameterBlockLength = c.parameterBlockLength;
  data.logger.channelCount = 2;
  data.logger.channelTypes = "VV";
  for (auto& row : data.calibration.coef) row = kIdentity;
  data.calibration.coef[0] = kThermistorDefault;

  // The header is filled with 0xFF bytes: reading it as data would give other values.
  const MemoryImage image = ImageBuilder()
                                .Header(static_cast<size_t>(c.headerLength), 0xFF)
                                .Words({0x400000, 0x200000, 0x600000, 0x300000})
                                .Build();
  const HeaderLayout layout = HeaderLayoutOf(data.logger, image.sampleWords);
  EXPECT_EQ(layout.headerLength, c.headerLength);
  EXPECT_EQ(layout.sampleWords, image.sampleWords - c.headerLength / 3);

  RecordingHost host;
  const DecodeResult r = DecodeImage(image, Params(), data, host);
  EXPECT_EQ(r.headerLength, c.headerLength);
  EXPECT_EQ(r.sampleWords, 4);
  EXPECT_EQ(data.channelCount, c.channels);
  EXPECT_EQ(data.logger.channelCount, c.channels);
  EXPECT_EQ(data.logger.channelTypes[0], c.channel0);
  ASSERT_EQ(data.samplesPerChannel, 4 / c.channels);
  const bool thermistor = std::string(c.model).find("NA-") != std::string::npos;
  const float first = thermistor ? Therm(0x400000) : Poly(kThermistorDefault, 0x400000);
  EXPECT_FLOAT_EQ(data.series[0][0], first);
}

INSTANTIATE_TEST_SUITE_P(
    Families, HeaderRules,
    ::testing::Values(
        // NA family: channel 0 is 'T'; 15 bytes from 1.5 up to 2.2, 30 from 2.2, none below 1.5.
        HeaderCase{"NA-7100", 1.2f, false, 30, 0, 2, 'T'},
        HeaderCase{"NA-7100", 1.5f, false, 30, 15, 1, 'T'},
        HeaderCase{"NA-7160", 2.1f, false, 30, 15, 1, 'T'},
        HeaderCase{"NA-7100", 2.2f, false, 30, 30, 1, 'T'},
        HeaderCase{"NA-7160", 3.05f, false, 48, 30, 1, 'T'},
        // Depth family: channel 0 is 'P', 30 bytes.
        HeaderCase{"NB-7100", 2.0f, false, 48, 30, 1, 'P'},
        HeaderCase{"NMV-7400", 1.0f, false, 48, 30, 1, 'P'},
        // Linear-memory loggers and any other logger: the parameter block length.
        HeaderCase{"NMK-7400", 5.2f, true, 48, 48, 2, 'V'},
        HeaderCase{"NA-7100", 5.2f, true, 48, 48, 2, 'V'},  // linear memory comes first
        HeaderCase{"VS-330", 3.1f, false, 30, 30, 2, 'V'},
        HeaderCase{"VSY-550", 4.5f, false, 48, 48, 2, 'V'},
        HeaderCase{"NMJ-7400", 4.0f, false, 60, 60, 2, 'V'}));

TEST(DecodeImage, HeaderNotAMultipleOfThreeNeverReadsPastTheImage) {
  DataSet data = VsLogger("P");
  data.logger.parameterBlockLength = 32;  // sampleWords -= 10, words start at byte 32
  const MemoryImage image =
      ImageBuilder().Header(32).Words({0x100000, 0x200000, 0x300000, 0x400000}).Raw({7}).Build();
  ASSERT_EQ(image.sampleWords, 15);
  RecordingHost host;
  const DecodeResult r = DecodeImage(image, Params(), data, host);
  EXPECT_TRUE(r.imageShort);
  EXPECT_EQ(r.sampleWords, 4);  // 5 claimed, 4 in the image
  ASSERT_EQ(data.samplesPerChannel, 4);
  EXPECT_FLOAT_EQ(data.series[0][3], Poly(kIdentity, 0x400000));
}

TEST(DecodeImage, EmptyImageHasNoSamples) {
  DataSet data = VsLogger("TP");
  RecordingHost host;
  DecodeImage(MemoryImage{}, Params(), data, host);
  EXPECT_EQ(data.samplesPerChannel, 0);
  EXPECT_TRUE(data.Empty());
  ASSERT_EQ(data.series.size(), 2u);
  EXPECT_FLOAT_EQ(data.Minimum(1), 300.0f);
  EXPECT_FLOAT_EQ(data.Maximum(1), -300.0f);
  // Header only.
  DecodeImage(ImageBuilder().Header(30).Build(), Params(), data, host);
  EXPECT_EQ(data.samplesPerChannel, 0);
}

TEST(DecodeImage, ReplacesThePreviousDecoding) {
  DataSet data = VsLogger("y");
  RecordingHost host;
  DecodeImage(ImageBuilder().Header(30).Words({GainWord(1), GainWord(2)}).Build(), Params(), data,
              host);
  ASSERT_EQ(data.stamps.records.size(), 2u);
  DecodeImage(ImageBuilder().Header(30).Words({GainWord(1)}).Build(), Params(), data, host);
  EXPECT_EQ(data.stamps.records.size(), 1u);
  EXPECT_EQ(data.samplesPerChannel, 1);
}

// ---- Hooks ------------------------------------------------------------------------------------

TEST(DecodeImage, AfterARetrievalTheHooksForTheFamilyRun) {
  int menus = 0, rereads = 0, derived = 0;
  DecodeOptions options;
  options.fromFile = false;
  options.hooks.refreshMenus = [&] { ++menus; };
  options.hooks.rereadDeployment = [&](DeploymentParameters& p) {
    ++rereads;
    p.startTime = At(2030, 1, 2, 3, 4, 5);
  };
  options.hooks.computeDerived = [&](DataSet& d) {
    ++derived;
    EXPECT_EQ(d.samplesPerChannel, 1);
  };
  const MemoryImage image = ImageBuilder().Header(30).Word(GainWord(2)).Build();
  RecordingHost host;

  DataSet other = VsLogger("y");
  const DecodeResult r = DecodeImage(image, Params(), other, host, options);
  EXPECT_EQ(rereads, 1);
  EXPECT_EQ(menus, 0);
  EXPECT_EQ(derived, 1);
  ASSERT_EQ(other.stamps.records.size(), 1u);
  ExpectTime(other.stamps.records[0].time, At(2030, 1, 2, 3, 4, 5));  // the re-read start
  ExpectTime(r.parameters.startTime, At(2030, 1, 2, 3, 4, 5));

  DataSet linear = VsLogger("y");
  linear.logger.model = "NMK-7400";
  linear.logger.extendedCommandSet = true;
  DecodeImage(image, Params(), linear, host, options);
  EXPECT_EQ(menus, 1);
  EXPECT_EQ(rereads, 1);
  ExpectTime(linear.stamps.records[0].time, At(2024, 3, 10, 12, 0, 0));

  options.fromFile = true;
  DecodeImage(image, Params(), other, host, options);
  EXPECT_EQ(rereads, 1);
  EXPECT_EQ(derived, 3);
}

// ---- Wave bursts ------------------------------------------------------------------------------

DataSet TideAndWaveLogger(bool waves) {
  DataSet data = VsLogger("TP");
  data.logger.model = "NMJ-7400";
  data.logger.waves = waves;
  data.calibration.coef[1] = {1.0, 10.0, 0.0, 0.0};
  return data;
}

MemoryImage BurstImage() {
  return ImageBuilder()
      .Header(30)
      .Words({0x400000, 0x200000})  // row 0
      .Stamp("BST", 2024, 3, 10, 12, 0, 5)
      .Words({0x100000, 0x110000, 0x120000, 0x130000, 0x140000, 0x150000})  // 6 burst words
      .Stamp("TIM", 2024, 3, 10, 12, 0, 10)
      .Words({0x500000, 0x210000})  // row 1
      .Words({0x600000, 0x220000})  // row 2
      .Build();
}

TEST(DecodeImage, BurstStampStartsABurstOfChannel1Values) {
  DataSet data = TideAndWaveLogger(true);
  DeploymentParameters p = Params();
  p.waveEnabled = true;
  p.burstLength = 4;
  std::vector<int> analysed;
  DecodeOptions options;
  options.hooks.analyseBurst = [&](DataSet& d, int b) {
    analysed.push_back(b);
    EXPECT_EQ(d.bursts.size(), 1u);
  };
  RecordingHost host;
  const DecodeResult r = DecodeImage(BurstImage(), p, data, host, options);
  EXPECT_EQ(r.burstWords, 6);
  EXPECT_EQ(r.burstNumber, 0);
  EXPECT_EQ(r.stampWords, 8);
  ASSERT_EQ(data.bursts.size(), 1u);
  ExpectTime(data.bursts[0].time, At(2024, 3, 10, 12, 0, 5));
  // The burst length bounds what is stored.
  ASSERT_EQ(data.bursts[0].samples.size(), 4u);
  const std::array<double, 4> c1{1.0, 10.0, 0.0, 0.0};
  for (uint32_t i = 0; i < 4; ++i)
    EXPECT_FLOAT_EQ(data.bursts[0].samples[i], Poly(c1, 0x100000 + 0x10000 * i));
  EXPECT_EQ(analysed, std::vector<int>{0});
  // Rows: (20 words - 8 stamp words) / 2 channels - 6 burst words / 2.
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][1], Therm(0x500000));
  EXPECT_FLOAT_EQ(data.series[1][2], Poly(c1, 0x220000));
  ASSERT_EQ(data.stamps.records.size(), 2u);
  EXPECT_EQ(data.stamps.records[0].type, kStampBurst);
  EXPECT_EQ(data.stamps.records[0].burstNumber, 0u);
  EXPECT_EQ(data.stamps.records[0].sampleIndex, 1u);
  EXPECT_EQ(data.stamps.records[0].markerClass, 10);
  EXPECT_EQ(data.stamps.records[1].markerClass, -1);  // same index as the burst
}

TEST(DecodeImage, BurstsAreNumberedAndShortBurstsKeepWhatArrived) {
  DataSet data = TideAndWaveLogger(true);
  DeploymentParameters p = Params();
  p.waveEnabled = true;
  p.burstLength = 3;
  const MemoryImage image = ImageBuilder()
                                .Header(30)
                                .Words({0x400000, 0x200000})
                                .Stamp("BST", 2024, 3, 10, 12, 1, 0)
                                .Words({0x100000, 0x110000})
                                .Stamp("BST", 2024, 3, 10, 12, 2, 0)
                                .Words({0x120000, 0x130000, 0x140000})
                                .Stamp("TIM", 2024, 3, 10, 12, 3, 0)
                                .Words({0x500000, 0x210000})
                                .Build();
  RecordingHost host;
  const DecodeResult r = DecodeImage(image, p, data, host);
  EXPECT_EQ(r.burstNumber, 1);
  ASSERT_EQ(data.bursts.size(), 2u);
  EXPECT_EQ(data.bursts[0].samples.size(), 2u);
  EXPECT_EQ(data.bursts[1].samples.size(), 3u);
  ExpectTime(data.bursts[1].time, At(2024, 3, 10, 12, 2, 0));
  EXPECT_EQ(data.stamps.records[1].burstNumber, 1u);
  // (21 - 12) / 2 - 5 / 2 = 4 - 2 = 2.
  EXPECT_EQ(data.samplesPerChannel, 2);
}

TEST(DecodeImage, WithoutTheWavesCapabilityBurstWordsAreSamples) {
  DataSet data = TideAndWaveLogger(false);
  DeploymentParameters p = Params();
  p.waveEnabled = true;
  p.burstLength = 4;
  RecordingHost host;
  const DecodeResult r = DecodeImage(BurstImage(), p, data, host);
  EXPECT_EQ(r.burstWords, 0);
  ASSERT_EQ(data.bursts.size(), 1u);  // the stamp still opens a burst entry
  EXPECT_TRUE(data.bursts[0].samples.empty());
  // (20 - 8) / 2 rows: the six burst words are rows 1 to 3.
  ASSERT_EQ(data.samplesPerChannel, 6);
  EXPECT_FLOAT_EQ(data.series[0][1], Therm(0x100000));
  EXPECT_FLOAT_EQ(data.series[1][3], Poly({1.0, 10.0, 0.0, 0.0}, 0x150000));
  EXPECT_FLOAT_EQ(data.series[0][4], Therm(0x500000));
}

// ---- Channel rules ----------------------------------------------------------------------------

TEST(DecodeImage, NAFamilyUsesTheThermistorEquation) {
  DataSet data;
  data.logger.model = "NA-7100";
  data.logger.firmware = 2.5f;
  data.logger.channelCount = 1;
  data.logger.channelTypes = "P";
  data.calibration.coef[0] = kThermistorDefault;
  const MemoryImage image = ImageBuilder().Header(30).Words({0x400000, 0x000000, 0x500000}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  EXPECT_EQ(data.logger.channelTypes, "T");
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][0], Therm(0x400000));
  EXPECT_FLOAT_EQ(data.series[0][1], -1000.0f);
  EXPECT_FLOAT_EQ(data.Minimum(0), std::min(Therm(0x400000), Therm(0x500000)));
}

TEST(DecodeImage, MissingLettersAreUnknownChannels) {
  DataSet data = VsLogger("P");
  data.logger.channelCount = 3;  // letters for one channel only
  const MemoryImage image = ImageBuilder().Header(30).Words({2, 4, 6, 8, 10, 12}).Build();
  RecordingHost host;
  DecodeImage(image, Params(), data, host);
  ASSERT_EQ(data.samplesPerChannel, 2);
  EXPECT_FLOAT_EQ(data.series[2][1], Poly(kIdentity, 12));
}

}  // namespace
}  // namespace klx
