#pragma once
// The calibration coefficients of the connected logger (or of the logger a file came from).
#include <array>
#include <cstdint>

namespace klx {

// Where the table's values came from. Only a table that reflects the connected logger (its
// calibration, or the defaults of a logger that holds none) may be written back to it.
enum class CalibrationOrigin : uint8_t {
  NotRead,       // nothing read yet (start, or another logger)
  Logger,        // read from the logger
  Uncalibrated,  // the logger holds no calibration: the defaults are in place
  ReadFailed,    // the read broke off: the defaults are in place, the logger's values unknown
};

struct CalibrationCoefficients {
  static constexpr int kMaxChannels = 24;
  // c0..c3 per channel. Thermistor channels ('T'): L = ln(1/x − 1),
  // T = 1/(c0 + c1·L + c2·L² + c3·L³) − 273.15; every other channel: c0 + c1·x + c2·x² + c3·x³,
  // with x the raw count divided by 2^24.
  std::array<std::array<double, 4>, kMaxChannels> coef{};
  // Year (two digits), month, day, hour, minute, second of the calibration.
  std::array<int, 6> calibrationDate{};
  // a, b, Tc, c of Ccor = (Cm − b·(T − Tc)) / (1 + a·(T − Tc) + c·P); no correction by default.
  std::array<double, 4> conductivityCorrection{0.0, 1.0, 0.0, 0.0};
  bool calibrationReadNeeded = true;
  int nextRecordOffset = 0;
  unsigned calibrationWriteFlags = 0;  // 1 coefficients edited, 2 correction edited
  CalibrationOrigin origin = CalibrationOrigin::NotRead;
  int32_t readFromSerial = -1;  // the logger the last read was made on

  friend bool operator==(const CalibrationCoefficients&, const CalibrationCoefficients&) = default;
};

}  // namespace klx
