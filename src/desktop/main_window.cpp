#include "desktop/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "calibration/ui/calibration_dialogs.h"
#include "calibration/ui/statistics_window.h"
#include "cards/ui/card_windows.h"
#include "decoding/decoder.h"
#include "deployment/status.h"
#include "deployment/ui/setup_command.h"
#include "derived/ui/derived_units_dialog.h"
#include "desktop/com_settings_dialog.h"
#include "desktop/retrieval_dialog.h"
#include "display/screen_capture.h"
#include "display/ui/graph_panel.h"
#include "files/dat_file.h"
#include "files/hex_file.h"
#include "files/mat_file.h"
#include "files/ui/file_dialogs.h"
#include "link/ui/link_dialogs.h"
#include "microsal/ui/microsal_panel.h"
#include "realtime/ui/gps_test_dialog.h"
#include "realtime/ui/limits_dialog.h"
#include "realtime/ui/live_readings_dialog.h"
#include "scripts/ui/script_command.h"
#include "shell/command_ids.h"
#include "shell/datetime.h"
#include "shell/directories.h"
#include "shell/messages.h"
#include "shell/recent_files.h"
#include "shell/status.h"
#include "sim/sim_transport.h"
#include "waves/ui/wave_window.h"
#include "waves/wave_files.h"

namespace klx::ui {

namespace {

constexpr const char* kFileMenu = "&File";
constexpr const char* kLoggerMenu = "&Logger functions";
constexpr const char* kConfigurationMenu = "&Configuration";
constexpr const char* kCalibrationMenu = "Calibratio&n functions";
constexpr const char* kHelpMenu = "&Help";
constexpr const char* kRecentMenu = "&Read a recent file";

// The menu text without its mnemonic marks.
std::string Plain(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p)
    if (*p != '&') out += *p;
  return out;
}

}  // namespace

const std::vector<MenuCommand>& MenuCommands() {
  static const std::vector<MenuCommand> kCommands = {
      {cmd::kReadDatFile, "Read a &DAT file", kFileMenu},
      {cmd::kReadHexFile, "Read a &HEX file", kFileMenu},
      {0, nullptr, kFileMenu},
      {cmd::kSaveFile, "&Save file", kFileMenu},
      {cmd::kFormatSaveFile, "&Format for the save file", kFileMenu},
      {cmd::kSaveScreenSegment, "Save screen se&gment to file", kFileMenu},
      {0, nullptr, kFileMenu},
      {cmd::kSaveMatlabFile, "Save a &MATLAB file", kFileMenu},
      {cmd::kSaveNetcdfFile, "Save a N&etCDF file", kFileMenu},
      {cmd::kReadMatlabFile, "Read a MATLA&B file", kFileMenu},
      {cmd::kMatlabFormat, "Forma&t for the MATLAB save file", kFileMenu},
      {cmd::kSaveNmjCsv, "Save a NMJ &csv file", kFileMenu},
      {0, nullptr, kFileMenu},
      {cmd::kScreenCapture, "Scree&n capture", kFileMenu},
      {0, nullptr, kFileMenu},
      {cmd::kExit, "E&xit", kFileMenu},
      {cmd::kSetup, "&Setup", nullptr},
      {cmd::kRetrieveData, "&Retrieve data", nullptr},
      {cmd::kFetchLiveReadings, "&Fetch live readings", kLoggerMenu},
      {cmd::kGpsTest, "&GPS test", kLoggerMenu},
      {cmd::kSetDefaultBaudRate, "&Set default baud rate", kLoggerMenu},
      {cmd::kEngineeringUnits, "&Engineering units", kLoggerMenu},
      {cmd::kSamplingLedControl, "Sampling &LED control", kLoggerMenu},
      {cmd::kViewLoadMetaTable, "&View/Load a meta table", kLoggerMenu},
      {cmd::kMmcSdMemory, "&MMC/SD memory", kLoggerMenu},
      {cmd::kRunConfigurationScript, "&Run configuration script", kLoggerMenu},
      {cmd::kSetModem, "Set modem", kLoggerMenu},
      {cmd::kModemSleep, "Modem slee&p", kLoggerMenu},
      {cmd::kDerivedUnits, "&Derived units", kConfigurationMenu},
      {cmd::kComSettings, "&COM settings", kConfigurationMenu},
      {cmd::kRealtimeLimits, "&Real-time Limits", kConfigurationMenu},
      {cmd::kLanguageResources, "&Language resources", kConfigurationMenu},
      {cmd::kAllowMultipleCopies, "&Allow multiple copies", kConfigurationMenu},
      {cmd::kShowRangeChanges, "&Show range changes", kConfigurationMenu},
      {cmd::kCalibrationCoefficients, "View/Enter &calibration coefficients", kCalibrationMenu},
      {cmd::kCalibrationHistory, "Calibration &History", kCalibrationMenu},
      {cmd::kTwoPointCalibration, "&View statistics/Two-point calibration", kCalibrationMenu},
      {cmd::kMicroSalinometer, "&Micro-Salinometer", nullptr},
      {cmd::kAbout, "A&bout", kHelpMenu},
  };
  return kCommands;
}

std::string MainWindow::ClockText(const SystemTime& t) {
  return Format("%04d/%s/%02d %02d:%02d:%02d ", t.year, MonthName(t.month), t.day, t.hour, t.minute,
                t.second);
}

MainWindow::MainWindow(std::filesystem::path programDirectory,
                       const std::vector<std::string>& devices, int copyIndex, QWidget* parent)
    : QMainWindow(parent),
      programDirectory_(std::move(programDirectory)),
      copyIndex_(std::clamp(copyIndex, 0, 7)) {
  setWindowTitle(FromLatin1(PrefixCopyTitle(copyIndex_, MessageText(Msg::AppTitle))));
  // Width of the screen, at most 1000; height 485; centred on wider screens, 10 from the top.
  const QRect screen = QApplication::primaryScreen()
                           ? QApplication::primaryScreen()->availableGeometry()
                           : QRect(0, 0, 1024, 768);
  const int width = std::min(screen.width(), 1000);
  setFixedSize(width, 485);
  // Secondary copies stand 20 pixels to the right and 30 down per copy.
  move(screen.x() + (screen.width() > 1000 ? (screen.width() - width) / 2 : 0) + 20 * copyIndex_,
       screen.y() + 10 + 30 * copyIndex_);

  host_ = std::make_unique<QtHost>(this, statusBar());
  host_->copyIndex = copyIndex_;
  host_->postCommand = [this](int id) { RunCommand(id); };
  session_ = std::make_unique<Session>(*host_, clock_, programDirectory_, devices, copyIndex_ + 1);
  simLoggers_ = sim::RegisterSimTransport(session_->transports, clock_);
  session_->commentDialog = [this](const std::string& current) -> std::optional<std::string> {
    if (host_->answer) return current;  // scripted runs keep the comment
    CommentDialog dialog(current, this);
    host_->PrefixTitle(dialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Comment();
  };

  view_ = GraphView(PlotWidthFor(width));
  graph_ = new GraphPanel(view_, this);
  graph_->unitContext = [this] {
    UnitTextContext c;
    c.model = view_.Data() ? view_.Data()->logger.model : std::string();
    c.standardChannels = view_.Data() ? view_.Data()->logger.standardChannels : true;
    c.doUnitUMol = session_->settings.derived.doUnitUMol;
    c.doUnitMgPerL = session_->settings.derived.doUnitMgPerL;
    c.doUnitMlPerL = session_->settings.derived.doUnitMlPerL;
    return c;
  };
  graph_->status = [this](const std::string& text) { ShowStatus(*host_, text); };
  setCentralWidget(graph_);
  waves_ = new WaveWindow(this);
  waves_->source = [this]() -> const DataSet* {
    if (session_->RealTimeActive()) return &session_->realTime->Data();
    return session_->held.data.Empty() ? nullptr : &session_->held.data;
  };

  calibHist_ = new CalibHistWindow(*session_, this);
  host_->PrefixTitle(*calibHist_);
  // The statistics window reads the graph's highlight and shades the channel it works on.
  statistics_ = new StatisticsWindow(*session_, this);
  statistics_->caption = [this](const std::string& title) { return host_->Caption(title); };
  statistics_->highlights = [this] {
    HighlightPair pair;
    // A real-time run in view is not the held data the window reads.
    if (view_.Data() != &session_->held.data) return pair;
    for (int i = 0; i < 2; ++i)
      pair[static_cast<size_t>(i)] = {view_.Highlight(i).first, view_.Highlight(i).last};
    return pair;
  };
  statistics_->channelChosen = [this](int channel) {
    view_.SetHighlightChannel(channel);
    graph_->Plot()->update();
  };
  graph_->highlightChanged = [this] { statistics_->Refresh(); };

  BuildMenus();
  std::string error;
  if (!session_->ReadSettings(&error)) {
    // A data folder that cannot be made ends the program.
    host_->Tell("Startup", error, BoxIcon::Stop);
    startupFailed_ = true;
  }
  // The ports that open now are the ones the COM settings dialog offers.
  session_->link.ScanSerialPorts();
  view_.showRangeChanges = session_->settings.showRangeChanges;
  if (QAction* a = Action(cmd::kShowRangeChanges))
    a->setChecked(session_->settings.showRangeChanges);
  Action(cmd::kAllowMultipleCopies)->setChecked(session_->settings.allowMultipleCopies);
  Action(cmd::kAllowMultipleCopies)->setEnabled(copyIndex_ == 0);
  ShowStatus(*host_, MessageText(Msg::Ready));
  RebuildRecentMenu();
  UpdateDataCommands();
  connect(&tick_, &QTimer::timeout, this, &MainWindow::Tick);
  tick_.start(1000);
  Tick();
}

MainWindow::~MainWindow() {
  tick_.stop();
  delete retrieval_;
  retrieval_ = nullptr;
}

QMenu* MainWindow::Menu(const std::string& title) const {
  const auto it = menus_.find(title);
  return it == menus_.end() ? nullptr : it->second;
}

void MainWindow::BuildMenus() {
  // "&Setup" and "&Retrieve data" first, then the three menus that a download greys.
  for (const char* title : {"&Setup", "&Retrieve data", kFileMenu, kLoggerMenu, kConfigurationMenu,
                            kCalibrationMenu, "&Micro-Salinometer", kHelpMenu}) {
    const MenuCommand* item = nullptr;
    for (const MenuCommand& c : MenuCommands())
      if (!c.menu && c.text && std::string(c.text) == title) item = &c;
    if (item) {
      QAction* a = menuBar()->addAction(FromLatin1(item->text));
      const int id = item->id;
      connect(a, &QAction::triggered, this, [this, id] { RunCommand(id); });
      host_->RegisterCommand(id, a);
      continue;
    }
    menus_[title] = menuBar()->addMenu(FromLatin1(title));
  }
  for (const MenuCommand& c : MenuCommands()) {
    if (!c.menu) continue;
    QMenu* menu = menus_[c.menu];
    if (!c.text) {
      menu->addSeparator();
      continue;
    }
    QAction* a = menu->addAction(FromLatin1(c.text));
    const int id = c.id;
    connect(a, &QAction::triggered, this, [this, id] { RunCommand(id); });
    host_->RegisterCommand(id, a);
  }
  Action(cmd::kShowRangeChanges)->setCheckable(true);
  Action(cmd::kAllowMultipleCopies)->setCheckable(true);
  Action(cmd::kModemSleep)->setVisible(false);  // only for loggers with modem control
}

void MainWindow::RebuildRecentMenu() {
  RecentFiles recent(session_->settings.ProgramDirectory());
  const std::vector<RecentMenuItem> items = recent.BuildRecentMenu();
  if (items.empty() && !recentMenu_) return;  // no list: nothing is built
  if (!recentMenu_) {
    // The popup goes into the File menu before "Read a &DAT file".
    recentMenu_ = new QMenu(FromLatin1(kRecentMenu), this);
    menus_[kFileMenu]->insertMenu(Action(cmd::kReadDatFile), recentMenu_);
  }
  // An item may be the one being triggered: it goes once its signal has returned.
  for (QAction* a : recentMenu_->actions()) {
    recentMenu_->removeAction(a);
    a->deleteLater();
  }
  recentActions_.clear();
  recentPaths_.clear();
  for (size_t i = 0; i < items.size() && i < recent.Entries().size(); ++i) {
    QAction* a = recentMenu_->addAction(FromLatin1(items[i].text));
    const int id = items[i].commandId;
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { RunCommand(id); });
    recentActions_.push_back(a);
    recentPaths_.push_back(recent.Entries()[i]);
  }
}

void MainWindow::SetTickTimer(int periodMs) {
  tick_.start(std::max(periodMs, 1));
}

void MainWindow::Tick() {
  // The retrieval's or the real-time display's periodic work first, then the clock and the link
  // activity countdown once a second, whatever the tick's period.
  if (retrieval_) retrieval_->Poll();
  if (session_->RealTimeActive())
    RealTimeTick();
  else if (waves_->isVisible() && view_.CursorSample() != waveCursor_)
    UpdateWaveWindow();
  const SystemTime now = clock_.LocalTime();
  if (now.second != lastClock_.second || now.minute != lastClock_.minute ||
      now.hour != lastClock_.hour || now.day != lastClock_.day) {
    lastClock_ = now;
    host_->SetStatusText(kStatusClockPart, ClockText(now));
    session_->link.TickSecond();
  }
}

void MainWindow::StartRealTimeDisplay() {
  if (!session_->RealTimeActive() && !session_->StartRealTime()) return;
  RealTimeRun& run = *session_->realTime;
  run.onSample = nullptr;  // the tick redraws once for all the samples it stored
  SetRealTimeGreying(true);
  SetTickTimer(run.TickPeriodMs());
}

void MainWindow::RealTimeTick() {
  RealTimeRun& run = *session_->realTime;
  const int64_t burstRecords = run.burstRecords;
  if (run.Tick() == 0) {
    // During a burst the logger sends burst records only: the wave window follows them.
    const DataSet& data = run.Data();
    if (run.burstRecords != burstRecords && data.logger.waves && !data.bursts.empty())
      UpdateWaveWindow();
    return;
  }
  const DataSet& data = run.Data();
  if (view_.Data() != &data) {
    TimeBase time;
    time.start = run.FirstSampleTime();
    time.periodSeconds = std::max<int64_t>(1, run.PeriodMs() / 1000);
    time.sixHz = session_->deployment.profiling6Hz;
    view_.wavesCapability = data.logger.waves;
    view_.realTimeScales = true;
    view_.SetData(&data, time);
  }
  // The display follows the newest samples: the last 180 (all of them until there are as many)
  // across the plot's width.
  constexpr int64_t kVisible = 180;
  const int64_t n = data.samplesPerChannel;
  const int64_t shown = std::clamp<int64_t>(n - 1, 1, kVisible);
  view_.AutoScaleChannels();
  view_.SetHorizontal(std::max<int64_t>(0, n - 1 - shown),
                      static_cast<double>(shown) / std::max(1, view_.Divisions()));
  graph_->Refresh();
  if (data.logger.waves && !data.bursts.empty()) UpdateWaveWindow();
}

void MainWindow::UpdateWaveWindow() {
  const DataSet* data = waves_->Data();
  if (!data || !data->logger.waves || data->bursts.empty()) {
    waves_->hide();
    return;
  }
  const bool realTime = session_->RealTimeActive();
  waveCursor_ = view_.CursorSample();
  const HeldData& held = session_->held;
  waves_->loggerHeight = !realTime && held.image.hasSnapshot
                             ? held.image.snapshot.parameters.loggerHeight
                             : session_->deployment.loggerHeight;
  waves_->Update(waveCursor_, realTime || waveCursor_ < 0);
  host_->PrefixTitle(*waves_);
  if (!waves_->isVisible()) waves_->show();
}

void MainWindow::SaveNmjCsv() {
  const HeldData& held = session_->held;
  if (held.data.Empty()) return;
  const DeploymentParameters& p =
      held.image.hasSnapshot ? held.image.snapshot.parameters : session_->deployment;
  WriteWaveCsv(*host_, session_->settings.ProgramDirectory(), held.data, p);
}

void MainWindow::EndRealTimeDisplay() {
  if (!session_->realTime) return;
  session_->EndRealTime();
  SetRealTimeGreying(false);
  SetTickTimer(1000);
  ShowStatus(*host_, MessageText(Msg::Ready));
}

void MainWindow::SetRealTimeGreying(bool running) {
  // The logger's line belongs to the display while it runs: the commands that talk to the
  // logger or replace the graph wait, and the retrieval item ends the display.
  host_->SetCommandEnabled(cmd::kSetup, !running);
  for (const char* menu : {kFileMenu, kLoggerMenu, kConfigurationMenu, kCalibrationMenu})
    menus_[menu]->setEnabled(!running);
  if (QAction* a = Action(cmd::kRetrieveData))
    a->setText(running ? QString(kEndRealTimeButton) : QString("&Retrieve data"));
}

void MainWindow::NotAvailable(int id) {
  for (const MenuCommand& c : MenuCommands())
    if (c.id == id && c.text) {
      ShowStatus(*host_, "\"" + Plain(c.text) + "\" is not yet available in this version");
      return;
    }
  ShowStatus(*host_, Format("Command %d is not yet available in this version", id));
}

void MainWindow::RunCommand(int id) {
  RunCommandNow(id);
  // Every command that connects leaves the units part showing the connected logger's output.
  if (session_ && session_->logger.state.connected)
    host_->SetUnitsIcon(session_->logger.state.OutputsEngineeringUnits());
}

void MainWindow::RunCommandNow(int id) {
  if (graph_->RunGraphCommand(id)) return;
  if (id >= cmd::kRecentFileFirst && id <= cmd::kRecentFileLast) {
    ReadRecentFile(id);
    return;
  }
  switch (id) {
    case cmd::kConnect:
      Connect();
      break;
    case cmd::kComSettings:
      ComSettings();
      break;
    case cmd::kRetrieveData:
      if (session_->RealTimeActive())
        EndRealTimeDisplay();  // the item reads "End Real-time Display" meanwhile
      else
        RetrieveData();
      break;
    case cmd::kRealtimeStart:
      StartRealTimeDisplay();
      break;
    case cmd::kFetchLiveReadings:
      RunFetchLiveReadingsCommand(this, *session_, *host_);
      break;
    case cmd::kLiveReadingsAfterEnable:
      OpenLiveReadings(this, *session_, *host_);
      break;
    case cmd::kGpsTest:
      RunGpsTestCommand(this, *session_, *host_);
      break;
    case cmd::kRealtimeLimits:
      RunRealTimeLimitsCommand(this, *session_);
      break;
    case cmd::kRealtimeEnd:
      EndRealTimeDisplay();
      break;
    case cmd::kSaveFile:
      SaveFile();
      break;
    case cmd::kReadHexFile:
      ReadFile("hex");
      break;
    case cmd::kReadDatFile:
      ReadFile("dat");
      break;
    case cmd::kReadMatlabFile:
      ReadFile("mat");
      break;
    case cmd::kSaveMatlabFile:
      if (session_->held.data.Empty()) break;
      if (session_->SaveHeldMat()) RebuildRecentMenu();
      break;
    case cmd::kSaveNmjCsv:
      SaveNmjCsv();
      break;
    case cmd::kSaveNetcdfFile:
      if (session_->held.data.Empty()) break;
      session_->SaveHeldNetcdf(std::nullopt, "klx-gui");
      break;
    case cmd::kScreenCapture:
      ScreenCapture();
      break;
    case cmd::kShowRangeChanges:
      ToggleRangeChanges();
      break;
    case cmd::kAllowMultipleCopies:
      ToggleMultipleCopies();
      break;
    case cmd::kFormatSaveFile:
      FormatSaveFile();
      break;
    case cmd::kMatlabFormat:
      MatlabFormat();
      break;
    case cmd::kSaveScreenSegment:
      SaveScreenSegment();
      break;
    case cmd::kDerivedUnits:
      DerivedUnits();
      break;
    case cmd::kSetDefaultBaudRate:
      DefaultBaudRate();
      break;
    case cmd::kSetup:
      ui::RunSetupCommand(this, *session_, *host_);
      break;
    case cmd::kEngineeringUnits:
      ui::RunEngineeringUnitsCommand(this, *session_, *host_);
      break;
    case cmd::kSamplingLedControl:
      ui::RunSamplingLedCommand(this, *session_, *host_);
      break;
    case cmd::kViewLoadMetaTable:
      ui::RunMetaTableCommand(this, *session_, *host_);
      break;
    case cmd::kMmcSdMemory:
      ui::RunMmcSdCommand(this, *session_, *host_);
      break;
    case cmd::kSetModem:
      ui::RunSetModemCommand(this, *session_, *host_);
      break;
    case cmd::kModemSleep:
      ui::RunModemSleepCommand(*session_);
      break;
    case cmd::kLatency:
      Latency();
      break;
    case cmd::kMicroSalinometer:
      ui::RunMicrosalCommand(this, *session_, *host_);
      break;
    case cmd::kCalibrationCoefficients:
      EnterCalibration();
      break;
    case cmd::kCalibrationHistory:
      ShowCalibrationHistory();
      break;
    case cmd::kRunConfigurationScript:
      RunConfigurationScriptCommand(this, *session_);
      break;
    case cmd::kTwoPointCalibration:
      statistics_->ShowWindow();
      break;
    case cmd::kAbout:
      About();
      break;
    case cmd::kLanguageResources:
      LanguageResources();
      break;
    case cmd::kExit:
      close();
      break;
    case cmd::kRestartRealtimeDisplay:
      host_->Tell("Restart Real-time Display",
                  "This function is disabled while it is being rewritten.\nIt will be released in "
                  "the future.\n\nUse the 'Restart Display' function under the 'Setup' menu item.",
                  BoxIcon::Information);
      break;
    default:
      NotAvailable(id);
      break;
  }
}

bool MainWindow::UnsavedDataQuestion(const std::string& caption) {
  if (!session_->held.image.unsaved) return true;
  if (host_->Ask(caption, MessageText(Msg::UnsavedData), Buttons::YesNo, BoxIcon::Warning,
                 Answer::No) != Answer::Yes)
    return true;
  if (!session_->held.data.Empty()) ShowHeldData();
  SaveFile();
  return false;
}

void MainWindow::ShowHeldData() {
  const HeldData& held = session_->held;
  TimeBase time;
  const DeploymentParameters& p =
      held.image.hasSnapshot ? held.image.snapshot.parameters : session_->deployment;
  time.start = p.startTime;
  time.periodSeconds = p.samplePeriod.TotalSeconds();
  time.sixHz = p.profiling6Hz;
  view_.wavesCapability = held.data.logger.waves;
  view_.realTimeScales = false;
  view_.showRangeChanges = session_->settings.showRangeChanges;
  view_.SetData(held.data.Empty() ? nullptr : &held.data, time);
  statistics_->DataChanged();
  graph_->Refresh();
  UpdateDataCommands();
  UpdateWaveWindow();
}

void MainWindow::UpdateDataCommands() {
  const bool data = !session_->held.data.Empty();
  for (int id : {cmd::kSaveFile, cmd::kFormatSaveFile, cmd::kSaveScreenSegment, cmd::kScreenCapture,
                 cmd::kSaveMatlabFile, cmd::kSaveNetcdfFile})
    host_->SetCommandEnabled(id, data);
  host_->SetCommandEnabled(cmd::kSaveNmjCsv, data && session_->held.data.logger.ModelHas("NMJ"));
}

void MainWindow::SetRetrievalGreying(bool running) {
  host_->SetCommandEnabled(cmd::kSetup, !running);
  host_->SetCommandEnabled(cmd::kRetrieveData, !running);
  for (const char* menu : {kFileMenu, kLoggerMenu, kConfigurationMenu})
    menus_[menu]->setEnabled(!running);
}

void MainWindow::Connect() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = session_->logger.ConnectCommand();
  QApplication::restoreOverrideCursor();
  if (ok) host_->SetUnitsIcon(session_->logger.state.OutputsEngineeringUnits());
}

void MainWindow::ComSettings() {
  ComSettingsDialog dialog(*session_, this);
  host_->PrefixTitle(dialog);
  dialog.exec();
}

void MainWindow::RetrieveData() {
  if (retrieval_) {
    retrieval_->raise();
    return;
  }
  auto retrieval = std::make_unique<Retrieval>(*session_);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool open = retrieval->Open();
  QApplication::restoreOverrideCursor();
  if (!open) return;  // the connection left its messages in the status line
  host_->SetUnitsIcon(session_->logger.state.OutputsEngineeringUnits());
  retrieval_ = new RetrievalDialog(*session_, std::move(retrieval), this);
  retrieval_->setAttribute(Qt::WA_DeleteOnClose, false);
  retrieval_->setTickPeriod = [this](int ms) { SetTickTimer(ms); };
  host_->PrefixTitle(*retrieval_);
  host_->progress = [this](int value, int maximum) {
    (void)maximum;
    if (retrieval_) retrieval_->Progress()->setValue(value);
  };
  // The menu is greyed only while the transfer runs, not while the dialog waits.
  retrieval_->transferRunning = [this](bool running) { SetRetrievalGreying(running); };
  retrieval_->finished = [this](bool data) {
    host_->progress = nullptr;
    SetRetrievalGreying(false);
    RetrievalDialog* dialog = retrieval_;
    retrieval_ = nullptr;
    dialog->deleteLater();
    // The end of every retrieval: show the data, offer the save, write the log entry.
    if (data || session_->held.image.fill > 0) {
      ShowHeldData();
      SaveFile();
    }
    session_->LogRetrieval();
  };
  retrieval_->show();
}

void MainWindow::SaveFile() {
  if (session_->held.data.Empty() && session_->held.image.fill <= 0) return;
  // Data already saved, or read from a file, are saved "again": the dat file only.
  const bool again = session_->held.fromFile || !session_->held.image.unsaved;
  if (session_->SaveHeld(again)) {
    ShowStatus(*host_, "Saved " + session_->held.file.string());
    RebuildRecentMenu();
  }
}

void MainWindow::ReadFile(const char* kind) {
  if (!UnsavedDataQuestion(MessageText(Msg::FileReadCaption))) return;
  const std::string k = kind;
  Directories& dirs = session_->directories;
  std::string& remembered = k == "hex" ? dirs.hex : k == "dat" ? dirs.dat : dirs.mat;
  FileChoice choice;
  choice.save = false;
  if (k == "hex") {
    choice.title = "Select an existing 'hex' file to be opened";
    choice.filter = "All Hex Files (*.hex)";
  } else if (k == "dat") {
    choice.title = "Select an existing 'dat' file to be opened";
    choice.filter = "All Data Files (*.dat)";
  } else {
    choice.title = "Select an existing 'mat' file to be opened";
    choice.filter = "MATLAB Files (*.mat)";
  }
  // The dialog opens in the remembered folder of this kind.
  choice.initialDirectory =
      FolderOrDefault(remembered, session_->settings.ProgramDirectory(), k.c_str()).string();
  const int serial = session_->logger.state.previousSerial;
  choice.suggestedName = serial >= 0 ? Format("%06d*.%s", serial, kind) : "*." + k;
  const auto chosen = host_->ChooseFile(choice);
  if (!chosen) return;
  if (k == "dat" && chosen->find(".dat") == std::string::npos) {
    host_->Tell("Reading a DAT file", "This file is not an KLX DAT file", BoxIcon::Warning);
    return;
  }
  // The chosen folder becomes the remembered one.
  remembered = std::filesystem::path(*chosen).parent_path().string();
  if (session_->rememberFolders)
    WriteDirectories(session_->settings.ProgramDirectory(), session_->directories);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok = session_->ReadDataFile(*chosen);
  QApplication::restoreOverrideCursor();
  if (!ok) return;  // the data held stay as they were
  ShowHeldData();
  RebuildRecentMenu();
}

void MainWindow::ReadRecentFile(int id) {
  const size_t index = static_cast<size_t>(id - cmd::kRecentFileFirst);
  if (index >= recentPaths_.size() || recentPaths_[index].empty()) return;
  if (!UnsavedDataQuestion(MessageText(Msg::FileReadCaption))) return;
  const std::string path = recentPaths_[index];
  QApplication::setOverrideCursor(Qt::WaitCursor);
  bool gone = false;
  // Opened as hex when the path names one, else as dat.
  const bool ok = session_->ReadDataFile(path, &gone);
  QApplication::restoreOverrideCursor();
  if (!ok) {
    // Only a file that is no longer there leaves the list.
    if (gone) {
      RecentFiles(session_->settings.ProgramDirectory()).RemoveRecentFile(path);
      RebuildRecentMenu();
    }
    return;
  }
  ShowHeldData();
  RebuildRecentMenu();
}

bool MainWindow::OpenCommandLineFile(const std::string& given) {
  std::string path = given;
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
    path = path.substr(1, path.size() - 2);
  if (path.find(".rcfg") != std::string::npos)
    return RunConfigurationScriptCommand(this, *session_, path);
  if (path.find(".dat") == std::string::npos && path.find(".hex") == std::string::npos &&
      std::filesystem::path(path).extension() != ".mat") {
    ShowStatus(*host_, "Not a hex, dat or mat file: " + path);
    return false;
  }
  if (!session_->ReadDataFile(path)) return false;
  ShowHeldData();
  RebuildRecentMenu();
  return true;
}

void MainWindow::ScreenCapture() {
  if (session_->held.data.Empty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int top = menuBar()->isVisible() ? menuBar()->height() : 0;
  const int w = width() - 5;
  QImage picture =
      grab(QRect(0, top, w, kCaptureRows)).toImage().convertToFormat(QImage::Format_ARGB32);
  PixelImage pixels;
  pixels.width = picture.width();
  pixels.height = picture.height();
  pixels.pixels.resize(static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height));
  for (int y = 0; y < pixels.height; ++y) {
    const auto* line = reinterpret_cast<const uint32_t*>(picture.constScanLine(y));
    std::copy(line, line + pixels.width,
              pixels.pixels.begin() + static_cast<std::ptrdiff_t>(y) * pixels.width);
  }
  QApplication::restoreOverrideCursor();

  FileChoice choice;
  choice.save = true;
  choice.initialDirectory = (session_->settings.ProgramDirectory() / "dat").string();
  const int serial = session_->logger.state.connected ? session_->logger.state.serial
                                                      : session_->held.data.logger.serial;
  choice.suggestedName = CaptureFileName(serial);
  choice.title = "Select a 'bmp' file for storing the screen image";
  choice.filter = "Screen Capture Files (*.bmp)";
  const auto chosen = host_->ChooseFile(choice);
  if (!chosen) return;
  const std::string file = WithBmpExtension(*chosen);
  if (!MayOverwrite(*host_, "Screen Capture", file)) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::string error;
  const bool ok = WriteCaptureFile(file, CaptureBitmapBytes(pixels, w), &error);
  QApplication::restoreOverrideCursor();
  ShowStatus(*host_, ok ? "Screen captured to " + file : error);
}

void MainWindow::ToggleRangeChanges() {
  Settings& s = session_->settings;
  s.showRangeChanges = !s.showRangeChanges;
  Action(cmd::kShowRangeChanges)->setChecked(s.showRangeChanges);
  if (!s.WriteSettings()) ShowStatus(*host_, "Unable to write the settings file");
  view_.showRangeChanges = s.showRangeChanges;
  graph_->Refresh();
}

void MainWindow::ToggleMultipleCopies() {
  if (copyIndex_ > 0) return;  // greyed in secondary copies
  Settings& s = session_->settings;
  s.allowMultipleCopies = !s.allowMultipleCopies;
  Action(cmd::kAllowMultipleCopies)->setChecked(s.allowMultipleCopies);
  if (!s.WriteSettings()) ShowStatus(*host_, "Unable to write the settings file");
}

void MainWindow::FormatSaveFile() {
  WriteFormatDialog dialog(session_->settings.format, this);
  host_->PrefixTitle(dialog);
  if (dialog.exec() != QDialog::Accepted) return;
  session_->settings.format = dialog.Layout();
  if (!session_->settings.WriteSettings()) ShowStatus(*host_, "Unable to write the settings file");
}

void MainWindow::MatlabFormat() {
  Settings& s = session_->settings;
  MatlabFormatDialog dialog(s.matlabFrequency, s.matlabFormat, this);
  host_->PrefixTitle(dialog);
  if (dialog.exec() != QDialog::Accepted) return;
  s.matlabFrequency = dialog.Frequency();
  s.matlabFormat = dialog.Format();
  if (!s.WriteSettings()) ShowStatus(*host_, "Unable to write the settings file");
}

void MainWindow::SaveScreenSegment() {
  if (session_->held.data.Empty()) return;
  const int64_t first = view_.FirstSample();
  const int64_t last = view_.LastDisplayedSample();
  if (first < 0 || last < first) return;
  SaveRequest request;
  request.programDirectory = session_->settings.ProgramDirectory();
  request.directories = &session_->directories;
  request.layout = static_cast<DatLayout>(std::clamp(session_->settings.format, 0, 2));
  request.derived = session_->settings.derived;
  if (!SaveDatFileForRange(*host_, request, session_->held, static_cast<int>(first),
                           static_cast<int>(last)))
    return;
  if (session_->rememberFolders)
    WriteDirectories(session_->settings.ProgramDirectory(), session_->directories);
  RecentFiles(session_->settings.ProgramDirectory()).AddRecentFile(request.chosenDat.string());
  ShowStatus(*host_, "Saved " + request.chosenDat.string());
  RebuildRecentMenu();
}

void MainWindow::DerivedUnits() {
  Settings& s = session_->settings;
  DerivedUnitsDialog dialog(s.derived, session_->calibration.conductivityCorrection, this);
  host_->PrefixTitle(dialog);
  if (dialog.exec() != QDialog::Accepted) return;
  s.derived = dialog.Settings();
  if (!s.WriteSettings()) ShowStatus(*host_, "Unable to write the settings file");
  if (session_->held.data.Empty()) return;
  session_->ApplyDerived();
  ShowHeldData();
}

bool MainWindow::ConnectedAndIdle(Msg message, Msg caption) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool connected = session_->logger.ConnectCommand();
  const int status =
      connected && session_->logger.CommGet(9) == 1 ? session_->logger.status.code : -1;
  QApplication::restoreOverrideCursor();
  if (!connected || status < 0) return false;
  if (!StatusIsIdle(status)) {
    host_->Tell(MessageText(caption), MessageText(message), BoxIcon::Warning);
    return false;
  }
  return true;
}

void MainWindow::DefaultBaudRate() {
  if (!ConnectedAndIdle(Msg::LoggingCannotSetDefaultBaud, Msg::SetDefaultBaudCaption)) return;
  LoggerLink& logger = session_->logger;
  if (!logger.DefaultBaudRateSupported()) return;
  int current = 0;
  if (!logger.ReadDefaultBaudRate(current)) current = 0;
  DefaultBaudRateDialog dialog(logger, current, this);
  host_->PrefixTitle(dialog);
  dialog.exec();
}

void MainWindow::Latency() {
  if (!ConnectedAndIdle(Msg::LoggingCannotSetLatency, Msg::SetLatencyCaption)) return;
  const int current = session_->logger.CurrentLatency();
  if (current < 0) return;
  LatencyDialog dialog(session_->logger, current, this);
  host_->PrefixTitle(dialog);
  dialog.exec();
}

void MainWindow::EnterCalibration() {
  RunCalibrationCommand(*session_, this);
}

void MainWindow::ShowCalibrationHistory() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  RunCalibrationHistory(*session_, *calibHist_);
  QApplication::restoreOverrideCursor();
}

void MainWindow::LanguageResources() {
  QDialog dialog(this);
  dialog.setObjectName("LanguageSupport");
  dialog.setWindowTitle("Language resources");
  host_->PrefixTitle(dialog);
  auto* layout = new QVBoxLayout(&dialog);
  auto* box = new QCheckBox("Traditional Chinese language support", &dialog);
  box->setChecked(session_->settings.languageSupport);
  layout->addWidget(box);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return;
  session_->settings.languageSupport = box->isChecked();
  session_->settings.WriteSettings();
}

void MainWindow::About() {
  host_->Tell("About",
              Format("%s\nVersion %s\n\nHost software for the KLX data loggers.",
                     MessageText(Msg::AppTitle).c_str(), "6.13"),
              BoxIcon::Information);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!UnsavedDataQuestion("Program Exit")) {
    event->ignore();
    return;
  }
  if (session_->RealTimeActive()) EndRealTimeDisplay();
  tick_.stop();
  if (retrieval_) retrieval_->close();
  session_->link.CloseSerialPort(PortSlot::Logger);
  session_->link.CloseSerialPort(PortSlot::Gps);
  event->accept();
}

}  // namespace klx::ui
