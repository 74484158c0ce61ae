#pragma once
// A logger link on the in-process loopback to a simulated logger, on a virtual clock. The
// profile can be edited before the logger is made from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "records/deployment_parameters.h"
#include "link/logger_link.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/port_map.h"
#include "sim/sim_logger.h"
#include "sim/sim_profile.h"
#include "sim/sim_transport.h"

namespace klx::test {

struct SimLinkFixture {
  explicit SimLinkFixture(const std::string& profileName,
                          const std::function<void(sim::SimProfile&)>& edit = {}) {
    sims = sim::RegisterSimTransport(transports, clock);
    sim::SimProfile profile;
    std::string error;
    if (!sim::LoadProfile(profileName, profile, error)) ADD_FAILURE() << error;
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

  // How many commands heard so far start with `prefix`.
  int Heard(const std::string& prefix) const {
    const auto& log = simLogger->CommandLog();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& c) {
      return c.compare(0, prefix.size(), prefix) == 0;
    }));
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
