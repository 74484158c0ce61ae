// Deployment against simulated loggers as a real one answers: the capability assessment before
// a setup of an older VS-550, and the range switching tables written, read back and compared
// whether the logger returns the 25 bytes it was sent or all 26.
#include <gtest/gtest.h>

#include <filesystem>

#include "deployment/enable.h"
#include "deployment/range_switching.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "session/session.h"
#include "sim/sim_profile.h"
#include "sim/sim_transport.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

struct Rig {
  explicit Rig(const std::string& profile)
      : dir(fs::temp_directory_path() /
            ("klx-deploy-fidelity-" + std::to_string(::getpid()) + "-" + profile)),
        session((fs::create_directories(dir), host), clock, dir, {}) {
    sims = sim::RegisterSimTransport(session.transports, clock);
    sim::SimProfile p;
    std::string error;
    EXPECT_TRUE(sim::LoadProfile(profile, p, error)) << error;
    logger = std::make_shared<sim::SimLogger>(p);
    sims->Add("test", logger);
    session.ReadSettings();
    EXPECT_TRUE(session.SelectPort("sim:test", &error)) << error;
    EXPECT_TRUE(session.logger.ConnectCommand());
  }
  ~Rig() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  VirtualClock clock{SystemTime{2026, 9, 1, 2, 12, 0, 0, 0}};
  RecordingHost host;
  Session session;
  std::shared_ptr<sim::SimLoggers> sims;
  std::shared_ptr<sim::SimLogger> logger;
};

// A VS-550 of firmware 4.99 or below is assessed like any other logger before a setup: its
// memory size and express rate are its own; only its wave bursts are taken away.
TEST(SetupAssessment, OlderVs550GetsItsOwnCapabilities) {
  Rig rig("VS-550");
  ASSERT_LE(rig.session.logger.state.firmware, 4.99f);
  AssessCapabilitiesForSetup(rig.session.logger);
  const LoggerState& s = rig.session.logger.state;
  EXPECT_FALSE(s.capabilitiesStale);
  EXPECT_EQ(s.memorySizeMb, 4);             // memory type 2 in capability entry 1
  EXPECT_EQ(s.expressDownloadRate, 57600);  // capability entry 13
  EXPECT_TRUE(s.profiling6Hz);              // capability mask bit 1
  EXPECT_FALSE(s.waves);
}

// The tables go out as 25 bytes; the logger holds 26 at first and returns what it was sent
// afterwards. Both lengths read, and a change of gain is written, checked and read back.
TEST(RangeSwitchingTables, WriteReadBackAndCompareWhateverTheLength) {
  Rig rig("VS-330-FT");
  LoggerLink& link = rig.session.logger;
  link.AssessCapabilities();
  ASSERT_EQ(link.CommGet(16), 1);
  RangeSwitching r;
  ASSERT_TRUE(ReadRangeSwitching(link, r));  // 26 data bytes as the logger was set up
  EXPECT_EQ(link.state.channelTypes, "TPfy");
  ASSERT_TRUE(r.Switches(2));
  ASSERT_TRUE(r.Switches(3));

  SetChannelFixedGain(r, 2, 2, kUserFixedGain, kSeapointFluorometer);
  ASSERT_TRUE(WriteRangeSwitching(link, r)) << rig.host.status[1];
  EXPECT_TRUE(rig.host.Saw("status",
                           "Range switching behaviour and Extended channel capabilities write "
                           "success"));
  EXPECT_FALSE(rig.host.Saw("status", "retrieve error"));
  const auto stored = rig.logger->Table(5);
  ASSERT_TRUE(stored.has_value());
  ASSERT_GE(stored->size(), 25u);
  EXPECT_EQ((*stored)[3], (2 << 5) | (kUserFixedGain << 3) | kSeapointFluorometer);

  RangeSwitching again;
  ASSERT_TRUE(ReadRangeSwitching(link, again));  // now the 25 bytes it was sent
  // Byte 0 is worked out afresh on every read; the channels' bytes are what was written.
  EXPECT_TRUE(std::equal(again.behaviour.begin() + 1, again.behaviour.begin() + 25,
                         r.behaviour.begin() + 1));
  EXPECT_EQ(again.behaviour[25], 0xFF);  // no channel 25
  EXPECT_EQ(RangeSwitching::Gain(again.behaviour[3]), 2);
}

}  // namespace
}  // namespace klx::test
