// Status names, the data pointer, memory usage, and stopping or suspending around a retrieval.
#include "deployment/status.h"

#include <gtest/gtest.h>

#include "calibration/sim_link_fixture.h"
#include "shell/status.h"

namespace klx::test {
namespace {

TEST(StatusName, CodesAboveSixShowAsMemoryErrorExceptStoppedByUser) {
  EXPECT_STREQ(StatusName(0), "Not Enabled");
  EXPECT_STREQ(StatusName(6), "Profiling Active");
  EXPECT_STREQ(StatusName(7), "Memory Error");
  EXPECT_STREQ(StatusName(-1), "Memory Error");
  EXPECT_STREQ(StatusName(8), "Logging Stopped by User");
}

TEST(ParseDataPointer, FourBytesLeastSignificantFirstBeforeTheTag) {
  EXPECT_EQ(ParseDataPointer("00000200CDP\r\n"), 0x20000u);
  EXPECT_EQ(ParseDataPointer("00E07F00CDP"), 0x7FE000u);
  EXPECT_EQ(ParseDataPointer("xx1E3402abCDP"), 0xAB02341Eu);
  // Malformed replies give nothing rather than a guess.
  for (const char* bad :
       {"", "CDP", "0000CDP", "0000020GCDP", "00000200", "000101000000", "Unknown command\r\n"})
    EXPECT_FALSE(ParseDataPointer(bad).has_value()) << bad;
}

LoggerState Older(const char* model, float firmware, int channels = 1) {
  LoggerState s;
  s.model = model;
  s.firmware = firmware;
  s.channelCount = channels;
  return s;
}

TEST(MemoryUsage, LinearMemoryLoggers) {
  LoggerState s;
  s.extendedCommandSet = true;
  s.firmware = 6.1f;
  s.parameterBlockLength = 48;
  s.channelCount = 2;
  EXPECT_EQ(ComputeMemoryUsage(s, 0).text, "0%, 0 readings");
  EXPECT_EQ(ComputeMemoryUsage(s, 20).readings, 0);      // below the header
  EXPECT_EQ(ComputeMemoryUsage(s, 48 + 4).readings, 2);  // rounded up to whole readings
  const MemoryUsage small = ComputeMemoryUsage(s, 48 + 3 * 1000);
  EXPECT_EQ(small.readings, 1000);
  EXPECT_EQ(small.text, "<0.1%, 500 readings");  // per channel
  const MemoryUsage some = ComputeMemoryUsage(s, 48 + 3 * 600000);
  EXPECT_NEAR(some.percent, (48 + 1800000) * 100.0 / 8380368, 1e-9);
  EXPECT_EQ(some.text, "21.5%, 300K readings");
  EXPECT_EQ(ComputeMemoryUsage(s, 0x7FE000).percent, 100.0);
  s.rsAdvancedWord = 0x08;  // the logger counts bytes
  EXPECT_EQ(ComputeMemoryUsage(s, 48 + 3 * 600000).text, "21.5%, 1800K bytes");
  EXPECT_EQ(ComputeMemoryUsage(s, 48 + 3 * 100).text, "<0.1%, 300 bytes");
}

TEST(MemoryUsage, OlderLoggersByModelAndFirmware) {
  const uint32_t base = 0x20000;
  // Header readings: none for NA below 1.5, five up to 2.15, ten for NA from 2.15 and NB from 1.5.
  for (const auto& [model, firmware, readings] :
       {std::tuple{"NA-7100", 1.4f, 100}, std::tuple{"NA-7100", 1.5f, 95},
        std::tuple{"NA-7100", 2.1f, 95}, std::tuple{"NA-7100", 2.15f, 90},
        std::tuple{"NB-7100", 1.5f, 90}}) {
    EXPECT_EQ(ComputeMemoryUsage(Older(model, firmware), base + 300).readings, readings)
        << model << " " << firmware;
  }
  // VS: the parameter block.
  LoggerState vs = Older("VS-330", 4.3f, 3);
  vs.parameterBlockLength = 30;
  EXPECT_EQ(ComputeMemoryUsage(vs, base + 300).readings, 90);
  EXPECT_EQ(ComputeMemoryUsage(vs, base + 30 + 3 * 3000).text, "0.2%, 1K readings");

  // The larger memory from NA/NB 3.15 and VS 4.0 on.
  const double small = 390000 * 100.0 / 1961952;
  for (const auto& [model, firmware, percent] :
       {std::tuple{"NA-7100", 3.15f, 10.0}, std::tuple{"NB-7100", 3.2f, 10.0},
        std::tuple{"VS-330", 4.0f, 10.0},
        std::tuple{"NA-7100", 3.1f, small}, std::tuple{"NMV-7400", 3.4f, small}}) {
    EXPECT_NEAR(ComputeMemoryUsage(Older(model, firmware, 3), base + 390000).percent, percent, 1e-9)
        << model << " " << firmware;
  }

  // Caps: at most 100 %, never fewer than no readings, even for a pointer below the start.
  EXPECT_EQ(ComputeMemoryUsage(Older("NA-7100", 2.2f), 0x3FFFFF).percent, 100.0);
  const MemoryUsage below = ComputeMemoryUsage(Older("NA-7100", 2.2f), 0x100);
  EXPECT_EQ(below.readings, 0);
  EXPECT_EQ(below.percent, 0.0);
}

TEST(EmptyMemoryMessage, OffersTheStopOnlyWhileEnabled) {
  EXPECT_STREQ(EmptyMemoryMessage(2), "No data in memory - You may stop the logger.");
  for (int idle : {0, 4, 8}) EXPECT_STREQ(EmptyMemoryMessage(idle), "No data in memory.");
}

// A VS-330 in the given status, with the command level forced to `level`.
struct Prepared {
  Prepared(int status, int level, std::vector<Answer> answers = {}, bool continuousPower = false)
      : f("VS-330", [status](sim::SimProfile& p) {
          p.status = status;
          if (status != 1) return;
          p.start = "261201000000";  // enabled, still to start
          p.end = "270101000000";
        }) {
    EXPECT_TRUE(f.Connect());
    EXPECT_EQ(f.logger.CommGet(9), 1);
    EXPECT_EQ(f.logger.status.code, status);
    f.logger.state.commandLevel = level;
    f.deployment.continuousPower = continuousPower;
    f.host.answers = std::move(answers);
  }
  RetrievalPreparation Run(bool stopButton = false) {
    return PrepareForRetrieval(f.logger, stopButton, hold);
  }
  int Asked() const {
    return static_cast<int>(std::count_if(f.host.events.begin(), f.host.events.end(),
                                          [](const auto& e) { return e.kind == "ask"; }));
  }
  SimLinkFixture f;
  RetrievalHold hold;
};

// Per status, command level and answers: the outcome, whether a question was asked, the stop
// ("!9") and suspend ("!S") commands sent, and the logger's status afterwards.
TEST(PrepareForRetrieval, StopSuspendOrLeaveAloneByStatusAndCommandLevel) {
  using enum RetrievalPreparation;
  const char* const kCannot =
      "Data cannot be retrieved from an KLX NA-7100 version 1.0 logger\nwhen it is still "
      "collecting data.";
  struct Case {
    int status, level;
    std::vector<Answer> answers;
    RetrievalPreparation result;
    bool asked;
    int stops, suspends = 0;
    int after = -1;                 // the logger's status afterwards; -1: not checked
    const char* message = nullptr;  // the status line's text (the box's for kCannot)
    int realTimeOff = -1;           // "!B00" commands; -1: not checked
    bool stopButton = false, continuousPower = false;
  };
  const Case cases[] = {
      // The stop button stops and restarts the retrieval, without a question.
      {2, 3, {}, Restart, false, 1, 0, 4, nullptr, 1, true},
      // A complete logger on continuous power is stopped; otherwise it is left alone.
      {4, 2, {}, Proceed, false, 1, 0, -1, nullptr, 1, false, true},
      {4, 3, {}, Proceed, false, 0},
      {4, 1, {}, Proceed, false, 0, 0, -1, nullptr, -1, false, true},
      // Level 4 may keep logging; No stops it; Cancel aborts.
      {6, 4, {Answer::Yes}, Proceed, true, 0},
      {2, 4, {Answer::No}, Proceed, true, 1, 0, 4, "Stopping logger"},
      {2, 4, {Answer::Cancel}, Abort, true, 0},
      // Level 3 suspends on Yes and stops on No.
      {2, 3, {Answer::Yes}, Proceed, true, 0, 1, 5, "Suspending logging"},
      {1, 3, {Answer::No}, Proceed, true, 1},
      {1, 3, {Answer::Cancel}, Abort, true, 0},
      // Must be stopped.
      {1, 2, {Answer::Ok}, Proceed, true, 1, 0, 4},
      {3, 3, {Answer::Ok}, Proceed, true, 1, 0, 4},
      {3, 3, {Answer::Cancel}, Abort, true, 0},
      // Level 1 cannot be read while collecting.
      {2, 1, {}, Abort, false, 0, 0, -1, kCannot},
      // Nothing to do.
      {0, 3, {}, Proceed, false, 0},
      {3, 4, {}, Proceed, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + "/" + std::to_string(c.level) + " answers " +
                 std::to_string(c.answers.size()));
    Prepared p(c.status, c.level, c.answers, c.continuousPower);
    EXPECT_EQ(p.Run(c.stopButton), c.result);
    EXPECT_EQ(p.Asked(), c.asked ? 1 : 0);
    EXPECT_EQ(std::make_pair(p.f.Heard("!9"), p.f.Heard("!S")),
              std::make_pair(c.stops, c.suspends));
    EXPECT_EQ(std::make_pair(p.hold.stopped, p.hold.suspended),
              std::make_pair(c.stops > 0, c.suspends > 0));
    if (c.after >= 0) {
      EXPECT_EQ(p.f.simLogger->Status(), c.after);
    }
    if (c.message) {
      EXPECT_TRUE(p.f.host.Saw(c.message == kCannot ? "tell" : "status", c.message));
    }
    if (c.realTimeOff >= 0) {
      EXPECT_EQ(p.f.Heard("!B00"), c.realTimeOff);
    }
  }
}

TEST(ResumeAfterRetrieval, OnlyASuspendedLoggerIsResumedAndOnce) {
  Prepared p(2, 3, {Answer::Yes});
  ASSERT_EQ(p.Run(), RetrievalPreparation::Proceed);
  EXPECT_EQ(ResumeAfterRetrieval(p.f.logger, p.hold), ResumeResult::Resumed);
  EXPECT_FALSE(p.hold.suspended);
  EXPECT_EQ(p.f.simLogger->Status(), 2);
  EXPECT_EQ(p.f.host.status[kStatusMessagePart], "Logger resumed sampling");
  // Once resumed there is nothing left to resume.
  const int resumes = p.f.Heard("!R");
  EXPECT_EQ(ResumeAfterRetrieval(p.f.logger, p.hold), ResumeResult::NotNeeded);
  EXPECT_EQ(p.f.Heard("!R"), resumes);
}

TEST(ResumeAfterRetrieval, ALoggerThatDoesNotResumeIsReported) {
  Prepared p(2, 3, {Answer::Yes});
  ASSERT_EQ(p.Run(), RetrievalPreparation::Proceed);
  p.f.simLogger->SilenceNextCommands(1000);
  EXPECT_EQ(ResumeAfterRetrieval(p.f.logger, p.hold), ResumeResult::Failed);
  EXPECT_TRUE(p.f.host.Saw("tell", "Logger failed to resume."));
}

}  // namespace
}  // namespace klx::test
