#pragma once
// A logger link on the loopback to a simulated logger (its profile editable), on a virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "link/logger_link.h"
#include "sim/sim_logger.h"
#include "sim/sim_transport.h"

namespace klx::test {

struct SimLinkFixture {
  explicit SimLinkFixture(const std::string& profileName,
                          const std::function<void(sim::SimProfile&)>& edit = {}) {
    sims = sim::RegisterSimTransport(transports, clock);
    sim::SimProfile profile;
    if (std::string error; !sim::LoadProfile(profileName, profile, error)) ADD_FAILURE() << error;
    if (edit) edit(profile);
    const bool ownClock = profile.clock.empty();
    simLogger = std::make_shared<sim::SimLogger>(std::move(profile));
    if (ownClock) simLogger->SetClock(clock.LocalTime(), clock.MonotonicMs());
    sims->Add("test", simLogger);
    link.loggerPort = ports.NumberFor("sim:test");
  }

  // Connection, capabilities and configuration, as a menu command does before its work.
  bool Connect() {
    if (!logger.ConnectLogger()) return false;
    logger.AssessCapabilities();
    return logger.CommGet(16) == 1;
  }

  int Heard(const std::string& prefix) const {  // commands heard that start with `prefix`
    const auto& log = simLogger->CommandLog();
    return static_cast<int>(std::count_if(
        log.begin(), log.end(), [&](const std::string& c) { return c.starts_with(prefix); }));
  }

  VirtualClock clock;
  TransportRegistry transports;
  PortMap ports;
  std::shared_ptr<sim::SimLoggers> sims;
  std::shared_ptr<sim::SimLogger> simLogger;
  SerialLink link{transports, ports, clock};
  RecordingHost host;
  DeploymentParameters deployment;
  LoggerLink logger{link, host, deployment};
};

}  // namespace klx::test
