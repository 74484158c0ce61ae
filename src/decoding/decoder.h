#pragma once
// Memory image decoding: the word parser with its in-line stamps, the header rules per
// logger family, the main loop that fills the channel series, the stamp table and the wave
// bursts, the marker classes for the graph, and the sample-time rule the writers use.
//
// Decoding is pure: it reads the image and the deployment it is given, writes the data set, and
// talks to nothing but the one message box of the stamp-table overflow (through Host). The work
// that needs a logger or other subsystems (menu refresh, deployment re-read, burst analysis,
// derived channels) is reached through DecodeHooks.
//
// Robustness: the image may come from a corrupt file. Decoding never reads outside the bytes the
// image holds (the smaller of `fill` and the buffer size): a word needs its three bytes, a stamp
// its twelve, and `sampleWords` is cut to the words that lie in the image behind the header.
//
// Choices where the format leaves room (each also noted where it is made):
// - Entries that decoding does not reach hold kMissingValue: the channels of a row abandoned by a
//   stamp in its middle, and rows for which the words ran out.
// - A zero word whose stamp would run past the end of the image is the reading 0.
// - A header length that is not a multiple of 3 (a linear-memory logger's parameter block) would
//   let the last word reach past `fill`; that word is not decoded (DecodeResult::imageShort).
// - The gain mask is taken after the header rules (a letter they replace does not count).
// - A gain stamp's gain field holds the codes of the channels in its changed mask; the others 0.
// - Stamp record times carry no day of the week (0); a gain stamp keeps the milliseconds of the
//   current time (6 Hz profiling), so that the sample-time rule holds from it.
// - The sampling period is Period::TotalSeconds(): an all-zero period counts as one day.
// - Each burst takes its stamp's time when the stamp is read (step 7's table walk gives the same
//   times); at most kMaxBursts bursts keep samples.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "records/data_set.h"
#include "records/deployment_parameters.h"
#include "platform/host.h"
#include "platform/system_time.h"
#include "records/memory_image.h"

namespace klx {

// The stamp-table overflow message, shown once per decoding.
inline constexpr const char* kTimestampsCaption = "Timestamps";
inline constexpr const char* kTimestampsOverflowText =
    "Data contains more timestamps than buffer can hold.\nSubsequent timestamps will be "
    "suppressed.";

// At most this many bursts keep their samples for the wave analysis; later bursts are still
// counted.
constexpr size_t kMaxBursts = 5500;

// ---- Logger families (model-name substrings) ----------------------------------------

// The header rule that applies to a logger, in the order the rules are tried.
enum class HeaderFamily {
  kLinearMemory,  // ExtendedCommandSet (firmware above 4.99)
  kNA,            // name contains "NA-"
  kDepth,         // name contains "NB" or "NMV"
  kOther,
};
HeaderFamily HeaderFamilyOf(const LoggerState& logger);
bool IsNAFamily(const LoggerState& logger);
bool IsDepthFamily(const LoggerState& logger);

// Step 2 of DecodeImage: the header length, the sample words left behind it, and the channel
// rules of the single-channel families.
struct HeaderLayout {
  int headerLength = 132;
  int32_t sampleWords = 0;
  int channelCount = 0;      // 0: the logger's own channel count applies
  uint8_t channel0Type = 0;  // 0: the logger's own letter applies
};
HeaderLayout HeaderLayoutOf(const LoggerState& logger, int32_t sampleWords);

// ---- The word parser --------------------------------------------------------------------------

// `ReadWord` with its state (the decoding totals that the parser keeps). Bytes are read from
// `bytes[0 .. size)` only.
class WordParser {
 public:
  // No word is left in the image (fewer than three bytes remain).
  static constexpr int32_t kEndOfImage = -1;

  WordParser(const uint8_t* bytes, size_t size, size_t offset, TimestampTable& stamps, Host* host,
             std::vector<BurstSeries>* bursts, const SystemTime& currentTime);

  // The next sample word, most significant byte first. A zero word followed by one of the 12
  // stamp codes and six BCD bytes is a stamp: it is recorded (sample index = row) and skipped,
  // and so are the stamps that follow it; stampFlag is set when any was consumed. A zero word
  // without a known code, or whose stamp would run past the end of the image, is the reading 0.
  int32_t ReadWord(uint32_t row, bool& stampFlag);

  // Appends a record while the table holds fewer than 11000; returns false when it is full.
  bool Append(const StampRecord& record);

  size_t offset = 0;         // byte offset of the next word
  int64_t wordIndex = 0;     // words read so far, stamps included
  int64_t stampWords = 0;    // words of consumed stamps (4 each)
  int32_t burstNumber = -1;  // -1 before the first burst
  int64_t burstSampleCounter = 0;
  bool inBurst = false;
  bool warned = false;       // the overflow message was shown
  int64_t currentMs = 0;     // the current time, ToEpochMs form
  SystemTime lastStampTime;  // the time of the last stamp read (as its BCD bytes say)

 private:
  const uint8_t* bytes_;
  size_t size_;
  TimestampTable& stamps_;
  Host* host_;
  std::vector<BurstSeries>* bursts_;
};

// A BCD byte b stands for (b >> 4) × 10 + (b & 15) (no validity check: 0xFF gives 165).
inline int BcdValue(uint8_t b) {
  return (b >> 4) * 10 + (b & 15);
}

// ---- DecodeImage ------------------------------------------------------------------------------

struct DecodeHooks {
  // After a retrieval, for a linear-memory logger: refresh the menus for its capabilities.
  std::function<void()> refreshMenus;
  // After a retrieval, for "any other logger": read the logger's deployment settings again
  // into the parameters decoding goes on with (start time, 6 Hz mode, wave settings;
  // the sampling period was already taken in step 1).
  std::function<void(DeploymentParameters&)> rereadDeployment;
  // Step 7: burst b's time is set; run the burst analysis.
  std::function<void(DataSet&, int burst)> analyseBurst;
  // Step 8: compute the derived channels.
  std::function<void(DataSet&)> computeDerived;
};

struct DecodeOptions {
  // False after a retrieval (the hooks that ask the logger may run), true after a file read or a
  // raw/engineering switch.
  bool fromFile = true;
  DecodeHooks hooks;
};

struct DecodeResult {
  int headerLength = 0;     // the caller stores it into MemoryImage::headerLength
  int32_t sampleWords = 0;  // behind the header, as decoded (cut to the image's bytes)
  bool imageShort = false;  // the image held fewer words than `sampleWords` claimed
  int64_t stampWords = 0;
  int64_t burstWords = 0;
  int32_t burstNumber = -1;         // the last burst's number, -1 when there was none
  int64_t rowsDecoded = 0;          // rows reached by the main loop (complete or abandoned)
  DeploymentParameters parameters;  // as used (after a deployment re-read)
};

// The whole decoding. The caller fills out.logger (model, firmware, channel letters and count,
// capabilities, parameter block length), out.calibration, out.extendedCapabilities and
// out.rawMode beforehand; decoding replaces the series, the stamp table and the bursts, sets the
// channel count, and writes the header rules' channel letter and count into out.logger. The
// image's `sampleWords` is taken as the retrieval left it (fill / 3).
DecodeResult DecodeImage(const MemoryImage& image, const DeploymentParameters& parameters,
                         DataSet& out, Host& host, const DecodeOptions& options = {});

// Marker classes for the graph, in table order.
void AssignMarkerClasses(TimestampTable& stamps);

// ---- Times ------------------------------------------------------------------------------------

// One 6 Hz profiling step on an epoch-millisecond time: + 167 ms, and milliseconds 1 to 49 are
// then set to 0 (.835 + .167 gives the next whole second).
int64_t SixHzStepMs(int64_t epochMs);

// The time of row `row`: the start time plus `row` periods, except after a stamp: rows from a
// stamp's sample index on follow the last such stamp's time plus one period per row. In 6 Hz
// profiling the period is 167 ms with the millisecond snap. periodSeconds is the deployment's
// period (Period::TotalSeconds()).
//
// Note: a stamp in the middle of a row is recorded with that row's index, while decoding puts the
// following words into the next row; the rule above (the file writers' rule) gives the
// stamp's time to the stamp's own row.
SystemTime SampleTime(const DataSet& data, const SystemTime& start, int64_t periodSeconds,
                      bool sixHz, int64_t row);
inline SystemTime SampleTime(const DataSet& data, const SystemTime& start, const Period& period,
                             bool sixHz, int64_t row) {
  return SampleTime(data, start, period.TotalSeconds(), sixHz, row);
}

}  // namespace klx
