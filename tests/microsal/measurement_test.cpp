// The per-record update: salinity, the averaging window, the history and the settled indicator.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "derived/derived.h"
#include "derived/formulas.h"
#include "microsal/measurement.h"
#include "microsal/standardization.h"
#include "records/data_set.h"

namespace klx {
namespace {

int32_t Raw(double x) {
  return static_cast<int32_t>(std::lround(x * 16777216.0));
}

CalibrationCoefficients Coefficients() {
  CalibrationCoefficients cal;
  MicrosalStandardization s;
  s.standardZero = 0.25, s.sampleZero = 0.125, s.alpha = 1.05;  // zeros a raw count can meet
  ApplyToCoefficients(s, cal);
  cal.coef[1] = {0.0035, -0.00025, 2.7e-06, 2.3e-08};
  return cal;
}

MicrosalReading Reading(double salinity) {
  return MicrosalReading{24.0, 0, 0, 1.0, salinity};
}

TEST(MicrosalSalinity, NegativeZeroStandardAndNanRatiosGiveZero) {
  const CalibrationCoefficients cal = Coefficients();
  struct Case { const char* name; double sample, standard, ratio; };  // ratio: the Rt kept
  const Case cases[] = {
      {"standard below its zero point", 0.5, 0.2, -(1.05 * 0.375) / 0.05},
      {"standard exactly at its zero point", 0.5, 0.25, 0.0},
      {"both cells at their zero points", 0.125, 0.25, 0.0},
  };
  MicrosalMeasurement m(1);
  for (const Case& c : cases) {
    const MicrosalReading r = ConvertMicrosalRecord({Raw(c.sample), Raw(0.4), Raw(c.standard)}, cal);
    EXPECT_EQ(r.salinity, 0.0) << c.name;
    EXPECT_NEAR(r.ratio, c.ratio, 1e-3) << c.name;  // finite
    m.Add(r);
  }
  EXPECT_EQ(MicrosalSalinity(std::nan(""), 15.0), 0.0);
  EXPECT_EQ(MicrosalSalinity(1.0, kDerivedMissing), 0.0);
  EXPECT_TRUE(std::isfinite(m.Means().ratio));  // none reaches the means as NaN
  EXPECT_EQ(m.Means().salinity, 0.0);
}

TEST(MicrosalSalinity, RatioModeMeetsPss78CheckValues) {
  // Rt = 1 at 15 °C (IPTS-68) is salinity 35 by definition; the UNESCO 1983 check value
  // S = 40 at R = 1.888091, 40 °C (IPTS-68), 10000 dbar has Rt = 1.1247386 at zero pressure.
  EXPECT_NEAR(MicrosalSalinity(1.0, 15.0 / 1.00024), 35.0, 1e-4);
  EXPECT_NEAR(MicrosalSalinity(1.1247385896, 40.0 / 1.00024), 40.0, 1e-4);
}

TEST(MicrosalSalinity, RetrievedHl240SalinityChannelUsesTheRatio) {
  DataSet data;
  data.logger.model = "HL-240", data.logger.channelTypes = "CTC";
  data.logger.channelCount = data.channelCount = data.samplesPerChannel = 3;
  data.logger.standardChannels = false;
  // Sample cell, temperature, standard cell: Rt = 0.5623693 / 0.5, the check value's ratio at
  // 40 °C (IPTS-68); then a standard reading of zero and a missing one.
  data.series = {{0.5623693f, 0.5f, 0.5f, 0, 0}, {float(40.0 / 1.00024), 15.0f, 15.0f, 0, 0},
                 {0.5f, 0.0f, -1000.0f, 0, 0}};
  DerivedSettings settings;
  settings.salinityOn = true;
  const DerivedAllocation a = AllocateDerivedChannels(data, settings);
  ASSERT_GE(a.channels.salinity, 0);
  RecomputeDerived(data, a.channels, settings);
  const auto& s = data.series[static_cast<size_t>(a.channels.salinity)];
  EXPECT_NEAR(s[0], 40.0, 5e-4);
  EXPECT_EQ(s[1], kMissingValue);
  EXPECT_EQ(s[2], kMissingValue);
}

TEST(MicrosalMeasurement, ShorteningTheWindowKeepsTheNewestReadingsAtOnce) {
  MicrosalMeasurement m(30);
  for (int i = 0; i < 200; ++i) m.Add(Reading(30.0 + i));
  EXPECT_EQ(m.Held(), 180);
  m.SetAveragingSeconds(5);
  ASSERT_EQ(m.Held(), 30);
  EXPECT_EQ(m.Values(MicrosalMeasurement::kSalinity).front(), 30.0 + 170);
  EXPECT_EQ(m.Values(MicrosalMeasurement::kSalinity).back(), 30.0 + 199);
  EXPECT_DOUBLE_EQ(m.Means().salinity, 30.0 + 184.5);
}

TEST(MicrosalMeasurement, AveragingFieldIsClampedToOneToSixty) {
  for (const auto& [text, seconds] : std::vector<std::pair<std::string, int>>{
           {"0", 1}, {"1", 1}, {"60", 60}, {"61", 60}, {"99999999999999", 60}, {"abc", 1}})
    EXPECT_EQ(ParseAveragingSeconds(text), seconds) << text;
}

TEST(MicrosalMeasurement, StandardDeviationMatchesATwoPassReference) {
  const std::vector<std::vector<double>> sets = {
      {35.0012, 35.0008, 35.0015, 34.9991, 35.0003, 35.0020},
      {12.5},
  };
  for (const auto& v : sets) {
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
    double ss = 0;
    for (double x : v) ss += (x - mean) * (x - mean);
    const double reference = v.size() > 1 ? std::sqrt(ss / double(v.size() - 1)) : 0.0;
    EXPECT_NEAR(OnePassStandardDeviation(v.data(), int(v.size())), reference, 1e-9);
  }
  // Equal values large enough for the one-pass sums to cancel badly never go below 0 or NaN.
  const std::vector<double> flat(360, 35.12345678901);
  const double sd = OnePassStandardDeviation(flat.data(), int(flat.size()));
  EXPECT_GE(sd, 0.0);
  EXPECT_LT(sd, 1e-5);
}

TEST(MicrosalMeasurement, SettledNeedsAFlatLineAndANarrowSpread) {
  const struct { const char* name; double slope, spread; bool settled; } cases[] = {
      {"flat and narrow", 0.0, 0.0015, true},
      {"slope just below the limit", 0.00039, 0.0, false},  // ends 0.0057 from the middle
      {"spread beyond 0.002", 0.0, 0.0025, false},
  };
  for (const auto& c : cases) {
    std::vector<double> h;
    for (int i = 0; i < 30; ++i) h.push_back(35.0 + c.slope * i + ((i % 2) ? c.spread : -c.spread));
    EXPECT_EQ(HistorySettled(FitHistory(h.data(), 30), 30, 30), c.settled) << c.name;
  }
  // The slope limit alone, on lines without scatter: 0.0005 per entry settles never, 0.0003 does.
  std::vector<double> steep = {35.0, 35.0005, 35.0010};
  EXPECT_FALSE(HistorySettled(FitHistory(steep.data(), 3), 3, 3));
  std::vector<double> gentle = {35.0, 35.0003, 35.0006};
  EXPECT_TRUE(HistorySettled(FitHistory(gentle.data(), 3), 3, 3));
  EXPECT_NEAR(FitHistory(gentle.data(), 3).slope, 0.0003, 1e-12);
}

// Settled judges the whole history: not before a window of it, nor while it still drifts.
TEST(MicrosalMeasurement, SettledJudgesTheWholeHistory) {
  MicrosalMeasurement m(1);  // six readings
  for (int i = 0; i < 5; ++i) m.Add(Reading(35.0 + 0.0001 * (i % 2)));
  EXPECT_FALSE(m.Settled());  // history of 5 < W
  m.Add(Reading(35.0));
  EXPECT_TRUE(m.Settled());
  m.Add(Reading(36.0));  // a jump: settling again
  EXPECT_FALSE(m.Settled());
  m.Clear();
  for (int i = 0; i < 60; ++i) m.Add(Reading(34.0 + i / 60.0));
  for (int i = 0; i < 30; ++i) m.Add(Reading(35.0));
  EXPECT_DOUBLE_EQ(m.StandardDeviation(), 0.0);
  EXPECT_LT(m.Fit().minimum, 34.1);
  EXPECT_FALSE(m.Settled());
}

}  // namespace
}  // namespace klx
