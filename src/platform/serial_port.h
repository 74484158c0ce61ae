#pragma once
// A byte link with the line settings and total read time-outs the loggers expect.
//
// Read(buf, n) returns when n bytes have arrived, or when
//   n * readTotalMultiplier + readTotalConstant
// milliseconds have passed since the call, whichever comes first, and returns the count that
// arrived (0 on time-out). There is no background reader: replies are collected right after
// a command has been written.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace klx {

class Clock;

enum class RtsControl : uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };
enum class DtrControl : uint8_t { Disable = 0, Enable = 1, Handshake = 2 };

struct LineSettings {
  int baudRate = 9600;
  int byteSize = 8;
  bool parity = false;  // no parity when false
  int stopBits = 1;
  bool outxCtsFlow = false;
  bool outxDsrFlow = false;
  DtrControl dtrControl = DtrControl::Disable;
  RtsControl rtsControl = RtsControl::Disable;
  bool outX = false;
  bool inX = false;
  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

struct CommTimeouts {
  uint32_t readIntervalTimeout = 0;
  uint32_t readTotalTimeoutMultiplier = 0;
  uint32_t readTotalTimeoutConstant = 0;
  uint32_t writeTotalTimeoutMultiplier = 0;
  uint32_t writeTotalTimeoutConstant = 0;
  friend bool operator==(const CommTimeouts&, const CommTimeouts&) = default;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual bool GetLineSettings(LineSettings& out) = 0;
  virtual bool SetLineSettings(const LineSettings& settings) = 0;
  virtual bool GetTimeouts(CommTimeouts& out) = 0;
  virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
  // Blocking read bounded by the total read time-out; returns the count received.
  virtual int Read(uint8_t* buffer, int maximum) = 0;
  // Writes all bytes (bounded by the write time-out); returns the count written.
  virtual int Write(const uint8_t* data, int count) = 0;
  virtual std::string Name() const = 0;
};

// Makes the port object for a name. A name is a device path ("/dev/ttyUSB0") or carries a
// transport prefix ("sim:VS-330"); the prefix picks the transport, so nothing above this layer
// knows which one it talks to.
class TransportRegistry {
 public:
  using Factory = std::function<std::unique_ptr<SerialPort>(std::string_view rest)>;
  // Registers a transport for names that begin with prefix (including its colon).
  void Register(std::string prefix, Factory factory);
  // A port object (not yet open) for the name; device paths get the libserialport transport.
  std::unique_ptr<SerialPort> Create(std::string_view name) const;
  bool HasPrefix(std::string_view name) const;

 private:
  std::map<std::string, Factory, std::less<>> factories_;
};

}  // namespace klx
