#pragma once
// SerialPort over a real serial device, through libserialport. Pseudo-terminals, which
// libserialport refuses to open (they have no entry in /sys/class/tty), are driven through the
// same class with POSIX termios calls, so the simulator on a pty is reached by the real path.
#include <string>
#include <vector>

#include "platform/serial_port.h"

struct sp_port;

namespace klx {

class LibSerialPort final : public SerialPort {
 public:
  explicit LibSerialPort(std::string device);
  ~LibSerialPort() override;
  LibSerialPort(const LibSerialPort&) = delete;
  LibSerialPort& operator=(const LibSerialPort&) = delete;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override;
  bool GetLineSettings(LineSettings& out) override;
  bool SetLineSettings(const LineSettings& settings) override;
  bool GetTimeouts(CommTimeouts& out) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  int Read(uint8_t* buffer, int maximum) override;
  int Write(const uint8_t* data, int count) override;
  std::string Name() const override { return device_; }

 private:
  std::string device_;
  sp_port* port_ = nullptr;  // libserialport handle, when it opened the device
  int fd_ = -1;              // termios descriptor, when libserialport could not
  LineSettings settings_;
  CommTimeouts timeouts_;
};

// The serial devices of this machine, as libserialport lists them, sorted by name.
std::vector<std::string> EnumerateSerialDevices();

}  // namespace klx
