// Two-point calibration (statistics, unwrapping, fit, write) and the certificate's page content.
#include "calibration/two_point.h"

#include <gtest/gtest.h>

#include "calibration/certificate.h"
#include "calibration/read.h"
#include "calibration/sim_link_fixture.h"
#include "shell/datetime.h"

namespace klx::test {
namespace {

TEST(TwoPoint, StatisticsLeaveMissingReadingsOut) {
  // Mean and sample standard deviation of the six readings from NumPy (ddof=1).
  const std::vector<float> series = {0.41f, kMissingValue, 0.4125f, 0.409f, 0.4111f, 0.4102f,
                                     0.4133f, 0.9f};
  const ReadingStatistics s = StatisticsOf(series, 0, 7);
  EXPECT_EQ(s.count, 6);
  EXPECT_NEAR(s.mean, 0.41101666788260144, 1e-12);
  EXPECT_NEAR(s.standardDeviation, 0.001624088690795622, 1e-12);
  EXPECT_EQ(StatisticsOf(series, 1, 2).count, 0);
  EXPECT_EQ(StatisticsOf(series, 7, 100).standardDeviation, 0.0);  // one reading, clamped end
}

TEST(TwoPoint, FitUnwrapsBothReadings) {
  const struct {
    double r1, r2, v1, v2;
    uint32_t rangeClass;
    double c0, c1;  // worked by hand
    bool valid;
  } cases[] = {
      {0.2, 0.6, 0, 100, 0, -50, 250, true},
      {0.995, 0.995, 0, 10, 2, 0, 0, false},      // equal readings: no slope
      {0.875, 0.125, 0, 10, 1, 5, 40, true},      // 0.875 wraps to -0.125
      {0.874, 0.125, 0, 10, 1, 11.66889, -13.35113, true},
      {0.995, 0.999, 0, 4, 2, 5, 1000, true},  // both wrap: -0.005 and -0.001
  };
  for (const auto& c : cases) {
    const TwoPointFit fit = FitTwoPoints(c.r1, c.r2, c.v1, c.v2, c.rangeClass);
    EXPECT_EQ(fit.valid, c.valid) << c.r1 << " " << c.r2;
    if (!c.valid) continue;
    EXPECT_NEAR(fit.c0, c.c0, 1e-3) << c.r1 << " " << c.r2;
    EXPECT_NEAR(fit.c1, c.c1, 1e-3) << c.r1 << " " << c.r2;
  }
}

TEST(TwoPoint, RefusedWithoutRawPolynomialData) {
  DataSet data;
  EXPECT_NE(TwoPointRefusal(data, 0, 'P', true).find("No raw data"), std::string::npos);
  data.logger.channelCount = data.channelCount = 2;
  data.samplesPerChannel = 3;
  data.series.assign(2, std::vector<float>(5, 0.5f));
  EXPECT_EQ(TwoPointRefusal(data, 1, 'P', true), "");
  EXPECT_NE(TwoPointRefusal(data, 1, 'P', false).find("converted mode"), std::string::npos);
  EXPECT_EQ(TwoPointRefusal(data, 2, 'P', true),
            "Two-point calibration not available on this channel");
}

// The fit goes to the logger only when the data came from it.
TEST(TwoPoint, WritesOnlyToTheLoggerTheDataCameFrom) {
  SimLinkFixture f("NMJ-7400");
  ASSERT_TRUE(f.Connect());
  CalibrationCoefficients cal;
  const TwoPointFit fit = FitTwoPoints(0.2, 0.6, 0, 100, 0);
  EXPECT_EQ(WriteTwoPoint(f.logger, cal, f.logger.state.serial + 1, 1, fit),
            CalibrationWrite::Failed);
  EXPECT_EQ(f.Heard("U0"), 0);

  EXPECT_EQ(WriteTwoPoint(f.logger, cal, f.logger.state.serial, 1, fit), CalibrationWrite::Written);
  CalibrationCoefficients back;
  ASSERT_EQ(ReadCalibration(f.logger, back), CalibrationRead::Succeeded);
  EXPECT_EQ(back.coef[1], (std::array<double, 4>{fit.c0, fit.c1, 0, 0}));
}

std::vector<std::string> Texts(const CertificatePage& page) {
  std::vector<std::string> out;
  for (const auto& item : page.items) out.push_back(item.text);
  return out;
}

TEST(Certificate, PageFromHistoryFiles) {
  const SystemTime today = MakeSystemTime(2026, 3, 5, 9, 0, 0);
  const std::string wide =
      "  2:   1.234567890123457e+07   2.000000000000000e+00   0.000000000000000e+00   "
      "0.000000000000000e+00 ";
  const std::vector<std::string> linear = {
      "KLX Data Logger: NMJ-7400  6.10 071342", "", "2026/Mar/20 15:30:00",
      "  1: 0.003500000000000 -0.000250000000000 0.000002700000000 0.000000023000000 ", wide, "",
      "2025/Mar/20 15:30:00", "  1: 0.1 0.2 0.3 0.4 "};
  const CertificatePage page = BuildCertificate(linear, "NMJ-7400", 71342, true, today);
  const auto texts = Texts(page);
  EXPECT_EQ(texts[2], "Logger ID: NMJ-7400   Serial No: 71342");
  // The first record only, the 101-character line split after its 40th character.
  const size_t split = wide.find(' ', 40);
  const std::vector<std::string> body(texts.begin() + 3, texts.end() - 3);
  EXPECT_EQ(body, (std::vector<std::string>{"", linear[2], linear[3], wide.substr(0, split),
                                            wide.substr(split + 1)}));
  EXPECT_EQ(texts[texts.size() - 2], "5/Mar/2026");

  // Other loggers: from the last date line to the end; no file: no body.
  const std::vector<std::string> multi = {"KLX Data Logger: VS-330  4.30 040211", "",
                                          "2025/Feb/10 10:15:00", "  1: 1 2 3 4 ", "",
                                          "2026/Feb/10 10:15:00", "  1: 5 6 7 8 "};
  const auto others = Texts(BuildCertificate(multi, "VS-330", 40211, false, today));
  EXPECT_EQ(std::vector<std::string>(others.begin() + 3, others.end() - 3),
            (std::vector<std::string>{"2026/Feb/10 10:15:00", "  1: 5 6 7 8 "}));
  EXPECT_EQ(BuildCertificate(std::nullopt, "VS-330", 40211, false, today).items.size(), 6u);
}

}  // namespace
}  // namespace klx::test
