#include "sim/sim_gps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace klx::sim {
namespace {

const int64_t kDay2000 = DaysFromCivil(2000, 1, 1);
constexpr double kStartLatitude = 48.0 + 7.038 / 60.0;
constexpr double kStartLongitude = 11.0 + 31.0 / 60.0;
// A slow walk north-east, about 0.2 m/s.
constexpr double kLatitudePerSecond = 1.5e-6;
constexpr double kLongitudePerSecond = 2.0e-6;
// A receiver that is never read keeps only the latest seconds.
constexpr int64_t kMaxBacklogSeconds = 10;

// ddmm.mmmm (latitude, two degree digits) or dddmm.mmmm (longitude).
std::string Angle(double degrees, int degreeDigits) {
  int whole = static_cast<int>(std::floor(degrees));
  double minutes = (degrees - whole) * 60.0;
  if (std::lround(minutes * 10000) >= 600000) {  // 59.99995 rounds up to the next degree
    ++whole;
    minutes = 0;
  }
  char b[32];
  std::snprintf(b, sizeof b, "%0*d%07.4f", degreeDigits, whole, minutes);
  return b;
}

}  // namespace

SimGps::SimGps(Mode mode, int baud) : mode_(mode), baud_(baud > 0 ? baud : 4800) {}

std::optional<SimGps::Mode> SimGps::ModeNamed(std::string_view name) {
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  if (upper == "GGA") return Mode::Gga;
  if (upper == "GLL") return Mode::Gll;
  if (upper == "RMC") return Mode::Rmc;
  return std::nullopt;
}

std::string SimGps::Sentence(std::string_view body) {
  uint8_t sum = 0;
  for (char c : body) sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(c));
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return "$" + std::string(body) + tail;
}

void SimGps::SetClock(const klx::SystemTime& t, int64_t nowMs) {
  anchorMs_ = nowMs;
  clockAtAnchor_ = std::max<int64_t>(0, (DaysFromCivil(t.year, t.month, t.day) - kDay2000) * 86400 +
                                            t.hour * 3600 + t.minute * 60 + t.second);
  nextSecond_ = 0;
}

void SimGps::Anchor(int64_t nowMs) {
  if (anchorMs_) return;
  SetClock(klx::SystemTime{2026, 1, 4, 1, 0, 0, 0, 0}, nowMs);
}

void SimGps::HostOpened(int64_t nowMs) {
  Anchor(nowMs);
  // Nothing from before the host opened the line.
  const int64_t since = nowMs - *anchorMs_;
  if (since > 0) nextSecond_ = std::max(nextSecond_, (since + 999) / 1000);
}

void SimGps::Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
                     klx::LineOutput& out) {
  (void)data;
  (void)count;
  (void)hostBaud;
  Poll(nowMs, out);  // the receiver does not listen; it only talks
}

std::string SimGps::Second(int64_t n) const {
  const int64_t seconds = clockAtAnchor_ + n;
  int year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(seconds / 86400 + kDay2000, year, month, day);
  const int64_t r = seconds % 86400;
  char time[16], date[16];
  std::snprintf(time, sizeof time, "%02d%02d%02d.00", static_cast<int>(r / 3600),
                static_cast<int>(r / 60 % 60), static_cast<int>(r % 60));
  std::snprintf(date, sizeof date, "%02u%02u%02d", day, month, (year - 2000) % 100);
  const auto t = static_cast<double>(n);
  const std::string lat = Angle(kStartLatitude + kLatitudePerSecond * t, 2);
  const std::string lon = Angle(kStartLongitude + kLongitudePerSecond * t, 3);
  std::string out;
  if (mode_ == Mode::Gga)
    out += Sentence("GPGGA," + std::string(time) + "," + lat + ",N," + lon +
                    ",E,1,08,0.9,10.0,M,0.0,M,,");
  else if (mode_ == Mode::Gll)
    out += Sentence("GPGLL," + lat + ",N," + lon + ",E," + time + ",A");
  out += Sentence("GPRMC," + std::string(time) + ",A," + lat + ",N," + lon + ",E,0.4,45.0," + date +
                  ",,,A");
  return out;
}

void SimGps::Poll(int64_t untilMs, klx::LineOutput& out) {
  Anchor(untilMs);
  const int64_t due = untilMs - *anchorMs_;
  if (due < 0) return;
  const int64_t last = due / 1000;
  if (last - nextSecond_ >= kMaxBacklogSeconds) nextSecond_ = last - kMaxBacklogSeconds + 1;
  const double msPerByte = 10000.0 / baud_;
  for (; nextSecond_ <= last; ++nextSecond_)
    out.Send(Second(nextSecond_), *anchorMs_ + nextSecond_ * 1000, msPerByte);
}

}  // namespace klx::sim
