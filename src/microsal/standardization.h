#pragma once
// The micro-salinometer's standardization against Standard Seawater: the readings of the zero
// point and of the Standard Seawater, the batch and its K15, and the sample channel's gain. The
// instrument keeps them twice: as the calibration coefficients of its sample and standard
// channels, and as the 33-byte standardization table 0600.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/coefficients.h"

namespace klx {

// Where the three channels of a micro-salinometer record stand: Rt = sample / standard.
namespace microsal_channel {
constexpr int kSample = 0;
constexpr int kTemperature = 1;
constexpr int kStandard = 2;
constexpr int kCount = 3;
}  // namespace microsal_channel

struct MicrosalStandardization {
  std::string batch = "P000";  // Standard Seawater batch label, at most 8 characters
  double k15 = 1.0;
  double standardZero = 0.0;  // Vstandard(0)
  double sampleZero = 0.0;    // Vsample(0)
  double standardOne = 1.0;   // Vstandard(1), on Standard Seawater
  double sampleOne = 1.0;     // Vsample(1), on Standard Seawater
  double alpha = 1.0;         // the sample channel's gain

  friend bool operator==(const MicrosalStandardization&,
                         const MicrosalStandardization&) = default;
};

constexpr size_t kMicrosalBlockSize = 33;
constexpr uint8_t kMicrosalBlockLayout = 1;  // byte 0 of the block of a micro-salinometer
constexpr size_t kMicrosalBatchLength = 8;

// The gain that makes Standard Seawater read K15:
// (Vstandard(1) − Vstandard(0)) · K15 / (Vsample(1) − Vsample(0)). Not finite when the two
// sample readings are equal.
double NewAlpha(const MicrosalStandardization& s);
// The new gain as the panel shows it ("%.7f"; "nan" or "inf" when it is not a number).
std::string NewAlphaText(double alpha);
// A gain that may be written: finite and positive. Written, a gain that is not a number would
// leave the logger with coefficients that no read accepts, and a gain of zero or below makes
// every ratio zero or negative (salinity 0).
bool GainAcceptable(double alpha);

// The sample channel gets c0 = −alpha·Vsample(0), c1 = alpha; the standard channel c0 =
// −Vstandard(0), c1 = 1; c2 = c3 = 0 for both. Other channels are left alone.
void ApplyToCoefficients(const MicrosalStandardization& s, CalibrationCoefficients& cal);
// The reverse: alpha = c1 of the sample channel, Vsample(0) = −c0/c1 of it, Vstandard(0) = −c0
// of the standard channel. A sample channel whose c1 is zero or not finite leaves alpha and
// Vsample(0) as they were.
void TakeFromCoefficients(const CalibrationCoefficients& cal, MicrosalStandardization& s);

// The 33 data bytes of table 0600: the layout byte 1, Vstandard(1), Vsample(1) and K15 as
// little-endian doubles, then the batch in 8 bytes (padded with zero bytes).
std::array<uint8_t, kMicrosalBlockSize> EncodeStandardizationBlock(
    const MicrosalStandardization& s);
// Vstandard(1), Vsample(1), K15 and the batch from a block of the micro-salinometer layout
// (byte 0 equal to 1); false (nothing changed) for a short block, another layout, or one whose
// three numbers are not all finite (a damaged table must not show as "nan").
bool DecodeStandardizationBlock(const std::vector<uint8_t>& data, MicrosalStandardization& s);

}  // namespace klx
