#pragma once
// The "Meta table handler": every request to a generic serial card is a chain of a command,
// the polling of the card's status once a second, and the next step. The object holds the
// lines the window's list shows and the state of its buttons, so a window, the command-line
// tool and the tests drive the same chains (`Tick` once a second, or `RunToEnd` on the clock).
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cards/meta_table.h"
#include "link/logger_link.h"
#include "platform/clock.h"
#include "platform/host.h"

namespace klx {

// The text of a card status: "Idle" and the progress states up to 16, the errors from 128.
const char* GenericCardStatusText(int status);
// The status in a reply to "!X0000": two hexadecimal digits four characters before "MTS".
std::optional<int> ParseGenericCardStatus(std::string_view reply);

// The 1-based channel numbers of the connected logger whose letter is 'B'.
std::vector<int> GenericCardChannels(const LoggerState& state);

// Opening the meta table or MMC/SD window: configuration, capabilities and status afresh; a
// logger that is logging or enabled is refused with its message. False when refused or the
// logger did not answer.
bool MetaTableAccessAllowed(LoggerLink& logger);

// The result of reading the card's table.
struct MetaTableRead {
  bool ok = false;
  std::string table;  // the bytes before the end-of-text byte
  std::string error;  // the failure line when not ok
};
// Sends the read command for `channel` and collects the table up to its end-of-text byte (and
// check digits from card version 4 on), at most 16384 bytes, ending when the card has sent
// nothing for `idleMs`.
MetaTableRead ReadMetaTable(LoggerLink& logger, int channel, int idleMs = 3000);

class MetaTableHandler {
 public:
  static constexpr int kPollTries = 30;
  // How often a "Sensor configuration failed" status during a table send starts the wait again.
  static constexpr int kConfigurationRestarts = 3;

  enum class Outcome { None, Success, Failed, Aborted };

  MetaTableHandler(LoggerLink& logger, Clock& clock, Host& host);

  // Channel list: the generic card channels ("No generic card" when there is none).
  std::vector<int> Channels() const { return GenericCardChannels(logger_.state); }
  bool HasGenericCard() const { return !Channels().empty(); }
  int channel = 0;  // selected, 1-based

  // The commands of the window. Each starts a chain; false when it was refused at once.
  bool SetTable(const std::filesystem::path& file);
  bool GetTable();
  bool SaveTable(const std::filesystem::path& file);
  bool Configure();
  // Live readings through the card: `fetchChannel` 0 for all channels.
  bool GetData(int fetchChannel);
  void Abort();
  void Clear() { lines_.clear(); }

  // One second has passed: the next poll try or the next read of a fetch.
  void Tick();
  bool Busy() const { return step_ != Step::None; }
  // Ticks once a second on the clock until the chain ends.
  void RunToEnd();

  const std::vector<std::string>& Lines() const { return lines_; }
  bool abortEnabled = false;
  bool saveEnabled = false;
  Outcome outcome = Outcome::None;
  int lastStatus = -1;       // last status the card reported (-1: none)
  std::string tableRead;     // the table of the last successful read
  // Milliseconds between ticks as the window's timer runs them.
  static constexpr int kTickMs = 1000;

 private:
  enum class Step {
    None,
    SendAfterPoll,
    VerifyAfterPoll,
    ReadAfterPoll,
    ConfigureAfterPoll,
    ConfiguredAfterPoll,
    Fetching,
  };
  void Add(std::string line);
  void StartPoll(Step next);
  void PollOnce();
  void RunStep();
  void Finish(Outcome o);
  bool CheckChannel();
  void SendTable();
  void Verify();
  void ReadForList();
  void FetchTick();

  LoggerLink& logger_;
  Clock& clock_;
  Host& host_;
  std::vector<std::string> lines_;
  Step step_ = Step::None;
  bool polling_ = false;
  bool done_ = false;
  int tries_ = 0;
  int restarts_ = 0;
  std::optional<MetaTableFile> file_;
  int fetchTicks_ = 0;
  // The session's fetch mode before "Get data from sensor", put back when it ends.
  bool restoreFetch_ = false, savedFetchAll_ = false;
  int savedFetchChannel_ = 0;
};

}  // namespace klx
