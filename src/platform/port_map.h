#pragma once
// Port numbers COM1..COM16 and the devices behind them. "klxports.ini" in the program
// directory holds lines "COM3=/dev/ttyUSB0"; numbers without a line are given to the devices
// libserialport enumerates, in sorted order. A name that is not a COM number (a device path, a
// "sim:" name) is given the lowest free number when first used, so messages that say
// "COM%1d" stay meaningful.
#include <map>
#include <string>
#include <vector>

namespace klx {

class PortMap {
 public:
  static constexpr int kMaxPort = 16;
  static constexpr const char* kFileName = "klxports.ini";

  // Reads the overrides file of the directory (a missing file is no error), then numbers the
  // enumerated devices. Bad lines are ignored.
  void Load(const std::string& programDirectory, const std::vector<std::string>& devices);
  // The device (or transport name) of a port number; empty when nothing is mapped.
  std::string DeviceFor(int number) const;
  // The number of "COM<n>", a mapped device path or transport name; unmapped names get the
  // lowest free number. 0 when the name is empty or all sixteen numbers are taken.
  int NumberFor(const std::string& name);
  // Every mapped number with its device, in number order.
  std::vector<std::pair<int, std::string>> Entries() const;

 private:
  std::map<int, std::string> map_;
};

}  // namespace klx
