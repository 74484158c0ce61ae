#pragma once
// The retrieval dialog ("KLX Logger - Data Retrieval"): what the logger holds, then the block
// transfer paced by one timer at the transfer's period, with the progress bar and the time
// remaining. Modeless; it reports the end through `finished`.
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "session/retrieval.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace klx::ui {

class RetrievalDialog : public QDialog {
  Q_OBJECT
 public:
  // `retrieval` has been opened (the logger answered).
  RetrievalDialog(Session& session, std::unique_ptr<Retrieval> retrieval,
                  QWidget* parent = nullptr);
  ~RetrievalDialog() override;

  QPushButton* RetrieveButton() const { return retrieve_; }
  QPushButton* RetrieveAllButton() const { return retrieveAll_; }
  QPushButton* CancelButton() const { return cancel_; }
  QProgressBar* Progress() const { return progress_; }
  QPushButton* AppendButton() const { return append_; }
  bool Transferring() const { return transferring_; }
  // The tide-and-wave variant ("NMJDownloadProc"), for loggers with the "Waves" capability.
  bool WavesVariant() const { return waves_; }
  QLabel* Details() const { return details_; }
  // The variant's wave lines: the burst plan (or "Wave sampling not enabled") and the logger
  // height above the bed.
  static std::string WavePlanText(const DeploymentParameters& d);
  // The main window's tick: one block while the transfer runs; before it, while the dialog
  // waits for the user, the logger's status (`CommGet` 9) and battery voltage (`CommGet` 21).
  void Poll();
  // The polled readings as shown ("Logger status: ...", "Battery: ...").
  QLabel* PolledStatus() const { return polled_; }

  // Sets the period of the main window's tick (the transfer's period while it runs, 1000 ms
  // again afterwards).
  std::function<void(int)> setTickPeriod;
  // Runs once when the retrieval has ended (transferred, cancelled or refused); the argument
  // tells whether a data set arrived.
  std::function<void(bool)> finished;
  // Runs when the transfer starts (before its first block) and when it has ended: the main
  // menu is greyed only while it runs.
  std::function<void(bool)> transferRunning;
  // Runs just after every block (tests take their pictures here).
  std::function<void()> afterBlock;

 protected:
  void reject() override;

 private:
  void Start(bool all);
  void Append();
  void Transfer();
  void Step();
  void End();
  void ShowState();
  void PollLogger();

  Session& session_;
  std::unique_ptr<Retrieval> retrieval_;
  bool transferring_ = false;
  QLabel* identity_ = nullptr;
  QLabel* details_ = nullptr;
  QLabel* usage_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QLabel* polled_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* retrieve_ = nullptr;
  QPushButton* retrieveAll_ = nullptr;
  QPushButton* append_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool ended_ = false;
  bool waves_ = false;
};

}  // namespace klx::ui
