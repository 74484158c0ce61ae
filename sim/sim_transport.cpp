#include "sim/sim_transport.h"

namespace klx::sim {

SimLoggers::SimLoggers(klx::Clock& clock, std::string profileDirectory)
    : clock_(clock), directory_(std::move(profileDirectory)) {}

std::shared_ptr<SimLogger> SimLoggers::Logger(std::string_view name, std::string* error) {
  if (const auto it = loggers_.find(name); it != loggers_.end()) return it->second;
  SimProfile profile;
  std::string message;
  if (!LoadProfile(name, profile, message, directory_)) {
    if (error) *error = message;
    return nullptr;
  }
  auto logger = std::make_shared<SimLogger>(std::move(profile));
  if (logger->Profile().clock.empty()) logger->SetClock(clock_.LocalTime(), clock_.MonotonicMs());
  loggers_.emplace(std::string(name), logger);
  return logger;
}

void SimLoggers::Add(std::string name, std::shared_ptr<SimLogger> logger) {
  loggers_[std::move(name)] = std::move(logger);
}

std::shared_ptr<SimGps> SimLoggers::Gps(std::string_view name) {
  if (const auto it = gps_.find(name); it != gps_.end()) return it->second;
  std::optional<SimGps::Mode> mode;
  if (name == "GPS") mode = SimGps::Mode::Gga;
  if (name == "GPS-GLL") mode = SimGps::Mode::Gll;
  if (name == "GPS-RMC") mode = SimGps::Mode::Rmc;
  if (!mode) return nullptr;
  auto gps = std::make_shared<SimGps>(*mode);
  gps->SetClock(clock_.LocalTime(), clock_.MonotonicMs());
  gps_.emplace(std::string(name), gps);
  return gps;
}

std::unique_ptr<klx::SerialPort> SimLoggers::MakePort(std::string_view name) {
  if (auto gps = Gps(name))
    return std::make_unique<klx::LoopbackPort>("sim:" + std::string(name), std::move(gps), clock_);
  // A LoopbackPort without a device fails to open, which is how a bad name shows.
  return std::make_unique<klx::LoopbackPort>("sim:" + std::string(name), Logger(name), clock_);
}

std::shared_ptr<SimLoggers> RegisterSimTransport(klx::TransportRegistry& registry,
                                                 klx::Clock& clock) {
  auto loggers = std::make_shared<SimLoggers>(clock);
  registry.Register("sim:", [loggers](std::string_view rest) { return loggers->MakePort(rest); });
  return loggers;
}

}  // namespace klx::sim
