#include "microsal/measurement.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "decoding/equations.h"
#include "derived/formulas.h"
#include "microsal/standardization.h"
#include "shell/text_file.h"

namespace klx {

double MicrosalSalinity(double ratio, double temperature) {
  if (!std::isfinite(ratio) || ratio < 0.0) return 0.0;
  const double s = Salinity78(ratio, temperature, 0.0, SalinityMode::Ratio);
  if (!std::isfinite(s) || IsMissingValue(s)) return 0.0;
  return s;
}

MicrosalReading ConvertMicrosalRecord(const std::array<int32_t, 3>& raw,
                                      const CalibrationCoefficients& cal) {
  using microsal_channel::kSample, microsal_channel::kStandard, microsal_channel::kTemperature;
  MicrosalReading r;
  r.temperature = ThermistorEquation(cal.coef[kTemperature], raw[kTemperature]);
  r.sample = RawValue(raw[kSample]);
  r.standard = RawValue(raw[kStandard]);
  const double sample = PolynomialEquation(cal.coef[kSample], raw[kSample]);
  const double standard = PolynomialEquation(cal.coef[kStandard], raw[kStandard]);
  r.ratio = sample / standard;
  if (!std::isfinite(r.ratio)) {
    r.ratio = 0.0;
    r.salinity = 0.0;
  } else {
    r.salinity = MicrosalSalinity(r.ratio, r.temperature);
  }
  return r;
}

int ClampAveragingSeconds(long long seconds) {
  return static_cast<int>(
      std::clamp<long long>(seconds, kMicrosalMinimumSeconds, kMicrosalMaximumSeconds));
}

int ParseAveragingSeconds(const std::string& text) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return kMicrosalMinimumSeconds;
  return ClampAveragingSeconds(value);
}

HistoryFit FitHistory(const double* values, int n) {
  HistoryFit fit;
  fit.count = n;
  if (n <= 0) return fit;
  double sumX = 0, sumY = 0;
  fit.maximum = fit.minimum = values[0];
  for (int i = 0; i < n; ++i) {
    sumX += i;
    sumY += values[i];
    fit.maximum = std::max(fit.maximum, values[i]);
    fit.minimum = std::min(fit.minimum, values[i]);
  }
  const double meanX = sumX / n, meanY = sumY / n;
  double sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) {
    sxx += (i - meanX) * (i - meanX);
    sxy += (i - meanX) * (values[i] - meanY);
  }
  fit.slope = sxx > 0 ? sxy / sxx : 0.0;
  // The line passes through the means: its value in the middle of the span is the mean.
  fit.middle = meanY;
  return fit;
}

double OnePassStandardDeviation(const double* values, int n) {
  if (n <= 1) return 0.0;
  double sum = 0, squares = 0;
  for (int i = 0; i < n; ++i) {
    sum += values[i];
    squares += values[i] * values[i];
  }
  const double radicand = (n * squares - sum * sum) / (static_cast<double>(n) * (n - 1));
  return radicand > 0.0 ? std::sqrt(radicand) : 0.0;
}

bool HistorySettled(const HistoryFit& fit, int historyCount, int window) {
  return historyCount >= window && std::abs(fit.slope) < kSettledSlope &&
         fit.maximum - fit.middle <= kSettledSpread && fit.middle - fit.minimum <= kSettledSpread;
}

MicrosalMeasurement::MicrosalMeasurement(int averagingSeconds)
    : seconds_(ClampAveragingSeconds(averagingSeconds)) {}

void MicrosalMeasurement::SetAveragingSeconds(int seconds) {
  seconds_ = ClampAveragingSeconds(seconds);
  Trim();
  if (Held() > 0) ComputeMeans();
}

void MicrosalMeasurement::Clear() {
  for (auto& s : series_) s.clear();
  means_ = {};
  history_.clear();
  fit_ = {};
  deviation_ = 0;
  settled_ = false;
  records_ = 0;
  for (auto& g : graph_) g.clear();
}

void MicrosalMeasurement::Trim() {
  const auto keep = static_cast<size_t>(std::min(Window(), kMicrosalSeriesCapacity));
  for (auto& s : series_) {
    while (s.size() > keep) s.pop_front();
  }
}

void MicrosalMeasurement::ComputeMeans() {
  std::array<double, kSeriesCount> mean{};
  for (int k = 0; k < kSeriesCount; ++k) {
    double sum = 0;
    for (double v : series_[k]) sum += v;
    mean[k] = series_[k].empty() ? 0.0 : sum / static_cast<double>(series_[k].size());
  }
  means_.temperature = mean[kTemperature];
  means_.standard = mean[kStandard];
  means_.sample = mean[kSample];
  means_.ratio = mean[kRatio];
  means_.salinity = mean[kSalinity];
}

bool MicrosalMeasurement::Add(const MicrosalReading& r) {
  ++records_;
  series_[kTemperature].push_back(r.temperature);
  series_[kStandard].push_back(r.standard);
  series_[kSample].push_back(r.sample);
  series_[kRatio].push_back(r.ratio);
  series_[kSalinity].push_back(r.salinity);
  Trim();
  ComputeMeans();

  history_.push_back(means_.salinity);
  while (history_.size() > static_cast<size_t>(kMicrosalHistoryCapacity)) history_.pop_front();
  // The line and the extremes span the whole history; the deviation only its last W entries.
  const std::vector<double> history(history_.begin(), history_.end());
  const int count = static_cast<int>(history.size());
  fit_ = FitHistory(history.data(), count);
  const int n = std::min(Window(), count);
  deviation_ = OnePassStandardDeviation(history.data() + (count - n), n);
  settled_ = HistorySettled(fit_, count, Window());

  bool overflow = false;
  if (graph_[kGraphSalinity].size() >= kMicrosalGraphCapacity) {
    for (auto& g : graph_) g.clear();
    overflow = true;
  }
  graph_[kGraphSalinity].push_back(static_cast<float>(means_.salinity));
  graph_[kGraphTemperature].push_back(static_cast<float>(means_.temperature));
  graph_[kGraphStandard].push_back(static_cast<float>(means_.standard));
  graph_[kGraphSample].push_back(static_cast<float>(means_.sample));
  return overflow;
}

std::string MicrosalMeasurement::Text() const {
  std::string text;
  if (Held() < Window()) text += CFormat("\t(%d second averages)\n", AveragedSeconds());
  text += CFormat("Standard deviation:\t%.5f\n\nTemperature:\t\t%.4f\xC2\xB0" "C\nRatio (Rt):\t\t%.5f",
                  deviation_, means_.temperature, means_.ratio);
  return text;
}

std::string MicrosalMeasurement::SalinityLine() const {
  return CFormat("Sample salinity (PSS-78): %.4f", means_.salinity);
}

size_t MicrosalMeasurement::GraphViewStart() const {
  const size_t n = graph_[kGraphSalinity].size();
  return n > kMicrosalGraphView ? n - kMicrosalGraphView : 0;
}

}  // namespace klx
