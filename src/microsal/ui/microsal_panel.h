#pragma once
// The "Micro-Salinometer" panel: the live reading of the HL-240 (setup progress, the text lines,
// the large salinity line, the settled/settling indicator and the graph of the last 1800
// points), the averaging field, the capture file, and the standardization half that opens with
// "Standardize>>". A timer polls the record stream and gives the run its one-second tick.
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "microsal/run.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace klx {
class Session;
class Host;

namespace ui {

// The four series of the last 1800 points, each scaled between its own minimum and maximum.
class MicrosalGraph : public QWidget {
  Q_OBJECT
 public:
  explicit MicrosalGraph(const MicrosalMeasurement& m, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {380, 160}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const MicrosalMeasurement& m_;
};

class MicrosalPanel : public QDialog {
  Q_OBJECT
 public:
  // `dataFolder`: the folder whose "sal" subfolder receives the capture files.
  MicrosalPanel(LoggerLink& logger, Clock& clock, Host& host, CalibrationCoefficients& calibration,
                std::filesystem::path dataFolder, int averageSeconds, QWidget* parent = nullptr);
  ~MicrosalPanel() override;

  // The menu command's start: the run's checks and programming; false leaves it stopped.
  bool StartRun();
  // One poll of the record stream; each whole second also the run's second tick.
  void Tick();
  // Fills the texts from the run.
  void Refresh();

  // "Averaged over:" edited: 1..60, the field shows what was taken.
  void AveragingEdited();
  // "Open"/"Close" of the capture file. `file` answers the file choice (tests).
  void OpenOrCloseCapture(std::optional<std::string> file = std::nullopt);
  void SaveNow();
  void ToggleStandardization();
  // "More information >>" / "<< Default information": the standard and sample means, the
  // history's slope and the record count under the text lines.
  void ToggleInformation();
  // The three "Capture" buttons: 0 Vstandard(0), 1 Vsample(0), 2 Vsample(1) and Vstandard(1).
  void Capture(int which);
  // Any edit of K15 or the four readings shows the new alpha.
  void StandardizationEdited();
  bool AcceptNewValues();
  // Closing: the run stops (logger stopped, capture file closed).
  void done(int result) override;

  MicrosalRun& Run() { return run_; }
  QLabel* Identity() const { return identity_; }
  QLabel* Text() const { return text_; }
  QLabel* SalinityLine() const { return salinity_; }
  QLabel* Indicator() const { return indicator_; }
  QLineEdit* Averaging() const { return averaging_; }
  QPushButton* FileButton() const { return fileButton_; }
  QPushButton* StandardizeButton() const { return standardize_; }
  QGroupBox* StandardizationBox() const { return box_; }
  QLineEdit* Batch() const { return batch_; }
  QLineEdit* K15() const { return k15_; }
  QLineEdit* Reading(int which) const { return readings_[which]; }  // Vs0, Vx0, Vs1, Vx1
  QLabel* NewAlphaLabel() const { return newAlpha_; }
  QProgressBar* Progress() const { return progress_; }
  QTimer& Timer() { return timer_; }
  // The comment asked before the file's header (nullopt: none).
  std::function<std::optional<std::string>()> commentDialog;
  // Where the folder last chosen for a capture file is kept, so that it outlives the panel
  // (null: the panel's own, forgotten when it closes).
  std::filesystem::path* rememberedFolder = nullptr;

 private:
  void ShowStandardization();
  MicrosalStandardization Edited() const;

  MicrosalRun run_;
  Host& host_;
  Clock& clock_;
  std::filesystem::path dataFolder_;
  std::filesystem::path lastFolder_;
  QLabel* identity_ = nullptr;
  QLabel* text_ = nullptr;
  QLabel* salinity_ = nullptr;
  QLabel* indicator_ = nullptr;
  QLabel* k15Shown_ = nullptr;
  QLabel* details_ = nullptr;
  QPushButton* more_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLineEdit* averaging_ = nullptr;
  QLineEdit* information_ = nullptr;
  QPushButton* fileButton_ = nullptr;
  QPushButton* saveNow_ = nullptr;
  QPushButton* standardize_ = nullptr;
  QGroupBox* box_ = nullptr;
  QLineEdit* batch_ = nullptr;
  QLineEdit* k15_ = nullptr;
  QLineEdit* readings_[4] = {};
  QLabel* newAlpha_ = nullptr;
  QLabel* alpha_ = nullptr;
  MicrosalGraph* graph_ = nullptr;
  QTimer timer_;
  int64_t nextSecond_ = 0;
  bool stopped_ = false;
};

// "&Micro-Salinometer": connects, starts the run and shows the panel until it is closed.
void RunMicrosalCommand(QWidget* parent, Session& session, Host& host);

}  // namespace ui
}  // namespace klx
