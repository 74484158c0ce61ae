#include "calibration/ui/calibration_dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "calibration/command.h"
#include "calibration/history.h"
#include "calibration/read.h"
#include "calibration/ui/certificate_print.h"
#include "decoding/channel_types.h"
#include "link/status_codes.h"
#include "session/session.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {
namespace {

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.c_str());
}

constexpr const char* kRowNames[4] = {"y=", "+x*", "+x^2*", "+x^3*"};

}  // namespace

// ---- CalibProc ------------------------------------------------------------------------------

CalibProcDialog::CalibProcDialog(const LoggerState& logger, CalibrationCoefficients& cal,
                                 bool loggerIdle, bool correctionAvailable, QWidget* parent)
    : QDialog(parent), logger_(logger), cal_(cal) {
  setWindowTitle("KLX Logger - Calibration");
  working_ = cal.coef;
  correction_ = cal.conductivityCorrection;
  rows_ = CalibrationRows(logger);
  const bool single = GenerationOf(logger) == CalibrationGeneration::SingleChannel;

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(Latin1(Format("KLX Data Logger: %s %5.2f %06d", logger.model.c_str(),
                                             static_cast<double>(logger.firmware), logger.serial)),
                               this));
  auto* grid = new QGridLayout;
  for (int r = 0; r < 4; ++r) grid->addWidget(new QLabel(kRowNames[r], this), r + 1, 0);
  const int shown = std::min(rows_, kColumns);
  for (int c = 0; c < kColumns; ++c) {
    labels_[size_t(c)] = new QLabel(this);
    grid->addWidget(labels_[size_t(c)], 0, c + 1);
    for (int r = 0; r < 4; ++r) {
      auto* edit = new QLineEdit(this);
      edit->setMinimumWidth(120);
      fields_[size_t(c)][size_t(r)] = edit;
      grid->addWidget(edit, r + 1, c + 1);
    }
    const bool used = c < shown;
    labels_[size_t(c)]->setVisible(used);
    for (auto* f : fields_[size_t(c)]) f->setVisible(used);
  }
  layout->addLayout(grid);

  scroll_ = new QScrollBar(Qt::Horizontal, this);
  scroll_->setRange(1, std::max(1, rows_ - 3));
  scroll_->setSingleStep(1);
  scroll_->setPageStep(1);
  scroll_->setVisible(rows_ > kColumns);
  layout->addWidget(scroll_);
  connect(scroll_, &QScrollBar::valueChanged, this,
          [this](int position) { ScrollToChannel(position - 1); });

  auto* buttons = new QHBoxLayout;
  setButton_ = new QPushButton("Set calibration", this);
  pasteButton_ = new QPushButton("Load a column from the clipboard", this);
  correctionButton_ = new QPushButton("Conductivity Correction", this);
  auto* cancel = new QPushButton("Cancel", this);
  for (auto* b : {setButton_, pasteButton_, correctionButton_, cancel}) buttons->addWidget(b);
  layout->addLayout(buttons);
  correctionButton_->setVisible(correctionAvailable);
  if (!loggerIdle) {
    setButton_->setText("Logging");
    pasteButton_->setText("Logging: Stop from 'Setup'");
    setButton_->setEnabled(false);
    pasteButton_->setEnabled(false);
  }
  connect(setButton_, &QPushButton::clicked, this, &CalibProcDialog::AskAndSet);
  connect(pasteButton_, &QPushButton::clicked, this, &CalibProcDialog::PasteFromClipboard);
  connect(correctionButton_, &QPushButton::clicked, this, &CalibProcDialog::EditCorrection);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    for (int c = 0; c < kColumns; ++c)
      for (auto* f : fields_[size_t(c)])
        if (f == now) focusColumn_ = c;
  });
  if (rows_ < kColumns) {
    const double scale = logicalDpiX() / 96.0;
    setFixedWidth(static_cast<int>((single ? 240 : 140 * rows_ + 100) * scale));
  }
  ShowVisible();
}

// The text a coefficient is shown with.
static QString NumberText(double value) {
  return Latin1(CFormat("%.15f", value));
}

// A coefficient in its field, shown from its first digit (the field is narrower than the text).
static void ShowNumber(QLineEdit& field, double value) {
  field.setText(NumberText(value));
  field.setCursorPosition(0);
}

void CalibProcDialog::StoreVisible() {
  for (int c = 0; c < kColumns; ++c) {
    const int channel = first_ + c;
    if (channel >= rows_) break;
    for (int r = 0; r < 4; ++r) {
      double& value = working_[size_t(channel)][size_t(r)];
      const QString text = fields_[size_t(c)][size_t(r)]->text();
      // A field still showing the value's own text keeps the exact value: "%.15f" drops the
      // digits of small coefficients. Text that is not a finite number leaves it as well.
      if (text == NumberText(value)) continue;
      double v = 0;
      if (ParseCoefficient(text.toStdString(), v)) value = v;
    }
  }
}

void CalibProcDialog::ShowVisible() {
  for (int c = 0; c < kColumns; ++c) {
    const int channel = first_ + c;
    if (channel >= rows_) break;
    labels_[size_t(c)]->setText(
        Latin1(ChannelLabel(TypeRowOfChannel(logger_, channel), channel + 1)));
    for (int r = 0; r < 4; ++r)
      ShowNumber(*fields_[size_t(c)][size_t(r)], working_[size_t(channel)][size_t(r)]);
  }
}

void CalibProcDialog::ScrollToChannel(int first) {
  first = std::clamp(first, 0, std::max(0, rows_ - kColumns));
  if (first == first_) return;
  StoreVisible();
  first_ = first;
  ShowVisible();
  const QSignalBlocker block(scroll_);
  scroll_->setValue(first_ + 1);
}

int CalibProcDialog::PasteColumn(const std::string& text) {
  std::array<double, 4> values{};
  const int count = ParseClipboardColumn(text, values);
  if (first_ + focusColumn_ >= rows_) return 0;
  for (int r = 0; r < count; ++r)
    ShowNumber(*fields_[size_t(focusColumn_)][size_t(r)], values[size_t(r)]);
  return count;
}

void CalibProcDialog::PasteFromClipboard() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) {
    QMessageBox::warning(this, "Open Clipboard",
                         "No clipboard available.\nAnother application holds the clipboard.\n"
                         "Release the clipboard from the other application and try again.");
    return;
  }
  const QString text = clipboard->text();
  if (text.isEmpty()) {
    QMessageBox::warning(this, "Read Clipboard",
                         "No data available on the clipboard.\nLoad the clipboard with "
                         "calibration data and try again.");
    return;
  }
  const int count = PasteColumn(text.toStdString());
  const std::string warning = ClipboardWarning(count);
  if (!warning.empty()) QMessageBox::warning(this, "Copy Clipboard", Latin1(warning));
}

void CalibProcDialog::EditCorrection() {
  EquationDialog equation(correction_, this);
  if (equation.exec() == QDialog::Accepted && equation.Store()) correctionEdited_ = true;
}

bool CalibProcDialog::SetCalibration(bool confirmed) {
  StoreVisible();
  unsigned flags = EditedFlag(cal_, working_, rows_);
  if (correctionEdited_) flags |= 2u;
  if (!confirmed) return false;
  cal_.coef = working_;
  cal_.conductivityCorrection = correction_;
  cal_.calibrationWriteFlags = flags;
  accept();
  return true;
}

void CalibProcDialog::AskAndSet() {
  const auto answer =
      QMessageBox::question(this, "Calibration", "Are you sure you wish to load these constants?",
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  SetCalibration(answer == QMessageBox::Yes);
}

// ---- Equation -------------------------------------------------------------------------------

EquationDialog::EquationDialog(std::array<double, 4>& correction, QWidget* parent)
    : QDialog(parent), correction_(correction) {
  setWindowTitle("Conductivity Correction");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Ccor = (Cm - b(T - Tc)) / (1 + a(T - Tc) + cP)", this));
  auto* grid = new QGridLayout;
  const char* names[4] = {"a", "b", "Tc", "c"};
  for (int i = 0; i < 4; ++i) {
    grid->addWidget(new QLabel(names[i], this), i, 0);
    fields_[size_t(i)] = new QLineEdit(Latin1(CFormat("%.7f", correction[size_t(i)])), this);
    grid->addWidget(fields_[size_t(i)], i, 1);
  }
  layout->addLayout(grid);
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton("OK", this);
  auto* cancel = new QPushButton("Cancel", this);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool EquationDialog::Store() {
  bool changed = false;
  for (int i = 0; i < 4; ++i) {
    double v = 0;
    // A value is changed only when the text says something else than it showed.
    if (fields_[size_t(i)]->text() == Latin1(CFormat("%.7f", correction_[size_t(i)]))) continue;
    if (!ParseCoefficient(fields_[size_t(i)]->text().toStdString(), v)) continue;
    correction_[size_t(i)] = v;
    changed = true;
  }
  return changed;
}

// ---- CALIBHIST ------------------------------------------------------------------------------

CalibHistWindow::CalibHistWindow(Session& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setWindowTitle("Calibration History");
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  list_->setFont(QFont("Monospace"));
  list_->setMinimumSize(720, 320);
  layout->addWidget(list_);
  auto* buttons = new QHBoxLayout;
  auto* exit = new QPushButton("Exit", this);
  print_ = new QPushButton("Print shipping certificate", this);
  buttons->addWidget(exit);
  buttons->addWidget(print_);
  layout->addLayout(buttons);
  connect(exit, &QPushButton::clicked, this, &QDialog::hide);
  connect(print_, &QPushButton::clicked, this,
          [this] { PrintCertificate(this, SessionCertificate(session_)); });
}

void CalibHistWindow::Show(const std::vector<std::string>& lines) {
  list_->clear();
  for (const auto& line : lines) list_->addItem(Latin1(line));
  show();
  raise();
}

// ---- Menu commands --------------------------------------------------------------------------

bool RunCalibrationCommand(Session& session, QWidget* parent) {
  LoggerLink& logger = session.logger;
  if (!logger.ConnectCommand()) return false;
  logger.AssessCapabilities();
  if (!CalibrationAccessAllowed(logger)) return false;
  if (!PrepareCalibrationView(logger, session.calibration)) {
    session.host.Tell("Calibration", "Unable to read the configuration of the logger.\nTry again.",
                      BoxIcon::Warning);
    return false;
  }
  const bool correction = GenerationOf(logger.state) == CalibrationGeneration::LinearMemory &&
                          HasConductivityCorrection(logger.state);
  CalibProcDialog dialog(logger.state, session.calibration,
                         StatusIsIdle(logger.status.code), correction, parent);
  if (dialog.exec() != QDialog::Accepted) return false;

  // The write's progress window: one line naming the channel being written.
  QDialog progress(parent);
  progress.setWindowTitle("Calibration");
  auto* line = new QLabel("Writing calibration data", &progress);
  line->setMinimumWidth(320);
  (new QVBoxLayout(&progress))->addWidget(line);
  progress.show();
  const CalibrationWrite result =
      ApplyCalibration(logger, session.calibration, [line](const std::string& text) {
        line->setText(QString::fromStdString(text));
        QCoreApplication::processEvents();
      });
  progress.hide();
  return result == CalibrationWrite::Written;
}

bool RunCalibrationHistory(Session& session, CalibHistWindow& window) {
  LoggerLink& logger = session.logger;
  if (!logger.ConnectCommand()) return false;
  logger.AssessCapabilities();
  if (!CalibrationAccessAllowed(logger, CalibrationAccess::History)) return false;
  const auto folder = session.CalibrationHistoryFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  CalibrationHistory history;
  const HistoryResult result = WriteCalibrationHistory(logger, folder, history);
  if (!history.file.empty()) session.calibrationHistoryFile = history.file;
  window.Show(history.lines);
  return result != HistoryResult::Error;
}

CertificatePage SessionCertificate(Session& session) {
  const LoggerState& s = session.logger.state;
  std::filesystem::path file = session.calibrationHistoryFile;
  if (file.empty()) file = LastHistoryFile(session.CalibrationHistoryFolder(), s.serial);
  const auto lines = file.empty() ? std::nullopt : ReadHistoryLines(file);
  return BuildCertificate(lines, s.model, s.serial,
                          GenerationOf(s) == CalibrationGeneration::LinearMemory,
                          session.clock.LocalTime());
}

}  // namespace klx
