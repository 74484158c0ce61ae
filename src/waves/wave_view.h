#pragma once
// What the wave window shows of a tide-and-wave data set: which burst, its title, its statistics
// and the curve of its surface elevation in the plot box. Free of any drawing library, so the
// window only strokes the points.
//
// Choices where the behaviour leaves room:
// - A flat burst (surfaceMax equal to surfaceMin, as every burst flagged as an error is) is drawn
//   as a flat line across the middle of the box instead of dividing by their difference.
// - A burst still being assembled has no surface yet: its measured samples received so far are
//   drawn from their lowest at the bottom to their highest at the top, the missing ones left
//   out.
#include <cstdint>
#include <string>
#include <vector>

#include "records/data_set.h"

namespace klx {

inline constexpr const char* kWaveInProgressText = "Real-time wave measurements in progress.";

// The burst the window shows for tide sample `sample`: the last burst whose stamp lies at or
// before it (bursts in stamp order: burst b has the (b+1)-th burst stamp). A sample before the
// first burst stamp shows the first burst; -1 when the data set has no burst.
int WaveBurstAtSample(const DataSet& data, int64_t sample);

// "Wave measurements at %4d/%s/%02d %02d:%02d:%02d - Wave %d of %d" (burst start, number from 1,
// burst count); empty for a burst index outside the data set.
std::string WaveWindowTitle(const DataSet& data, int burst);

// The statistics block of an analysed burst (the flag line, then the mean depth of water as
// sensor depth + logger height, the wave heights and periods and the energy), or
// kWaveInProgressText for a burst whose analysis has not run.
std::string WaveStatisticsText(const BurstSeries& burst, double loggerHeight);

// The curve of a burst in a plot box `height` pixels high: one y per sample (0 at the top), x of
// sample i being i × width / samples. An analysed burst gives its surface series: centred on the
// middle of the box when it has both signs, scaled by (height − 2) / (2 · largest excursion),
// otherwise from surfaceMin at the bottom to surfaceMax at the top, clamped into the box. A burst
// in progress gives its measured samples, missing ones as NaN (a gap in the curve).
std::vector<float> WaveCurve(const BurstSeries& burst, int height);

}  // namespace klx
