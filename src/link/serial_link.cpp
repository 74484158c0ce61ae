#include "link/serial_link.h"

#include <algorithm>

namespace klx {

SerialLink::SerialLink(TransportRegistry& transports, PortMap& ports, Clock& clock)
    : transports_(transports), ports_map_(ports), clock_(clock) {}

SerialLink::~SerialLink() {
  CloseSerialPort(PortSlot::Logger);
  CloseSerialPort(PortSlot::Gps);
}

void SerialLink::ScanSerialPorts() {
  for (int n = 1; n <= kMaxPort; ++n) {
    PortEntry& entry = portTable_[static_cast<size_t>(n)];
    entry.available = false;
    const std::string device = ports_map_.DeviceFor(n);
    if (device.empty()) continue;
    auto port = transports_.Create(device);
    if (!port || !port->Open()) continue;
    entry.available = true;
    entry.saved = port->GetLineSettings(entry.settings);
    port->Close();
  }
}

bool SerialLink::PortAvailable(int portNumber) const {
  return portNumber >= 1 && portNumber <= kMaxPort &&
         portTable_[static_cast<size_t>(portNumber)].available;
}

CommTimeouts SerialLink::OpenTimeouts(int baudRate, RtsControl rts) {
  CommTimeouts t;
  const int b = std::max(baudRate, 1);
  const uint32_t perChar = std::max<uint32_t>(1, static_cast<uint32_t>((10000 + b - 1) / b));
  t.readIntervalTimeout = 0;
  t.readTotalTimeoutMultiplier = perChar;
  t.readTotalTimeoutConstant = rts == RtsControl::Disable ? 20 : 100;
  t.writeTotalTimeoutMultiplier = perChar;
  t.writeTotalTimeoutConstant = 20;
  return t;
}

CommTimeouts SerialLink::RateChangeTimeouts(int baudRate, RtsControl rts) {
  CommTimeouts t;
  const double b = std::max(baudRate, 1);
  const uint32_t perChar = std::max<uint32_t>(1, static_cast<uint32_t>(10000.0 / b + 0.99));
  t.readIntervalTimeout = 0;
  t.readTotalTimeoutMultiplier = perChar;
  t.readTotalTimeoutConstant = rts == RtsControl::Disable ? 60 : 100;
  t.writeTotalTimeoutMultiplier = perChar;
  t.writeTotalTimeoutConstant = 20;
  return t;
}

bool SerialLink::OpenSerialPort(PortSlot slot, int portNumber, int baudRate, RtsControl rts) {
  const size_t i = Index(slot);
  if (ports_[i]) CloseSerialPort(slot);
  const std::string device = ports_map_.DeviceFor(portNumber);
  if (device.empty()) return false;
  auto port = transports_.Create(device);
  if (!port || !port->Open()) return false;
  // A port the start-up scan did not open is handed back as it was found the first time.
  PortEntry& entry = portTable_[static_cast<size_t>(portNumber)];
  if (portNumber >= 1 && portNumber <= kMaxPort && !entry.saved)
    entry.saved = port->GetLineSettings(entry.settings);

  working_.baudRate = baudRate;
  working_.byteSize = 8;
  working_.parity = false;
  working_.stopBits = 1;
  working_.outxCtsFlow = false;
  working_.outxDsrFlow = false;
  working_.dtrControl = DtrControl::Disable;
  working_.rtsControl = rts;
  working_.outX = false;
  working_.inX = false;
  port->SetLineSettings(working_);
  port->SetTimeouts(OpenTimeouts(baudRate, rts));

  ports_[i] = std::move(port);
  openPortNumber_[i] = portNumber;
  rts_[i] = rts;
  return true;
}

void SerialLink::CloseSerialPort(PortSlot slot) {
  const size_t i = Index(slot);
  if (!ports_[i]) return;
  const int n = openPortNumber_[i];
  if (n >= 1 && n <= kMaxPort && portTable_[static_cast<size_t>(n)].saved) {
    LineSettings restore = portTable_[static_cast<size_t>(n)].settings;
    restore.rtsControl = RtsControl::Disable;
    ports_[i]->SetLineSettings(restore);
  }
  ports_[i]->Close();
  ports_[i].reset();
  openPortNumber_[i] = 0;
}

bool SerialLink::IsOpen(PortSlot slot) const {
  return ports_[Index(slot)] != nullptr;
}

bool SerialLink::SetLinkBaudRate(int baudRate) {
  SerialPort* port = ports_[Index(PortSlot::Logger)].get();
  if (!port) return false;
  port->GetLineSettings(working_);
  working_.baudRate = baudRate;
  port->SetLineSettings(working_);
  CommTimeouts current;
  port->GetTimeouts(current);
  port->SetTimeouts(RateChangeTimeouts(baudRate, rts_[Index(PortSlot::Logger)]));
  return true;
}

int SerialLink::LinkRead(uint8_t* buffer, int maximum) {
  return LinkRead(PortSlot::Logger, buffer, maximum);
}

int SerialLink::LinkRead(PortSlot slot, uint8_t* buffer, int maximum) {
  if (radioDelay.enabled) WaitMilliseconds(radioDelay.ms);
  if (maximum < 0) maximum = 0;
  SerialPort* port = ports_[Index(slot)].get();
  const int count = port ? std::clamp(port->Read(buffer, maximum), 0, maximum) : 0;
  buffer[count] = 0;
  return count;
}

int SerialLink::LinkWriteText(std::string_view text) {
  const size_t end = text.find('\0');
  if (end != std::string_view::npos) text = text.substr(0, end);
  linkActivityCountdown = 10;
  SerialPort* port = ports_[Index(PortSlot::Logger)].get();
  if (!port || text.empty()) return 0;
  return port->Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

int SerialLink::LinkWriteBytes(const uint8_t* data, int count) {
  SerialPort* port = ports_[Index(PortSlot::Logger)].get();
  if (!port || count <= 0) return 0;
  return port->Write(data, count);
}

}  // namespace klx
