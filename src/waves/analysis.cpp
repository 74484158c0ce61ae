#include "waves/analysis.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

const char* WaveFlagText(int32_t flag) {
  return flag >= 0 && flag <= 2 ? kWaveFlagTexts[flag] : "";
}

double WaveNumber(double depth, double period) {
  const double k0 = 39.47841760435743 / (period * period * kWaveGravity);
  double kold = 1.0, knew = 1.0;
  for (int round = 0; round < 20000; ++round) {
    const double kmid = (knew + kold) / 2.0;
    kold = knew;
    knew = k0 / std::tanh(depth * kmid);
    if (std::fabs(kmid - knew) <= 1e-6) break;
  }
  return knew;
}

double CutoffFrequency(double depth, double sensorDepth) {
  const double kappa = kWaveTwoPi / (sensorDepth / 0.3);
  const double omega = std::sqrt(kWaveCutoffGravity * kappa * std::tanh(kappa * depth));
  return omega / kWaveTwoPi;
}

// ---- Zero crossings ---------------------------------------------------------------------------

int ZeroCrossingStatistics(std::span<const float> eta, WaveStatistics& stats,
                           std::span<ZeroCrossingWave> work) {
  if (eta.empty()) return 0;
  if (work.size() < eta.size()) return -1;
  float crest = eta[0], trough = eta[0], previous = eta[0];
  size_t lastCrossing = 0;
  int n = 0;
  double sumH = 0, sumT = 0;
  for (size_t i = 1; i < eta.size(); ++i) {
    const float v = eta[i];
    crest = std::max(crest, v);
    trough = std::min(trough, v);
    if (previous < 0 && v > 0) {
      ZeroCrossingWave& w = work[static_cast<size_t>(n)];
      w.period = static_cast<int32_t>(i - lastCrossing);
      w.height = crest - trough;
      w.order = n;
      if (n > 0) {
        sumT += w.period;
        sumH += w.height;
      }
      lastCrossing = i;
      ++n;
      crest = trough = 0;
    }
    previous = v;
  }
  // The first, partial wave is not averaged; with one wave or none there is nothing to average.
  stats.tavg = n > 1 ? static_cast<float>(sumT / (n - 1)) : 0.0f;
  stats.havg = n > 1 ? static_cast<float>(sumH / (n - 1)) : 0.0f;
  // Highest first; equal heights keep their order of occurrence (a stable sort, without the
  // buffer std::stable_sort would allocate).
  std::sort(work.begin(), work.begin() + n,
            [](const ZeroCrossingWave& a, const ZeroCrossingWave& b) {
              return a.height != b.height ? a.height > b.height : a.order < b.order;
            });
  stats.hmax = n > 0 ? work[0].height : 0.0f;
  stats.tmax = n > 0 ? static_cast<float>(work[0].period) : 0.0f;
  auto meanOf = [&](int count, float& h, float& t) {
    if (count <= 0) return;  // the fields keep their values
    double sh = 0, st = 0;
    for (int i = 0; i < count; ++i) {
      sh += work[static_cast<size_t>(i)].height;
      st += work[static_cast<size_t>(i)].period;
    }
    h = static_cast<float>(sh / count);
    t = static_cast<float>(st / count);
  };
  meanOf(n / 3, stats.h13, stats.t13);
  meanOf(n / 10, stats.h110, stats.t110);
  return n;
}

int ZeroCrossingStatistics(std::span<const float> eta, WaveStatistics& stats) {
  std::vector<ZeroCrossingWave> work(eta.size());
  return ZeroCrossingStatistics(eta, stats, work);
}

// ---- Setup ------------------------------------------------------------------------------------

WaveSetup WaveSetupOf(const DataSet& data, const DeploymentParameters& p,
                      const DerivedUnitSettings& derived) {
  WaveSetup s;
  s.rateHz = p.waveRateHz;
  s.burstLength = p.burstLength;
  s.loggerHeight = p.loggerHeight;
  s.depthChannel = data.logger.channelTypes.size() > 1 && data.logger.channelTypes[1] == 'A';
  s.derived = derived;
  return s;
}

std::string CheckWaveSetup(const WaveSetup& s) {
  const int n = s.burstLength;
  if (n > kMaxWaveBurstLength)
    return CFormat("Wave bursts of %d samples are longer than the analysis takes (at most %d).", n,
                   kMaxWaveBurstLength);
  if (n < kMinWaveBurstLength || (n & (n - 1)) != 0)
    return CFormat(
        "The wave burst length %d cannot be analysed: it must be a power of two from "
        "%d to %d.",
        n, kMinWaveBurstLength, kMaxWaveBurstLength);
  if (s.rateHz <= 0) return "The wave sampling rate has not been set.";
  return {};
}

// ---- Transform --------------------------------------------------------------------------------

WaveFft::WaveFft()
    : cos_(kMaxWaveBurstLength), sin_(kMaxWaveBurstLength), reverse_(kMaxWaveBurstLength) {
  // Stage of length len (2, 4, ... max) keeps its len/2 twiddles from index len/2 - 1.
  for (int len = 2; len <= kMaxWaveBurstLength; len <<= 1) {
    const int half = len / 2;
    for (int j = 0; j < half; ++j) {
      const double angle = kWaveTwoPi * j / len;
      cos_[static_cast<size_t>(half - 1 + j)] = std::cos(angle);
      sin_[static_cast<size_t>(half - 1 + j)] = std::sin(angle);
    }
  }
}

void WaveFft::Prepare(int n) {
  if (n == reverseN_) return;
  int bits = 0;
  while ((1 << bits) < n) ++bits;
  for (int i = 0; i < n; ++i) {
    uint32_t r = 0;
    for (int b = 0; b < bits; ++b) r |= ((static_cast<uint32_t>(i) >> b) & 1u) << (bits - 1 - b);
    reverse_[static_cast<size_t>(i)] = r;
  }
  reverseN_ = n;
}

bool WaveFft::Transform(double* re, double* im, int n, bool inverse) {
  if (n < 2 || n > kMaxWaveBurstLength || (n & (n - 1)) != 0) return false;
  Prepare(n);
  for (int i = 0; i < n; ++i) {
    const auto r = static_cast<int>(reverse_[static_cast<size_t>(i)]);
    if (i < r) {
      std::swap(re[i], re[r]);
      std::swap(im[i], im[r]);
    }
  }
  const double sign = inverse ? 1.0 : -1.0;
  for (int len = 2; len <= n; len <<= 1) {
    const int half = len / 2;
    const double* wc = cos_.data() + (half - 1);
    const double* ws = sin_.data() + (half - 1);
    for (int start = 0; start < n; start += len) {
      double* ar = re + start;
      double* ai = im + start;
      double* br = ar + half;
      double* bi = ai + half;
      for (int j = 0; j < half; ++j) {
        const double c = wc[j], s = sign * ws[j];
        const double tr = br[j] * c - bi[j] * s;
        const double ti = br[j] * s + bi[j] * c;
        br[j] = ar[j] - tr;
        bi[j] = ai[j] - ti;
        ar[j] += tr;
        ai[j] += ti;
      }
    }
  }
  if (!inverse) {
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i) {
      re[i] *= scale;
      im[i] *= scale;
    }
  }
  return true;
}

// ---- The burst analysis -----------------------------------------------------------------------

WaveAnalyser::WaveAnalyser()
    : x_(kMaxWaveBurstLength),
      re_(kMaxWaveBurstLength),
      im_(kMaxWaveBurstLength),
      waves_(kMaxWaveBurstLength),
      kappa_(kMaxWaveBurstLength / 2 + 1),
      kold_(kMaxWaveBurstLength / 2 + 1),
      k0_(kMaxWaveBurstLength / 2 + 1),
      gains_(kMaxWaveBurstLength / 2 + 1),
      active_(kMaxWaveBurstLength / 2 + 1) {}

namespace {

// The taper window w[j] = 0.5 − 0.5·cos(2π·j/96), j = 0..47.
struct Taper {
  double w[kWaveTaperPoints];
  double sumSquares = 0;  // the 48 terms
  Taper() {
    for (int j = 0; j < kWaveTaperPoints; ++j) {
      w[j] = 0.5 - 0.5 * std::cos(kWaveTwoPi * j / (2.0 * kWaveTaperPoints));
      sumSquares += w[j] * w[j];
    }
  }
};
const Taper kTaper;

}  // namespace

int ApplyDepthGains(double* re, double* im, int n, int kc, const double* gains) {
  for (int k = kc + 1; k <= n / 2; ++k) {
    re[k] = im[k] = 0.0;
    re[n - k] = im[n - k] = 0.0;
  }
  int peakBin = 0;
  double peak = 0.0;
  for (int k = 1; k <= kc; ++k) {
    const double gain = gains[k];
    if (gain < kWaveGainLimit) {
      re[k] *= gain;
      im[k] *= gain;
      if (n - k != k) {  // bin N/2 is its own mirror
        re[n - k] *= gain;
        im[n - k] *= gain;
      }
    }
    const double amplitude = std::hypot(re[k], im[k]);
    if (amplitude > peak) {
      peak = amplitude;
      peakBin = k;
    }
  }
  return peakBin;
}

void WaveAnalyser::WaveNumbers(double h, double rate, int n, int kc) {
  // WaveNumber (h, 1/f) of every bin k = 1..kc, the same rounds on the same numbers, but the
  // bins' iterations interleaved: each round steps every bin still iterating, so that the
  // independent chains of tanh and division overlap instead of waiting on each other.
  double* kold = kold_.data();
  double* knew = kappa_.data();
  double* k0 = k0_.data();
  int32_t* active = active_.data();
  int count = 0;
  for (int k = 1; k <= kc; ++k) {
    const double period = 1.0 / (k * rate / n);
    k0[k] = 39.47841760435743 / (period * period * kWaveGravity);
    kold[k] = knew[k] = 1.0;
    active[count++] = k;
  }
  for (int round = 0; round < 20000 && count > 0; ++round) {
    int still = 0;
    for (int a = 0; a < count; ++a) {
      const int k = active[a];
      const double kmid = (knew[k] + kold[k]) / 2.0;
      kold[k] = knew[k];
      knew[k] = k0[k] / std::tanh(h * kmid);
      if (!(std::fabs(kmid - knew[k]) <= 1e-6)) active[still++] = k;
    }
    count = still;
  }
}

bool WaveAnalyser::Analyse(const WaveSetup& setup, std::span<const float> measured,
                           std::span<float> surface, WaveStatistics& stats, std::string* error) {
  std::string refusal = CheckWaveSetup(setup);
  const int n = setup.burstLength;
  if (refusal.empty() && measured.size() < 2)
    refusal = "A wave burst of fewer than two samples cannot be analysed.";
  if (refusal.empty() &&
      (measured.size() > static_cast<size_t>(n) || surface.size() < static_cast<size_t>(n)))
    refusal = CFormat("The wave burst holds %zu samples, more than its length of %d.",
                      measured.size(), n);
  if (!refusal.empty()) {
    if (error) *error = refusal;
    return false;
  }
  const auto N = static_cast<size_t>(n);
  const double R = setup.rateHz;
  const DerivedUnitSettings& d = setup.derived;
  const DepthMethod method = d.depthSeawater ? DepthMethod::Seawater : DepthMethod::Simplified;
  const double latitude = LatitudeDegrees(d.latitudeDegrees, d.latitudeMinutes);
  auto depthOf = [&](double value) {
    return setup.depthChannel ? value
                              : Depth(value, d.atmosphericPressure, method, latitude, d.density);
  };

  WaveStatistics st;  // the fields the zero crossings leave alone keep their earlier values
  st.t13 = stats.t13, st.t110 = stats.t110, st.h110 = stats.h110;
  st.analysed = true;

  // 1. Depth of every sample; a burst cut short is filled with the mean of its samples.
  double* x = x_.data();
  double mean = 0;
  for (size_t i = 0; i < measured.size(); ++i) {
    x[i] = depthOf(measured[i]);
    mean += measured[i];
  }
  if (measured.size() < N) {
    const double fill = depthOf(mean / static_cast<double>(measured.size()));
    std::fill(x + measured.size(), x + N, fill);
  }

  // 2. Least-squares line through (i, x[i]); the mean depth at the burst's middle.
  // Σi and Σi² are whole numbers well inside a double's exact range: their closed forms.
  const double sx = static_cast<double>(n) * (n - 1) / 2.0;
  const double sxx = static_cast<double>(n - 1) * n * (2.0 * n - 1) / 6.0;
  double sy = 0, sxy = 0;
  for (size_t i = 0; i < N; ++i) {
    sy += x[i];
    sxy += static_cast<double>(i) * x[i];
  }
  const double denom = n * sxx - sx * sx;
  const double a = (n * sxy - sx * sy) / denom;
  const double c = (sy - a * sx) / n;
  const double meanDepth = a * static_cast<double>(n / 2) + c;
  st.meanDepth = static_cast<float>(meanDepth);
  if (meanDepth < 0) {
    st.flag = kWaveError;
    stats = st;
    std::fill(surface.begin(), surface.begin() + n, 0.0f);
    return true;
  }

  // 3. Detrend; 4. taper the 48 samples at each end.
  double* re = re_.data();
  double* im = im_.data();
  for (size_t i = 0; i < N; ++i) {
    re[i] = x[i] - (a * static_cast<double>(i) + c);
    im[i] = 0.0;
  }
  for (int j = 0; j < kWaveTaperPoints; ++j) {
    re[j] *= kTaper.w[j];
    re[n - 1 - j] *= kTaper.w[j];
  }
  const double s = std::sqrt(static_cast<double>(n) /
                             (static_cast<double>(n - 2 * kWaveTaperPoints) + kTaper.sumSquares));

  // 5. Total depth and the cut-off.
  const double h = meanDepth + setup.loggerHeight;
  const double fc = CutoffFrequency(h, meanDepth);
  st.cutoffFrequency = static_cast<float>(fc);
  double kcReal = static_cast<double>(n) * fc / R;
  int kc = !(kcReal >= 0) ? 0 : kcReal >= n / 2 ? n / 2 : static_cast<int>(kcReal);

  // 6. Forward transform (scaled by 1/N); 7. nothing above the cut-off; 8. back to the
  // surface, bin by bin.
  fft_.Transform(re, im, n, false);
  WaveNumbers(h, R, n, kc);
  for (int k = 1; k <= kc; ++k) {
    const double kappa = kappa_[static_cast<size_t>(k)];
    gains_[static_cast<size_t>(k)] = std::cosh(kappa * h) / std::cosh(kappa * setup.loggerHeight);
  }
  const int peakBin = ApplyDepthGains(re, im, n, kc, gains_.data());
  st.peakFrequency = static_cast<float>(R * peakBin / n);

  // 9. Inverse transform; 10. undo the taper and scale by s.
  fft_.Transform(re, im, n, true);
  for (int j = 0; j < kWaveTaperPoints; ++j) {
    const double w = kTaper.w[j];
    if (w > 0.1) {
      re[j] /= w, im[j] /= w;
      re[n - 1 - j] /= w, im[n - 1 - j] /= w;
    }
  }

  // 11. The surface series; 12. its variance and energy.
  float top = -1000.0f, bottom = 1000.0f;
  double sumSquares = 0;
  for (size_t i = 0; i < N; ++i) {
    const double zr = re[i] * s, zi = im[i] * s;
    const double magnitude = std::sqrt(zr * zr + zi * zi);
    const float v = static_cast<float>(zr < 0 ? -magnitude : magnitude);
    surface[i] = v;
    top = std::max(top, v);
    bottom = std::min(bottom, v);
  }
  for (size_t i = 0; i < N; ++i) sumSquares += static_cast<double>(surface[i]) * surface[i];
  st.surfaceMax = top;
  st.surfaceMin = bottom;
  const double m0 = sumSquares / (n - 1);
  st.variance = static_cast<float>(m0);
  st.energy = static_cast<float>(m0 * kWaveGravity * d.density * 1000.0);

  // 13. Zero crossings, periods in seconds; 14. H1/3 is the spectral Hm0.
  // T1/3 and T1/10 kept from before (too few waves for their group) are already in seconds.
  const int waves = ZeroCrossingStatistics(surface.first(N), st, waves_);
  if (waves / 3 > 0) st.t13 = static_cast<float>(st.t13 / R);
  if (waves / 10 > 0) st.t110 = static_cast<float>(st.t110 / R);
  st.tavg = static_cast<float>(st.tavg / R);
  st.tmax = static_cast<float>(st.tmax / R);
  const double hm0 = 4.0 * std::sqrt(m0);
  st.h13 = static_cast<float>(hm0);
  if (hm0 / h > 1.0) st.flag = kWaveWarning;
  latestHm0 = st.h13;
  stats = st;
  return true;
}

bool WaveAnalyser::AnalyseBurst(const WaveSetup& setup, BurstSeries& burst, std::string* error) {
  const std::string refusal = CheckWaveSetup(setup);
  if (!refusal.empty()) {
    if (error) *error = refusal;
    return false;
  }
  const auto n = static_cast<size_t>(setup.burstLength);
  std::span<const float> measured(burst.samples.data(), std::min(burst.samples.size(), n));
  if (measured.size() < 2) {
    if (error) *error = "A wave burst of fewer than two samples cannot be analysed.";
    return false;
  }
  burst.surface.resize(n);
  return Analyse(setup, measured, burst.surface, burst.stats, error);
}

int AnalyseAllBursts(DataSet& data, const WaveSetup& setup, WaveAnalyser& analyser,
                     std::string* error) {
  int analysed = 0;
  bool told = false;
  for (BurstSeries& burst : data.bursts) {
    std::string why;
    if (analyser.AnalyseBurst(setup, burst, &why)) {
      ++analysed;
    } else if (!told && error) {
      *error = why;
      told = true;
    }
  }
  return analysed;
}

std::function<void(DataSet&, int)> WaveAnalysisHook(const DeploymentParameters& parameters,
                                                    const DerivedUnitSettings& derived,
                                                    Host* host) {
  struct State {
    WaveAnalyser analyser;
    bool told = false;
  };
  auto state = std::make_shared<State>();
  return [state, parameters, derived, host](DataSet& data, int b) {
    if (b < 0 || static_cast<size_t>(b) >= data.bursts.size()) return;
    const WaveSetup setup = WaveSetupOf(data, parameters, derived);
    const std::string refusal = CheckWaveSetup(setup);
    if (!refusal.empty()) {
      if (host && !state->told) ShowStatus(*host, refusal);
      state->told = true;
      return;
    }
    state->analyser.AnalyseBurst(setup, data.bursts[static_cast<size_t>(b)]);
  };
}

}  // namespace klx
