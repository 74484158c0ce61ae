// The calibration menu on simulated loggers: coefficients, history, refusals, two-point fit.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <cmath>

#include "calibration/ui/calibration_dialogs.h"
#include "calibration/ui/statistics_window.h"
#include "display/ui/graph_panel.h"
#include "gui/main_window_rig.h"
#include "session/retrieval.h"
#include "shell/command_ids.h"

namespace klx::ui {
namespace {

using Row = std::array<double, 4>;

class CalibrationMenuTest : public test::MainWindowRig {
 protected:
  // A drag over the plot with Shift held, as the mouse makes it.
  void ShiftDrag(int fromColumn, int toColumn) {
    QWidget* plot = window->graph().Plot();
    const auto send = [plot](QEvent::Type type, int x, Qt::MouseButtons buttons) {
      const QPointF at(x, 100);
      QMouseEvent e(type, at, plot->mapToGlobal(at), Qt::LeftButton, buttons, Qt::ShiftModifier);
      QApplication::sendEvent(plot, &e);
    };
    send(QEvent::MouseButtonPress, fromColumn, Qt::LeftButton);
    send(QEvent::MouseMove, (fromColumn + toColumn) / 2, Qt::LeftButton);
    send(QEvent::MouseMove, toColumn, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, toColumn, Qt::NoButton);
  }
};

TEST_F(CalibrationMenuTest, CoefficientsEnteredWrittenAndListedInTheHistory) {
  auto sim = UseSim("VS-330");
  ASSERT_TRUE(sim);
  ASSERT_TRUE(WithDialog<CalibProcDialog>(cmd::kCalibrationCoefficients, [](CalibProcDialog& d) {
    EXPECT_EQ(d.Field(1, 1)->text(), "1012.500000000000000");  // read from the logger
    d.Field(1, 0)->setText("-10.75");
    d.Field(1, 1)->setText("1013.25");
    d.SetCalibration(true);
  }));
  EXPECT_TRUE(Told("Writing of calibration coefficients successful."));
  const auto records = sim->Calibrations();
  ASSERT_EQ(records.size(), 2u);  // a new record behind the old one
  EXPECT_EQ(records.back().coef[1], (Row{-10.75, 1013.25, 0, 0}));
  EXPECT_EQ(window->session().calibration.coef[1], (Row{-10.75, 1013.25, 0, 0}));  // read back

  // The history window lists the records.
  CalibHistWindow* history = window->HistoryWindow();
  ASSERT_NE(history, nullptr);
  window->RunCommand(cmd::kCalibrationHistory);
  ASSERT_TRUE(history->isVisible());
  QStringList lines;
  for (int i = 0; i < history->List()->count(); ++i) lines << history->List()->item(i)->text();
  EXPECT_TRUE(lines.join('\n').contains("1013.250000000000000")) << lines.join('\n').toStdString();
}

// Digits beyond the field's survive "Set calibration" without an edit; nothing is written.
TEST_F(CalibrationMenuTest, UneditedFieldsKeepEveryDigit) {
  const Row fine{0.0035, -0.00025, 2.712345678901234e-06, 2.3e-08};
  auto sim = UseSim(
      "VS-330",
      [&](sim::SimProfile& p) {
        p.calibration[0] = {fine.begin(), fine.end()};
      },
      "fine-digits");
  const size_t records = sim->Calibrations().size();
  ASSERT_TRUE(WithDialog<CalibProcDialog>(cmd::kCalibrationCoefficients, [](CalibProcDialog& d) {
    EXPECT_EQ(d.Field(0, 2)->text(), "0.000002712345679");
    d.SetCalibration(true);
  }));
  EXPECT_TRUE(Told("Calibration coefficients unchanged."));
  EXPECT_EQ(sim->Calibrations().size(), records);
  EXPECT_EQ(window->session().calibration.coef[0], fine);
}

// An enabled logger refuses both commands unless it reports calibration access while logging.
TEST_F(CalibrationMenuTest, EnabledLoggersAreRefused) {
  struct Case {
    const char* profile;
    uint32_t capability5;
    const char* coefficients;  // the refusal of each command, empty: allowed
    const char* history;
  };
  const char* logging = "Calibration: Logging in progress or enabled.";
  const Case cases[] = {
      {"VS-550", 0, "Calibration Coefficients: Unable to perform calibration while VS-550",
       "Calibration History: Unable to perform calibration history while VS-550"},
      {"VS-330", 0, logging, logging},
      {"VS-330", 16, "", ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile + std::string(" capability 5 = ") + std::to_string(c.capability5));
    auto sim = UseSim(
        c.profile,
        [&](sim::SimProfile& p) {
          p.serial += n++;  // each case another logger
          p.status = 1;     // enabled, waiting for its start
          p.start = "990101000000";
          p.end = "991231000000";
          if (c.capability5) {
            p.capabilities[0] |= 0x10;  // entry 5 is reported
            p.capabilities[5] = c.capability5;
          }
        },
        "enabled-" + std::to_string(n));
    const size_t records = sim->Calibrations().size();
    window->host().log.clear();
    const bool opened =
        WithDialog<CalibProcDialog>(cmd::kCalibrationCoefficients, [](CalibProcDialog& d) {
          EXPECT_FALSE(d.SetButton()->isEnabled());  // the logging variant
        });
    QApplication::processEvents();
    EXPECT_EQ(opened, *c.coefficients == '\0');
    EXPECT_TRUE(!*c.coefficients || Told(c.coefficients));
    window->HistoryWindow()->hide();
    window->RunCommand(cmd::kCalibrationHistory);
    EXPECT_EQ(window->HistoryWindow()->isVisible(), *c.history == '\0');
    EXPECT_TRUE(!*c.history || Told(c.history));
    EXPECT_EQ(sim->Calibrations().size(), records);
  }
}

// Two Shift-drag ranges of the pressure channel: their means against the simulator's readings,
// the fit onto 0 and 10, a thermistor channel's refusal, and the write into the logger.
TEST_F(CalibrationMenuTest, TwoPointCalibrationFromTwoHighlightedRanges) {
  auto sim = UseSim("VS-330");
  ASSERT_TRUE(sim);
  Session& session = window->session();
  Retrieval retrieval(session);
  ASSERT_TRUE(retrieval.Open());
  ASSERT_TRUE(retrieval.Begin(false));
  while (retrieval.Tick()) {
  }
  ASSERT_FALSE(session.held.data.Empty());
  window->ShowHeldData();

  window->RunCommand(cmd::kTwoPointCalibration);
  StatisticsWindow* stats = window->Statistics();
  ASSERT_TRUE(stats->isVisible());
  EXPECT_EQ(stats->Channel(), 1);  // the first channel that is not a thermistor
  EXPECT_EQ(window->view().HighlightChannel(), 1);

  // Both drags lie before the recovery stamp, where memory rows and samples coincide.
  GraphView& view = window->view();
  const int columns[2][2] = {{20, 60}, {240, 200}};
  for (const auto& drag : columns) ShiftDrag(drag[0], drag[1]);
  const sim::SimExpected expected = sim->Expected();
  std::array<double, 2> means{};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const int64_t a = view.SampleAtColumn(columns[i][0]), b = view.SampleAtColumn(columns[i][1]);
    ASSERT_EQ(view.Highlight(i), (SampleRange{std::min(a, b), std::max(a, b)}));
    const SampleRange r = view.Highlight(i);
    ASSERT_LT(r.last, 2500);
    // The mean of the raw counts / 2^24 the simulator stored (the statistics are the core's).
    double sum = 0;
    for (int64_t k = r.first; k <= r.last; ++k) sum += expected.raw[1][size_t(k)] / 16777216.0;
    means[size_t(i)] = sum / static_cast<double>(r.Count());
    EXPECT_EQ(stats->Statistics(i).count, r.Count());
    EXPECT_NEAR(stats->Statistics(i).mean, means[size_t(i)], 1e-7);
  }
  ASSERT_GT(std::abs(means[1] - means[0]), 1e-5) << "the two ranges must differ";

  const auto acceptBoth = [&] {
    stats->ValueField(0)->setText("0");
    stats->ValueField(1)->setText("10");
    stats->AcceptBox(0)->click();
    stats->AcceptBox(1)->click();
  };
  acceptBoth();
  ASSERT_TRUE(stats->WriteButton()->isEnabled()) << stats->WriteButton()->text().toStdString();
  const double c1 = 10.0 / (means[1] - means[0]);
  EXPECT_NEAR(stats->Fit().c1, c1, std::abs(c1) * 1e-5);  // the window fits its own means

  // Unticking drops the result; a thermistor channel shows the refusal.
  stats->AcceptBox(1)->click();
  EXPECT_FALSE(stats->WriteButton()->isEnabled());
  stats->ChannelBox()->setCurrentIndex(0);
  EXPECT_EQ(view.HighlightChannel(), 0);
  EXPECT_EQ(stats->WriteButton()->text(), "Two-point calibration not available on this channel");

  stats->ChannelBox()->setCurrentIndex(1);
  EXPECT_FALSE(stats->AcceptBox(0)->isChecked());  // readings of another channel are dropped
  acceptBoth();
  const TwoPointFit fit = stats->Fit();
  const auto before = sim->Calibrations().back().coef;
  ASSERT_TRUE(stats->WriteButton()->isEnabled());
  stats->WriteButton()->click();
  const auto after = sim->Calibrations().back().coef;
  EXPECT_EQ(after[1], (Row{fit.c0, fit.c1, 0, 0}));
  EXPECT_EQ(after[0], before[0]);
}

}  // namespace
}  // namespace klx::ui
