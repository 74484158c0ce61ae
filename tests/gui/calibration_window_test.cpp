// The calibration dialog, and the shipping certificate printed to PDF and read by pdftotext.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "calibration/certificate.h"
#include "calibration/command.h"
#include "calibration/history.h"
#include "calibration/read.h"
#include "calibration/sim_link_fixture.h"
#include "calibration/ui/calibration_dialogs.h"
#include "calibration/ui/certificate_print.h"
#include "gui/qt_test_app.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx::test {
namespace {

using Row = std::array<double, 4>;

// Six channels in a window of four: edits survive scrolling, a paste fills the focused column.
TEST(CalibProcDialog, ScrollsPastesAndSetsTheEditedTable) {
  QtApp();
  SimLinkFixture f("NMJ-7400", [](sim::SimProfile& p) {
    p.channels = {{'T', 0}, {'P', 0}, {'C', 0}, {'T', 0}, {'P', 0}, {'U', 0}};
  });
  ASSERT_TRUE(f.Connect());
  CalibrationCoefficients cal;
  ReadCalibration(f.logger, cal);
  const CalibrationCoefficients before = cal;
  CalibProcDialog dialog(f.logger.state, cal, true, false);
  EXPECT_EQ(dialog.ScrollBar()->maximum(), 3);

  dialog.Field(1, 0)->setText("12.5");  // channel 2, c0
  dialog.Field(2, 1)->setText("nan");   // refused: channel 3 keeps its c1
  dialog.ScrollBar()->setValue(3);      // channels 3..6
  EXPECT_EQ(dialog.FirstChannel(), 2);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  dialog.Field(3, 0)->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(dialog.PasteColumn("1.5 2.5"), 2);  // into channel 6
  EXPECT_EQ(dialog.Field(3, 1)->text().toDouble(), 2.5);

  dialog.ScrollToChannel(0);
  EXPECT_EQ(dialog.ScrollBar()->value(), 1);
  EXPECT_EQ(dialog.Field(1, 0)->text().toDouble(), 12.5);
  EXPECT_FALSE(dialog.SetCalibration(false));
  EXPECT_EQ(cal, before);  // "No" keeps the table
  EXPECT_TRUE(dialog.SetCalibration(true));
  EXPECT_EQ(cal.calibrationWriteFlags, 1u);
  EXPECT_EQ(cal.coef[1][0], 12.5);
  EXPECT_EQ(cal.coef[2], before.coef[2]);
  EXPECT_EQ(cal.coef[5], (Row{1.5, 2.5, before.coef[5][2], before.coef[5][3]}));
}

std::string PdfText(const std::filesystem::path& pdf) {
  const std::string txt = pdf.string() + ".txt";
  const std::string command = "pdftotext '" + pdf.string() + "' '" + txt + "'";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(txt);
  std::string text(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  // Runs of blanks are one blank: the PDF places words, not spaces.
  std::string out;
  for (char c : text)
    if (c != ' ' || out.empty() || out.back() != ' ') out += c;
  return out;
}

// The certificate of a simulated logger's history, printed to PDF.
TEST(CertificatePrint, PdfCarriesTheCurrentCalibration) {
  QtApp();
  if (std::system("pdftotext -v > /dev/null 2>&1") != 0) GTEST_SKIP() << "pdftotext missing";
  SimLinkFixture f("VS-330", [](sim::SimProfile& p) { p.calHistory = 1; });
  ASSERT_TRUE(f.Connect());
  const std::filesystem::path dir = std::filesystem::path(KLX_GUI_OUTPUT_DIR) / "certificate";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  CalibrationHistory history;
  ASSERT_EQ(WriteCalibrationHistory(f.logger, dir, history), HistoryResult::Listed);
  const CertificatePage page =
      BuildCertificate(ReadHistoryLines(history.file), f.logger.state.model, f.logger.state.serial,
                       false, MakeSystemTime(2026, 6, 1, 12, 0, 0));
  const auto pdf = dir / "certificate.pdf";
  ASSERT_TRUE(SaveCertificatePdf(QString::fromStdString(pdf.string()), page));
  const std::string text = PdfText(pdf);
  SCOPED_TRACE(text);
  // The current record's date and pressure c1, and the printing date.
  for (const std::string& part :
       {std::string("KLX Calibration Shipping Certificate"), std::string("Logger ID: VS-330"),
        Format("Serial No: %d", f.logger.state.serial), std::string("2026/Feb/10 10:15:00"),
        std::string("1012.500000000000000"), std::string("1/Jun/2026"), std::string("Operator:")})
    EXPECT_NE(text.find(part), std::string::npos) << part;
  // Only the current record: one date line and the printing date.
  EXPECT_EQ(std::count(text.begin(), text.end(), '/'), 2 + 2);
}

}  // namespace
}  // namespace klx::test
