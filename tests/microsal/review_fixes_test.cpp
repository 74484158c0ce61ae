// The micro-salinometer's harder cases: settling over the whole history, a damaged table, a
// capture file gone, failed saves, an unreadable memory pointer, a backlog of records.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "calibration/sim_link_fixture.h"
#include "microsal/run.h"
#include "realtime/collection.h"

namespace klx {
namespace {

TEST(MicrosalReview, SettledJudgesTheWholeHistory) {
  MicrosalMeasurement m(1);  // window of 6 readings
  auto add = [&](double s) { m.Add(MicrosalReading{0, 0, 0, 0, s}); };
  for (int i = 0; i < 5; ++i) add(35.0);
  EXPECT_FALSE(m.Settled());  // history of 5 < W
  EXPECT_NE(m.Text().find("\t(1 second averages)\n"), std::string::npos);  // (5 + 1) / 6
  add(35.0);
  EXPECT_TRUE(m.Settled());
  // A drift, then a flat stretch: the last W entries agree, the history still shows the drift.
  m.Clear();
  for (int i = 0; i < 60; ++i) add(34.0 + i / 60.0);
  for (int i = 0; i < 30; ++i) add(35.0);
  EXPECT_DOUBLE_EQ(m.StandardDeviation(), 0.0);
  EXPECT_LT(m.Fit().minimum, 34.1);
  EXPECT_FALSE(m.Settled());
}

TEST(MicrosalReview, BlockWithANumberThatIsNotFiniteIsIgnored) {
  MicrosalStandardization damaged, read;
  damaged.k15 = std::numeric_limits<double>::quiet_NaN();
  const auto block = EncodeStandardizationBlock(damaged);
  EXPECT_FALSE(DecodeStandardizationBlock({block.begin(), block.end()}, read));
  EXPECT_EQ(read.k15, 1.0);
}

struct SimRun {
  explicit SimRun(const std::string& profile = "HL-240",
                  const std::function<void(sim::SimProfile&)>& edit = {})
      : f(profile, edit), run(f.logger, f.clock, cal) {}
  // Started (the unretrieved readings given up) and read for two seconds.
  bool Started() {
    f.host.answers = {Answer::Yes};
    if (!run.Start()) return false;
    for (int i = 0; i < 20; ++i, run.Poll()) f.clock.Advance(100);
    return true;
  }
  test::SimLinkFixture f;
  CalibrationCoefficients cal;
  MicrosalRun run;
};

TEST(MicrosalReview, CaptureFileThatCannotBeWrittenIsReportedOnce) {
  SimRun s;
  const auto path = std::filesystem::temp_directory_path() / "klx_microsal_review.sal";
  ASSERT_TRUE(s.run.capture.Open(path, "header\n"));
  std::filesystem::remove(path);
  EXPECT_FALSE(s.run.SaveNow());
  EXPECT_FALSE(s.run.SaveNow());
  EXPECT_EQ(s.f.host.StatusMessages().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(path));  // no headerless file started
}

// The table write does not take: the coefficients already written go back to what they were,
// and so does table 0600 where the logger lets it.
TEST(MicrosalReview, FailedSaveWritesThePreviousValuesBack) {
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
  }
}

TEST(MicrosalReview, ClosingAfterAFailedReconnectStillStopsTheLogger) {
  SimRun s;
  ASSERT_TRUE(s.Started());
  const int stops = s.f.Heard("!9");
  s.f.simLogger->SilenceUntil(s.f.clock.MonotonicMs() + 600000);
  MicrosalStandardization next = s.run.standardization;
  EXPECT_FALSE(s.run.SaveStandardization(next));
  EXPECT_TRUE(s.f.host.Saw("tell", kSaveConnectText));
  EXPECT_EQ(s.run.setupText, kMicrosalHaltedText);
  EXPECT_EQ(s.f.Heard("!9"), stops);  // never reached: still sampling
  s.f.clock.Advance(600000);
  s.run.Stop();
  EXPECT_EQ(s.f.Heard("!9"), stops + 1);
}

TEST(MicrosalReview, UnreadableMemoryPointerAsksBeforeTheRun) {
  SimRun s;
  s.f.simLogger->AnswerUnknown("G");
  EXPECT_FALSE(s.run.Start());  // answered No
  EXPECT_TRUE(s.f.host.Saw("ask", "pointer could not be read"));
  EXPECT_EQ(s.f.Heard("P"), 0);
}

// Records left unread (the panel busy) are dropped; the drain ends at the first quiet spell.
TEST(MicrosalReview, DrainDropsTheBacklogOfRecords) {
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
