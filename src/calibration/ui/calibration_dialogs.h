#pragma once
// The calibration windows: the coefficient dialog (`CalibProc`) with its window of four channel
// columns, scroll bar and one-column paste; the conductivity-correction dialog (`Equation`); the
// write's progress window (`SetCalibMCProc`); the history window (`CALIBHIST`) with its
// certificate print; and the menu commands that run them.
#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "calibration/certificate.h"
#include "calibration/write.h"
#include "records/coefficients.h"
#include "records/logger_state.h"

class QLineEdit;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollBar;

namespace klx {

class Session;

class CalibProcDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kColumns = 4;
  CalibProcDialog(const LoggerState& logger, CalibrationCoefficients& cal, bool loggerIdle,
                  bool correctionAvailable, QWidget* parent = nullptr);

  // The first channel shown (0-based); the scroll bar's position is this plus one.
  int FirstChannel() const { return first_; }
  void ScrollToChannel(int first);
  // Pastes up to four numbers into the column that last had the focus; returns how many.
  int PasteColumn(const std::string& text);
  QLineEdit* Field(int column, int row) { return fields_[size_t(column)][size_t(row)]; }
  QScrollBar* ScrollBar() { return scroll_; }
  QPushButton* SetButton() { return setButton_; }
  QPushButton* PasteButton() { return pasteButton_; }
  QPushButton* CorrectionButton() { return correctionButton_; }
  // "Set calibration" with the answer to its question given (tests; the dialog asks).
  bool SetCalibration(bool confirmed);

 private:
  void StoreVisible();
  void ShowVisible();
  void AskAndSet();
  void EditCorrection();
  void PasteFromClipboard();

  const LoggerState& logger_;
  CalibrationCoefficients& cal_;
  CoefficientRows working_{};
  std::array<double, 4> correction_{};
  bool correctionEdited_ = false;
  int rows_ = 1;
  int first_ = 0;
  int focusColumn_ = 0;
  std::array<QLabel*, kColumns> labels_{};
  std::array<std::array<QLineEdit*, 4>, kColumns> fields_{};
  QScrollBar* scroll_ = nullptr;
  QPushButton* setButton_ = nullptr;
  QPushButton* pasteButton_ = nullptr;
  QPushButton* correctionButton_ = nullptr;
};

// The conductivity correction a, b, Tc, c; on OK the changed values are stored at once.
class EquationDialog : public QDialog {
  Q_OBJECT
 public:
  EquationDialog(std::array<double, 4>& correction, QWidget* parent = nullptr);
  QLineEdit* Field(int i) { return fields_[size_t(i)]; }
  // Stores the fields; true when something changed.
  bool Store();

 private:
  std::array<double, 4>& correction_;
  std::array<QLineEdit*, 4> fields_{};
};

// The history window: the listed lines, "Exit" and "Print shipping certificate".
class CalibHistWindow : public QDialog {
  Q_OBJECT
 public:
  explicit CalibHistWindow(Session& session, QWidget* parent = nullptr);
  void Show(const std::vector<std::string>& lines);
  QListWidget* List() { return list_; }
  QPushButton* PrintButton() { return print_; }

 private:
  Session& session_;
  QListWidget* list_ = nullptr;
  QPushButton* print_ = nullptr;
};

// "View/Enter calibration coefficients": checks, read, dialog, write with its progress window,
// read-back. True when a write was made and verified.
bool RunCalibrationCommand(Session& session, QWidget* parent);
// "Calibration History" into the window (created by the caller, shown here).
bool RunCalibrationHistory(Session& session, CalibHistWindow& window);
// The certificate from the session's last history file.
CertificatePage SessionCertificate(Session& session);

}  // namespace klx
