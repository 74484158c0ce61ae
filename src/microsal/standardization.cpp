#include "microsal/standardization.h"

#include <cmath>
#include <cstring>

#include "shell/text_file.h"

namespace klx {

namespace {

void PutDouble(uint8_t* at, double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, 8);
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
}

double GetDouble(const uint8_t* at) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(at[i]) << (8 * i);
  double value = 0;
  std::memcpy(&value, &bits, 8);
  return value;
}

}  // namespace

double NewAlpha(const MicrosalStandardization& s) {
  const double span = s.sampleOne - s.sampleZero;
  if (span == 0.0) return std::nan("");
  return (s.standardOne - s.standardZero) * s.k15 / span;
}

std::string NewAlphaText(double alpha) {
  return CFormat("%.7f", alpha);
}

bool GainAcceptable(double alpha) {
  return std::isfinite(alpha) && alpha > 0.0;
}

void ApplyToCoefficients(const MicrosalStandardization& s, CalibrationCoefficients& cal) {
  cal.coef[microsal_channel::kSample] = {-s.alpha * s.sampleZero, s.alpha, 0.0, 0.0};
  cal.coef[microsal_channel::kStandard] = {-s.standardZero, 1.0, 0.0, 0.0};
}

void TakeFromCoefficients(const CalibrationCoefficients& cal, MicrosalStandardization& s) {
  const auto& sample = cal.coef[microsal_channel::kSample];
  if (std::isfinite(sample[1]) && sample[1] != 0.0 && std::isfinite(sample[0])) {
    s.alpha = sample[1];
    s.sampleZero = -sample[0] / sample[1];
  }
  const double standardOffset = cal.coef[microsal_channel::kStandard][0];
  if (std::isfinite(standardOffset)) s.standardZero = -standardOffset;
}

std::array<uint8_t, kMicrosalBlockSize> EncodeStandardizationBlock(
    const MicrosalStandardization& s) {
  std::array<uint8_t, kMicrosalBlockSize> block{};
  block[0] = kMicrosalBlockLayout;
  PutDouble(&block[1], s.standardOne);
  PutDouble(&block[9], s.sampleOne);
  PutDouble(&block[17], s.k15);
  for (size_t i = 0; i < kMicrosalBatchLength && i < s.batch.size(); ++i)
    block[25 + i] = static_cast<uint8_t>(s.batch[i]);
  return block;
}

bool DecodeStandardizationBlock(const std::vector<uint8_t>& data, MicrosalStandardization& s) {
  if (data.size() < kMicrosalBlockSize || data[0] != kMicrosalBlockLayout) return false;
  const double standardOne = GetDouble(&data[1]);
  const double sampleOne = GetDouble(&data[9]);
  const double k15 = GetDouble(&data[17]);
  if (!std::isfinite(standardOne) || !std::isfinite(sampleOne) || !std::isfinite(k15))
    return false;
  s.standardOne = standardOne;
  s.sampleOne = sampleOne;
  s.k15 = k15;
  std::string batch;
  for (size_t i = 0; i < kMicrosalBatchLength; ++i) {
    const char c = static_cast<char>(data[25 + i]);
    if (c == '\0') break;
    batch.push_back(c);
  }
  s.batch = batch;
  return true;
}

}  // namespace klx
