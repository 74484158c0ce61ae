#include "shell/limits_file.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace klx {
namespace {

using LimitsFileTest = test::TempDirTest;

const char* const kDefaultLimits =
    "Temperature=35 -5\n"
    "Pressure=30 0\n"
    "Conductivity=60 20\n"
    "DissolvedO2=100 0\n"
    "DerivedO2=300 0\n"
    "Voltage=5 0\n"
    "Turbidity=2500 0\n"
    "PAR=10000 0\n"
    "pH=14 0\n"
    "Fluorometry-C=70 0\n"
    "Fluorometry-R=70 0\n"
    "Fluorometry-UV=150 0\n"
    "Depth=150 0\n"
    "Salinity=60 40\n"
    "SOS=1600 1500\n"
    "Significant Wave Height=5 0\n"
    "Tidal Slope=1 0\n"
    "Transmissometer=10 0\n";

// Upper and lower limit of each named quantity, "absent" for names not in the table.
std::string Limits(const RealTimeLimits& limits, std::initializer_list<const char*> names) {
  std::string s;
  for (const char* name : names) {
    const auto* l = limits.Find(name);
    s += std::string(name) +
         (l ? "=" + std::to_string(l->upper) + " " + std::to_string(l->lower) : " absent") + ";";
  }
  return s;
}

TEST_F(LimitsFileTest, MissingFileIsWrittenWithTheDefaultsInOrder) {
  RealTimeLimits limits;
  ReadRealTimeLimits(Dir(), limits);
  EXPECT_EQ(ReadFile(Dir() / "klx.lim"), kDefaultLimits);
  EXPECT_EQ(limits.All().size(), 18u);
  EXPECT_EQ(Limits(limits, {"Temperature", "SOS", "Nothing"}),
            "Temperature=35 -5;SOS=1600 1500;Nothing absent;");
}

TEST_F(LimitsFileTest, ValuesAreReadBackAndBadLinesIgnored) {
  WriteFile(Dir() / "klx.lim",
            "Temperature=30 -2\nPressure=abc\nConductivity=70\nBogus=1 2\ngarbage\n" +
                std::string("\0\xff\x01=\n", 5) +
                "pH=12 2\r\nSOS=1550 1450\nFluorometry-C=80 1\nDepth= 200  -1\n"
                "Salinity=99999999999 1\n" +
                std::string(200, 'x') + "Voltage=9 9\n");
  RealTimeLimits limits;
  ReadRealTimeLimits(Dir(), limits);
  EXPECT_EQ(Limits(limits, {"Temperature", "Pressure", "Conductivity", "pH", "SOS", "Fluorometry-C",
                            "Fluorometry-R", "Depth", "Salinity", "Voltage"}),
            "Temperature=30 -2;Pressure=30 0;Conductivity=60 20;pH=12 2;SOS=1550 1450;"
            "Fluorometry-C=80 1;Fluorometry-R=70 0;Depth=200 -1;Salinity=60 40;Voltage=5 0;");
}

TEST_F(LimitsFileTest, RoundTrip) {
  RealTimeLimits limits;
  limits.Find("Turbidity")->upper = 100;
  limits.Find("Tidal Slope")->lower = -1;
  ASSERT_TRUE(WriteRealTimeLimits(Dir(), limits));
  RealTimeLimits back;
  ReadRealTimeLimits(Dir(), back);
  EXPECT_EQ(back.All(), limits.All());
  EXPECT_FALSE(WriteRealTimeLimits(Dir() / "missing", limits));
}

}  // namespace
}  // namespace klx
