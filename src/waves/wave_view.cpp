#include "waves/wave_view.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "shell/datetime.h"
#include "shell/text_file.h"
#include "waves/analysis.h"

namespace klx {

int WaveBurstAtSample(const DataSet& data, int64_t sample) {
  if (data.bursts.empty()) return -1;
  int shown = 0;
  int burst = 0;
  for (const StampRecord& r : data.stamps.records) {
    if (r.type != kStampBurst) continue;
    if (static_cast<int64_t>(r.sampleIndex) > sample) break;
    shown = burst++;
  }
  return std::min(shown, static_cast<int>(data.bursts.size()) - 1);
}

std::string WaveWindowTitle(const DataSet& data, int burst) {
  if (burst < 0 || static_cast<size_t>(burst) >= data.bursts.size()) return {};
  const SystemTime& t = data.bursts[static_cast<size_t>(burst)].time;
  return CFormat("Wave measurements at %4d/%s/%02d %02d:%02d:%02d - Wave %d of %d", t.year,
                 MonthName(t.month), t.day, t.hour, t.minute, t.second, burst + 1,
                 static_cast<int>(data.bursts.size()));
}

std::string WaveStatisticsText(const BurstSeries& burst, double loggerHeight) {
  const WaveStatistics& s = burst.stats;
  if (!s.analysed) return kWaveInProgressText;
  std::string text = CFormat("\t\t\t%s\n", WaveFlagText(s.flag));
  text += CFormat(
      "Mean depth of water:\t\t%.2f m\nSignificant wave height (H 1/3):\t%.2f m\t\tperiod (T "
      "1/3):\t%.2f secs\n10 percent wave height (H 1/10):\t%.2f\t\tperiod (T 1/10):\t%.2f "
      "secs\nMaximum height (H max):\t\t%.2f m\t\tperiod (T max):\t%.2f secs\nAverage wave "
      "height (H avg):\t%.2f m\t\tperiod(T avg):\t%.2f secs\nEnergy:\t\t\t\t%.2f J/m2",
      static_cast<double>(s.meanDepth) + loggerHeight, s.h13, s.t13, s.h110, s.t110, s.hmax, s.tmax,
      s.havg, s.tavg, s.energy);
  return text;
}

namespace {

// Maps [low, high] onto the box from its bottom row to its top row, clamped; a flat range lies
// across the middle.
float FromBottom(float v, float low, float high, int height) {
  const float bottom = static_cast<float>(std::max(height - 1, 0));
  if (!(high > low)) return bottom / 2;
  const float y = bottom - (v - low) * bottom / (high - low);
  return std::clamp(y, 0.0f, bottom);
}

}  // namespace

std::vector<float> WaveCurve(const BurstSeries& burst, int height) {
  std::vector<float> y;
  const WaveStatistics& s = burst.stats;
  if (s.analysed && !burst.surface.empty()) {
    y.reserve(burst.surface.size());
    if (s.surfaceMax > 0 && s.surfaceMin < 0) {
      const float middle = static_cast<float>(height) / 2;
      const float scale =
          static_cast<float>(height - 2) / (2 * std::max(s.surfaceMax, -s.surfaceMin));
      for (float v : burst.surface) y.push_back(middle - v * scale);
    } else {
      for (float v : burst.surface) y.push_back(FromBottom(v, s.surfaceMin, s.surfaceMax, height));
    }
    return y;
  }
  // Still being assembled: the samples received so far.
  float low = std::numeric_limits<float>::max();
  float high = std::numeric_limits<float>::lowest();
  for (float v : burst.samples) {
    if (v <= kMissingValue) continue;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  y.reserve(burst.samples.size());
  for (float v : burst.samples)
    y.push_back(v <= kMissingValue ? std::numeric_limits<float>::quiet_NaN()
                                   : FromBottom(v, low, high, height));
  return y;
}

}  // namespace klx
