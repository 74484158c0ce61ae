#pragma once
// The logger's status around a data retrieval: status names, the data pointer and the memory
// usage it gives, and the stop / suspend / keep-logging decision before a download with the
// resume after it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/logger_link.h"
#include "link/status_codes.h"
#include "records/logger_state.h"
#include "platform/host.h"

namespace klx {

// The text shown for each status code.
inline constexpr std::array<const char*, 9> StatusNames = {
    "Not Enabled",          "Enabled",          "Logging",
    "Thresholding enabled", "Logging Complete", "Logging Suspended",
    "Profiling Active",     "Memory Error",     "Logging Stopped by User",
};
// The name of a status code: 8 is "Logging Stopped by User", anything else outside 0..6 is
// shown as 7, "Memory Error".
const char* StatusName(int code);

// The data pointer in a "G" reply: the eight hexadecimal digits before "CDP", four bytes least
// significant first. Empty when the reply is not of that shape.
std::optional<uint32_t> ParseDataPointer(std::string_view reply);

struct MemoryUsage {
  double percent = 0.0;  // 0..100
  int64_t readings = 0;  // readings (3 bytes each) in memory, all channels together
  std::string text;      // the "Memory usage" field
};

inline constexpr uint32_t kOlderLoggerMemoryStart = 0x20000;
inline constexpr double kLinearMemoryCapacity = 8380368.0;

// Memory usage of the connected logger for a data pointer.
MemoryUsage ComputeMemoryUsage(const LoggerState& state, uint32_t pointer);
// The "Memory usage" field for a "G" reply; empty when the reply carries no data pointer.
std::string MemoryUsageText(const LoggerState& state, std::string_view reply);
// The retrieval dialog's line when the memory holds no readings.
const char* EmptyMemoryMessage(int statusCode);

// One question of the download-query dialog: its text and the labels of its buttons (the
// host's answer Yes stands for the first button, No for the second; a single-button question
// is asked with OK/Cancel, OK standing for its button).
struct DownloadQuery {
  std::string text;
  std::string first;
  std::string second;  // empty: one button only
};

enum class RetrievalPreparation : int {
  Abort = 0,    // the user cancelled, the logger cannot be read now, or stopping it failed
  Proceed = 1,  // go on with the download
  Restart = 2,  // the logger was stopped from the "STOP logger" button: start retrieval again
};

// What PrepareForRetrieval did to the logger; `suspended` lives until ResumeAfterRetrieval.
struct RetrievalHold {
  bool stopped = false;
  bool suspended = false;
};

inline constexpr const char* kRetrieveCaption = "Retrieve Data";

// The stop/suspend decision before a download, from the status last read (`link.status.code`),
// the logger's command level and the deployment's continuous-power setting. `stopButton` is
// true when the user pressed the dialog's "STOP logger" button.
RetrievalPreparation PrepareForRetrieval(LoggerLink& link, bool stopButton, RetrievalHold& hold);

enum class ResumeResult : int { Failed = 0, Resumed = 1, NotNeeded = 2 };

// Resumes a logger that PrepareForRetrieval suspended ("!R", then status polls).
ResumeResult ResumeAfterRetrieval(LoggerLink& link, RetrievalHold& hold);

}  // namespace klx
