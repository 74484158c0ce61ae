// The seawater formulas against the check values of their published sources. Inputs given on
// the IPTS-68 scale are passed as T68 / 1.00024, the ITS-90 temperature the formulas take.
#include "derived/formulas.h"

#include <gtest/gtest.h>

#include <cmath>

namespace klx {
namespace {

double Its90(double t68) { return t68 / 1.00024; }

struct Case { double s, t, p, expected; };

TEST(Salinity78, UnescoCheckValues) {
  // Fofonoff and Millard (1983), UNESCO Technical Paper 44: R, T68, p -> S.
  for (const Case& c : {Case{1.0, 15.0, 0.0, 35.0}, Case{1.2, 20.0, 2000.0, 37.245628},
                        Case{0.65, 5.0, 1500.0, 27.995347}, Case{1.888091, 40.0, 10000.0, 40.0}}) {
    EXPECT_NEAR(Salinity78(c.s * 42.914, Its90(c.t), c.p), c.expected, 2e-5) << c.s;
  }
  // Ratio mode: Rt = 1 at 15 °C (IPTS-68) is S = 35 whatever the pressure argument.
  EXPECT_NEAR(Salinity78(1.0, Its90(15.0), 0.0, SalinityMode::Ratio), 35.0, 1e-9);
}

TEST(DensityAnomaly, Eos80CheckValuesAndRange) {
  // UNESCO (1981) / UNESCO Technical Paper 44: rho(S, T68, p dbar).
  for (const Case& c :
       {Case{0, 5, 0, 999.96675}, Case{35, 5, 0, 1027.67547}, Case{35, 25, 10000, 1062.53817}}) {
    EXPECT_NEAR(DensityAnomaly(c.s, Its90(c.t), c.p) + 1000.0, c.expected, 1e-5) << c.t;
  }
  // The edges of the range are inside it.
  EXPECT_GT(DensityAnomaly(35.0, 15.0, 10000.0), 0.0);
  EXPECT_GT(DensityAnomaly(42.0, -2.0, 0.0), 0.0);
}

TEST(SpeedOfSound, EachEquationAgainstItsSources) {
  // Chen and Millero check value 1731.995 m/s (S 40, T68 40, 10 000 dbar), the others from the
  // UNESCO 1983 (IPTS-68) coefficients; Wong and Zhu (1995) keep within 0.024 m/s of them.
  for (const Case& c :
       {Case{40, 40, 10000, 1731.995}, Case{35, 0, 0, 1449.138828}, Case{35, 10, 1000, 1506.338153},
        Case{35, 2, 5000, 1542.661495}, Case{30, 25, 2000, 1562.497356}}) {
    EXPECT_NEAR(SpeedOfSound(c.s, Its90(c.t), c.p).unesco, c.expected, 0.024) << c.p;
  }
  // del Grosso (1974), S 30, 0 °C, 1.019716 kg/cm² (10 dbar): 1442.553 m/s; the others from the
  // Wong and Zhu ITS-90 coefficients (within 0.017 m/s). A pressure-cubed coefficient of
  // -0.8339e-8 (a circulating misprint) would miss the deep cases by 0.4 m/s.
  EXPECT_NEAR(SpeedOfSound(30.0, 0.0, 10.0).delGrosso, 1442.553, 5e-4);
  for (const Case& c : {Case{35, 0, 0, 1449.083403}, Case{35, 10, 1000, 1506.138201},
                        Case{35, 2, 5000, 1541.984182}, Case{30, 25, 200, 1532.262734},
                        Case{40, 30, 9000, 1700.383903}}) {
    EXPECT_NEAR(SpeedOfSound(c.s, c.t, c.p).delGrosso, c.expected, 0.017) << c.p;
  }
  // Wilson (1960) in its own units (T68, kg/cm² = dbar × 0.1019716, ‰) with the positive p² and
  // (S-35)² terms; the negative forms would miss by up to 17 m/s here.
  for (const Case& c : {Case{35, 0, 0, 1449.14}, Case{35, 10, 1000, 1506.553958},
                        Case{35, 2, 5000, 1542.375049}, Case{30, 25, 200, 1532.407479},
                        Case{37, 1, 9000, 1611.920064}, Case{20, 15, 100, 1490.790765}}) {
    EXPECT_NEAR(SpeedOfSound(c.s, c.t, c.p).wilson, c.expected, 1e-5) << c.p;
  }
}

TEST(Depth, UnescoTableOfDepthByLatitude) {
  // UNESCO Technical Paper 44: depth (m) at 10 000 and 500 dbar for latitudes 0..90°.
  const double atm = 10.1325;
  for (const Case& c :
       {Case{0, 0, 10000, 9725.47}, Case{30, 0, 10000, 9712.653}, Case{45, 0, 10000, 9699.84},
        Case{60, 0, 10000, 9687.03}, Case{90, 0, 10000, 9674.23}, Case{0, 0, 500, 496.65},
        Case{90, 0, 500, 494.03}}) {
    EXPECT_NEAR(Depth(c.p + atm, atm, DepthMethod::Seawater, c.s, 1.0281), c.expected, 0.006)
        << c.s;
  }
  EXPECT_NEAR(Depth(100.0 + atm, atm, DepthMethod::Simplified, 0.0, 1.0281), 99.18, 0.005);
  // Southern minutes count away from the equator.
  EXPECT_DOUBLE_EQ(LatitudeDegrees(-30, 30.0), -30.5);
  EXPECT_DOUBLE_EQ(Depth(5000.0, 10.0, DepthMethod::Seawater, -30.5, 1.0),
                   Depth(5000.0, 10.0, DepthMethod::Seawater, 30.5, 1.0));
}

TEST(Oxygen, WeissAndGarciaGordonSolubilities) {
  // Air solubility at 100 % saturation: fresh water at 0 °C holds 10.22 ml/l in both fits; the
  // Weiss (1970) and Garcia and Gordon (1992) fits agree within 0.5 % over the oceanic range.
  EXPECT_NEAR(OxygenFromSaturation(100.0, 0.0, 0.0, OxygenUnit::MlPerL), 10.22, 0.01);
  EXPECT_NEAR(OptodeSaturation(10.22 / 0.0224114, 0.0, 0.0), 100.0, 0.1);
  for (const auto [t, s] : {std::array{0.0, 35.0}, std::array{10.0, 35.0}, std::array{20.0, 35.0},
                            std::array{25.0, 0.0}}) {
    // The Optode concentration (µmol/l) that is Weiss's C* in ml/l.
    const double weiss = OxygenFromSaturation(100.0, t, s, OxygenUnit::MlPerL);
    EXPECT_NEAR(OptodeSaturation(weiss / 0.0224114, t, s), 100.0, 0.5) << t;
  }
  const double ml = OxygenFromSaturation(80.0, 12.0, 34.0, OxygenUnit::MlPerL);
  EXPECT_NEAR(OxygenFromSaturation(80.0, 12.0, 34.0, OxygenUnit::MgPerL), ml * 1.4276, 1e-12);
  EXPECT_NEAR(OxygenFromSaturation(80.0, 12.0, 34.0, OxygenUnit::UMolPerL), ml * 44.659, 1e-9);
}

TEST(Conductivity, SpecificAndCorrected) {
  EXPECT_NEAR(SpecificConductivity(40.0, 15.0), 40.0 / (1.0 - 0.191), 1e-12);
  // Ccor = (C - b (T - Tc)) / (1 + a (T - Tc) + c p).
  const std::array<double, 4> abTcC{0.02, 0.5, 20.0, 1e-4};
  EXPECT_NEAR(CorrectedConductivity(40.0, 10.0, 100.0, abTcC), (40.0 + 5.0) / (1.0 - 0.2 + 0.01),
              1e-12);
}

// Every value given is the missing value.
void ExpectMissing(std::initializer_list<double> values) {
  for (const double v : values) EXPECT_EQ(v, kDerivedMissing) << "case " << &v - values.begin();
}

TEST(DerivedFormulas, MissingUnusableAndOutOfRangeInputsGiveMissing) {
  // A negative conductivity has no square root; NAN is not a number; density has its range. (A
  // missing temperature through every formula is checked on the derived channels.)
  ExpectMissing({Salinity78(-5.0, 15.0, 0.0), Salinity78(NAN, 15.0, 0.0),
                 DensityAnomaly(35.0, 15.0, 10001.0), DensityAnomaly(35.0, 15.0, -0.5),
                 DensityAnomaly(42.1, 15.0, 0.0), DensityAnomaly(-0.1, 15.0, 0.0),
                 DensityAnomaly(35.0, -2.1, 0.0), DensityAnomaly(35.0, 40.1, 0.0),
                 Depth(-1000.0, 10.0, DepthMethod::Seawater, 0.0, 1.0281),
                 Depth(-1000.0, 10.0, DepthMethod::Simplified, 0.0, 1.0281),
                 OxygenFromSaturation(-1000.0, 12.0, 34.0, OxygenUnit::MlPerL),
                 OptodeSaturation(250.0, -1000.0, 35.0),
                 OptodeConcentration(-1000.0, OptodeUnit::MgPerL)});
}

}  // namespace
}  // namespace klx
