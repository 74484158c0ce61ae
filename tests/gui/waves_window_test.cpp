// The tide-and-wave recorder on the desktop, offscreen: the retrieval dialog's wave variant, the
// wave window after a retrieval of the simulated NMJ-7400, "Save a NMJ &csv file", and the wave
// plan's checks and bandwidth line in the setup dialog. Pictures go to the build tree.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "deployment/ui/setup_dialog.h"
#include "desktop/com_settings_dialog.h"
#include "desktop/main_window.h"
#include "desktop/retrieval_dialog.h"
#include "display/ui/graph_panel.h"
#include "gui/desktop_helpers.h"
#include "gui/qt_test_app.h"
#include "shell/command_ids.h"
#include "shell/datetime.h"
#include "shell/temp_dir.h"
#include "waves/ui/wave_window.h"
#include "waves/wave_view.h"

namespace klx::ui {
namespace {

class WavesGuiTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    test::QtApp();
    TempDirTest::SetUp();
    Settings settings(Dir());
    settings.derived.depthOn = true;  // the wave analysis works on depths
    ASSERT_TRUE(settings.WriteSettings());
    window = std::make_unique<MainWindow>(Dir(), std::vector<std::string>{});
    QtHost& host = window->host();
    host.answer = [](const std::string&, const std::string&) { return Answer::No; };
    host.chooseFile = [this](const FileChoice& choice) -> std::optional<std::string> {
      choices.push_back(choice);
      if (files.empty()) return std::nullopt;
      const std::string f = files.front();
      files.erase(files.begin());
      return f;
    };
    window->show();
  }
  void TearDown() override {
    window.reset();
    TempDirTest::TearDown();
  }

  bool SelectSimulator(const std::string& model) { return test::SelectSimulator(*window, model); }

  std::unique_ptr<MainWindow> window;
  std::vector<std::string> files;
  std::vector<FileChoice> choices;
};

TEST_F(WavesGuiTest, RetrievedBurstsInTheWaveWindowAndTheCsvFile) {
  ASSERT_TRUE(SelectSimulator("NMJ-7400"));
  window->RunCommand(cmd::kRetrieveData);
  RetrievalDialog* dialog = window->Retrieving();
  ASSERT_NE(dialog, nullptr) << window->host().StatusText(kStatusMessagePart).toStdString();
  // The wave variant, with the plan and the logger height read from the logger (1.2 m).
  EXPECT_TRUE(dialog->WavesVariant());
  EXPECT_EQ(dialog->objectName(), "NMJDownloadProc");
  const std::string details = dialog->Details()->text().toStdString();
  EXPECT_NE(details.find("Wave bursts:   512 samples at 2Hz every 03:00:00"), std::string::npos)
      << details;
  EXPECT_NE(details.find("Logger height: 1.20 m"), std::string::npos) << details;
  test::SaveWidgetPicture(*dialog, "nmj_retrieval_dialog.png", false);

  files = {(Dir() / "dat" / "071342_gui.dat").string()};
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
  const std::string title = waves->windowTitle().toStdString();
  EXPECT_NE(title.find(" - Wave " + std::to_string(count) + " of " + std::to_string(count)),
            std::string::npos)
      << title;
  EXPECT_EQ(waves->Text().rfind("\t\t\t\nMean depth of water:\t\t", 0), 0u) << waves->Text();
  // Picking the first burst in the window.
  waves->BurstPicker()->setValue(1);
  EXPECT_EQ(waves->Burst(), 0);
  EXPECT_NE(waves->windowTitle().toStdString().find(" - Wave 1 of "), std::string::npos);
  waves->resize(760, 560);
  test::SaveWidgetPicture(*waves, "wave_window.png", false);

  // Read back from the hex file, the window follows the burst under the graph's cursor.
  files = {(Dir() / "hex" / "071342_gui.hex").string()};
  window->RunCommand(cmd::kReadHexFile);
  const DataSet& replay = window->session().held.data;
  ASSERT_EQ(replay.bursts.size(), static_cast<size_t>(count))
      << window->host().StatusText(kStatusMessagePart).toStdString();
  ASSERT_TRUE(waves->isVisible());
  EXPECT_EQ(waves->Burst(), count - 1);
  const int width = window->graph().Plot()->width();
  QTest::mouseClick(window->graph().Plot(), Qt::LeftButton, {}, QPoint(width / 3, 40));
  const int64_t cursor = window->view().CursorSample();
  ASSERT_GE(cursor, 0);
  const int under = WaveBurstAtSample(replay, cursor);
  ASSERT_LT(under, count - 1) << "a third of the way in is not the newest burst";
  QTRY_COMPARE_WITH_TIMEOUT(waves->Burst(), under, 3000);

  // "Save a NMJ &csv file" writes the bursts into the nmj folder, ".csv" added.
  QAction* csv = window->Action(cmd::kSaveNmjCsv);
  ASSERT_NE(csv, nullptr);
  EXPECT_TRUE(csv->isEnabled());
  files = {(Dir() / "nmj" / "bursts").string()};
  choices.clear();
  window->RunCommand(cmd::kSaveNmjCsv);
  ASSERT_EQ(choices.size(), 1u);
  EXPECT_EQ(choices[0].title, "Select a 'csv' file for storing the NMJ data");
  std::ifstream in(Dir() / "nmj" / "bursts.csv");
  ASSERT_TRUE(in.good());
  std::string identity, counts;
  std::getline(in, identity);
  std::getline(in, counts);
  EXPECT_EQ(counts,
            "Bursts:," + std::to_string(count) + ",Samples:,512,Rate (Hz):,2,Height:,1.200000");
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
  EXPECT_EQ(dialog.BandwidthLine()->text().toStdString(),
            "Wave analysis bandwidth: 0.0020 to 0.2244 (Hz) - Wave periods 4.46 to 512.00 (secs)")
      << dialog.Message().toStdString();
  test::SaveWidgetPicture(dialog, "nmj_setup_dialog.png", false);
  // A wave error takes the line away and shows the warning.
  p.loggerHeight = 12.0;
  dialog.Revalidate();
  EXPECT_EQ(dialog.Message().toStdString(),
            "Values for the mean depth of water and the height of logger place the logger at or "
            "above the water surface.");
  EXPECT_EQ(dialog.MessageIcon(), 1);
  EXPECT_TRUE(dialog.BandwidthLine()->text().isEmpty());
  // Other loggers have no such line.
  SetupDialog plain(s, nullptr, SimulatedLogger("VS-330"));
  EXPECT_EQ(plain.BandwidthLine(), nullptr);
}

}  // namespace
}  // namespace klx::ui
