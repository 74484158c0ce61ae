#pragma once
// The lowest layer of the logger link: the logger port and the GPS port, opened with the fixed
// line settings the loggers expect (8 data bits, no parity, 1 stop bit, no flow control, DTR
// low) and the total read time-outs on which the command protocol's timing rests.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/port_map.h"
#include "platform/serial_port.h"

namespace klx {

enum class PortSlot { Logger = 0, Gps = 1 };

class SerialLink {
 public:
  static constexpr std::array<int, 5> kBaudTable = {1200, 2400, 4800, 9600, 19200};
  static constexpr int kMaxPort = 16;

  SerialLink(TransportRegistry& transports, PortMap& ports, Clock& clock);
  ~SerialLink();
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // Tries every port number once, marks those that open as available and keeps their line
  // settings so that closing hands a port back as it was found.
  void ScanSerialPorts();
  bool PortAvailable(int portNumber) const;

  // Opens the port into the slot (closing what the slot held), applies the line settings and
  // the time-outs for the baud rate. False when the device cannot be opened.
  bool OpenSerialPort(PortSlot slot, int portNumber, int baudRate, RtsControl rts);
  // Restores the port's saved line settings with RTS low and closes it.
  void CloseSerialPort(PortSlot slot);
  bool IsOpen(PortSlot slot) const;
  // Changes the rate of the open logger port; false when it is not open.
  bool SetLinkBaudRate(int baudRate);

  // Reads at most `maximum` bytes from the logger port; buffer[count] is set to 0, so the buffer
  // must hold maximum + 1 bytes. Returns the count (0 on time-out or a closed port).
  int LinkRead(uint8_t* buffer, int maximum);
  int LinkRead(PortSlot slot, uint8_t* buffer, int maximum);
  // Writes the text up to (not including) its first zero byte; restarts the activity countdown.
  int LinkWriteText(std::string_view text);
  // Writes a binary block of exactly `count` bytes.
  int LinkWriteBytes(const uint8_t* data, int count);
  void WaitMilliseconds(int64_t ms) { clock_.SleepMs(ms); }

  // The once-a-second tick: counts the activity countdown down to 0.
  void TickSecond() {
    if (linkActivityCountdown > 0) --linkActivityCountdown;
  }

  // The time-outs a port of this rate gets when opened, and after a rate change.
  static CommTimeouts OpenTimeouts(int baudRate, RtsControl rts);
  static CommTimeouts RateChangeTimeouts(int baudRate, RtsControl rts);

  // Port the logger is on (1..16), and the GPS port (-1 before the settings were read, 0 none).
  int loggerPort = 1;
  int gpsPort = -1;
  int gpsBaudRate = 4800;
  int baudIndex = 4;
  int currentBaudRate = 19200;
  struct RadioDelay {
    bool enabled = false;
    int ms = 0;
  } radioDelay;
  int linkActivityCountdown = 0;

  // For tests and diagnostics: the device name behind a slot, and its port object.
  SerialPort* Port(PortSlot slot) { return ports_[Index(slot)].get(); }
  Clock& clock() { return clock_; }

 private:
  static size_t Index(PortSlot slot) { return static_cast<size_t>(slot); }
  struct PortEntry {
    bool available = false;
    bool saved = false;
    LineSettings settings;
  };
  TransportRegistry& transports_;
  PortMap& ports_map_;
  Clock& clock_;
  std::array<PortEntry, kMaxPort + 1> portTable_{};
  LineSettings working_;
  std::array<std::unique_ptr<SerialPort>, 2> ports_;
  std::array<int, 2> openPortNumber_{0, 0};
  std::array<RtsControl, 2> rts_{RtsControl::Disable, RtsControl::Disable};
};

}  // namespace klx
