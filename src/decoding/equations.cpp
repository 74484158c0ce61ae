#include "decoding/equations.h"

#include <cmath>

#include "decoding/channel_types.h"
#include "records/data_set.h"

namespace klx {

namespace {

constexpr int32_t kNoExtendedRange = 0;      // odd-reading rule
constexpr int32_t kNeverWraps = 0x7FFFFFFF;  // extended range of class 0: unchanged

const Coefficients& CoefficientsOf(const DataSet& data, int channel) {
  static const Coefficients kIdentity{0.0, 1.0, 0.0, 0.0};
  if (channel < 0 || channel >= CalibrationCoefficients::kMaxChannels) return kIdentity;
  return data.calibration.coef[static_cast<size_t>(channel)];
}

}  // namespace

double PolynomialEquation(const Coefficients& c, int32_t raw) {
  const double x = raw / kFullScale;
  return c[0] + c[1] * x + c[2] * x * x + c[3] * x * x * x;
}

double ThermistorEquation(const Coefficients& c, int32_t raw) {
  if (raw == kWrap) return -273.15;
  if (raw == 0) return kMissingValue;
  const double x = raw / kFullScale;
  const double r = 1.0 / x - 1.0;
  const double l = std::log(r);
  const double s = c[0] + c[1] * l + c[2] * l * l + c[3] * l * l * l;
  if (s == 0.0 || std::isnan(s)) return kMissingValue;
  return 1.0 / s - 273.15;
}

uint32_t EffectiveRangeClass(const DataSet& data, int channel) {
  const int row = TypeRowOfChannel(data, channel);
  if (kChannelTypeTable[row].Letter() == 'A' && data.logger.engineeringUnitsLevel == 1) return 1;
  return kChannelTypeTable[row].rangeClass;
}

int32_t WrapThresholdOf(const DataSet& data, int channel) {
  // Byte 0 of the extended channel capabilities belongs to the logger; channel n is byte n + 1.
  const size_t at = static_cast<size_t>(channel) + 1;
  const bool extended = channel >= 0 && at < data.extendedCapabilities.size() &&
                        (data.extendedCapabilities[at] & 1u) != 0;
  if (!extended) return kNoExtendedRange;
  switch (EffectiveRangeClass(data, channel)) {
    case 2:
      return kClass2WrapThreshold;
    case 1:
      return kClass1WrapThreshold;
    default:
      return kNeverWraps;
  }
}

int32_t ApplyExtendedRangeWith(int32_t wrapThreshold, int32_t raw) {
  // In 64 bits so that no input overflows (words are 24-bit, but callers may pass anything).
  const int64_t r = raw;
  if (wrapThreshold != kNoExtendedRange)
    return static_cast<int32_t>(r >= wrapThreshold ? r - kWrap : r);
  if ((raw & 1) != 0) return static_cast<int32_t>((raw & 0x800000) != 0 ? r - kWrap : r + kWrap);
  return raw;
}

int32_t ApplyExtendedRange(const DataSet& data, int channel, int32_t raw) {
  return ApplyExtendedRangeWith(WrapThresholdOf(data, channel), raw);
}

double ThermistorValue(const DataSet& data, int32_t raw, int channel) {
  return ThermistorEquation(CoefficientsOf(data, channel), raw);
}

double PolynomialValue(const DataSet& data, int32_t raw, int channel) {
  return PolynomialEquation(CoefficientsOf(data, channel), raw);
}

double ChannelValue(const DataSet& data, int32_t raw, int channel) {
  if (kChannelTypeTable[TypeRowOfChannel(data, channel)].Letter() == 'T')
    return ThermistorValue(data, raw, channel);
  return PolynomialValue(data, raw, channel);
}

}  // namespace klx
