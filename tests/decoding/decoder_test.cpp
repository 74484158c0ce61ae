// DecodeImage, stamps, marker classes and sample times on hand-built images; expected values
// come from the equations written out again in image_builder.h.
#include "decoding/decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

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
  return t;
}

// The calendar fields (the day of the week is not part of a stamp's time).
std::string Str(const SystemTime& t) {
  char b[48];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.milliseconds);
  return b;
}
#define EXPECT_TIME(actual, ...) EXPECT_EQ(Str(actual), Str(At(__VA_ARGS__)))

// An older multi-channel logger (VS family): header = parameter block length (30 bytes).
DataSet VsLogger(const std::string& letters) {
  DataSet data;
  data.logger.model = "VS-330";
  data.logger.firmware = 3.1f;
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

DecodeResult Decode(DataSet& data, const ImageBuilder& b, const DeploymentParameters& p = Params(),
                    const DecodeOptions& options = {}) {
  RecordingHost host;
  return DecodeImage(b.Build(), p, data, host, options);
}

float Poly(const std::array<double, 4>& c, long long raw) {
  return static_cast<float>(ExpectedPolynomial(c, raw));
}
float Id(long long raw) {
  return Poly(kIdentity, raw);
}
float Therm(long long raw) {
  return static_cast<float>(ExpectedThermistor(kThermistorDefault, raw));
}
uint32_t GainWord(uint32_t gain) {
  return 0x400000 | (gain << 1);
}

void ExpectLimits(const DataSet& d, int ch, float lo, float hi) {
  EXPECT_FLOAT_EQ(d.Minimum(ch), lo) << ch;
  EXPECT_FLOAT_EQ(d.Maximum(ch), hi) << ch;
}

TEST(DecodeImage, FillsRowsAndRunningLimitsAndDropsAnIncompleteLastRow) {
  DataSet data = VsLogger("TP");
  data.calibration.coef[1] = kPressure;
  const DecodeResult r = Decode(data, ImageBuilder().Header(30).Words(
      {0x400000, 0x200000, 0x600000, 0x100000, 0x500000, 0x300000, 0xFFFFFE}));
  EXPECT_EQ(std::make_pair(r.headerLength, r.sampleWords), std::make_pair(30, 7));
  ASSERT_EQ(std::make_tuple(data.samplesPerChannel, data.series[0].size()),
            std::make_tuple(3, size_t{5}));
  EXPECT_FLOAT_EQ(data.series[0][2], Therm(0x500000));
  EXPECT_FLOAT_EQ(data.series[1][1], Poly(kPressure, 0x100000));
  // The word of the incomplete row (about -149 degrees) reaches neither limit.
  ExpectLimits(data, 0, Therm(0x600000), Therm(0x400000));
  ExpectLimits(data, 1, Poly(kPressure, 0x100000), Poly(kPressure, 0x300000));
  EXPECT_TRUE(data.stamps.records.empty());
}

TEST(DecodeImage, LimitsStartAt300AndMinus300AndMissingValuesStayOut) {
  DataSet data = VsLogger("P");
  data.calibration.coef[0] = {400.0, 0.0, 0.0, 0.0};  // every value 400
  Decode(data, ImageBuilder().Header(30).Words({0x100000, 0x200000}));
  ExpectLimits(data, 0, 300.0f, 400.0f);  // 400 is never <= 300
  // A thermistor zero is missing (the zero word is followed by no stamp code).
  data = VsLogger("T");
  Decode(data, ImageBuilder().Header(30).Words({0x000000, 0x400000, 0x600000}));
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][0], -1000.0f);
  ExpectLimits(data, 0, Therm(0x600000), Therm(0x400000));
  EXPECT_TRUE(data.stamps.records.empty());
  Decode(data, ImageBuilder().Header(30).Words({0x000000, 0x000000}));
  ASSERT_EQ(data.samplesPerChannel, 2);
  ExpectLimits(data, 0, 300.0f, -300.0f);
}

TEST(DecodeImage, RawModeDividesByFullScaleOnly) {
  DataSet data = VsLogger("TP");
  data.rawMode = true;
  Decode(data, ImageBuilder().Header(30).Words({0x400000, 0x000001, 0x000000, 0x800000}));
  ASSERT_EQ(data.samplesPerChannel, 2);
  EXPECT_FLOAT_EQ(data.series[0][0], 0.25f);
  EXPECT_FLOAT_EQ(data.series[1][0], static_cast<float>(1.0 / 16777216.0));  // no odd rule
  EXPECT_FLOAT_EQ(data.series[0][1], 0.0f);  // no thermistor marker in raw mode
  EXPECT_FLOAT_EQ(data.series[1][1], 0.5f);
  // Minimum and maximum start at 0 and 1 in raw mode.
  for (int ch = 0; ch < 2; ++ch) ExpectLimits(data, ch, 0.0f, 1.0f);
}

TEST(DecodeImage, ExtendedRangeIsApplied) {
  DataSet data = VsLogger("YP");
  data.extendedCapabilities[1] = 1;  // channel 0
  Decode(data, ImageBuilder().Header(30).Words({0xFD70A2, 0x800001, 0x100000, 0x800000}));
  ASSERT_EQ(data.samplesPerChannel, 2);
  EXPECT_FLOAT_EQ(data.series[0][0], Id(0xFD70A2LL - 0x1000000LL));
  EXPECT_FLOAT_EQ(data.Minimum(0), data.series[0][0]);
  EXPECT_FLOAT_EQ(data.series[1][0], Id(0x800001LL - 0x1000000LL));  // odd: below 0
}

TEST(DecodeImage, TwoStampsInARowAreBothConsumedAndAStampMidRowStartsANewRow) {
  DataSet data = VsLogger("PP");
  const DecodeResult r = Decode(data, ImageBuilder()
                                          .Header(30)
                                          .Words({0x100000, 0x200000})
                                          .Stamp("TIM", 2024, 3, 10, 13, 0, 0)
                                          .Stamp("CLD", 2024, 3, 10, 13, 0, 5)
                                          .Words({0x300000, 0x400000, 0x500000, 0x600000}));
  EXPECT_EQ(r.stampWords, 8);
  ASSERT_EQ(data.stamps.records.size(), 2u);
  for (uint32_t k = 0; k < 2; ++k) {  // TIM then CLD; neither remembers its index: class 8
    const StampRecord& t = data.stamps.records[k];
    EXPECT_EQ(std::make_tuple(t.type, t.sampleIndex, t.markerClass), std::make_tuple(k, 1u, 8));
  }
  EXPECT_TIME(data.stamps.records[1].time, 2024, 3, 10, 13, 0, 5);
  // (14 words - 8 stamp words) / 2 channels.
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[1][2], Id(0x600000));

  // A stamp in the middle of a row starts a new row.
  data = VsLogger("PPP");
  Decode(data, ImageBuilder()
                   .Header(30)
                   .Words({0x100000, 0x110000, 0x120000})  // row 0
                   .Words({0x200000})                      // row 1, channel 0 only
                   .Stamp("TIM", 2024, 3, 10, 14, 0, 0)
                   .Words({0x300000, 0x310000, 0x320000})    // row 2
                   .Words({0x400000, 0x410000, 0x420000}));  // row 3
  ASSERT_EQ(data.stamps.records.size(), 1u);
  EXPECT_EQ(data.stamps.records[0].sampleIndex, 1u);  // the row at which it was found
  // The abandoned row keeps what it reached; the channels it did not reach are missing.
  EXPECT_FLOAT_EQ(data.series[0][1], Id(0x200000));
  EXPECT_FLOAT_EQ(data.series[2][1], kMissingValue);
  EXPECT_FLOAT_EQ(data.series[2][2], Id(0x320000));
  // (14 words - 4 stamp words) / 3 = 3 samples: the decoded row 3 falls outside.
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.Maximum(0), Id(0x400000));  // it had entered the maximum
  EXPECT_FLOAT_EQ(data.Minimum(1), Id(0x110000));  // missing entries do not
}

TEST(DecodeImage, EveryStampCodeIsRecognisedToTheVeryEndAndIncompleteOnesAreReadings) {
  DataSet data = VsLogger("P");
  ImageBuilder b;
  b.Header(30);
  for (int k = 0; k < kStampCodeCount; ++k)
    b.Word(0x100000).Stamp(kStampCodes[k].code, 2024, 1, 2, 3, 4, k);
  // The last stamp ends the image; its time bytes written out as BCD by hand.
  b.Raw({0, 0, 0, 'R', 'T', 'C', 0x99, 0x12, 0x31, 0x23, 0x59, 0x58});
  Decode(data, b);
  ASSERT_EQ(data.stamps.records.size(), 13u);
  for (uint32_t k = 0; k < 12; ++k) {
    const StampRecord& s = data.stamps.records[k];
    EXPECT_EQ(std::make_tuple(s.type, s.sampleIndex, s.time.second), std::make_tuple(k, k + 1, k));
  }
  EXPECT_EQ(data.stamps.records[12].type, kStampRtc);
  EXPECT_EQ(data.stamps.records[12].sampleIndex, 12u);
  EXPECT_TIME(data.stamps.records[12].time, 2099, 12, 31, 23, 59, 58);
  EXPECT_EQ(data.samplesPerChannel, 12);

  // A zero word, "TIM" and two of six BCD bytes: no stamp, but the readings 0 and "TIM".
  data = VsLogger("PP");
  const DecodeResult r = Decode(data, ImageBuilder()
                                          .Header(30)
                                          .Words({0x100000, 0x200000, 0x000000})
                                          .Raw({'T', 'I', 'M', 0x24, 0x03}));
  EXPECT_EQ(r.sampleWords, 4);
  EXPECT_TRUE(data.stamps.records.empty());
  ASSERT_EQ(data.samplesPerChannel, 2);
  EXPECT_FLOAT_EQ(data.series[0][1], 0.0f);
  // 0x54494D is odd with bit 23 clear: above the normal range.
  EXPECT_FLOAT_EQ(data.series[1][1], Id(0x54494DLL + 0x1000000LL));
}

ImageBuilder ManyStamps(int count) {
  ImageBuilder b;
  b.Header(30);
  for (int i = 0; i < count; ++i) b.Stamp("TIM", 2024, 1, 1, i / 3600, (i / 60) % 60, i % 60);
  return b;
}

TEST(DecodeImage, AtMost11000StampsTheMessageOncePerDecodingAndLaterStampsStillCount) {
  DataSet data = VsLogger("P");
  RecordingHost host;
  DecodeImage(ManyStamps(11000).Word(0x100000).Build(), Params(), data, host);
  EXPECT_EQ(data.stamps.records.size(), 11000u);
  EXPECT_FALSE(data.stamps.overflowed);
  EXPECT_TRUE(host.events.empty());

  const MemoryImage image = ManyStamps(11005).Words({0x100000, 0x200000, 0x300000}).Build();
  for (int decoding = 1; decoding <= 2; ++decoding) {
    DecodeImage(image, Params(), data, host);
    EXPECT_EQ(data.stamps.records.size(), 11000u);
    EXPECT_TRUE(data.stamps.overflowed);
    ASSERT_EQ(host.events.size(), static_cast<size_t>(decoding));
    EXPECT_EQ(host.events.back().kind, "tell");
  }
  // (44023 words - 44020 stamp words) / 1 channel.
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][2], Id(0x300000));
  EXPECT_TIME(data.stamps.records.back().time, 2024, 1, 1, 3, 3, 19);  // stamp 10999

  // Stamps beyond the limit still move the parser's current time.
  TimestampTable table;
  RecordingHost once;
  WordParser parser(image.bytes.data(), image.bytes.size(), 30, table, &once, nullptr,
                    At(2024, 1, 1, 0, 0, 0));
  bool flag = false;
  EXPECT_EQ(parser.ReadWord(0, flag), 0x100000);
  EXPECT_EQ(std::make_tuple(flag, table.records.size(), parser.stampWords),
            std::make_tuple(true, size_t{11000}, 11005 * 4));
  EXPECT_EQ(parser.currentMs, ToEpochMs(At(2024, 1, 1, 3, 3, 24)));  // stamp 11004
}

TEST(DecodeImage, GainStampTimesFollowAStampAndAZeroPeriodIsOneDay) {
  DataSet data = VsLogger("y");
  Decode(data, ImageBuilder()
                   .Header(30)
                   .Word(GainWord(0))
                   .Stamp("TIM", 2025, 6, 1, 8, 0, 0)
                   .Words({GainWord(1), GainWord(2)}));
  ASSERT_EQ(data.stamps.records.size(), 4u);
  EXPECT_EQ(data.stamps.records[2].sampleIndex, 1u);
  EXPECT_TIME(data.stamps.records[2].time, 2025, 6, 1, 8, 0, 0);
  EXPECT_TIME(data.stamps.records[3].time, 2025, 6, 1, 8, 0, 10);

  DeploymentParameters p = Params();
  p.samplePeriod = {0, 0, 0};
  Decode(data, ImageBuilder().Header(30).Words({GainWord(0), GainWord(1)}), p);
  ASSERT_EQ(data.stamps.records.size(), 2u);  // the previous decoding is replaced
  EXPECT_EQ(data.samplesPerChannel, 2);
  EXPECT_TIME(data.stamps.records[1].time, 2024, 3, 11, 12, 0, 0);
}

TEST(SampleTime, SixHzStepSnapsMilliseconds1To49AndTimesRunFromTheStartAndEachStamp) {
  const int64_t steps[][2] = {{835, 1000}, {0, 167}, {882, 1000}, {883, 1050}, {833, 1000}};
  for (const auto& s : steps) EXPECT_EQ(SixHzStepMs(s[0]), s[1]) << s[0];
  // From an odd millisecond it reaches the second and then cycles.
  DataSet data;
  const SystemTime start = At(2024, 1, 1, 0, 0, 0, 50);
  int64_t ms = ToEpochMs(start);
  for (int row = 0; row < 3000; ++row) {
    ASSERT_EQ(ToEpochMs(SampleTime(data, start, 1, true, row)), ms) << row;
    ms = SixHzStepMs(ms);
  }

  // From the start by periods, then from each stamp.
  data.stamps.records.resize(2);
  std::tie(data.stamps.records[0].sampleIndex, data.stamps.records[0].type,
           data.stamps.records[0].time) = std::make_tuple(5u, kStampTime, At(2024, 4, 1, 0, 0, 0));
  std::tie(data.stamps.records[1].sampleIndex, data.stamps.records[1].type,
           data.stamps.records[1].time) = std::make_tuple(9u, kStampWarm, At(2024, 4, 2, 6, 0, 0));
  const SystemTime from = At(2024, 3, 31, 23, 59, 0);
  EXPECT_TIME(SampleTime(data, from, 30, false, 4), 2024, 4, 1, 0, 1, 0);
  EXPECT_TIME(SampleTime(data, from, 30, false, 5), 2024, 4, 1, 0, 0, 0);
  EXPECT_TIME(SampleTime(data, from, 30, false, 8), 2024, 4, 1, 0, 1, 30);
  EXPECT_TIME(SampleTime(data, from, 30, false, 9), 2024, 4, 2, 6, 0, 0);
  EXPECT_TIME(SampleTime(data, from, 30, false, 2009), 2024, 4, 2, 22, 40, 0);
  // 6 Hz from a stamp.
  EXPECT_TIME(SampleTime(data, from, 30, true, 12), 2024, 4, 2, 6, 0, 0, 501);
  EXPECT_TIME(SampleTime(data, from, 30, true, 9 + 6 * 1000 + 1), 2024, 4, 2, 6, 16, 40, 167);
}

TEST(MarkerClasses, InTableOrder) {
  struct Row {
    uint32_t type, index, mask;
    int expected;
  };
  // A time stamp with nothing remembered is 8, at the RTC's index 9; a burst remembers -1.
  const Row rows[] = {
      {kStampTime, 0, 0, 8},     {kStampRtc, 5, 0, 9},       {kStampTime, 5, 0, 9},
      {kStampTime, 6, 0, 8},     {kStampBurst, 7, 0, 10},    {kStampTime, 7, 0, -1},
      {kStampGain, 8, 0b100, 2}, {kStampCold, 8, 0, 2},      {kStampGain, 9, 0b101, 12},
      {kStampStop, 9, 0, 12},    {kStampRecovery, 10, 0, 9}, {kStampTime, 11, 0, 8},
      {kStampGain, 12, 1, 0},    {kStampTime, 12, 0, 0}};
  TimestampTable t;
  for (const Row& row : rows) {
    t.records.emplace_back();
    std::tie(t.records.back().type, t.records.back().sampleIndex, t.records.back().changedMask) =
        std::tie(row.type, row.index, row.mask);
  }
  AssignMarkerClasses(t);
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(t.records[i].markerClass, rows[i].expected) << i;
}

TEST(DecodeImage, HeaderLengthChannelsAndFirstValuePerFamily) {
  const struct {
    const char* model;
    float firmware;
    bool extended;
    int parameterBlockLength, headerLength, channels;  // channel count and letter 0 after the rules
    char channel0;
  } cases[] = {
      // NA family: channel 0 is 'T'; 15 bytes from 1.5 up to 2.2, 30 from 2.2, none below 1.5.
      {"NA-7100", 1.2f, false, 30, 0, 2, 'T'},
      {"NA-7100", 1.5f, false, 30, 15, 1, 'T'},
      {"NA-7100", 2.2f, false, 30, 30, 1, 'T'},
      // Depth family: channel 0 is 'P', 30 bytes.
      {"NB-7100", 2.0f, false, 48, 30, 1, 'P'},
      // Linear-memory loggers and any other logger: the parameter block length.
      {"NA-7100", 5.2f, true, 48, 48, 2, 'V'},  // linear memory comes first
      {"VS-330", 3.1f, false, 60, 60, 2, 'V'}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " " + std::to_string(c.firmware));
    DataSet data = VsLogger("VV");
    std::tie(data.logger.model, data.logger.firmware, data.logger.extendedCommandSet,
             data.logger.parameterBlockLength) =
        std::make_tuple(c.model, c.firmware, c.extended, c.parameterBlockLength);
    data.calibration.coef[0] = kThermistorDefault;

    // The header is filled with 0xFF bytes: reading it as data would give other values.
    const MemoryImage image = ImageBuilder()
                                  .Header(static_cast<size_t>(c.headerLength), 0xFF)
                                  .Words({0x400000, 0x200000, 0x600000, 0x300000})
                                  .Build();
    RecordingHost host;
    const DecodeResult r = DecodeImage(image, Params(), data, host);
    EXPECT_EQ(std::make_pair(r.headerLength, r.sampleWords), std::make_pair(c.headerLength, 4));
    EXPECT_EQ(
        std::make_tuple(data.channelCount, data.logger.channelCount, data.logger.channelTypes[0]),
        std::make_tuple(c.channels, c.channels, c.channel0));
    ASSERT_EQ(data.samplesPerChannel, 4 / c.channels);
    const bool thermistor = std::string(c.model).find("NA-") != std::string::npos;
    EXPECT_FLOAT_EQ(data.series[0][0],
                    thermistor ? Therm(0x400000) : Poly(kThermistorDefault, 0x400000));
  }
}

TEST(DecodeImage, ShortImagesNeverReadPastTheirBytes) {
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
  EXPECT_FLOAT_EQ(data.series[0][3], Id(0x400000));
}

TEST(DecodeImage, AfterARetrievalTheHooksForTheFamilyRun) {
  int menus = 0, rereads = 0, derived = 0;
  DecodeOptions options;
  options.fromFile = false;  // the hooks run only after a retrieval
  options.hooks.refreshMenus = [&] { ++menus; };
  options.hooks.rereadDeployment = [&](DeploymentParameters& p) {
    ++rereads;
    p.startTime = At(2030, 1, 2, 3, 4, 5);
  };
  options.hooks.computeDerived = [&](DataSet& d) { derived += d.samplesPerChannel; };
  const ImageBuilder image = ImageBuilder().Header(30).Word(GainWord(2));

  DataSet other = VsLogger("y");
  const DecodeResult r = Decode(other, image, Params(), options);
  EXPECT_EQ(std::make_tuple(rereads, menus, derived), std::make_tuple(1, 0, 1));
  ASSERT_EQ(other.stamps.records.size(), 1u);
  EXPECT_TIME(other.stamps.records[0].time, 2030, 1, 2, 3, 4, 5);  // the re-read start
  EXPECT_TIME(r.parameters.startTime, 2030, 1, 2, 3, 4, 5);

  DataSet linear = VsLogger("y");
  linear.logger.model = "NMK-7400";
  linear.logger.extendedCommandSet = true;
  Decode(linear, image, Params(), options);
  EXPECT_EQ(std::make_pair(menus, rereads), std::make_pair(1, 1));
  EXPECT_TIME(linear.stamps.records[0].time, 2024, 3, 10, 12, 0, 0);

  options.fromFile = true;
  Decode(other, image, Params(), options);
  EXPECT_EQ(std::make_pair(rereads, derived), std::make_pair(1, 3));
}

constexpr std::array<double, 4> kChannel1{1.0, 10.0, 0.0, 0.0};

DataSet TideAndWaveLogger() {
  DataSet data = VsLogger("TP");
  data.logger.model = "NMJ-7400";
  data.logger.waves = true;
  data.calibration.coef[1] = kChannel1;
  return data;
}

DeploymentParameters WaveParams(int burstLength) {
  DeploymentParameters p = Params();
  p.waveEnabled = true;
  p.burstLength = burstLength;
  return p;
}

TEST(DecodeImage, BurstStampStartsABurstOfChannel1Values) {
  const ImageBuilder image =
      ImageBuilder()
          .Header(30)
          .Words({0x400000, 0x200000})  // row 0
          .Stamp("BST", 2024, 3, 10, 12, 0, 5)
          .Words({0x100000, 0x110000, 0x120000, 0x130000, 0x140000, 0x150000})  // 6 burst words
          .Stamp("TIM", 2024, 3, 10, 12, 0, 10)
          .Words({0x500000, 0x210000})   // row 1
          .Words({0x600000, 0x220000});  // row 2
  DataSet data = TideAndWaveLogger();
  std::vector<int> analysed;
  DecodeOptions options;
  options.hooks.analyseBurst = [&](DataSet& d, int b) {
    analysed.push_back(b);
    EXPECT_EQ(d.bursts.size(), 1u);
  };
  const DecodeResult r = Decode(data, image, WaveParams(4), options);
  EXPECT_EQ(std::make_tuple(r.burstWords, r.burstNumber, r.stampWords), std::make_tuple(6, 0, 8));
  ASSERT_EQ(data.bursts.size(), 1u);
  EXPECT_TIME(data.bursts[0].time, 2024, 3, 10, 12, 0, 5);
  // The burst length bounds what is stored.
  ASSERT_EQ(data.bursts[0].samples.size(), 4u);
  EXPECT_FLOAT_EQ(data.bursts[0].samples[3], Poly(kChannel1, 0x130000));
  EXPECT_EQ(analysed, std::vector<int>{0});
  // Rows: (20 words - 8 stamp words) / 2 channels - 6 burst words / 2.
  ASSERT_EQ(data.samplesPerChannel, 3);
  EXPECT_FLOAT_EQ(data.series[0][1], Therm(0x500000));
  EXPECT_FLOAT_EQ(data.series[1][2], Poly(kChannel1, 0x220000));
  EXPECT_EQ(data.stamps.records[0].burstNumber, 0u);
}

// More bursts than the table holds, each far shorter than a huge burst length.
TEST(DecodeImage, BurstTableAndBurstLengthStayBounded) {
  ImageBuilder b;
  b.Header(30);
  for (int i = 0; i < 6000; ++i) b.Stamp("BST", 2024, 1, 1, 0, i / 60 % 60, i % 60).Word(0x100000);
  DataSet data = TideAndWaveLogger();
  EXPECT_EQ(Decode(data, b, WaveParams(std::numeric_limits<int>::max())).burstNumber, 5999);
  EXPECT_EQ(data.bursts.size(), kMaxBursts);
  EXPECT_EQ(data.bursts[0].samples.size(), 1u);
}

}  // namespace
}  // namespace klx
