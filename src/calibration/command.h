#pragma once
// The calibration menu commands without their windows: the checks before the coefficients may
// be read, the read that fills the dialog, and the write with its read-back after OK.
#include "calibration/write.h"
#include "link/logger_link.h"
#include "records/coefficients.h"

namespace klx {

// Which menu command asks: the two name the older multi-channel logger's refusal differently.
enum class CalibrationAccess { Coefficients, History };

// The checks of the menu commands on a connected logger: a logging or enabled logger refuses
// calibration access unless it reports that it allows it. False with the message shown.
bool CalibrationAccessAllowed(LoggerLink& link,
                              CalibrationAccess access = CalibrationAccess::Coefficients);

// Reads the configuration (for the loggers that keep one) and the coefficients, as the dialog
// opens. False when the configuration cannot be read; a failed coefficient read still opens the
// dialog (with the defaults, which cannot be written).
bool PrepareCalibrationView(LoggerLink& link, CalibrationCoefficients& cal);

// After OK: writes the table (`calibrationWriteFlags` set by the editor) and, when that worked,
// reads back what the logger now holds.
CalibrationWrite ApplyCalibration(LoggerLink& link, CalibrationCoefficients& cal,
                                  const WriteProgress& progress = {});

}  // namespace klx
