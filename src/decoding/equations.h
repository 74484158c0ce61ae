#pragma once
// The channel equations: raw 24-bit counts to engineering units with the channel's
// four calibration coefficients, the extended-range correction and the raw-values mode.
//
// x = raw / 2^24. Polynomial: c0 + c1·x + c2·x² + c3·x³. Thermistor ('T' channels):
// L = ln(1/x − 1), s = c0 + c1·L + c2·L² + c3·L³, value = 1/s − 273.15; raw exactly 2^24 gives
// −273.15, raw 0 or s equal to 0 (or not a number) gives −1000.
#include <array>
#include <cstdint>

namespace klx {

struct DataSet;

constexpr double kFullScale = 16777216.0;  // 2^24
constexpr int32_t kWrap = 0x1000000;
constexpr int32_t kClass2WrapThreshold = 0xFD70A2;  // about 0.99 of full scale
constexpr int32_t kClass1WrapThreshold = 0xDFFFFF;

using Coefficients = std::array<double, 4>;

// The equations on their own.
double PolynomialEquation(const Coefficients& c, int32_t raw);
double ThermistorEquation(const Coefficients& c, int32_t raw);
// Raw-values mode: raw / 2^24, no other correction.
inline double RawValue(int32_t raw) {
  return raw / kFullScale;
}

// The range class that decides the wrap of an extended-range channel: the class of its type row,
// except that a type 'A' channel counts as class 1 when the logger's engineering-units level is
// exactly 1.
uint32_t EffectiveRangeClass(const DataSet& data, int channel);

// The range correction (`ApplyExtendedRange`). A channel whose extended-capability
// byte has bit 0 set wraps readings at or above its class threshold (class 2: 0xFD70A2, class 1:
// 0xDFFFFF) to small negative values; any other channel treats an odd reading as outside the
// normal range (bit 23 set: − 2^24, else + 2^24).
int32_t ApplyExtendedRange(const DataSet& data, int channel, int32_t raw);
// The same with the per-channel decision taken once (the decoder's inner loop): wrapThreshold
// from WrapThresholdOf, which is 0 for a channel without extended range (the odd-reading rule),
// the class threshold for an extended-range channel, and a value above every 24-bit word for an
// extended-range channel of class 0 (never wraps).
int32_t ApplyExtendedRangeWith(int32_t wrapThreshold, int32_t raw);
int32_t WrapThresholdOf(const DataSet& data, int channel);

// The channel's equations with its calibration coefficients (channel indexed from 0; a channel
// outside 0..23 uses the coefficients 0, 1, 0, 0).
double ThermistorValue(const DataSet& data, int32_t raw, int channel);
double PolynomialValue(const DataSet& data, int32_t raw, int channel);
// Picks the thermistor equation for a type 'T' channel, the polynomial otherwise. The raw value
// is taken as it is (apply ApplyExtendedRange first where the reading needs it).
double ChannelValue(const DataSet& data, int32_t raw, int channel);

}  // namespace klx
