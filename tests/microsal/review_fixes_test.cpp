// The micro-salinometer's harder cases: the settled indicator over the whole history, the span a
// row reports, a damaged standardization table, a capture file that can no longer be written,
// a save that fails after reaching the logger (the previous values written back), a save that
// cannot reconnect (closing still stops the logger), an unreadable memory pointer, and a
// backlog of records in the port before the save.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "calibration/sim_link_fixture.h"
#include "microsal/run.h"
#include "realtime/collection.h"

namespace klx {
namespace {

using test::SimLinkFixture;

MicrosalReading Salinity(double s) {
  MicrosalReading r;
  r.salinity = s;
  return r;
}

TEST(MicrosalReview, SettledJudgesTheWholeHistory) {
  MicrosalMeasurement m(1);  // window of 6 readings
  for (int i = 0; i < 5; ++i) m.Add(Salinity(35.0));
  EXPECT_FALSE(m.Settled());  // history of 5 < W
  m.Add(Salinity(35.0));
  EXPECT_TRUE(m.Settled());

  // A drift, then a flat stretch longer than the window: the last W entries agree exactly, but
  // the history still shows the drift.
  m.Clear();
  for (int i = 0; i < 60; ++i) m.Add(Salinity(34.0 + i / 60.0));
  for (int i = 0; i < 30; ++i) m.Add(Salinity(35.0));
  EXPECT_DOUBLE_EQ(m.StandardDeviation(), 0.0);
  EXPECT_LT(m.Fit().minimum, 34.1);
  EXPECT_GT(m.Fit().slope, 0.0);
  EXPECT_FALSE(m.Settled());
}

TEST(MicrosalReview, AveragedSpanCountsTheNextReading) {
  MicrosalMeasurement m(30);
  for (int i = 0; i < 5; ++i) m.Add(Salinity(35.0));
  EXPECT_NE(m.Text().find("\t(1 second averages)\n"), std::string::npos) << m.Text();
  const std::string row = SalRowText(SystemTime{}, "", m);
  EXPECT_EQ(row.substr(row.size() - 6), "    1\n");
}

TEST(MicrosalReview, BlockWithNumbersThatAreNotFiniteIsIgnored) {
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity()};
  for (int field = 0; field < 3; ++field) {
    for (double value : bad) {
      MicrosalStandardization s;
      s.standardOne = 1.2;
      s.sampleOne = 1.1;
      s.k15 = 0.99;
      s.batch = "P170";
      auto block = EncodeStandardizationBlock(s);
      double* target[] = {&s.standardOne, &s.sampleOne, &s.k15};
      *target[field] = value;
      const auto damaged = EncodeStandardizationBlock(s);
      std::vector<uint8_t> data(damaged.begin(), damaged.end());
      MicrosalStandardization out;
      EXPECT_FALSE(DecodeStandardizationBlock(data, out)) << field;
      EXPECT_EQ(out, MicrosalStandardization{}) << field;
      data.assign(block.begin(), block.end());
      EXPECT_TRUE(DecodeStandardizationBlock(data, out));
      EXPECT_EQ(out.batch, "P170");
    }
  }
}

struct SimRun {
  explicit SimRun(const std::string& profile = "HL-240",
                  const std::function<void(sim::SimProfile&)>& edit = {})
      : f(profile, edit), run(f.logger, f.clock, cal) {}
  void RunFor(int64_t ms) {
    const int64_t end = f.clock.MonotonicMs() + ms;
    while (f.clock.MonotonicMs() < end) {
      f.clock.Advance(100);
      run.Poll();
    }
  }
  int Count(const std::string& kind, const std::string& part) const {
    int n = 0;
    for (const auto& e : f.host.events) n += e.kind == kind && e.text.find(part) != std::string::npos;
    return n;
  }
  SimLinkFixture f;
  CalibrationCoefficients cal;
  MicrosalRun run;
};

TEST(MicrosalReview, DamagedTableInTheLoggerLeavesTheDefaults) {
  SimRun s;
  ASSERT_TRUE(s.f.Connect());
  MicrosalStandardization damaged;
  damaged.k15 = std::numeric_limits<double>::quiet_NaN();
  damaged.batch = "P999";
  const auto block = EncodeStandardizationBlock(damaged);
  ASSERT_TRUE(s.f.logger.WriteTable("S0600", std::vector<uint8_t>(block.begin(), block.end())));
  s.f.host.answers = {Answer::Yes};
  ASSERT_TRUE(s.run.Start());
  EXPECT_TRUE(s.f.host.Saw("status", kBadStandardizationText));
  EXPECT_EQ(s.run.standardization.batch, "P000");
  EXPECT_EQ(s.run.standardization.k15, 1.0);
}

TEST(MicrosalReview, CaptureFileThatCannotBeWrittenIsReportedOnce) {
  SimRun s;
  const auto path = std::filesystem::temp_directory_path() / "klx_microsal_review.sal";
  ASSERT_TRUE(s.run.capture.Open(path, "header\n"));
  EXPECT_TRUE(s.run.SaveNow());
  std::filesystem::remove(path);
  EXPECT_FALSE(s.run.SaveNow());
  EXPECT_FALSE(s.run.SaveNow());
  EXPECT_EQ(s.Count("status", "Unable to write to"), 1);
  EXPECT_FALSE(std::filesystem::exists(path));  // no headerless file started
}

// The table write does not take (the read-back differs): the coefficients already written go
// back to what they were, and so does table 0600 where the logger lets it.
TEST(MicrosalReview, FailedSaveWritesThePreviousValuesBack) {
  struct Case {
    const char* profile;
    int mangles;  // 0: as the profile says
    bool tableRestored;
  };
  for (const Case c : {Case{"HL-240", 1, true}, Case{"HL-240-mangles", 0, false}}) {
    SCOPED_TRACE(c.profile);
    SimRun s(c.profile, [&](sim::SimProfile& p) {
      if (c.mangles) p.microsal.mangleWrites = c.mangles;
    });
    s.f.host.answers = {Answer::Yes};
    ASSERT_TRUE(s.run.Start());
    s.RunFor(2000);
    const auto tableBefore = s.f.simLogger->Table(6);
    const auto coefBefore = s.f.simLogger->Calibrations().back().coef;
    MicrosalStandardization next = s.run.standardization;
    next.batch = "P171";
    next.sampleZero = 0.01;
    next.standardZero = 0.02;
    next.alpha = 1.01;
    EXPECT_FALSE(s.run.SaveStandardization(next));
    EXPECT_TRUE(s.f.host.Saw("status", kMicrosalCompareError));
    const auto coefAfter = s.f.simLogger->Calibrations().back().coef;
    ASSERT_EQ(coefAfter.size(), coefBefore.size());
    for (size_t ch = 0; ch < coefBefore.size(); ++ch) {
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(coefAfter[ch][k], coefBefore[ch][k], 1e-6);
    }
    EXPECT_EQ(s.f.simLogger->Table(6) == tableBefore, c.tableRestored);
    EXPECT_EQ(s.f.host.Saw("tell", "could not be written back"), !c.tableRestored);
    EXPECT_TRUE(s.f.host.Saw("tell", "has failed"));
  }
}

TEST(MicrosalReview, ClosingAfterAFailedReconnectStillStopsTheLogger) {
  SimRun s;
  s.f.host.answers = {Answer::Yes};
  ASSERT_TRUE(s.run.Start());
  s.RunFor(2000);
  const int stopsBefore = s.f.Heard("!9");
  s.f.simLogger->SilenceUntil(s.f.clock.MonotonicMs() + 600000);
  MicrosalStandardization next = s.run.standardization;
  next.alpha = 1.01;
  EXPECT_FALSE(s.run.SaveStandardization(next));
  EXPECT_TRUE(s.f.host.Saw("tell", kSaveConnectText));
  EXPECT_EQ(s.run.state, MicrosalState::Stopped);
  EXPECT_EQ(s.run.setupText, kMicrosalHaltedText);
  EXPECT_EQ(s.f.Heard("!9"), stopsBefore);  // the logger was never reached: still sampling

  s.f.clock.Advance(600000);
  s.run.Stop();
  EXPECT_EQ(s.f.Heard("!9"), stopsBefore + 1);
  EXPECT_GE(s.f.Heard("!B00"), 1);
  EXPECT_FALSE(s.run.loggerStreaming);
}

TEST(MicrosalReview, UnreadableMemoryPointerAsksBeforeTheRun) {
  for (const Answer answer : {Answer::No, Answer::Yes}) {
    SimRun s;
    s.f.simLogger->AnswerUnknown("G");
    s.f.host.answers = {answer};
    EXPECT_EQ(s.run.Start(), answer == Answer::Yes);
    EXPECT_TRUE(s.f.host.Saw("ask", "pointer could not be read"));
    EXPECT_EQ(s.f.Heard("P") > 0, answer == Answer::Yes);
  }
}

TEST(MicrosalReview, UnsavedDataQuestionWarns) {
  SimRun s;
  s.f.logger.hooks.hasUnsavedData = [] { return true; };
  s.f.host.answers = {Answer::Yes};
  EXPECT_FALSE(s.run.Start());
  ASSERT_FALSE(s.f.host.events.empty());
  const auto& asked = s.f.host.events.front();
  EXPECT_EQ(asked.caption, "File Read");
  EXPECT_EQ(asked.number, static_cast<int>(BoxIcon::Warning));
}

// Records left unread in the port (the panel busy) are dropped before the save's reconnect; the
// drain ends at the first quiet spell, not at its bound.
TEST(MicrosalReview, DrainDropsTheBacklogOfRecords) {
  SimRun s;
  s.f.host.answers = {Answer::Yes};
  ASSERT_TRUE(s.run.Start());
  s.RunFor(1000);
  s.f.clock.Advance(4000);  // nothing read for four seconds
  const int64_t before = s.f.clock.MonotonicMs();
  DrainLine(s.f.logger, s.f.clock, 100, 1500);
  EXPECT_LT(s.f.clock.MonotonicMs() - before, 1000);
  s.f.link.Port(PortSlot::Logger)->SetTimeouts(PollingTimeouts());  // read without waiting
  std::array<uint8_t, 65> buffer{};
  EXPECT_LE(s.f.link.LinkRead(buffer.data(), 64), 0);
  MicrosalStandardization next = s.run.standardization;
  next.batch = "P172";
  EXPECT_TRUE(s.run.SaveStandardization(next));
}

}  // namespace
}  // namespace klx
