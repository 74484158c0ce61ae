// Retrieval end to end against the simulated loggers, through the in-process loopback on a
// virtual clock: corrupted and lost blocks, a cancel, empty loggers and derived channels. (Every
// family's whole image and decoded values are checked with the continued retrievals.)
#include "session/retrieval.h"

#include <gtest/gtest.h>

#include "retrieval/retrieval_rig.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

TEST(BlockSize, FollowsTheLineRate) {
  const std::pair<int, int> cases[] = {{1200, 60},   {2400, 120},  {4800, 240},  {9600, 480},
                                       {28800, 480}, {57600, 960}, {115200, 960}};
  for (const auto& [rate, size] : cases) EXPECT_EQ(BlockSizeForRate(rate), size) << rate;
}

TEST(Retrieval, CorruptedBlocksAreFetchedAgain) {
  Rig rig("VS-330", [](sim::SimProfile& p) { p.faults.badBlockRate = 0.05; });
  ASSERT_TRUE(rig.Retrieve());
  EXPECT_GT(rig.transfer.blocksRetransmitted, 0);
  EXPECT_FALSE(rig.transfer.failed);
  EXPECT_EQ(rig.Image(), rig.ExpectedImage());
}

TEST(Retrieval, ALostBlockOrACancelKeepsAndDecodesWhatArrived) {
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancel" : "lost block");
    Rig rig("VS-330");
    Retrieval r(rig.session);
    ASSERT_TRUE(r.Open());
    ASSERT_TRUE(r.Begin(false));
    for (int i = 0; i < (cancel ? 5 : 3); ++i) ASSERT_TRUE(r.Tick());
    if (cancel) {
      r.Cancel();
      EXPECT_TRUE(r.Finished());
    } else {
      rig.logger->SilenceNextCommands(1000);  // the logger stops answering part-way through
      while (r.Tick()) continue;
      EXPECT_TRUE(r.transfer().state.failed);
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

TEST(Retrieval, AnEmptyLoggerHasNoDataAndARunningOneIsOfferedTheStop) {
  {
    Rig rig("VS-330", sim::test::MakeFresh);  // nothing behind the data pointer
    EXPECT_FALSE(rig.Retrieve());
    EXPECT_TRUE(rig.host.Saw("tell", "There are no data to display."));
    EXPECT_FALSE(rig.session.held.image.unsaved);
  }
  Rig rig("VS-330", [](sim::SimProfile& p) {
    sim::test::MakeFresh(p);
    p.status = 1;              // enabled, waiting for its start
    p.start = "270101000000";  // in the future of the rig's clock
    p.end = "270201000000";
  });
  // "STOP logger" stops it without asking about the held data: nothing will replace them.
  rig.session.held.image.unsaved = true;
  Retrieval r(rig.session);
  ASSERT_TRUE(r.Open());
  EXPECT_TRUE(r.stopButton);
  EXPECT_EQ(r.memoryUsage, "No data in memory - You may stop the logger.");
  EXPECT_FALSE(r.Begin(false));
  EXPECT_FALSE(rig.Asked("has not been saved"));
  EXPECT_TRUE(rig.session.held.image.unsaved);
  rig.session.logger.CommGet(9);
  EXPECT_TRUE(StatusIsIdle(rig.session.logger.status.code)) << rig.session.logger.status.code;
}

TEST(Retrieval, DerivedChannelsFollowTheMeasuredOnesReachTheFilesAndTheHexFileReadsBack) {
  Rig rig("VS-330");
  const fs::path& dir = rig.dir;
  DerivedUnitSettings& d = rig.session.settings.derived;
  d.depthOn = d.depthSeawater = d.salinityOn = d.speedOfSoundOn = d.densityAnomalyOn = true;
  d.soundWilson = d.soundUnesco = true;  // two formulas chosen, one speed-of-sound channel
  ASSERT_TRUE(rig.Retrieve());
  const DataSet& data = rig.session.held.data;
  ASSERT_EQ(data.logger.channelCount, 3);
  EXPECT_EQ(data.logger.channelTypes.substr(3), std::string("\x85Su\x86"));
  ASSERT_EQ(data.channelCount, 7);
  // Depth from the pressure channel: seawater depth grows with pressure.
  const auto &pressure = data.series[1], &depth = data.series[3];
  EXPECT_GT(depth[0], 0.0f);
  EXPECT_EQ(pressure[0] > pressure[10], depth[0] > depth[10]);

  // Saved, and the retrieval logged.
  rig.host.files = {(dir / "derived.dat").string()};
  rig.session.directories.hex = dir.string();
  ASSERT_TRUE(rig.session.SaveHeld(false));
  rig.session.LogRetrieval();
  EXPECT_TRUE(fs::exists(dir / "log" / "040211.log") && fs::exists(dir / "log" / "20260902.log"));

  // The hex file written beside it reads back to the same measured series and stamps.
  Session back(rig.host, rig.clock, dir, {});
  FileReadRequest request = back.ReadRequest(dir / "derived.hex");
  ASSERT_TRUE(ReadHexFile(rig.host, request, back.held));
  const DataSet& after = back.held.data;
  ASSERT_EQ(std::make_pair(after.logger.channelCount, after.samplesPerChannel),
            std::make_pair(3, data.samplesPerChannel));
  for (size_t ch = 0; ch < 3; ++ch) EXPECT_EQ(after.series[ch], data.series[ch]) << ch;
  EXPECT_EQ(after.stamps.records.size(), data.stamps.records.size());
}

// "Append to file" continues the hex file of an interrupted retrieval to the logger's whole
// memory; a file of another logger, or of a deployment that started a day apart, is refused
// before anything is fetched.
TEST(Retrieval, AppendToFileContinuesTheSameDeploymentOnly) {
  Rig rig("NMJ-7400");
  rig.RetrieveAndCancel(3);
  ASSERT_TRUE(rig.SaveAs("040211_part"));
  const fs::path dat = rig.dir / "dat" / "040211_part.dat";
  const fs::path hex = rig.dir / "hex" / "040211_part.hex";
  const std::string kept = ReadWholeFile(hex).value_or("");
  const size_t line4 = kept.find('\n', kept.find('\n', kept.find('\n') + 1) + 1) + 1;
  const size_t day = kept.find('/', kept.find('/', line4) + 1) + 1;  // "yyyy/mm/dd" on line 4
  ASSERT_LT(day, kept.find('\n', line4));
  std::string otherDay = kept, otherSerial = kept;
  otherDay.replace(day, 2, kept.compare(day, 2, "01") == 0 ? "02" : "01");
  const std::string serial = Format("%06d", rig.logger->Profile().serial);
  otherSerial.replace(otherSerial.find(serial), 6, "999999");
  const std::pair<const std::string*, const char*> refusals[] = {
      {&otherDay, "The file parameters do not match the logger parameters."},
      {&otherSerial, "This file is for a logger with serial number 999999."}};
  for (const auto& [text, message] : refusals) {
    ASSERT_TRUE(WriteTextFileAtomically(hex, *text));
    Retrieval r(rig.session);
    ASSERT_TRUE(r.Open());
    EXPECT_FALSE(r.BeginAppend(dat));
    EXPECT_TRUE(rig.Told(message)) << message;
  }
  ASSERT_TRUE(WriteTextFileAtomically(hex, kept));
  Retrieval r(rig.session);
  ASSERT_TRUE(r.Open());
  ASSERT_TRUE(r.BeginAppend(dat));
  while (r.Tick()) continue;
  EXPECT_FALSE(r.transfer().state.failed);
  EXPECT_EQ(rig.Image(), rig.ExpectedImage());
}

}  // namespace
}  // namespace klx::test
