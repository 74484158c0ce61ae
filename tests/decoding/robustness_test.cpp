// Decoding stays inside the image and its bounds: fills larger than the bytes held, stamps cut
// at the end or with garbage times, more bursts than the table holds. (Random images are the
// fuzz targets' work.)
#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "decoding/decoder.h"
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

DeploymentParameters WaveParameters(int burstLength) {
  DeploymentParameters p;
  std::tie(p.waveEnabled, p.burstLength) = std::make_tuple(true, burstLength);
  return p;
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
