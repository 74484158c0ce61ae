// Real-time bursts with gaps on the line: lost "SEQ" records at the end of a burst, a burst
// with a single sample, "SEQ" records without their burst stamp.
#include <gtest/gtest.h>

#include "waves/burst_assembly.h"

namespace klx {
namespace {

SystemTime At(int hour, int minute, int second) {
  SystemTime t;
  t.year = 2026;
  t.month = 3;
  t.day = 2;
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  t.second = static_cast<uint16_t>(second);
  return t;
}

WaveSetup TwoHertzSetup() {
  WaveSetup setup;
  setup.burstLength = 128;  // 64 s at 2 Hz
  setup.rateHz = 2;
  setup.loggerHeight = 1.0;
  setup.depthChannel = true;
  return setup;
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
  EXPECT_EQ(assembler.Expire(data, At(12, 0, 0)), -1) << "nothing open";
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
