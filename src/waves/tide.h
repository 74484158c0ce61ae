#pragma once
// The tide side of the tide-and-wave recorder: the tidal slope of a depth series (the derived
// channel "Td_Slope", m/hour) and the significant wave height channel ("SWH") that follows the
// bursts along the tide series.
#include <span>

#include "derived/derived.h"
#include "records/data_set.h"
#include "records/deployment_parameters.h"

namespace klx {

// The eight offsets and antisymmetric coefficients of the slope filter.
inline constexpr int kTideSlopeOffsets[8] = {-7, -5, -3, -1, 1, 3, 5, 7};
inline constexpr double kTideSlopeCoefficients[8] = {-0.010292142, -0.014320589, -0.032075668,
                                                     -0.260125065, 0.260125065,  0.032075668,
                                                     0.014320589,  0.010292142};

// The sampling period in minutes the slope is scaled by: hours × 60 + minutes + seconds / 60,
// or 1/360 under 6 Hz profiling.
double TideSlopePeriodMinutes(const DeploymentParameters& parameters);

// The slope at sample i of `depth` in m/hour: 0 where sample i − 7 or i + 7 lies outside the
// series; kMissingValue when any of the eight samples it uses is missing (−1000 or less).
double TideSlope(std::span<const float> depth, int i, double periodMinutes);

// The depth series the slope is taken from: the derived depth channel, else a measured depth
// channel (letter 'A'); −1 when there is none.
int TideDepthChannel(const DataSet& data, const DerivedChannels& channels);

// Fills the two wave channels of a tide-and-wave data set (those AllocateDerivedChannels placed):
// SWH holds, at every tide sample, the Hm0 of the last analysed burst whose stamp lies at or
// before it (missing before the first burst, and for a burst flagged as an error); Td_Slope
// the tidal slope of the depth channel (missing without one). Each channel's minimum and maximum
// are set from its values.
void FillWaveChannels(DataSet& data, const DerivedChannels& channels,
                      const DeploymentParameters& parameters);

}  // namespace klx
