#pragma once
// The "MMC/SD Memory" window's work: the refresh (size, type, first and last file of the card,
// one command at a time, each waiting up to 30 s for the card's marker) and the contents of one
// file. Stepped once a second like the meta table handler.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/logger_link.h"
#include "platform/clock.h"
#include "platform/host.h"

namespace klx {

// The menu command's check: the logger must keep the accessory-card table and report a memory
// card. Shows the status-line error and returns false otherwise.
bool MmcSdSupported(LoggerLink& logger);
// Opening the window: configuration, capabilities and status afresh; a logging or enabled
// logger is refused with its message.
bool MmcSdAccessAllowed(LoggerLink& logger);

// "!GCC%08d" for a file number; nullopt outside 0..99999999.
std::optional<std::string> MmcFileCommand(int64_t fileNumber);

class MmcSdCard {
 public:
  static constexpr int kWaitSeconds = 30;
  static constexpr int kFileReplyLimit = 300;

  MmcSdCard(LoggerLink& logger, Clock& clock);

  // Starts the refresh (the window runs it when it opens and on "Refresh").
  void Refresh();
  void Tick();
  bool Busy() const { return step_ >= 0; }
  void RunToEnd();

  // "Get contents of:": the file's contents as read (up to 300 bytes), added to the list.
  // nullopt (with the line) for a number out of range or no answer.
  std::optional<std::string> FileContents(int64_t fileNumber);

  void Clear() { lines_.clear(); }
  const std::vector<std::string>& Lines() const { return lines_; }

  bool refreshEnabled = true;
  bool ok = false;  // the last refresh read all four items
  uint32_t sizeKb = 0;
  std::string type = "None found";
  std::string firstFile = "Unknown";
  std::string lastFile = "Unknown";
  std::string fileNumberField;  // the "Get contents of:" field
  int64_t worstWaitMs = 0;      // the longest any step of the refresh waited

 private:
  void SendStep();
  void EndStep();
  void End(bool success);

  LoggerLink& logger_;
  Clock& clock_;
  std::vector<std::string> lines_;
  int step_ = -1;  // 0..3 while refreshing
  int seconds_ = 0;
  int64_t stepStart_ = 0;
  std::string reply_;
};

}  // namespace klx
