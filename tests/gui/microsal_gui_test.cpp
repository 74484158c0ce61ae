// The micro-salinometer panel on the simulated HL-240: setup, the live lines and indicator, the
// averaging field's limits, the capture file, and a gain that cannot be accepted.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "gui/qt_test_app.h"
#include "microsal/ui/microsal_panel.h"

namespace klx::test {
namespace {

TEST(MicrosalPanel, RunsCapturesAndRefusesAnUnusableGain) {
  RecordingHost host;
  SimSession s(host, "microsal-panel");
  std::string error;
  ASSERT_TRUE(s.session->SelectPort("sim:HL-240", &error)) << error;
  host.answers = {Answer::Yes};  // the logger's readings may go
  ui::MicrosalPanel panel(s.session->logger, s.clock, host, s.session->calibration, s.dir, 30);
  ASSERT_TRUE(panel.StartRun());
  EXPECT_EQ(panel.Identity()->text(), "HL-240 082001");
  EXPECT_TRUE(panel.Text()->text().startsWith("Setup:\n\nHL-240 setup in progress"));
  EXPECT_EQ(host.status[kStatusMessagePart], kMicrosalRunStatus);

  // Ten seconds of records on the virtual clock.
  auto runFor = [&](int64_t ms) {
    for (int64_t t = 0; t < ms; t += 100) {
      s.clock.Advance(100);
      panel.Tick();
    }
  };
  runFor(10000);
  EXPECT_EQ(panel.Run().state, MicrosalState::Running);
  EXPECT_TRUE(panel.SalinityLine()->text().startsWith("Sample salinity (PSS-78): 34.98"));
  EXPECT_EQ(panel.Indicator()->text(), "Settling");

  for (const auto& [typed, shown] : std::vector<std::pair<QString, QString>>{
           {"75", "60"}, {"2", "2"}}) {
    panel.Averaging()->setText(typed);
    panel.AveragingEdited();
    EXPECT_EQ(panel.Averaging()->text(), shown);
  }
  runFor(3000);
  EXPECT_EQ(panel.Indicator()->text(), "Settled");

  const std::filesystem::path file = s.dir / "082001a.sal";
  panel.OpenOrCloseCapture(file.string());
  EXPECT_EQ(panel.FileButton()->text(), "Close");
  runFor(10000);  // one automatic row every ten seconds
  const std::string text = ReadText(file);
  EXPECT_EQ(text.rfind("KLX HL-240", 0), 0u);
  EXPECT_NE(text.find("Standard Seawater Batch=P165, K15=0.99993"), std::string::npos);
  const size_t rows = text.size() - text.find("deviation secs\n") - 15;
  EXPECT_EQ(rows % 85, 0u);  // each row is 85 characters
  EXPECT_EQ(rows / 85, 1u);
  host.answers = {Answer::Yes};
  panel.OpenOrCloseCapture();
  EXPECT_EQ(panel.FileButton()->text(), "Open");

  panel.ToggleStandardization();
  EXPECT_FALSE(panel.StandardizationBox()->isHidden());
  EXPECT_EQ(panel.StandardizeButton()->text(), "<<Hide");
  EXPECT_EQ(panel.Batch()->text(), "P165");
  panel.Reading(3)->setText(panel.Reading(1)->text());  // Vsample(1) = Vsample(0)
  panel.StandardizationEdited();
  EXPECT_TRUE(panel.NewAlphaLabel()->text().contains("nan"));
  EXPECT_FALSE(panel.AcceptNewValues());
  EXPECT_TRUE(host.Saw("tell", "not a finite, positive number"));
  EXPECT_EQ(panel.Run().standardization.batch, "P165");
  SaveWidgetPicture(panel, "microsal_panel.png", false);

  panel.reject();
  EXPECT_EQ(panel.Run().state, MicrosalState::Stopped);
}

}  // namespace
}  // namespace klx::test
