#pragma once
// The seawater formulas behind the derived channels. Every function takes and returns doubles;
// an input of -1000 or less (a missing sample) gives kDerivedMissing, and so does a result that
// is not a finite number. Temperatures are ITS-90 °C as the logger measures them; a formula
// fitted on the IPTS-68 scale converts them with T68 = 1.00024 T where noted.
#include <array>

namespace klx {

constexpr double kDerivedMissing = -1000.0;

// True for a missing or unusable value (-1000 or less, or not a number).
bool IsMissingValue(double value);

// Practical Salinity Scale 1978 (UNESCO 1981; Fofonoff and Millard 1983). In conductivity mode
// the first argument is conductivity in mS/cm (R = C / 42.914); in ratio mode it is Rt, the
// ratio to the conductivity of standard seawater at the same temperature and zero pressure.
// Temperature is converted to IPTS-68; seaPressure is in dbar above atmospheric.
enum class SalinityMode { Conductivity, Ratio };
double Salinity78(double conductivityOrRatio, double temperature, double seaPressure,
                  SalinityMode mode = SalinityMode::Conductivity);

// EOS-80 (Millero and Poisson 1981; UNESCO 1981): rho(S, T68, p) - 1000 in kg/m³ with the secant
// bulk modulus. Missing outside 0 <= p <= 10000 dbar, 0 <= S <= 42, -2 <= T <= 40.
double DensityAnomaly(double salinity, double temperature, double seaPressure);

// The three speed-of-sound equations, computed together from S, T (°C) and absolute pressure
// (dbar):
//   unesco    Chen and Millero (1977) with the ITS-90 coefficients of Wong and Zhu (1995),
//             pressure in bar;
//   delGrosso del Grosso (1974), pressure in kg/cm²;
//   wilson    Wilson (1960), T68, pressure in MPa with the coefficients rescaled from kg/cm².
struct SoundSpeeds {
  double unesco = kDerivedMissing;
  double delGrosso = kDerivedMissing;
  double wilson = kDerivedMissing;
};
SoundSpeeds SpeedOfSound(double salinity, double temperature, double pressure);

// Depth in metres from absolute pressure (dbar) less the atmospheric pressure. Seawater: Saunders
// and Fofonoff (1976) as given in UNESCO Technical Paper in Marine Science 44, with the gravity
// of the latitude (decimal degrees). Simplified: p / (density × 0.980665), density in g/cm³.
enum class DepthMethod { Seawater, Simplified };
double Depth(double pressure, double atmosphericPressure, DepthMethod method,
             double latitudeDegrees, double density);

// Decimal degrees from whole degrees and minutes. The minutes count away from the equator
// whatever the sign of the degrees: -30° 30' is 30.5° south.
double LatitudeDegrees(int degrees, double minutes);

// Dissolved oxygen from a saturation sensor: Weiss (1970) air solubility C* (ml/l, T68) times
// saturation / 100, in the chosen unit.
enum class OxygenUnit { MlPerL, MgPerL, UMolPerL };
double OxygenFromSaturation(double saturationPercent, double temperature, double salinity,
                            OxygenUnit unit);

// Optode saturation (%) from its concentration (µmol/l) against the Garcia and Gordon (1992)
// fit of the Benson and Krause data (ml/l).
double OptodeSaturation(double optodeConcentration, double temperature, double salinity);

// The Optode concentration (µmol/l) in ml/l or mg/l.
enum class OptodeUnit { MlPerL, MgPerL };
double OptodeConcentration(double optodeConcentration, OptodeUnit unit);

// Conductivity at 25 °C: C / (1 + 0.0191 (T - 25)), in the unit of C.
double SpecificConductivity(double conductivity, double temperature);

// Ccor = (C - b (T - Tc)) / (1 + a (T - Tc) + c p), coefficients in the order a, b, Tc, c;
// p is the sea pressure in dbar. In the unit of C.
double CorrectedConductivity(double conductivity, double temperature, double seaPressure,
                             const std::array<double, 4>& correction);

}  // namespace klx
