// What the wave window shows and the checks of a tide-and-wave deployment plan.
#include <gtest/gtest.h>

#include <cmath>

#include "waves/setup_checks.h"
#include "waves/wave_view.h"

namespace klx {
namespace {

StampRecord Stamp(uint32_t sample, uint32_t type) {
  StampRecord r;
  r.sampleIndex = sample, r.type = type;
  return r;
}

TEST(WaveView, BurstUnderASampleFollowsTheBurstStampsOnly) {
  DataSet data;
  EXPECT_EQ(WaveBurstAtSample(data, 0), -1);  // no bursts
  // Burst stamps at 0, 20 and 30, with a time stamp between that is not a burst.
  data.stamps.records = {Stamp(0, kStampBurst), Stamp(10, kStampTime), Stamp(20, kStampBurst),
                         Stamp(30, kStampBurst)};
  data.bursts.resize(3);
  const struct {
    int64_t sample;
    int burst;
  } cases[] = {{19, 0}, {20, 1}, {30, 2}, {100000, 2}};
  for (const auto& c : cases) EXPECT_EQ(WaveBurstAtSample(data, c.sample), c.burst) << c.sample;
  // A stamp whose burst was never stored (a table longer than the bursts) shows the last burst.
  data.bursts.resize(2);
  EXPECT_EQ(WaveBurstAtSample(data, 35), 1);
}

TEST(WaveView, StatisticsTextGivesTheDepthOfWater) {  // sensor depth + logger height
  BurstSeries b;
  b.stats.analysed = true, b.stats.meanDepth = 9.0f, b.stats.flag = kWaveWarning;
  const std::string text = WaveStatisticsText(b, 1.25);
  EXPECT_EQ(text.rfind("\t\t\t - WARNING: significant wave height>mean depth\nMean depth of "
                       "water:\t\t10.25 m\n",
                       0),
            0u)
      << text;
}

TEST(WaveView, CurveFillsTheBoxAndAFlatBurstIsAFlatLine) {
  BurstSeries b;
  b.stats.analysed = true;
  // Both signs: centred, the largest excursion one pixel inside the box.
  b.surface = {1.0f, -0.5f, 0.0f};
  b.stats.surfaceMax = 1.0f, b.stats.surfaceMin = -0.5f;
  EXPECT_EQ(WaveCurve(b, 102), (std::vector<float>{1.0f, 76.0f, 51.0f}));
  // One sign: the lowest at the bottom row, the highest at the top.
  b.surface = {0.2f, 0.4f, 0.6f};
  b.stats.surfaceMax = 0.6f, b.stats.surfaceMin = 0.2f;
  const std::vector<float> y = WaveCurve(b, 101);
  ASSERT_EQ(y.size(), 3u);
  EXPECT_FLOAT_EQ(y[0], 100.0f);
  EXPECT_FLOAT_EQ(y[2], 0.0f);
  // Flat (a burst flagged as an error has an all-zero surface): a line across the middle.
  b.surface.assign(512, 0.3f);
  b.stats.surfaceMax = b.stats.surfaceMin = 0.3f;
  for (float v : WaveCurve(b, 101)) ASSERT_EQ(v, 50.0f);
  // In progress: the samples so far between their extremes, the missing ones a gap.
  BurstSeries open;
  open.samples = {10.0f, kMissingValue, 12.0f, 11.0f};
  const std::vector<float> partial = WaveCurve(open, 101);
  ASSERT_EQ(partial.size(), 4u);
  EXPECT_TRUE(std::isnan(partial[1]));
  EXPECT_FLOAT_EQ(partial[2], 0.0f);
  EXPECT_FLOAT_EQ(partial[3], 50.0f);
}

DeploymentParameters WavePlan() {
  DeploymentParameters p;
  p.samplePeriod = {0, 10, 0}, p.burstInterval = {1, 0, 0}, p.waveEnabled = true;
  p.waveRateHz = 4, p.burstLength = 2048, p.expectedWaterDepth = 10.0, p.loggerHeight = 1.0;
  return p;
}

TEST(TideAndWavePlan, ChecksInOrderAndTheBandwidthLine) {
  using L = TideAndWaveCheck;
  const struct {
    const char* name;
    void (*change)(DeploymentParameters&);
    double memory, battery;
    L::Level level;
    const char* message;
  } cases[] = {
      // clang-format off
      {"no rate", [](DeploymentParameters& p) { p.waveRateHz = 0; }, 50, 900, L::Error,
       "The wave sampling rate has not been set."},
      // The depth comes before the height: both wrong reports the depth.
      {"both", [](DeploymentParameters& p) { p.expectedWaterDepth = 0, p.loggerHeight = -1; }, 50,
       900, L::Error, "The value for the mean depth of water is zero or negative."},
      {"negative height", [](DeploymentParameters& p) { p.loggerHeight = -0.5; }, 50, 900, L::Error,
       "The value for the height of logger is negative."},
      {"above the surface", [](DeploymentParameters& p) { p.loggerHeight = 10.0; }, 50, 900,
       L::Error, "Values for the mean depth of water and the height of logger place the logger at "
       "or above the water surface."},
      {"burst too long", [](DeploymentParameters& p) { p.burstInterval = {0, 8, 31}; }, 50, 900,
       L::Error, "Time to take wave burst is longer than wave period."},
      {"burst just fits", [](DeploymentParameters& p) { p.burstInterval = {0, 8, 32}; }, 50, 900,
       L::Error, "Error: Burst Period less than Sampling Period."},
      {"averaging", [](DeploymentParameters& p) { p.averagingEnabled = true, p.averagingSeconds = 601; },
       50, 900, L::Error, "Error: Averaging Period greater than Sampling Period."},
      {"memory", [](DeploymentParameters&) {}, 100.1, 900, L::Error, "You must adjust the deployment "
       "parameters to reduce the memory usage to less than or equal to 100%."},
      {"no waves", [](DeploymentParameters& p) { p.waveEnabled = false; }, 50, 900, L::Note,
       "The wave sampling has not been selected."},
      // clang-format on
  };
  for (const auto& c : cases) {
    DeploymentParameters p = WavePlan();
    c.change(p);
    const TideAndWaveCheck check = CheckTideAndWavePlan(p, c.memory, c.battery);
    EXPECT_EQ(check.level, c.level) << c.name;
    EXPECT_EQ(check.message, c.message) << c.name;
    // The bandwidth line only for a wave plan that passed the wave checks.
    const bool bandwidth = p.waveEnabled && c.level != L::Error;
    EXPECT_EQ(check.bandwidth.empty(), !bandwidth) << c.name;
  }
  // 4 Hz over 2048 samples up to the cut-off of 10 m of water with the sensor 9 m down
  // (worked out separately with Python's math module).
  const TideAndWaveCheck good = CheckTideAndWavePlan(WavePlan(), 100, 1300);
  EXPECT_EQ(good.level, L::Ok);
  EXPECT_EQ(good.message, "");
  EXPECT_EQ(good.bandwidth,
            "Wave analysis bandwidth: 0.0020 to 0.2244 (Hz) - Wave periods 4.46 to 512.00 (secs)");
}

}  // namespace
}  // namespace klx
