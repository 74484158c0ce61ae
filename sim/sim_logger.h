#pragma once
// The simulated logger: the logger side of the command language, on the far end of a serial
// line (a LoopbackPort in process, or a pseudo-terminal through klx-sim).
//
// Line rate. The logger hears only bytes sent at its own current rate; anything else is noise
// to it and is dropped (it also aborts a table transfer in progress). The rate starts at the
// profile's "baud"; "!E%02X" switches it after the reply, and after rate_revert_ms without
// traffic at a switched rate it falls back to its default rate.
//
// Commands carry no terminator: the byte stream is cut by the fixed shape of each command (its
// first letter, or "!" and a character, then a fixed count of characters). Stray ACK, NAK,
// carriage returns, line feeds, blanks and zero bytes between commands are skipped. A partial
// command that waits more than 1000 ms for its next byte is dropped, and a table transfer the
// host leaves for more than 2000 ms is abandoned. Anything unrecognised,
// a command the model does not have, or a malformed field gets "Unknown command\r\n".
//
// Replies are stamped nowMs + reply_delay_ms; with `paced` their bytes are spaced by ten bits
// at the line rate.
//
// Status codes ("T" answers "Logger status %02X", extended loggers "Logger status %02X %02X"
// with a sub-code):
//   00 not enabled         after an erase ("N") or a stop of a logger that never logged
//   01 enabled             after "P" while the clock is before the start time
//   02 logging             from the start time on (a row of readings every period, six a
//                          second under 6 Hz profiling, is added to memory after a "TIM"
//                          stamp), after "P" at or past the start
//   03 thresholding        after "P" when the start mode set by "!A" is a threshold start
//   04 logging complete    at the end time; also after "!9" (extended loggers: 04 02, stopped
//                          by user; sub-code 00 otherwise), which writes an "STP" stamp when
//                          the logger was logging
//   05 suspended           after "!S" while enabled, logging or profiling; "!R" resumes with
//                          a "TIM" stamp before the next row
//   06 profiling           only when set in a profile ("status = 6")
//   7F erase failed        when set in a profile, or after an erase under fault.erase_fails
// Replies of the deployment steps (the host reads them as status texts):
//   "P"  -> "Logger started in mode %02X\r\n" (the new status; 00 when start >= end)
//   "!R" -> "Logger started in mode %02X\r\n" when suspended (back to 01 or 02), otherwise
//           "Logger status %02X\r\n" with the unchanged status
//   "!S" -> "Logger status %02X\r\n" (05 when it suspended, else unchanged)
//   "!9" -> "Logger status %02X\r\n" (04, or unchanged when not enabled/logging/suspended)
//   "N"  -> "Memory erased\r\n" (the data pointer returns to its empty value); with
//           erase_ms_per_64k the logger then hears nothing for that long per 64 KiB used
//
// Other queries whose content is ours:
//   "G"  -> eight hex digits = the data pointer, its four bytes least significant first, then
//           "CDP\r\n" (empty memory: 0x20000, "00000200"; extended loggers: 0)
//   "I"  -> memory read "I" + end + start (four bytes each, low first, hex of either case): the
//           bytes of [start, end) that hold data (page bytes and region gaps of older loggers
//           are left out, see sim_memory.h), then their 8-bit sum (none from NA loggers below
//           firmware 1.5). At most 4096 addresses.
//   "S%02X00%02X" -> a table write (data and check byte, ACK per 16 bytes); the logger keeps
//           the data bytes exactly as written and "R%02X00" returns them, whatever their
//           length (the range-switching tables too: 25 bytes written, 25 read back).
//   "!D" -> "%02dBAT\r\n" battery figure (firmware 2.2 and later; earlier: "%02d\r\n")
//   "!M" -> the "!B" code "%02XBAU", "!P" -> the "!K" period as three bytes hh mm ss "PSP",
//   "!O" -> the "!H" count "HYS", "!L" -> the "!A" block "THR"
//   "F"  -> one reading "%02X%02X%02X\r\n" ("F%02X": of that channel), the word a memory row
//           taken now would hold; "F00": all channels as one real-time record (binary, or the
//           engineering-units text ending in "FET\r\n")
//   "!T00"/"!T01" -> "0101\r\n" (sampling LED off) or "0102\r\n" (on); "!T01" toggles it.
//
// Calibration, by generation:
//   linear-memory loggers keep a list of calibrations, newest first (room for 100 unless the
//   profile's cal_room says otherwise). "V%02X%02X00" (record low, high) answers the table
//   "CAL" or "CMM" (unfinished) and the date yymmddhhmmss, "V%02X%02X%02X" the 32 bytes c0..c3
//   of a channel; a record or channel it lacks has length 0 ("V000000" of a logger never
//   calibrated: "NON000000000000"). A calibration is written as table writes: "U0000" with "A"
//   opens the procedure, "U%02X%02X" (channel 1..n) with 33 bytes (c0..c3, a zero byte) sets one
//   channel, "U0000" with "Z" stores the new record, dated with the logger clock; channels not
//   sent keep their values. Refusals answer "ERROR Fn" and NAK instead of the final ACK: "F2" at
//   "A" when the configuration table is missing or names no channel, "F1" at "A" when the list
//   is full, "F0" for a channel outside an open procedure, a channel the logger lacks, a block
//   that is not 33 bytes, or "Z" without "A". Nothing is stored before "Z".
//   Table 0600 (33 bytes: 2 and a, b, Tc, c for the conductivity correction, 1 and the
//   micro-salinometer's standardization) is kept like every other table; the micro-salinometer
//   starts with its standardization in it (sim_microsal.h).
// 6 Hz profiling is bit 0x40 of the mode byte, in "!A" or in "!1" (the start characteristic).
//   older multi-channel loggers keep back-to-back records at 0x10000 (six BCD date bytes, then
//   33 bytes per channel: c0..c3 and a byte of the logger's own, 0), read with memory reads.
//   "!C" + offset low, high, 06 + twelve digits writes a header (each digit pair one BCD byte);
//   "!C" + offset low, high, 20 + 64 hex digits the 32 coefficient bytes of a channel (byte 32
//   is the logger's). No reply. Writes that would end past offset 65024 (0xFE00) are dropped.
//   older single-channel loggers answer "Z" with c0..c3 and "CAL\r\n" ("CAL\r\n" alone
//   when never calibrated). "Y" with 32 raw bytes c0..c3 makes them current and appends a
//   38-byte record (BCD date of the logger clock, c0..c3) behind the last at 0x10000, while the
//   memory below the configuration area has room. No reply. A memory read that starts in this
//   calibration memory sends the byte at its end address too: a record read ("I" with end =
//   start + 38) answers 39 bytes (the record and the next one's first byte) and their sum.
// Every clock setting ("J") is kept in ClockSets().
//
// Accessory cards (generic serial card "!X", MMC/SD card "!G", the Optode front end's "!3" and
// "~" packets) and the identity (0000), capability (0200) and modem (0800) tables: sim_cards.h.
//
// Real-time output. With a real-time baud code set ("!B%02X", not "!B00") the logger sends one
// record for every row it stores, at the row's own time (bytes spaced by ten bits at the line
// rate with `paced`), six a second under 6 Hz profiling. Rows stored while the output was off,
// or before the host first reached the logger, are never sent; "!9", "!S" and "!B00" end the
// output at once. Records due before a command arrive before its reply. The readings are the
// raw words the memory holds for the same rows, so a later retrieval gives the same values.
//   binary (start characteristic bit 10, the engineering-units flag, clear, or capability 20
//   below 1), channels * 3 + 13 bytes: 00 00 00, "TIM", six BCD bytes yy mm dd hh mm ss, three
//   bytes per channel most significant first, and the sum of the bytes from "TIM" on, mod 256.
//   engineering units: "TIM %2d%2d%2d%2d%2d%2d" (year - 2000 first), " %.4f" per channel with
//   the channel's conversion, then " FET\r\n".
// fault.realtime_bad_checksum = N puts a check byte one too high into every Nth binary record.
//
// Wave bursts (loggers with the "Waves" capability, capability 0 bit 16, and a burst length and
// interval set by "!6", outside 6 Hz profiling): while logging, a burst of burst-length words of
// the second channel begins at every burst interval after the start, at the wave rate ("!4").
// The burst goes to memory as a "BST" stamp and its words when it is complete; the tide rows
// taken meanwhile wait and follow it behind a "TIM" stamp with the time of the first of them.
// A burst that would outlast the end time is not begun; "!9" or "!S" during a burst stores the
// words taken so far. The sea the burst sees uses the logger height last set by "!Y" (see
// sim_memory.h). With real-time output on, every two burst words go out at the time of the
// second one, as records of the real-time length with two burst values in the first six value
// bytes (any further value bytes zero):
//   "BST": the burst's first two words; the time field holds the burst start.
//   "SEQ": words n and n + 1 (n = 2, 4, ...); the time field holds n in its first two bytes,
//          most significant first, and four zero bytes.
// Engineering units: "BST %2d%2d%2d%2d%2d%2d %.4f %.4f FET\r\n" and "SEQ %2d%2d%2d%2d%2d%2d %04X
// %.4f %.4f FET\r\n" (the time of word n). Tide rows held back by a burst are sent after its
// last record, in memory order.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/loopback.h"
#include "platform/system_time.h"
#include "sim/sim_cards.h"
#include "sim/sim_memory.h"
#include "sim/sim_microsal.h"
#include "sim/sim_profile.h"

namespace klx::sim {

inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;

// A calibration as the logger holds it.
struct SimCalibration {
  std::string date;  // yymmddhhmmss
  bool complete = true;
  std::vector<std::array<double, 4>> coef;  // one row per channel (one for single-channel)
};

// A clock setting heard: when (monotonic ms), the time set and the logger's time just before.
struct SimClockSet {
  int64_t atMs = 0;
  std::string to;
  std::string from;
};

class SimLogger final : public klx::LineDevice {
 public:
  explicit SimLogger(SimProfile profile);

  void Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
               klx::LineOutput& out) override;
  // Sends the real-time records due up to untilMs (see above).
  void Poll(int64_t untilMs, klx::LineOutput& out) override;
  void HostOpened(int64_t nowMs) override;
  void HostClosed(int64_t nowMs) override;

  const SimProfile& Profile() const { return profile_; }
  int CurrentBaud() const { return baud_; }
  int DefaultBaud() const { return defaultBaud_; }
  int Status() const { return status_; }
  int SubStatus() const { return subStatus_; }
  // Real-time output: on while a baud code other than 0 is set; text records when the
  // engineering-units flag of the start characteristic is set and capability 20 is 1 or more.
  bool RealtimeOn() const { return realtimeCode_ != 0; }
  bool RealtimeEngineering() const;
  // One real-time record for a row: its time (seconds since 2000-01-01) and raw words.
  std::string RealtimeRecord(int64_t seconds, const std::vector<uint32_t>& raw,
                             bool badChecksum = false) const;
  // One burst record: "BST" for sequence 0 (seconds: the burst start), else "SEQ" (seconds:
  // the time of word `sequence`), with two burst words.
  std::string RealtimeBurstRecord(uint16_t sequence, int64_t seconds, uint32_t first,
                                  uint32_t second, bool badChecksum = false) const;
  // The logger height as "!Y" last set it (metres; 0 when it is not a usable number).
  double HeightM() const;
  // True while a wave burst is being taken.
  bool InBurst() const { return burst_.has_value(); }

  // The logger clock. Until set, it starts at the profile's clock (or 2026-01-01 00:00:00)
  // when the logger first hears from the host.
  void SetClock(const klx::SystemTime& t, int64_t nowMs);
  std::string ClockText(int64_t nowMs);  // yymmddhhmmss

  // Faults (see SimFaults); each call adds to or replaces what the profile gave.
  SimFaults& Faults() { return faults_; }
  void FailNextChecks(int count) { faults_.badCheck = count; }
  void DropByteInNextReplies(int count) { faults_.dropByte = count; }
  void SilenceUntil(int64_t monotonicMs) {
    silentFromMs_ = INT64_MIN;
    silentUntilMs_ = monotonicMs;
  }
  void SilenceNextCommands(int count) { faults_.silentCommands = count; }
  void AnswerUnknown(std::string commandPrefix) {
    faults_.unknown.push_back(std::move(commandPrefix));
  }
  void NakNextWrites(int count) { faults_.nakWrites = count; }
  // The next `count` calibration procedures are refused at "A" with F1 or F2 (-1: all).
  void RefuseNextCalibrations(int code, int count) {
    (code == 2 ? faults_.calNoConfig : faults_.calNoMemory) = count;
  }
  void IgnoreNextY(int count) { faults_.ignoreY = count; }
  void NeverAnswer(std::string commandPrefix) {
    faults_.silent.push_back(std::move(commandPrefix));
  }
  void SetPaced(bool paced) { paced_ = paced; }

  // What the logger holds, for tests and demos.
  std::optional<std::vector<uint8_t>> Table(int number) const;  // data bytes, no check byte
  uint32_t DataPointer() const;
  uint8_t MemoryByte(uint32_t address) const;
  // The logged data: layout, and what decoding them must give.
  const SimMemory& Memory() const { return memory_; }
  SimExpected Expected() const { return memory_.Expected(); }
  // Bytes of parameter block in front of the readings (by family and firmware).
  size_t HeaderBytes() const;
  // The calibrations the logger holds, oldest first, the current one last, read from where it
  // keeps them (the list, or the records in its memory).
  std::vector<SimCalibration> Calibrations() const;
  // Records that still fit into the calibration memory.
  size_t CalibrationRoom() const;
  // The conductivity correction a, b, Tc, c of table 0600 (when its byte 0 is 2).
  std::optional<std::array<double, 4>> ConductivityCorrection() const;
  const std::vector<SimClockSet>& ClockSets() const { return clockSets_; }
  // The micro-salinometer's cells (HL-240 with channels sample C, T, standard C; else null),
  // and what its sample cell holds from the logger's next whole second on.
  const SimMicrosal* Microsal() const { return microsal_.get(); }
  void SetMicrosalCells(SimMicrosalCells cells, int64_t nowMs);
  // The accessory cards: generic serial card, MMC/SD card, Optode front end (sim_cards.h).
  SimCards& Cards() { return cards_; }
  // Every complete command heard, in order (binary payloads shown as hex).
  const std::vector<std::string>& CommandLog() const { return log_; }

 private:
  enum class Mode { Command, TableSend, TableReceive };
  // A calibration: extended loggers keep a list (newest first) read with "V"; older loggers
  // keep records in their memory at 0x10000.
  struct CalRecord {
    std::string date;  // yymmddhhmmss
    std::vector<std::vector<double>> coef;
    bool complete = true;
  };

  void Feed(uint8_t byte, int64_t nowMs, klx::LineOutput& out);
  // Length of the command at the start of in_, 0 when more bytes are needed, -1 when unknown.
  int CommandLength() const;
  void Execute(const std::string& cmd, int64_t nowMs, klx::LineOutput& out);
  bool ExecuteQuery(const std::string& cmd, int64_t nowMs, klx::LineOutput& out);
  bool ExecuteSetting(const std::string& cmd, int64_t nowMs, klx::LineOutput& out);
  bool ExecuteBang(const std::string& cmd, int64_t nowMs, klx::LineOutput& out);
  void StartTableRead(const std::string& cmd, std::optional<std::vector<uint8_t>> data,
                      int64_t nowMs, klx::LineOutput& out);
  void SendNextChunk(int64_t nowMs, klx::LineOutput& out);
  void FinishTableWrite(int64_t nowMs, klx::LineOutput& out);
  void MemoryRead(const std::string& cmd, int64_t nowMs, klx::LineOutput& out);
  void Reply(std::string bytes, int64_t nowMs, klx::LineOutput& out);
  void Unknown(int64_t nowMs, klx::LineOutput& out) { Reply("Unknown command\r\n", nowMs, out); }

  void Anchor(int64_t nowMs);
  void Advance(int64_t nowMs);  // clock-driven status changes and readings
  int64_t ClockSeconds(int64_t nowMs);
  std::string StatusText() const;
  std::vector<uint8_t> ConfigBlock() const;
  std::vector<uint8_t> ParamBlock() const;
  uint8_t ByteAt(uint32_t address, const std::vector<uint8_t>& config) const;
  int PeriodSeconds() const;
  bool AppendRecordToMemory(const CalRecord& record);
  void BuildCalibrations();  // the profile's calibration and its history
  size_t CalRecordBytes() const;
  size_t CalUsableBytes() const;
  void FinishCalibrationWrite(size_t channel, const std::vector<uint8_t>& data, int64_t nowMs,
                              klx::LineOutput& out);
  SimMemory::Setup MemorySetup() const;
  void GenerateDeployment();
  int64_t PeriodMs() const;  // 0 under 6 Hz profiling
  // Sends the records of the rows stored since the last one sent whose time is due by untilMs.
  void LiveOutput(int64_t untilMs, klx::LineOutput& out);
  void EndLiveOutput();  // "!9", "!S": nothing stored so far is sent any more
  int64_t ClockMs(int64_t nowMs);
  // Stores rows and bursts due by clockMs; with `cut` a burst under way is stored as far as
  // it got and no new one begins.
  void LogUntil(int64_t clockMs, bool cut = false);
  bool WavesCapable() const;
  int BurstIntervalSeconds() const;
  bool BurstsOn() const;
  void ScheduleBursts();                   // the first burst time after the next row
  double BurstSampleMs(uint32_t k) const;  // offset of word k from the burst start

  SimProfile profile_;
  SimFaults faults_;
  bool paced_ = false;
  int baud_;
  int defaultBaud_;
  double firmware_;

  // Input parsing.
  std::string in_;
  int64_t lastByteMs_ = 0;
  int64_t lastTrafficMs_ = 0;
  Mode mode_ = Mode::Command;
  std::vector<uint8_t> block_;  // table being sent or received
  size_t blockPos_ = 0;
  size_t blockLength_ = 0;
  std::string writeTarget_;  // "S0100", "U0000", "U0100", ...
  int64_t silentUntilMs_ = -1;
  bool silenceArmed_ = false;
  bool unknownReplied_ = false;  // one "Unknown command" per burst of garbage
  std::vector<std::string> log_;

  // Clock: seconds since 2000-01-01 00:00:00 at the anchor.
  std::optional<int64_t> anchorMs_;
  int64_t clockAtAnchor_ = 0;

  // Deployment state.
  int status_ = 0;
  int subStatus_ = 0;
  int resumeStatus_ = 0;
  int64_t startSec_ = 0, endSec_ = 0, nextSampleSec_ = 0;
  std::string period_;
  uint16_t averaging_ = 1;
  std::vector<uint8_t> threshold_ = std::vector<uint8_t>(8, 0);
  uint32_t startCharacteristic_ = 0;
  uint8_t highRate_ = 1;
  uint16_t burstLength_ = 0;
  std::string burstInterval_ = "000000";
  std::vector<uint8_t> height_ = std::vector<uint8_t>(8, 0);
  uint8_t realtimeCode_ = 0;
  uint64_t liveNextRow_ = 0;                   // the next row whose record is still to be sent
  uint64_t liveRecords_ = 0;                   // records sent, for fault.realtime_bad_checksum
  int64_t nextBurstSec_ = 0;                   // start of the next burst
  std::optional<SimMemory::BurstInfo> burst_;  // the burst under way (not yet in memory)
  uint64_t liveBurst_ = 0;                     // the burst whose records are being sent
  uint32_t livePair_ = 0;                      // its next pair of words
  int64_t liveLastMs_ = 0;                     // when the last record went out
  uint16_t hysteresis_ = 0;
  std::string powerSavePeriod_ = "000000";
  bool led_ = false;
  SimMemory memory_;
  uint64_t memoryReads_ = 0;
  int64_t silentFromMs_ = 0;
  std::map<int, std::vector<uint8_t>> tables_;

  uint16_t fetchSequence_ = 0;

  std::vector<CalRecord> records_;               // newest first
  std::vector<uint8_t> calMemory_;               // 0x10000..0x1FFC8
  std::vector<std::vector<double>> pendingCal_;  // the open "U" procedure (empty: none)
  size_t calCapacity_ = 100;                     // linear-memory loggers: records kept
  std::vector<SimClockSet> clockSets_;
  SimCards cards_;
  std::shared_ptr<SimMicrosal> microsal_;
};

}  // namespace klx::sim
