#pragma once
// The accessory cards of the simulated logger and the tables a configuration script changes.
//
// Generic serial card (a channel of letter "B"; version = capability entry 23). Commands, nn the
// channel number (1-based) as two hexadecimal digits:
//   "!X0000" -> "%02X%02XMTS\r\n": the card status, then the channel of the last request
//   "!X02nn" (version below 4) / "!X05nn" (version 4 on): the bytes that follow are the table,
//           up to and including ETX (3); from version 4 two hexadecimal digits follow the ETX,
//           chosen so that the 8-bit sum of the table bytes, the ETX and their value is 0xA5.
//           No reply. Typographic quotes (147, 148) are stored as plain quotes (34).
//   "!X01nn" / "!X04nn" -> the stored table, ETX and (version 4 on) its two checksum digits
//   "!X03nn" configures the sensor from the stored table
//   "!XAA00" aborts: a request under way (or a table being received, when these six bytes
//           arrive inside it) ends in 134; an idle card stays idle
//   A card of version 4 or later does not know "!X01"/"!X02", an older one not "!X04"/"!X05".
// Status walk: 7 while a table is received; after its end 9 (version 4 on), 8, 10, 11, 12, 13,
// 14, then 0; a configuration 15, 16, then 0. Each state lasts card_step_ms. Failures:
//   128 a request on a channel that is not "B" (a table sent to it is swallowed up to its end)
//   131 more than 5000 ms between two bytes of a table (the card gives up; the byte that came
//       late starts a command)
//   132 a table longer than card_capacity (kept bytes are dropped, the old table stays)
//   133 the sensor configuration failed (fault keys)
//   134 aborted by the host
//   135 checksum wrong or not two hexadecimal digits (a byte that is not a digit ends the
//       table and starts a command)
// A failure is reported by the next status query, after which the card is idle again (except
// under fault.card_status_133).
//
// MMC/SD card ("mmc = yes"):
//   "!G00" -> "%08XMMS\r\n" size in kilobytes, after mmc.delay_ms
//   "!G04" -> type text + "MMD\r\n"
//   "!G02" -> "%08d" first file number + "MMF\r\n", "!G03" -> the last + "MML\r\n"
//   "!GCC%08d" -> the first 300 bytes of that file ("File %08d not found\r\n" for another)
// Every "!G" command is four characters long except "!GCC" with its eight digits.
//
// Optode front end (a channel of letter "K" or "J" on a linear-memory logger), reached in
// through mode: "!3" and five characters (no reply) opens it for 60 s after the last packet.
// Packets begin with "~" and the address byte: the channel's number (1-based, as a byte or as
// an ASCII digit) or its second configuration byte when that is not 0. Replies echo "~" and
// the address byte:
//   "~" a 0x01 (or "1")         -> "~" a "FFFFF5\r\n" (presence)
//   "~" a "A" and 0/1 (byte or digit) -> "~" a "01\r\n" (EEPROM entry index selected)
//   "~" a "B" and 18 characters -> no reply; stores the entry (mode "01"/"02", fourteen "F",
//                                  "AB"/"AA")
//   "~" a 0x04 (or "4")         -> "~" a and the entry + "\r\n"
// Packets outside through mode, or to another address, get no answer at all.
//
// Tables of a linear-memory logger that a configuration script uses:
//   0000 identity: "KLX <model> %f <serial, six digits>" and a zero byte; the "A" reply is this
//        text with the firmware version in place of "%f". A write of up to 32 bytes replaces it
//        (the text ends at the first zero byte).
//   0200 capability block, 32 bytes: capability entry 0 (the mask) low byte first, then the low
//        byte of entries 1 to 28. A write must be 32 bytes; its first four bytes become the
//        mask that "!000" reports.
//   0800 modem configuration (loggers with modem control), 5 bytes: front porch and back porch
//        in 5 ms units, low byte first, then bit 0 active level and bit 1 inactive level. A
//        write of another length is refused with NAK.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_card_profile.h"
#include "sim/sim_profile.h"

namespace klx::sim {

inline constexpr int kNotCardCommand = -2;

class SimCards {
 public:
  // Sends bytes to the host at a time (the logger adds its reply delay).
  using ReplyFn = std::function<void(std::string bytes, int64_t atMs)>;

  // The cards of the profile's logger; the generic card's version is capability entry 23.
  explicit SimCards(const SimProfile& profile);

  // Length of the card command at the start of `in`: 0 when more bytes are needed,
  // kNotCardCommand when it is none of the card commands.
  static int CommandLength(const std::string& in);
  // Runs a card command; false when the logger does not know it. `channels` are the logger's
  // channels as its configuration table now lists them.
  bool Execute(const std::string& cmd, const std::vector<SimChannel>& channels, bool linear,
               int64_t nowMs, const ReplyFn& reply);
  // A byte while the generic card receives a table: true when the card took it.
  bool Take(uint8_t byte, int64_t nowMs);

  // State, for tests and demos.
  int GenericVersion() const { return version_; }
  int GenericStatus(int64_t nowMs);  // as the next status query would report it
  std::optional<std::string> MetaTable(int channel) const;  // stored bytes without the ETX
  std::string OptodeEntry() const { return optodeEntry_; }
  int OptodeMode() const;  // 1 saturation, 2 concentration, 0 unknown
  bool ThroughOpen(int64_t nowMs) const { return nowMs < throughUntilMs_; }
  // The file held under a number on the MMC/SD card (empty when there is none).
  std::string MmcFile(long number) const;

 private:
  struct Job {
    std::vector<int> walk;
    int64_t startMs = 0;
    int final = 0;
    bool hang = false;
  };
  struct Reception {
    int channel = 0;
    bool generic = true;  // the channel is of letter "B"
    std::string bytes;    // kept bytes, ETX excluded
    size_t count = 0;     // bytes received, ETX included
    std::string tail;     // the last six bytes (an abort inside the table)
    uint8_t sum = 0;
    bool etx = false;
    std::string checksum;
    int64_t lastMs = 0;
  };

  bool Generic(const std::string& cmd, const std::vector<SimChannel>& channels, int64_t nowMs,
               const ReplyFn& reply);
  bool Mmc(const std::string& cmd, int64_t nowMs, const ReplyFn& reply);
  bool Optode(const std::string& cmd, const std::vector<SimChannel>& channels, int64_t nowMs,
              const ReplyFn& reply);
  void EndReception(int64_t nowMs, int failure);
  void StartJob(std::vector<int> walk, int final, int64_t nowMs);
  static bool UseFault(int& counter);

  SimCardProfile profile_;
  int version_ = 0;
  int status_ = 0;
  int lastChannel_ = 0;
  bool sticky133_ = false;  // 133 stays until fault.card_status_133 is used up
  std::optional<Job> job_;
  std::optional<Reception> rx_;
  std::map<int, std::string> tables_;  // stored meta tables by channel
  std::string optodeEntry_;
  int64_t throughUntilMs_ = INT64_MIN;
};

// The logger's channels as its configuration table (tables[1]) lists them, or the profile's.
std::vector<SimChannel> CurrentChannels(const std::map<int, std::vector<uint8_t>>& tables,
                                        const SimProfile& profile);
// Adds the identity, capability and modem tables the profile's logger holds.
void AddScriptTables(const SimProfile& profile, std::map<int, std::vector<uint8_t>>& tables);
// A table write of one of those tables: false when the logger refuses it (NAK); a write it takes
// updates the profile (identity, capability mask).
bool AcceptScriptTable(int number, const std::vector<uint8_t>& data, SimProfile& profile);
// The "A" reply: "KLX <model> <firmware> <serial>\r\n", from table 0 when the logger has one.
std::string IdentityReply(const std::map<int, std::vector<uint8_t>>& tables,
                          const SimProfile& profile);

}  // namespace klx::sim
