#include "shell/datetime.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace klx {
namespace {

SystemTime T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  SystemTime t = MakeSystemTime(y, mo, d, h, mi, s);
  t.milliseconds = static_cast<uint16_t>(ms);
  return t;
}

// The reply in a heap block of exactly its size, so that AddressSanitizer sees any read outside.
SystemTime Date(const std::string& text) {
  const std::vector<char> exact(text.begin(), text.end());
  return ParseLoggerDate({exact.data(), exact.size()});
}
std::string Duration(const std::string& text) {
  const std::vector<char> exact(text.begin(), text.end());
  return DurationText(ParseLoggerDuration({exact.data(), exact.size()}));
}

TEST(DateTimeText, LoggerDisplayPeriodAndDateForms) {
  EXPECT_EQ(LoggerDateText(T(2099, 12, 31, 23, 59, 59)), "991231235959");
  const SystemTime t = T(2026, 6, 1, 7, 5, 3);
  EXPECT_EQ(ShortDateDisplayText(t) + "|" + TimeDisplayText(t), "26/06/01 07:05:03|07:05:03");
  EXPECT_EQ(DateDisplayText(T(2010, 13, 15)), "2010/\?\?\?/15 00:00:00");  // no read past the table
  EXPECT_EQ(PeriodFieldText(T(2000, 1, 1, 24, 0, 0), false), "24:00:00");
  EXPECT_EQ(PeriodFieldText(T(2000, 1, 1, 0, 10, 0), true), "6Hz profiling");
}

TEST(PackedDecimal, BothWaysAndBadNibbles) {
  const std::pair<int, int> packed[] = {{10, 0x10}, {99, 0x99}, {123, 0x23}, {-1, 0x99}};
  for (auto [value, bcd] : packed) EXPECT_EQ(ToPackedDecimal(value), bcd) << value;
  for (int v = 0; v < 100; ++v) EXPECT_EQ(FromPackedDecimal(ToPackedDecimal(v)), v);
  const int bad[][2] = {{0x4A, 50}, {0xA4, 104}};
  for (auto [bcd, unchecked] : bad) {
    EXPECT_EQ(FromPackedDecimal(static_cast<uint8_t>(bcd)), -1) << bcd;
    EXPECT_EQ(FromPackedDecimalUnchecked(static_cast<uint8_t>(bcd)), unchecked) << bcd;
  }
}

TEST(ParseLoggerDate, TwelveDigitsBeforeTheFirstCOrTheYear2000) {
  EXPECT_EQ(DateDisplayText(Date("230615123456CET")), "2023/Jun/15 12:34:56");
  EXPECT_EQ(DateDisplayText(Date("xyz991231235959CTD")), "2099/Dec/31 23:59:59");
  EXPECT_EQ(ParseLoggerDate("230615123456CTD").dayOfWeek, 4);  // a Thursday
  // 2000 itself, a letter or sign among the digits, each field out of range, no tag, a bad first C.
  for (const char* text :
       {"000101000000CTD", "2306151A3456CTD", "23061512-456CTD", "231315123456CTD",
        "230015123456CTD", "230600123456CTD", "230632123456CTD", "230615243456CTD",
        "230615126056CTD", "230615123460CTD", "230615123456", "", "C230615123456CTD"})
    EXPECT_EQ(DateDisplayText(Date(text)), "2000/Jan/01 00:00:00") << text;
  // Fewer than twelve characters before the tag are not read outside.
  for (size_t n = 0; n < 12; ++n)
    EXPECT_EQ(Date(std::string("230615123456").substr(12 - n) + "CTD").year, 2000) << n;
}

TEST(ParseLoggerDuration, SixDigitsBeforeCspOrWavAndOneMinuteForBadValues) {
  // "CSP" is looked for first, wherever it stands.
  const std::pair<const char*, const char*> cases[] = {
      {"240000CSP", "240000"}, {"xx013015CSP", "013015"}, {"235959WAV", "235959"},
      {"000500WAV000010CSP", "000010"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(Duration(text), expected) << text;
  for (const std::string text : {"006000CSP", "240001CSP", "240100CSP", "000060CSP", "99x999CSP",
                                 "15WAV"})
    EXPECT_EQ(Duration(text), "000100") << text;
  for (size_t n = 0; n < 6; ++n)  // fewer than six digits before the tag are not read outside
    EXPECT_EQ(Duration(std::string("013015").substr(6 - n) + "CSP"), "000100") << n;
  EXPECT_EQ(ParseLoggerDuration("123456XYZ"), Year2000());  // no tag
}

TEST(DateArithmetic, DayNumbersSecondsPeriodsComparisonsAndSums) {
  EXPECT_EQ(SecondsSince2000(T(2004, 3, 1, 1, 2, 3)), 1521 * 86400 + 3723);
  EXPECT_EQ(PeriodSeconds(T(2000, 1, 1, 0, 0, 0)), 86400);
  // Differences truncate toward zero.
  const SystemTime a = T(2020, 1, 1, 0, 0, 0, 0);
  const SystemTime b = T(2020, 1, 1, 0, 0, 1, 500);
  EXPECT_EQ(std::make_tuple(SecondsBetween(b, a), SecondsBetween(a, b), DifferenceSeconds(a, b)),
            std::make_tuple(1, -1, -1));
  EXPECT_EQ(Compare(T(2020, 1, 1), T(2020, 1, 1, 0, 0, 0, 1)), -1);

  // Adding seconds and milliseconds across days and years.
  const SystemTime newYear = AddSeconds(T(2001, 1, 1), -1);
  EXPECT_EQ(DateDisplayText(newYear), "2000/Dec/31 23:59:59");
  EXPECT_EQ(newYear.dayOfWeek, 0);  // a Sunday
  EXPECT_EQ(DateDisplayText(AddSeconds(T(2004, 2, 28, 23, 0, 0), 3600)), "2004/Feb/29 00:00:00");
  const SystemTime back = AddMilliseconds(T(2020, 1, 1), -1);
  EXPECT_EQ(DateDisplayText(back) + "." + std::to_string(back.milliseconds),
            "2019/Dec/31 23:59:59.999");
  // Absurd amounts do not overflow (the sanitizer would report it).
  (void)AddSeconds(T(2020, 1, 1), INT64_MAX);
  (void)AddMilliseconds(T(2020, 1, 1), INT64_MIN);
}

}  // namespace
}  // namespace klx
