#pragma once
// The simulated GPS receiver: NMEA 0183 sentences once a second on its own line, whatever the
// host sends. Every second starts with the position sentence of the mode and ends with RMC:
//   GGA (default) "$GPGGA,hhmmss.00,ddmm.mmmm,N,dddmm.mmmm,E,1,08,0.9,10.0,M,0.0,M,,*CS\r\n"
//                 then "$GPRMC,hhmmss.00,A,ddmm.mmmm,N,dddmm.mmmm,E,0.4,45.0,ddmmyy,,,A*CS\r\n"
//   GLL           "$GPGLL,ddmm.mmmm,N,dddmm.mmmm,E,hhmmss.00,A*CS\r\n" then RMC
//   RMC           RMC only (a receiver that gives the host neither GGA nor GLL)
// CS is the exclusive or of the characters between "$" and "*", two upper-case hex digits. The
// position starts at 48 07.038 N, 011 31.000 E and drifts slowly north-east. The time is the
// receiver's clock (SetClock; until set, 2026-01-01 00:00:00 when the host first opens the
// line). Bytes are spaced by ten bits at the receiver's rate (4800 baud), each second's sentences
// starting on the whole second.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/loopback.h"
#include "platform/system_time.h"

namespace klx::sim {

class SimGps final : public klx::LineDevice {
 public:
  enum class Mode { Gga, Gll, Rmc };

  explicit SimGps(Mode mode = Mode::Gga, int baud = 4800);
  // "GGA", "GLL" or "RMC" (any case); nothing for another word.
  static std::optional<Mode> ModeNamed(std::string_view name);

  void Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
               klx::LineOutput& out) override;
  // Sends the sentences of every second due up to untilMs.
  void Poll(int64_t untilMs, klx::LineOutput& out) override;
  void HostOpened(int64_t nowMs) override;

  Mode SentenceMode() const { return mode_; }
  void SetClock(const klx::SystemTime& t, int64_t nowMs);
  // The sentences of the n-th second after the clock was set (for tests and demos).
  std::string Second(int64_t n) const;

  // "$" + body + "*" + the checksum of body + "\r\n".
  static std::string Sentence(std::string_view body);

 private:
  void Anchor(int64_t nowMs);

  Mode mode_;
  int baud_;
  std::optional<int64_t> anchorMs_;  // monotonic ms of the clock's second 0
  int64_t clockAtAnchor_ = 0;        // seconds since 2000-01-01
  int64_t nextSecond_ = 0;           // the next second (counted from the anchor) to send
};

}  // namespace klx::sim
