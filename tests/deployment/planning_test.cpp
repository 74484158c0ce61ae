// Deployment planning without a logger: validation, estimates, thresholds, bursts, ranges.
#include <gtest/gtest.h>

#include <cmath>

#include "deployment/range_switching.h"
#include "deployment/thresholds.h"
#include "deployment/validation.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx::test {
namespace {

LoggerState Logger(const std::string& model, const std::string& letters, int memoryMb = 2) {
  LoggerState s;
  std::tie(s.model, s.channelTypes, s.channelCount, s.memorySizeMb, s.latencyMs, s.readingTimeMs) =
      std::make_tuple(model, letters, static_cast<int>(letters.size()), memoryMb, 300, 200);
  return s;
}

const SystemTime kClock{2027, 1, 0, 10, 12, 0, 0, 0};

DeploymentParameters Plan(int64_t startAfter, int64_t length, Period period) {
  DeploymentParameters p;
  p.startTime = AddSeconds(kClock, startAfter);
  p.endTime = AddSeconds(p.startTime, length);
  p.samplePeriod = period;
  return p;
}

ValidationInputs Inputs(bool forbidden = false) {
  ValidationInputs in;
  in.loggerClock = kClock;
  in.continuousPowerForbidden = forbidden;
  return in;
}

TEST(Validation, ScheduleChecksInOrder) {
  const LoggerState vs = Logger("VS-330", "TPC");
  auto p = Plan(0, 3600, {0, 0, 10});
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs()).code, kStartNotAfterLoggerClock);
  p = Plan(60, 0, {0, 0, 10});
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs()).code, kStartNotBeforeEnd);
  p = Plan(60, 3600, {0, 0, 10});
  p.startMode = kStartNow;
  p.endTime = AddSeconds(kClock, -1);
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs()).code, kEndBeforeNow);
  // Resuming skips the start checks and everything after the end check.
  p = Plan(-100, 50, {0, 0, 0});
  auto in = Inputs();
  in.resuming = true;
  EXPECT_EQ(ValidateDeployment(p, vs, in).code, kEndBeforeNow);
  p.endTime = AddSeconds(kClock, 10);
  EXPECT_EQ(ValidateDeployment(p, vs, in).code, kValidationOk);
  // A threshold start runs for a year from the logger clock.
  p = Plan(60, 60, {0, 0, 10});
  p.startMode = kStartAboveThreshold;
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs()).code, kValidationOk);
  EXPECT_EQ(p.endTime.year, 2028);
  EXPECT_EQ(p.endTime.day, 10);
}

TEST(Validation, MinimumPeriodsAndContinuousPower) {
  // 3 channels: cycled 60 + 300 + 200 + 170 = 730 ms -> 1 s; continuous 260 ms -> 1 s.
  LoggerState vs = Logger("VS-330", "TPC");
  vs.latencyMs = 2000;  // cycled 2430 ms -> 3 s, continuous 1 s
  auto p = Plan(60, 3600, {0, 0, 2});
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs()).code, kValidationOk);
  EXPECT_TRUE(p.continuousPower) << "between the two minima the sensors stay powered";
  p.continuousPower = false;
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs(true)).code, kPeriodShorterThanMinimum)
      << "a full auto-ranging channel forbids it";
  p.samplePeriod = {0, 0, 3};
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs()).code, kValidationOk);
  EXPECT_FALSE(p.continuousPower);
  // Averaging: 4 s -> (24 - 1) x 167 = 3841 ms more.
  p.averagingEnabled = true;
  p.averagingSeconds = 4;
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs()).code, kPeriodShorterThanAveraging);
  p.samplePeriod = {0, 0, 5};
  const MinimumPeriods m = ComputeMinimumPeriods(p, vs);
  EXPECT_EQ(m.continuousMs, 200 + 60 + 3841);
  EXPECT_EQ(m.continuousSeconds, 5);  // whole seconds, rounded up
  EXPECT_EQ(m.cycledSeconds, (60 + 2000 + 200 + 170 + 3841 + 999) / 1000);
  // A zero period counts as a day.
  p.samplePeriod = {};
  p.averagingEnabled = false;
  p.endTime = AddSeconds(p.startTime, 86400 * 3);
  EXPECT_EQ(ValidateDeployment(p, vs, Inputs()).code, kValidationOk);
  EXPECT_EQ(p.averagingSeconds, 0u) << "forced to 0 with averaging off";
}

TEST(Validation, RealTimeBaudCodeFollowsTheOutputChoice) {
  DeploymentParameters p;
  p.realtimeOutput = true;
  SetRealTimeBaud(p, 2400);
  EXPECT_EQ(p.realtimeBaudCode, 118u);
  // With real-time output on, the 2400-baud records add (3 x 3 + 13) x 10000 / 2400 + 1 = 92 ms.
  LoggerState vs = Logger("VS-330", "TPC");
  const MinimumPeriods on = ComputeMinimumPeriods(p, vs);
  EXPECT_EQ(on.cycledMs, 60 + 92 + 300 + 200 + 170);
  EXPECT_EQ(on.continuousMs, 200 + 60 + 92);
  p.realtimeOutput = false;
  EXPECT_EQ(ComputeMinimumPeriods(p, vs).cycledMs, 60 + 300 + 200 + 170);
}

TEST(Validation, TooManySamplesSuggestions) {
  const LoggerState two = Logger("VS-330", "TPC", 2);
  // 653984 / 3 = 217994 per channel; 300000 samples at 1 s is too many.
  auto p = Plan(60, 300000, {0, 0, 1});
  SampleSuggestion s = TooManySamples(p, two, p.startTime);
  ASSERT_TRUE(s.tooMany);
  EXPECT_EQ(DifferenceSeconds(s.suggestedEnd, p.startTime), 217994 - 1);
  EXPECT_EQ(s.suggestedPeriod, (Period{0, 0, 2}));
  p = Plan(60, 150LL * 86400, {0, 0, 1});  // 59.4 s a sample: a period in minutes
  EXPECT_EQ(TooManySamples(p, two, p.startTime).suggestedPeriod, (Period{0, 1, 0}));
  const LoggerState eight = Logger("VS-330", "TPC", 8);
  p = Plan(60, 1000000, {0, 0, 1});
  s = TooManySamples(p, eight, p.startTime);
  ASSERT_TRUE(s.tooMany);
  EXPECT_EQ(DifferenceSeconds(s.suggestedEnd, p.startTime), 2793456 / 3 - 20);
  // Accepting the end time changes the plan and ends the checks; no host refuses it.
  RecordingHost host;
  host.answers = {Answer::Yes};  // the first button
  auto in = Inputs();
  in.host = &host;
  p = Plan(60, 300000, {0, 0, 1});
  const auto r = ValidateDeployment(p, two, in);
  EXPECT_TRUE(r.suggestionAccepted);
  EXPECT_EQ(DifferenceSeconds(p.endTime, p.startTime), 217993);
  // Closed without a suggestion: the plan stays and the remaining checks decide.
  p = Plan(60, 300000, {0, 0, 1});
  const auto kept = ValidateDeployment(p, two, Inputs());
  EXPECT_EQ(kept.code, kValidationOk) << kept.message;
  EXPECT_FALSE(kept.suggestionAccepted);
  EXPECT_EQ(DifferenceSeconds(p.endTime, p.startTime), 300000);
}

// "Accept Sampling Period" works for every logger, 6 Hz profiling and tide-and-wave included.
TEST(Validation, AcceptSamplingPeriodEverywhere) {
  LoggerState six = Logger("VS-330", "TPC", 2);
  six.profiling6Hz = true;
  const LoggerState nmj = Logger("NMJ-7400", "TP", 2);
  for (const bool profiling : {false, true}) {
    const LoggerState& logger = profiling ? six : nmj;
    RecordingHost host;
    host.answers = {Answer::No};  // the second button
    auto in = Inputs();
    in.host = &host;
    auto p = Plan(60, profiling ? 300000 : 800000, {0, 0, 1});
    p.profiling6Hz = profiling;
    const SampleSuggestion s = TooManySamples(p, logger, p.startTime);
    ASSERT_TRUE(s.tooMany);
    const auto r = ValidateDeployment(p, logger, in);
    EXPECT_EQ(r.code, kValidationOk) << r.message;
    EXPECT_TRUE(r.suggestionAccepted);
    EXPECT_EQ(p.samplePeriod, s.suggestedPeriod) << profiling;
    EXPECT_NE(p.samplePeriod, (Period{0, 0, 1}));
  }
}

// "Accept batch values" restores at once, or asks first after a change (No restores nothing).
TEST(BatchValues, RestoredDirectlyOrAfterTheQuestion) {
  DeploymentParameters batch = Plan(3600, 86400, {0, 5, 0});
  batch.startMode = kStartNow;
  batch.averagingEnabled = true;
  batch.averagingSeconds = 4;
  batch.waveRateHz = 4;
  batch.batchSet = true;
  const DeploymentParameters edited = Plan(7200, 3600, {0, 0, 30});

  RecordingHost quiet;
  DeploymentParameters p = edited;
  EXPECT_EQ(AcceptBatchValues(p, batch, quiet), BatchAcceptance::Restored);
  EXPECT_TRUE(quiet.events.empty()) << "nothing changed: no question";
  EXPECT_TRUE(p.startTime == batch.startTime && p.endTime == batch.endTime);
  EXPECT_EQ(p.samplePeriod, batch.samplePeriod);
  EXPECT_EQ(std::make_tuple(p.startMode, p.averagingEnabled, p.averagingSeconds, p.waveRateHz),
            std::make_tuple(uint32_t{kStartNow}, true, 4u, 4));

  RecordingHost no;
  no.answers = {Answer::No};
  p = edited;
  p.changedSinceBatch = true;
  EXPECT_EQ(AcceptBatchValues(p, batch, no), BatchAcceptance::Declined);
  ASSERT_EQ(no.events.size(), 1u);
  EXPECT_EQ(no.events[0].kind, "ask");
  EXPECT_FALSE(p.changedSinceBatch);
  EXPECT_EQ(p.startTime, edited.startTime);
  EXPECT_EQ(p.samplePeriod, edited.samplePeriod);
}

TEST(Estimate, GeneralFormCurrents) {
  for (const auto& [model, letters, ma] :
       {std::tuple<const char*, std::string, int>{"NA-7100", "T", 12}, {"NMV-7400", "P", 5},
        {"VS-330", "TPC", 5 + 1 + 1 + 4}, {"VS-330", std::string(24, 'T'), 5 + 8},
        {"VS-330", std::string(17, 'T'), 5 + 8 + 1}, {"VS-330", "YKQ", 5 + 6 + 100 + 2}})
    EXPECT_EQ(LoggerCurrentMa(Logger(model, letters)), ma) << model << " " << letters;
}

TEST(Estimate, GeneralFormFigures) {
  const LoggerState vs = Logger("VS-330", "TPC");
  auto p = Plan(60, 86400, {0, 0, 10});
  UsageEstimate e = EstimateUsage(p, vs);
  // 8640 samples x 500 ms x 11 mA / 1000 + 86400 x 0.03 = 2376 + 2592 mAs.
  EXPECT_NEAR(e.batteryMah, (8640 * 500 * 11 / 1000.0 + 2592) / 3600, 1e-9);
  EXPECT_NEAR(e.memoryPercent, 86400 * 100.0 / (217994.0 * 10), 1e-9);
  // A zero period is a day: one sample.
  p.samplePeriod = {};
  e = EstimateUsage(p, vs);
  EXPECT_NEAR(e.memoryPercent, 100.0 / 217994.0, 1e-12);
  // Continuous power for a year exceeds the nominal capacity.
  p = Plan(60, 365 * 86400, {0, 0, 10});
  p.continuousPower = true;
  e = EstimateUsage(p, vs);
  EXPECT_FALSE(e.withinCapacity);
  // RS485 adds 2.5 mA.
  LoggerState rs = vs;
  rs.externalDataConnector = true;
  p = Plan(60, 14400, {0, 0, 10});
  const double base = EstimateUsage(p, vs).batteryMah;
  EXPECT_NEAR(EstimateUsage(p, rs).batteryMah, base + 10, 1e-9);
  p.startMode = kStartBelowThreshold;
  EXPECT_FALSE(EstimateUsage(p, vs).available);
}

// A start-now estimate counts from the logger clock, not the previous deployment's start time.
TEST(Estimate, StartNowCountsFromTheLoggerClock) {
  const LoggerState vs = Logger("VS-330", "TPC", 4);
  DeploymentParameters p = Plan(60, 35 * 86400, {0, 0, 10});
  p.endTime = AddSeconds(kClock, 35 * 86400);
  p.startTime = AddSeconds(kClock, -188 * 86400);  // the old schedule
  p.startMode = kStartNow;
  const SystemTime old = p.startTime;
  const ValidationResult v = ValidateDeployment(p, vs, Inputs());
  ASSERT_EQ(v.code, kValidationOk) << v.message;
  EXPECT_EQ(p.startTime, old) << "the checks leave the start time alone";
  const UsageEstimate e = EstimateUsage(p, vs, kClock);
  EXPECT_NEAR(e.memoryPercent, 35 * 86400 * 100.0 / (433333.0 * 10), 1e-9);
  EXPECT_NE(e.text.find("memory usage is 69.8%"), std::string::npos) << e.text;
  // Without the clock it counts from the start time: 223 days, not 35.
  EXPECT_NEAR(EstimateUsage(p, vs).memoryPercent, e.memoryPercent * 223 / 35, 1e-9);
}

TEST(Estimate, TideFormAndTheQeLimits) {
  LoggerState nmj = Logger("NMJ-7400", "TP", 8);
  nmj.extendedCommandSet = true;
  nmj.latencyMs = 120;
  ASSERT_TRUE(UsesTideEstimate(nmj));
  auto p = Plan(60, 86400, {0, 1, 0});
  UsageEstimate e = EstimateUsage(p, nmj);
  // 1440 readings x 0.00112 + 86400 x 3e-5.
  EXPECT_NEAR(e.batteryMah, (86400 * 3e-05 + 1440 * 0.00112) * 0.2777778, 1e-9);
  EXPECT_NEAR(e.memoryPercent, 86400 * 100.0 / ((8380416 - 30) / 6 * 60), 1e-9);
  // Hourly bursts of 1024 at 2 Hz with 10 s averaging: 24 bursts x (1024 x 0.00034 / 2 +
  // 512 s x 0.0008), and the averaged readings are the 1440 - 24 outside the bursts.
  p.waveEnabled = true, p.burstLength = 1024, p.waveRateHz = 2, p.burstInterval = {1, 0, 0};
  p.averagingEnabled = true, p.averagingSeconds = 10;
  e = EstimateUsage(p, nmj);
  EXPECT_NEAR(e.batteryMah,
              (86400 * 3e-05 + 24 * (1024 * 0.00034 / 2 + 512 * 0.0008) + 1416 * 0.00834) *
                  0.2777778,
              1e-9);
  LoggerState qe = Logger("NMK-7100-QE", "TP", 8);
  qe.extendedCommandSet = true;
  p = Plan(60, 180LL * 86400, {0, 0, 1});  // about 6 Ah
  e = EstimateUsage(p, qe);
  ASSERT_GT(e.batteryMah, 4000);
  ASSERT_LE(e.batteryMah, 8000);
  EXPECT_NE(e.text.find("when using 4 C-cells in this logger."), std::string::npos);
  EXPECT_FALSE(e.withinCapacity);
}

TEST(Threshold, ConversionRoundingAndLimits) {
  EXPECT_DOUBLE_EQ(RoundUpHundredths(12.35), 12.35);  // 12.341: AcceptThreshold below
  EXPECT_DOUBLE_EQ(RoundDownHundredths(7.999), 7.99);
  // Pressure 0..1000 dbar: linear, so the count is exact to one step.
  ChannelEquation pressure;
  pressure.c = {-10.0, 1010.0, 0, 0};
  const uint32_t raw = ThresholdToRaw(pressure, 250.0);
  EXPECT_LE(pressure.Value(raw), 250.0);
  EXPECT_GT(pressure.Value(raw + 1), 250.0);
  // A thermistor: the value falls as the count rises.
  ChannelEquation t;
  t.thermistor = true;
  t.c = {0.00350, -0.000250, 2.70e-06, 2.30e-08};
  const uint32_t traw = ThresholdToRaw(t, 15.0);
  EXPECT_GE(t.Value(traw), 15.0);
  EXPECT_LT(t.Value(traw + 1), 15.0);
  EXPECT_EQ(ThresholdLimitsOf(t).maximum, 100.0);
  EXPECT_EQ(ThresholdLimitsOf(pressure).minimum, -10.0);
  EXPECT_EQ(ThresholdLimitRaw(0), 0xFFFFFDu);
  EXPECT_EQ(ThresholdLimitRaw(2), 0xFD70A2u);

  LoggerState vs = Logger("VS-330", "TPC");
  CalibrationCoefficients cal;
  cal.coef[1] = pressure.c;
  RecordingHost host;
  DeploymentParameters p;
  p.thresholdChannel = 1;
  p.thresholdValue = 12.341;
  EXPECT_EQ(AcceptThreshold(p, vs, cal, host), ThresholdCheck::Accepted);
  EXPECT_DOUBLE_EQ(p.thresholdValue, 12.35);
  EXPECT_EQ(p.thresholdLimitRaw, 0xDFFFFFu);
  p.thresholdValue = -50;
  host.answers = {Answer::Yes};
  EXPECT_EQ(AcceptThreshold(p, vs, cal, host), ThresholdCheck::Replaced);
  EXPECT_DOUBLE_EQ(p.thresholdValue, -10.0);
  EXPECT_TRUE(host.Saw("ask", "Minimum threshold for this sensor is -10.00"));
  p.thresholdValue = 5000;
  EXPECT_EQ(AcceptThreshold(p, vs, cal, host), ThresholdCheck::Refused);
}

TEST(Threshold, TemperatureSenseIsExchangedInTheCodeOnly) {
  LoggerState vs = Logger("VS-330", "TPC");
  vs.profiling6Hz = true;
  DeploymentParameters p;
  p.startMode = kStartAboveThreshold;
  p.thresholdChannel = 0;  // temperature
  p.thresholdRaw = 0x123456;
  p.thresholdLimitRaw = 0xFD70A2;
  BuildThresholdBlock(p, vs);
  EXPECT_EQ(p.thresholdBlock[0], 5);
  BuildThresholdBlock(p, vs);  // a second enable sends the same
  EXPECT_EQ(p.thresholdBlock[0], 5);
  EXPECT_EQ(p.startMode, kStartAboveThreshold);
  p.powerCycledTest = 1;
  p.continuousPower = true;
  BuildThresholdBlock(p, vs);
  // Code, channel, limit and threshold counts most significant byte first.
  EXPECT_EQ(p.thresholdBlock,
            (std::array<uint8_t, 8>{0x80 | 7, 0, 0xFD, 0x70, 0xA2, 0x12, 0x34, 0x56}));
  p.thresholdChannel = 1;  // pressure: no exchange
  BuildThresholdBlock(p, vs);
  EXPECT_EQ(p.thresholdBlock[0], 0x80 | 6);
  p.startMode = kStartNow;
  p.profiling6Hz = true;
  vs.profiling6Hz = false;
  BuildThresholdBlock(p, vs);
  EXPECT_EQ(p.thresholdBlock[0], 0x80 | 1) << "6 Hz cleared, power test cleared";
  EXPECT_EQ(p.powerCycledTest, 0);
}

TEST(Hysteresis, Corrections) {
  // Raised to a period, lowered to whole periods, capped at 65535 counts (10922 s in 6 Hz, told).
  const struct {
    Period period;
    bool sixHz;
    uint32_t seconds, corrected;
    bool changed;
    int count;  // HysteresisCount; 0: not checked
  } cases[] = {
      {{0, 0, 10}, false, 4, 10, true, 0},           {{0, 0, 10}, false, 25, 20, true, 0},
      {{0, 0, 10}, false, 20, 20, false, 0},
      {{0, 0, 1}, false, 70000, 65535, true, 65535}, {{0, 0, 1}, true, 20000, 10922, true, 65532},
  };
  RecordingHost host;
  DeploymentParameters p;
  for (const auto& c : cases) {
    std::tie(p.samplePeriod, p.profiling6Hz, p.hysteresisSeconds) =
        std::tie(c.period, c.sixHz, c.seconds);
    EXPECT_EQ(CheckHysteresis(p, host), c.changed) << c.seconds;
    EXPECT_EQ(p.hysteresisSeconds, c.corrected) << c.seconds;
    if (c.count) {
      EXPECT_EQ(HysteresisCount(p), c.count);
    }
  }
  EXPECT_TRUE(host.Saw("tell", "The maximum hysteresis period is 10922 seconds."));
}

TEST(PowerSave, ShortPeriodIsRaisedNotRejected) {
  RecordingHost host;
  LoggerState vs = Logger("VS-330", "TPC");
  vs.latencyMs = 1500;  // 1500 + 200 + 170 + 60 -> 2 s
  DeploymentParameters p;
  p.samplePeriod = {0, 1, 0};
  p.powerSavePeriod = {0, 0, 1};
  EXPECT_TRUE(CheckPowerSavePeriod(p, vs, host));
  EXPECT_EQ(p.powerSavePeriod, (Period{0, 0, 2}));
  EXPECT_FALSE(CheckPowerSavePeriod(p, vs, host));
  ChoosePowerSavePeriod(p, Period{});
  EXPECT_EQ(p.powerSavePeriod, p.samplePeriod);
}

TEST(Burst, TidePeriodFitsTheBurst) {
  RecordingHost host;
  DeploymentParameters p;
  p.waveEnabled = true;
  p.waveRateHz = 4;
  p.burstLength = 2048;
  Period tide{0, 1, 0};
  Period interval{1, 0, 0};
  EXPECT_TRUE(FitTidePeriodToBurst(p, interval, tide, 1000, host));
  EXPECT_EQ(tide, (Period{0, 2, 8}));
  EXPECT_EQ(interval, (Period{2, 8, 0})) << "the count of tide periods is kept";
  interval = {0, 1, 0};
  FitTidePeriodToBurst(p, interval, tide, 0, host);
  EXPECT_EQ(interval, tide) << "never shorter than one tide period";
  interval = {0, 5, 0};
  FitTidePeriodToBurst(p, interval, tide, 0, host);
  EXPECT_EQ(interval, (Period{0, 6, 24})) << "rounded up to a multiple";
  FitTidePeriodToBurst(p, interval, tide, -1, host);
  EXPECT_EQ(interval, (Period{0, 8, 32}));
  interval = {30, 0, 0};
  FitTidePeriodToBurst(p, interval, tide, 0, host);
  EXPECT_EQ(interval.hours * 3600 + interval.minutes * 60 + interval.seconds, 86400 / 128 * 128);
}

TEST(RangeSwitching, TablesGiveLettersTimesAndSummary) {
  LoggerState vs = Logger("VS-330", "TYF");
  // As a configuration read leaves it: raised by a turbidity sensor in full auto-ranging.
  vs.configuredReadingTimeMs = 200;
  vs.readingTimeMs = 1260;
  RangeSwitching r;
  r.SetNonSwitching();
  r.behaviour[2] = 6;                   // turbidity, mode 0, gain 0
  r.behaviour[3] = 3 * 32 + 3 * 8 + 5;  // fluorometer, fixed gain 3
  ApplyRangeSwitching(r, vs);
  EXPECT_EQ(vs.channelTypes, "TyF");
  EXPECT_EQ(vs.readingTimeMs, 1260);
  EXPECT_TRUE(r.continuousPowerForbidden);
  EXPECT_EQ(r.behaviour[0], 2);
  EXPECT_FALSE(r.Offered(2)) << "mode 3 is not offered";
  const auto lines = RangeSwitchingSummary(r, vs);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[8], "\tgain:\t(3) 150ug/l");
  // A fixed gain on the turbidity channel: 200 ms, continuous power allowed again.
  SetChannelFixedGain(r, 1, 2, kUserFixedGain, kSeapointTurbidity);
  ApplyRangeSwitching(r, vs);
  EXPECT_EQ(vs.readingTimeMs, 200);
  EXPECT_FALSE(r.continuousPowerForbidden);
  EXPECT_EQ(r.behaviour[0], 1);
  SetChannelAutoRanging(r, 1);
  EXPECT_EQ(r.behaviour[2], 0xFF);
  EXPECT_EQ(r.extended[2] & 2, 2);
  r.SetNonSwitching();
  EXPECT_EQ(RangeSwitchingSummary(r, vs).front(), "No range switching capable modules present");
}

}  // namespace
}  // namespace klx::test
