// Placeholder until the libserialport transport lands: every open fails.
#include "platform/libserialport_port.h"

namespace klx {
LibSerialPort::LibSerialPort(std::string device) : device_(std::move(device)) {}
LibSerialPort::~LibSerialPort() { Close(); }
bool LibSerialPort::Open() { return false; }
void LibSerialPort::Close() {}
bool LibSerialPort::IsOpen() const { return false; }
bool LibSerialPort::GetLineSettings(LineSettings&) { return false; }
bool LibSerialPort::SetLineSettings(const LineSettings&) { return false; }
bool LibSerialPort::GetTimeouts(CommTimeouts&) { return false; }
bool LibSerialPort::SetTimeouts(const CommTimeouts&) { return false; }
int LibSerialPort::Read(uint8_t*, int) { return 0; }
int LibSerialPort::Write(const uint8_t*, int) { return 0; }
std::vector<std::string> EnumerateSerialDevices() { return {}; }
}  // namespace klx
