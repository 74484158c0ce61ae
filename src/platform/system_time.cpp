#include "platform/system_time.h"

namespace klx {

int64_t DaysFromCivil(int year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(yoe + era * 400) + (month <= 2 ? 1 : 0);
}

namespace {
uint16_t WeekdayOfDays(int64_t days) {
  return static_cast<uint16_t>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
}
}  // namespace

SystemTime MakeSystemTime(int year, int month, int day, int hour, int minute, int second) {
  SystemTime t;
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(day);
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  t.second = static_cast<uint16_t>(second);
  return t;
}

void SetDayOfWeek(SystemTime& t) {
  t.dayOfWeek = WeekdayOfDays(DaysFromCivil(t.year, t.month, t.day));
}

int64_t ToEpochMs(const SystemTime& t) {
  const int64_t days = DaysFromCivil(t.year, t.month, t.day);
  return ((days * 24 + t.hour) * 60 + t.minute) * 60000LL + t.second * 1000LL + t.milliseconds;
}

SystemTime FromEpochMs(int64_t ms) {
  int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  int64_t rest = ms - days * 86400000;
  SystemTime t;
  int y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(days, y, m, d);
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint16_t>(m);
  t.day = static_cast<uint16_t>(d);
  t.dayOfWeek = WeekdayOfDays(days);
  t.hour = static_cast<uint16_t>(rest / 3600000);
  rest %= 3600000;
  t.minute = static_cast<uint16_t>(rest / 60000);
  rest %= 60000;
  t.second = static_cast<uint16_t>(rest / 1000);
  t.milliseconds = static_cast<uint16_t>(rest % 1000);
  return t;
}

}  // namespace klx
