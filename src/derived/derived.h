#pragma once
// The derived channels of a data set: which ones the derived-unit settings ask for, where they
// stand after the measured channels, and their values sample by sample.
#include <cstdint>
#include <string>

#include "derived/formulas.h"
#include "shell/settings.h"

namespace klx {

struct DataSet;

// The derived-unit choices and constants are those the settings file keeps.
using DerivedSettings = DerivedUnitSettings;

// Running minimum and maximum of a fresh derived series.
constexpr float kDerivedMinimumStart = 30000.0f;
constexpr float kDerivedMaximumStart = -300.0f;

// "The form of the conductivity correction equation has changed..." and its title.
extern const char* const kCorrectionChangeMessage;
extern const char* const kCorrectionChangeTitle;

// Where the source and derived channels of a data set stand (channel indices from 0, -1 when
// absent), as AllocateDerivedChannels found and placed them.
struct DerivedChannels {
  int measuredChannels = 0;

  // Sources among the measured channels.
  int pressure = -1;          // first 'P' or 'L'
  int temperature = -1;       // first 'T'
  int conductivity = -1;      // first 'C'
  int oxygenSaturation = -1;  // first 'D' or 'K'
  int optode = -1;            // first 'J'

  // Derived channels, in allocation order.
  int depth = -1;
  int salinity = -1;
  int correctedConductivity = -1;
  int specificConductivity = -1;
  int oxygenConcentration = -1;
  int speedOfSound = -1;
  int densityAnomaly = -1;
  int waveHeight = -1;  // filled by the wave analysis
  int tidalSlope = -1;  // filled by the wave analysis
  int optodeConcentration = -1;
  int optodeSaturation = -1;

  uint8_t speedOfSoundLetter = 0;  // 'u', 'd' or 'W'
  OxygenUnit oxygenUnit = OxygenUnit::MlPerL;
  OptodeUnit optodeUnit = OptodeUnit::MlPerL;
  // The micro-salinometer's standard cell: salinity then comes from the ratio Rt of the
  // conductivity (sample) channel to this channel, at zero pressure.
  int ratioStandard = -1;
  // Conductivity is divided by this before salinity (1000 for a logger in µS/cm).
  double conductivityDivisor = 1.0;

  bool HasConductivityAndTemperature() const { return conductivity >= 0 && temperature >= 0; }
};

struct DerivedAllocation {
  DerivedChannels channels;
  // Empty, or kCorrectionChangeMessage when the 'b' coefficient of the conductivity correction
  // was converted from 1.0 to 0.0; the caller shows it under kCorrectionChangeTitle.
  std::string notice;
};

// Drops any derived channels the data set already carries (those after the logger's measured
// channels), finds the source channels and appends the derived channels the settings ask for,
// each with its type letter and a series of missing values. The samples are not computed: call
// RecomputeDerived (or ComputeDerivedSample per sample) next.
DerivedAllocation AllocateDerivedChannels(DataSet& data, const DerivedSettings& settings);

// Computes every allocated derived channel for one sample and moves each channel's running
// minimum and maximum (missing results leave them alone). The wave channels are not touched.
void ComputeDerivedSample(DataSet& data, const DerivedChannels& channels,
                          const DerivedSettings& settings, int sample);

// Resets the minimum and maximum of the derived channels and computes every sample.
void RecomputeDerived(DataSet& data, const DerivedChannels& channels,
                      const DerivedSettings& settings);

}  // namespace klx
