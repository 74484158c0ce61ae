// Decoding never reads outside the image, whatever bytes it holds: random bytes, truncated
// images, stamps cut at the end, fills that are not a multiple of 3, sampleWords larger than the
// bytes, absurd header lengths, channel counts and coefficients. Run under AddressSanitizer: the
// images are held in vectors of exactly their size, so any read beyond them is reported.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <tuple>

#include "decoding/decoder.h"
#include "decoding/instant_reading.h"
#include "image_builder.h"
#include "platform/host.h"

namespace klx {
namespace {

using test::ImageBuilder;

void CheckShape(const DataSet& data) {
  ASSERT_GE(data.channelCount, 1);
  ASSERT_LE(data.channelCount, 24);
  ASSERT_GE(data.samplesPerChannel, 0);
  ASSERT_EQ(data.series.size(), static_cast<size_t>(data.channelCount));
  for (const auto& s : data.series)
    ASSERT_EQ(s.size(), static_cast<size_t>(data.samplesPerChannel) + 2);
  ASSERT_LE(data.stamps.records.size(), TimestampTable::kCapacity);
  ASSERT_LE(data.bursts.size(), kMaxBursts);
  for (size_t i = 1; i < data.stamps.records.size(); ++i)
    ASSERT_LE(data.stamps.records[i - 1].sampleIndex, data.stamps.records[i].sampleIndex);
}

// Random bytes with many zero words and stamp codes, so that the stamp paths are exercised.
std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t length) {
  static const char* const kCodes[] = {"TIM", "BST", "GAN", "RTC", "STP", "TI", "B"};
  std::vector<uint8_t> b;
  std::uniform_int_distribution<int> kind(0, 9), byte(0, 255), code(0, 6);
  while (b.size() < length) {
    const int k = kind(rng);
    const char* c = k == 2 ? kCodes[code(rng)] : "";
    if (k <= 2) b.insert(b.end(), {0, 0, 0});
    b.insert(b.end(), c, c + std::strlen(c));
    if (k == 3) b.insert(b.end(), {0x24, 0x03, 0x10, 0x12, 0x59, 0x59});
    if (k > 3) b.push_back(static_cast<uint8_t>(byte(rng)));
  }
  b.resize(length);
  return b;
}

DataSet RandomLogger(std::mt19937& rng) {
  static const char* const kModels[] = {"NA-7100",  "NB-7100",  "NMV-7400", "VS-330",
                                        "NMJ-7400", "NMK-7400", "HL-240",   "UNKNOWN"};
  static const char kLetters[] = "TPCDyfgziYAUB\x81\x87";
  std::uniform_int_distribution<int> model(0, 7), letter(0, 14), count(-2, 30), block(-10, 300),
      coin(0, 1), capability(0, 255), level(0, 2);
  std::uniform_real_distribution<float> firmware(0.0f, 7.0f);
  DataSet data;
  data.logger.model = kModels[model(rng)];
  data.logger.firmware = firmware(rng);
  data.logger.extendedCommandSet = coin(rng) != 0;
  data.logger.parameterBlockLength = block(rng);
  data.logger.channelCount = count(rng);
  const int letters = std::uniform_int_distribution<int>(0, 26)(rng);
  for (int i = 0; i < letters; ++i) data.logger.channelTypes.push_back(kLetters[letter(rng)]);
  data.logger.waves = coin(rng) != 0;
  data.logger.engineeringUnitsLevel = static_cast<uint32_t>(level(rng));
  for (auto& e : data.extendedCapabilities) e = static_cast<uint8_t>(capability(rng));
  std::uniform_real_distribution<double> c(-1e3, 1e3);
  for (auto& row : data.calibration.coef) row = {c(rng), c(rng), c(rng), c(rng)};
  if (coin(rng)) data.calibration.coef[1] = {1e300, 1e300, -1e300, NAN};  // absurd
  data.rawMode = std::uniform_int_distribution<int>(0, 5)(rng) == 0;
  return data;
}

DeploymentParameters WaveParameters(int burstLength) {
  DeploymentParameters p;
  std::tie(p.waveEnabled, p.burstLength) = std::make_tuple(true, burstLength);
  return p;
}

DeploymentParameters RandomParameters(std::mt19937& rng) {
  std::uniform_int_distribution<int> coin(0, 1), length(-5, 200), hours(0, 65535);
  DeploymentParameters p = WaveParameters(length(rng));
  p.profiling6Hz = coin(rng) != 0;
  p.waveEnabled = coin(rng) != 0;
  p.samplePeriod = {static_cast<uint16_t>(coin(rng) ? hours(rng) : 0), 0,
                    static_cast<uint16_t>(coin(rng))};
  return p;
}

TEST(Robustness, RandomImagesNeverCrash) {
  std::mt19937 rng(20240310);
  std::uniform_int_distribution<int> length(0, 4000), slack(-40, 40), mode(0, 4);
  for (int iteration = 0; iteration < 1500; ++iteration) {
    SCOPED_TRACE(iteration);
    DataSet data = RandomLogger(rng);
    const DeploymentParameters p = RandomParameters(rng);
    MemoryImage image;
    image.bytes = RandomBytes(rng, static_cast<size_t>(length(rng)));
    // fill may disagree with the bytes held, and sampleWords with fill.
    image.fill = static_cast<int32_t>(image.bytes.size()) + slack(rng);
    const int32_t claims[] = {image.fill / 3, std::numeric_limits<int32_t>::max(), -7,
                              image.fill / 3 + 1000, image.fill / 3 + 1000};
    image.sampleWords = claims[mode(rng)];
    RecordingHost host;
    DecodeOptions options;
    options.hooks.analyseBurst = [](DataSet& d, int b) {
      ASSERT_LT(static_cast<size_t>(b), d.bursts.size());
    };
    DecodeImage(image, p, data, host, options);
    CheckShape(data);
    for (int64_t row : {int64_t{0}, int64_t{1}, int64_t{data.samplesPerChannel}, int64_t{1} << 40})
      (void)SampleTime(data, p.startTime, p.samplePeriod.TotalSeconds(), p.profiling6Hz, row);
    const std::string reply(image.bytes.begin(),
                            image.bytes.begin() + std::min<size_t>(image.bytes.size(), 90));
    (void)FormatInstantReading(reply, true, data, iteration % 2 == 0);
  }
}

MemoryImage RichImage() {
  ImageBuilder b;
  b.Header(30);
  for (int i = 0; i < 5; ++i) b.Words({0x400000u, 0x200000u | static_cast<uint32_t>(i % 4) << 1});
  b.Stamp("TIM", 2024, 3, 10, 13, 0, 0).Stamp("CLD", 2024, 3, 10, 13, 0, 1);
  b.Word(0x300000).Stamp("RTC", 2024, 3, 10, 13, 0, 2);  // mid-row
  b.Words({0x400000, 0x200006});
  b.Stamp("BST", 2024, 3, 10, 13, 1, 0).Words({0x100000, 0x110000, 0x120000});
  b.Stamp("TIM", 2024, 3, 10, 13, 2, 0).Words({0x500000, 0x200002, 0x600000, 0x200004});
  b.Stamp("STP", 2024, 3, 10, 13, 3, 0);
  return b.Build();
}

DataSet RichLogger() {
  DataSet data;
  std::tie(data.logger.model, data.logger.parameterBlockLength, data.logger.channelCount,
           data.logger.channelTypes, data.logger.waves) =
      std::make_tuple("NMJ-7400", 30, 2, "Ty", true);
  data.calibration.coef[0] = test::kThermistorDefault;
  data.calibration.coef[1] = {0.0, 1.0, 0.0, 0.0};
  return data;
}

TEST(Robustness, EveryTruncationOfAValidImage) {
  const MemoryImage full = RichImage();
  for (size_t n = 0; n <= full.bytes.size(); ++n) {
    SCOPED_TRACE(n);
    MemoryImage image;
    image.bytes.assign(full.bytes.begin(), full.bytes.begin() + static_cast<ptrdiff_t>(n));
    // Both as the retrieval leaves a cut image and with the full image's claims.
    for (int32_t claimed : {static_cast<int32_t>(n / 3), full.sampleWords}) {
      image.fill = full.fill;
      image.sampleWords = claimed;
      DataSet data = RichLogger();
      RecordingHost host;
      DecodeImage(image, WaveParameters(2), data, host);
      CheckShape(data);
      if (n < full.bytes.size()) continue;
      // The whole image still decodes as it should.
      ASSERT_EQ(data.bursts.size(), 1u);
      EXPECT_EQ(data.bursts[0].samples.size(), 2u);
      EXPECT_GT(data.stamps.records.size(), 6u);
    }
  }
}

TEST(Robustness, ManyBurstsWithAHugeBurstLengthStayBounded) {
  ImageBuilder b;
  b.Header(30);
  for (int i = 0; i < 6000; ++i) b.Stamp("BST", 2024, 1, 1, 0, i / 60 % 60, i % 60).Word(0x100000);
  DataSet data = RichLogger();
  RecordingHost host;
  const DecodeResult r =
      DecodeImage(b.Build(), WaveParameters(std::numeric_limits<int>::max()), data, host);
  CheckShape(data);
  EXPECT_EQ(r.burstNumber, 5999);
  EXPECT_EQ(data.bursts.size(), kMaxBursts);
  EXPECT_EQ(data.bursts[0].samples.size(), 1u);
}

TEST(Robustness, BytesShorterThanFillAndGarbageBcdTimes) {
  MemoryImage image;
  image.fill = 8000000;
  image.sampleWords = 8000000 / 3;
  DataSet data = RichLogger();
  RecordingHost host;
  DecodeResult r = DecodeImage(image, DeploymentParameters{}, data, host);
  EXPECT_EQ(data.samplesPerChannel, 0);
  EXPECT_EQ(r.sampleWords, 0);
  image.bytes = {0, 0, 0, 'T', 'I', 'M', 0x24};
  r = DecodeImage(image, DeploymentParameters{}, data, host);
  CheckShape(data);

  data = DataSet{};
  data.logger.model = "VS-330";
  data.logger.parameterBlockLength = 0;
  data.logger.channelTypes = "y";
  DeploymentParameters p;
  p.profiling6Hz = true;
  DecodeImage(ImageBuilder()
                  .Raw({0, 0, 0, 'T', 'I', 'M', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
                  .Words({0x000002, 0x000004})
                  .Raw({0, 0, 0, 'C', 'L', 'D', 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})
                  .Word(0x000006)
                  .Build(),
              p, data, host);
  CheckShape(data);
  ASSERT_GE(data.stamps.records.size(), 2u);
  EXPECT_EQ(data.stamps.records[0].time.year, 2165);
  EXPECT_EQ(data.stamps.records[0].time.month, 165);
  for (int64_t row = 0; row < 5; ++row) (void)SampleTime(data, p.startTime, 10, true, row);
}

}  // namespace
}  // namespace klx
