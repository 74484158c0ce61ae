// Framing of the records a logger sends while its real-time output runs.
#include "realtime/records.h"

#include <gtest/gtest.h>

#include <random>

namespace klx {
namespace {

const SystemTime kNoon{2026, 12, 0, 6, 12, 0, 0, 0};

SystemTime At(int second) {
  SystemTime t = kNoon;
  t.second = static_cast<uint16_t>(second);
  return t;
}

// The check byte is the sum of the bytes from the tag on.
uint8_t CheckByte(const std::vector<uint8_t>& record) {
  uint8_t sum = 0;
  for (size_t i = 3; i + 1 < record.size(); ++i) sum = static_cast<uint8_t>(sum + record[i]);
  return sum;
}

void Feed(RecordReader& r, const std::vector<uint8_t>& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t n = r.Append(bytes.data() + at, bytes.size() - at);
    ASSERT_GT(n, 0u) << "the buffer is full and nothing was taken out";
    at += n;
  }
}

TEST(BinaryRecords, ConsecutiveRecordsAreFramedWithTheirTimesAndCounts) {
  RecordReader r(2, false);
  EXPECT_EQ(r.RecordLength(), 19u);
  auto a = BinaryRecord(RecordTag::Sample, At(1), {0x123456, 0xABCDEF});
  auto b = BinaryRecord(RecordTag::Sample, At(2), {1, 0xFFFFFF});
  ASSERT_EQ(a.size(), 19u);
  EXPECT_EQ(a.back(), CheckByte(a));

  a.insert(a.end(), b.begin(), b.end());
  Feed(r, a);
  auto first = r.Next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->tag, RecordTag::Sample);
  EXPECT_EQ(first->time, At(1));
  EXPECT_EQ(first->raw, (std::vector<int32_t>{0x123456, 0xABCDEF}));
  auto second = r.Next();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->time, At(2));
  EXPECT_EQ(second->raw, (std::vector<int32_t>{1, 0xFFFFFF}));
  EXPECT_FALSE(r.Next());
  EXPECT_EQ(r.Fill(), 0u);
  EXPECT_EQ(r.rejected, 0);
}

TEST(BinaryRecords, ACheckByteOffByOneIsDroppedAndTheNextRecordIsStillFound) {
  RecordReader r(3, false);
  auto bad = BinaryRecord(RecordTag::Sample, At(1), {10, 20, 30});
  bad.back() = static_cast<uint8_t>(bad.back() + 1);
  const auto good = BinaryRecord(RecordTag::Sample, At(2), {40, 50, 60});
  bad.insert(bad.end(), good.begin(), good.end());
  Feed(r, bad);
  auto rec = r.Next();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->time, At(2));
  EXPECT_EQ(rec->raw, (std::vector<int32_t>{40, 50, 60}));
  EXPECT_GE(r.rejected, 1);
}

TEST(BinaryRecords, NoiseWrongTagsAndBadTimesAreSkipped) {
  RecordReader r(1, false);
  std::vector<uint8_t> bytes = {'x', 'y', 0x7F, 0, 0, 0, 'F', 'O', 'O', 1, 2, 3, 4};
  auto badTime = BinaryRecord(RecordTag::Sample, At(5), {7});
  badTime[3 + 3 + 1] = 0x13;  // month 13
  badTime.back() = CheckByte(badTime);
  bytes.insert(bytes.end(), badTime.begin(), badTime.end());
  const auto good = BinaryRecord(RecordTag::Sample, At(6), {8});
  bytes.insert(bytes.end(), good.begin(), good.end());
  Feed(r, bytes);
  auto rec = r.Next();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->time, At(6));
  EXPECT_EQ(rec->raw, std::vector<int32_t>{8});
  EXPECT_GE(r.rejected, 2);
}

TEST(BinaryRecords, ARecordSplitAcrossReadsWaitsForItsRest) {
  RecordReader r(4, false);
  const auto rec = BinaryRecord(RecordTag::Sample, At(9), {1, 2, 3, 4});
  // Some noise, then the record in three pieces.
  Feed(r, {0x55, 0x66});
  Feed(r, std::vector<uint8_t>(rec.begin(), rec.begin() + 5));
  EXPECT_FALSE(r.Next());
  Feed(r, std::vector<uint8_t>(rec.begin() + 5, rec.begin() + 20));
  EXPECT_FALSE(r.Next());
  EXPECT_LE(r.ReadSize(), r.RecordLength());
  Feed(r, std::vector<uint8_t>(rec.begin() + 20, rec.end()));
  auto got = r.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->raw, (std::vector<int32_t>{1, 2, 3, 4}));
}

TEST(BinaryRecords, BurstAndSequenceRecordsCarryTwoValues) {
  RecordReader r(3, false);  // a three-channel logger: the record is still 22 bytes long
  auto burst = BinaryRecord(RecordTag::Burst, At(0), {0x010203, 0x040506, 0});
  auto seq = BinaryRecord(RecordTag::Sequence, At(0), {0x00122A, 0x0B0C0D, 0});
  burst.insert(burst.end(), seq.begin(), seq.end());
  Feed(r, burst);
  auto b = r.Next();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->tag, RecordTag::Burst);
  EXPECT_EQ(b->raw, (std::vector<int32_t>{0x010203, 0x040506}));
  auto s = r.Next();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->tag, RecordTag::Sequence);
  EXPECT_EQ(s->sequence, 0x0012);
}

TEST(BinaryRecords, NoiseBetweenRecordsNeverCostsARecordAndZerosNeverStopTheReader) {
  std::mt19937 random(7);
  // Noise without zero bytes cannot look like the start of a record: every record is found.
  // With zeros in the noise a record may be lost to a false start, but the reader goes on and
  // its buffer never overflows.
  for (bool zeros : {false, true}) {
    RecordReader r(2, false);
    int found = 0, sent = 0;
    for (int round = 0; round < 2000; ++round) {
      std::vector<uint8_t> bytes;
      if (round % 3 == 0) {
        bytes = BinaryRecord(RecordTag::Sample, At(round % 60), {round, round * 3});
        ++sent;
      } else {
        const size_t n = random() % 40;
        for (size_t i = 0; i < n; ++i)
          bytes.push_back(static_cast<uint8_t>(zeros ? (random() % 4 == 0 ? 0 : random())
                                                     : 1 + random() % 255));
      }
      Feed(r, bytes);
      while (auto rec = r.Next()) {
        ASSERT_EQ(rec->raw.size(), 2u);
        ++found;
      }
      ASSERT_LE(r.Fill(), RecordReader::kBufferSize);
    }
    if (zeros)
      EXPECT_GT(found, 500);
    else
      EXPECT_EQ(found, sent);
  }
}

TEST(TextRecords, ValuesTimeAndTheRestOfTheBufferAreKept) {
  RecordReader r(2, true);
  const std::string one = TextRecord(At(7), {12.3456, -0.5});
  EXPECT_EQ(one, "TIM 2612 612 0 7 12.3456 -0.5000 FET\r\n");
  const std::string two = TextRecord(At(8), {1, 2});
  r.Append(one + two.substr(0, 10));
  auto rec = r.Next();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->time, At(7));
  ASSERT_EQ(rec->values.size(), 2u);
  EXPECT_DOUBLE_EQ(rec->values[0], 12.3456);
  EXPECT_DOUBLE_EQ(rec->values[1], -0.5);
  EXPECT_FALSE(r.Next());
  r.Append(two.substr(10));
  rec = r.Next();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->time, At(8));
}

TEST(TextRecords, BurstRecordsCarryTheirTimeAndASequenceRecordItsNumber) {
  RecordReader r(2, true);
  r.Append("BST 2612 612 0 7 1.2500 1.5000 FET\r\nSEQ 2612 612 0 7 00A4 2.0000 3.0000 FET\r\n");
  auto burst = r.Next();
  ASSERT_TRUE(burst);
  EXPECT_EQ(burst->tag, RecordTag::Burst);
  EXPECT_EQ(burst->time, At(7));
  EXPECT_EQ(burst->values, (std::vector<double>{1.25, 1.5}));
  auto seq = r.Next();
  ASSERT_TRUE(seq);
  EXPECT_EQ(seq->tag, RecordTag::Sequence);
  EXPECT_EQ(seq->sequence, 0xA4);
  EXPECT_EQ(seq->values, (std::vector<double>{2.0, 3.0}));
  EXPECT_EQ(seq->text, "SEQ 2612 612 0 7 00A4 2.0000 3.0000 FET\r\n");
}

TEST(TextRecords, AMissingFieldAbandonsTheRecordAndAnEndlessLineIsDropped) {
  RecordReader r(3, true);
  r.Append("TIM 2612 612 0 7 1.0 2.0 FET\r\n");  // two values for three channels
  EXPECT_FALSE(r.Next());
  EXPECT_EQ(r.rejected, 1);
  // 250 bytes without an end cannot become a record; the reader starts again.
  r.Append(std::string(300, 'z'));
  EXPECT_FALSE(r.Next());
  EXPECT_LT(r.Fill(), RecordReader::kBufferSize);
  r.Append(TextRecord(At(1), {1, 2, 3}));
  auto rec = r.Next();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->values.size(), 3u);
}

}  // namespace
}  // namespace klx
