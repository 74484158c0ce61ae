#include "derived/formulas.h"

#include <cmath>
#include <initializer_list>

namespace klx {
namespace {

constexpr double kIpts68PerIts90 = 1.00024;
// Conductivity of standard seawater C(35, 15, 0), mS/cm.
constexpr double kStandardConductivity = 42.914;
// kg/cm² per MPa and per dbar.
constexpr double kKgPerCm2PerMPa = 10.19716;
constexpr double kKgPerCm2PerDbar = kKgPerCm2PerMPa / 100.0;

bool AnyMissing(std::initializer_list<double> values) {
  for (double v : values) {
    if (IsMissingValue(v)) return true;
  }
  return false;
}

double Finite(double value) {
  return std::isfinite(value) ? value : kDerivedMissing;
}

// c[0] + c[1] x + ... by Horner's rule.
template <size_t N>
double Poly(const double (&c)[N], double x) {
  double sum = 0.0;
  for (size_t i = N; i-- > 0;) sum = sum * x + c[i];
  return sum;
}

// ---- PSS-78 ----
constexpr double kSalA[] = {0.0080, -0.1692, 25.3851, 14.0941, -7.0261, 2.7081};
constexpr double kSalB[] = {0.0005, -0.0056, -0.0066, -0.0375, 0.0636, -0.0144};
constexpr double kSalC[] = {0.6766097, 2.00564e-2, 1.104259e-4, -6.9698e-7, 1.0031e-9};
constexpr double kSalD[] = {3.426e-2, 4.464e-4, 4.215e-1, -3.107e-3};
constexpr double kSalE[] = {2.070e-5, -6.370e-10, 3.989e-15};
constexpr double kSalK = 0.0162;

// ---- EOS-80 ----
constexpr double kRhoW[] = {999.842594,  6.793952e-2,  -9.095290e-3,
                            1.001685e-4, -1.120083e-6, 6.536332e-9};
constexpr double kRhoS[] = {8.24493e-1, -4.0899e-3, 7.6438e-5, -8.2467e-7, 5.3875e-9};
constexpr double kRhoS15[] = {-5.72466e-3, 1.0227e-4, -1.6546e-6};
constexpr double kRhoS2 = 4.8314e-4;
constexpr double kKw[] = {19652.21, 148.4206, -2.327105, 1.360477e-2, -5.155288e-5};
constexpr double kKS[] = {54.6746, -0.603459, 1.09987e-2, -6.1670e-5};
constexpr double kKS15[] = {7.944e-2, 1.6483e-2, -5.3009e-4};
constexpr double kAw[] = {3.239908, 1.43713e-3, 1.16092e-4, -5.77905e-7};
constexpr double kAS[] = {2.2838e-3, -1.0981e-5, -1.6078e-6};
constexpr double kAS15 = 1.91075e-4;
constexpr double kBw[] = {8.50935e-5, -6.12293e-6, 5.2787e-8};
constexpr double kBS[] = {-9.9348e-7, 2.0816e-8, 9.1697e-10};

// ---- Chen and Millero (1977), ITS-90 coefficients of Wong and Zhu (1995) ----
constexpr double kCw0[] = {1402.388, 5.03830, -5.81090e-2, 3.3432e-4, -1.47797e-6, 3.1419e-9};
constexpr double kCw1[] = {0.153563, 6.8999e-4, -8.1829e-6, 1.3632e-7, -6.1260e-10};
constexpr double kCw2[] = {3.1260e-5, -1.7111e-6, 2.5986e-8, -2.5353e-10, 1.0415e-12};
constexpr double kCw3[] = {-9.7729e-9, 3.8513e-10, -2.3654e-12};
constexpr double kA0[] = {1.389, -1.262e-2, 7.166e-5, 2.008e-6, -3.21e-8};
constexpr double kA1[] = {9.4742e-5, -1.2583e-5, -6.4928e-8, 1.0515e-8, -2.0142e-10};
constexpr double kA2[] = {-3.9064e-7, 9.1061e-9, -1.6009e-10, 7.994e-12};
constexpr double kA3[] = {1.100e-10, 6.651e-12, -3.391e-13};
constexpr double kB0[] = {-1.922e-2, -4.42e-5};
constexpr double kB1[] = {7.3637e-5, 1.7950e-7};
constexpr double kD[] = {1.727e-3, -7.9836e-6};

double ChenMillero(double s, double t, double pBar) {
  const double cw =
      ((Poly(kCw3, t) * pBar + Poly(kCw2, t)) * pBar + Poly(kCw1, t)) * pBar + Poly(kCw0, t);
  const double a =
      ((Poly(kA3, t) * pBar + Poly(kA2, t)) * pBar + Poly(kA1, t)) * pBar + Poly(kA0, t);
  const double b = Poly(kB0, t) + Poly(kB1, t) * pBar;
  const double d = Poly(kD, pBar);
  return cw + a * s + b * s * std::sqrt(s) + d * s * s;
}

// ---- del Grosso (1974), as published (NRL II) ----
constexpr double kC000 = 1402.392;
constexpr double kCT1 = 0.501109398873e1, kCT2 = -0.550946843172e-1, kCT3 = 0.221535969240e-3;
constexpr double kCS1 = 0.132952290781e1, kCS2 = 0.128955756844e-3;
constexpr double kCP1 = 0.156059257041e0, kCP2 = 0.244998688441e-4, kCP3 = -0.883392332513e-8;
constexpr double kCST = -0.127562783426e-1, kCTP = 0.635191613389e-2;
constexpr double kCT2P2 = 0.265484716608e-7, kCTP2 = -0.159349479045e-5;
constexpr double kCTP3 = 0.522116437235e-9, kCT3P = -0.438031096213e-6;
constexpr double kCS2P2 = -0.161674495909e-8, kCST2 = 0.968403156410e-4;
constexpr double kCS2TP = 0.485639620015e-5, kCSTP = -0.340597039004e-3;

double DelGrosso(double s, double t, double p) {
  const double dct = ((kCT3 * t + kCT2) * t + kCT1) * t;
  const double dcs = (kCS2 * s + kCS1) * s;
  const double dcp = ((kCP3 * p + kCP2) * p + kCP1) * p;
  const double dcstp = kCTP * t * p + kCT3P * t * t * t * p + kCTP2 * t * p * p +
                       kCT2P2 * t * t * p * p + kCTP3 * t * p * p * p + kCST * s * t +
                       kCST2 * s * t * t + kCSTP * s * t * p + kCS2TP * s * s * t * p +
                       kCS2P2 * s * s * p * p;
  return kC000 + dct + dcs + dcp + dcstp;
}

// ---- Wilson (1960), JASA 32, 1357: T (IPTS-68) in °C, P in kg/cm², S in ‰ ----
// The pressure coefficients are published for kg/cm²; they are rescaled here for MPa
// (coefficient × 10.19716^n for the n-th power of pressure). Wilson's p² and (S-35)² terms are
// positive.
constexpr double kK1 = kKgPerCm2PerMPa;
constexpr double kK2 = kK1 * kK1;
constexpr double kK3 = kK2 * kK1;
constexpr double kK4 = kK3 * kK1;
constexpr double kWilsonVt[] = {0.0, 4.5721, -4.4532e-2, -2.6045e-4, 7.9851e-6};
constexpr double kWilsonVp[] = {0.0, 1.60272e-1 * kK1, 1.0268e-5 * kK2, 3.5216e-9 * kK3,
                                -3.3603e-12 * kK4};
constexpr double kWilsonVs[] = {0.0, 1.39799, 1.69202e-3};

double Wilson(double s, double t68, double pMPa) {
  const double t = t68, p = pMPa, ds = s - 35.0;
  const double vt = Poly(kWilsonVt, t);
  const double vp = Poly(kWilsonVp, p);
  const double vs = Poly(kWilsonVs, ds);
  const double vstp =
      ds * (-1.1244e-2 * t + 7.7711e-7 * t * t + 7.7016e-5 * kK1 * p - 1.2943e-7 * kK2 * p * p +
            3.1580e-8 * kK1 * p * t + 1.5790e-9 * kK1 * p * t * t) +
      p * kK1 * (-1.8607e-4 * t + 7.4812e-6 * t * t + 4.5283e-8 * t * t * t) +
      p * p * kK2 * (-2.5294e-7 * t + 1.8563e-9 * t * t) + p * p * p * kK3 * (-1.9646e-10 * t);
  return 1449.14 + vt + vp + vs + vstp;
}

}  // namespace

bool IsMissingValue(double value) {
  return !(value > kDerivedMissing);
}

double Salinity78(double conductivityOrRatio, double temperature, double seaPressure,
                  SalinityMode mode) {
  if (AnyMissing({conductivityOrRatio, temperature, seaPressure})) return kDerivedMissing;
  const double t = kIpts68PerIts90 * temperature;
  const double p = seaPressure;
  double rt = conductivityOrRatio;
  if (mode == SalinityMode::Conductivity) {
    const double r = conductivityOrRatio / kStandardConductivity;
    const double rp =
        1.0 + p * Poly(kSalE, p) /
                  (1.0 + kSalD[0] * t + kSalD[1] * t * t + (kSalD[2] + kSalD[3] * t) * r);
    rt = r / (rp * Poly(kSalC, t));
  }
  const double root = std::sqrt(rt);
  const double dt = t - 15.0;
  const double ds = dt / (1.0 + kSalK * dt) * Poly(kSalB, root);
  return Finite(Poly(kSalA, root) + ds);
}

double DensityAnomaly(double salinity, double temperature, double seaPressure) {
  if (AnyMissing({salinity, temperature, seaPressure})) return kDerivedMissing;
  const double s = salinity, p = seaPressure;
  if (p < 0.0 || p > 10000.0 || s < 0.0 || s > 42.0 || temperature < -2.0 || temperature > 40.0) {
    return kDerivedMissing;
  }
  const double t = kIpts68PerIts90 * temperature;
  const double s15 = s * std::sqrt(s);
  const double rho0 = Poly(kRhoW, t) + s * Poly(kRhoS, t) + s15 * Poly(kRhoS15, t) + kRhoS2 * s * s;
  const double bar = p / 10.0;
  const double k0 = Poly(kKw, t) + s * Poly(kKS, t) + s15 * Poly(kKS15, t);
  const double a = Poly(kAw, t) + s * Poly(kAS, t) + kAS15 * s15;
  const double b = Poly(kBw, t) + s * Poly(kBS, t);
  const double k = k0 + (a + b * bar) * bar;
  return Finite(rho0 / (1.0 - bar / k) - 1000.0);
}

SoundSpeeds SpeedOfSound(double salinity, double temperature, double pressure) {
  SoundSpeeds out;
  if (AnyMissing({salinity, temperature, pressure}) || salinity < 0.0) return out;
  out.unesco = Finite(ChenMillero(salinity, temperature, pressure / 10.0));
  out.delGrosso = Finite(DelGrosso(salinity, temperature, pressure * kKgPerCm2PerDbar));
  out.wilson = Finite(Wilson(salinity, kIpts68PerIts90 * temperature, pressure / 100.0));
  return out;
}

double Depth(double pressure, double atmosphericPressure, DepthMethod method,
             double latitudeDegrees, double density) {
  if (AnyMissing({pressure, atmosphericPressure})) return kDerivedMissing;
  const double p = pressure - atmosphericPressure;
  if (method == DepthMethod::Simplified) return Finite(p / (density * 0.980665));
  const double sinPhi = std::sin(latitudeDegrees * 0.017453292519943);
  const double x = sinPhi * sinPhi;
  const double g = 9.780318 * (1.0 + (5.2788e-3 + 2.36e-5 * x) * x) + 1.092e-6 * p;
  return Finite(((((-1.82e-15 * p + 2.279e-10) * p - 2.2512e-5) * p + 9.72659) * p) / g);
}

double LatitudeDegrees(int degrees, double minutes) {
  const double magnitude = std::abs(static_cast<double>(degrees)) + std::abs(minutes) / 60.0;
  return degrees < 0 ? -magnitude : magnitude;
}

double OxygenFromSaturation(double saturationPercent, double temperature, double salinity,
                            OxygenUnit unit) {
  if (AnyMissing({saturationPercent, temperature, salinity})) return kDerivedMissing;
  const double tk = (kIpts68PerIts90 * temperature + 273.15) / 100.0;
  const double lnC = -173.4292 + 249.6339 / tk + 143.3483 * std::log(tk) - 21.8492 * tk +
                     salinity * (-0.033096 + 0.014259 * tk - 0.0017 * tk * tk);
  double c = std::exp(lnC) * saturationPercent / 100.0;
  if (unit == OxygenUnit::MgPerL) c *= 1.4276;
  if (unit == OxygenUnit::UMolPerL) c *= 44.659;
  return Finite(c);
}

double OptodeSaturation(double optodeConcentration, double temperature, double salinity) {
  if (AnyMissing({optodeConcentration, temperature, salinity})) return kDerivedMissing;
  static constexpr double kA[] = {2.00856, 3.224, 3.99063, 4.80299, 0.978188, 1.71069};
  static constexpr double kB[] = {-6.24097e-3, -6.93498e-3, -6.90358e-3, -4.29155e-3};
  const double ts = std::log((298.15 - temperature) / (273.15 + temperature));
  const double lnC = Poly(kA, ts) + salinity * Poly(kB, ts) - 3.1168e-7 * salinity * salinity;
  return Finite(optodeConcentration * 2.24114 / std::exp(lnC));
}

double OptodeConcentration(double optodeConcentration, OptodeUnit unit) {
  if (IsMissingValue(optodeConcentration)) return kDerivedMissing;
  return optodeConcentration * (unit == OptodeUnit::MlPerL ? 0.022392 : 0.031999);
}

double SpecificConductivity(double conductivity, double temperature) {
  if (AnyMissing({conductivity, temperature})) return kDerivedMissing;
  return Finite(conductivity / (1.0 + 0.0191 * (temperature - 25.0)));
}

double CorrectedConductivity(double conductivity, double temperature, double seaPressure,
                             const std::array<double, 4>& correction) {
  if (AnyMissing({conductivity, temperature, seaPressure})) return kDerivedMissing;
  const auto [a, b, tc, c] = correction;
  const double dt = temperature - tc;
  return Finite((conductivity - b * dt) / (1.0 + a * dt + c * seaPressure));
}

}  // namespace klx
