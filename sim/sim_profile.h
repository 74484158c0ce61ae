#pragma once
// The description of one simulated logger: identity, line rate, channels, capabilities,
// deployment settings, calibration and the faults it shows. A profile is a small text file of
// "key = value" lines ('#' starts a comment, blank lines are ignored, unknown keys are ignored):
//
//   model = VS-330                 # identification: "KLX <model> <firmware> <serial>"
//   firmware = 4.30                # printed as written
//   serial = 1234                  # printed with six digits
//   baud = 19200                   # the only rate at which the logger answers
//   channels = TPC                 # one type letter per channel
//   channel_bytes = 0 0 0          # second byte of each channel in the configuration (decimal)
//   latency_ms = 300               # stored in 10 ms units
//   reading_time_ms = 200          # stored in 100 ms units
//   param_block = 30               # parameter block length P
//   cap.0 = 0x0000101F             # capability entry 0 (mask), entries 1..23 alike
//   capabilities = yes             # answers "!0": default yes for firmware above 4.99 and for
//                                  # "VS" models above 4.25
//   default_baud_code = 13         # table 0300 (default: derived from baud)
//   rs_advanced = 0x0000000A       # table 0700 exists only when given
//   table.06 = 02 00 ...           # any other table as hexadecimal bytes
//   clock = 260601120000           # yymmddhhmmss; default: the host's clock when attached
//   start = 260602000000           # programmed start, end (yymmddhhmmss), period (hhmmss)
//   end = 260702000000
//   period = 000100
//   status = 0                     # initial status code (see sim_logger.h)
//   samples = 5000                 # rows already logged from the start time (all channels)
//   fill = 0.95                    # or: fill this fraction of the data memory
//   data_bytes = 3000              # older form: bytes of readings behind the parameter block
//   memory_mb = 2                  # older loggers: 2 MB (two 1 MiB regions, up to 0x1FF7FE)
//                                  # or 4 MB (up to 0x3FF7FE, the default)
//   ascii = yes                    # the generic serial card stores text lines, not words
//   seed = 7                       # the readings' noise (deterministic)
//   depth = 12.5                   # mean water depth over the logger, dbar (pressure channels);
//                                  # below 0 the sensor is out of the water (depth < 0)
//   stamps = CLD:1500 REC:3200 STP # stamps besides the "TIM" at the start: CODE:ROW puts one
//                                  # before that row ("CLD", "WRM", "LUK", "CHG" after a one-hour
//                                  # break); CODE alone puts it after the last row
//   profiling = yes                # 6 Hz profiling: six rows a second
//   burst_length = 1024            # wave bursts (tide and wave recorder): words per burst,
//   burst_interval = 010000        # time between bursts (hhmmss) and
//   wave_rate = 4                  # rate in Hz
//   wave_period = 8                # the swell in every burst: period (s) and surface
//   wave_amplitude = 0.5           # amplitude (m, within +-20 % from burst to burst)
//   height = 1.2                   # logger height above the bed (m), as "!Y" sets it
//   cal_date = 260101120000        # calibrated when at least one cal.N is given
//   cal.0 = 0.0035 -0.00025 2.7e-06 2.3e-08   # c0..c3 of channel 0 (row 0 for single-channel)
//   cal_history = 3                # calibrations older than cal_date kept in the logger (only
//                                  # when calibrated): dates going back from cal_date, the
//                                  # coefficients drifting a little further each time
//   cal_room = 1                   # the calibration memory holds room for exactly this many
//                                  # more records (older ones fill the rest; 0: full)
//   cal_incomplete = 1             # linear-memory loggers: this record of the list (0 = the
//                                  # newest) is an unfinished calibration ("CMM")
//   correction = 0.02 0.1 25 1e-4  # conductivity correction a b Tc c (table 0600, byte 0 = 2)
//   battery = 36                   # two characters before "BAT"
//   min_host_version = 6.00        # the number before "WIN"
//   reply_delay_ms = 3             # processing delay before a reply
//   paced = no                     # space reply bytes by ten bits at the line rate
//   rate_revert_ms = 30000         # an express rate falls back to baud after this idle time
//   erase_ms_per_64k = 500         # erase time per 64 KiB of used memory (deaf meanwhile)
//   fault.bad_check = 2            # faults: see SimFaults
//
// A profile can also be built or edited in code before the logger is made from it.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_card_profile.h"
#include "sim/sim_microsal.h"

namespace klx::sim {

// Faults the logger shows on request. Counters count down as they are used up.
struct SimFaults {
  int badCheck = 0;        // "fault.bad_check": wrong check byte on the next N table/memory replies
  int dropByte = 0;        // "fault.drop_byte": the next N replies lose one byte (their middle one)
  int silentMs = 0;        // "fault.silent_ms": no answer for this long from the first command
  int silentCommands = 0;  // "fault.silent_commands": the next N commands get no answer
  int nakWrites = 0;       // "fault.nak_writes": NAK on the next N table writes (-1: always)
  std::vector<std::string> unknown;  // "fault.unknown": commands (by prefix) answered
                                     // "Unknown command"
  double badBlockRate = 0;      // "fault.bad_block_rate": share of memory reads with a wrong sum
  double dropBlockRate = 0;     // "fault.drop_block_rate": share of memory reads losing a byte
  int silentAfterMs = 0;        // "fault.silent_after_ms": the silence of fault.silent_ms starts
                                // this long after the first command
  int lostAfterSwitch = 0;      // "fault.lost_after_switch": the next N rate switches leave the
                                // logger deaf at the new rate (until it falls back); -1: always
  int eraseFails = 0;           // "fault.erase_fails": the next N erases end in status 7F
  int realtimeBadChecksum = 0;  // "fault.realtime_bad_checksum": every Nth binary real-time
                                // record has a check byte one too high
  int calNoMemory = 0;  // "fault.cal_no_memory": the next N calibration procedures ("U0000" with
                        // "A") are refused with "F1", no more memory (-1: always)
  int calNoConfig = 0;  // "fault.cal_no_config": likewise with "F2", no configuration table
  int ignoreY = 0;      // "fault.ignore_y": the next N "Y" writes are heard and dropped (-1: all)
  std::vector<std::string> silent;  // "fault.silent": commands (by prefix) never answered,
                                    // such as "B", the clock read
};

// A stamp the profile asks for in the logged data.
struct SimStampPlan {
  std::string code;
  int64_t row = -1;  // before this row; -1: after the last row
};

struct SimChannel {
  char type = 'T';
  uint8_t second = 0;
};

struct SimProfile {
  std::string name;  // profile name (file name without ".profile")
  std::string model = "NA-7100";
  std::string firmware = "2.20";
  int serial = 1;
  int baud = 19200;
  std::vector<SimChannel> channels{{'T', 0}};
  int latencyMs = 300;
  int readingTimeMs = 200;
  int paramBlock = 30;
  std::map<int, uint32_t> capabilities;  // capability entries by number
  std::optional<bool> answersCapabilities;
  std::optional<int> defaultBaudCode;
  std::optional<uint32_t> rsAdvanced;
  std::map<int, std::vector<uint8_t>> tables;  // further tables by number
  std::string clock;                           // yymmddhhmmss, empty: the host's clock
  std::string start = "000101000000";
  std::string end = "000101000000";
  std::string period = "000100";
  int status = 0;
  int dataBytes = 0;
  int64_t samples = 0;
  double fill = 0;
  int memoryMb = 4;        // older loggers: 2 or 4
  bool asciiData = false;  // readings stored as text lines
  uint64_t seed = 1;
  double depth = 10.0;
  std::vector<SimStampPlan> stamps;
  bool profiling = false;
  int burstLength = 0;
  std::string burstInterval = "000000";
  int waveRate = 0;
  double wavePeriod = 8.0;
  double waveAmplitude = 0.5;
  double height = 0.0;
  std::string calDate = "000101000000";
  std::map<int, std::vector<double>> calibration;  // channel -> c0..c3
  int calHistory = 0;
  std::optional<int> calRoom;
  int calIncomplete = -1;
  std::optional<std::vector<double>> correction;  // a, b, Tc, c
  int battery = 36;
  std::string minHostVersion = "6.00";
  int replyDelayMs = 3;
  bool paced = false;
  int rateRevertMs = 30000;
  int eraseMsPer64k = 0;  // "erase_ms_per_64k": an erase keeps the logger deaf this long per
                          // 64 KiB of used memory (plus one such step); 0: instant
  SimFaults faults;
  SimCardProfile cards;  // the accessory cards (sim_card_profile.h)
  SimMicrosalSettings microsal;  // "microsal.*": the micro-salinometer's cells (sim_microsal.h)

  double FirmwareValue() const;
  bool IsExtended() const { return FirmwareValue() > 4.99; }
  bool IsMultiChannel() const { return model.find("VS") != std::string::npos; }
  // Neither "VS" nor extended: NA, NB, NMV loggers.
  bool IsSingleChannel() const { return !IsExtended() && !IsMultiChannel(); }
  bool AnswersCapabilities() const;
};

// Parses profile text into profile (which keeps its values for keys the text does not give).
// Returns false with a message naming the line on a malformed line or value.
bool ParseProfile(std::string_view text, SimProfile& profile, std::string& error);
// Applies one "key = value" setting (also used for command-line faults).
bool ApplyProfileSetting(std::string_view key, std::string_view value, SimProfile& profile,
                         std::string& error);
// Loads a profile by name (from the profile directory) or by file path.
bool LoadProfile(std::string_view nameOrPath, SimProfile& profile, std::string& error,
                 std::string_view directory = KLX_SIM_PROFILE_DIR);
// Names of the profiles in the directory, sorted.
std::vector<std::string> ProfileNames(std::string_view directory = KLX_SIM_PROFILE_DIR);

}  // namespace klx::sim
