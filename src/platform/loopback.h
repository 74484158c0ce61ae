#pragma once
// An in-process serial line: the host side is a SerialPort, the far side a LineDevice (the
// simulated logger, a simulated GPS). Time comes from a Clock, so with a VirtualClock a read
// that times out costs no wall time and every exchange is deterministic.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/serial_port.h"

namespace klx {

// Where a device puts the bytes it sends to the host.
class LineOutput {
 public:
  virtual ~LineOutput() = default;
  // Queues bytes for the host; the i-th byte becomes readable at atMs + i * msPerByte.
  virtual void Send(const uint8_t* data, size_t count, int64_t atMs, double msPerByte = 0.0) = 0;
  void Send(std::string_view text, int64_t atMs, double msPerByte = 0.0) {
    Send(reinterpret_cast<const uint8_t*>(text.data()), text.size(), atMs, msPerByte);
  }
  // Drops everything queued and not yet read (a device that goes silent or resets).
  virtual void DiscardPending() = 0;
};

class LineDevice {
 public:
  virtual ~LineDevice() = default;
  // The host wrote these bytes at nowMs with its line rate set to hostBaud.
  virtual void Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
                       LineOutput& out) = 0;
  // Lets the device emit what it would send on its own up to untilMs (records of a running
  // real-time output, the end of an erase). Output must be stamped at its own times.
  virtual void Poll(int64_t untilMs, LineOutput& out) {
    (void)untilMs;
    (void)out;
  }
  // The host opened or closed its end of the line.
  virtual void HostOpened(int64_t nowMs) { (void)nowMs; }
  virtual void HostClosed(int64_t nowMs) { (void)nowMs; }
};

class LoopbackPort final : public SerialPort, private LineOutput {
 public:
  LoopbackPort(std::string name, std::shared_ptr<LineDevice> device, Clock& clock);
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  bool GetLineSettings(LineSettings& out) override;
  bool SetLineSettings(const LineSettings& settings) override;
  bool GetTimeouts(CommTimeouts& out) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  int Read(uint8_t* buffer, int maximum) override;
  int Write(const uint8_t* data, int count) override;
  std::string Name() const override { return name_; }

  LineDevice& Device() { return *device_; }

 private:
  void Send(const uint8_t* data, size_t count, int64_t atMs, double msPerByte) override;
  void DiscardPending() override { pending_.clear(); }

  struct Pending {
    uint8_t byte;
    int64_t atMs;
  };
  std::string name_;
  std::shared_ptr<LineDevice> device_;
  Clock& clock_;
  bool open_ = false;
  LineSettings settings_;
  CommTimeouts timeouts_;
  std::deque<Pending> pending_;
};

}  // namespace klx
