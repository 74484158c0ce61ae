// Derived-channel allocation and the per-sample computation over a data set.
#include "derived/derived.h"

#include <gtest/gtest.h>

#include "decoding/channel_types.h"
#include "records/data_set.h"

namespace klx {
namespace {

// A data set whose measured channels carry `letters` and the given rows of values.
DataSet Data(const std::string& letters, const std::vector<std::vector<float>>& rows) {
  DataSet data;
  data.logger.channelTypes = letters;
  data.logger.channelCount = static_cast<int>(letters.size());
  data.logger.standardChannels = false;  // conductivity in mS/cm
  data.channelCount = data.logger.channelCount;
  data.samplesPerChannel = static_cast<int>(rows.size());
  data.series.assign(letters.size(), std::vector<float>(rows.size() + 2));
  for (size_t ch = 0; ch < letters.size(); ++ch)
    for (size_t i = 0; i < rows.size(); ++i) data.series[ch][i] = rows[i][ch];
  return data;
}

DerivedSettings Everything() {
  DerivedSettings s;
  s.depthOn = s.salinityOn = s.conductivityCorrectionOn = s.specificConductivityOn = true;
  s.dissolvedOxygenOn = s.speedOfSoundOn = s.densityAnomalyOn = s.optodeConcentrationOn = true;
  s.optodeSaturationOn = s.soundUnesco = s.soundDelGrosso = s.soundWilson = true;
  return s;
}

std::string DerivedLetters(const DataSet& data, const DerivedChannels& d) {
  return data.logger.channelTypes.substr(static_cast<size_t>(d.measuredChannels));
}

std::string Letters(std::initializer_list<int> letters) {
  return std::string(letters.begin(), letters.end());
}

TEST(Allocation, FollowsTheOrderWithOneSpeedOfSoundChannel) {
  DataSet data = Data("TCPDJ", {{10, 40, 20, 90, 250}});
  const DerivedAllocation a = AllocateDerivedChannels(data, Everything());
  EXPECT_EQ(DerivedLetters(data, a.channels),
            Letters({kLetterDerivedDepth, 'S', kLetterCorrectedConductivity, 's', 'X', 'u',
                     kLetterDensityAnomaly, kLetterOxygenConcentration, kLetterOxygenSaturation}));
  EXPECT_EQ(std::make_pair(a.channels.depth, a.channels.optodeSaturation), std::make_pair(5, 13));
  // The extremes stand behind the one sample.
  EXPECT_EQ(data.series[13],
            (std::vector<float>{kMissingValue, kDerivedMinimumStart, kDerivedMaximumStart}));

  // del Grosso before Wilson; Wilson alone.
  DerivedSettings s = Everything();
  s.soundUnesco = false;
  AllocateDerivedChannels(data, s);
  EXPECT_EQ(data.logger.channelTypes[10], 'd');
  s.soundDelGrosso = false;
  AllocateDerivedChannels(data, s);  // reallocating replaces, never piles up
  EXPECT_EQ(data.logger.channelTypes.substr(10, 1) + std::to_string(data.channelCount), "W14");

  // The sources decide: oxygen without conductivity comes after depth; density needs temperature
  // with pressure or conductivity; salinity needs both conductivity and temperature.
  DataSet tpk = Data("PTK", {{20, 10, 90}});
  const DerivedChannels p = AllocateDerivedChannels(tpk, Everything()).channels;
  EXPECT_EQ(DerivedLetters(tpk, p), Letters({kLetterDerivedDepth, 'X', kLetterDensityAnomaly}));
  EXPECT_EQ(std::make_pair(p.pressure, p.oxygenSaturation), std::make_pair(0, 2));

  DataSet c = Data("CL", {{40, 20}});  // a Paroscientific channel is a pressure source
  const DerivedAllocation b = AllocateDerivedChannels(c, Everything());
  EXPECT_EQ(DerivedLetters(c, b.channels), Letters({kLetterDerivedDepth}));
}

TEST(Allocation, OldCorrectionCoefficientBIsConvertedWithANotice) {
  DataSet data = Data("TC", {{10, 40}});
  const DerivedSettings s{.conductivityCorrectionOn = true};
  data.calibration.conductivityCorrection = {0.01, 1.0, 20.0, 0.0};
  const DerivedAllocation a = AllocateDerivedChannels(data, s);
  EXPECT_NE(a.notice.find("from its current value of 1.0 to 0.0\nfor consistency"), a.notice.npos);
  EXPECT_EQ(data.calibration.conductivityCorrection[1], 0.0);

  // A b other than 1, or no correction channel, is left as it is.
  for (const auto& [b, settings] : {std::pair{0.998, s}, std::pair{1.0, DerivedSettings{}}}) {
    data.calibration.conductivityCorrection[1] = b;
    EXPECT_TRUE(AllocateDerivedChannels(data, settings).notice.empty());
    EXPECT_EQ(data.calibration.conductivityCorrection[1], b);
  }
}

TEST(Recompute, ValuesFollowTheFormulasAndMissingSamplesLeaveTheExtremesAlone) {
  // Rows: T, C (mS/cm), P (absolute dbar). The second row has no temperature.
  DataSet data = Data("TCP", {{15.0f, 42.914f, 110.1325f},
                              {-1000.0f, 40.0f, 210.1325f},
                              {5.0f, 30.0f, 1010.1325f}});
  DerivedSettings s = Everything();
  s.depthSeawater = true, s.latitudeDegrees = 45;
  const DerivedAllocation a = AllocateDerivedChannels(data, s);
  data.calibration.conductivityCorrection = {0.0, 0.0, 0.0, 0.0};
  RecomputeDerived(data, a.channels, s);
  const DerivedChannels& d = a.channels;
  auto at = [&](int ch, int i) { return data.series[size_t(ch)][size_t(i)]; };

  // Sample 0: standard seawater at 100 dbar sea pressure.
  const double s0 = Salinity78(42.914, 15.0, 100.0);
  EXPECT_FLOAT_EQ(at(d.salinity, 0), static_cast<float>(s0));
  EXPECT_FLOAT_EQ(at(d.depth, 0), static_cast<float>(Depth(110.1325, 10.1325, DepthMethod::Seawater,
                                                           45.0, 1.0281)));
  EXPECT_FLOAT_EQ(at(d.speedOfSound, 0),
                  static_cast<float>(SpeedOfSound(s0, 15.0, 110.1325).unesco));
  EXPECT_FLOAT_EQ(at(d.densityAnomaly, 0), static_cast<float>(DensityAnomaly(s0, 15.0, 100.0)));

  // Sample 1: every channel that depends on temperature is missing; depth is not.
  for (int ch : {d.salinity, d.correctedConductivity, d.specificConductivity, d.speedOfSound,
                 d.densityAnomaly})
    EXPECT_EQ(at(ch, 1), kMissingValue) << ch;
  EXPECT_NE(at(d.depth, 1), kMissingValue);

  // The extremes come from samples 0 and 2 only.
  const int n = data.samplesPerChannel;
  for (int ch : {d.salinity, d.speedOfSound, d.depth}) {
    EXPECT_EQ(at(ch, n), std::min(at(ch, 0), at(ch, 2))) << ch;
    EXPECT_EQ(at(ch, n + 1), std::max(at(ch, 0), at(ch, 2))) << ch;
  }

  // Recomputing with other settings starts the extremes afresh.
  s.depthSeawater = false;
  RecomputeDerived(data, d, s);
  EXPECT_FLOAT_EQ(at(d.depth, n + 1), static_cast<float>(1000.0 / (1.0281 * 0.980665)));
}

TEST(Recompute, SettingsStandInForMissingSourceChannels) {
  // No temperature channel: oxygen uses the DO temperature and DO salinity settings.
  DataSet data = Data("D", {{80.0f}});
  DerivedSettings s;
  s.dissolvedOxygenOn = s.doUnitMgPerL = true;
  s.doTemperature = 8.0, s.doSalinity = 33.0;
  const DerivedAllocation a = AllocateDerivedChannels(data, s);
  RecomputeDerived(data, a.channels, s);
  EXPECT_FLOAT_EQ(data.series[1][0],
                  static_cast<float>(OxygenFromSaturation(80.0, 8.0, 33.0, OxygenUnit::MgPerL)));

  // No pressure channel: salinity and the correction use the hydrostatic pressure, density
  // p = 0 and speed of sound the atmospheric pressure; µS/cm is divided by 1000 for salinity.
  DataSet tc = Data("TC", {{12.0f, 38000.0f}});
  tc.logger.standardChannels = true;
  DerivedSettings t;
  t.salinityOn = t.conductivityCorrectionOn = t.speedOfSoundOn = t.soundWilson = true;
  t.densityAnomalyOn = true, t.hydrostaticPressure = 50.0;
  tc.calibration.conductivityCorrection = {0.0, 0.0, 0.0, 1e-4};
  const DerivedAllocation b = AllocateDerivedChannels(tc, t);
  RecomputeDerived(tc, b.channels, t);
  const double ccor = CorrectedConductivity(38000.0, 12.0, 50.0, {0.0, 0.0, 0.0, 1e-4});
  const double sal = Salinity78(ccor / 1000.0, 12.0, 50.0);
  const DerivedChannels& d = b.channels;
  EXPECT_FLOAT_EQ(tc.series[size_t(d.correctedConductivity)][0], static_cast<float>(ccor));
  EXPECT_FLOAT_EQ(tc.series[size_t(d.salinity)][0], static_cast<float>(sal));
  EXPECT_FLOAT_EQ(tc.series[size_t(d.speedOfSound)][0],
                  static_cast<float>(SpeedOfSound(sal, 12.0, 10.1325).wilson));
  EXPECT_FLOAT_EQ(tc.series[size_t(d.densityAnomaly)][0],
                  static_cast<float>(DensityAnomaly(sal, 12.0, 0.0)));
}

}  // namespace
}  // namespace klx
