#pragma once
// The activity logs: every set-up, failed set-up, resumption and retrieval leaves a short entry
// in the logger's own log ("log/%06d.log") and in the day's log ("log/%04d%02d%02d.log") under
// the program directory. Both are only ever appended to.
#include <filesystem>
#include <string>

#include "records/deployment_parameters.h"
#include "records/logger_state.h"
#include "platform/host.h"
#include "platform/system_time.h"

namespace klx {

enum LogEvent : int {
  kLogSetupFailed = 0,
  kLogSetUp = 3,
  kLogResumed = 4,
  kLogRetrieved = 5,
};

struct LogEntryInputs {
  std::filesystem::path programDirectory;
  LoggerState logger;               // identity and capabilities
  DeploymentParameters parameters;  // the deployment set up or retrieved
  SystemTime hostTime;              // host clock at the logger contact; names the daily log
  SystemTime loggerTime;            // logger clock at the contact
  int loggerStatus = 0;             // retrieval: the status code
  std::filesystem::path savedFile;  // retrieval: the file written, empty when not yet saved
  std::string estimates;            // set-up: the memory and battery estimates text
};

// The entry's text, every line ended by a line feed, the empty line that ends it included.
std::string LogEntryText(int event, const LogEntryInputs& in);

// The log paths of an entry.
std::filesystem::path LoggerLogPath(const LogEntryInputs& in);
std::filesystem::path DailyLogPath(const LogEntryInputs& in);

// Appends the entry to both logs (creating the "log" folder when missing). A failure goes to
// the status line; the caller carries on whatever the result.
bool WriteLogEntry(Host& host, int event, const LogEntryInputs& in);

}  // namespace klx
