#include "waves/setup_checks.h"

#include <cstdint>

#include "shell/text_file.h"
#include "waves/analysis.h"

namespace klx {

std::string WaveBandwidthText(const DeploymentParameters& p) {
  const double low = static_cast<double>(p.waveRateHz) / p.burstLength;
  const double high = CutoffFrequency(p.expectedWaterDepth, p.expectedWaterDepth - p.loggerHeight);
  return CFormat("Wave analysis bandwidth: %.4f to %.4f (Hz) - Wave periods %.2f to %.2f (secs)",
                 low, high, 1.0 / high, 1.0 / low);
}

TideAndWaveCheck CheckTideAndWavePlan(const DeploymentParameters& p, double memoryPercent,
                                      double batteryMah) {
  TideAndWaveCheck check;
  auto error = [&check](const char* text) {
    check.level = TideAndWaveCheck::Error;
    check.message = text;
    check.bandwidth.clear();
    return check;
  };
  auto note = [&check](const char* text) {
    if (check.level == TideAndWaveCheck::Ok) check.level = TideAndWaveCheck::Note;
    if (!check.message.empty()) check.message += "\n";
    check.message += text;
  };
  const bool waves = p.waveEnabled && p.burstLength > 0;
  const int64_t burstPeriod = p.burstInterval.TotalSeconds();
  if (!waves) {
    note("The wave sampling has not been selected.");
  } else {
    if (p.waveRateHz <= 0) return error("The wave sampling rate has not been set.");
    if (p.expectedWaterDepth <= 0)
      return error("The value for the mean depth of water is zero or negative.");
    if (p.loggerHeight < 0) return error("The value for the height of logger is negative.");
    if (p.expectedWaterDepth - p.loggerHeight <= 0)
      return error(
          "Values for the mean depth of water and the height of logger place the logger at or "
          "above the water surface.");
    if (p.burstLength / p.waveRateHz > burstPeriod)
      return error("Time to take wave burst is longer than wave period.");
    check.bandwidth = WaveBandwidthText(p);
  }
  const int64_t tidePeriod = p.samplePeriod.TotalSeconds();
  if (p.averagingEnabled && p.averagingSeconds > tidePeriod)
    return error("Error: Averaging Period greater than Sampling Period.");
  if (waves) {
    if (burstPeriod < tidePeriod) return error("Error: Burst Period less than Sampling Period.");
    const int64_t burstSeconds = (p.burstLength + p.waveRateHz - 1) / p.waveRateHz;
    if (burstSeconds > burstPeriod)
      return error("Error: Burst Period is too short for the specified Burst Length and Rate.");
  }
  if (memoryPercent > 100.0)
    return error(
        "You must adjust the deployment parameters to reduce the memory usage to less than or "
        "equal to 100%.");
  if (batteryMah > kNominalBatteryMah)
    note(
        "Note: the estimated battery usage is greater than the nominal 1300mAH capacity of the "
        "batteries.");
  return check;
}

}  // namespace klx
