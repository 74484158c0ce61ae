#pragma once
// The micro-salinometer run: the checks and the programming that start the instrument's 6 Hz
// real-time output, the reading of its records into the measurement, the capture file, and the
// save of a new standardization (coefficients and table 0600, read back and compared) after
// which the run starts again.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "link/logger_link.h"
#include "microsal/capture_file.h"
#include "microsal/measurement.h"
#include "microsal/standardization.h"
#include "platform/clock.h"
#include "realtime/records.h"
#include "records/coefficients.h"

namespace klx {

inline constexpr const char* kMicrosalCaption = "Micro-Salinometer";
inline constexpr const char* kAcceptCaption = "Accept Standardization";
inline constexpr const char* kNotMicrosalText =
    "The logger connected is not a Micro-Salinometer\n or does not have some necessary feature.";
inline constexpr const char* kMicrosalLoggingText =
    "Logging in progress or enabled.\nCannot operate the Micro-Salinometer at this time.\n\nUse "
    "'Retrieve data' menu item to stop logger - \n 'Retrieve Data' or 'STOP Logger' button.";
inline constexpr const char* kMicrosalChannelsText =
    "Channel configuration is not as expected.\nCannot continue with the Micro-Salinometer "
    "operation.";
inline constexpr const char* kMicrosalDataText =
    "The logger contains data that has not been downloaded.\n\nThese data will be lost if you "
    "continue.\n\nDo you want to continue?";
inline constexpr const char* kMicrosalRunStatus = "Run Micro-Salinometer";
inline constexpr const char* kMicrosalSetupText = "Setup:\n\nHL-240 setup in progress";
inline constexpr const char* kMicrosalSendError = "Microsal calibration send error";
inline constexpr const char* kMicrosalRetrieveError = "Microsal calibration retrieve error";
inline constexpr const char* kMicrosalCompareError = "Microsal calibration compare error";
inline constexpr const char* kSaveStartedText =
    "The saving of the new standardization values has started.\nPlease wait.";
inline constexpr const char* kSaveConnectText =
    "Unable to connect to Micro-Salinometer to save standardizaton.";
inline constexpr const char* kSaveSucceededText =
    "The saving of the new standardization values was successful.\nPlease wait for the data "
    "communication to restart.";
inline constexpr const char* kSaveFailedText =
    "The saving of the new standardization values has failed.\nTry again";
inline constexpr const char* kBadGainText =
    "The new gain (alpha) is not a finite, positive number.\nCheck the captured readings and "
    "K15; nothing was written to the Micro-Salinometer.";
inline constexpr const char* kNoCalibrationText =
    "The calibration coefficients could not be read when the Micro-Salinometer started.\nThe "
    "standardization was not saved, so that the other channels' calibrations are not replaced "
    "by defaults.\nClose the Micro-Salinometer, open it again and retry.";
inline constexpr const char* kStopTimeoutText =
    "The Micro-Salinometer did not stop logging in time.\nTry again.\nContact KLX if the "
    "problem persists.";
inline constexpr const char* kRestoreFailedText =
    "\n\nThe previous standardization could not be written back either:\nthe Micro-Salinometer "
    "may now hold part of the new values. Save the standardization again.";
inline constexpr const char* kUnknownDataText =
    "The logger's memory pointer could not be read.\nThe logger may contain data that has not "
    "been downloaded.\n\nThese data will be lost if you continue.\n\nDo you want to continue?";
inline constexpr const char* kBadStandardizationText =
    "The standardization table in the Micro-Salinometer holds values that are not numbers; "
    "the default values are shown";
inline constexpr const char* kMicrosalHaltedText =
    "The Micro-Salinometer is not running.\n\nClose this window and start it again.";
inline constexpr const char* kStandardizationNote =
    "\nStandardization - new values stored.\nStandard Seawater Batch=%s, K15=%.5f\n\n";

enum class MicrosalState { Stopped, Setup, Running, Standardizing, Saving };

// Sends "!9" (after reconnecting) and polls the status until the logger is idle (0, 4 or 8),
// for at most `timeoutMs`. False (with kStopTimeoutText under `caption`) when it is not.
bool StopUntilIdle(LoggerLink& link, Clock& clock, int64_t timeoutMs, const char* caption);
// The polling half: status queries every half second until the logger is idle or `timeoutMs`
// has passed.
bool WaitUntilIdle(LoggerLink& link, Clock& clock, int64_t timeoutMs, const char* caption);

// Why the connected logger cannot run as a micro-salinometer now (its mode and its status), or
// nullptr when it can.
const char* MicrosalStartRefusal(const LoggerState& state, int statusCode);

// Sends table 0600 ("S0600") with the standardization block, reads it back ("R0600") and
// compares the 33 bytes. False with the send, retrieve or compare error in the status line.
bool SendStandardizationBlock(LoggerLink& link, const MicrosalStandardization& s);

// Reads and drops what the line holds until it has been quiet for `quietMs`, for at most
// `boundMs` (a logger still streaming records would otherwise answer a command among them).
void DrainLine(LoggerLink& link, Clock& clock, int64_t quietMs, int64_t boundMs);

// The channel layout a micro-salinometer must report: at least three channels, the sample 'C',
// the temperature 'T' and the standard 'C'.
bool MicrosalChannelsAsExpected(const LoggerState& state);

class MicrosalRun {
 public:
  MicrosalRun(LoggerLink& link, Clock& clock, CalibrationCoefficients& calibration);

  // The menu command: the checks, the coefficient and standardization read, and the programming
  // of the 6 Hz real-time run. False when a check refused or a step failed (the run stays
  // stopped; the message was shown).
  bool Start();
  // Reads what the line holds and updates the measurement for every complete record. Returns
  // the number of records taken.
  int Poll();
  // The per-record update for one record's raw counts (sample, temperature, standard).
  void AddRecord(const std::array<int32_t, 3>& raw, const SystemTime& time);
  // "Save now": one row; a failure to write it is reported once.
  bool SaveNow();
  // The one-second tick: while in setup, one " ." more and the progress bar 5 further.
  void SecondTick();
  // Closing: stops the reading and the logger and closes the capture file.
  void Stop();

  // The standardization being edited takes the current means.
  void CaptureZero(MicrosalStandardization& edit, bool standard) const;
  void CaptureStandard(MicrosalStandardization& edit) const;

  // "Accept New Values": refuses a gain that is not finite and positive and a run whose
  // coefficients were not read; otherwise stops the logger, writes the two channels'
  // coefficients and table 0600, reads the table back and compares it. On success the new
  // values are current and the run starts again; on a failure after the logger was reached the
  // run starts again with what the logger holds.
  bool SaveStandardization(const MicrosalStandardization& next);

  void SetAveragingSeconds(int seconds) { measurement.SetAveragingSeconds(seconds); }

  MicrosalState state = MicrosalState::Stopped;
  MicrosalStandardization standardization;
  MicrosalMeasurement measurement;
  SalCaptureFile capture;
  std::string sampleInformation;
  std::string setupText;
  int setupProgress = 0;
  bool calibrationRead = false;  // the start-up read of the coefficients succeeded
  SystemTime lastRecordTime;
  // How long a stop may take to reach an idle status.
  int64_t stopTimeoutMs = 20000;
  // End of the deployment the run programs, counted from its start.
  int64_t runDays = 366;
  // Called after each record was taken (the panel redraws).
  std::function<void()> onRecord;
  // The logger was programmed to stream and has not been stopped since: closing must stop it,
  // whether or not records are being read.
  bool loggerStreaming = false;

  LoggerLink& Link() { return link_; }
  Clock& GetClock() { return clock_; }

 private:
  bool StartRun(bool restart);
  bool Refuse(const char* text);
  bool ReadStandardization();
  bool ProgramRun();
  // `reached`: the logger answered (so the run can start again after a failure);
  // `restoreFailed`: after a failed write, the previous values could not be written back.
  bool WriteStandardization(const MicrosalStandardization& next, bool& reached,
                            bool& restoreFailed);
  // After a failed save that changed the logger: the coefficients and table 0600 as they were
  // read at the start. False when that fails too.
  bool RestoreStandardization(const CalibrationCoefficients& previous);
  void ReportCaptureFailure();
  // Table 0600 as read at the start (empty when the logger had none).
  std::vector<uint8_t> previousBlock_;

  LoggerLink& link_;
  Clock& clock_;
  CalibrationCoefficients& cal_;
  std::unique_ptr<RecordReader> reader_;
};

}  // namespace klx
