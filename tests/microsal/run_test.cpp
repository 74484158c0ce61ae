// The run's refusals and the bounded stop, against a scripted far end.
#include <gtest/gtest.h>

#include <cmath>

#include "link/link_fixture.h"
#include "microsal/run.h"

namespace klx {
namespace {

using test::LinkFixture;
using test::ScriptedDevice;

TEST(MicrosalStart, RefusesLoggersThatAreNoMicrosalinometerOrAreLogging) {
  struct Case { const char* name; bool mode; int status; bool whileLogging; const char* refusal; };
  const Case cases[] = {
      {"stopped by the user", true, 8, false, nullptr},
      {"no micro-salinometer mode", false, 0, false, kNotMicrosalText},
      {"logging", true, 2, false, kMicrosalLoggingText},
      {"enabled", true, 1, false, kMicrosalLoggingText},
      {"logging, but allowed to", true, 2, true, nullptr},
  };
  for (const auto& c : cases) {
    LoggerState s;
    s.model = "HL-240", s.microSalinometerMode = c.mode, s.commandLevelFlag4 = c.whileLogging;
    EXPECT_STREQ(MicrosalStartRefusal(s, c.status), c.refusal) << c.name;
  }
}

TEST(MicrosalStart, ChannelsMustBeSampleTemperatureStandard) {
  for (const auto& [letters, ok] : std::vector<std::pair<std::string, bool>>{
           {"CTC", true}, {"CTCV", true}, {"CT", false}, {"TCC", false}}) {
    LoggerState s;
    s.channelTypes = letters, s.channelCount = static_cast<int>(letters.size());
    EXPECT_EQ(MicrosalChannelsAsExpected(s), ok) << letters;
  }
}

MicrosalStandardization Next() {
  MicrosalStandardization s;
  s.batch = "P165", s.k15 = 0.99993, s.standardOne = 0.61, s.sampleOne = 0.587, s.alpha = 1.0374125;
  return s;
}

TEST(MicrosalSave, UnusableGainOrUnreadCoefficientsAreRefusedBeforeAnyTraffic) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  CalibrationCoefficients cal;
  cal.coef[0] = {0.25, 2.0, 0, 0};
  const CalibrationCoefficients before = cal;
  MicrosalRun run(f.logger, f.clock, cal);
  run.calibrationRead = true;
  for (double alpha : {std::nan(""), double(INFINITY), 0.0, -1.04}) {
    MicrosalStandardization next = Next();
    next.alpha = alpha;
    EXPECT_FALSE(run.SaveStandardization(next));
    EXPECT_TRUE(f.host.Saw("tell", "not a finite, positive number"));
  }
  run.calibrationRead = false;
  EXPECT_FALSE(run.SaveStandardization(Next()));
  EXPECT_TRUE(f.host.Saw("tell", "could not be read when the Micro-Salinometer started"));
  EXPECT_TRUE(f.device->log.empty());
  EXPECT_EQ(cal, before);
  EXPECT_EQ(run.standardization, MicrosalStandardization{});
}

TEST(MicrosalStop, WaitingForAnIdleStatusIsBounded) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  int polls = 0;
  f.device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (d.received == "T") {
      ++polls;
      out.Send(polls < 4 ? "Logger status 02 00\r\n" : "Logger status 04 02\r\n", now + 1);
    }
    d.Clear();
  };
  f.logger.state.extendedCommandSet = true;
  EXPECT_TRUE(WaitUntilIdle(f.logger, f.clock, 20000, kMicrosalCaption));
  EXPECT_EQ(polls, 4);

  polls = -1000000;  // never idle
  const int64_t took = f.Elapsed([&] {
    EXPECT_FALSE(WaitUntilIdle(f.logger, f.clock, 5000, kMicrosalCaption));
  });
  EXPECT_GE(took, 5000);
  EXPECT_LT(took, 8000);
  EXPECT_TRUE(f.host.Saw("tell", "did not stop logging in time"));
}

}  // namespace
}  // namespace klx
