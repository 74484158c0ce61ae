#include "shell/limits_file.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace klx {
namespace {

using LimitsFileTest = test::TempDirTest;

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

TEST_F(LimitsFileTest, MissingFileIsWrittenWithTheDefaultsBadLinesIgnoredAndRoundTrip) {
  RealTimeLimits limits;
  ReadRealTimeLimits(Dir(), limits);
  const std::string text = ReadFile(Dir() / "klx.lim");
  EXPECT_EQ(text.substr(0, 33), "Temperature=35 -5\nPressure=30 0\nC");
  EXPECT_NE(text.find("\nSalinity=60 40\nSOS=1600 1500\nSignificant Wave Height=5 0\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 37), "Tidal Slope=1 0\nTransmissometer=10 0\n");
  EXPECT_EQ(limits.All().size(), 18u);
  EXPECT_EQ(Limits(limits, {"Nothing"}), "Nothing absent;");

  WriteFile(Dir() / "klx.lim",
            "Temperature=30 -2\nPressure=abc\nConductivity=70\nBogus=1 2\n" +
                std::string("\0\xff\x01=\n", 5) + "pH=12 2\r\nDepth= 200  -1\n" +
                "Salinity=99999999999 1\n" + std::string(200, 'x') + "Voltage=9 9\n");
  ReadRealTimeLimits(Dir(), limits);
  EXPECT_EQ(Limits(limits, {"Temperature", "Pressure", "Conductivity", "pH", "Depth", "Salinity",
                            "Voltage"}),
            "Temperature=30 -2;Pressure=30 0;Conductivity=60 20;pH=12 2;Depth=200 -1;"
            "Salinity=60 40;Voltage=5 0;");

  limits.Find("Tidal Slope")->lower = -1;
  ASSERT_TRUE(WriteRealTimeLimits(Dir(), limits));
  RealTimeLimits back;
  ReadRealTimeLimits(Dir(), back);
  EXPECT_EQ(back.All(), limits.All());
  EXPECT_FALSE(WriteRealTimeLimits(Dir() / "missing", limits));
}

}  // namespace
}  // namespace klx
