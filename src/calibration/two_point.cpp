#include "calibration/two_point.h"

#include <algorithm>
#include <cmath>

#include "calibration/command.h"
#include "calibration/read.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

ReadingStatistics StatisticsOf(const std::vector<float>& series, size_t begin, size_t end) {
  ReadingStatistics s;
  end = std::min(end, series.size());
  // Two passes: the mean first, then the spread about it (no cancellation for large counts).
  double sum = 0;
  for (size_t i = begin; i < end; ++i) {
    if (series[i] == kMissingValue) continue;
    sum += series[i];
    ++s.count;
  }
  if (s.count == 0) return s;
  s.mean = sum / s.count;
  if (s.count < 2) return s;
  double squares = 0;
  for (size_t i = begin; i < end; ++i) {
    if (series[i] == kMissingValue) continue;
    const double d = series[i] - s.mean;
    squares += d * d;
  }
  s.standardDeviation = std::sqrt(squares / (s.count - 1));
  return s;
}

double UnwrapReading(double reading, uint32_t rangeClass) {
  if ((rangeClass == 2 && reading > 0.99) || (rangeClass == 1 && reading >= 0.875))
    return reading - 1.0;
  return reading;
}

TwoPointFit FitTwoPoints(double reading1, double reading2, double value1, double value2,
                         uint32_t rangeClass) {
  const double r1 = UnwrapReading(reading1, rangeClass);
  const double r2 = UnwrapReading(reading2, rangeClass);
  TwoPointFit fit;
  fit.c1 = (value2 - value1) / (r2 - r1);
  fit.c0 = value1 - fit.c1 * r1;
  fit.valid = std::isfinite(fit.c0) && std::isfinite(fit.c1);
  return fit;
}

std::string TwoPointCaption(const TwoPointFit& fit) {
  return CFormat("Write calibration coefficients:%.15lf, %.15lf, 0.0, 0.0", fit.c0, fit.c1);
}

std::string TwoPointRefusal(const DataSet& data, int channel, char letter, bool rawView) {
  if (data.Empty())
    return "No raw data is available for this operation.\n\nRetrieve data from logger or read a "
           "'hex' file.";
  if (!rawView)
    return "Two-point calibration not available in converted mode - Press 'Change data view'";
  const bool measured = channel >= 0 && channel < data.logger.channelCount &&
                        channel < static_cast<int>(data.series.size());
  if (!measured || letter == 'T') return "Two-point calibration not available on this channel";
  return {};
}

CalibrationWrite WriteTwoPoint(LoggerLink& link, CalibrationCoefficients& cal, int32_t dataSerial,
                               int channel, const TwoPointFit& fit) {
  Host& host = link.host();
  if (!fit.valid) return CalibrationWrite::Failed;
  if (!link.ConnectLogger()) return CalibrationWrite::Failed;
  if (link.state.serial != dataSerial) {
    host.Tell("Calibration",
              Format("The data come from logger %06d, but logger %06d is connected.\nThe "
                     "coefficients were not written.",
                     dataSerial, link.state.serial),
              BoxIcon::Warning);
    return CalibrationWrite::Failed;
  }
  link.AssessCapabilities();
  if (!CalibrationAccessAllowed(link) || !PrepareCalibrationView(link, cal))
    return CalibrationWrite::Failed;
  if (channel < 0 || channel >= CalibrationRows(link.state)) return CalibrationWrite::Failed;
  cal.coef[static_cast<size_t>(channel)] = {fit.c0, fit.c1, 0.0, 0.0};
  cal.calibrationWriteFlags = 1;
  return ApplyCalibration(link, cal);
}

}  // namespace klx
