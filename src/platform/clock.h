#pragma once
// Time as the program sees it: a monotonic millisecond clock for waits and time-outs, and the
// local calendar time. Tests use VirtualClock so that every wait costs no wall time.
#include <cstdint>

#include "platform/system_time.h"

namespace klx {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds of a monotonic clock; only differences mean anything.
  virtual int64_t MonotonicMs() = 0;
  // Local calendar time now.
  virtual SystemTime LocalTime() = 0;
  // Blocks for the given time (no-op for zero or less).
  virtual void SleepMs(int64_t ms) = 0;
  void SleepUntil(int64_t monotonicMs) { SleepMs(monotonicMs - MonotonicMs()); }
};

class RealClock final : public Clock {
 public:
  int64_t MonotonicMs() override;
  SystemTime LocalTime() override;
  void SleepMs(int64_t ms) override;
};

// A clock that only moves when told to (or when someone sleeps on it).
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(SystemTime start = SystemTime{2026, 6, 1, 1, 12, 0, 0, 0});
  int64_t MonotonicMs() override { return now_; }
  SystemTime LocalTime() override;
  void SleepMs(int64_t ms) override {
    if (ms > 0) now_ += ms;
  }
  void Advance(int64_t ms) { SleepMs(ms); }
  void SetLocalTime(const SystemTime& t);

 private:
  int64_t now_ = 0;
  int64_t epochAtZero_ = 0;  // epoch ms of the local time when now_ was 0
};

}  // namespace klx
