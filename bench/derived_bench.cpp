// Recomputing every derived channel over a full memory's worth of samples (2 793 456 words
// shared by the channels), against the bare formulas over the same inputs.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "records/data_set.h"
#include "derived/derived.h"

namespace {

constexpr int kWords = 2793456;

// Temperature, conductivity (mS/cm), pressure, oxygen saturation and Optode: realistic profiles
// with noise and one missing sample in a thousand.
klx::DataSet Profile() {
  const std::string letters = "TCPDJ";
  klx::DataSet data;
  data.logger.channelTypes = letters;
  data.logger.channelCount = data.channelCount = static_cast<int>(letters.size());
  data.logger.standardChannels = false;
  data.samplesPerChannel = kWords / data.channelCount;
  const auto n = static_cast<size_t>(data.samplesPerChannel);
  data.series.assign(letters.size(), std::vector<float>(n + 2));
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
  for (size_t i = 0; i < n; ++i) {
    const float depth = 2000.0f * static_cast<float>(i % 10000) / 10000.0f;
    data.series[0][i] = (i % 1000 == 7) ? klx::kMissingValue : 20.0f - depth / 120.0f + noise(rng);
    data.series[1][i] = 48.0f - depth / 200.0f + noise(rng);
    data.series[2][i] = 10.1325f + depth + noise(rng);
    data.series[3][i] = 95.0f + noise(rng);
    data.series[4][i] = 250.0f + noise(rng);
  }
  return data;
}

klx::DerivedSettings Everything() {
  klx::DerivedSettings s;
  s.depthOn = s.depthSeawater = s.salinityOn = s.conductivityCorrectionOn = true;
  s.specificConductivityOn = s.dissolvedOxygenOn = s.speedOfSoundOn = s.soundUnesco = true;
  s.densityAnomalyOn = s.optodeConcentrationOn = s.optodeSaturationOn = true;
  return s;
}

void BM_RecomputeDerived(benchmark::State& state) {
  klx::DataSet data = Profile();
  const klx::DerivedSettings settings = Everything();
  const klx::DerivedAllocation allocation = klx::AllocateDerivedChannels(data, settings);
  for (auto _ : state) {
    klx::RecomputeDerived(data, allocation.channels, settings);
    benchmark::DoNotOptimize(data.series.back().data());
  }
  state.SetItemsProcessed(state.iterations() * data.samplesPerChannel);
  state.counters["derived_channels"] = data.channelCount - allocation.channels.measuredChannels;
}
BENCHMARK(BM_RecomputeDerived)->Unit(benchmark::kMillisecond);

// The formulas alone, without the data set bookkeeping.
void BM_FormulasOnly(benchmark::State& state) {
  const klx::DataSet data = Profile();
  const auto n = static_cast<size_t>(data.samplesPerChannel);
  for (auto _ : state) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
      const double t = data.series[0][i], c = data.series[1][i], p = data.series[2][i];
      const double sp = p - 10.1325;
      const double s = klx::Salinity78(c, t, sp);
      sum += klx::Depth(p, 10.1325, klx::DepthMethod::Seawater, 45.0, 1.0281) + s +
             klx::SpecificConductivity(c, t) + klx::SpeedOfSound(s, t, p).unesco +
             klx::DensityAnomaly(s, t, sp) +
             klx::OxygenFromSaturation(data.series[3][i], t, s, klx::OxygenUnit::MlPerL) +
             klx::OptodeSaturation(data.series[4][i], t, s);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * data.samplesPerChannel);
}
BENCHMARK(BM_FormulasOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
