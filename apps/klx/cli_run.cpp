#include "cli_run.h"

#include <cstdio>
#include <filesystem>

#include "platform/libserialport_port.h"
#include "sim/sim_transport.h"

namespace klx::cli {

CliRun::CliRun(const std::string& directory, std::optional<Answer> answer, bool quiet)
    : host(answer, quiet),
      session(
          host, clock,
          directory.empty() ? std::filesystem::current_path() : std::filesystem::path(directory),
          EnumerateSerialDevices()) {
  sim::RegisterSimTransport(session.transports, clock);
  std::string error;
  if (!session.ReadSettings(&error)) {
    std::fprintf(stderr, "Startup: %s\n", error.c_str());
    ok = false;
  }
}

bool CliRun::UsePort(const std::string& port) {
  if (port.empty()) return true;
  std::string error;
  if (session.SelectPort(port, &error)) return true;
  std::fprintf(stderr, "%s\n", error.c_str());
  return false;
}

ContextRun::ContextRun(const DeploymentCliContext& c, bool forceYes)
    : CliRun(c.directory ? *c.directory : std::string(),
             ForcedAnswer(forceYes || (c.yes && *c.yes), c.no && *c.no), c.quiet && *c.quiet) {
  if (ok && c.port && !c.port->empty() && !UsePort(*c.port)) usage = true;
}

}  // namespace klx::cli
