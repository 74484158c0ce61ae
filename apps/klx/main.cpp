// klx: the command-line front end for scripting and batch work.
#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "platform/clock.h"
#include "platform/libserialport_port.h"
#include "session/session.h"
#include "shell/status.h"
#include "sim/sim_transport.h"
#include "terminal_host.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Common {
  std::string directory;
  std::string port;
  bool yes = false;
  bool no = false;
  bool quiet = false;
};

struct Program {
  explicit Program(const Common& common)
      : host(common.yes ? std::optional<klx::Answer>(klx::Answer::Yes)
                        : (common.no ? std::optional<klx::Answer>(klx::Answer::No)
                                     : std::nullopt),
             common.quiet),
        session(host, clock,
                common.directory.empty() ? std::filesystem::current_path()
                                         : std::filesystem::path(common.directory),
                klx::EnumerateSerialDevices()) {
    klx::sim::RegisterSimTransport(session.transports, clock);
    session.ReadSettings();
  }

  // Makes --port the logger port; the settings file's port otherwise.
  bool UsePort(const std::string& port) {
    if (port.empty()) return true;
    std::string error;
    if (session.SelectPort(port, &error)) return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }

  klx::RealClock clock;
  klx::cli::TerminalHost host;
  klx::Session session;
};

int Ports(const Common& common, bool probe) {
  Program p(common);
  // Opening a port changes its line settings; only do it when asked.
  if (probe) p.session.link.ScanSerialPorts();
  bool any = false;
  for (const auto& [number, device] : p.session.ports.Entries()) {
    const char* note = !probe ? "" : (p.session.link.PortAvailable(number) ? "  (opens)"
                                                                          : "  (cannot be opened)");
    std::printf("COM%-2d %s%s\n", number, device.c_str(), note);
    any = true;
  }
  if (!any) std::printf("No serial ports found.\n");
  std::printf("Simulated loggers: use --port sim:<model>, for example sim:VS-330.\n");
  return kExitOk;
}

int Identify(const Common& common) {
  Program p(common);
  if (!p.UsePort(common.port)) return kExitUsage;
  klx::LoggerLink& logger = p.session.logger;
  if (!logger.ConnectCommand()) return kExitFailed;
  logger.AssessCapabilities();
  const int configuration = logger.CommGet(16);
  for (const auto& line : klx::DescribeLogger(logger, p.session.link.loggerPort,
                                              p.session.link.currentBaudRate))
    std::printf("%s\n", line.c_str());
  return configuration == 1 ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");  // files and logger commands always use the C number format

  CLI::App app{"KLX logger host software: command-line tool"};
  app.require_subcommand(1);
  Common common;
  app.add_option("--dir", common.directory,
                 "Program directory holding klx.ini and the data folders (default: current)");
  app.add_flag("--yes", common.yes, "Answer yes to every question");
  app.add_flag("--no", common.no, "Answer no to every question");
  app.add_flag("-q,--quiet", common.quiet, "Do not print status messages");

  auto* ports = app.add_subcommand("ports", "List port numbers and the devices behind them");
  bool probe = false;
  ports->add_flag("--probe", probe, "Try to open each port and say whether it opens");
  auto* identify = app.add_subcommand("identify", "Identify the logger: model, firmware, "
                                                  "serial number, capabilities, channels");
  identify->add_option("--port", common.port, "COM<n>, a device path or sim:<model>");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (common.yes && common.no) {
    std::fprintf(stderr, "--yes and --no exclude each other\n");
    return kExitUsage;
  }
  if (*ports) return Ports(common, probe);
  if (*identify) return Identify(common);
  return kExitUsage;
}
