// Writing calibration coefficients inside the clock frame, and the refusals that keep it safe.
#include "calibration/write.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "calibration/command.h"
#include "calibration/read.h"
#include "calibration/sim_link_fixture.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx::test {
namespace {

using Row = std::array<double, 4>;
constexpr const char* kLoggerClock = "250301100000";  // far from the PC's 2026-06-01

struct Rig : SimLinkFixture {
  explicit Rig(const std::string& profile, const std::function<void(sim::SimProfile&)>& edit = {})
      : SimLinkFixture(profile, [&edit](sim::SimProfile& p) {
          p.clock = kLoggerClock;
          if (edit) edit(p);
        }) {
    EXPECT_TRUE(Connect());
    ReadCalibration(logger, cal);
  }
  SystemTime LoggerClock() {
    return ParseLoggerDate(simLogger->ClockText(clock.MonotonicMs()) + "CTD");
  }
  // Edits row `n` and writes as the dialog's OK does.
  CalibrationWrite Write(int n, const Row& row) {
    CoefficientRows working = cal.coef;
    working[static_cast<size_t>(n)] = row;
    cal.calibrationWriteFlags = EditedFlag(cal, working, CalibrationRows(logger.state));
    cal.coef = working;
    return ApplyCalibration(logger, cal);
  }
  // What a fresh read of the logger gives.
  CalibrationCoefficients ReadBack() {
    CalibrationCoefficients fresh;
    EXPECT_EQ(ReadCalibration(logger, fresh), CalibrationRead::Succeeded);
    return fresh;
  }
  CalibrationCoefficients cal;
};

// Edit, write, read back: only the edited row changes, the logger's clock goes on from its own
// time, the calibration is dated with the PC's.
TEST(WriteCalibration, RoundTripOnEachGenerationKeepsTheLoggersClock) {
  struct Case { const char* profile; int channel; Row row; };
  for (const Case& c : {Case{"NMJ-7400", 1, {-10.5, 1011.25, 0.125, 0}},
                        Case{"VS-330", 2, {0.5, 72000.0, 99.5, 1e-3}},
                        Case{"NA-7100", 0, {0.0036, -0.00024, 2.6e-06, 2.2e-08}}}) {
    SCOPED_TRACE(c.profile);
    Rig r(c.profile);
    ASSERT_EQ(r.cal.origin, CalibrationOrigin::Logger);
    const CalibrationCoefficients before = r.cal;
    const SystemTime t0 = r.LoggerClock(), pc = r.clock.LocalTime();
    const int64_t startMs = r.clock.MonotonicMs();

    EXPECT_EQ(r.Write(c.channel, c.row), CalibrationWrite::Written);
    const bool multi = GenerationOf(r.logger.state) == CalibrationGeneration::MultiChannel;
    EXPECT_TRUE(!multi || (r.cal.nextRecordOffset == 2 * before.nextRecordOffset &&
                           r.host.Saw("tell", kCalibrationWrittenText)));
    const std::array<int, 6> d = r.cal.calibrationDate;
    const SystemTime stamped = MakeSystemTime(2000 + d[0], d[1], d[2], d[3], d[4], d[5]);
    const bool single = GenerationOf(r.logger.state) == CalibrationGeneration::SingleChannel;
    EXPECT_LE(single ? 0 : std::llabs(DifferenceSeconds(stamped, pc)), 5);
    const CalibrationCoefficients back = r.ReadBack();
    const int rows = CalibrationRows(r.logger.state);
    for (int n = 0; n < rows; ++n)
      EXPECT_EQ(back.coef[size_t(n)], n == c.channel ? c.row : before.coef[size_t(n)]) << n;
    EXPECT_EQ(r.cal.coef, back.coef);  // the table shows what the logger now holds

    const int64_t elapsed = (r.clock.MonotonicMs() - startMs) / 1000;
    const int64_t drift = DifferenceSeconds(r.LoggerClock(), AddSeconds(t0, elapsed));
    EXPECT_LE(std::llabs(drift), 2) << DateDisplayText(r.LoggerClock());
    EXPECT_EQ(r.Heard("J"), 2);  // to the PC's time and back
  }
}

// A logger that holds no calibration gets its first one.
TEST(WriteCalibration, FirstCalibrationOfAnUncalibratedLogger) {
  for (const char* profile : {"VS-550", "NMJ-7400"}) {
    SCOPED_TRACE(profile);
    Rig r(profile, [](sim::SimProfile& p) { p.calibration.clear(); });
    ASSERT_EQ(r.cal.origin, CalibrationOrigin::Uncalibrated);
    EXPECT_EQ(r.cal.nextRecordOffset, 0);
    EXPECT_EQ(r.Write(0, r.cal.coef[0]), CalibrationWrite::Written);  // defaults count as new
    EXPECT_EQ(r.cal.origin, CalibrationOrigin::Logger);
    if (r.logger.state.IsVS()) {
      EXPECT_NE(r.simLogger->MemoryByte(calibration_memory::kBase), 0xFF);
      EXPECT_EQ(r.cal.nextRecordOffset, 6 + 33 * r.logger.state.channelCount);
    }
  }
}

// A table nobody edited is not written: no record is appended, no clock is touched.
TEST(WriteCalibration, UnchangedTableSendsNothing) {
  for (const char* profile : {"VS-330", "NMJ-7400"}) {
    SCOPED_TRACE(profile);
    Rig r(profile);
    const size_t heard = r.simLogger->CommandLog().size();
    r.cal.calibrationWriteFlags = EditedFlag(r.cal, r.cal.coef, r.logger.state.channelCount);
    EXPECT_EQ(r.cal.calibrationWriteFlags, 0u);
    EXPECT_EQ(WriteCalibration(r.logger, r.cal), CalibrationWrite::Written);
    EXPECT_EQ(r.simLogger->CommandLog().size(), heard);
    EXPECT_EQ(r.host.Saw("tell", kCalibrationUnchangedText), r.logger.state.IsVS());
  }
}

// What must stop a write before the logger is touched at all.
TEST(WriteCalibration, RefusalsLeaveTheLoggerAlone) {
  struct Case {
    const char* name;
    const char* profile;
    std::function<void(Rig&)> arrange;
    const char* message;
    std::function<void(sim::SimProfile&)> profileEdit = {};
  };
  const std::vector<Case> cases = {
      {"silent clock", "NMJ-7400", [](Rig& r) { r.simLogger->NeverAnswer("B"); },
       kClockReadFailedText},
      {"read failed", "VS-330",
       [](Rig& r) {
         r.simLogger->FailNextChecks(100);
         r.cal.calibrationReadNeeded = true;
         ReadCalibration(r.logger, r.cal);
         r.simLogger->FailNextChecks(0);
       },
       kCalibrationNotReadText},
      {"nan", "NMJ-7400",
       [](Rig& r) { r.cal.coef[0][2] = std::numeric_limits<double>::quiet_NaN(); }, kNotFiniteText},
      {"memory full", "VS-330", [](Rig& r) { r.cal.nextRecordOffset = 65024 - 6 - 3 * 33 + 1; },
       kInsufficientCalibrationMemoryText},
      // Enabled, and allowed to have its coefficients read (not written) while it is.
      {"enabled", "VS-330", [](Rig&) {}, kCalibrationWhileLoggingText,
       [](sim::SimProfile& p) {
         p.status = 1, p.start = "990101000000", p.end = "991231000000";
         p.capabilities[0] |= 0x10, p.capabilities[5] = 16;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.profile);
    Rig r(c.profile, c.profileEdit);
    ASSERT_EQ(r.cal.origin, CalibrationOrigin::Logger);
    c.arrange(r);
    r.cal.calibrationWriteFlags = 1;
    const int setClock = r.Heard("J");
    const SystemTime t0 = r.LoggerClock();
    EXPECT_EQ(WriteCalibration(r.logger, r.cal), CalibrationWrite::Failed);
    EXPECT_TRUE(r.host.Saw("tell", c.message));
    EXPECT_EQ(r.Heard("!C") + r.Heard("U0"), 0);
    // Only the full memory is found inside the frame, which puts the clock back.
    const bool framed = std::string(c.name) == "memory full";
    EXPECT_EQ(r.Heard("J") - setClock, framed ? 2 : 0);
    EXPECT_LE(std::llabs(DifferenceSeconds(r.LoggerClock(), t0)), 30);
  }
}

// A linear-memory logger that refuses the procedure says why; the clock goes back all the same.
TEST(WriteCalibration, RefusedProcedureShowsTheLoggersReason) {
  Rig r("NMJ-7400");
  r.simLogger->RefuseNextCalibrations(2, 1);
  const SystemTime t0 = r.LoggerClock();
  EXPECT_EQ(r.Write(0, {1, 2, 3, 4}), CalibrationWrite::Failed);
  EXPECT_TRUE(r.host.Saw("tell", "no configuration table loaded"));
  EXPECT_EQ(r.Heard("U01"), 0);
  EXPECT_TRUE(r.cal.calibrationReadNeeded);  // the next read replaces the table
  EXPECT_LE(std::llabs(DifferenceSeconds(r.LoggerClock(), t0)), 30);
}

// A single-channel logger that drops "Y" is found out by the read-back.
TEST(WriteCalibration, SingleChannelWriteIsAlwaysReadBack) {
  Rig r("NA-7100");
  const Row old = r.cal.coef[0];
  const Row wanted = {0.004, -0.0002, 2e-06, 2e-08};
  r.simLogger->IgnoreNextY(1);
  EXPECT_EQ(r.Write(0, wanted), CalibrationWrite::Failed);
  EXPECT_TRUE(r.host.Saw("tell", kCalibrationWriteErrorText));
  EXPECT_EQ(r.cal.coef[0], wanted);  // the table keeps what was to be written
  EXPECT_EQ(r.ReadBack().coef[0], old);
}

// The conductivity correction alone: table 0600 written and compared, coefficients untouched.
TEST(WriteCalibration, ConductivityCorrectionIsWrittenAndCompared) {
  Rig r("NMJ-7400", [](sim::SimProfile& p) {
    p.channels = {{'T', 0}, {'S', 0}, {'P', 0}};
    p.capabilities[8] = 0x08;
    p.correction = std::vector<double>{0.02, 0.1, 25, 1e-4};
  });
  ASSERT_EQ(r.cal.conductivityCorrection, (Row{0.02, 0.1, 25, 1e-4}));
  r.cal.conductivityCorrection = {0.03, 0.2, 20, 2e-4};
  r.cal.calibrationWriteFlags = 2;
  EXPECT_EQ(ApplyCalibration(r.logger, r.cal), CalibrationWrite::Written);
  EXPECT_EQ(r.Heard("U0"), 0);
  EXPECT_EQ(r.Heard("S0600"), 1);
  EXPECT_EQ(r.ReadBack().conductivityCorrection, (Row{0.03, 0.2, 20, 2e-4}));
}

TEST(CalibrationEditing, ClipboardAndFieldsTakeFiniteNumbersOnly) {
  struct Case { const char* text; int count; Row values; };
  for (const Case& c :
       {Case{"1.5 2.5", 2, {1.5, 2.5, 9, 9}}, Case{"1\n2\r\n3\t4 5", 4, {1, 2, 3, 4}},
        Case{"x 1", 0, {9, 9, 9, 9}}, Case{"1 nan 3 4", 1, {1, 9, 9, 9}}}) {
    SCOPED_TRACE(c.text);
    Row values = {9, 9, 9, 9};
    EXPECT_EQ(ParseClipboardColumn(c.text, values), c.count);
    EXPECT_EQ(values, c.values);
  }
  EXPECT_EQ(ClipboardWarning(2), "WARNING\nOnly 2 items read from clipboard.");
  EXPECT_EQ(ClipboardWarning(0), "WARNING\nNo items read from clipboard.");
  EXPECT_EQ(ClipboardWarning(4), "");
  double v = 7;
  EXPECT_FALSE(ParseCoefficient("nan", v));
  EXPECT_FALSE(ParseCoefficient("1e999", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(ParseCoefficient(" -2.5e-3", v));
  EXPECT_EQ(v, -2.5e-3);
}

TEST(CalibrationEditing, ErrorCodeIsTakenNearTheRefusal) {
  const std::string nak(1, static_cast<char>(kNak));
  EXPECT_EQ(CalibrationErrorText("F1" + nak), CalibrationErrorText("xxxxxxF1" + nak));
  EXPECT_NE(CalibrationErrorText("F1" + nak), CalibrationErrorText("F2" + nak));
  EXPECT_EQ(CalibrationErrorText("F1xxxxxxx" + nak), "");  // more than 8 characters before it
  EXPECT_EQ(CalibrationErrorText("F1"), "");               // no refusal at all
}

}  // namespace
}  // namespace klx::test
