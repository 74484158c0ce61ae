// The seawater formulas against the check values of their published sources. Inputs given on
// the IPTS-68 scale in a source are passed as T68 / 1.00024, the ITS-90 temperature the formulas
// take.
#include "derived/formulas.h"

#include <gtest/gtest.h>

#include <cmath>

namespace klx {
namespace {

constexpr double kT68 = 1.00024;
double Its90(double t68) {
  return t68 / kT68;
}

TEST(Salinity78, UnescoCheckValues) {
  // Fofonoff and Millard (1983), UNESCO Technical Paper 44: R, T68, p -> S.
  struct Case {
    double r, t68, p, s;
  };
  for (const Case& c : {Case{1.0, 15.0, 0.0, 35.0}, Case{1.2, 20.0, 2000.0, 37.245628},
                        Case{0.65, 5.0, 1500.0, 27.995347}, Case{1.888091, 40.0, 10000.0, 40.0}}) {
    EXPECT_NEAR(Salinity78(c.r * 42.914, Its90(c.t68), c.p), c.s, 2e-5) << c.r;
  }
  // Ratio mode: Rt = 1 at 15 °C (IPTS-68) is S = 35 whatever the pressure argument.
  EXPECT_NEAR(Salinity78(1.0, Its90(15.0), 0.0, SalinityMode::Ratio), 35.0, 1e-9);
  // Rt = 0.5 at 25 °C IPTS-68, by the PSS-78 polynomials written out.
  const double root = std::sqrt(0.5);
  const double a = 0.0080 - 0.1692 * root + 25.3851 * 0.5 + 14.0941 * 0.5 * root - 7.0261 * 0.25 +
                   2.7081 * 0.25 * root;
  const double b = 0.0005 - 0.0056 * root - 0.0066 * 0.5 - 0.0375 * 0.5 * root + 0.0636 * 0.25 -
                   0.0144 * 0.25 * root;
  EXPECT_NEAR(Salinity78(0.5, Its90(25.0), 0.0, SalinityMode::Ratio),
              a + 10.0 / (1.0 + 0.0162 * 10.0) * b, 1e-9);
}

TEST(Salinity78, MissingAndUnusableInputsGiveMissing) {
  EXPECT_EQ(Salinity78(-1000.0, 15.0, 0.0), kDerivedMissing);
  EXPECT_EQ(Salinity78(42.914, -1000.0, 0.0), kDerivedMissing);
  EXPECT_EQ(Salinity78(42.914, 15.0, -1000.0), kDerivedMissing);
  EXPECT_EQ(Salinity78(-1500.0, 15.0, 0.0), kDerivedMissing);
  // A negative conductivity has no square root: not a number, so missing.
  EXPECT_EQ(Salinity78(-5.0, 15.0, 0.0), kDerivedMissing);
  EXPECT_EQ(Salinity78(NAN, 15.0, 0.0), kDerivedMissing);
}

TEST(DensityAnomaly, Eos80CheckValues) {
  // UNESCO (1981) / UNESCO Technical Paper 44: rho(S, T68, p dbar).
  EXPECT_NEAR(DensityAnomaly(0.0, Its90(5.0), 0.0) + 1000.0, 999.96675, 1e-5);
  EXPECT_NEAR(DensityAnomaly(35.0, Its90(5.0), 0.0) + 1000.0, 1027.67547, 1e-5);
  EXPECT_NEAR(DensityAnomaly(35.0, Its90(25.0), 10000.0) + 1000.0, 1062.53817, 1e-5);
  EXPECT_NEAR(DensityAnomaly(35.0, 15.0, 0.0), 25.97, 0.005);
}

TEST(DensityAnomaly, OutsideTheRangeIsMissing) {
  EXPECT_GT(DensityAnomaly(35.0, 15.0, 10000.0), 0.0);
  EXPECT_EQ(DensityAnomaly(35.0, 15.0, 10001.0), kDerivedMissing);
  EXPECT_EQ(DensityAnomaly(35.0, 15.0, -0.5), kDerivedMissing);
  EXPECT_EQ(DensityAnomaly(42.1, 15.0, 0.0), kDerivedMissing);
  EXPECT_EQ(DensityAnomaly(-0.1, 15.0, 0.0), kDerivedMissing);
  EXPECT_EQ(DensityAnomaly(35.0, -2.1, 0.0), kDerivedMissing);
  EXPECT_EQ(DensityAnomaly(35.0, 40.1, 0.0), kDerivedMissing);
  EXPECT_GT(DensityAnomaly(42.0, -2.0, 0.0), 0.0);
  EXPECT_EQ(DensityAnomaly(-1000.0, 15.0, 0.0), kDerivedMissing);
}

TEST(SpeedOfSound, UnescoAgreesWithChenMilleroOnTheIpts68Scale) {
  // Wong and Zhu (1995) state their ITS-90 coefficients stay within 0.024 m/s of the original
  // equation. Chen and Millero check value: 1731.995 m/s at S 40, T68 40, 10 000 dbar; the
  // others from the UNESCO 1983 (IPTS-68) coefficients.
  struct Case {
    double s, t68, p, c;
  };
  for (const Case& c :
       {Case{40, 40, 10000, 1731.995}, Case{35, 0, 0, 1449.138828}, Case{35, 10, 1000, 1506.338153},
        Case{35, 2, 5000, 1542.661495}, Case{30, 25, 2000, 1562.497356}}) {
    EXPECT_NEAR(SpeedOfSound(c.s, Its90(c.t68), c.p).unesco, c.c, 0.024) << c.p;
  }
}

TEST(SpeedOfSound, DelGrossoAgreesWithTheWongZhuRevision) {
  // del Grosso (1974), S 30, 0 °C, 1.019716 kg/cm² (10 dbar): 1442.553 m/s.
  EXPECT_NEAR(SpeedOfSound(30.0, 0.0, 10.0).delGrosso, 1442.553, 5e-4);
  // Wong and Zhu (1995) ITS-90 coefficients, which differ from the original by at most
  // 0.017 m/s. A pressure-cubed coefficient of -0.8339e-8 (a circulating misprint) would miss
  // the deep cases by 0.4 m/s.
  struct Case {
    double s, t, p, c;
  };
  for (const Case& c : {Case{35, 0, 0, 1449.083403}, Case{35, 10, 1000, 1506.138201},
                        Case{35, 2, 5000, 1541.984182}, Case{30, 25, 200, 1532.262734},
                        Case{40, 30, 9000, 1700.383903}}) {
    EXPECT_NEAR(SpeedOfSound(c.s, c.t, c.p).delGrosso, c.c, 0.017) << c.p;
  }
}

TEST(SpeedOfSound, WilsonFollowsTheKgPerCm2Equation) {
  // Wilson (1960) evaluated in its own units (T68, kg/cm² = dbar × 0.1019716, ‰) with the
  // positive p² and (S-35)² terms; the negative forms would miss by up to 17 m/s here.
  struct Case {
    double s, t, p, c;
  };
  for (const Case& c : {Case{35, 0, 0, 1449.14}, Case{35, 10, 1000, 1506.553958},
                        Case{35, 2, 5000, 1542.375049}, Case{30, 25, 200, 1532.407479},
                        Case{37, 1, 9000, 1611.920064}, Case{20, 15, 100, 1490.790765}}) {
    EXPECT_NEAR(SpeedOfSound(c.s, c.t, c.p).wilson, c.c, 1e-5) << c.p;
  }
}

TEST(SpeedOfSound, TheThreeEquationsAgreeOverTheOceanicRange) {
  // Chen and Millero (1977): Wilson within 0.6 m/s, del Grosso within 0.9 m/s at most.
  for (const auto [s, t, p] : {std::array{35.0, 2.0, 5000.0}, std::array{35.0, 10.0, 1000.0},
                               std::array{34.5, 4.0, 2000.0}, std::array{35.0, 20.0, 100.0},
                               std::array{36.0, 15.0, 500.0}}) {
    const SoundSpeeds c = SpeedOfSound(s, t, p);
    EXPECT_NEAR(c.wilson, c.unesco, 0.6) << p;
    EXPECT_NEAR(c.delGrosso, c.unesco, 0.9) << p;
  }
  const SoundSpeeds missing = SpeedOfSound(35.0, -1000.0, 100.0);
  EXPECT_EQ(missing.unesco, kDerivedMissing);
  EXPECT_EQ(missing.delGrosso, kDerivedMissing);
  EXPECT_EQ(missing.wilson, kDerivedMissing);
  EXPECT_EQ(SpeedOfSound(-1000.0, 10.0, 100.0).unesco, kDerivedMissing);
}

TEST(Depth, UnescoTableOfDepthByLatitude) {
  // UNESCO Technical Paper 44: depth (m) at 10 000 and 500 dbar for latitudes 0..90°.
  const double atm = 10.1325;
  struct Case {
    double lat, p, z;
  };
  for (const Case& c : {Case{0, 10000, 9725.47}, Case{30, 10000, 9712.653},
                        Case{45, 10000, 9699.84}, Case{60, 10000, 9687.03},
                        Case{90, 10000, 9674.23}, Case{0, 500, 496.65}, Case{90, 500, 494.03}}) {
    EXPECT_NEAR(Depth(c.p + atm, atm, DepthMethod::Seawater, c.lat, 1.0281), c.z, 0.006) << c.lat;
  }
  EXPECT_NEAR(Depth(100.0 + atm, atm, DepthMethod::Simplified, 0.0, 1.0281), 99.18, 0.005);
  EXPECT_NEAR(Depth(50.0, 0.0, DepthMethod::Simplified, 0.0, 1.0), 50.0 / 0.980665, 1e-9);
  EXPECT_EQ(Depth(-1000.0, atm, DepthMethod::Seawater, 0.0, 1.0281), kDerivedMissing);
  EXPECT_EQ(Depth(-1000.0, atm, DepthMethod::Simplified, 0.0, 1.0281), kDerivedMissing);
}

TEST(Depth, SouthernLatitudeMinutesCountAwayFromTheEquator) {
  EXPECT_DOUBLE_EQ(LatitudeDegrees(30, 30.0), 30.5);
  EXPECT_DOUBLE_EQ(LatitudeDegrees(-30, 30.0), -30.5);
  EXPECT_DOUBLE_EQ(LatitudeDegrees(0, 45.0), 0.75);
  EXPECT_DOUBLE_EQ(Depth(5000.0, 10.0, DepthMethod::Seawater, LatitudeDegrees(-30, 30.0), 1.0),
                   Depth(5000.0, 10.0, DepthMethod::Seawater, 30.5, 1.0));
}

TEST(Oxygen, WeissAndGarciaGordonSolubilities) {
  // Air solubility at 100 % saturation: fresh water at 0 °C holds 10.22 ml/l in both fits; the
  // Weiss (1970) and Garcia and Gordon (1992) fits agree within 0.5 % over the oceanic range.
  EXPECT_NEAR(OxygenFromSaturation(100.0, 0.0, 0.0, OxygenUnit::MlPerL), 10.22, 0.01);
  EXPECT_NEAR(OptodeSaturation(10.22 / 0.0224114, 0.0, 0.0), 100.0, 0.1);
  for (const auto [t, s] : {std::array{0.0, 35.0}, std::array{10.0, 35.0}, std::array{20.0, 35.0},
                            std::array{25.0, 0.0}}) {
    const double weiss = OxygenFromSaturation(100.0, t, s, OxygenUnit::MlPerL);
    // The Optode concentration (µmol/l) that is Weiss's C* in ml/l.
    const double saturation = OptodeSaturation(weiss / 0.0224114, t, s);
    EXPECT_NEAR(saturation, 100.0, 0.5) << t;
  }
  const double ml = OxygenFromSaturation(80.0, 12.0, 34.0, OxygenUnit::MlPerL);
  EXPECT_NEAR(OxygenFromSaturation(80.0, 12.0, 34.0, OxygenUnit::MgPerL), ml * 1.4276, 1e-12);
  EXPECT_NEAR(OxygenFromSaturation(80.0, 12.0, 34.0, OxygenUnit::UMolPerL), ml * 44.659, 1e-9);
  EXPECT_NEAR(OxygenFromSaturation(40.0, 12.0, 34.0, OxygenUnit::MlPerL), ml / 2.0, 1e-12);
  EXPECT_EQ(OxygenFromSaturation(-1000.0, 12.0, 34.0, OxygenUnit::MlPerL), kDerivedMissing);
  EXPECT_EQ(OxygenFromSaturation(80.0, 12.0, -1000.0, OxygenUnit::MlPerL), kDerivedMissing);
  EXPECT_EQ(OptodeSaturation(250.0, -1000.0, 35.0), kDerivedMissing);
  EXPECT_NEAR(OptodeConcentration(250.0, OptodeUnit::MlPerL), 5.598, 1e-9);
  EXPECT_NEAR(OptodeConcentration(250.0, OptodeUnit::MgPerL), 7.99975, 1e-9);
  EXPECT_EQ(OptodeConcentration(-1000.0, OptodeUnit::MgPerL), kDerivedMissing);
}

TEST(Conductivity, SpecificAndCorrected) {
  EXPECT_DOUBLE_EQ(SpecificConductivity(50.0, 25.0), 50.0);
  EXPECT_NEAR(SpecificConductivity(40.0, 15.0), 40.0 / (1.0 - 0.191), 1e-12);
  EXPECT_EQ(SpecificConductivity(-1000.0, 15.0), kDerivedMissing);
  EXPECT_EQ(SpecificConductivity(40.0, -1000.0), kDerivedMissing);

  // Ccor = (C - b (T - Tc)) / (1 + a (T - Tc) + c p).
  const std::array<double, 4> abTcC{0.02, 0.5, 20.0, 1e-4};
  EXPECT_NEAR(CorrectedConductivity(40.0, 10.0, 100.0, abTcC), (40.0 + 5.0) / (1.0 - 0.2 + 0.01),
              1e-12);
  EXPECT_DOUBLE_EQ(CorrectedConductivity(40.0, 20.0, 0.0, abTcC), 40.0);
  EXPECT_EQ(CorrectedConductivity(40.0, -1000.0, 0.0, abTcC), kDerivedMissing);
  EXPECT_EQ(CorrectedConductivity(40.0, 10.0, -1000.0, abTcC), kDerivedMissing);
}

}  // namespace
}  // namespace klx
