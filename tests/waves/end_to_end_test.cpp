// A simulated NMJ-7400 retrieved, analysed and saved; the statistics are checked against the
// swell the simulator put into every burst (its own reading of linear wave theory).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>

#include "decoding/channel_types.h"
#include "files/files_fixture.h"
#include "files/mat_file.h"
#include "realtime/collection.h"
#include "shell/command_ids.h"
#include "sim/sim_host.h"
#include "waves/tide.h"

namespace klx::test {
namespace {

namespace fs = std::filesystem;

struct Rig : sim::test::SimSession<FileHost> {
  Rig(const std::string& profileName, bool depth,
      const std::function<void(sim::SimProfile&)>& edit = {})
      : SimSession(profileName, edit) {
    session.settings.derived.depthOn = depth;
    for (const char* sub : {"dat", "hex", "mat"}) fs::create_directories(dir / sub);
    session.directories.dat = (dir / "dat").string();
    session.directories.hex = (dir / "hex").string();
  }
};

TEST(WaveRetrieval, EveryBurstGetsItsRowWithTheSwellThatWasPutIn) {
  Rig rig("NMJ-7400", true);
  ASSERT_TRUE(rig.Retrieve());
  const DataSet& data = rig.session.held.data;
  const sim::SimExpected truth = rig.logger->Expected();
  ASSERT_FALSE(truth.waves.empty());
  ASSERT_EQ(data.bursts.size(), truth.waves.size());
  rig.host.files = {(rig.dir / "dat" / "071342_waves.dat").string()};
  ASSERT_TRUE(rig.session.SaveHeld(false));
  std::ifstream in(rig.dir / "nmj" / "071342_waves.wave");
  const std::string units = "Date            Time    Number         m";
  std::vector<std::string> rows;  // the units line and those after it
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && (!rows.empty() || line.rfind(units, 0) == 0)) rows.push_back(line);
  ASSERT_EQ(rows.size(), truth.waves.size() + 1);
  for (size_t b = 0; b < truth.waves.size(); ++b) {
    SCOPED_TRACE(b);
    const sim::SimBurstWave& w = truth.waves[b];
    ASSERT_TRUE(data.bursts[b].stats.analysed);
    // 8 s at 2 Hz over 512 samples lies on bin 32: the peak is exact.
    EXPECT_DOUBLE_EQ(1.0 / data.bursts[b].stats.peakFrequency, w.periodS);
    // Number, depth, H1/3, T1/3, ..., energy after the date and time; flag 0 adds no text.
    std::istringstream row(rows[b + 1].substr(21));
    std::vector<double> c(11);
    for (double& x : c) row >> x;
    EXPECT_NEAR(c[1], w.waterDepthM, 0.01) << "mean depth + logger height";
    // The significant height of a sine, scaled back by √(N/S) for the taper (1.087 at 512).
    EXPECT_NEAR(c[2], w.SignificantHeightM() * 1.087, 0.05 * w.SignificantHeightM());
    EXPECT_NEAR(c[3], w.periodS, 0.5) << "T1/3 within a sample";
  }

  // The MAT file carries every burst's surface series as the analysis left it.
  rig.host.files = {(rig.dir / "mat" / "071342_waves.mat").string()};
  ASSERT_TRUE(rig.session.SaveHeldMat());
  HeldData back;
  int format = 0;
  std::vector<std::vector<float>> surface;
  ASSERT_EQ(ReadMatFileInto(rig.dir / "mat" / "071342_waves.mat", back, format, surface), "");
  ASSERT_EQ(surface.size(), data.bursts.size());
  for (size_t b = 0; b < surface.size(); ++b) EXPECT_EQ(surface[b], data.bursts[b].surface) << b;
}

// Without the derived depth the message is shown, but what was retrieved is held and saved; the
// analysis runs once depth is chosen.
TEST(WaveRetrieval, WithoutDepthTheDataAreStillRetrievedAndSaved) {
  Rig rig("NMJ-7400", false);
  ASSERT_TRUE(rig.Retrieve());
  EXPECT_TRUE(rig.host.Saw("tell", "'Depth' has to be selected")) << "the message comes first";
  const HeldData& held = rig.session.held;
  EXPECT_TRUE(held.image.unsaved) << "the retrieval went ahead";
  ASSERT_EQ(held.data.bursts.size(), rig.logger->Expected().waves.size());
  for (const BurstSeries& b : held.data.bursts) EXPECT_FALSE(b.stats.analysed);
  rig.host.files = {(rig.dir / "dat" / "nodepth.dat").string()};
  ASSERT_TRUE(rig.session.SaveHeld(false));
  EXPECT_TRUE(fs::exists(rig.dir / "hex" / "nodepth.hex"));
  EXPECT_FALSE(fs::exists(rig.dir / "nmj" / "nodepth.wave")) << "no rows of unanalysed bursts";
  EXPECT_TRUE(std::any_of(rig.host.events.begin(), rig.host.events.end(), [](const auto& e) {
    return e.kind == "post" && e.number == cmd::kDerivedUnits;
  })) << "the derived units are offered";

  rig.session.settings.derived.depthOn = true;
  rig.session.ApplyDerived();
  for (const BurstSeries& b : held.data.bursts) EXPECT_TRUE(b.stats.analysed);
}

// The logger deployed with real-time output: the host takes up its records, assembles the first
// burst from its "BST" and "SEQ" records and analyses it.
TEST(WaveRetrieval, RealTimeBurstRecordsAssembleIntoTheBurstTheLoggerTook) {
  Rig rig("NMJ-7400", true, sim::test::MakeFresh);
  // Tide rows each minute, 512 words at 2 Hz every 5 min, 2.75 m up, binary real-time output.
  const std::string deploy =
      "J260901120000K000100L260901120100M260902000000!402!60002000500!Y0000000000000640!B13P";
  sim::test::Pieces none;
  rig.logger->Receive(reinterpret_cast<const uint8_t*>(deploy.data()), deploy.size(),
                      rig.logger->Profile().baud, rig.clock.MonotonicMs(), none);
  rig.host.files = {(rig.dir / "hex" / "live.hex").string()};
  ASSERT_TRUE(rig.session.logger.ConnectCommand());
  AssessCapabilitiesForSetup(rig.session.logger);
  ASSERT_TRUE(rig.session.RestartRealTime(false));
  RealTimeRun& run = *rig.session.realTime;
  std::vector<int> rowsAtBurstEnd;  // tide samples held when each burst was complete
  run.onBurst = [&](int) { rowsAtBurstEnd.push_back(run.Data().samplesPerChannel); };
  // The first burst begins at 12:06 and lasts 255.5 s, the second at 12:11; run to 12:15:30.
  for (int64_t t = 0; t < (15 * 60 + 30) * 1000; t += run.TickPeriodMs()) {
    rig.clock.Advance(run.TickPeriodMs());
    run.Tick();
  }
  const sim::SimExpected truth = rig.logger->Expected();
  ASSERT_GE(truth.bursts.size(), 2u);
  ASSERT_GE(run.Data().bursts.size(), 2u);
  const BurstSeries& burst = run.Data().bursts[0];
  ASSERT_EQ(burst.samples.size(), truth.bursts[0].size());
  for (size_t k = 0; k < burst.samples.size(); ++k)
    ASSERT_NEAR(burst.samples[k], truth.bursts[0][k], 1e-4) << k;
  ASSERT_TRUE(burst.stats.analysed);
  EXPECT_DOUBLE_EQ(1.0 / burst.stats.peakFrequency, truth.waves[0].periodS);
  // The logger height comes from the logger: the surface is amplified from 2.75 m up.
  EXPECT_EQ(rig.session.deployment.loggerHeight, 2.75);
  const double hm0 = truth.waves[0].SignificantHeightM() * 1.087;
  EXPECT_NEAR(burst.stats.h13, hm0, 0.05 * hm0);

  // Live SWH is the latest complete burst's Hm0, missing before the first.
  const DataSet& live = run.Data();
  const DerivedChannels& derived = run.Derived();
  const auto n = static_cast<size_t>(live.samplesPerChannel);
  ASSERT_FALSE(rowsAtBurstEnd.empty());
  const auto& swh = live.series[static_cast<size_t>(derived.waveHeight)];
  for (size_t i = 0; i < n; ++i) {
    float latest = kMissingValue;
    for (size_t b = 0; b < rowsAtBurstEnd.size(); ++b)
      if (static_cast<size_t>(rowsAtBurstEnd[b]) <= i) latest = live.bursts[b].stats.h13;
    EXPECT_EQ(swh[i], latest) << i;
  }
  rig.session.EndRealTime();
}

}  // namespace
}  // namespace klx::test
