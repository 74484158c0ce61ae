// Retrieval end to end against the simulated loggers, through the in-process loopback on a
// virtual clock: the image must be the logger's memory, byte for byte, and the decoded series
// what the logger stored.
#include "session/retrieval.h"

#include <gtest/gtest.h>

#include <cmath>

#include "files/files_fixture.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "retrieval/transfer.h"
#include "session/session.h"
#include "sim/sim_host.h"
#include "sim/sim_transport.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;
using sim::test::Fresh;
using sim::test::Profile;

struct Rig {
  Rig(const fs::path& folder, const sim::SimProfile& p)
      : dir(folder), session(host, clock, dir, {}) {
    sims = sim::RegisterSimTransport(session.transports, clock);
    logger = std::make_shared<sim::SimLogger>(p);
    sims->Add("test", logger);
    session.ReadSettings();
    session.settings.derived.depthOn = true;  // the tide-and-wave logger asks for it
    std::string portError;
    EXPECT_TRUE(session.SelectPort("sim:test", &portError)) << portError;
  }
  // Runs the whole retrieval; false when it ended before the transfer.
  bool Retrieve(bool all = false) {
    Retrieval r(session);
    if (!r.Open()) return false;
    const bool started = r.Begin(all);
    while (r.Tick()) {
    }
    transfer = r.transfer().state;
    return started;
  }

  // The logger's data as the image must hold them: its data area up to the pointer, without
  // the bytes that older loggers never fill, ending on a whole word.
  std::vector<uint8_t> ExpectedImage() const {
    const bool linear = logger->Profile().IsExtended();
    const uint32_t pointer = logger->DataPointer();
    std::vector<uint8_t> bytes;
    for (uint32_t a = linear ? 0 : 0x20000; a < pointer; ++a) {
      if (!linear && ((a & 0xFFFF) == 0xFFFF || (a & 0xFFFFF) >= 0xFF7FE)) continue;
      bytes.push_back(logger->MemoryByte(a));
    }
    bytes.resize(bytes.size() - bytes.size() % 3);
    return bytes;
  }
  std::vector<uint8_t> Image() const {
    const auto& image = session.held.image;
    return {image.bytes.begin(), image.bytes.begin() + image.fill};
  }

  fs::path dir;
  VirtualClock clock{SystemTime{2026, 9, 1, 2, 12, 0, 0, 0}};
  RecordingHost host;
  Session session;
  std::shared_ptr<sim::SimLoggers> sims;
  std::shared_ptr<sim::SimLogger> logger;
  TransferState transfer;
};

TEST(BlockSize, FollowsTheLineRate) {
  const std::pair<int, int> cases[] = {{1200, 60},   {2400, 120},  {4800, 240},  {9600, 480},
                                       {19200, 480}, {28800, 480}, {57600, 960}, {115200, 960}};
  for (const auto& [rate, size] : cases) EXPECT_EQ(BlockSizeForRate(rate), size) << rate;
}

class EveryFamily : public TempDirTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EveryFamily, ImageIsTheLoggersMemoryAndDecodesToItsValues) {
  Rig rig(Dir(), Profile(GetParam()));
  ASSERT_TRUE(rig.Retrieve()) << GetParam();
  EXPECT_FALSE(rig.transfer.failed);
  const auto expected = rig.ExpectedImage();
  ASSERT_GT(expected.size(), 0u);
  EXPECT_EQ(rig.Image(), expected);
  EXPECT_EQ(rig.session.held.image.fill % 3, 0);

  const DataSet& data = rig.session.held.data;
  const sim::SimExpected truth = rig.logger->Expected();
  // The logger's channels; derived ones (depth is switched on) stand behind them.
  ASSERT_EQ(data.logger.channelCount, static_cast<int>(truth.types.size()));
  ASSERT_GE(data.channelCount, data.logger.channelCount);
  ASSERT_EQ(static_cast<size_t>(data.samplesPerChannel), truth.Rows());
  for (int ch = 0; ch < data.logger.channelCount; ++ch) {
    for (size_t row = 0; row < truth.Rows(); row += 97) {
      const double want = truth.values[static_cast<size_t>(ch)][row];
      const double got = data.series[static_cast<size_t>(ch)][row];
      EXPECT_NEAR(got, want, 1e-3 * std::max(1.0, std::fabs(want)))
          << GetParam() << " channel " << ch << " row " << row;
    }
  }
  EXPECT_TRUE(rig.session.held.image.unsaved);
  EXPECT_TRUE(rig.session.held.image.hasSnapshot);
  // A later enable knows where this retrieval ended.
  const auto& mark = rig.session.deployment.lastRetrieval;
  EXPECT_EQ(mark.serial, rig.logger->Profile().serial);
  ASSERT_TRUE(mark.dataPointer.has_value());
  EXPECT_EQ(*mark.dataPointer, rig.logger->DataPointer());
}

INSTANTIATE_TEST_SUITE_P(Retrieval, EveryFamily,
                         ::testing::Values("VS-330", "VS-550", "NA-7100", "NB-7100", "NMV-7400",
                                           "NMJ-7400", "HL-240"));

using RetrievalTest = TempDirTest;

TEST_F(RetrievalTest, CrossesTheRegionBoundaryAndRetriesCorruptedBlocks) {
  Rig full(Dir(), Profile("VS-330-full"));
  ASSERT_TRUE(full.Retrieve());
  ASSERT_GT(full.logger->DataPointer(), 0x100000u) << "the profile must reach the second region";
  EXPECT_EQ(full.Image(), full.ExpectedImage());

  sim::SimProfile faulty = Profile("VS-330");
  faulty.faults.badBlockRate = 0.05;
  Rig rig(Dir(), faulty);
  ASSERT_TRUE(rig.Retrieve());
  EXPECT_GT(rig.transfer.blocksRetransmitted, 0);
  EXPECT_FALSE(rig.transfer.failed);
  EXPECT_EQ(rig.Image(), rig.ExpectedImage());
}

TEST_F(RetrievalTest, ALostBlockOrACancelKeepsAndDecodesWhatArrived) {
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancel" : "lost block");
    Rig rig(Dir(), Profile("VS-330"));
    Retrieval r(rig.session);
    ASSERT_TRUE(r.Open());
    ASSERT_TRUE(r.Begin(false));
    for (int i = 0; i < (cancel ? 5 : 3); ++i) ASSERT_TRUE(r.Tick());
    if (cancel) {
      r.Cancel();
      EXPECT_TRUE(r.Finished());
    } else {
      rig.logger->SilenceNextCommands(1000);  // the logger stops answering part-way through
      while (r.Tick()) {
      }
      EXPECT_TRUE(r.transfer().state.failed);
      EXPECT_EQ(r.transfer().state.blocksRequested, 3 + 10);
      EXPECT_EQ(r.transfer().state.blocksRetransmitted, 9);
      EXPECT_TRUE(
          rig.host.Saw("tell", "Download error.\n13 blocks requested, 9 blocks retransmitted."));
    }
    const auto image = rig.Image();
    const auto expected = rig.ExpectedImage();
    ASSERT_GT(image.size(), 0u);
    ASSERT_LT(image.size(), expected.size());
    EXPECT_EQ(image.size() % 3, 0u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), expected.begin()));
    EXPECT_GT(rig.session.held.data.samplesPerChannel, 0);
  }
}

TEST_F(RetrievalTest, AnEmptyLoggerHasNoDataAndARunningOneIsOfferedTheStop) {
  {
    Rig rig(Dir(), Fresh("VS-330"));  // nothing behind the data pointer
    EXPECT_FALSE(rig.Retrieve());
    EXPECT_TRUE(rig.host.Saw("tell", "There are no data to display."));
    EXPECT_FALSE(rig.session.held.image.unsaved);
  }
  sim::SimProfile waiting = Fresh("VS-330");
  waiting.status = 1;              // enabled, waiting for its start
  waiting.start = "270101000000";  // in the future of the rig's clock
  waiting.end = "270201000000";
  Rig rig(Dir(), waiting);
  Retrieval r(rig.session);
  ASSERT_TRUE(r.Open());
  EXPECT_TRUE(r.stopButton);
  EXPECT_EQ(r.memoryUsage, "No data in memory - You may stop the logger.");
  EXPECT_FALSE(r.Begin(false));
  rig.session.logger.CommGet(9);
  EXPECT_TRUE(StatusIsIdle(rig.session.logger.status.code)) << rig.session.logger.status.code;
  EXPECT_FALSE(rig.session.held.image.unsaved);
}

TEST_F(RetrievalTest, DerivedChannelsFollowTheMeasuredOnesReachTheFilesAndTheHexFileReadsBack) {
  Rig rig(Dir(), Profile("VS-330"));
  DerivedUnitSettings& d = rig.session.settings.derived;
  d.depthOn = true;
  d.depthSeawater = true;
  d.salinityOn = true;
  d.speedOfSoundOn = true;
  d.soundWilson = true;
  d.soundUnesco = true;  // two formulas chosen, one speed-of-sound channel
  d.densityAnomalyOn = true;
  ASSERT_TRUE(rig.Retrieve());
  const DataSet& data = rig.session.held.data;
  ASSERT_EQ(data.logger.channelCount, 3);
  EXPECT_EQ(data.logger.channelTypes.substr(3), std::string("\x85Su\x86"));
  ASSERT_EQ(data.channelCount, 7);
  // Depth from the pressure channel: seawater depth grows with pressure.
  const auto& pressure = data.series[1];
  const auto& depth = data.series[3];
  EXPECT_GT(depth[0], 0.0f);
  EXPECT_EQ(pressure[0] > pressure[10], depth[0] > depth[10]);

  // The dat file carries the derived columns, the activity logs the retrieval.
  FileHost host;
  host.files = {(Dir() / "derived.dat").string()};
  Session saver(host, rig.clock, Dir(), {});
  saver.ReadSettings();
  saver.held = rig.session.held;
  saver.directories.hex = Dir().string();
  ASSERT_TRUE(saver.SaveHeld(false));
  EXPECT_NE(ReadFile(Dir() / "derived.dat")
                .find("     Temp      Pres      Cond     Depth  Salinity  SoS (UN)  DensAnom"),
            std::string::npos);
  saver.LogRetrieval();
  EXPECT_TRUE(fs::exists(Dir() / "log" / "040211.log"));
  EXPECT_TRUE(fs::exists(Dir() / "log" / "20260902.log"));

  // The hex file written beside it reads back to the same measured series and stamps.
  Session back(host, rig.clock, Dir(), {});
  FileReadRequest request = back.ReadRequest(Dir() / "derived.hex");
  ASSERT_TRUE(ReadHexFile(host, request, back.held));
  const DataSet& after = back.held.data;
  ASSERT_EQ(std::make_pair(after.logger.channelCount, after.samplesPerChannel),
            std::make_pair(3, data.samplesPerChannel));
  for (size_t ch = 0; ch < 3; ++ch) EXPECT_EQ(after.series[ch], data.series[ch]) << ch;
  EXPECT_EQ(after.stamps.records.size(), data.stamps.records.size());
}

}  // namespace
}  // namespace klx::test
