#pragma once
// The "sim:" transport: "sim:VS-330" opens the simulated logger of the profile VS-330 (from the
// profile directory), "sim:/path/to/my.profile" one described by a file. Every port made for the
// same name talks to the same SimLogger, so a host that reopens the port at each baud rate it
// tries, or reconnects later, finds the logger in the state it left it.
// "sim:GPS", "sim:GPS-GLL" and "sim:GPS-RMC" open a simulated GPS receiver instead (GGA, GLL or
// RMC-only sentences, see sim_gps.h), likewise one per name.
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/loopback.h"
#include "platform/serial_port.h"
#include "sim/sim_gps.h"
#include "sim/sim_logger.h"

namespace klx::sim {

// The loggers behind the "sim:" names, made on first use.
class SimLoggers {
 public:
  SimLoggers(klx::Clock& clock, std::string profileDirectory = KLX_SIM_PROFILE_DIR);
  // The logger for a name (without "sim:"); nullptr with error when the profile cannot be
  // loaded. A logger whose profile gives no clock starts at the clock's local time.
  std::shared_ptr<SimLogger> Logger(std::string_view name, std::string* error = nullptr);
  // Puts a logger built in code under a name (replaces one made before).
  void Add(std::string name, std::shared_ptr<SimLogger> logger);
  // The GPS receiver behind "GPS", "GPS-GLL" or "GPS-RMC"; nullptr for other names. Its clock
  // starts at the clock's local time.
  std::shared_ptr<SimGps> Gps(std::string_view name);
  // A port onto the named logger or GPS; a port whose profile cannot be loaded fails to open.
  std::unique_ptr<klx::SerialPort> MakePort(std::string_view name);

 private:
  klx::Clock& clock_;
  std::string directory_;
  std::map<std::string, std::shared_ptr<SimLogger>, std::less<>> loggers_;
  std::map<std::string, std::shared_ptr<SimGps>, std::less<>> gps_;
};

// Registers "sim:" with the registry. The returned object (shared with the factory) gives
// tests the logger behind a name.
std::shared_ptr<SimLoggers> RegisterSimTransport(klx::TransportRegistry& registry,
                                                 klx::Clock& clock);

}  // namespace klx::sim
