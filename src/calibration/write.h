#pragma once
// Writing the calibration coefficients to the connected logger, by logger generation, inside the
// clock frame: the logger's clock is set to the PC's time so that the new calibration carries the
// PC's date, and afterwards it is put back on its own time plus the time the write took.
//   linear-memory loggers: table "U0000" "A", one "U" table per channel, "U0000" "Z", and the
//     conductivity correction as table 0600;
//   older multi-channel loggers: a new record appended to the calibration memory with "!C"
//     texts, then a verifying walk of the chain;
//   older single-channel loggers: "Y" with the raw coefficients, then "Z" to read them back.
#include <array>
#include <functional>
#include <string>

#include "link/logger_link.h"
#include "records/coefficients.h"

namespace klx {

enum class CalibrationWrite : int { Failed = 0, Written = 1 };

inline constexpr const char* kCalibrationUnchangedText =
    "Calibration coefficients unchanged.\nNot duplicated in the logger.";
inline constexpr const char* kCalibrationWrittenText =
    "Writing of calibration coefficients successful.";
inline constexpr const char* kCalibrationWriteErrorText =
    "Error in writing calibration coefficients.\nTry again.";
inline constexpr const char* kInsufficientCalibrationMemoryText =
    "Insufficient memory available for storing calibration coefficients.\nContact KLX.";
inline constexpr const char* kCalibrationNotReadText =
    "The calibration coefficients could not be read from this logger.\nNothing was written: "
    "read them successfully first, so that the logger's calibration is not replaced by the "
    "defaults.";
inline constexpr const char* kClockReadFailedText =
    "Unable to read the logger clock.\nThe calibration coefficients were not written.\nTry "
    "again.\nContact KLX if the problem persists.";
inline constexpr const char* kCalibrationWhileLoggingText =
    "Logging in progress or enabled.\nThe calibration coefficients cannot be written at this "
    "time.\n\nStop the logger from 'Setup' first.";
inline constexpr const char* kStatusReadFailedText =
    "Unable to read the logger status.\nThe calibration coefficients were not written.\nTry "
    "again.";
inline constexpr const char* kNotFiniteText = "A calibration coefficient must be a finite number.";

// Texts of the "U" table write's negative acknowledgement, by its error code.
std::string CalibrationErrorText(std::string_view nakReply);

// The progress window's line ("Writing calibration data for channel %d"), shown as each step
// starts.
using WriteProgress = std::function<void(const std::string&)>;

// True when the table may be written to the connected logger: it was read from this logger (or
// the logger holds no calibration) and every meaningful coefficient is finite. Otherwise the
// reason is shown in a message box titled "Calibration" and false is returned.
bool CalibrationWritable(LoggerLink& link, const CalibrationCoefficients& cal);

// The write (`CommSet` 11). `cal.calibrationWriteFlags` says what was edited (bit value 1 the
// coefficients, 2 the conductivity correction); an older multi-channel or a linear-memory
// logger whose table is unchanged is not written to at all. The flags are cleared at the end.
CalibrationWrite WriteCalibration(LoggerLink& link, CalibrationCoefficients& cal,
                                  const WriteProgress& progress = {});

// Makes `CommSet` 11 run WriteCalibration on `cal`. Both must outlive the link's use of the hook.
// `progress` (optional) receives the progress window's line.
void InstallCalibrationWriter(LoggerLink& link, CalibrationCoefficients& cal,
                              WriteProgress progress = {});

// ---- Editing helpers shared by the dialog and the command line ----

using CoefficientRows = std::array<std::array<double, 4>, CalibrationCoefficients::kMaxChannels>;

// Reads an edit field as "%lf": true with the value when it is a finite number.
bool ParseCoefficient(const std::string& text, double& value);
// Up to four numbers from clipboard text, read as "%lf %lf %lf %lf"; reading stops at the first
// text that is not a finite number. Returns how many were read.
int ParseClipboardColumn(const std::string& text, std::array<double, 4>& values);
// The warning a paste of `count` numbers gets ("" for four).
std::string ClipboardWarning(int count);

// The "coefficients edited" bit of `calibrationWriteFlags` for a working copy of the table:
// set when any meaningful coefficient differs, or when the logger holds no calibration.
unsigned EditedFlag(const CalibrationCoefficients& cal, const CoefficientRows& working, int rows);

}  // namespace klx
