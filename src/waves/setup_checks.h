#pragma once
// The checks of a tide-and-wave deployment plan, run with the general ones each time the setup
// changes: the wave sampling, the site's depths, the burst against its period, the tide period
// against the averaging and the burst, and the memory and battery the plan needs; and the band
// of wave frequencies and periods the analysis will see.
#include <string>

#include "records/deployment_parameters.h"

namespace klx {

inline constexpr double kNominalBatteryMah = 1300.0;

struct TideAndWaveCheck {
  enum Level { Ok, Note, Error };
  Level level = Ok;
  std::string message;    // the message line: the first error, or the notes (may be empty)
  std::string bandwidth;  // "Wave analysis bandwidth: ..." once the wave checks pass, else empty
};

// "Wave analysis bandwidth: %.4f to %.4f (Hz) - Wave periods %.2f to %.2f (secs)": from R / N to
// the cut-off frequency of the expected water depth with the logger at its height above the bed.
std::string WaveBandwidthText(const DeploymentParameters& p);

// The checks in order; an error stops at its message. `memoryPercent` and `batteryMah` are the
// plan's usage estimates.
TideAndWaveCheck CheckTideAndWavePlan(const DeploymentParameters& p, double memoryPercent,
                                      double batteryMah);

}  // namespace klx
