// The tide-and-wave recorder on the desktop (the analysis and files are read in the wave tests).
#include <QTest>

#include "desktop/retrieval_dialog.h"
#include "display/ui/graph_panel.h"
#include "gui/main_window_rig.h"
#include "shell/command_ids.h"
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

}  // namespace
}  // namespace klx::ui
