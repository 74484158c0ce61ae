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

TEST_F(LimitsFileTest, MissingFileIsWrittenWithTheDefaultsInOrder) {
  RealTimeLimits limits;
  ReadRealTimeLimits(Dir(), limits);
  EXPECT_EQ(ReadFile(Dir() / "klx.lim"), kDefaultLimits);
  ASSERT_EQ(limits.All().size(), 18u);
  EXPECT_EQ(limits.Find("Temperature")->upper, 35);
  EXPECT_EQ(limits.Find("Temperature")->lower, -5);
  EXPECT_EQ(limits.Find("SOS")->upper, 1600);
  EXPECT_EQ(limits.Find("SOS")->lower, 1500);
  EXPECT_EQ(limits.Find("Nothing"), nullptr);
}

TEST_F(LimitsFileTest, ValuesAreReadBackAndBadLinesIgnored) {
  WriteFile(Dir() / "klx.lim",
            "Temperature=30 -2\n"
            "Pressure=abc\n"
            "Conductivity=70\n"
            "Bogus=1 2\n"
            "garbage\n" +
                std::string("\0\xff\x01=\n", 5) +
                "pH=12 2\r\n"
                "SOS=1550 1450\n"
                "Fluorometry-C=80 1\n"
                "Depth= 200  -1\n"
                "Salinity=99999999999 1\n" +
                std::string(200, 'x') + "Voltage=9 9\n");
  RealTimeLimits limits;
  ReadRealTimeLimits(Dir(), limits);
  EXPECT_EQ(limits.Find("Temperature")->upper, 30);
  EXPECT_EQ(limits.Find("Temperature")->lower, -2);
  EXPECT_EQ(limits.Find("Pressure")->upper, 30);
  EXPECT_EQ(limits.Find("Conductivity")->upper, 60);
  EXPECT_EQ(limits.Find("Conductivity")->lower, 20);
  EXPECT_EQ(limits.Find("pH")->upper, 12);
  EXPECT_EQ(limits.Find("pH")->lower, 2);
  EXPECT_EQ(limits.Find("SOS")->upper, 1550);
  EXPECT_EQ(limits.Find("Fluorometry-C")->upper, 80);
  EXPECT_EQ(limits.Find("Fluorometry-R")->upper, 70);
  EXPECT_EQ(limits.Find("Depth")->upper, 200);
  EXPECT_EQ(limits.Find("Depth")->lower, -1);
  EXPECT_EQ(limits.Find("Salinity")->upper, 60);
  EXPECT_EQ(limits.Find("Voltage")->upper, 5);
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
