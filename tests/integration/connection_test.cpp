// Finding and identifying simulated loggers through the in-process loopback on a virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "sim/sim_host.h"
#include "transcript.h"

namespace klx::test {
namespace {

struct DeadLine : LineDevice {  // a far end that never answers
  void Receive(const uint8_t*, size_t, int, int64_t, LineOutput&) override {}
};

using sim::test::Profile;

struct SimHost : LinkHost {
  explicit SimHost(const sim::SimProfile& p) : SimHost(std::make_shared<sim::SimLogger>(p)) {}
  explicit SimHost(std::shared_ptr<sim::SimLogger> l) : LinkHost(l), sim(std::move(l)) {}
  // Connects and reads the capabilities; with `configuration`, the configuration table too.
  void Connect(bool configuration = false) {
    ASSERT_TRUE(logger.ConnectLogger());
    logger.AssessCapabilities();
    if (configuration) {
      ASSERT_EQ(logger.CommGet(16), 1);
    }
  }
  std::shared_ptr<sim::SimLogger> sim;
};

TEST(Connect, AFailureIsReported) {
  // Nobody answers: six rates twice each, and the first rate back.
  LinkHost dead(std::make_shared<DeadLine>());
  EXPECT_FALSE(dead.logger.ConnectCommand());
  EXPECT_EQ(dead.IdentifyRates(), (std::vector<int>{19200, 19200, 1200, 1200, 2400, 2400, 4800,
                                                    4800, 9600, 9600, 19200, 19200}));
  EXPECT_EQ(dead.host.status[kStatusMessagePart], "Unable to Communicate with Logger on COM1");
  EXPECT_EQ(std::tie(dead.link.currentBaudRate, dead.link.baudIndex, dead.logger.state.connected),
            std::make_tuple(19200, 4, false));
}

TEST(Connect, ChangedLoggerWithUnsavedDataAsksAndSavesFirst) {
  bool unsaved = true;
  int saves = 0, hides = 0;
  SimHost h(Profile("VS-330"));
  h.logger.hooks.hasUnsavedData = [&] { return unsaved; };
  h.logger.hooks.saveData = [&] { ++saves, unsaved = false; };
  h.logger.hooks.hideDisplay = [&] { ++hides; };
  h.logger.state.previousSerial = 123;  // data came from logger 000123
  h.logger.state.calibrationStale = false;
  h.host.answers = {Answer::Yes};
  ASSERT_TRUE(h.logger.ConnectLogger());
  EXPECT_TRUE(h.host.Saw("ask",
                         "Logger has changed from 000123 to 040211.\nRetrieved data from "
                         "000123 has not been saved."));
  EXPECT_EQ(std::tie(saves, hides, h.logger.state.calibrationStale, h.logger.state.previousSerial),
            std::make_tuple(1, 1, true, 40211));

  // A save that does not happen (the dialog cancelled) keeps the old data and does not connect.
  SimHost cancel(Profile("VS-330"));
  cancel.logger.hooks.hasUnsavedData = [] { return true; };
  cancel.logger.hooks.saveData = [] {};
  cancel.logger.state.previousSerial = 123;
  cancel.logger.state.previousModel = "NA-7100";
  cancel.host.answers = {Answer::Yes};
  EXPECT_FALSE(cancel.logger.ConnectLogger());
  EXPECT_EQ(std::tie(cancel.logger.state.serial, cancel.logger.state.previousSerial),
            std::make_tuple(123, 123));
}

TEST(Configuration, ChannelLettersCountAndTimings) {
  // Lower-case letters become temperature and S becomes C; 25 channels mean no table.
  for (const char* profile : {"VS-330", "NMJ-7400"}) {
    auto p = Profile(profile);
    p.channels = {{'y', 0}, {'S', 0}, {'P', 0}};
    p.latencyMs = 450;
    p.readingTimeMs = 300;
    SimHost h(p);
    h.Connect(true);
    const auto& s = h.logger.state;
    EXPECT_EQ(s.channelTypes, "TCP") << profile;
    EXPECT_FALSE(s.standardChannels) << profile;
    EXPECT_EQ(std::make_pair(s.latencyMs, s.readingTimeMs), std::make_pair(450, 300)) << profile;
  }
  auto p = Profile("VS-330");
  p.channels.assign(25, sim::SimChannel{'P', 0});
  SimHost h(p);
  h.Connect(true);
  EXPECT_EQ(h.logger.state.channelCount, 1);
  EXPECT_EQ(std::make_pair(h.logger.state.latencyMs, h.logger.state.readingTimeMs),
            std::make_pair(300, 200));
}

TEST(Configuration, CorruptBlockAndMissingTableAreReported) {
  // A logger that stops answering: five reads of the block, then the message.
  SimHost h(Profile("VS-330"));
  ASSERT_TRUE(h.logger.ConnectLogger());
  h.logger.state.capabilitiesStale = false;
  h.sim->SilenceNextCommands(100);
  EXPECT_EQ(h.logger.ReadConfiguration(), 0);
  EXPECT_TRUE(h.host.Saw("status", "Configuration Table read failed."));
  const auto writes = h.HostWrites();
  EXPECT_EQ(std::count(writes.begin(), writes.end(), "I00000200C9FF0100"), 5);

  auto nmj = Profile("NMJ-7400");
  nmj.faults.unknown = {"R0100"};
  SimHost g(nmj);
  g.Connect();
  EXPECT_EQ(g.logger.ReadConfiguration(), 0);
  EXPECT_TRUE(g.host.Saw("status", "GetConfigTable error"));
}

TEST(Capabilities, ReadFromExtendedLoggersDerivedForOlderOnes) {
  auto p = Profile("NMJ-7400");
  p.capabilities[0] |= 1u << 13;
  p.minHostVersion = "7.05";
  SimHost h(p);
  h.Connect();
  const auto& s = h.logger.state;
  // The profile's mask, and its memory type 4: 8 MB.
  EXPECT_EQ(std::tie(s.capabilityMask, s.memoryTypeCode, s.memorySizeMb, s.waves),
            std::make_tuple(p.capabilities.at(0), 4, 8, true));
  // A minimum host version above ours is shown.
  EXPECT_TRUE(h.host.Saw("tell", "by a minimum version of KLX Windows Software of 7.05."));
  EXPECT_FLOAT_EQ(s.minimumHostVersion, 7.05f);

  // Older loggers' levels (those of the recorded sessions are pinned by their golden files).
  SimHost o(Profile("NA-7100-1.40"));
  o.Connect();
  EXPECT_EQ(std::tie(o.logger.state.commandLevel, o.logger.state.averaging,
                     o.logger.state.memorySizeMb),
            std::make_tuple(1, 0u, 2));
  SimHost vs(Profile("VS-330-2.50"));
  vs.Connect();
  const auto& v = vs.logger.state;  // firmware 2.50: below 2.65, no express download
  EXPECT_EQ(std::tie(v.frontendThroughCommunications, v.reportsBatteryVoltage, v.commandLevel,
                     v.expressDownloadRate),
            std::make_tuple(true, true, 3, 0));
  for (const char* firmware : {"4.99", "5.00"}) {
    auto v = Profile("VS-330");
    v.firmware = firmware;
    SimHost e(v);
    ASSERT_TRUE(e.logger.ConnectLogger()) << firmware;
    EXPECT_EQ(e.logger.state.extendedCommandSet, firmware[0] == '5') << firmware;
  }
}

TEST(ExpressBaud, VsLoggerSwitchesAndIsFoundAtTheNewRate) {
  SimHost h(Profile("VS-330"));
  ASSERT_TRUE(h.logger.ConnectLogger());
  EXPECT_TRUE(h.logger.SetExpressBaud(57600));
  EXPECT_EQ(std::make_tuple(h.link.currentBaudRate, h.logger.state.connected, h.sim->CurrentBaud(),
                            h.IdentifyRates().back()),
            std::make_tuple(57600, true, 57600, 57600));
  EXPECT_EQ(LoggerLink::DefaultRateCode(19200), 13);
  EXPECT_EQ(LoggerLink::DefaultRateFromCode(254), 0);  // (254 + 2) mod 256 is 0
}

TEST(Latency, ReconnectReadsNothingAgainAndTheLatencyIsWrittenAndReadBack) {
  SimHost h(Profile("NMJ-7400"));
  h.Connect(true);
  const size_t afterFirst = h.HostWrites().size();
  h.Connect(true);
  EXPECT_EQ(h.HostWrites().size(), afterFirst + 1) << "only the identification is sent again";
  ASSERT_TRUE(h.logger.SetLatency(470));
  ASSERT_EQ(h.logger.ReadConfiguration(), 1);
  EXPECT_EQ(h.logger.state.latencyMs, 470);
  h.sim->NakNextWrites(1);
  EXPECT_FALSE(h.logger.SetLatency(300));
}

}  // namespace
}  // namespace klx::test
