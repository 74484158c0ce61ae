#include "shell/datetime.h"

#include <algorithm>

#include "shell/text_file.h"

namespace klx {

const char* const kMonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const int kDaysBeforeMonthLeap[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
const int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

const char* MonthName(int month) {
  return month >= 1 && month <= 12 ? kMonthNames[month] : "???";
}

SystemTime Year2000() {
  return SystemTime{};
}  // the record's defaults: 2000-01-01, a Saturday

// ---- Texts ------------------------------------------------------------------------------------

std::string LoggerDateText(const SystemTime& t) {
  return CFormat("%02d%02d%02d%02d%02d%02d", t.year - 2000, t.month, t.day, t.hour, t.minute,
                 t.second);
}

std::string DateDisplayText(const SystemTime& t) {
  return CFormat("%04d/%s/%02d %02d:%02d:%02d", t.year, MonthName(t.month), t.day, t.hour, t.minute,
                 t.second);
}

std::string ShortDateDisplayText(const SystemTime& t) {
  return CFormat("%02d/%02d/%02d %02d:%02d:%02d", t.year % 100, t.month, t.day, t.hour, t.minute,
                 t.second);
}

std::string TimeDisplayText(const SystemTime& t) {
  return CFormat("%02d:%02d:%02d", t.hour, t.minute, t.second);
}

std::string DurationText(const SystemTime& d) {
  return CFormat("%02d%02d%02d", d.hour, d.minute, d.second);
}

std::string PeriodFieldText(const SystemTime& period, bool sixHzProfiling) {
  return sixHzProfiling ? std::string("6Hz profiling") : TimeDisplayText(period);
}

std::string DateFieldText(const SystemTime& t, bool startsNow) {
  return startsNow ? std::string("NOW") : DateDisplayText(t);
}

// ---- Packed decimal ---------------------------------------------------------------------------

uint8_t ToPackedDecimal(int value) {
  const int v = ((value % 100) + 100) % 100;
  return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

int FromPackedDecimal(uint8_t packed) {
  const int high = packed >> 4;
  const int low = packed & 0x0F;
  if (high > 9 || low > 9) return -1;
  return high * 10 + low;
}

int FromPackedDecimalUnchecked(uint8_t packed) {
  return (packed >> 4) * 10 + (packed & 0x0F);
}

std::array<uint8_t, 6> PackedDate(const SystemTime& t) {
  return {ToPackedDecimal(t.year - 2000), ToPackedDecimal(t.month),  ToPackedDecimal(t.day),
          ToPackedDecimal(t.hour),        ToPackedDecimal(t.minute), ToPackedDecimal(t.second)};
}

// ---- Parsing logger replies -------------------------------------------------------------------

namespace {

// Two decimal digits at text[at], at+1 (the caller guarantees they are inside the text).
bool TwoDigits(std::string_view text, size_t at, int& value) {
  const char a = text[at];
  const char b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return false;
  value = (a - '0') * 10 + (b - '0');
  return true;
}

}  // namespace

SystemTime ParseLoggerDate(std::string_view reply) {
  const size_t tag = reply.find('C');
  // Fewer than twelve characters before the tag: not read outside the reply (see the header).
  if (tag == std::string_view::npos || tag < 12) return Year2000();
  const size_t start = tag - 12;
  int fields[6] = {};
  for (int i = 0; i < 6; ++i)
    if (!TwoDigits(reply, start + 2 * static_cast<size_t>(i), fields[i])) return Year2000();
  const int month = fields[1], day = fields[2], hour = fields[3], minute = fields[4],
            second = fields[5];
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour >= 24 || minute >= 60 || second >= 60)
    return Year2000();
  SystemTime t = MakeSystemTime(2000 + fields[0], month, day, hour, minute, second);
  SetDayOfWeek(t);
  return t;
}

SystemTime ParseLoggerDuration(std::string_view reply) {
  size_t tag = reply.find("CSP");
  if (tag == std::string_view::npos) tag = reply.find("WAV");
  if (tag == std::string_view::npos) return Year2000();
  SystemTime d = Year2000();
  d.minute = 1;  // 00:01:00 unless a valid duration is read
  // Fewer than six characters before the tag: not read outside the reply (see the header).
  if (tag < 6) return d;
  const size_t start = tag - 6;
  int h = 0, m = 0, s = 0;
  if (!TwoDigits(reply, start, h) || !TwoDigits(reply, start + 2, m) ||
      !TwoDigits(reply, start + 4, s))
    return d;
  const bool oneDay = h == 24 && m == 0 && s == 0;
  if (!oneDay && !(h < 24 && m < 60 && s < 60)) return d;
  d.hour = static_cast<uint16_t>(h);
  d.minute = static_cast<uint16_t>(m);
  d.second = static_cast<uint16_t>(s);
  return d;
}

// ---- Arithmetic -------------------------------------------------------------------------------

namespace {

// Far beyond any real use (about 290 000 years) and far from int64 overflow.
constexpr int64_t kMaxShiftMs = int64_t{1} << 53;

}  // namespace

SystemTime AddMilliseconds(const SystemTime& t, int64_t milliseconds) {
  milliseconds = std::clamp(milliseconds, -kMaxShiftMs, kMaxShiftMs);
  return FromEpochMs(ToEpochMs(t) + milliseconds);
}

SystemTime AddSeconds(const SystemTime& t, int64_t seconds) {
  constexpr int64_t kMaxShiftS = kMaxShiftMs / 1000;
  return AddMilliseconds(t, std::clamp(seconds, -kMaxShiftS, kMaxShiftS) * 1000);
}

int64_t DifferenceSeconds(const SystemTime& a, const SystemTime& b) {
  return (ToEpochMs(a) - ToEpochMs(b)) / 1000;
}

int64_t DifferenceMilliseconds(const SystemTime& a, const SystemTime& b) {
  return ToEpochMs(a) - ToEpochMs(b);
}

int64_t SecondsBetween(const SystemTime& a, const SystemTime& b) {
  const int order = Compare(a, b);
  if (order == 0) return 0;
  const int64_t later = order > 0 ? ToEpochMs(a) : ToEpochMs(b);
  const int64_t earlier = order > 0 ? ToEpochMs(b) : ToEpochMs(a);
  const int64_t magnitude = (later - earlier) / 1000;
  return order > 0 ? magnitude : -magnitude;
}

int Compare(const SystemTime& a, const SystemTime& b) {
  const int64_t x = ToEpochMs(a), y = ToEpochMs(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int64_t DayNumber(const SystemTime& t) {
  const int64_t year = t.year;
  int64_t days = 0;
  if (year > 2000) {
    // 365 for each year 2000..year-1, plus one for each of them divisible by 4.
    days = 365 * (year - 2000) + ((year - 1) / 4 - 1999 / 4);
  }
  const int monthIndex = t.month >= 1 && t.month <= 12 ? t.month - 1 : 0;
  const bool leap = year % 4 == 0;
  days += leap ? kDaysBeforeMonthLeap[monthIndex] : kDaysBeforeMonth[monthIndex];
  return days + static_cast<int64_t>(t.day) - 1;
}

int64_t SecondsOfDay(const SystemTime& t) {
  return (static_cast<int64_t>(t.hour) * 60 + t.minute) * 60 + t.second;
}

int64_t SecondsSince2000(const SystemTime& t) {
  return DayNumber(t) * 86400 + SecondsOfDay(t);
}

int64_t PeriodSeconds(const SystemTime& period) {
  const int64_t s = SecondsOfDay(period);
  return s == 0 ? 86400 : s;
}

// ---- Timing helpers ---------------------------------------------------------------------------

bool SamplingStepTest::Check(const SystemTime& t, int64_t periodSeconds) {
  const int64_t now = SecondsSince2000(t);
  const bool inStep = now >= previous_ && now - previous_ <= periodSeconds;
  previous_ = now;
  return inStep;
}

int Countdown::Remaining() const {
  const int64_t elapsed = (clock_.MonotonicMs() - mark_) / 1000;
  return static_cast<int>(std::clamp<int64_t>(kWindowSeconds - elapsed, 0, kWindowSeconds));
}

int64_t IntervalTimer::Next() {
  const int64_t now = clock_.MonotonicMs();
  const int64_t interval = std::min(now - last_, kCapMs);
  last_ = now;
  return interval;
}

}  // namespace klx
