#include "derived/derived.h"

#include <algorithm>

#include "decoding/channel_types.h"
#include "records/data_set.h"

namespace klx {

const char* const kCorrectionChangeMessage =
    "The form of the conductivity correction equation has changed.\nThe 'b' coefficient will be "
    "converted from its current value of 1.0 to 0.0\nfor consistency with the revised "
    "equation.\n\nPlease see the KLX Manual for details.";
const char* const kCorrectionChangeTitle = "Conductivity Correction Equation Change";

namespace {

int FirstChannel(const std::string& letters, int count, std::initializer_list<char> wanted) {
  for (int ch = 0; ch < count; ++ch) {
    const char letter = letters[static_cast<size_t>(ch)];
    if (std::find(wanted.begin(), wanted.end(), letter) != wanted.end()) return ch;
  }
  return -1;
}

int Append(DataSet& data, uint8_t letter) {
  const int index = data.channelCount++;
  data.logger.channelTypes.push_back(static_cast<char>(letter));
  std::vector<float> series(static_cast<size_t>(std::max(data.samplesPerChannel, 0)) + 2,
                            kMissingValue);
  series[series.size() - 2] = kDerivedMinimumStart;
  series[series.size() - 1] = kDerivedMaximumStart;
  data.series.push_back(std::move(series));
  return index;
}

OxygenUnit ChosenOxygenUnit(const DerivedSettings& s) {
  if (s.doUnitUMol) return OxygenUnit::UMolPerL;
  if (s.doUnitMgPerL) return OxygenUnit::MgPerL;
  return OxygenUnit::MlPerL;
}

void Store(DataSet& data, int channel, int sample, double value) {
  if (channel < 0) return;
  auto& series = data.series[static_cast<size_t>(channel)];
  const auto n = static_cast<size_t>(data.samplesPerChannel);
  const float v = IsMissingValue(value) ? kMissingValue : static_cast<float>(value);
  series[static_cast<size_t>(sample)] = v;
  if (v == kMissingValue) return;
  if (v <= series[n]) series[n] = v;
  if (v >= series[n + 1]) series[n + 1] = v;
}

}  // namespace

DerivedAllocation AllocateDerivedChannels(DataSet& data, const DerivedSettings& settings) {
  DerivedAllocation out;
  DerivedChannels& d = out.channels;

  // The measured channels are the logger's; whatever stands after them was derived before.
  const int measured = std::clamp(data.logger.channelCount, 0, data.channelCount);
  data.channelCount = measured;
  data.series.resize(static_cast<size_t>(measured));
  data.logger.channelTypes.resize(static_cast<size_t>(measured), 'U');
  d.measuredChannels = measured;

  const std::string& letters = data.logger.channelTypes;
  d.pressure = FirstChannel(letters, measured, {'P', 'L'});
  d.temperature = FirstChannel(letters, measured, {'T'});
  d.conductivity = FirstChannel(letters, measured, {'C'});
  d.oxygenSaturation = FirstChannel(letters, measured, {'D', 'K'});
  d.optode = FirstChannel(letters, measured, {'J'});
  d.conductivityDivisor = data.logger.standardChannels ? 1000.0 : 1.0;
  // The micro-salinometer measures a sample cell (channel 0) against a standard cell
  // (channel 2), with the temperature on channel 1: its readings are volt ratios, not mS/cm.
  if (data.logger.ModelHas("HL-240") && measured >= 3) {
    d.conductivity = 0;
    d.temperature = 1;
    d.ratioStandard = 2;
  }
  d.oxygenUnit = ChosenOxygenUnit(settings);
  d.optodeUnit = settings.optodeUnitMgPerL ? OptodeUnit::MgPerL : OptodeUnit::MlPerL;

  const bool oxygenWanted = settings.dissolvedOxygenOn && d.oxygenSaturation >= 0;
  if (settings.depthOn && d.pressure >= 0) d.depth = Append(data, kLetterDerivedDepth);
  if (d.HasConductivityAndTemperature()) {
    if (settings.salinityOn) d.salinity = Append(data, 'S');
    if (settings.conductivityCorrectionOn) {
      d.correctedConductivity = Append(data, kLetterCorrectedConductivity);
      double& b = data.calibration.conductivityCorrection[1];
      if (b >= 0.999) {
        b = 0.0;
        out.notice = kCorrectionChangeMessage;
      }
    }
    if (settings.specificConductivityOn) d.specificConductivity = Append(data, 's');
    if (oxygenWanted) d.oxygenConcentration = Append(data, 'X');
    if (settings.speedOfSoundOn) {
      d.speedOfSoundLetter = settings.soundUnesco ? 'u' : settings.soundDelGrosso ? 'd' : 'W';
      d.speedOfSound = Append(data, d.speedOfSoundLetter);
    }
  } else if (oxygenWanted) {
    d.oxygenConcentration = Append(data, 'X');
  }
  if (settings.densityAnomalyOn && d.temperature >= 0 && (d.pressure >= 0 || d.conductivity >= 0)) {
    d.densityAnomaly = Append(data, kLetterDensityAnomaly);
  }
  if (data.logger.ModelHas("NMJ")) {
    d.waveHeight = Append(data, kLetterSignificantWaveHeight);
    d.tidalSlope = Append(data, kLetterTidalSlope);
  }
  if (d.optode >= 0) {
    if (settings.optodeConcentrationOn) {
      d.optodeConcentration = Append(data, kLetterOxygenConcentration);
    }
    if (settings.optodeSaturationOn) d.optodeSaturation = Append(data, kLetterOxygenSaturation);
  }
  return out;
}

void ComputeDerivedSample(DataSet& data, const DerivedChannels& d, const DerivedSettings& settings,
                          int sample) {
  if (sample < 0 || sample >= data.samplesPerChannel) return;
  auto value = [&](int channel) -> double {
    return static_cast<double>(
        data.series[static_cast<size_t>(channel)][static_cast<size_t>(sample)]);
  };
  const double atmospheric = settings.atmosphericPressure;
  const bool hasPressure = d.pressure >= 0;
  const bool hasTemperature = d.temperature >= 0;
  const double pressure = hasPressure ? value(d.pressure) : atmospheric;
  const double temperature = hasTemperature ? value(d.temperature) : settings.doTemperature;
  const double gauge = IsMissingValue(pressure) ? kDerivedMissing : pressure - atmospheric;
  // Sea pressure for the conductivity formulas: the hydrostatic-pressure setting without a
  // pressure channel.
  const double seaPressure = hasPressure ? gauge : settings.hydrostaticPressure;

  if (d.depth >= 0) {
    const DepthMethod method =
        settings.depthSeawater ? DepthMethod::Seawater : DepthMethod::Simplified;
    Store(data, d.depth, sample,
          Depth(pressure, atmospheric, method,
                LatitudeDegrees(settings.latitudeDegrees, settings.latitudeMinutes),
                settings.density));
  }

  // Salinity from conductivity and temperature (the corrected conductivity when the correction
  // is on) serves the oxygen, speed-of-sound and density formulas; without them the DO salinity
  // setting stands in.
  double salinity = settings.doSalinity;
  if (d.HasConductivityAndTemperature()) {
    double conductivity = value(d.conductivity);
    if (d.correctedConductivity >= 0) {
      conductivity = CorrectedConductivity(conductivity, temperature, seaPressure,
                                           data.calibration.conductivityCorrection);
      Store(data, d.correctedConductivity, sample, conductivity);
    }
    if (d.ratioStandard >= 0) {
      const double standard = value(d.ratioStandard);
      const bool usable =
          !IsMissingValue(conductivity) && !IsMissingValue(standard) && standard != 0.0;
      salinity = usable ? Salinity78(conductivity / standard, temperature, 0.0, SalinityMode::Ratio)
                        : kDerivedMissing;
    } else {
      salinity = IsMissingValue(conductivity)
                     ? kDerivedMissing
                     : Salinity78(conductivity / d.conductivityDivisor, temperature, seaPressure);
    }
    Store(data, d.salinity, sample, salinity);
    if (d.specificConductivity >= 0) {
      Store(data, d.specificConductivity, sample, SpecificConductivity(conductivity, temperature));
    }
    if (d.speedOfSound >= 0) {
      const SoundSpeeds speeds = SpeedOfSound(salinity, temperature, pressure);
      Store(data, d.speedOfSound, sample,
            d.speedOfSoundLetter == 'u'   ? speeds.unesco
            : d.speedOfSoundLetter == 'd' ? speeds.delGrosso
                                          : speeds.wilson);
    }
  }
  if (d.oxygenConcentration >= 0) {
    Store(data, d.oxygenConcentration, sample,
          OxygenFromSaturation(value(d.oxygenSaturation), temperature, salinity, d.oxygenUnit));
  }
  if (d.densityAnomaly >= 0) {
    // Density takes the salinity channel, or the DO salinity setting when there is none.
    const double densitySalinity = d.salinity >= 0 ? salinity : settings.doSalinity;
    Store(data, d.densityAnomaly, sample,
          DensityAnomaly(densitySalinity, temperature, hasPressure ? gauge : 0.0));
  }
  if (d.optode >= 0) {
    const double optode = value(d.optode);
    if (d.optodeConcentration >= 0) {
      Store(data, d.optodeConcentration, sample, OptodeConcentration(optode, d.optodeUnit));
    }
    if (d.optodeSaturation >= 0) {
      Store(data, d.optodeSaturation, sample, OptodeSaturation(optode, temperature, salinity));
    }
  }
}

void RecomputeDerived(DataSet& data, const DerivedChannels& d, const DerivedSettings& settings) {
  const auto n = static_cast<size_t>(std::max(data.samplesPerChannel, 0));
  for (int ch :
       {d.depth, d.salinity, d.correctedConductivity, d.specificConductivity, d.oxygenConcentration,
        d.speedOfSound, d.densityAnomaly, d.optodeConcentration, d.optodeSaturation}) {
    if (ch < 0) continue;
    auto& series = data.series[static_cast<size_t>(ch)];
    series.resize(n + 2, kMissingValue);
    series[n] = kDerivedMinimumStart;
    series[n + 1] = kDerivedMaximumStart;
  }
  for (int i = 0; i < data.samplesPerChannel; ++i) ComputeDerivedSample(data, d, settings, i);
}

}  // namespace klx
