#pragma once
// The calendar-time record every part of the program passes around: a local date and time with
// 16-bit fields, like the record the loggers' clocks are set from.
#include <cstdint>

namespace klx {

struct SystemTime {
  uint16_t year = 2000;
  uint16_t month = 1;      // 1..12
  uint16_t dayOfWeek = 6;  // 0 = Sunday
  uint16_t day = 1;        // 1..31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;

  friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back. Whole-range, no table.
int64_t DaysFromCivil(int year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day);

// The record of these fields (milliseconds 0); the day of the week keeps its default until
// SetDayOfWeek is called.
SystemTime MakeSystemTime(int year, int month, int day, int hour = 0, int minute = 0,
                          int second = 0);
// Sets the day of the week from the date.
void SetDayOfWeek(SystemTime& t);

// Milliseconds since 1970-01-01 00:00:00 of the record (no time zone: local calendar time).
int64_t ToEpochMs(const SystemTime& t);
SystemTime FromEpochMs(int64_t ms);

}  // namespace klx
