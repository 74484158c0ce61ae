#include "waves/tide.h"

#include <algorithm>

namespace klx {

double TideSlopePeriodMinutes(const DeploymentParameters& p) {
  if (p.profiling6Hz) return 1.0 / 360.0;
  const double minutes = p.samplePeriod.hours * 60.0 + p.samplePeriod.minutes +
                         p.samplePeriod.seconds / 60.0;
  return minutes > 0 ? minutes : 24.0 * 60.0;  // an all-zero period counts as one day
}

double TideSlope(std::span<const float> depth, int i, double periodMinutes) {
  const auto n = static_cast<int>(depth.size());
  if (i - 7 < 0 || i + 7 >= n) return 0.0;
  double s = 0;
  for (int j = 0; j < 8; ++j) {
    const float v = depth[static_cast<size_t>(i + kTideSlopeOffsets[j])];
    if (v <= kMissingValue) return kMissingValue;  // a missing input is no slope at all
    s += kTideSlopeCoefficients[j] * v;
  }
  return s * 60.0 / periodMinutes;
}

int TideDepthChannel(const DataSet& data, const DerivedChannels& channels) {
  if (channels.depth >= 0) return channels.depth;
  const int measured = std::min<int>(channels.measuredChannels,
                                     static_cast<int>(data.logger.channelTypes.size()));
  for (int ch = 0; ch < measured; ++ch)
    if (data.logger.channelTypes[static_cast<size_t>(ch)] == 'A') return ch;
  return -1;
}

namespace {

// Sets the running minimum and maximum (entries n and n + 1) from the values.
void SetRange(std::vector<float>& series, size_t n) {
  float lo = 30000.0f, hi = -300.0f;  // a derived series' starting range
  for (size_t i = 0; i < n; ++i) {
    if (series[i] == kMissingValue) continue;
    lo = std::min(lo, series[i]);
    hi = std::max(hi, series[i]);
  }
  series[n] = lo;
  series[n + 1] = hi;
}

}  // namespace

void FillWaveChannels(DataSet& data, const DerivedChannels& channels,
                      const DeploymentParameters& parameters) {
  const auto n = static_cast<size_t>(std::max(data.samplesPerChannel, 0));
  auto seriesOf = [&](int ch) -> std::vector<float>* {
    if (ch < 0 || static_cast<size_t>(ch) >= data.series.size()) return nullptr;
    auto& s = data.series[static_cast<size_t>(ch)];
    s.resize(n + 2, kMissingValue);
    return &s;
  };
  if (auto* swh = seriesOf(channels.waveHeight)) {
    // Burst b's stamp is the (b+1)-th burst stamp of the table.
    std::vector<uint32_t> starts;
    for (const StampRecord& r : data.stamps.records)
      if (r.type == kStampBurst) starts.push_back(r.sampleIndex);
    float current = kMissingValue;
    size_t next = 0;
    for (size_t i = 0; i < n; ++i) {
      while (next < starts.size() && starts[next] <= i) {
        const BurstSeries* b = next < data.bursts.size() ? &data.bursts[next] : nullptr;
        current = b && b->stats.analysed && b->stats.flag != kWaveError ? b->stats.h13
                                                                         : kMissingValue;
        ++next;
      }
      (*swh)[i] = current;
    }
    SetRange(*swh, n);
  }
  if (auto* slope = seriesOf(channels.tidalSlope)) {
    const int depthChannel = TideDepthChannel(data, channels);
    const double minutes = TideSlopePeriodMinutes(parameters);
    if (depthChannel < 0) {
      std::fill(slope->begin(), slope->begin() + static_cast<std::ptrdiff_t>(n), kMissingValue);
    } else {
      const std::span<const float> depth(data.series[static_cast<size_t>(depthChannel)].data(), n);
      for (size_t i = 0; i < n; ++i)
        (*slope)[i] = static_cast<float>(TideSlope(depth, static_cast<int>(i), minutes));
    }
    SetRange(*slope, n);
  }
}

}  // namespace klx
