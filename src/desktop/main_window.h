#pragma once
// The main window: menus with every command of the command table, the graph, the status bar and
// the once-a-second timer. Commands that the core serves run here; the others say in the status
// line that they are not available yet.
#include <QMainWindow>
#include <QTimer>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/qt_host.h"
#include "display/graph_view.h"
#include "platform/clock.h"
#include "session/session.h"
#include "shell/messages.h"

class QMenu;

namespace klx {
class CalibHistWindow;
class StatisticsWindow;
}  // namespace klx

namespace klx::sim {
class SimLoggers;
}

namespace klx::ui {

class GraphPanel;
class RetrievalDialog;
class WaveWindow;

// One command of the menus: id, menu text, and the menu it sits in.
struct MenuCommand {
  int id;
  const char* text;
  const char* menu;  // nullptr: an item of the menu bar itself
};
// The command table in menu order.
const std::vector<MenuCommand>& MenuCommands();

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // A data folder could not be made at start: the program ends.
  bool StartupFailed() const { return startupFailed_; }
  // `programDirectory` holds the settings files; `devices` are the serial devices to number;
  // `copyIndex` is this copy's slot (0: the first copy).
  MainWindow(std::filesystem::path programDirectory, const std::vector<std::string>& devices,
             int copyIndex = 0, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Runs a menu or posted command.
  void RunCommand(int id);
  // Opens a file named on the command line (hex, dat or mat; enclosing quotes stripped); it
  // goes to the top of the recent files. False when it is not opened.
  bool OpenCommandLineFile(const std::string& path);

  Session& session() { return *session_; }
  QtHost& host() { return *host_; }
  GraphView& view() { return view_; }
  GraphPanel& graph() { return *graph_; }
  QAction* Action(int id) const { return host_->Action(id); }
  QMenu* Menu(const std::string& title) const;
  RetrievalDialog* Retrieving() const { return retrieval_; }
  // The wave window (created hidden; shown while a data set with wave bursts is in view).
  WaveWindow* Waves() const { return waves_; }
  // The calibration history window (created hidden; shown by "Calibration History").
  CalibHistWindow* HistoryWindow() const { return calibHist_; }
  // The statistics window of the highlighted readings (created hidden; shown by "View
  // statistics/Two-point calibration").
  StatisticsWindow* Statistics() const { return statistics_; }
  sim::SimLoggers& SimLoggers() { return *simLoggers_; }
  int CopyIndex() const { return copyIndex_; }
  // The once-a-second tick (shorter while a retrieval transfers).
  const QTimer& TickTimer() const { return tick_; }
  // `SetTickTimer`: (re)starts the tick with a period in milliseconds.
  void SetTickTimer(int periodMs);
  // The popup "&Read a recent file" (nullptr until there is a list) and its items.
  QMenu* RecentMenu() const { return recentMenu_; }
  std::vector<QAction*> RecentActions() const { return recentActions_; }

  // Shows the held data set in the graph and enables the save commands.
  void ShowHeldData();

  // The status-bar clock text for a time: "%04d/%s/%02d %02d:%02d:%02d ".
  static std::string ClockText(const SystemTime& t);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void RunCommandNow(int id);
  void BuildMenus();
  void RebuildRecentMenu();
  void Tick();
  // The unsaved-data question; true when the command may go on.
  bool UnsavedDataQuestion(const std::string& caption);
  void UpdateDataCommands();
  void SetRetrievalGreying(bool running);
  void NotAvailable(int id);

  void Connect();
  void ComSettings();
  void RetrieveData();
  void SaveFile();
  void ReadFile(const char* kind);
  void ReadRecentFile(int id);
  // Reads a hex, dat or mat file (`kind`) into the held data; hex and dat files go to the top of
  // the recent files. `gone` (when given) tells whether the read found the file missing.
  void ScreenCapture();
  void ToggleRangeChanges();
  void ToggleMultipleCopies();
  void FormatSaveFile();
  void MatlabFormat();
  void SaveScreenSegment();
  void DerivedUnits();
  void DefaultBaudRate();
  void Latency();
  // Connects and checks that the logger is idle; `message` is shown while it logs.
  bool ConnectedAndIdle(Msg message, Msg caption);
  void About();
  void LanguageResources();
  // The real-time display: started after an enable (or a restart) with real-time output, fed
  // by the tick, ended by "End Real-time Display".
  void StartRealTimeDisplay();
  void EndRealTimeDisplay();
  void RealTimeTick();
  void SetRealTimeGreying(bool running);
  // The wave window follows the data in view: the newest burst of a real-time run, else the
  // burst under the graph's cursor (the newest without a cursor).
  void UpdateWaveWindow();
  // "Save a NMJ &csv file".
  void SaveNmjCsv();
  // "View/Enter calibration coefficients" and "Calibration History".
  void EnterCalibration();
  void ShowCalibrationHistory();
  bool startupFailed_ = false;

  std::filesystem::path programDirectory_;
  int copyIndex_ = 0;
  RealClock clock_;
  std::unique_ptr<QtHost> host_;
  std::unique_ptr<Session> session_;
  std::shared_ptr<sim::SimLoggers> simLoggers_;
  GraphView view_;
  GraphPanel* graph_ = nullptr;
  std::map<std::string, QMenu*> menus_;
  QMenu* recentMenu_ = nullptr;
  std::vector<QAction*> recentActions_;
  std::vector<std::string> recentPaths_;
  QTimer tick_;
  SystemTime lastClock_;
  RetrievalDialog* retrieval_ = nullptr;
  WaveWindow* waves_ = nullptr;
  CalibHistWindow* calibHist_ = nullptr;
  StatisticsWindow* statistics_ = nullptr;
  int64_t waveCursor_ = -1;  // the cursor sample the wave window last followed
  bool closing_ = false;
};

}  // namespace klx::ui
