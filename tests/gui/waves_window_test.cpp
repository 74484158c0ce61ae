// The tide-and-wave recorder on the desktop (the analysis and files are read in the wave tests).
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "deployment/ui/setup_dialog.h"
#include "desktop/retrieval_dialog.h"
#include "display/ui/graph_panel.h"
#include "gui/main_window_rig.h"
#include "shell/command_ids.h"
#include "shell/datetime.h"
#include "waves/ui/wave_window.h"
#include "waves/wave_view.h"

namespace klx::ui {
namespace {

using test::HasSubstr;

class WavesGuiTest : public test::MainWindowRig {
 protected:
  void Configure(Settings& settings) override {
    settings.derived.depthOn = true;  // the wave analysis works on depths
  }
};

TEST_F(WavesGuiTest, RetrievedBurstsInTheWaveWindowAndTheCsvFile) {
  ASSERT_TRUE(SelectSimulator("NMJ-7400"));
  window->RunCommand(cmd::kRetrieveData);
  RetrievalDialog* dialog = window->Retrieving();
  ASSERT_NE(dialog, nullptr) << Status();
  // The wave variant, with the plan read from the logger.
  EXPECT_THAT(dialog->Details()->text().toStdString(),
              HasSubstr("Wave bursts:   512 samples at 2Hz every 03:00:00"));

  nextFile = (Dir() / "dat" / "071342_gui.dat").string();
  QTest::mouseClick(dialog->RetrieveButton(), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(window->Retrieving() == nullptr, 120000);
  const DataSet& data = window->session().held.data;
  ASSERT_FALSE(data.bursts.empty());
  const int count = static_cast<int>(data.bursts.size());

  // The wave window opens on the newest burst, analysed.
  WaveWindow* waves = window->Waves();
  ASSERT_NE(waves, nullptr);
  ASSERT_TRUE(waves->isVisible());
  EXPECT_EQ(waves->Burst(), count - 1);
  EXPECT_THAT(waves->Text(), test::StartsWith("\t\t\t\nMean depth of water:\t\t"));
  waves->BurstPicker()->setValue(1);  // picking the first burst
  EXPECT_THAT(waves->windowTitle().toStdString(), HasSubstr(" - Wave 1 of "));

  // Read back from the hex file, the window follows the burst under the graph's cursor.
  nextFile = (Dir() / "hex" / "071342_gui.hex").string();
  window->RunCommand(cmd::kReadHexFile);
  const DataSet& replay = window->session().held.data;
  ASSERT_EQ(replay.bursts.size(), static_cast<size_t>(count)) << Status();
  const int width = window->graph().Plot()->width();
  QTest::mouseClick(window->graph().Plot(), Qt::LeftButton, {}, QPoint(width / 3, 40));
  const int64_t cursor = window->view().CursorSample();
  ASSERT_GE(cursor, 0);
  const int under = WaveBurstAtSample(replay, cursor);
  ASSERT_LT(under, count - 1) << "a third of the way in is not the newest burst";
  QTRY_COMPARE_WITH_TIMEOUT(waves->Burst(), under, 3000);

  // "Save a NMJ &csv file" writes the bursts, ".csv" added; its second line has the counts.
  nextFile = (Dir() / "nmj" / "bursts").string();
  window->RunCommand(cmd::kSaveNmjCsv);
  EXPECT_THAT(test::ReadText(Dir() / "nmj" / "bursts.csv"),
              HasSubstr("\nBursts:," + std::to_string(count) + ",Samples:,512,"));
}

TEST_F(WavesGuiTest, SetupDialogChecksTheWavePlanAndShowsItsBandwidth) {
  Session& s = window->session();
  DeploymentParameters& p = s.deployment;
  p.startTime = AddSeconds(s.clock.LocalTime(), 3600);
  p.endTime = AddSeconds(p.startTime, 86400);
  p.samplePeriod = {0, 10, 0};
  p.waveEnabled = true;
  p.waveRateHz = 4;
  p.burstLength = 2048;
  p.burstInterval = {1, 0, 0};
  p.expectedWaterDepth = 10.0;
  p.loggerHeight = 1.0;
  SetupDialog dialog(s, nullptr, SimulatedLogger("NMJ-7400"));
  ASSERT_NE(dialog.BandwidthLine(), nullptr);
  EXPECT_THAT(dialog.BandwidthLine()->text().toStdString(),
              test::StartsWith("Wave analysis bandwidth: 0.0020 to 0.2244 (Hz)"))
      << dialog.Message().toStdString();
  // A wave error (the logger above the surface) takes the line away.
  p.loggerHeight = 12.0;
  dialog.Revalidate();
  EXPECT_EQ(dialog.MessageIcon(), 1);
  EXPECT_TRUE(dialog.BandwidthLine()->text().isEmpty());
  // Other loggers have no such line.
  SetupDialog plain(s, nullptr, SimulatedLogger("VS-330"));
  EXPECT_EQ(plain.BandwidthLine(), nullptr);
}

}  // namespace
}  // namespace klx::ui
