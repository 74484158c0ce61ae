#pragma once
// One run of the command-line tool: the session on the real clock with the terminal as its host,
// the simulated loggers reachable as "sim:" ports, and the settings of the program directory read.
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/host.h"
#include "session/session.h"
#include "terminal_host.h"

namespace klx::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// What --yes and --no say to every question (nothing: ask, or take the safe default).
inline std::optional<Answer> ForcedAnswer(bool yes, bool no) {
  if (yes) return Answer::Yes;
  if (no) return Answer::No;
  return std::nullopt;
}

class CliRun {
 public:
  // `directory`: the program directory (empty: the current one).
  CliRun(const std::string& directory, std::optional<Answer> answer, bool quiet);

  // Makes `port` the logger port (the settings file's port when empty). False, with the message
  // on stderr, when it cannot be given a port number.
  bool UsePort(const std::string& port);

  bool ok = true;  // the settings and data folders could be read and made
  RealClock clock;
  TerminalHost host;
  Session session;
};

}  // namespace klx::cli
