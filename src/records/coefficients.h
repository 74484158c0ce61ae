#pragma once
// The calibration coefficients of the connected logger (or of the logger a file came from).
#include <array>
#include <cstdint>

namespace klx {

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

  friend bool operator==(const CalibrationCoefficients&, const CalibrationCoefficients&) = default;
};

}  // namespace klx
