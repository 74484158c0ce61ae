#include "deployment/thresholds.h"

#include <algorithm>
#include <cmath>

#include "decoding/channel_types.h"
#include "decoding/equations.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx {
namespace {

constexpr const char* kHysteresisCaption = "Hysteresis setting";

bool IsTemperature(const LoggerState& logger, int channel) {
  return channel >= 0 && static_cast<size_t>(channel) < logger.channelTypes.size() &&
         logger.channelTypes[static_cast<size_t>(channel)] == 'T';
}

Period PeriodOfSeconds(int64_t seconds) {
  seconds = std::clamp<int64_t>(seconds, 0, 65535LL * 3600);
  return Period{static_cast<uint16_t>(seconds / 3600), static_cast<uint16_t>(seconds / 60 % 60),
                static_cast<uint16_t>(seconds % 60)};
}

int64_t RawSeconds(const Period& p) {
  return p.hours * 3600LL + p.minutes * 60LL + p.seconds;
}

}  // namespace

double ChannelEquation::Value(uint32_t raw) const {
  const auto r = static_cast<int32_t>(raw & 0xFFFFFF);
  return thermistor ? ThermistorEquation(c, r) : PolynomialEquation(c, r);
}

ChannelEquation EquationOfChannel(const LoggerState& logger,
                                  const CalibrationCoefficients& calibration, int channel) {
  ChannelEquation eq;
  eq.thermistor = IsTemperature(logger, channel);
  if (channel >= 0 && channel < CalibrationCoefficients::kMaxChannels)
    eq.c = calibration.coef[static_cast<size_t>(channel)];
  return eq;
}

uint32_t ThresholdLimitRaw(uint32_t rangeClass) {
  if (rangeClass == 0) return 0xFFFFFD;
  if (rangeClass == 2) return 16609442;  // 0xFD70A2
  return 0xDFFFFF;
}

uint32_t ThresholdLimitRawOfChannel(const LoggerState& logger, int channel) {
  return ThresholdLimitRaw(kChannelTypeTable[TypeRowOfChannel(logger, channel)].rangeClass);
}

uint32_t ThresholdToRaw(const ChannelEquation& eq, double value) {
  uint32_t raw = 0;
  for (int bit = 23; bit >= 0; --bit) {
    const uint32_t trial = raw | (1u << bit);
    const double v = eq.Value(trial);
    if (std::isnan(v)) continue;
    const bool keep = eq.thermistor ? v >= value : v <= value;
    if (keep) raw = trial;
  }
  return raw;
}

double RoundUpHundredths(double value) {
  const double scaled = value * 100;
  const double nearest = std::round(scaled);
  // A value that is a whole number of hundredths up to representation error stays as it is.
  if (std::fabs(scaled - nearest) < 1e-6) return nearest / 100;
  return std::ceil(scaled) / 100;
}

double RoundDownHundredths(double value) {
  const double scaled = value * 100;
  const double nearest = std::round(scaled);
  if (std::fabs(scaled - nearest) < 1e-6) return nearest / 100;
  return std::floor(scaled) / 100;
}

ThresholdLimits ThresholdLimitsOf(const ChannelEquation& eq) {
  ThresholdLimits l;
  l.minimum = RoundUpHundredths(eq.thermistor ? eq.Value(0xFFFFFD) : eq.c[0]);
  l.maximum = eq.thermistor ? 100.0 : RoundDownHundredths(eq.Value(0xCCCCCC));
  return l;
}

ThresholdCheck AcceptThreshold(DeploymentParameters& p, const LoggerState& logger,
                               const CalibrationCoefficients& calibration, Host& host) {
  if (!std::isfinite(p.thresholdValue)) return ThresholdCheck::Refused;
  p.thresholdValue = RoundUpHundredths(p.thresholdValue);
  const ChannelEquation eq = EquationOfChannel(logger, calibration, p.thresholdChannel);
  p.thresholdLimitRaw = ThresholdLimitRawOfChannel(logger, p.thresholdChannel);
  const ThresholdLimits limits = ThresholdLimitsOf(eq);
  ThresholdCheck result = ThresholdCheck::Accepted;
  if (p.thresholdValue < limits.minimum || p.thresholdValue > limits.maximum) {
    const bool low = p.thresholdValue < limits.minimum;
    const double limit = low ? limits.minimum : limits.maximum;
    const std::string text =
        Format(low ? "Minimum threshold for this sensor is %.2f\nDo you wish to accept this value?"
                   : "Maximum threshold for this sensor is %.2f\nDo you wish to accept this value?",
               limit);
    const Answer a =
        host.Ask(low ? "Required threshold below minimum" : "Required threshold above maximum",
                 text, Buttons::YesNo, BoxIcon::Warning, Answer::No);
    if (a != Answer::Yes) return ThresholdCheck::Refused;
    p.thresholdValue = limit;
    result = ThresholdCheck::Replaced;
  }
  p.thresholdRaw = ThresholdToRaw(eq, p.thresholdValue);
  return result;
}

uint8_t ThresholdStartCode(const DeploymentParameters& p, const LoggerState& logger) {
  if (p.startMode < kStartAboveThreshold) return static_cast<uint8_t>(p.startMode & 1u);
  bool above = p.startMode == kStartAboveThreshold;
  // A thermistor's count rises as the temperature falls: the logger compares counts.
  if (IsTemperature(logger, p.thresholdChannel)) above = !above;
  const uint8_t code = above ? 4 : 5;
  return static_cast<uint8_t>(p.powerCycledTest ? code + 2 : code);
}

void BuildThresholdBlock(DeploymentParameters& p, const LoggerState& logger) {
  if (!logger.profiling6Hz) p.profiling6Hz = false;
  if (p.startMode < kStartAboveThreshold) p.powerCycledTest = 0;
  uint8_t first = ThresholdStartCode(p, logger);
  if (p.continuousPower) first |= 0x80;
  if (p.profiling6Hz) first |= 0x40;
  auto& b = p.thresholdBlock;
  b[0] = first;
  b[1] = static_cast<uint8_t>(p.thresholdChannel);
  b[2] = static_cast<uint8_t>(p.thresholdLimitRaw >> 16);
  b[3] = static_cast<uint8_t>(p.thresholdLimitRaw >> 8);
  b[4] = static_cast<uint8_t>(p.thresholdLimitRaw);
  b[5] = static_cast<uint8_t>(p.thresholdRaw >> 16);
  b[6] = static_cast<uint8_t>(p.thresholdRaw >> 8);
  b[7] = static_cast<uint8_t>(p.thresholdRaw);
}

uint16_t HysteresisCount(const DeploymentParameters& p) {
  const int64_t count =
      p.profiling6Hz ? static_cast<int64_t>(p.hysteresisSeconds) * 6
                     : static_cast<int64_t>(p.hysteresisSeconds) / p.samplePeriod.TotalSeconds();
  return static_cast<uint16_t>(std::clamp<int64_t>(count, 0, 65535));
}

bool CheckHysteresis(DeploymentParameters& p, Host& host) {
  if (p.hysteresisSeconds == 0) return false;
  if (p.profiling6Hz) {
    if (static_cast<int64_t>(p.hysteresisSeconds) * 6 > 65535) {
      p.hysteresisSeconds = 10922;
      host.Tell(kHysteresisCaption,
                Format("The maximum hysteresis period is %d seconds.\nThis maximum period has "
                       "been inserted into the current setup.",
                       10922),
                BoxIcon::Information);
      return true;
    }
    return false;
  }
  const int64_t period = p.samplePeriod.TotalSeconds();
  const int64_t h = p.hysteresisSeconds;
  if (h < period) {
    p.hysteresisSeconds = static_cast<uint32_t>(period);
    host.Tell(kHysteresisCaption,
              Format("The minimum hysteresis period is %d seconds - one sampling period.\nThis "
                     "minimum period has been inserted into the current setup.",
                     static_cast<int>(period)),
              BoxIcon::Information);
    return true;
  }
  if (h / period >= 65536) {
    p.hysteresisSeconds = static_cast<uint32_t>(65535 / period * period);
    host.Tell(kHysteresisCaption,
              Format("The maximum hysteresis period is %d seconds.\nThis maximum period has been "
                     "inserted into the configuration.",
                     static_cast<int>(p.hysteresisSeconds)),
              BoxIcon::Information);
    return true;
  }
  if (h % period != 0) {
    p.hysteresisSeconds = static_cast<uint32_t>(h / period * period);
    host.Tell(kHysteresisCaption,
              "The hysteresis period must be an integer multiple of the sampling.\nThe nearest "
              "period has been inserted into the current setup.",
              BoxIcon::Information);
    return true;
  }
  return false;
}

bool CheckPowerSavePeriod(DeploymentParameters& p, const LoggerState& logger, Host& host) {
  const int64_t save = RawSeconds(p.powerSavePeriod);
  if (save == 0 || save >= p.samplePeriod.TotalSeconds()) return false;
  const int64_t channels = std::clamp(logger.channelCount, 1, LoggerState::kMaxChannels);
  const int64_t minimum =
      (logger.latencyMs + logger.readingTimeMs + 170 + channels * 20 + 999) / 1000;
  if (save >= minimum) return false;
  p.powerSavePeriod = PeriodOfSeconds(minimum);
  p.powerCycledTest = 1;
  ShowStatus(host,
             "Power saving period was too short.\nIt has been changed.\nContinuous "
             "checking is still an option.");
  ShowStatusIcon(host, StatusIcon::Info);
  return true;
}

void ChoosePowerSavePeriod(DeploymentParameters& p, const Period& picked) {
  p.powerCycledTest = 1;
  p.powerSavePeriod = RawSeconds(picked) == 0 ? p.samplePeriod : picked;
}

bool FitTidePeriodToBurst(DeploymentParameters& p, Period& burstInterval, Period& tidePeriod,
                          int step, Host& host) {
  const int64_t oldTide = tidePeriod.TotalSeconds();
  bool changed = false;
  if (p.waveEnabled) {
    const int64_t burstSeconds = p.burstLength / std::max(1, p.waveRateHz);
    if (burstSeconds / oldTide > 3) {
      tidePeriod = PeriodOfSeconds(std::max<int64_t>(1, burstSeconds / 4));
      changed = true;
      host.Tell("Time to complete Burst and Sample Period for Tide mismatch",
                "The NMJ-7400 allows for a maximum of 4 tide readings to be taken during a wave "
                "burst.\nThe 'Sample Period for Tide' has been modified using this criterion.",
                BoxIcon::Information);
    }
  }
  const int64_t t = tidePeriod.TotalSeconds();
  int64_t w = burstInterval.TotalSeconds();
  if (step == 1000)
    w = (w / oldTide) * t;
  else if (step != 0)
    w -= static_cast<int64_t>(step) * t;
  if (w <= t) {
    w = t;
  } else {
    w = (w + t - 1) / t * t;
    w = std::min(w, t * (86400 / t));
  }
  burstInterval = PeriodOfSeconds(w);
  return changed;
}

std::string ThresholdSummary(const DeploymentParameters& p, const LoggerState& logger) {
  const int row = TypeRowOfChannel(logger, p.thresholdChannel);
  const std::string label = ChannelLabel(row, p.thresholdChannel + 1);
  if (p.powerCycledTest)
    return Format("Channel:%2d (%s), threshold:%.2f, tested at %02d:%02d:%02d",
                  p.thresholdChannel + 1, label.c_str(), p.thresholdValue, p.powerSavePeriod.hours,
                  p.powerSavePeriod.minutes, p.powerSavePeriod.seconds);
  return Format("Channel:%2d (%s), threshold:%.2f, continuous", p.thresholdChannel + 1,
                label.c_str(), p.thresholdValue);
}

std::string BurstSummary(const DeploymentParameters& p) {
  if (!p.waveEnabled) return "Burst mode not selected";
  return Format("%d samples every %02d:%02d:%02d", p.burstLength, p.burstInterval.hours,
                p.burstInterval.minutes, p.burstInterval.seconds);
}

}  // namespace klx
