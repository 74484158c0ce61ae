// Real-time burst assembly from "BST" and "SEQ" records, and the gaps on the line.
#include <gtest/gtest.h>

#include <cmath>

#include "waves/burst_assembly.h"

namespace klx {
namespace {

SystemTime At(int hour, int minute, int second) {
  return MakeSystemTime(2026, 3, 2, hour, minute, second);
}

WaveSetup TwoHertzSetup() {
  WaveSetup setup;  // 128 samples: 64 s at 2 Hz
  setup.burstLength = 128, setup.rateHz = 2, setup.loggerHeight = 1.0, setup.depthChannel = true;
  return setup;
}

TEST(BurstAssembly, RecordsMakeABurstMissingSamplesTakeTheMean) {
  BurstAssembler assembler(TwoHertzSetup());
  DataSet data;
  int completed = 0;
  assembler.Open(data, At(10, 0, 0), 5, completed);  // "BST": the first two values
  EXPECT_EQ(completed, -1);
  ASSERT_EQ(data.bursts.size(), 1u);
  EXPECT_EQ(data.stamps.records.back().type, kStampBurst);
  EXPECT_EQ(data.stamps.records.back().sampleIndex, 5u);
  EXPECT_EQ(data.bursts[0].stats.surfaceMax, -500.0f);
  auto value = [](int i) { return 10.0f + 0.2f * std::sin(static_cast<float>(i) * 0.3f); };
  float two[2] = {value(0), value(1)};
  int32_t counts[2] = {1000, 1000};
  EXPECT_EQ(assembler.Add(data, 0, two, counts, 2, At(10, 0, 0), 5), -1);
  // "SEQ" records with sequence numbers 2, 4, ...; the pair at 40 is lost.
  double sum = value(0) + value(1);
  for (int seq = 2; seq < 128; seq += 2) {
    if (seq == 40) continue;
    float pair[2] = {value(seq), value(seq + 1)};
    sum += pair[0] + pair[1];
    int32_t pairCounts[2] = {2000, 2000};
    EXPECT_EQ(assembler.Add(data, seq, pair, pairCounts, 2, At(10, 0, 0), 5), -1);
  }
  EXPECT_EQ(assembler.PresentCount(), 126);
  // The next stamp completes it: the lost pair becomes the mean of the others.
  assembler.Open(data, At(10, 30, 0), 9, completed);
  EXPECT_EQ(completed, 0);
  const BurstSeries& burst = data.bursts[0];
  EXPECT_FLOAT_EQ(burst.samples[40], static_cast<float>(sum / 126));
  EXPECT_FLOAT_EQ(burst.samples[41], static_cast<float>(sum / 126));
  // The counts for the real-time file: as received, the lost ones the mean of the others.
  ASSERT_EQ(assembler.Raw().size(), 128u);
  EXPECT_EQ(assembler.Raw()[2], 2000);
  EXPECT_EQ(assembler.Raw()[40], std::lround((2 * 1000.0 + 124 * 2000.0) / 126));
  EXPECT_TRUE(burst.stats.analysed);
  // All N samples complete a burst without waiting for the next stamp.
  for (int seq = 0; seq < 128; seq += 2) {
    float pair[2] = {value(seq), value(seq + 1)};
    EXPECT_EQ(assembler.Add(data, seq, pair, nullptr, 2, At(10, 30, 0), 9), seq == 126 ? 1 : -1);
  }
  EXPECT_TRUE(data.bursts[1].stats.analysed);
  EXPECT_EQ(assembler.OpenBurst(), -1);
  EXPECT_EQ(assembler.Close(data), -1);
}

TEST(BurstGaps, ATideSampleAfterTheBurstsDurationClosesIt) {
  BurstAssembler assembler(TwoHertzSetup());
  DataSet data;
  int completed = 0;
  assembler.Open(data, At(10, 0, 0), 0, completed);
  for (int seq = 0; seq < 100; seq += 2) {  // the last 28 samples never arrive
    float pair[2] = {10.0f + 0.1f * static_cast<float>(seq % 7), 10.0f};
    int32_t counts[2] = {5000, 6000};
    assembler.Add(data, seq, pair, counts, 2, At(10, 0, 0), 0);
  }
  // 64 s of burst and two seconds of grace.
  EXPECT_EQ(assembler.Expire(data, At(10, 1, 6)), -1);
  EXPECT_EQ(assembler.OpenBurst(), 0);
  EXPECT_EQ(assembler.Expire(data, At(10, 1, 7)), 0);
  EXPECT_EQ(assembler.OpenBurst(), -1);
  EXPECT_TRUE(data.bursts[0].stats.analysed);
  EXPECT_EQ(assembler.CompletedPresent(), 100);
  EXPECT_EQ(assembler.Raw()[127], 5500) << "a lost count takes the mean of those received";
}

TEST(BurstGaps, ASingleSampleFillsTheBurstAndSequenceRecordsAloneNeverExpire) {
  BurstAssembler assembler(TwoHertzSetup());
  DataSet data;
  // "SEQ" records whose "BST" was lost open a burst on the PC's clock: the logger's times
  // cannot close it.
  float pair[2] = {9.0f, 9.5f};
  int32_t counts[2] = {700, 900};
  assembler.Add(data, 10, pair, counts, 2, At(10, 0, 0), 3);
  EXPECT_EQ(assembler.Expire(data, At(23, 0, 0)), -1);
  EXPECT_EQ(assembler.OpenBurst(), 0);
  int completed = -1;
  assembler.Open(data, At(11, 0, 0), 4, completed);  // the next stamp does
  EXPECT_EQ(completed, 0);
  // One sample: kept everywhere (the real-time file must not get zeros), not analysed.
  float one = 12.5f;
  int32_t count = 4321;
  assembler.Add(data, 5, &one, &count, 1, At(11, 0, 0), 4);
  EXPECT_EQ(assembler.Close(data), 1);
  EXPECT_EQ(assembler.CompletedPresent(), 1);
  EXPECT_FALSE(data.bursts[1].stats.analysed);
  for (size_t i : {size_t{0}, size_t{5}, size_t{127}}) {
    EXPECT_EQ(assembler.Raw()[i], 4321) << i;
    EXPECT_EQ(data.bursts[1].samples[i], 12.5f) << i;
  }
}

}  // namespace
}  // namespace klx
