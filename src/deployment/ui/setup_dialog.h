#pragma once
// "KLX Logger - Setup": the deployment read from the logger (or planned for a simulated model),
// edited in place, checked on every change, and programmed into the logger by Enable.
#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>

#include "deployment/enable.h"
#include "records/logger_state.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QProgressBar;
class QPushButton;

namespace klx {
class Session;
namespace ui {

class SetupDialog : public QDialog {
  Q_OBJECT
 public:
  // With `setup` the dialog works on the connected logger (Open() has been called); without it
  // on `simulated`, a model planned without a logger (Enable and "Sync to PC" are not offered).
  SetupDialog(Session& session, LoggerSetup* setup, const LoggerState& simulated,
              QWidget* parent = nullptr);
  ~SetupDialog() override;

  // Runs the checks and the estimates and shows the result in the message line.
  void Revalidate();
  // One step of the erase wait (the timer's work).
  void TickOnce();
  bool Waiting() const { return timer_.isActive(); }
  // The tick's work while a logger is connected: its status and battery voltage, shown below
  // the status line.
  void PollLogger();
  QLabel* PolledStatus() const { return polled_; }
  EnableStep LastStep() const { return lastStep_; }
  // exec() result of "Restart Display": the real-time display of a logging logger starts again.
  static constexpr int kRestartDisplay = 2;
  QPushButton* RestartButton() const { return restart_; }

  const LoggerState& logger() const;
  QString Message() const;
  int MessageIcon() const { return icon_; }  // 0 none, 1 warning, 2 information
  QPushButton* EnableButton() const { return enable_; }
  QDateTimeEdit* StartEdit() const { return start_; }
  QDateTimeEdit* EndEdit() const { return end_; }
  QComboBox* StartList() const { return startList_; }
  QComboBox* RealtimeList() const { return realtime_; }
  QLabel* StatusField() const { return status_; }
  QLabel* PeriodField() const { return period_; }
  QPushButton* AveragingButton() const { return averaging_; }
  QPushButton* ThresholdButton() const { return threshold_; }
  QPushButton* BatchButton() const { return batch_; }
  QPushButton* RateButton() const { return rate_; }
  // "Wave analysis bandwidth: ..." of a tide-and-wave plan (nullptr for other loggers).
  QLabel* BandwidthLine() const { return bandwidth_; }

  // Button handlers, public for scripted runs.
  void PressEnable();
  void SyncToPc();
  void EditPeriod();
  void EditThreshold();
  void EditBurst();
  void EditRanges();
  void AcceptBatch();

 private:
  void Build();
  void FillFromParameters();
  void ReadBack();
  void SetMessage(const std::string& text, int icon);
  void Finish(EnableStep step);
  void ReopenAfterFailure();
  void ShowReadFailure();
  void MarkChanged();

  Session& session_;
  LoggerSetup* setup_;
  LoggerState simulated_;
  DeploymentParameters& p_;
  bool filling_ = false;
  bool batchDeclined_ = false;  // "Something Changed" was answered No
  int icon_ = 0;
  EnableStep lastStep_ = EnableStep::ReturnToDialog;
  QTimer timer_;
  QTimer poll_;
  QLabel* polled_ = nullptr;

  QPushButton* restart_ = nullptr;
  QPushButton* rate_ = nullptr;  // tide-and-wave loggers
  QLabel* status_ = nullptr;
  QLabel* hostTime_ = nullptr;
  QLabel* loggerTime_ = nullptr;
  QLabel* memory_ = nullptr;
  QLabel* period_ = nullptr;
  QDateTimeEdit* start_ = nullptr;
  QDateTimeEdit* end_ = nullptr;
  QCheckBox* now_ = nullptr;
  QPushButton* periodButton_ = nullptr;
  QPushButton* averaging_ = nullptr;
  QComboBox* realtime_ = nullptr;
  QComboBox* startList_ = nullptr;
  QPushButton* threshold_ = nullptr;
  QPushButton* burst_ = nullptr;
  QLabel* bandwidth_ = nullptr;  // tide-and-wave loggers
  QPushButton* ranges_ = nullptr;
  QLabel* rangeSummary_ = nullptr;
  QCheckBox* autorun_ = nullptr;
  QCheckBox* led_ = nullptr;
  QLabel* messageIcon_ = nullptr;
  QLabel* message_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* sync_ = nullptr;
  QPushButton* batch_ = nullptr;
  QPushButton* enable_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// A setup dialog is on screen. A failed programming step reopens that dialog in place, so the
// "&Setup" the link posts after a failed read-back must not open a second one.
bool SetupDialogShown();
// Reads what the setup dialog needs from the connected logger: capabilities, configuration,
// status and schedule, calibration. The status code, or -1 when the logger did not answer.
int PrepareLoggerSetup(Session& session, LoggerSetup& setup);
// "SetupSimulation": the model to plan for; empty when cancelled.
std::string ChooseSimulatedModel(QWidget* parent);
// "SetupVSSimulation": the channel list of a simulated VS logger; false when cancelled or when
// no channel was chosen (the message has then been shown).
bool ChooseVsChannels(QWidget* parent, Host& host, LoggerState& logger);
// The simulated logger state of a model (channels and timing of its usual fit).
LoggerState SimulatedLogger(const std::string& model);
}  // namespace ui
}  // namespace klx
