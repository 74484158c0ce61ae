// The run against the simulated HL-240 on a virtual clock: start, live records, the
// standardization against Standard Seawater with its save, and a table that reads back changed.
#include <gtest/gtest.h>

#include <cmath>

#include "calibration/sim_link_fixture.h"
#include "microsal/run.h"

namespace klx {
namespace {

using test::SimLinkFixture;

struct SimRun {
  explicit SimRun(const std::function<void(sim::SimProfile&)>& edit = {})
      : f("HL-240", edit), run(f.logger, f.clock, cal) {
    f.link.loggerPort = f.ports.NumberFor("sim:test");
  }
  // Polls the line for `ms` of virtual time.
  void RunFor(int64_t ms) {
    const int64_t end = f.clock.MonotonicMs() + ms;
    while (f.clock.MonotonicMs() < end) {
      f.clock.Advance(100);
      run.Poll();
    }
  }
  SimLinkFixture f;
  CalibrationCoefficients cal;
  MicrosalRun run;
};

TEST(MicrosalSimRun, StartsMeasuresAndStandardizes) {
  SimRun s;
  s.run.SetAveragingSeconds(2);
  s.f.host.answers = {Answer::Yes};  // the profile's logger holds a day of readings
  ASSERT_TRUE(s.run.Start());
  EXPECT_TRUE(s.run.calibrationRead);
  EXPECT_EQ(s.run.state, MicrosalState::Setup);
  EXPECT_EQ(s.f.Heard("!9"), 1);
  EXPECT_EQ(s.f.Heard("P"), 1);
  EXPECT_EQ(s.run.standardization.batch, "P165");  // the logger's table 0600
  EXPECT_DOUBLE_EQ(s.run.standardization.k15, 0.99993);

  s.RunFor(5000);
  EXPECT_EQ(s.run.state, MicrosalState::Running);
  EXPECT_GE(s.run.measurement.Records(), 24);
  EXPECT_NEAR(s.run.measurement.Means().salinity, 34.98, 0.01);

  // Zero point, then Standard Seawater of the new batch in the sample cell.
  MicrosalStandardization next = s.run.standardization;
  next.batch = "P170";
  next.k15 = 0.99993;
  s.f.simLogger->SetMicrosalCells(sim::SimMicrosalCells::Zero, s.f.clock.MonotonicMs());
  s.RunFor(4000);
  s.run.CaptureZero(next, true);
  s.run.CaptureZero(next, false);
  s.f.simLogger->SetMicrosalCells(sim::SimMicrosalCells::Standard, s.f.clock.MonotonicMs());
  s.RunFor(4000);
  s.run.CaptureStandard(next);
  next.alpha = NewAlpha(next);
  ASSERT_TRUE(GainAcceptable(next.alpha));

  ASSERT_TRUE(s.run.SaveStandardization(next));
  EXPECT_TRUE(s.f.host.Saw("tell", "was successful"));
  EXPECT_EQ(s.f.Heard("S0600"), 1);
  const auto block = EncodeStandardizationBlock(next);
  EXPECT_EQ(s.f.simLogger->Table(6), std::vector<uint8_t>(block.begin(), block.end()));
  EXPECT_EQ(s.run.standardization.batch, "P170");
  EXPECT_EQ(s.run.state, MicrosalState::Setup);  // started again
  EXPECT_DOUBLE_EQ(s.cal.coef[0][1], next.alpha);

  s.f.simLogger->SetMicrosalCells(sim::SimMicrosalCells::Standard, s.f.clock.MonotonicMs());
  s.RunFor(5000);
  EXPECT_NEAR(s.run.measurement.Means().ratio, 0.99993, 2e-4);
  s.run.Stop();
  EXPECT_EQ(s.run.state, MicrosalState::Stopped);
  EXPECT_GE(s.f.Heard("!B00"), 1);
}

TEST(MicrosalSimRun, ChangedTableReadBackFailsTheSave) {
  SimRun s([](sim::SimProfile& p) { p.microsal.mangleWrites = 1; });
  s.f.host.answers = {Answer::Yes};
  ASSERT_TRUE(s.run.Start());
  s.RunFor(2000);
  MicrosalStandardization next = s.run.standardization;
  next.batch = "P171";
  next.alpha = 1.01;
  EXPECT_FALSE(s.run.SaveStandardization(next));
  EXPECT_TRUE(s.f.host.Saw("status", kMicrosalCompareError));
  EXPECT_TRUE(s.f.host.Saw("tell", "has failed"));
  EXPECT_FALSE(s.f.host.Saw("tell", "was successful"));
  // The reading goes on, with the gain the logger now holds.
  EXPECT_EQ(s.run.state, MicrosalState::Setup);
  s.RunFor(2000);
  EXPECT_EQ(s.run.state, MicrosalState::Running);
}

TEST(MicrosalSimRun, LoggerWithUnretrievedDataAsksBeforeTheRun) {
  SimRun s([](sim::SimProfile& p) {
    p.status = 4;
    p.samples = 600;
  });
  s.f.host.answers = {Answer::No};
  EXPECT_FALSE(s.run.Start());
  EXPECT_TRUE(s.f.host.Saw("ask", "has not been downloaded"));
  EXPECT_EQ(s.f.Heard("P"), 0);
  EXPECT_EQ(s.f.Heard("!9"), 0);
}

}  // namespace
}  // namespace klx
