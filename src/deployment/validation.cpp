#include "deployment/validation.h"

#include <algorithm>
#include <cmath>

#include "shell/datetime.h"
#include "shell/status.h"

namespace klx {
namespace {

constexpr const char* kEstimateFormat =
    "Estimates:\tmemory usage is %.1f%%\n\t\tbattery usage is %.0fmAH.";
constexpr const char* kRs485Line = "\n\t\t(battery usage with RS485 serial protocol is %.0fmAH)";

int Channels(const LoggerState& logger) {
  return std::clamp(logger.channelCount, 1, LoggerState::kMaxChannels);
}

Period PeriodOfSeconds(int64_t seconds) {
  seconds = std::clamp<int64_t>(seconds, 0, 65535LL * 3600);
  return Period{static_cast<uint16_t>(seconds / 3600), static_cast<uint16_t>(seconds / 60 % 60),
                static_cast<uint16_t>(seconds % 60)};
}

std::string PeriodText(const Period& p) {
  return Format("%02d:%02d:%02d", p.hours, p.minutes, p.seconds);
}

}  // namespace

bool TideAndWaveLogger(const LoggerState& logger) {
  return logger.ModelHas("NMJ");
}

int64_t ReadingCapacity(int memorySizeMb) {
  if (memorySizeMb >= 8) return 2793456;
  if (memorySizeMb >= 4) return 1300000;
  return 653984;
}

MinimumPeriods ComputeMinimumPeriods(const DeploymentParameters& p, const LoggerState& logger) {
  const int64_t channels = Channels(logger);
  int64_t r = 0;
  if (p.realtimeOutput && p.realtimeBaud > 0)
    r = (channels * 3 + 13) * 10000 / static_cast<int64_t>(p.realtimeBaud) + 1;
  const int64_t a =
      p.averagingEnabled ? (static_cast<int64_t>(p.averagingSeconds) * 6 - 1) * 167 : 0;
  MinimumPeriods m;
  m.cycledMs = channels * 20 + r + logger.latencyMs + logger.readingTimeMs + 170 + a;
  m.continuousMs = logger.readingTimeMs + channels * 20 + r + a;
  m.cycledSeconds = (m.cycledMs + 999) / 1000;
  m.continuousSeconds = (m.continuousMs + 999) / 1000;
  return m;
}

SampleSuggestion TooManySamples(const DeploymentParameters& p, const LoggerState& logger,
                                const SystemTime& firstSample) {
  SampleSuggestion s;
  const int64_t channels = Channels(logger);
  const int64_t capacity = ReadingCapacity(logger.memorySizeMb);
  const int64_t period = p.samplePeriod.TotalSeconds();
  const int64_t d = std::max<int64_t>(0, SecondsBetween(p.endTime, firstSample));
  s.totalReadings = p.profiling6Hz ? channels * d * 6 : channels * (d / period);
  if (s.totalReadings <= capacity) return s;
  s.tooMany = true;
  const int64_t perChannel = capacity / channels;
  const int64_t margin = logger.memorySizeMb >= 8 ? 20 : 1;
  s.suggestedEnd = p.profiling6Hz ? AddSeconds(firstSample, capacity / (channels * 6))
                                  : AddSeconds(firstSample, (perChannel - margin) * period);
  s.suggestedPeriod = PeriodOfSeconds(d / perChannel + 1);
  const std::string end = DateDisplayText(p.endTime);
  const std::string suggested = DateDisplayText(s.suggestedEnd);
  if (p.profiling6Hz) {
    s.text = Format(
        "Your choice of End time at %s\n with 6Hz Sampling requires too many samples "
        "for this logger.\n\nYou may change the End time to %s\n\n",
        end.c_str(), suggested.c_str());
  } else if (TideAndWaveLogger(logger)) {
    s.text = Format(
        "Your choice of End time at %s\n with a Sampling period of %s requires too "
        "many samples for this logger.\n\nYou may change the End time to %s.",
        end.c_str(), PeriodText(p.samplePeriod).c_str(), suggested.c_str());
  } else {
    s.text = Format(
        "Your choice of End time at %s\n with a Sampling period of %s requires too "
        "many samples for this logger.\n\nYou may change the End time to %s\n\n or "
        "the Sampling period to %02d:%02d:%02d.",
        end.c_str(), PeriodText(p.samplePeriod).c_str(), suggested.c_str(), s.suggestedPeriod.hours,
        s.suggestedPeriod.minutes, s.suggestedPeriod.seconds);
  }
  return s;
}

ValidationResult ValidateDeployment(DeploymentParameters& p, const LoggerState& logger,
                                    const ValidationInputs& in) {
  ValidationResult result;
  auto fail = [&result](int code, const char* message) {
    result.code = code;
    result.message = message;
    return result;
  };
  const bool threshold = p.startMode == kStartAboveThreshold || p.startMode == kStartBelowThreshold;
  if (threshold && in.setupDialogOpen) {
    p.endTime = in.loggerClock;
    ++p.endTime.year;
    if (p.endTime.month == 2 && p.endTime.day == 29) p.endTime.day = 28;
  }
  if (!in.resuming && p.startMode == kStartAtTime) {
    if (Compare(p.startTime, in.loggerClock) <= 0)
      return fail(kStartNotAfterLoggerClock,
                  "Error: Start time less than or equal to Logger time.");
    if (Compare(p.startTime, p.endTime) >= 0)
      return fail(kStartNotBeforeEnd, "Error: Start time greater than or equal to End time.");
  } else if (Compare(p.endTime, in.loggerClock) < 0) {
    return fail(kEndBeforeNow, "Error: End time before the current time.");
  }
  if (in.resuming) return result;

  if (p.startMode == kStartAtTime || p.startMode == kStartNow) {
    const SystemTime first = p.startMode == kStartAtTime ? p.startTime : in.loggerClock;
    const SampleSuggestion s = TooManySamples(p, logger, first);
    if (s.tooMany) {
      const int choice = in.host ? in.host->Choose("Too many samples requested", s.text,
                                                   {"Accept End Time", "Accept Sampling Period"},
                                                   BoxIcon::Question)
                                 : -1;
      // Either suggestion ends the checks here; the dialog closed without one leaves the plan
      // as it is and the checks go on.
      if (choice == 0) {
        p.startTime = first;
        p.endTime = s.suggestedEnd;
        result.suggestionAccepted = true;
        return result;
      }
      if (choice == 1) {
        p.samplePeriod = s.suggestedPeriod;
        result.suggestionAccepted = true;
        return result;
      }
    }
  }

  if (!p.averagingEnabled) p.averagingSeconds = 0;
  const MinimumPeriods m = ComputeMinimumPeriods(p, logger);
  const int64_t period = p.samplePeriod.TotalSeconds();
  if (p.averagingEnabled && period < static_cast<int64_t>(p.averagingSeconds))
    return fail(kPeriodShorterThanAveraging,
                "Error: Sampling period shorter than Averaging period.");
  if (!p.profiling6Hz &&
      (period < m.continuousSeconds || (period < m.cycledSeconds && in.continuousPowerForbidden)))
    return fail(kPeriodShorterThanMinimum,
                "Error: Sampling period shorter than minimum period defined by parameters and "
                "sensors.");
  p.continuousPower =
      m.continuousSeconds <= period && period < m.cycledSeconds && !in.continuousPowerForbidden;
  return result;
}

int CurrentGroup(const LoggerState& logger) {
  if (logger.ModelHas("7100")) return 0;
  if (logger.ModelHas("7400")) return 1;
  return 2;
}

double LoggerCurrentMa(const LoggerState& logger) {
  const int group = CurrentGroup(logger);
  if (group == 0) return 12;
  if (group == 1) return 5;
  double current = 5;
  int temperatures = 0;
  const size_t channels =
      std::min<size_t>(logger.channelTypes.size(), static_cast<size_t>(Channels(logger)));
  for (size_t i = 0; i < channels; ++i) {
    switch (logger.channelTypes[i]) {
      case 'T':
        ++temperatures;
        break;
      case 'P':
      case 'H':
      case 'M':
      case 'V':
      case 'D':
      case 'R':
        current += 1;
        break;
      case 'C':
      case 'S':
        current += 4;
        break;
      case 'L':
        current += 5;
        break;
      case 'F':
      case 'G':
      case 'Z':
      case 'f':
      case 'g':
      case 'z':
        current += 15;
        break;
      case 'I':
      case 'i':
      case 'N':
        current += 30;
        break;
      case 'Y':
      case 'y':
        current += 6;
        break;
      case 'J':
      case 'K':
        current += 100;
        break;
      default:
        current += 2;
        break;
    }
  }
  // Thermistor strings come in banks of 8, 16 and 24 with a current of their own.
  if (temperatures == 24)
    current += 8;
  else if (temperatures > 15)
    current += 8 + (temperatures - 16);
  else if (temperatures > 7)
    current += 7 + (temperatures - 8);
  else
    current += temperatures;
  return current;
}

bool UsesTideEstimate(const LoggerState& logger) {
  return logger.extendedCommandSet &&
         (logger.ModelHas("7100") || logger.ModelHas("7400") || logger.ModelHas("7160"));
}

namespace {

void FinishText(UsageEstimate& e, double limit, bool qe, bool rs485, double rs485Mah) {
  if (qe && e.batteryMah > 4000 && e.batteryMah <= 8000) {
    e.text = Format(
        "Estimates:\tmemory usage is %.1f%%\n\t\tbattery usage is %.0fmAH.\n\tThis "
        "exceeds the nominal capacity when using 4 C-cells in this logger.",
        e.memoryPercent, e.batteryMah);
    e.withinCapacity = false;
  } else if (e.batteryMah > limit) {
    e.text = Format(
        "Estimates:\tmemory usage is %.1f%%\n\t\tbattery usage is %.0fmAH.\n\tThis "
        "exceeds the nominal capacity.",
        e.memoryPercent, e.batteryMah);
    e.withinCapacity = false;
  } else {
    e.text = Format(kEstimateFormat, e.memoryPercent, e.batteryMah);
  }
  if (rs485) {
    e.batteryMah += rs485Mah;
    e.text += Format(kRs485Line, e.batteryMah);
  }
  e.icon = e.withinCapacity ? StatusIcon::None : StatusIcon::Info;
}

}  // namespace

UsageEstimate EstimateUsage(const DeploymentParameters& p, const LoggerState& logger,
                            const std::optional<SystemTime>& loggerClock) {
  UsageEstimate e;
  if (p.startMode == kStartAboveThreshold || p.startMode == kStartBelowThreshold) {
    e.text =
        "When set for thresholding, it is not possible to estimate the memory or battery usage";
    return e;
  }
  e.available = true;
  // A start-now deployment begins at the logger clock, not at whatever start time the logger
  // held from its previous deployment.
  const SystemTime first = p.startMode == kStartNow && loggerClock ? *loggerClock : p.startTime;
  const double d = static_cast<double>(std::max<int64_t>(0, SecondsBetween(p.endTime, first)));
  const bool rs485 = logger.externalDataConnector;
  const int64_t channels = Channels(logger);

  if (UsesTideEstimate(logger)) {
    const int64_t t = p.samplePeriod.TotalSeconds();
    const int64_t w = p.burstInterval.TotalSeconds();
    const bool waves = p.waveEnabled && p.burstLength > 0;
    const int64_t available = 8380416 - logger.parameterBlockLength;
    double capacitySeconds = 0;
    if (!waves) {
      capacitySeconds = static_cast<double>(available / (channels * 3) * t);
    } else {
      const int64_t burstBytes = (w / t) * 6 + 24 + static_cast<int64_t>(p.burstLength) * 3;
      capacitySeconds = static_cast<double>(available / burstBytes * w);
    }
    e.memoryPercent = capacitySeconds > 0 ? d * 100 / capacitySeconds : 0;
    const int64_t dd = static_cast<int64_t>(d);
    const int64_t n = dd / t;
    const int64_t nb = waves ? dd / w : 0;
    const bool is7160 = logger.ModelHas("7160");
    const int rate = std::max(1, p.waveRateHz);
    const int64_t burstSeconds = waves ? p.burstLength / rate : 0;
    double charge = d * (is7160 ? 2e-05 : 3e-05);
    if (waves)
      charge += static_cast<double>(nb) *
                (p.burstLength * 0.00034 / 2 + static_cast<double>(burstSeconds) * 0.0008);
    const double avg = static_cast<double>(p.averagingSeconds);
    if (!p.averagingEnabled) {
      if (nb < n) {
        double k = logger.latencyMs == 120 ? 0.00112 : 0.00135;
        if (is7160)
          k = logger.latencyMs == 120 ? (logger.memoryTypeCode < 4 ? 0.00129 : 0.000924) : 0.00163;
        charge += static_cast<double>(n - nb) * k;
      }
    } else if (!waves) {
      charge += (avg * 0.0008 + 0.00034) * static_cast<double>(n);
    } else {
      charge += (avg * 0.0008 + 0.00034) * static_cast<double>(n - nb);
      if (static_cast<int64_t>(p.averagingSeconds) > burstSeconds)
        charge += static_cast<double>(nb) * 0.0008 * (avg - static_cast<double>(burstSeconds));
    }
    e.batteryMah = charge * 0.2777778;
    const bool qe = logger.ModelHas("-QE");
    FinishText(e, qe ? 8000 : 1000, qe, rs485, d * 0.00069444);
    return e;
  }

  const double capacityPerChannel =
      static_cast<double>(ReadingCapacity(logger.memorySizeMb) / channels);
  const double period =
      p.profiling6Hz ? 1.0 / 6.0 : static_cast<double>(p.samplePeriod.TotalSeconds());
  e.memoryPercent = d * 100 / (capacityPerChannel * period);
  const double n = std::floor(d / period + 1e-9);
  const double current = LoggerCurrentMa(logger);
  double charge = 0;
  if (!p.continuousPower && !p.profiling6Hz) {
    double active = logger.latencyMs + logger.readingTimeMs;
    if (p.averagingEnabled) active += p.averagingSeconds * 1000.0;
    charge = n * active * current / 1000 + d * 0.03;
  } else {
    charge = d * current;
  }
  e.batteryMah = charge / 3600;
  const bool linearGroup2 = logger.extendedCommandSet && CurrentGroup(logger) == 2;
  FinishText(e, 1000, false, rs485, linearGroup2 ? d / 2880 : d / 1440);
  return e;
}

void CopyBatchFields(const DeploymentParameters& from, DeploymentParameters& to) {
  to.startTime = from.startTime;
  to.endTime = from.endTime;
  to.samplePeriod = from.samplePeriod;
  // The mode block.
  to.startMode = from.startMode;
  to.continuousPower = from.continuousPower;
  to.profiling6Hz = from.profiling6Hz;
  to.powerCycledTest = from.powerCycledTest;
  to.thresholdChannel = from.thresholdChannel;
  to.thresholdValue = from.thresholdValue;
  to.thresholdRaw = from.thresholdRaw;
  to.thresholdLimitRaw = from.thresholdLimitRaw;
  to.hysteresisSeconds = from.hysteresisSeconds;
  to.startFlags = from.startFlags;
  to.powerSavePeriod = from.powerSavePeriod;
  to.averagingEnabled = from.averagingEnabled;
  to.averagingSeconds = from.averagingSeconds;
  to.realtimeOutput = from.realtimeOutput;
  to.realtimeBaud = from.realtimeBaud;
  to.realtimeBaudCode = from.realtimeBaudCode;
  to.waveEnabled = from.waveEnabled;
  to.waveRateHz = from.waveRateHz;
  to.burstLength = from.burstLength;
  to.burstInterval = from.burstInterval;
  to.loggerHeight = from.loggerHeight;
}

void SetRealTimeBaud(DeploymentParameters& p, int defaultBaudRate) {
  p.realtimeBaud = static_cast<uint32_t>(std::max(defaultBaudRate, 0));
  p.realtimeBaudCode = 0;
  if (p.realtimeOutput && p.realtimeBaud > 0) {
    const int64_t code = 9216000 / (static_cast<int64_t>(p.realtimeBaud) * 32) - 2;
    p.realtimeBaudCode = static_cast<uint32_t>(std::max<int64_t>(code, 0));
  }
}

BatchAcceptance AcceptBatchValues(DeploymentParameters& p, const DeploymentParameters& batch,
                                  Host& host) {
  if (p.changedSinceBatch &&
      host.Ask("Something Changed",
               "You have made a change to the setup parameters since the batch values were "
               "set.\nDo you want to accept the previous batch values?",
               Buttons::YesNo, BoxIcon::Warning, Answer::No) != Answer::Yes) {
    p.changedSinceBatch = false;
    return BatchAcceptance::Declined;
  }
  CopyBatchFields(batch, p);
  p.changedSinceBatch = false;
  return BatchAcceptance::Restored;
}

std::string AveragingSummary(const DeploymentParameters& p) {
  if (p.profiling6Hz) return "Prohibited by profiling";
  if (p.startMode == kStartAboveThreshold || p.startMode == kStartBelowThreshold)
    return "Prohibited by thresholding";
  if (!p.averagingEnabled) return "No Averaging";
  return Format("%d seconds", static_cast<int>(p.averagingSeconds));
}

}  // namespace klx
