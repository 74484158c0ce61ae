#pragma once
// The micro-salinometer's running measurement: each record of three channel readings becomes a
// temperature, the standard and sample readings, their ratio Rt and the practical salinity; the
// five series keep the newest readings of the averaging window, whose means are what the panel,
// the capture file and the graph show. The means of salinity form a history, whose least-squares
// line and spread decide whether the reading has settled.
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "records/coefficients.h"

namespace klx {

constexpr int kMicrosalRate = 6;              // records a second
constexpr int kMicrosalSeriesCapacity = 400;  // readings a series holds
constexpr int kMicrosalHistoryCapacity = 360;
constexpr int kMicrosalDefaultSeconds = 30;
constexpr int kMicrosalMinimumSeconds = 1;
constexpr int kMicrosalMaximumSeconds = 60;
constexpr double kSettledSlope = 0.0004;   // largest slope of a settled history
constexpr double kSettledSpread = 0.002;   // largest distance of its extremes from the line
constexpr size_t kMicrosalGraphCapacity = 2359294;
constexpr size_t kMicrosalGraphView = 1800;
inline constexpr const char* kGraphOverflowText = "Graph cleared as data overflowed memory";

// One record converted.
struct MicrosalReading {
  double temperature = 0;  // °C from the thermistor equation
  double standard = 0;     // raw / 2^24
  double sample = 0;       // raw / 2^24
  double ratio = 0;        // Rt
  double salinity = 0;     // PSS-78
};

// Salinity for a ratio at zero pressure. A negative ratio, one that is not a finite number, or a
// result that is not a finite number (a missing temperature) gives 0.
double MicrosalSalinity(double ratio, double temperature);
// The record's three raw counts (sample, temperature, standard) through the coefficients:
// Rt = sample channel value / standard channel value. A ratio that is not finite (a standard
// reading at its zero point) is kept as 0, so no mean or file row ever carries a NaN.
MicrosalReading ConvertMicrosalRecord(const std::array<int32_t, 3>& raw,
                                      const CalibrationCoefficients& cal);

// The averaging field: 1..60; text that is not a number gives 1, a number above 60 gives 60.
int ClampAveragingSeconds(long long seconds);
int ParseAveragingSeconds(const std::string& text);

struct HistoryFit {
  double slope = 0;   // per history entry
  double middle = 0;  // the line's value in the middle of the span
  double maximum = 0;
  double minimum = 0;
  int count = 0;
};
// The least-squares line through `n` values (at positions 0..n−1) and their extremes.
HistoryFit FitHistory(const double* values, int n);
// √((n·Σs² − (Σs)²) / (n·(n − 1))), 0 for n ≤ 1 and where rounding leaves the radicand below 0.
double OnePassStandardDeviation(const double* values, int n);
// Settled: the history holds at least `window` entries, the slope's magnitude is below 0.0004,
// and the extremes each lie within 0.002 of the line's middle value.
bool HistorySettled(const HistoryFit& fit, int historyCount, int window);

class MicrosalMeasurement {
 public:
  enum Series { kTemperature = 0, kStandard, kSample, kRatio, kSalinity, kSeriesCount };
  enum GraphChannel { kGraphSalinity = 0, kGraphTemperature, kGraphStandard, kGraphSample };

  explicit MicrosalMeasurement(int averagingSeconds = kMicrosalDefaultSeconds);

  // A shorter window takes effect at once: only the newest W readings stay.
  void SetAveragingSeconds(int seconds);
  int AveragingSeconds() const { return seconds_; }
  int Window() const { return seconds_ * kMicrosalRate; }
  // Empties every series, the history and the graph.
  void Clear();

  // The per-record update. Returns true when the graph was full and started again.
  bool Add(const MicrosalReading& reading);

  int Held() const { return static_cast<int>(series_[kSalinity].size()); }
  const std::deque<double>& Values(Series s) const { return series_[s]; }
  const MicrosalReading& Means() const { return means_; }
  // Seconds the means cover, as the averaging note and the capture row give them: (held + 1) / 6.
  int AveragedSeconds() const { return (Held() + 1) / kMicrosalRate; }
  const std::deque<double>& History() const { return history_; }
  const HistoryFit& Fit() const { return fit_; }
  double StandardDeviation() const { return deviation_; }
  bool Settled() const { return settled_; }
  int64_t Records() const { return records_; }

  // The panel's lines: the averaging note while the window fills, the standard deviation, the
  // mean temperature and Rt; and the large salinity line.
  std::string Text() const;
  std::string SalinityLine() const;

  // The graph: mean salinity, temperature, standard mean and sample mean per record.
  const std::vector<float>& Graph(GraphChannel c) const { return graph_[c]; }
  // The first index of the view of the last 1800 points.
  size_t GraphViewStart() const;

 private:
  void Trim();
  void ComputeMeans();

  int seconds_;
  std::array<std::deque<double>, kSeriesCount> series_;
  MicrosalReading means_;
  std::deque<double> history_;
  HistoryFit fit_;
  double deviation_ = 0;
  bool settled_ = false;
  int64_t records_ = 0;
  std::array<std::vector<float>, 4> graph_;
};

}  // namespace klx
