// The run against the simulated HL-240 on a virtual clock, and its harder cases.
#include <gtest/gtest.h>

#include <filesystem>

#include "calibration/sim_link_fixture.h"
#include "microsal/run.h"
#include "realtime/collection.h"

namespace klx {
namespace {

struct SimRun {
  explicit SimRun(const std::string& profile = "HL-240",
                  const std::function<void(sim::SimProfile&)>& edit = {})
      : f(profile, edit), run(f.logger, f.clock, cal) {}
  void RunFor(int64_t ms) {  // polls the line for `ms` of virtual time
    for (const int64_t end = f.clock.MonotonicMs() + ms; f.clock.MonotonicMs() < end; run.Poll())
      f.clock.Advance(100);
  }
  bool Started() {  // the unretrieved readings given up, then two seconds read
    f.host.answers = {Answer::Yes};
    return run.Start() && (RunFor(2000), true);
  }
  test::SimLinkFixture f;
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
  EXPECT_EQ(s.f.Heard("S0600"), 1);
  const auto block = EncodeStandardizationBlock(next);
  EXPECT_EQ(s.f.simLogger->Table(6), std::vector<uint8_t>(block.begin(), block.end()));
  EXPECT_EQ(s.run.standardization.batch, "P170");
  EXPECT_EQ(s.run.state, MicrosalState::Setup);  // started again
  EXPECT_DOUBLE_EQ(s.cal.coef[0][1], next.alpha);

  s.RunFor(5000);  // still on Standard Seawater: it reads its K15
  EXPECT_NEAR(s.run.measurement.Means().ratio, 0.99993, 2e-4);
  s.run.Stop();
  EXPECT_EQ(s.run.state, MicrosalState::Stopped);
  EXPECT_GE(s.f.Heard("!B00"), 1);
}

// A table write that does not take: what was written goes back where the logger lets it.
TEST(MicrosalSimRun, FailedSaveWritesThePreviousValuesBack) {
  for (const bool mangleOnce : {true, false}) {
    SimRun s(mangleOnce ? "HL-240" : "HL-240-mangles", [&](sim::SimProfile& p) {
      if (mangleOnce) p.microsal.mangleWrites = 1;
    });
    ASSERT_TRUE(s.Started());
    const auto tableBefore = s.f.simLogger->Table(6);
    const auto coefBefore = s.f.simLogger->Calibrations().back().coef;
    MicrosalStandardization next = s.run.standardization;
    next.sampleZero = next.standardZero = 0.02;
    next.alpha = 1.01;
    EXPECT_FALSE(s.run.SaveStandardization(next));
    EXPECT_TRUE(s.f.host.Saw("status", kMicrosalCompareError));
    const auto coefAfter = s.f.simLogger->Calibrations().back().coef;
    ASSERT_EQ(coefAfter.size(), coefBefore.size());
    for (size_t ch = 0; ch < coefBefore.size(); ++ch)
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(coefAfter[ch][k], coefBefore[ch][k], 1e-6);
    EXPECT_EQ(s.f.simLogger->Table(6) == tableBefore, mangleOnce);
    EXPECT_EQ(s.f.host.Saw("tell", "could not be written back"), !mangleOnce);
    EXPECT_EQ(s.run.state, MicrosalState::Setup);
    s.RunFor(2000);
    EXPECT_EQ(s.run.state, MicrosalState::Running);
  }
}

TEST(MicrosalSimRun, CaptureFileThatCannotBeWrittenIsReportedOnce) {
  SimRun s;
  const auto path = std::filesystem::temp_directory_path() / "klx_microsal_review.sal";
  ASSERT_TRUE(s.run.capture.Open(path, "header\n"));
  std::filesystem::remove(path);
  EXPECT_FALSE(s.run.SaveNow());
  EXPECT_FALSE(s.run.SaveNow());
  EXPECT_EQ(s.f.host.StatusMessages().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(path));  // no headerless file started
}

TEST(MicrosalSimRun, ClosingAfterAFailedReconnectStillStopsTheLogger) {
  SimRun s;
  ASSERT_TRUE(s.Started());
  const int stops = s.f.Heard("!9");
  s.f.simLogger->SilenceUntil(s.f.clock.MonotonicMs() + 600000);
  EXPECT_FALSE(s.run.SaveStandardization(MicrosalStandardization(s.run.standardization)));
  EXPECT_TRUE(s.f.host.Saw("tell", kSaveConnectText));
  EXPECT_EQ(s.f.Heard("!9"), stops);  // never reached: still sampling
  s.f.clock.Advance(600000);
  s.run.Stop();
  EXPECT_EQ(s.f.Heard("!9"), stops + 1);
}

// Unretrieved readings or an unreadable memory pointer are asked about; No leaves the logger.
TEST(MicrosalSimRun, UnretrievedDataOrAnUnreadablePointerAskBeforeTheRun) {
  SimRun unretrieved("HL-240", [](sim::SimProfile& p) { p.status = 4, p.samples = 600; });
  unretrieved.f.host.answers = {Answer::No};
  EXPECT_FALSE(unretrieved.run.Start());
  EXPECT_TRUE(unretrieved.f.host.Saw("ask", "has not been downloaded"));
  EXPECT_EQ(unretrieved.f.Heard("P") + unretrieved.f.Heard("!9"), 0);
  SimRun unreadable;
  unreadable.f.simLogger->AnswerUnknown("G");
  EXPECT_FALSE(unreadable.run.Start());  // answered No
  EXPECT_TRUE(unreadable.f.host.Saw("ask", "pointer could not be read"));
  EXPECT_EQ(unreadable.f.Heard("P"), 0);
}

// Records left unread (the panel busy) are dropped; the drain ends at the first quiet spell.
TEST(MicrosalSimRun, DrainDropsTheBacklogOfRecords) {
  SimRun s;
  ASSERT_TRUE(s.Started());
  s.f.clock.Advance(4000);
  const int64_t before = s.f.clock.MonotonicMs();
  DrainLine(s.f.logger, s.f.clock, 100, 1500);
  EXPECT_LT(s.f.clock.MonotonicMs() - before, 1000);
  s.f.link.Port(PortSlot::Logger)->SetTimeouts(PollingTimeouts());  // read without waiting
  std::array<uint8_t, 65> buffer{};
  EXPECT_LE(s.f.link.LinkRead(buffer.data(), 64), 0);
}

}  // namespace
}  // namespace klx
