#include "shell/datetime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace klx {
namespace {

SystemTime T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  SystemTime t = MakeSystemTime(y, mo, d, h, mi, s);
  t.milliseconds = static_cast<uint16_t>(ms);
  return t;
}

// The reply in a heap block of exactly its size, so that AddressSanitizer sees any read outside.
class ExactReply {
 public:
  explicit ExactReply(const std::string& text) : size_(text.size()), data_(new char[size_]) {
    if (size_ > 0) std::memcpy(data_.get(), text.data(), size_);
  }
  std::string_view View() const { return {data_.get(), size_}; }

 private:
  size_t size_;
  std::unique_ptr<char[]> data_;
};

void ExpectDate(const SystemTime& t, int y, int mo, int d, int h, int mi, int s) {
  EXPECT_EQ(t.year, y);
  EXPECT_EQ(t.month, mo);
  EXPECT_EQ(t.day, d);
  EXPECT_EQ(t.hour, h);
  EXPECT_EQ(t.minute, mi);
  EXPECT_EQ(t.second, s);
}

void ExpectYear2000(const SystemTime& t) {
  ExpectDate(t, 2000, 1, 1, 0, 0, 0);
}

// ---- Texts ----

TEST(DateTimeText, LoggerDateTextOfYear2000StartsWith00) {
  EXPECT_EQ(LoggerDateText(T(2000, 1, 1)), "000101000000");
  EXPECT_EQ(LoggerDateText(T(2000, 7, 4, 9, 8, 7)), "000704090807");
}

TEST(DateTimeText, LoggerDateTextOfLastSecondOf2099) {
  const std::string text = LoggerDateText(T(2099, 12, 31, 23, 59, 59));
  EXPECT_EQ(text, "991231235959");
  EXPECT_EQ(text.size(), 12u);
}

TEST(DateTimeText, DisplayForms) {
  const SystemTime t = T(2026, 6, 1, 7, 5, 3);
  EXPECT_EQ(DateDisplayText(t), "2026/Jun/01 07:05:03");
  EXPECT_EQ(ShortDateDisplayText(t), "26/06/01 07:05:03");
  EXPECT_EQ(TimeDisplayText(t), "07:05:03");
  EXPECT_EQ(DurationText(t), "070503");
  EXPECT_EQ(ShortDateDisplayText(T(2005, 12, 31, 23, 59, 59)), "05/12/31 23:59:59");
  EXPECT_EQ(DateDisplayText(T(2010, 12, 15)), "2010/Dec/15 00:00:00");
  EXPECT_EQ(DateDisplayText(T(2010, 13, 15)), "2010/\?\?\?/15 00:00:00");  // no read past the table
}

TEST(DateTimeText, PeriodAndDateFields) {
  EXPECT_EQ(PeriodFieldText(T(2000, 1, 1, 0, 10, 0), false), "00:10:00");
  EXPECT_EQ(PeriodFieldText(T(2000, 1, 1, 24, 0, 0), false), "24:00:00");
  EXPECT_EQ(PeriodFieldText(T(2000, 1, 1, 0, 10, 0), true), "6Hz profiling");
  EXPECT_EQ(DateFieldText(T(2026, 1, 2, 3, 4, 5)), "2026/Jan/02 03:04:05");
  EXPECT_EQ(DateFieldText(T(2026, 1, 2, 3, 4, 5), true), "NOW");
}

// ---- Packed decimal ----

TEST(PackedDecimal, ValueToPacked) {
  EXPECT_EQ(ToPackedDecimal(0), 0x00);
  EXPECT_EQ(ToPackedDecimal(9), 0x09);
  EXPECT_EQ(ToPackedDecimal(10), 0x10);
  EXPECT_EQ(ToPackedDecimal(59), 0x59);
  EXPECT_EQ(ToPackedDecimal(99), 0x99);
  EXPECT_EQ(ToPackedDecimal(100), 0x00);  // mod 100 first
  EXPECT_EQ(ToPackedDecimal(123), 0x23);
  EXPECT_EQ(ToPackedDecimal(-1), 0x99);
}

TEST(PackedDecimal, PackedToValue) {
  for (int v = 0; v < 100; ++v) {
    EXPECT_EQ(FromPackedDecimal(ToPackedDecimal(v)), v);
    EXPECT_EQ(FromPackedDecimalUnchecked(ToPackedDecimal(v)), v);
  }
  EXPECT_EQ(FromPackedDecimal(0x4A), -1);
  EXPECT_EQ(FromPackedDecimal(0xA4), -1);
  EXPECT_EQ(FromPackedDecimal(0xFF), -1);
  EXPECT_EQ(FromPackedDecimalUnchecked(0xA4), 104);
  EXPECT_EQ(FromPackedDecimalUnchecked(0x4A), 50);
  EXPECT_EQ(FromPackedDecimalUnchecked(0xFF), 165);
}

TEST(PackedDecimal, PackedDate) {
  const auto bytes = PackedDate(T(2026, 6, 1, 23, 59, 58));
  const std::array<uint8_t, 6> expected = {0x26, 0x06, 0x01, 0x23, 0x59, 0x58};
  EXPECT_EQ(bytes, expected);
  const std::array<uint8_t, 6> y2000 = {0x00, 0x01, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(PackedDate(T(2000, 1, 1)), y2000);
}

// ---- ParseLoggerDate ----

TEST(ParseLoggerDate, ReadsTheTwelveDigitsBeforeTheTag) {
  for (const char* tag : {"CTD", "CST", "CET"}) {
    ExactReply reply(std::string("230615123456") + tag);
    const SystemTime t = ParseLoggerDate(reply.View());
    ExpectDate(t, 2023, 6, 15, 12, 34, 56);
    EXPECT_EQ(t.dayOfWeek, 4);  // a Thursday
  }
  ExactReply withPrefix("xyz991231235959CTD");
  ExpectDate(ParseLoggerDate(withPrefix.View()), 2099, 12, 31, 23, 59, 59);
}

TEST(ParseLoggerDate, LetterAmongTheDigitsGivesYear2000) {
  ExactReply reply("2306151A3456CTD");
  ExpectYear2000(ParseLoggerDate(reply.View()));
  ExactReply sign("23061512-456CTD");
  ExpectYear2000(ParseLoggerDate(sign.View()));
  ExactReply blank("230615 23456CTD");
  ExpectYear2000(ParseLoggerDate(blank.View()));
}

TEST(ParseLoggerDate, OutOfRangeFieldsGiveYear2000) {
  for (const char* text :
       {"231315123456CTD", "230015123456CTD", "230600123456CTD", "230632123456CTD",
        "230615243456CTD", "230615126056CTD", "230615123460CTD"}) {
    ExactReply reply(text);
    ExpectYear2000(ParseLoggerDate(reply.View()));
  }
  ExactReply edge("000101000000CTD");
  ExpectDate(ParseLoggerDate(edge.View()), 2000, 1, 1, 0, 0, 0);
  ExactReply last("231231235959CTD");
  ExpectDate(ParseLoggerDate(last.View()), 2023, 12, 31, 23, 59, 59);
}

TEST(ParseLoggerDate, NoTagGivesYear2000) {
  ExactReply reply("230615123456");
  ExpectYear2000(ParseLoggerDate(reply.View()));
  ExpectYear2000(ParseLoggerDate(""));
  ExpectYear2000(ParseLoggerDate(std::string_view()));
}

TEST(ParseLoggerDate, FirstCIsTheTag) {
  // The first "C" decides even when a later one has twelve digits before it.
  ExactReply reply("C230615123456CTD");
  ExpectYear2000(ParseLoggerDate(reply.View()));
}

TEST(ParseLoggerDate, FewerThanTwelveCharactersBeforeTheTagAreNotReadOutside) {
  for (size_t n = 0; n < 12; ++n) {
    ExactReply reply(std::string("230615123456").substr(12 - n) + "CTD");
    ExpectYear2000(ParseLoggerDate(reply.View()));
  }
  ExactReply justC("C");
  ExpectYear2000(ParseLoggerDate(justC.View()));
}

TEST(ParseLoggerDate, BinaryGarbageNeverCrashes) {
  std::string bytes;
  uint32_t seed = 12345;
  for (int i = 0; i < 2000; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(seed >> 16));
    ExactReply reply(bytes.substr(bytes.size() > 40 ? bytes.size() - 40 : 0));
    const SystemTime t = ParseLoggerDate(reply.View());
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
  }
}

// ---- ParseLoggerDuration ----

TEST(ParseLoggerDuration, ExactlyOneDayIsAccepted) {
  ExactReply reply("240000CSP");
  const SystemTime d = ParseLoggerDuration(reply.View());
  EXPECT_EQ(d.hour, 24);
  EXPECT_EQ(d.minute, 0);
  EXPECT_EQ(d.second, 0);
  EXPECT_EQ(PeriodSeconds(d), 86400);
}

TEST(ParseLoggerDuration, SixtyMinutesBecomesOneMinute) {
  ExactReply reply("006000CSP");
  const SystemTime d = ParseLoggerDuration(reply.View());
  EXPECT_EQ(d.hour, 0);
  EXPECT_EQ(d.minute, 1);
  EXPECT_EQ(d.second, 0);
}

TEST(ParseLoggerDuration, ValidValuesAndWav) {
  ExactReply a("xx013015CSP");
  const SystemTime d = ParseLoggerDuration(a.View());
  EXPECT_EQ(DurationText(d), "013015");
  EXPECT_EQ(d.year, 2000);
  ExactReply b("235959WAV");
  EXPECT_EQ(DurationText(ParseLoggerDuration(b.View())), "235959");
  // "CSP" is looked for first, wherever it stands.
  ExactReply c("000500WAV000010CSP");
  EXPECT_EQ(DurationText(ParseLoggerDuration(c.View())), "000010");
  ExactReply zero("000000CSP");
  EXPECT_EQ(DurationText(ParseLoggerDuration(zero.View())), "000000");
}

TEST(ParseLoggerDuration, InvalidValuesBecomeOneMinute) {
  for (const char* text : {"240001CSP", "240100CSP", "250000CSP", "000060CSP", "99x999CSP",
                           "-10000CSP", " 10000CSP"}) {
    ExactReply reply(text);
    EXPECT_EQ(DurationText(ParseLoggerDuration(reply.View())), "000100") << text;
  }
}

TEST(ParseLoggerDuration, NoTagGivesTheWholeYear2000Record) {
  ExactReply reply("123456XYZ");
  const SystemTime d = ParseLoggerDuration(reply.View());
  EXPECT_EQ(d, Year2000());
  EXPECT_EQ(ParseLoggerDuration(""), Year2000());
}

TEST(ParseLoggerDuration, FewerThanSixCharactersBeforeTheTagAreNotReadOutside) {
  for (size_t n = 0; n < 6; ++n) {
    ExactReply reply(std::string("013015").substr(6 - n) + "CSP");
    EXPECT_EQ(DurationText(ParseLoggerDuration(reply.View())), "000100");
  }
  ExactReply wav("15WAV");
  EXPECT_EQ(DurationText(ParseLoggerDuration(wav.View())), "000100");
}

// ---- Arithmetic ----

TEST(DateArithmetic, DayNumberOfFirstMarch2004) {
  EXPECT_EQ(DayNumber(T(2004, 3, 1)), 1521);
}

TEST(DateArithmetic, DayNumberMatchesTheCalendarFor2000To2099) {
  const int64_t base = DaysFromCivil(2000, 1, 1);
  for (int y = 2000; y <= 2099; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d : {1, 15, 28}) {
        ASSERT_EQ(DayNumber(T(y, m, d)), DaysFromCivil(y, m, d) - base) << y << "-" << m;
      }
    }
  }
  EXPECT_EQ(DayNumber(T(2000, 1, 1)), 0);
  EXPECT_EQ(DayNumber(T(2000, 12, 31)), 365);
  EXPECT_EQ(DayNumber(T(2001, 1, 1)), 366);
  EXPECT_EQ(DayNumber(T(2001, 3, 1)), 366 + 59);
}

TEST(DateArithmetic, SecondsOfDayAndSince2000) {
  EXPECT_EQ(SecondsOfDay(T(2010, 5, 5, 1, 2, 3)), 3723);
  EXPECT_EQ(SecondsSince2000(T(2000, 1, 1)), 0);
  EXPECT_EQ(SecondsSince2000(T(2000, 1, 2, 0, 0, 1)), 86401);
  EXPECT_EQ(SecondsSince2000(T(2004, 3, 1, 1, 0, 0)), 1521 * 86400 + 3600);
}

TEST(DateArithmetic, PeriodSeconds) {
  EXPECT_EQ(PeriodSeconds(T(2000, 1, 1, 0, 0, 0)), 86400);
  EXPECT_EQ(PeriodSeconds(T(2000, 1, 1, 0, 0, 1)), 1);
  EXPECT_EQ(PeriodSeconds(T(2000, 1, 1, 1, 30, 0)), 5400);
}

TEST(DateArithmetic, AddSecondsBackOverTheYearEnd) {
  const SystemTime t = AddSeconds(T(2001, 1, 1), -1);
  ExpectDate(t, 2000, 12, 31, 23, 59, 59);
  EXPECT_EQ(t.dayOfWeek, 0);  // a Sunday
}

TEST(DateArithmetic, AddSecondsAndMilliseconds) {
  ExpectDate(AddSeconds(T(2004, 2, 28, 23, 0, 0), 3600), 2004, 2, 29, 0, 0, 0);
  ExpectDate(AddSeconds(T(2003, 2, 28, 23, 0, 0), 3600), 2003, 3, 1, 0, 0, 0);
  const SystemTime t = AddMilliseconds(T(2020, 1, 1, 0, 0, 0, 500), 600);
  ExpectDate(t, 2020, 1, 1, 0, 0, 1);
  EXPECT_EQ(t.milliseconds, 100);
  const SystemTime back = AddMilliseconds(T(2020, 1, 1), -1);
  ExpectDate(back, 2019, 12, 31, 23, 59, 59);
  EXPECT_EQ(back.milliseconds, 999);
  // Absurd amounts do not overflow.
  (void)AddSeconds(T(2020, 1, 1), INT64_MAX);
  (void)AddSeconds(T(2020, 1, 1), INT64_MIN);
  (void)AddMilliseconds(T(2020, 1, 1), INT64_MIN);
}

TEST(DateArithmetic, SecondsBetweenTruncatesTowardZero) {
  const SystemTime a = T(2020, 1, 1, 0, 0, 0, 0);
  const SystemTime b = T(2020, 1, 1, 0, 0, 1, 500);
  EXPECT_EQ(SecondsBetween(b, a), 1);
  EXPECT_EQ(SecondsBetween(a, b), -1);
  EXPECT_EQ(SecondsBetween(a, a), 0);
  EXPECT_EQ(DifferenceSeconds(b, a), 1);
  EXPECT_EQ(DifferenceSeconds(a, b), -1);
  EXPECT_EQ(DifferenceMilliseconds(b, a), 1500);
  EXPECT_EQ(DifferenceMilliseconds(a, b), -1500);
  EXPECT_EQ(SecondsBetween(T(2001, 1, 1), T(2000, 1, 1)), 366 * 86400);
}

TEST(DateArithmetic, Compare) {
  EXPECT_EQ(Compare(T(2020, 1, 1), T(2020, 1, 1)), 0);
  EXPECT_EQ(Compare(T(2020, 1, 1), T(2020, 1, 2)), -1);
  EXPECT_EQ(Compare(T(2021, 1, 1), T(2020, 12, 31)), 1);
  EXPECT_EQ(Compare(T(2020, 1, 1, 0, 0, 0, 1), T(2020, 1, 1)), 1);
}

// ---- Timing helpers ----

TEST(SamplingStepTest, AcceptsStepsOfAtMostOnePeriod) {
  SamplingStepTest step;
  const SystemTime start = T(2026, 6, 1, 12, 0, 0);
  // The first call compares with the previous time 0 (1 January 2000).
  EXPECT_FALSE(step.Check(start, 60));
  EXPECT_TRUE(step.Check(AddSeconds(start, 60), 60));    // exactly one period later
  EXPECT_TRUE(step.Check(AddSeconds(start, 60), 60));    // the same time again
  EXPECT_FALSE(step.Check(AddSeconds(start, 121), 60));  // a gap of 61 s
  EXPECT_FALSE(step.Check(AddSeconds(start, 120), 60));  // backwards
  EXPECT_TRUE(step.Check(AddSeconds(start, 150), 60));
  step.Reset(start);
  EXPECT_TRUE(step.Check(AddSeconds(start, 30), 60));
  SamplingStepTest fresh;
  EXPECT_TRUE(fresh.Check(T(2000, 1, 1, 0, 0, 10), 10));
}

TEST(Countdown, CountsTwentySecondsDownToZero) {
  VirtualClock clock;
  Countdown countdown(clock);
  clock.Advance(5000);
  countdown.Start();
  EXPECT_EQ(countdown.Remaining(), 20);
  clock.Advance(999);
  EXPECT_EQ(countdown.Remaining(), 20);
  clock.Advance(1);
  EXPECT_EQ(countdown.Remaining(), 19);
  clock.Advance(18500);
  EXPECT_EQ(countdown.Remaining(), 1);
  clock.Advance(500);
  EXPECT_EQ(countdown.Remaining(), 0);
  clock.Advance(100000);
  EXPECT_EQ(countdown.Remaining(), 0);
  countdown.Start();
  EXPECT_EQ(countdown.Remaining(), 20);
}

TEST(IntervalTimer, MeasuresFromThePreviousCallCappedAt1000) {
  VirtualClock clock;
  IntervalTimer interval(clock);  // "program start"
  clock.Advance(250);
  EXPECT_EQ(interval.Next(), 250);
  clock.Advance(40);
  EXPECT_EQ(interval.Next(), 40);
  EXPECT_EQ(interval.Next(), 0);
  clock.Advance(5000);
  EXPECT_EQ(interval.Next(), 1000);
  clock.Advance(1000);
  EXPECT_EQ(interval.Next(), 1000);
}

}  // namespace
}  // namespace klx
