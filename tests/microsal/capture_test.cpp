// The capture file: its header and rows, and when the automatic rows are written.
#include <gtest/gtest.h>

#include <algorithm>

#include "microsal/capture_file.h"
#include "shell/temp_dir.h"  // tests/shell

namespace klx {
namespace {

SystemTime At(int hour, int minute, int second, int ms = 0) {
  const auto u = [](int v) { return static_cast<uint16_t>(v); };
  return SystemTime{2026, 6, 1, 1, u(hour), u(minute), u(second), u(ms)};
}

MicrosalMeasurement SteadyMeasurement() {
  MicrosalMeasurement m(1);
  for (int i = 0; i < 6; ++i) {
    MicrosalReading r;
    r.temperature = 23.987;
    r.ratio = 0.99951 + 0.00002 * (i % 2);
    r.salinity = 34.98 + 0.0012 * (i % 2);
    m.Add(r);
  }
  return m;
}

TEST(MicrosalCapture, HeaderTextIsByteForByte) {
  LoggerState logger;
  logger.model = "HL-240", logger.firmware = 5.2f, logger.serial = 82001;
  MicrosalStandardization s;
  s.batch = "P165", s.k15 = 0.99993;
  const std::string expected =
      "KLX HL-240  5.20 082001 (Windows: 6.13)\n\n"
      "Bottle 7, deep station\n\n"
      "File opened at: 2026/06/01 09:05:07\n"
      "\nStandard Seawater Batch=P165, K15=0.99993\n\n"
      "Time                             Sample Temp_(90)  Ratio Rt  Salinity  standard  ave\n"
      "hh:mm:ss                    information degrees_C              PSS-78 deviation secs\n";
  EXPECT_EQ(SalHeaderText(MicrosalIdentityLine(logger), "Bottle 7, deep station",
                          At(9, 5, 7, 0), s),
            expected);
  // A comment of one character is left out with its blank line.
  const std::string noComment =
      SalHeaderText(MicrosalIdentityLine(logger), "x", At(9, 5, 7, 0), s);
  EXPECT_EQ(noComment.rfind("KLX HL-240  5.20 082001 (Windows: 6.13)\n\nFile opened at:", 0), 0u);
}

TEST(MicrosalCapture, RowTextIsByteForByte) {
  // The deviation of the six window means 34.98, 34.9806, 34.9804, 34.9806, 34.98048, 34.9806.
  const MicrosalMeasurement m = SteadyMeasurement();
  EXPECT_EQ(SalRowText(At(14, 3, 20, 0), "bottle 7 deep", m),
            "14:03:20                  bottle_7_deep     23.99   0.99952   34.9806   0.00023    1\n");
  // The information is cut at 30 characters.
  const std::string row = SalRowText(At(0, 0, 0, 0),
                                     "a very long sample description beyond thirty", m);
  EXPECT_EQ(row.substr(9, 31), "a_very_long_sample_description ");
}

using MicrosalCaptureFile = test::TempDirTest;

TEST_F(MicrosalCaptureFile, AutomaticRowsOnlyOnChangedSecondsDivisibleByTen) {
  SalCaptureFile file;
  const MicrosalMeasurement m = SteadyMeasurement();
  ASSERT_TRUE(file.Open(Dir() / "082001a.sal", "HEADER\n"));
  int written = 0;
  // Six records a second from 12:00:08 to 12:00:31.
  for (int second = 8; second < 32; ++second)
    for (int record = 0; record < 6; ++record)
      written += file.AutomaticRow(At(12, 0, second, record * 166), "", m);
  EXPECT_EQ(written, 3);  // 12:00:10, 12:00:20, 12:00:30
  // A minute later the same second is a new one.
  EXPECT_TRUE(file.AutomaticRow(At(12, 1, 30, 0), "", m));
  EXPECT_TRUE(file.SaveNow(At(12, 1, 33, 0), "", m));
  const std::string text = ReadFile(file.Path());
  EXPECT_EQ(text.rfind("HEADER\n12:00:10 ", 0), 0u);
  EXPECT_NE(text.find("\n12:01:33 "), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
  file.Close();
  EXPECT_FALSE(file.AutomaticRow(At(12, 2, 0, 0), "", m));
}

}  // namespace
}  // namespace klx
