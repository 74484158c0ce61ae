#include "platform/libserialport_port.h"
#include "platform/serial_port.h"

namespace klx {

void TransportRegistry::Register(std::string prefix, Factory factory) {
  factories_[std::move(prefix)] = std::move(factory);
}

bool TransportRegistry::HasPrefix(std::string_view name) const {
  for (const auto& [prefix, factory] : factories_)
    if (name.substr(0, prefix.size()) == prefix) return true;
  return false;
}

std::unique_ptr<SerialPort> TransportRegistry::Create(std::string_view name) const {
  for (const auto& [prefix, factory] : factories_)
    if (name.substr(0, prefix.size()) == prefix) return factory(name.substr(prefix.size()));
  return std::make_unique<LibSerialPort>(std::string(name));
}

}  // namespace klx
