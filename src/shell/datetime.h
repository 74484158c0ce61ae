#pragma once
// Date and time utilities: the logger's texts for a date-time and a duration, the
// display forms, packed-decimal dates, calendar arithmetic in seconds and milliseconds, and the
// small timing helpers (sampling-step test, 20-second countdown, capped interval).
//
// Every formatting function returns its text by value (the original's static buffers are not
// kept); numbers are always formatted in the C locale.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/system_time.h"

namespace klx {

// "Jan" .. "Dec" for months 1 to 12. Index 0 is unused ("").
extern const char* const kMonthNames[13];
// The month's three-letter name, or "???" for a month outside 1..12.
const char* MonthName(int month);

// 1 January 2000 00:00:00, the value the parsers fall back to.
SystemTime Year2000();

// ---- Texts ------------------------------------------------------------------------------------

// Twelve digits yymmddhhmmss with yy = year - 2000 ("%02d%02d%02d%02d%02d%02d"). Meaningful for
// the years 2000 to 2099 that the loggers know; the caller keeps the year in that range.
std::string LoggerDateText(const SystemTime& t);
// "%04d/%s/%02d %02d:%02d:%02d": four-digit year, month name, day, time ("2026/Jun/01 12:00:00").
std::string DateDisplayText(const SystemTime& t);
// "%02d/%02d/%02d %02d:%02d:%02d" with the two-digit year (year mod 100) first.
std::string ShortDateDisplayText(const SystemTime& t);
// "%02d:%02d:%02d" of hour, minute, second (a time of day or a duration).
std::string TimeDisplayText(const SystemTime& t);
// Six digits hhmmss ("%02d%02d%02d"), the logger's form of a duration.
std::string DurationText(const SystemTime& duration);

// The text of the setup dialog's sampling-period (or wave-interval) field: "6Hz profiling" when
// 6 Hz profiling is selected, else the period as "%02d:%02d:%02d".
std::string PeriodFieldText(const SystemTime& period, bool sixHzProfiling);
// The text of a date field: "NOW" when the deployment starts immediately (only asked for the
// setup dialog's start-time field), else the display form.
std::string DateFieldText(const SystemTime& t, bool startsNow = false);

// ---- Packed decimal ---------------------------------------------------------------------------

// A value to packed decimal (two decimal digits, high digit in the high nibble). The value is
// taken mod 100 first (a negative value is taken mod 100 into 0..99 as well).
uint8_t ToPackedDecimal(int value);
// Packed decimal to its value; -1 when either nibble is above 9.
int FromPackedDecimal(uint8_t packed);
// The same without the check: high nibble × 10 + low nibble (up to 165).
int FromPackedDecimalUnchecked(uint8_t packed);
// The six packed bytes yy, mm, dd, hh, mi, ss of a date-time (yy = year - 2000, mod 100).
std::array<uint8_t, 6> PackedDate(const SystemTime& t);

// ---- Parsing logger replies -------------------------------------------------------------------

// The date-time in a reply: the twelve digits yymmddhhmmss that stand before the first "C" of
// the reply (the tags "CTD", "CST", "CET"). Gives 1 January 2000 00:00:00 when there is no "C",
// when a field is not two decimal digits, or when the fields are out of range (month 1..12, day
// 1..31, hour < 24, minute < 60, second < 60).
// Our choice: when fewer than twelve characters precede the
// "C", nothing outside the reply is read and the result is 1 January 2000 00:00:00, as for any
// other unreadable date.
SystemTime ParseLoggerDate(std::string_view reply);

// The duration in a reply: hhmmss in the six characters before "CSP" (or, without one, before
// "WAV"), returned in the hour, minute and second of a record dated 1 January 2000. Without
// either tag the whole record is 1 January 2000 00:00:00. Exactly 24:00:00 is accepted (one
// day); otherwise hours < 24, minutes < 60 and seconds < 60 are required and anything else
// (including non-digits) becomes 00:01:00.
// Our choice: when fewer than six characters precede the
// tag, nothing outside the reply is read and the result is 00:01:00, as for any other unreadable
// duration.
SystemTime ParseLoggerDuration(std::string_view reply);

// ---- Arithmetic -------------------------------------------------------------------------------

// The time moved by a number of seconds or milliseconds (either may be negative). The day of the
// week of the result is recomputed; milliseconds are kept. Moves beyond a few hundred thousand
// years are clamped (no overflow on absurd input).
SystemTime AddSeconds(const SystemTime& t, int64_t seconds);
SystemTime AddMilliseconds(const SystemTime& t, int64_t milliseconds);

// a - b in whole seconds and whole milliseconds (signed, truncated toward zero).
int64_t DifferenceSeconds(const SystemTime& a, const SystemTime& b);
int64_t DifferenceMilliseconds(const SystemTime& a, const SystemTime& b);
// a - b in whole seconds as the magnitude of the later minus the earlier with the sign of the
// comparison, so that it truncates toward zero (1.5 s gives 1 or -1).
int64_t SecondsBetween(const SystemTime& a, const SystemTime& b);
// -1, 0 or 1 as a is earlier than, equal to or later than b (milliseconds included).
int Compare(const SystemTime& a, const SystemTime& b);

// Days since 1 January 2000 by the day tables: 365 per year from 2000 up to the year before
// (366 when divisible by 4), the cumulative days before the month (leap row when the year is
// divisible by 4) and day - 1. A month outside 1..12 counts as January.
int64_t DayNumber(const SystemTime& t);
// (hour × 60 + minute) × 60 + second.
int64_t SecondsOfDay(const SystemTime& t);
// DayNumber × 86400 + SecondsOfDay.
int64_t SecondsSince2000(const SystemTime& t);
// The seconds of a period held in hour, minute and second; an all-zero period counts as 86400.
int64_t PeriodSeconds(const SystemTime& period);

// The cumulative days before each month, leap and other years.
extern const int kDaysBeforeMonthLeap[12];
extern const int kDaysBeforeMonth[12];

// ---- Timing helpers ---------------------------------------------------------------------------

// True when a time is not earlier than the previous time given to this test and not more than
// one sampling period later; remembers the time for the next call. The previous time starts at
// 0 (1 January 2000 00:00:00) unless set with Reset.
class SamplingStepTest {
 public:
  bool Check(const SystemTime& t, int64_t periodSeconds);
  void Reset(const SystemTime& t) { previous_ = SecondsSince2000(t); }
  int64_t Previous() const { return previous_; }

 private:
  int64_t previous_ = 0;
};

// A 20-second window: Start marks the beginning, Remaining gives 20 minus the whole seconds
// elapsed since then, never below 0. Before Start the window counts from construction.
class Countdown {
 public:
  static constexpr int kWindowSeconds = 20;
  explicit Countdown(Clock& clock) : clock_(clock), mark_(clock.MonotonicMs()) {}
  void Start() { mark_ = clock_.MonotonicMs(); }
  int Remaining() const;

 private:
  Clock& clock_;
  int64_t mark_;
};

// The milliseconds since the previous call of Next, at most 1000; the first call measures from
// construction (which the program does at start).
class IntervalTimer {
 public:
  static constexpr int64_t kCapMs = 1000;
  explicit IntervalTimer(Clock& clock) : clock_(clock), last_(clock.MonotonicMs()) {}
  int64_t Next();

 private:
  Clock& clock_;
  int64_t last_;
};

}  // namespace klx
