#include "shell/datetime.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace klx {
namespace {

SystemTime T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  SystemTime t = MakeSystemTime(y, mo, d, h, mi, s);
  t.milliseconds = static_cast<uint16_t>(ms);
  return t;
}

std::string Str(const SystemTime& t) {
  char s[64];
  std::snprintf(s, sizeof s, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return s;
}
const char* const k2000 = "2000-01-01 00:00:00";

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

TEST(DateTimeText, LoggerDisplayPeriodAndDateForms) {
  EXPECT_EQ(LoggerDateText(T(2000, 1, 1)), "000101000000");
  EXPECT_EQ(LoggerDateText(T(2000, 7, 4, 9, 8, 7)), "000704090807");
  EXPECT_EQ(LoggerDateText(T(2099, 12, 31, 23, 59, 59)), "991231235959");
  const SystemTime t = T(2026, 6, 1, 7, 5, 3);
  EXPECT_EQ(DateDisplayText(t), "2026/Jun/01 07:05:03");
  EXPECT_EQ(ShortDateDisplayText(t), "26/06/01 07:05:03");
  EXPECT_EQ(TimeDisplayText(t), "07:05:03");
  EXPECT_EQ(DurationText(t), "070503");
  EXPECT_EQ(ShortDateDisplayText(T(2005, 12, 31, 23, 59, 59)), "05/12/31 23:59:59");
  EXPECT_EQ(DateDisplayText(T(2010, 12, 15)), "2010/Dec/15 00:00:00");
  EXPECT_EQ(DateDisplayText(T(2010, 13, 15)), "2010/\?\?\?/15 00:00:00");  // no read past the table
  EXPECT_EQ(PeriodFieldText(T(2000, 1, 1, 0, 10, 0), false), "00:10:00");
  EXPECT_EQ(PeriodFieldText(T(2000, 1, 1, 24, 0, 0), false), "24:00:00");
  EXPECT_EQ(PeriodFieldText(T(2000, 1, 1, 0, 10, 0), true), "6Hz profiling");
  EXPECT_EQ(DateFieldText(T(2026, 1, 2, 3, 4, 5)), "2026/Jan/02 03:04:05");
  EXPECT_EQ(DateFieldText(T(2026, 1, 2, 3, 4, 5), true), "NOW");
}

TEST(PackedDecimal, BothWaysAndBadNibbles) {
  const std::pair<int, int> packed[] = {{0, 0x00},  {9, 0x09},   {10, 0x10},  {59, 0x59},
                                        {99, 0x99}, {100, 0x00}, {123, 0x23}, {-1, 0x99}};
  for (auto [value, bcd] : packed) EXPECT_EQ(ToPackedDecimal(value), bcd) << value;
  for (int v = 0; v < 100; ++v) {
    EXPECT_EQ(FromPackedDecimal(ToPackedDecimal(v)), v);
    EXPECT_EQ(FromPackedDecimalUnchecked(ToPackedDecimal(v)), v);
  }
  const int bad[][2] = {{0x4A, 50}, {0xA4, 104}, {0xFF, 165}};
  for (auto [bcd, unchecked] : bad) {
    EXPECT_EQ(FromPackedDecimal(static_cast<uint8_t>(bcd)), -1) << bcd;
    EXPECT_EQ(FromPackedDecimalUnchecked(static_cast<uint8_t>(bcd)), unchecked) << bcd;
  }
  EXPECT_EQ(PackedDate(T(2026, 6, 1, 23, 59, 58)),
            (std::array<uint8_t, 6>{0x26, 0x06, 0x01, 0x23, 0x59, 0x58}));
  EXPECT_EQ(PackedDate(T(2000, 1, 1)), (std::array<uint8_t, 6>{0x00, 0x01, 0x01, 0, 0, 0}));
}

TEST(ParseLoggerDate, TwelveDigitsBeforeTheFirstCOrTheYear2000) {
  const std::pair<const char*, const char*> cases[] = {
      {"230615123456CTD", "2023-06-15 12:34:56"},
      {"230615123456CST", "2023-06-15 12:34:56"},
      {"230615123456CET", "2023-06-15 12:34:56"},
      {"xyz991231235959CTD", "2099-12-31 23:59:59"},
      {"231231235959CTD", "2023-12-31 23:59:59"}};
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(Str(ParseLoggerDate(ExactReply(text).View())), expected) << text;
  // The year 2000 itself; a letter, a sign or a blank among the digits; each field out of range;
  // no tag, and a first C that has no twelve digits before it.
  for (const char* text :
       {"000101000000CTD", "2306151A3456CTD", "23061512-456CTD", "230615 23456CTD",
        "231315123456CTD", "230015123456CTD", "230600123456CTD", "230632123456CTD",
        "230615243456CTD", "230615126056CTD", "230615123460CTD", "230615123456", "",
        "C230615123456CTD", "C"})
    EXPECT_EQ(Str(ParseLoggerDate(ExactReply(text).View())), k2000) << text;
  EXPECT_EQ(Str(ParseLoggerDate(std::string_view())), k2000);
  EXPECT_EQ(ParseLoggerDate("230615123456CTD").dayOfWeek, 4);  // a Thursday
  // Fewer than twelve characters before the tag are not read outside.
  for (size_t n = 0; n < 12; ++n)
    EXPECT_EQ(
        Str(ParseLoggerDate(ExactReply(std::string("230615123456").substr(12 - n) + "CTD").View())),
        k2000)
        << n;
  // Binary garbage never crashes and gives a real month.
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

TEST(ParseLoggerDuration, SixDigitsBeforeCspOrWavAndOneMinuteForBadValues) {
  // "CSP" is looked for first, wherever it stands.
  const std::pair<const char*, const char*> cases[] = {{"240000CSP", "240000"},
                                                       {"xx013015CSP", "013015"},
                                                       {"235959WAV", "235959"},
                                                       {"000000CSP", "000000"},
                                                       {"000500WAV000010CSP", "000010"}};
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(DurationText(ParseLoggerDuration(ExactReply(text).View())), expected) << text;
  std::vector<std::string> bad = {"006000CSP", "240001CSP", "240100CSP", "250000CSP", "000060CSP",
                                  "99x999CSP", "-10000CSP", " 10000CSP", "15WAV"};
  for (size_t n = 0; n < 6; ++n) bad.push_back(std::string("013015").substr(6 - n) + "CSP");
  for (const auto& text : bad)
    EXPECT_EQ(DurationText(ParseLoggerDuration(ExactReply(text).View())), "000100") << text;
  const SystemTime day = ParseLoggerDuration("240000CSP");
  EXPECT_EQ(day.hour, 24);
  EXPECT_EQ(PeriodSeconds(day), 86400);
  EXPECT_EQ(ParseLoggerDuration("xx013015CSP").year, 2000);
  // Without a tag: the whole year-2000 record.
  EXPECT_EQ(ParseLoggerDuration("123456XYZ"), Year2000());
  EXPECT_EQ(ParseLoggerDuration(""), Year2000());
}

TEST(DateArithmetic, DayNumbersSecondsPeriodsComparisonsAndSums) {
  EXPECT_EQ(DayNumber(T(2004, 3, 1)), 1521);
  const int64_t base = DaysFromCivil(2000, 1, 1);
  for (int y = 2000; y <= 2099; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d : {1, 15, 28})
        ASSERT_EQ(DayNumber(T(y, m, d)), DaysFromCivil(y, m, d) - base) << y << "-" << m;
  EXPECT_EQ(DayNumber(T(2000, 12, 31)), 365);
  EXPECT_EQ(DayNumber(T(2001, 3, 1)), 366 + 59);

  EXPECT_EQ(SecondsOfDay(T(2010, 5, 5, 1, 2, 3)), 3723);
  EXPECT_EQ(SecondsSince2000(T(2000, 1, 1)), 0);
  EXPECT_EQ(SecondsSince2000(T(2000, 1, 2, 0, 0, 1)), 86401);
  EXPECT_EQ(SecondsSince2000(T(2004, 3, 1, 1, 0, 0)), 1521 * 86400 + 3600);
  EXPECT_EQ(PeriodSeconds(T(2000, 1, 1, 0, 0, 0)), 86400);
  EXPECT_EQ(PeriodSeconds(T(2000, 1, 1, 0, 0, 1)), 1);
  EXPECT_EQ(PeriodSeconds(T(2000, 1, 1, 1, 30, 0)), 5400);
  // Differences truncate toward zero.
  const SystemTime a = T(2020, 1, 1, 0, 0, 0, 0);
  const SystemTime b = T(2020, 1, 1, 0, 0, 1, 500);
  EXPECT_EQ(std::make_tuple(SecondsBetween(b, a), SecondsBetween(a, b), SecondsBetween(a, a)),
            std::make_tuple(1, -1, 0));
  EXPECT_EQ(std::make_tuple(DifferenceSeconds(b, a), DifferenceSeconds(a, b)),
            std::make_tuple(1, -1));
  EXPECT_EQ(DifferenceMilliseconds(b, a), 1500);
  EXPECT_EQ(DifferenceMilliseconds(a, b), -1500);
  EXPECT_EQ(SecondsBetween(T(2001, 1, 1), T(2000, 1, 1)), 366 * 86400);
  EXPECT_EQ(Compare(T(2020, 1, 1), T(2020, 1, 1)), 0);
  EXPECT_EQ(Compare(T(2020, 1, 1), T(2020, 1, 2)), -1);
  EXPECT_EQ(Compare(T(2021, 1, 1), T(2020, 12, 31)), 1);
  EXPECT_EQ(Compare(T(2020, 1, 1, 0, 0, 0, 1), T(2020, 1, 1)), 1);

  // Adding seconds and milliseconds across days and years.
  const SystemTime newYear = AddSeconds(T(2001, 1, 1), -1);
  EXPECT_EQ(Str(newYear), "2000-12-31 23:59:59");
  EXPECT_EQ(newYear.dayOfWeek, 0);  // a Sunday
  EXPECT_EQ(Str(AddSeconds(T(2004, 2, 28, 23, 0, 0), 3600)), "2004-02-29 00:00:00");
  EXPECT_EQ(Str(AddSeconds(T(2003, 2, 28, 23, 0, 0), 3600)), "2003-03-01 00:00:00");
  const SystemTime t = AddMilliseconds(T(2020, 1, 1, 0, 0, 0, 500), 600);
  EXPECT_EQ(Str(t), "2020-01-01 00:00:01");
  EXPECT_EQ(t.milliseconds, 100);
  const SystemTime back = AddMilliseconds(T(2020, 1, 1), -1);
  EXPECT_EQ(Str(back), "2019-12-31 23:59:59");
  EXPECT_EQ(back.milliseconds, 999);
  // Absurd amounts do not overflow (the sanitizer would report it).
  (void)AddSeconds(T(2020, 1, 1), INT64_MAX);
  (void)AddSeconds(T(2020, 1, 1), INT64_MIN);
  (void)AddMilliseconds(T(2020, 1, 1), INT64_MIN);
}

TEST(TimingHelpers, SamplingStepCountdownAndInterval) {
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
  EXPECT_TRUE(SamplingStepTest().Check(T(2000, 1, 1, 0, 0, 10), 10));

  // The countdown shows whole seconds left of twenty; the interval is capped at 1000 ms.
  VirtualClock clock;
  IntervalTimer interval(clock);  // "program start"
  Countdown countdown(clock);
  clock.Advance(250);
  EXPECT_EQ(interval.Next(), 250);
  countdown.Start();
  const std::pair<int, int> remaining[] = {{0, 20},    {999, 20}, {1, 19},
                                           {18500, 1}, {500, 0},  {100000, 0}};
  for (auto [advance, left] : remaining) {
    clock.Advance(advance);
    EXPECT_EQ(countdown.Remaining(), left) << clock.MonotonicMs();
  }
  countdown.Start();
  EXPECT_EQ(countdown.Remaining(), 20);
  EXPECT_EQ(interval.Next(), 1000);
  clock.Advance(40);
  EXPECT_EQ(interval.Next(), 40);
  EXPECT_EQ(interval.Next(), 0);
  clock.Advance(1000);
  EXPECT_EQ(interval.Next(), 1000);
}

}  // namespace
}  // namespace klx
