// Framing of the records a logger sends while its real-time output runs.
#include "realtime/records.h"

#include <gtest/gtest.h>

#include <numeric>
#include <tuple>

namespace klx {
namespace {

SystemTime At(int second) { return {2026, 12, 0, 6, 12, 0, static_cast<uint16_t>(second), 0}; }

using Bytes = std::vector<uint8_t>;

// The check byte is the sum of the bytes from the tag on.
uint8_t CheckByte(const Bytes& r) {
  return std::accumulate(r.begin() + 3, r.end() - 1, uint8_t{0});
}

Bytes Cat(Bytes a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); return a; }

void Feed(RecordReader& r, const Bytes& bytes) {
  for (size_t at = 0, n = 0; at < bytes.size(); at += n) {
    n = r.Append(bytes.data() + at, bytes.size() - at);
    ASSERT_GT(n, 0u) << "the buffer is full and nothing was taken out";
  }
}

TEST(BinaryRecords, SampleBurstAndSequenceRecordsAreFramedWithTheirTimesAndValues) {
  RecordReader r(2, false);
  const auto a = BinaryRecord(RecordTag::Sample, At(1), {0x123456, 0xABCDEF});
  ASSERT_EQ(std::make_pair(a.size(), r.RecordLength()), std::make_pair(size_t{19}, size_t{19}));
  EXPECT_EQ(a.back(), CheckByte(a));
  Feed(r, Cat(a, BinaryRecord(RecordTag::Sample, At(2), {1, 0xFFFFFF})));
  auto first = r.Next(), second = r.Next();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->tag, RecordTag::Sample);
  EXPECT_EQ(first->time, At(1));
  EXPECT_EQ(first->raw, (std::vector<int32_t>{0x123456, 0xABCDEF}));
  EXPECT_EQ(second->raw, (std::vector<int32_t>{1, 0xFFFFFF}));
  EXPECT_FALSE(r.Next() || r.Fill() || r.rejected);

  // Bursts on a three-channel logger: still 22 bytes, two values. "SEQ" carries its sequence
  // number where the time would be, both values whole after it.
  RecordReader three(3, false);
  const Bytes seq = SequenceRecord(0x0112, {0x0A122A, 0x0B0C0D, 0});
  EXPECT_EQ(Bytes(seq.begin() + 6, seq.begin() + 12), (Bytes{0x01, 0x12, 0, 0, 0, 0}));
  Feed(three, Cat(BinaryRecord(RecordTag::Burst, At(0), {0x010203, 0x040506, 0}), seq));
  auto b = three.Next(), s = three.Next();
  ASSERT_TRUE(b && s);
  EXPECT_EQ(b->tag, RecordTag::Burst);
  EXPECT_EQ(b->raw, (std::vector<int32_t>{0x010203, 0x040506}));
  EXPECT_EQ(std::make_tuple(s->tag, s->sequence, s->raw),
            std::make_tuple(RecordTag::Sequence, 0x0112, std::vector<int32_t>{0x0A122A, 0x0B0C0D}));
}

TEST(BinaryRecords, DamageIsDroppedAndTheNextRecordFoundEvenWhenItComesInPieces) {
  auto badCheck = BinaryRecord(RecordTag::Sample, At(1), {10, 20, 30});
  ++badCheck.back();
  auto badTime = BinaryRecord(RecordTag::Sample, At(5), {7, 7, 7});
  badTime[7] = 0x13;  // month 13
  badTime.back() = CheckByte(badTime);
  const Bytes noise = {'x', 'y', 0x7F, 0, 0, 0, 'F', 'O', 'O', 1, 2, 3, 4};
  const auto good = BinaryRecord(RecordTag::Sample, At(9), {40, 50, 60});
  for (const Bytes& damage : {badCheck, badTime, noise, Bytes{0x55, 0x66}}) {
    RecordReader r(3, false);
    Feed(r, damage);
    Feed(r, Bytes(good.begin(), good.begin() + 5));
    EXPECT_FALSE(r.Next());
    Feed(r, Bytes(good.begin() + 5, good.begin() + 17));
    EXPECT_FALSE(r.Next());
    EXPECT_LE(r.ReadSize(), r.RecordLength());
    Feed(r, Bytes(good.begin() + 17, good.end()));
    auto rec = r.Next();
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->time, At(9));
    EXPECT_EQ(rec->raw, (std::vector<int32_t>{40, 50, 60}));
    EXPECT_EQ(r.rejected > 0, damage.size() > 2);
  }
}

TEST(TextRecords, SampleBurstAndSequenceRecordsKeepTheirValuesTimesAndTheRestOfTheBuffer) {
  RecordReader r(2, true);
  const std::string one = TextRecord(At(7), {12.3456, -0.5}), two = TextRecord(At(8), {1, 2});
  EXPECT_EQ(one, "TIM 2612 612 0 7 12.3456 -0.5000 FET\r\n");
  r.Append(one + two.substr(0, 10));
  auto rec = r.Next();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->time, At(7));
  EXPECT_EQ(rec->values, (std::vector<double>{12.3456, -0.5}));
  EXPECT_FALSE(r.Next());
  r.Append(two.substr(10) + "BST 2612 612 0 7 1.2500 1.5000 FET\r\n" +
           "SEQ 2612 612 0 7 00A4 2.0000 3.0000 FET\r\n");
  rec = r.Next();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->time, At(8));
  auto burst = r.Next(), seq = r.Next();
  ASSERT_TRUE(burst && seq);
  EXPECT_EQ(std::make_tuple(burst->tag, burst->time, burst->values),
            std::make_tuple(RecordTag::Burst, At(7), std::vector<double>{1.25, 1.5}));
  EXPECT_EQ(std::make_tuple(seq->tag, seq->sequence, seq->values),
            std::make_tuple(RecordTag::Sequence, 0xA4, std::vector<double>{2.0, 3.0}));
  EXPECT_EQ(seq->text, "SEQ 2612 612 0 7 00A4 2.0000 3.0000 FET\r\n");
}

TEST(TextRecords, AMissingFieldAbandonsTheRecordAndAnEndlessLineIsDropped) {
  RecordReader r(3, true);
  r.Append("TIM 2612 612 0 7 1.0 2.0 FET\r\n");  // two values for three channels
  EXPECT_FALSE(r.Next());
  EXPECT_EQ(r.rejected, 1);
  r.Append(std::string(300, 'z'));  // an endless line is dropped
  EXPECT_FALSE(r.Next());
  r.Append(TextRecord(At(1), {1, 2, 3}));
  auto rec = r.Next();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->values.size(), 3u);
}

}  // namespace
}  // namespace klx
