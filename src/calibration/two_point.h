#pragma once
// Two-point calibration: the statistics of highlighted raw readings, the offset and slope that
// carry two averaged readings onto two reference values, and their write to the logger.
#include <cstdint>
#include <string>
#include <vector>

#include "calibration/write.h"
#include "link/logger_link.h"
#include "records/coefficients.h"
#include "records/data_set.h"

namespace klx {

struct ReadingStatistics {
  double mean = 0;
  double standardDeviation = 0;  // sample standard deviation (n − 1); 0 for fewer than two
  int count = 0;                 // readings that are not missing
};

// The statistics of series[begin, end) (clamped to the series), missing values left out.
ReadingStatistics StatisticsOf(const std::vector<float>& series, size_t begin, size_t end);

// A raw reading (count / 2^24) of a channel whose extended range wraps: range class 2 wraps
// above 0.99, class 1 from 0.875 on; the reading is then taken one full range lower.
double UnwrapReading(double reading, uint32_t rangeClass);

struct TwoPointFit {
  double c0 = 0, c1 = 0;
  bool valid = false;  // both finite
};
// c1 = (value2 − value1) / (reading2 − reading1), c0 = value1 − c1 · reading1, both readings
// unwrapped first.
TwoPointFit FitTwoPoints(double reading1, double reading2, double value1, double value2,
                         uint32_t rangeClass);
// The write button's caption.
std::string TwoPointCaption(const TwoPointFit& fit);

// Why a two-point calibration of `channel` of the held data cannot be made (empty: it can).
// `letter` is the channel's type letter; thermistor channels ('T') follow a logarithmic law that
// a straight line through two points would misrepresent.
std::string TwoPointRefusal(const DataSet& data, int channel, char letter, bool rawView);

// Writes c0, c1, 0, 0 to `channel` of the connected logger and reads the table back. Refused
// (with the message) unless the data came from the connected logger.
CalibrationWrite WriteTwoPoint(LoggerLink& link, CalibrationCoefficients& cal, int32_t dataSerial,
                               int channel, const TwoPointFit& fit);

}  // namespace klx
