#include "platform/loopback.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"

namespace klx {

LoopbackPort::LoopbackPort(std::string name, std::shared_ptr<LineDevice> device, Clock& clock)
    : name_(std::move(name)), device_(std::move(device)), clock_(clock) {}

bool LoopbackPort::Open() {
  if (!device_) return false;
  open_ = true;
  pending_.clear();
  device_->HostOpened(clock_.MonotonicMs());
  return true;
}

void LoopbackPort::Close() {
  if (!open_) return;
  open_ = false;
  pending_.clear();
  device_->HostClosed(clock_.MonotonicMs());
}

bool LoopbackPort::GetLineSettings(LineSettings& out) {
  if (!open_) return false;
  out = settings_;
  return true;
}

bool LoopbackPort::SetLineSettings(const LineSettings& settings) {
  if (!open_) return false;
  settings_ = settings;
  return true;
}

bool LoopbackPort::GetTimeouts(CommTimeouts& out) {
  if (!open_) return false;
  out = timeouts_;
  return true;
}

bool LoopbackPort::SetTimeouts(const CommTimeouts& timeouts) {
  if (!open_) return false;
  timeouts_ = timeouts;
  return true;
}

void LoopbackPort::Send(const uint8_t* data, size_t count, int64_t atMs, double msPerByte) {
  for (size_t i = 0; i < count; ++i) {
    const auto at = atMs + static_cast<int64_t>(std::llround(static_cast<double>(i) * msPerByte));
    // A line delivers in order: a byte never overtakes the one before it.
    const int64_t floor = pending_.empty() ? at : std::max(at, pending_.back().atMs);
    pending_.push_back({data[i], floor});
  }
}

int LoopbackPort::Read(uint8_t* buffer, int maximum) {
  if (!open_ || maximum <= 0) return 0;
  const int64_t start = clock_.MonotonicMs();
  const int64_t deadline = start +
                           static_cast<int64_t>(maximum) * timeouts_.readTotalTimeoutMultiplier +
                           timeouts_.readTotalTimeoutConstant;
  device_->Poll(deadline, *this);
  int count = 0;
  int64_t lastAt = start;
  while (count < maximum && !pending_.empty() && pending_.front().atMs <= deadline) {
    buffer[count++] = pending_.front().byte;
    lastAt = std::max(lastAt, pending_.front().atMs);
    pending_.pop_front();
  }
  clock_.SleepUntil(count == maximum ? lastAt : deadline);
  return count;
}

int LoopbackPort::Write(const uint8_t* data, int count) {
  if (!open_ || count <= 0) return 0;
  const int64_t now = clock_.MonotonicMs();
  device_->Poll(now, *this);
  device_->Receive(data, static_cast<size_t>(count), settings_.baudRate, now, *this);
  return count;
}

}  // namespace klx
