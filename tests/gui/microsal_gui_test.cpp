// The micro-salinometer panel on the simulated HL-240 (the numbers are the core tests').
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
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
  auto runFor = [&](int64_t ms) {
    for (int64_t t = 0; t < ms; t += 100) {
      s.clock.Advance(100);
      panel.Tick();
    }
  };
  runFor(10000);
  EXPECT_TRUE(panel.SalinityLine()->text().startsWith("Sample salinity (PSS-78): 34.98"));
  for (const auto& [typed, shown] : {std::pair<QString, QString>{"75", "60"}, {"2", "2"}}) {
    panel.Averaging()->setText(typed);
    panel.AveragingEdited();
    EXPECT_EQ(panel.Averaging()->text(), shown);
  }
  runFor(3000);
  EXPECT_EQ(panel.Indicator()->text(), "Settled");

  const std::filesystem::path file = s.dir / "082001a.sal";
  panel.OpenOrCloseCapture(file.string());
  runFor(10000);  // one automatic row every ten seconds, 85 characters each
  const std::string text = ReadText(file);
  EXPECT_EQ(text.size() - text.find("deviation secs\n") - 15, 85u);
  host.answers = {Answer::Yes};
  panel.OpenOrCloseCapture();
  EXPECT_EQ(panel.FileButton()->text(), "Open");

  panel.ToggleStandardization();
  panel.Reading(3)->setText(panel.Reading(1)->text());  // Vsample(1) = Vsample(0)
  panel.StandardizationEdited();
  EXPECT_FALSE(panel.AcceptNewValues());
  EXPECT_TRUE(host.Saw("tell", "not a finite, positive number"));
  panel.reject();
  EXPECT_EQ(panel.Run().state, MicrosalState::Stopped);
}

}  // namespace
}  // namespace klx::test
