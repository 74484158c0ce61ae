#pragma once
// Programming a deployment into the logger: reading its status and schedule, setting its clock,
// the Enable button (questions, stop, erase), the erase wait driven by Tick(), and the enable
// sequence that sends and verifies every parameter and starts logging.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "deployment/range_switching.h"
#include "deployment/validation.h"
#include "link/logger_link.h"
#include "platform/clock.h"
#include "records/coefficients.h"
#include "records/deployment_parameters.h"

namespace klx {

// What the setup dialog shows after reading the logger.
struct ScheduleView {
  int status = -1;
  std::string statusName;
  SystemTime hostTime;
  SystemTime loggerClock;
  std::string message;  // the message line: the last read failure, if any
};

// Status, host clock, logger clock, start, end and period (a zero period read back becomes
// 00:01:00). Returns the status code, or -1 when the status query fails.
int ReadLoggerSchedule(LoggerLink& link, Clock& clock, ScheduleView& view);

// Sets the logger clock to host time plus one second and checks it. True on success.
bool SynchroniseClock(LoggerLink& link, Clock& clock);

// The capability assessment before a setup; a VS-550 of firmware 4.99 or below then has its
// "Waves" capability cleared (it has no wave bursts, whatever it reports).
void AssessCapabilitiesForSetup(LoggerLink& link);

// Memory of this logger holds readings (by family and firmware).
bool MemoryHoldsData(const LoggerState& state, uint32_t pointer);
// The pointer of an empty memory: 0 for linear-memory loggers, 0x20000 for the others.
uint32_t EmptyPointer(const LoggerState& state);
// The start of a start-now or threshold deployment: ten seconds after the logger clock,
// rounded up to a multiple of ten seconds.
SystemTime StartAfterClock(const SystemTime& loggerClock);

// Called by the retrieval when it has read a logger's data, with the data pointer the logger
// reported: the next Enable on that logger asks about data "that has not been downloaded" only
// when its pointer has moved since.
void RecordRetrievalPointer(LoggerLink& link, uint32_t dataPointer);

enum class EnableStep {
  ReturnToDialog,  // a question was answered No, or a check failed: nothing was sent
  Waiting,         // the erase wait runs: call Tick() once a second
  Enabled,         // logging enabled
  Resumed,         // "Continue to add": the deployment goes on
  Stopped,         // the "STOP logger" button stopped the logger
  Failed,          // reported failure (the activity log has a failure entry)
  ClosedToSave,    // the user chose to save retrieved data first: the dialog closes
};

// What the real-time preparation of the Enable button decided.
enum class RealTimeChoice {
  Proceed,         // the records fit the line and the real-time file is chosen
  ReturnToDialog,  // a check failed or the file choice was cancelled
  CloseDialog,     // retrieved data are to be saved first
};

inline constexpr const char* kResetCaption = "Reset Logger";

class LoggerSetup {
 public:
  LoggerSetup(LoggerLink& link, Clock& clock, DeploymentParameters& batchValues);

  // Reads status, clocks and schedule into the parameters (the dialog's opening), the data
  // pointer and the range switching tables where the logger has them. The status code, or -1.
  int Open();

  // The Enable button.
  EnableStep PressEnable();
  // One tick of the erase wait; at its end the enable sequence runs and its result is returned.
  EnableStep Tick();
  bool Waiting() const { return waiting_; }
  double Progress() const { return progress_; }
  double ProgressStep() const { return step_; }

  // The enable sequence proper (after the erase wait, or at once when nothing was erased).
  EnableStep EnableSequence();

  // Validation with this setup's inputs (the logger clock as last read).
  ValidationResult Validate();

  // Choices of the dialog.
  bool resuming = false;    // the button reads "Resume/Enable"
  bool stopButton = false;  // the button reads "STOP logger"
  // "Autorun when battery/external power switched on" and "Enable Sampling LED": Open() sets
  // them from the logger's start characteristic, so they keep the logger's flags unless
  // changed.
  bool autorun = false;
  bool samplingLed = false;
  // The setup dialog shows this setup: a threshold start then gets an end one year after the
  // logger clock. Without the dialog (the command line) the end is the one asked for.
  bool dialogOpen = false;
  bool calibrationRead = true;  // real-time output needs calibration coefficients
  // "Continue to add" (true) or "Erase old readings" (false) when the logger could add to its
  // deployment; unset: ask.
  std::optional<bool> continueToAdd;
  // The user has already agreed to lose the logger's data (the command line's --erase): the
  // data questions are not asked and "Continue to add" is not offered.
  bool eraseAccepted = false;
  // The data pointer recorded at the last retrieval of this logger, when known: Open() takes
  // it from RecordRetrievalPointer's mark when that belongs to the connected logger.
  std::optional<uint32_t> lastRetrievalPointer;
  // Threshold limits are checked against these coefficients when set.
  const CalibrationCoefficients* calibration = nullptr;
  // When set, activity log entries go under this program directory.
  std::filesystem::path logDirectory;

  // Real-time output chosen: checks that the records fit the line, asks about unsaved retrieved
  // data and chooses the real-time file (the real-time collection provides it). Unset: the
  // logger is programmed without those steps (tests of the sequence alone).
  std::function<RealTimeChoice(DeploymentParameters&)> prepareRealTime;
  // Set when the enable (or "Continue to add") asked for the live display of an engineering-
  // output logger (its RS advanced word has bits 1 and 3 set): the caller opens the live
  // readings.
  bool liveReadingsRequested = false;

  // The logger's default baud rate, the rate of its real-time output: read by Open() from the
  // logger where it keeps one, else its default baud rate minimum.
  int defaultBaudRate = 0;

  ScheduleView view;
  RangeSwitching ranges;
  bool rangesRead = false;
  uint32_t dataPointer = 0;
  ValidationResult validation;
  std::string estimates;
  std::string enabledMessage;  // the status line after "P"
  int enabledStatus = -1;

 private:
  EnableStep Fail(const std::string& text, const char* caption = kResetCaption);
  EnableStep FailQuietly();
  EnableStep StartErase();
  bool ContinueToAdd();
  void RequestLiveReadings();
  bool SendOptionalParameters();
  bool SetAndCheckSchedule();
  void LogEntry(int event);
  void Drain();

  LoggerLink& link_;
  Clock& clock_;
  DeploymentParameters& p_;
  DeploymentParameters& batch_;
  bool waiting_ = false;
  bool acceptedLoss_ = false;
  bool forceErase_ = false;
  double progress_ = 0;
  double step_ = 0;
};

}  // namespace klx
