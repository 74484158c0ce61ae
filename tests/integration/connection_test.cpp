// Finding and identifying simulated loggers through the in-process loopback on a virtual clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "records/deployment_parameters.h"
#include "link/logger_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/loopback.h"
#include "platform/port_map.h"
#include "sim/sim_profile.h"
#include "sim/sim_transport.h"
#include "transcript.h"

namespace klx::test {
namespace {

// A far end that never answers.
class DeadLine : public LineDevice {
 public:
  void Receive(const uint8_t* data, size_t count, int baud, int64_t, LineOutput&) override {
    for (size_t i = 0; i < count; ++i) writes.push_back({static_cast<char>(data[i]), baud});
  }
  std::vector<std::pair<char, int>> writes;
};

// One host with a simulated logger behind "rec:logger", every byte written down.
struct SimHost {
  explicit SimHost(const sim::SimProfile& profile) {
    sims = sim::RegisterSimTransport(transports, clock);
    logger = std::make_shared<sim::SimLogger>(profile);
    recorder = std::make_shared<RecordingDevice>(logger);
    transports.Register("rec:", [this](std::string_view) {
      return std::make_unique<LoopbackPort>("rec:", recorder, clock);
    });
    link.loggerPort = ports.NumberFor("rec:logger");
  }
  static sim::SimProfile Profile(const std::string& name) {
    sim::SimProfile p;
    std::string error;
    EXPECT_TRUE(sim::LoadProfile(name, p, error)) << error;
    return p;
  }
  // Rates at which the host wrote "A".
  std::vector<int> IdentifyRates() const {
    std::vector<int> rates;
    for (const auto& s : recorder->transcript.steps)
      if (s.fromHost && s.bytes == "A") rates.push_back(s.baud);
    return rates;
  }
  size_t HostWrites() const {
    return static_cast<size_t>(std::count_if(recorder->transcript.steps.begin(),
                                             recorder->transcript.steps.end(),
                                             [](const auto& s) { return s.fromHost; }));
  }

  VirtualClock clock;
  TransportRegistry transports;
  std::shared_ptr<sim::SimLoggers> sims;
  std::shared_ptr<sim::SimLogger> logger;
  std::shared_ptr<RecordingDevice> recorder;
  PortMap ports;
  SerialLink link{transports, ports, clock};
  RecordingHost host;
  DeploymentParameters deployment;
  LoggerLink link_logger{link, host, deployment};
};

TEST(Connect, LoggerAt2400IsFoundAfter19200And1200) {
  SimHost h(SimHost::Profile("NB-7100-2400"));
  ASSERT_TRUE(h.link_logger.ConnectCommand());
  EXPECT_EQ(h.IdentifyRates(), (std::vector<int>{19200, 19200, 1200, 1200, 2400}));
  EXPECT_EQ(h.link.currentBaudRate, 2400);
  EXPECT_EQ(h.link.baudIndex, 1);
  EXPECT_EQ(h.host.status[kStatusConnectionPart], "2400 baud");
  EXPECT_EQ(h.link_logger.state.model, "NB-7100");
  EXPECT_EQ(h.host.status[kStatusMessagePart],
            "KLX Data Logger: NB-7100  3.20 020518 connected on COM1 at 2400 baud.");
}

TEST(Connect, NoLoggerTriesSixRatesTwiceEachAndRestoresTheRate) {
  VirtualClock clock;
  TransportRegistry transports;
  auto dead = std::make_shared<DeadLine>();
  transports.Register("dead:", [&](std::string_view) {
    return std::make_unique<LoopbackPort>("dead:", dead, clock);
  });
  PortMap ports;
  SerialLink link(transports, ports, clock);
  link.loggerPort = ports.NumberFor("dead:x");
  RecordingHost host;
  DeploymentParameters d;
  LoggerLink logger(link, host, d);
  EXPECT_FALSE(logger.ConnectCommand());
  std::vector<int> rates;
  for (const auto& [c, baud] : dead->writes) {
    EXPECT_EQ(c, 'A');
    rates.push_back(baud);
  }
  EXPECT_EQ(rates, (std::vector<int>{19200, 19200, 1200, 1200, 2400, 2400, 4800, 4800, 9600, 9600,
                                     19200, 19200}));
  EXPECT_EQ(host.status[kStatusMessagePart], "Unable to Communicate with Logger on COM1");
  EXPECT_EQ(host.icon, StatusIcon::Warning);
  EXPECT_EQ(host.status[kStatusConnectionPart], "Not connected");
  EXPECT_EQ(link.currentBaudRate, 19200);
  EXPECT_EQ(link.baudIndex, 4);
  EXPECT_FALSE(logger.state.connected);
}

TEST(Connect, PortThatCannotOpenIsReported) {
  VirtualClock clock;
  TransportRegistry transports;
  PortMap ports;
  SerialLink link(transports, ports, clock);
  link.loggerPort = ports.NumberFor("/nonexistent/tty");
  RecordingHost host;
  DeploymentParameters d;
  LoggerLink logger(link, host, d);
  EXPECT_FALSE(logger.ConnectLogger());
  EXPECT_EQ(host.status[kStatusMessagePart],
            "Unable to open COM1 - bad port setting or another application holds the port.");
}

TEST(Connect, ExtendedCommandSetStartsAbove499) {
  for (const auto& [firmware, extended] :
       std::vector<std::pair<std::string, bool>>{{"4.99", false}, {"5.00", true}}) {
    auto p = SimHost::Profile("VS-330");
    p.firmware = firmware;
    SimHost h(p);
    ASSERT_TRUE(h.link_logger.ConnectLogger()) << firmware;
    EXPECT_EQ(h.link_logger.state.extendedCommandSet, extended) << firmware;
  }
}

TEST(Connect, SameSerialReconnectReadsNothingAgain) {
  SimHost h(SimHost::Profile("NMJ-7400"));
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  h.link_logger.AssessCapabilities();
  ASSERT_EQ(h.link_logger.CommGet(16), 1);
  const size_t afterFirst = h.HostWrites();
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  h.link_logger.AssessCapabilities();
  EXPECT_EQ(h.link_logger.CommGet(16), 1);
  EXPECT_EQ(h.HostWrites(), afterFirst + 1) << "only the identification is sent again";
  EXPECT_FALSE(h.link_logger.state.capabilitiesStale);
}

TEST(Connect, ChangedLoggerWithUnsavedDataAsksAndSavesFirst) {
  SimHost h(SimHost::Profile("VS-330"));
  bool unsaved = true;
  int saves = 0, hides = 0;
  h.link_logger.hooks.hasUnsavedData = [&] { return unsaved; };
  h.link_logger.hooks.saveData = [&] {
    ++saves;
    unsaved = false;
  };
  h.link_logger.hooks.markSaved = [&] { unsaved = false; };
  h.link_logger.hooks.hideDisplay = [&] { ++hides; };
  h.link_logger.state.previousSerial = 123;  // data came from logger 000123
  h.link_logger.state.calibrationStale = false;
  h.host.answers = {Answer::Yes};
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  EXPECT_TRUE(h.host.Saw("ask",
                         "Logger has changed from 000123 to 040211.\nRetrieved data from "
                         "000123 has not been saved."));
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(hides, 1);
  EXPECT_TRUE(h.link_logger.state.calibrationStale);
  EXPECT_EQ(h.link_logger.state.previousSerial, 40211);

  // Answering No drops the old data's unsaved mark instead.
  SimHost g(SimHost::Profile("VS-330"));
  unsaved = true;
  g.link_logger.hooks = h.link_logger.hooks;
  g.link_logger.state.previousSerial = 5;
  g.host.answers = {Answer::No};
  ASSERT_TRUE(g.link_logger.ConnectLogger());
  EXPECT_FALSE(unsaved);
  EXPECT_EQ(saves, 1);
}

TEST(Connect, SaveThatDoesNotHappenKeepsTheOldDataAndDoesNotConnect) {
  SimHost h(SimHost::Profile("VS-330"));
  h.link_logger.hooks.hasUnsavedData = [] { return true; };
  h.link_logger.hooks.saveData = [] {};  // the user cancelled the save dialog
  h.link_logger.state.previousSerial = 123;
  h.link_logger.state.previousModel = "NA-7100";
  h.host.answers = {Answer::Yes};
  EXPECT_FALSE(h.link_logger.ConnectLogger());
  EXPECT_EQ(h.link_logger.state.serial, 123);
  EXPECT_EQ(h.link_logger.state.previousSerial, 123);
}

TEST(Configuration, TwentyFiveChannelsMeanNoTable) {
  auto p = SimHost::Profile("VS-330");
  p.channels.assign(25, sim::SimChannel{'P', 0});
  SimHost h(p);
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  h.link_logger.AssessCapabilities();
  ASSERT_EQ(h.link_logger.CommGet(16), 1);
  EXPECT_EQ(h.link_logger.state.channelCount, 1);
  EXPECT_EQ(h.link_logger.state.latencyMs, 300);
  EXPECT_EQ(h.link_logger.state.readingTimeMs, 200);
}

TEST(Configuration, LowerCaseLettersBecomeTemperatureAndSBecomesC) {
  for (const char* profile : {"VS-330", "NMJ-7400"}) {
    auto p = SimHost::Profile(profile);
    p.channels = {{'y', 0}, {'S', 0}, {'P', 0}};
    p.latencyMs = 450;
    p.readingTimeMs = 300;
    SimHost h(p);
    ASSERT_TRUE(h.link_logger.ConnectLogger());
    h.link_logger.AssessCapabilities();
    ASSERT_EQ(h.link_logger.CommGet(16), 1) << profile;
    EXPECT_EQ(h.link_logger.state.channelTypes, "TCP") << profile;
    EXPECT_FALSE(h.link_logger.state.standardChannels) << profile;
    EXPECT_EQ(h.link_logger.state.latencyMs, 450) << profile;
    EXPECT_EQ(h.link_logger.state.readingTimeMs, 300) << profile;
  }
}

TEST(Configuration, CorruptBlockAndMissingTableAreReported) {
  // A logger that stops answering: five reads of the block, then the message.
  SimHost h(SimHost::Profile("VS-330"));
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  h.link_logger.state.capabilitiesStale = false;
  h.logger->SilenceNextCommands(100);
  EXPECT_EQ(h.link_logger.ReadConfiguration(), 0);
  EXPECT_TRUE(h.host.Saw("status", "Configuration Table read failed."));
  size_t blockReads = 0;
  for (const auto& step : h.recorder->transcript.steps)
    if (step.fromHost && step.bytes == "I00000200C9FF0100") ++blockReads;
  EXPECT_EQ(blockReads, 5u);

  auto nmj = SimHost::Profile("NMJ-7400");
  nmj.faults.unknown = {"R0100"};
  SimHost g(nmj);
  ASSERT_TRUE(g.link_logger.ConnectLogger());
  g.link_logger.AssessCapabilities();
  EXPECT_EQ(g.link_logger.ReadConfiguration(), 0);
  EXPECT_TRUE(g.host.Saw("status", "GetConfigTable error"));
}

TEST(Capabilities, ExtendedLoggerReportsItsMaskAndEntries) {
  SimHost h(SimHost::Profile("NMJ-7400"));
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  h.link_logger.AssessCapabilities();
  const auto& s = h.link_logger.state;
  const auto& caps = h.logger->Profile().capabilities;
  ASSERT_TRUE(caps.count(0));
  EXPECT_EQ(s.capabilityMask, caps.at(0));
  if (caps.at(0) & 1u) {
    EXPECT_EQ(s.memoryTypeCode, static_cast<int>(caps.at(1)));
    EXPECT_EQ(s.memorySizeMb, caps.at(1) >= 3 ? 8 : (caps.at(1) == 2 ? 4 : 2));
  }
  EXPECT_EQ(s.waves, ((caps.at(0) >> 16) & 1u) != 0);
  EXPECT_FALSE(h.host.Saw("status", "Read capabilities error"));
  EXPECT_TRUE(h.host.Saw("status", "Assessing logger capabilities + + "));
}

TEST(Capabilities, OlderLoggersDeriveTheirFields) {
  struct Case {
    const char* profile;
    int commandLevel;
    int memoryMb;
  } cases[] = {{"NA-7100", 3, 2}, {"NA-7100-1.40", 1, 2}, {"NB-7100", 3, 4}};
  for (const auto& c : cases) {
    SimHost h(SimHost::Profile(c.profile));
    ASSERT_TRUE(h.link_logger.ConnectLogger()) << c.profile;
    h.link_logger.AssessCapabilities();
    EXPECT_EQ(h.link_logger.state.commandLevel, c.commandLevel) << c.profile;
    EXPECT_EQ(h.link_logger.state.averaging, 0u) << c.profile;
    EXPECT_EQ(h.link_logger.state.memorySizeMb, c.memoryMb) << c.profile;
  }
  SimHost vs(SimHost::Profile("VS-330-2.50"));
  ASSERT_TRUE(vs.link_logger.ConnectLogger());
  vs.link_logger.AssessCapabilities();
  EXPECT_TRUE(vs.link_logger.state.frontendThroughCommunications);
  EXPECT_TRUE(vs.link_logger.state.reportsBatteryVoltage);
  EXPECT_EQ(vs.link_logger.state.commandLevel, 3);
  EXPECT_EQ(vs.link_logger.state.expressDownloadRate, 0);  // firmware 2.50 is below 2.65
}

TEST(Capabilities, MinimumHostVersionAboveOursIsShown) {
  auto p = SimHost::Profile("NMJ-7400");
  p.capabilities[0] |= 1u << 13;
  p.minHostVersion = "7.05";
  SimHost h(p);
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  h.link_logger.AssessCapabilities();
  EXPECT_TRUE(h.host.Saw("tell", "by a minimum version of KLX Windows Software of 7.05."));
  EXPECT_FLOAT_EQ(h.link_logger.state.minimumHostVersion, 7.05f);
}

TEST(ExpressBaud, VsLoggerSwitchesAndIsFoundAtTheNewRate) {
  SimHost h(SimHost::Profile("VS-330"));
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  EXPECT_TRUE(h.link_logger.SetExpressBaud(57600));
  EXPECT_EQ(h.link.currentBaudRate, 57600);
  EXPECT_TRUE(h.link_logger.state.connected);
  EXPECT_EQ(h.logger->CurrentBaud(), 57600);
  const auto rates = h.IdentifyRates();
  ASSERT_FALSE(rates.empty());
  EXPECT_EQ(rates.back(), 57600);
}

TEST(DefaultBaud, RateCodesAndTheDivisorThatWraps) {
  EXPECT_EQ(LoggerLink::DefaultRateCode(19200), 13);
  EXPECT_EQ(LoggerLink::DefaultRateFromCode(13), 19200);
  EXPECT_EQ(LoggerLink::DefaultRateFromCode(LoggerLink::DefaultRateCode(9600)), 9600);
  EXPECT_EQ(LoggerLink::DefaultRateFromCode(254), 0);  // (254 + 2) mod 256 is 0
}

TEST(Latency, WrittenIntoTheConfigurationTableAndReadBack) {
  SimHost h(SimHost::Profile("NMJ-7400"));
  ASSERT_TRUE(h.link_logger.ConnectLogger());
  h.link_logger.AssessCapabilities();
  ASSERT_EQ(h.link_logger.ReadConfiguration(), 1);
  ASSERT_TRUE(h.link_logger.SetLatency(470));
  EXPECT_EQ(h.host.status[kStatusMessagePart], "Latency update successful");
  ASSERT_EQ(h.link_logger.ReadConfiguration(), 1);
  EXPECT_EQ(h.link_logger.state.latencyMs, 470);

  h.logger->NakNextWrites(1);
  EXPECT_FALSE(h.link_logger.SetLatency(300));
  EXPECT_EQ(h.host.status[kStatusMessagePart], "Configuration table send error");
}

TEST(Faults, GarbageAndTruncatedRepliesDoNotCrash) {
  // A far end that answers every command with random bytes.
  class Noise : public LineDevice {
   public:
    void Receive(const uint8_t*, size_t, int, int64_t now, LineOutput& out) override {
      std::string s;
      const size_t n = 1 + (seed_ % 200);
      for (size_t i = 0; i < n; ++i) {
        seed_ = seed_ * 1103515245u + 12345u;
        s += static_cast<char>((seed_ >> 16) & 0xFF);
      }
      if (++calls_ % 3 == 0) s = "KLX " + s;  // sometimes looks like an identification
      out.Send(s, now + 1);
    }
    uint32_t seed_ = 7;
    int calls_ = 0;
  };
  VirtualClock clock;
  TransportRegistry transports;
  auto noise = std::make_shared<Noise>();
  transports.Register("noise:", [&](std::string_view) {
    return std::make_unique<LoopbackPort>("noise:", noise, clock);
  });
  PortMap ports;
  SerialLink link(transports, ports, clock);
  link.loggerPort = ports.NumberFor("noise:x");
  RecordingHost host;
  DeploymentParameters d;
  LoggerLink logger(link, host, d);
  for (int round = 0; round < 20; ++round) {
    logger.state.SetAllStale();
    logger.state.extendedCommandSet = round % 2 == 0;
    logger.ConnectLogger();
    logger.AssessCapabilities();
    logger.ReadConfiguration();
    for (int n : {1, 2, 3, 4, 6, 9, 17, 20, 21, 27, 28, 30, 31, 32, 33}) logger.CommGet(n);
    EXPECT_LE(logger.state.channelCount, LoggerState::kMaxChannels);
    EXPECT_LE(logger.state.channelTypes.size(), static_cast<size_t>(LoggerState::kMaxChannels));
  }
}

}  // namespace
}  // namespace klx::test
