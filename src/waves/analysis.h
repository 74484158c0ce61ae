#pragma once
// Wave analysis of the tide-and-wave recorder (NMJ-7400): each burst of N fast pressure samples
// becomes a surface-elevation series and its wave statistics. The tide trend is removed, the
// burst is tapered, transformed, cut off where the pressure signal no longer reaches the sensor,
// amplified back to the surface with linear wave theory and transformed back; the spectral
// significant wave height and the zero up-crossing statistics follow.
//
// Choices where the behaviour leaves room (each also noted where it is made):
// - Bursts up to 8192 samples are analysed (the largest burst length a logger can be set to);
//   a longer or otherwise unusable burst length is refused with a message, never overflowed.
// - A burst cut short (fewer samples than the burst length) is filled with the mean of its
//   samples before the analysis; the burst's own samples stay as they came. A burst of fewer
//   than two samples is not analysed.
// - With one wave or none, Havg and Tavg are 0; without any wave Hmax and Tmax are 0.
// - When the cut-off bin is N/2 its mirror is itself: the gain is applied to it once.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "derived/formulas.h"
#include "platform/host.h"
#include "records/data_set.h"
#include "records/deployment_parameters.h"
#include "shell/settings.h"

namespace klx {

// Constants of the analysis.
inline constexpr double kWaveGravity = 9.80665;          // dispersion relation and energy
inline constexpr double kWaveCutoffGravity = 9.780318;   // cut-off frequency
inline constexpr double kWaveTwoPi = 6.283185307179464;  // 2π as the analysis uses it
inline constexpr int kWaveTaperPoints = 48;              // tapered samples at each end
inline constexpr double kWaveGainLimit = 20.0;           // larger gains leave the bin as it is
inline constexpr int kMaxWaveBurstLength = 8192;         // the longest burst a logger offers
inline constexpr int kMinWaveBurstLength = 128;          // room for both tapers

// The flag texts of the wave file and the wave window, by flag.
inline constexpr const char* kWaveFlagTexts[3] = {"",
                                                  " - ERROR: mean depth<logger height above seabed",
                                                  " - WARNING: significant wave height>mean depth"};
const char* WaveFlagText(int32_t flag);

// `WaveNumber` (h, T): the wave number κ (rad/m) of period T (s) in water of depth h (m), by the
// fixed-point iteration k = k0 / tanh(h·k) with averaged steps (at most 20000 rounds).
double WaveNumber(double depth, double period);

// `CutoffFrequency` (h, z): the frequency (Hz) of the wave whose length is z / 0.3 in water of
// depth h, with the sensor at depth z.
double CutoffFrequency(double depth, double sensorDepth);

// One wave of the zero up-crossing analysis: its height, its period in samples and its place.
struct ZeroCrossingWave {
  float height = 0;
  int32_t period = 0;
  int32_t order = 0;
};

// `ZeroCrossingStatistics` (η, N): H1/3, T1/3, H1/10, T1/10, Havg, Tavg, Hmax and Tmax of the
// series, periods in samples. Fields whose wave group is empty (a third or a tenth of the wave
// count is 0) keep the values they had. `work` needs room for eta.size() waves; the waves are
// left in it sorted, highest first (equal heights in order of occurrence). Returns the wave
// count, or -1 when `work` is too small.
int ZeroCrossingStatistics(std::span<const float> eta, WaveStatistics& stats,
                           std::span<ZeroCrossingWave> work);
// The same with a work array of its own (tests, one-off use).
int ZeroCrossingStatistics(std::span<const float> eta, WaveStatistics& stats);

// What the analysis of a data set's bursts needs to know.
struct WaveSetup {
  int rateHz = 1;               // wave sampling rate R (samples per second)
  int burstLength = 0;          // N
  double loggerHeight = 0;      // logger height above the bed (m)
  bool depthChannel = false;    // the burst values are depth (second channel letter 'A')
  DerivedUnitSettings derived;  // depth from pressure and the density for the energy
};

// The setup of a data set: the rate, burst length and logger height of its deployment, the
// burst channel's letter and the derived-unit settings in force.
WaveSetup WaveSetupOf(const DataSet& data, const DeploymentParameters& parameters,
                      const DerivedUnitSettings& derived);

// Empty when the analysis can take bursts of this setup; else the reason it cannot.
std::string CheckWaveSetup(const WaveSetup& setup);

// The radix-2 transform the analysis uses, on separate real and imaginary arrays of n values (a
// power of two up to kMaxWaveBurstLength). Forward (e^-i) is scaled by 1/n, inverse (e^+i) is
// not. Owns its tables; no allocation after construction.
class WaveFft {
 public:
  WaveFft();
  // False when n is not a power of two from 2 to kMaxWaveBurstLength.
  bool Transform(double* re, double* im, int n, bool inverse);

 private:
  void Prepare(int n);
  std::vector<double> cos_, sin_;  // per stage: len/2 twiddles, stage tables back to back
  std::vector<uint32_t> reverse_;  // bit reversal of the current n
  int reverseN_ = 0;
};

// Steps 7 and 8 of the analysis on a forward-transformed burst of n bins: bins kc+1..n/2 and
// their mirrors become zero; bins 1..kc and their mirrors are multiplied by gains[k] where it is
// below kWaveGainLimit (a larger gain leaves the bin as it is). Returns the peak bin, the one of
// strictly largest amplitude after the gain (ties keep the lower bin; 0 when none is above 0).
int ApplyDepthGains(double* re, double* im, int n, int kc, const double* gains);

// `AnalyseBurst`: owns every work array of the analysis, sized for the longest burst, so that
// analysing a burst allocates nothing (beyond the burst's own surface series the first time).
class WaveAnalyser {
 public:
  WaveAnalyser();

  // Analyses `measured` (at most setup.burstLength values; fewer are filled with their mean)
  // into `surface` (setup.burstLength values) and `stats`. False, with `error` set and nothing
  // changed, when the setup cannot be analysed or the burst has fewer than two samples.
  bool Analyse(const WaveSetup& setup, std::span<const float> measured, std::span<float> surface,
               WaveStatistics& stats, std::string* error = nullptr);

  // Analyses burst b of the data set: sizes its surface series and fills its statistics.
  bool AnalyseBurst(const WaveSetup& setup, BurstSeries& burst, std::string* error = nullptr);

  // Hm0 of the latest analysed burst (the real-time display shows it).
  float latestHm0 = 0;

 private:
  void WaveNumbers(double h, double rate, int n, int kc);

  WaveFft fft_;
  std::vector<double> x_, re_, im_;
  std::vector<ZeroCrossingWave> waves_;
  std::vector<double> kappa_, kold_, k0_;  // per bin up to N/2: the dispersion iteration
  std::vector<double> gains_;              // per bin up to N/2: the depth gain
  std::vector<int32_t> active_;
};

// Analyses every burst of the data set (they keep their samples; each gets its surface and
// statistics). Returns the number analysed; `error` gets the first refusal, if any.
int AnalyseAllBursts(DataSet& data, const WaveSetup& setup, WaveAnalyser& analyser,
                     std::string* error = nullptr);

// The decoding hook (DecodeHooks::analyseBurst) that analyses each burst as decoding completes
// it, with the wave setup of `parameters` and the derived-unit settings; its analyser lives as
// long as the hook. A setup the analysis refuses (a burst length beyond 8192) is shown once on
// the status line of `host` (when given); the bursts then keep their samples, unanalysed.
std::function<void(DataSet&, int)> WaveAnalysisHook(const DeploymentParameters& parameters,
                                                    const DerivedUnitSettings& derived,
                                                    Host* host = nullptr);

}  // namespace klx
