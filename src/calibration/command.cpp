#include "calibration/command.h"

#include "calibration/read.h"
#include "link/status_codes.h"

namespace klx {

bool CalibrationAccessAllowed(LoggerLink& link, CalibrationAccess access) {
  Host& host = link.host();
  if (link.CommGet(9) != 1) {
    host.Tell("Calibration", "Unable to read the logger status.\nTry again.", BoxIcon::Warning);
    return false;
  }
  if (StatusIsIdle(link.status.code)) return true;
  const LoggerState& s = link.state;
  if ((s.ModelHas("VS-550") || s.ModelHas("VSY-550")) && s.firmware < 6.415f) {
    if (access == CalibrationAccess::History)
      host.Tell("Calibration History",
                "Unable to perform calibration history while VS-550 logger is enabled",
                BoxIcon::Warning);
    else
      host.Tell("Calibration Coefficients",
                "Unable to perform calibration while VS-550 logger is enabled", BoxIcon::Warning);
    return false;
  }
  // Capability entry 5, bit value 16: calibration access while logging.
  if (s.commandLevelFlag4) return true;
  host.Tell("Calibration",
            "Logging in progress or enabled.\nCannot read the calibration coefficients at this "
            "time.\n\nUse 'Retrieve data' menu item to stop logger - \n 'Retrieve Data' or "
            "'STOP Logger' button.",
            BoxIcon::Warning);
  return false;
}

bool PrepareCalibrationView(LoggerLink& link, CalibrationCoefficients& cal) {
  if (GenerationOf(link.state) != CalibrationGeneration::SingleChannel && link.CommGet(16) != 1)
    return false;
  if (link.state.calibrationStale) cal.calibrationReadNeeded = true;
  ReadCalibration(link, cal);
  return true;
}

CalibrationWrite ApplyCalibration(LoggerLink& link, CalibrationCoefficients& cal,
                                  const WriteProgress& progress) {
  const CalibrationWrite result = WriteCalibration(link, cal, progress);
  if (result == CalibrationWrite::Written) {
    cal.calibrationReadNeeded = true;
    ReadCalibration(link, cal);
  }
  return result;
}

}  // namespace klx
