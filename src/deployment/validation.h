#pragma once
// Whether a deployment is acceptable for the connected logger, and what it will cost in memory
// and battery: the checks run on every change of the setup, the too-many-samples suggestion, the
// minimum sampling periods and the usage estimates.
#include <cstdint>
#include <optional>
#include <string>

#include "records/deployment_parameters.h"
#include "records/logger_state.h"
#include "platform/host.h"
#include "platform/system_time.h"

namespace klx {

// The tide-and-wave logger: its model name carries "NMJ". Its texts, its dialog, the wave and
// logger-height commands and the fitting of the tide period to the burst follow the model, not
// the wave capability bit.
bool TideAndWaveLogger(const LoggerState& logger);

// Readings of 3 bytes each, all channels together, by memory size in megabytes.
int64_t ReadingCapacity(int memorySizeMb);

enum ValidationCode : int {
  kValidationOk = 0,
  kStartNotAfterLoggerClock = 1,
  kStartNotBeforeEnd = 2,
  kEndBeforeNow = 5,
  kPeriodShorterThanAveraging = 7,
  kPeriodShorterThanMinimum = 8,
};

struct ValidationInputs {
  SystemTime loggerClock;       // the logger clock as last read
  bool resuming = false;        // a suspended deployment is being resumed
  bool setupDialogOpen = true;  // threshold starts then get an end one year after the clock
  bool continuousPowerForbidden = false;  // a channel in full auto-ranging mode
  // When set, too many samples are offered as the two suggestions through Host::Choose.
  Host* host = nullptr;
};

struct ValidationResult {
  int code = kValidationOk;
  std::string message;  // the message line ("" on success)
  // The too-many-samples suggestion was taken: the parameters changed, the remaining checks
  // were not run and the result is success.
  bool suggestionAccepted = false;
};

ValidationResult ValidateDeployment(DeploymentParameters& p, const LoggerState& logger,
                                    const ValidationInputs& in);

// The real-time output's rate: realtimeBaud becomes the logger's default baud rate and
// realtimeBaudCode the code sent for it in "!B%02X", floor(9,216,000 / (realtimeBaud × 32)) − 2,
// or 0 when real-time output is off.
void SetRealTimeBaud(DeploymentParameters& p, int defaultBaudRate);

// The two minimum sampling periods, in milliseconds and rounded up to whole seconds.
struct MinimumPeriods {
  int64_t cycledMs = 0;
  int64_t continuousMs = 0;
  int64_t cycledSeconds = 0;
  int64_t continuousSeconds = 0;
};
MinimumPeriods ComputeMinimumPeriods(const DeploymentParameters& p, const LoggerState& logger);

// The too-many-samples suggestion for a first-sample time.
struct SampleSuggestion {
  bool tooMany = false;
  int64_t totalReadings = 0;
  SystemTime suggestedEnd;
  Period suggestedPeriod;
  std::string text;  // the dialog's text
};
SampleSuggestion TooManySamples(const DeploymentParameters& p, const LoggerState& logger,
                                const SystemTime& firstSample);

// The current drawn by the sensors and the logger, milliamperes (general form).
int CurrentGroup(const LoggerState& logger);
double LoggerCurrentMa(const LoggerState& logger);
// Linear-memory loggers of the 7100, 7400 and 7160 series (the tide-and-wave logger among
// them) use the tide form of the estimate.
bool UsesTideEstimate(const LoggerState& logger);

struct UsageEstimate {
  bool available = false;  // not for threshold starts
  bool withinCapacity = true;
  double memoryPercent = 0.0;
  double batteryMah = 0.0;  // RS485 addition included
  std::string text;
  StatusIcon icon = StatusIcon::None;
};
// A start-now deployment counts from `loggerClock` (its first sample), any other from startTime.
UsageEstimate EstimateUsage(const DeploymentParameters& p, const LoggerState& logger,
                            const std::optional<SystemTime>& loggerClock = std::nullopt);

// Copies the fields an enable records (start, end, period, mode block, averaging, real-time and
// wave settings); used both to fill `BatchValues` and to accept them back.
void CopyBatchFields(const DeploymentParameters& from, DeploymentParameters& to);

// "Accept batch values": restores the batch into `p`. When the user changed anything since the
// batch was set, the question "Something Changed" comes first; No clears the changed mark and
// restores nothing (the dialog then disables its button).
enum class BatchAcceptance { Restored, Declined };
BatchAcceptance AcceptBatchValues(DeploymentParameters& p, const DeploymentParameters& batch,
                                  Host& host);

// The setup summary's averaging button.
std::string AveragingSummary(const DeploymentParameters& p);

}  // namespace klx
