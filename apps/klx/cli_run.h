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

// The options shared by the subcommands (bound by the caller, read after parsing).
struct DeploymentCliContext {
  const std::string* directory = nullptr;  // --dir
  std::string* port = nullptr;             // --port (the subcommands add it too)
  bool* yes = nullptr;                     // --yes
  bool* no = nullptr;                      // --no
  bool* quiet = nullptr;                   // --quiet
};

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

// A run of one subcommand: the shared options applied, the port chosen.
class ContextRun : public CliRun {
 public:
  // `forceYes` answers yes whatever --yes says (a subcommand's own --yes).
  explicit ContextRun(const DeploymentCliContext& c, bool forceYes = false);
  // The exit status when the run could not be prepared, else kExitOk.
  int Prepared() const { return !ok ? kExitFailed : (usage ? kExitUsage : kExitOk); }

  bool usage = false;  // the port given could not be used
};

}  // namespace klx::cli
