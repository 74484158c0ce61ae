// Reading the calibration coefficients from simulated loggers of each generation.
#include "calibration/read.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <tuple>

#include "calibration/sim_link_fixture.h"
#include "shell/status.h"

namespace klx::test {
namespace {

using Row = std::array<double, 4>;
constexpr Row kThermistor = {0.0035, -0.00025, 2.7e-06, 2.3e-08};
constexpr Row kLinear = {0.0, 1.0, 0.0, 0.0};
constexpr Row kNoCorrection = kLinear;

std::vector<uint8_t> DoubleBytes(const Row& row) {
  std::vector<uint8_t> out;
  for (double v : row) {
    const auto bits = std::bit_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  }
  return out;
}


// The record chain is read to its end: a record appended at offset 105 becomes the current one.
TEST(ReadCalibrationMultiChannel, TheLastOfSeveralRecordsIsCurrent) {
  SimLinkFixture f("VS-330");
  ASSERT_TRUE(f.Connect());
  CalibrationCoefficients cal;
  cal.conductivityCorrection = {1, 2, 3, 4};  // left over from another logger
  EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Succeeded);
  EXPECT_EQ(cal.coef[2], (Row{0, 72300, 100, 0}));
  EXPECT_EQ(cal.calibrationDate, (std::array<int, 6>{26, 2, 10, 10, 15, 0}));
  EXPECT_EQ(cal.nextRecordOffset, 6 + 3 * 33);
  EXPECT_EQ(cal.conductivityCorrection, kNoCorrection);
  EXPECT_FALSE(f.logger.state.calibrationStale);

  const std::vector<Row> rows = {{0.1, 0.2, 0.3, 0.4}, {-1, 2, -3, 4}, {5, 6, 7, 8}};
  int offset = 105;
  f.link.LinkWriteText(Format("!C%02X%02X%02X", offset & 0xFF, offset >> 8, 6) + "260301080910");
  offset += 6;
  for (const Row& row : rows) {
    f.link.WaitMilliseconds(100);
    std::string text = Format("!C%02X%02X%02X", offset & 0xFF, offset >> 8, 32);
    for (uint8_t b : DoubleBytes(row)) text += Format("%02X", b);
    f.link.LinkWriteText(text);
    offset += 33;
  }
  f.link.WaitMilliseconds(100);
  cal.calibrationReadNeeded = true;
  EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Succeeded);
  for (size_t n = 0; n < 3; ++n) EXPECT_EQ(cal.coef[n], rows[n]) << n;
  EXPECT_EQ(cal.calibrationDate, (std::array<int, 6>{26, 3, 1, 8, 9, 10}));
  EXPECT_EQ(cal.nextRecordOffset, 2 * 105);

  // A verifying walk matches the table it just read, and not a table that differs.
  auto verify = [&, r = RecordRead::More]() mutable {
    for (cal.nextRecordOffset = 0, r = RecordRead::More; r == RecordRead::More;)
      r = ReadCalibrationRecord(f.logger, cal, true);
    return r;
  };
  EXPECT_EQ(verify(), RecordRead::Last);
  cal.coef[2][3] = 8.5;
  EXPECT_EQ(verify(), RecordRead::Failed);
  EXPECT_EQ(cal.coef[2][3], 8.5);  // verifying never writes the table
}

TEST(ReadCalibrationMultiChannel, BadSumsAreRetriedUpToTheFifthAttempt) {
  SimLinkFixture f("VS-330");
  ASSERT_TRUE(f.Connect());
  f.simLogger->FailNextChecks(4);
  CalibrationCoefficients cal;
  const int64_t before = f.clock.MonotonicMs();
  EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Succeeded);
  EXPECT_GE(f.clock.MonotonicMs() - before, 4 * 500);  // the wait before each repeat
  EXPECT_EQ(cal.coef[1], (Row{-10.2, 1012.5, 0, 0}));
}


// A silent logger is asked again, one that answers with something else is not.
TEST(ReadCalibrationLinear, ReadsEveryChannelAndRepeatsOnlyWhenTheLoggerSaysNothing) {
  SimLinkFixture f("NMJ-7400");
  ASSERT_TRUE(f.Connect());
  f.simLogger->SilenceNextCommands(2);
  CalibrationCoefficients cal;
  EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Succeeded);
  EXPECT_EQ(f.Heard("V000000"), 3);
  EXPECT_EQ(cal.coef[0], kThermistor);
  EXPECT_EQ(cal.coef[1], (Row{-10.13, 1010.2, 0.3, 0}));
  EXPECT_EQ(cal.calibrationDate, (std::array<int, 6>{26, 3, 20, 15, 30, 0}));
  EXPECT_EQ(f.Heard("V000002"), 1);
  EXPECT_EQ(f.Heard("R0600"), 0);  // no conductivity-correction capability
  cal.calibrationReadNeeded = true;
  f.simLogger->AnswerUnknown("V000002");
  EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Failed);
  EXPECT_EQ(f.Heard("V000002"), 2);
  EXPECT_EQ(cal.coef[1], kLinear);
}

sim::SimProfile& WithConductivityCorrection(sim::SimProfile& p, std::vector<uint8_t> table06) {
  p.channels = {{'T', 0}, {'P', 1}, {'S', 0}};
  p.capabilities[8] = 0x18;
  p.calibration[2] = {0.5, 0.25, 0, 0};
  p.tables[6] = std::move(table06);
  return p;
}

std::vector<uint8_t> CorrectionTable(uint8_t kind, const Row& row) {
  std::vector<uint8_t> table{kind};
  for (uint8_t b : DoubleBytes(row)) table.push_back(b);
  return table;
}

TEST(ReadCalibrationLinear, ReadsTheConductivityCorrectionOrNoneWhenUnusable) {
  const Row correction = {0.0191, 1.02, 25.0, 1.5e-8};
  const std::pair<std::vector<uint8_t>, Row> cases[] = {
      {CorrectionTable(2, correction), correction},
      {CorrectionTable(1, {1, 2, 3, 4}), kNoCorrection},  // the wrong kind
      {CorrectionTable(2, {std::numeric_limits<double>::quiet_NaN(), 2, 3, 4}), kNoCorrection}};
  for (const auto& [table, expected] : cases) {
    SimLinkFixture f("NMJ-7400", [&](sim::SimProfile& p) { WithConductivityCorrection(p, table); });
    ASSERT_TRUE(f.Connect());
    CalibrationCoefficients cal;
    cal.conductivityCorrection = {7, 7, 7, 7};
    EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Succeeded);
    EXPECT_EQ(cal.coef[2], (Row{0.5, 0.25, 0, 0}));
    EXPECT_EQ(cal.conductivityCorrection, expected);
    EXPECT_EQ(f.Heard("R0600"), 1);
  }
  // A micro-salinometer is not asked for one.
  SimLinkFixture f("HL-240", [](sim::SimProfile& p) { p.channels = {{'S', 0}, {'T', 0}}; });
  ASSERT_TRUE(f.Connect());
  CalibrationCoefficients cal;
  EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Succeeded);
  EXPECT_EQ(f.Heard("R0600"), 0);
}


TEST(ReadCalibrationSingleChannel, ReadsRowZeroOrTheModelsDefault) {
  struct Case {
    const char* profile;
    bool erase;
    Row expected;
  };
  const Case cases[] = {{"NA-7100", false, {0.00349, -0.000251, 2.69e-06, 2.31e-08}},
                        {"NB-7100", false, {0, 100.0, 0, 0}},
                        {"NA-7100", true, kThermistor}};
  for (const Case& c : cases) {
    SimLinkFixture f(c.profile, [&](sim::SimProfile& p) {
      if (c.erase) p.calibration.clear();
    });
    ASSERT_TRUE(f.Connect());
    CalibrationCoefficients cal;
    EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Succeeded) << c.profile;
    EXPECT_EQ(cal.coef[0], c.expected) << c.profile;
  }
}


TEST(ReadCalibration, FailedReadsLeaveTheDefaultsAndTheWarning) {
  // The rows expected, and a command with how often it was heard.
  const std::tuple<const char*, std::vector<Row>, const char*, int> cases[] = {
      // 0: an empty record chain (TPCT, not calibrated); the first record goes at offset 0.
      {"VS-550", {kThermistor, kLinear, kLinear, kThermistor}, "", 0},
      // 1: five bad sums in a row, a download error.
      {"VS-330", {kThermistor, kLinear}, "", 0},
      // 2: no tables; the letter defaults, and no channel after the first is asked for.
      {"NMJ-7400", {kThermistor, {0, 125.0, 0, 0}, {0, 625.0, 0, 0}, kLinear}, "V000001", 0},
      // 3: a coefficient that is not a number fails the whole read (defaults, not half of it).
      {"NMJ-7400", {kThermistor, kLinear}, "", 0},
      // 4: unrecognised "Z" replies end after the bound.
      {"NA-7100", {kThermistor}, "Z", LoggerLink::kCalibrationZAttempts}};
  for (int k = 0; k < 5; ++k) {
    const auto& [profile, rows, heard, times] = cases[k];
    SCOPED_TRACE(k);
    SimLinkFixture f(profile, [k](sim::SimProfile& p) {
      if (k == 2) p.calibration.clear(), p.channels = {{'T', 0}, {'K', 0}, {'J', 0}, {'P', 1}};
      if (k == 3) p.calibration[1] = {std::numeric_limits<double>::quiet_NaN(), 1, 0, 0};
    });
    ASSERT_TRUE(f.Connect());
    if (k == 1) f.simLogger->FailNextChecks(5);
    if (k == 4) f.simLogger->AnswerUnknown("Z");
    CalibrationCoefficients cal;
    for (auto& row : cal.coef) row = {9, 9, 9, 9};
    EXPECT_EQ(ReadCalibration(f.logger, cal), CalibrationRead::Failed);
    for (size_t n = 0; n < rows.size(); ++n) EXPECT_EQ(cal.coef[n], rows[n]) << n;
    EXPECT_EQ(f.host.status[kStatusMessagePart], kNotCalibratedText);
    EXPECT_EQ(f.host.icon, StatusIcon::Warning);
    EXPECT_TRUE(cal.calibrationReadNeeded);
    // A read that broke off leaves the logger's values unknown.
    EXPECT_TRUE(f.logger.state.calibrationStale || k == 0 || k == 2);
    EXPECT_EQ(f.host.Saw("tell", kCalibrationDownloadError), k == 1);
    EXPECT_EQ(*heard ? f.Heard(heard) : 0, times);
    EXPECT_TRUE(k != 0 || cal.nextRecordOffset == 0);
  }
}


TEST(InstallCalibrationReader, CommGetTenReadsOncePerLogger) {
  SimLinkFixture f("VS-330");
  ASSERT_TRUE(f.Connect());
  CalibrationCoefficients cal;
  cal.calibrationReadNeeded = false;  // left clear by the previous logger's read
  InstallCalibrationReader(f.logger, cal);
  EXPECT_EQ(f.logger.CommGet(10), 1);
  EXPECT_EQ(cal.coef[1], (Row{-10.2, 1012.5, 0, 0}));
  const size_t heard = f.simLogger->CommandLog().size();
  EXPECT_EQ(f.logger.CommGet(10), 1);
  EXPECT_EQ(f.simLogger->CommandLog().size(), heard);
}

}  // namespace
}  // namespace klx::test
