#include "deployment/ui/setup_command.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "calibration/read.h"
#include "deployment/ui/setup_dialog.h"
#include "session/session.h"
#include "shell/command_ids.h"
#include "shell/datetime.h"

namespace klx::ui {

namespace {
const char* const kModels[] = {"NA-7100",  "NB-7100",  "NA-7160", "NMK-7100-QE", "NMV-7400",
                               "NMK-7400", "NMJ-7400", "VS-330",  "VS-550"};
const char* const kModelLabels[] = {"NA-7100",     "NB-7100",           "NA-7160",
                                    "NMK-7100-QE", "NMV-7400",          "NMK-7400",
                                    "NMJ-7400",    "VS-330 or VSY-330", "VS-550 or VSY-550"};

// A plan that starts a minute from now and runs for a week at ten seconds.
void DefaultPlan(DeploymentParameters& p, const SystemTime& now) {
  const RetrievalMark retrieved = p.lastRetrieval;
  p = DeploymentParameters{};
  p.lastRetrieval = retrieved;
  p.startTime = AddSeconds(now, 60 - now.second);
  p.startTime.milliseconds = 0;
  p.endTime = AddSeconds(p.startTime, 7 * 86400);
  p.samplePeriod = {0, 0, 10};
  p.burstLength = 2048;
  p.burstInterval = {1, 0, 0};
}
}  // namespace

LoggerState SimulatedLogger(const std::string& model) {
  LoggerState s;
  s.model = model;
  s.connected = false;
  const bool vs = s.IsVS();
  s.extendedCommandSet = !vs;  // the 7100, 7160 and 7400 series are linear-memory loggers
  s.memorySizeMb = vs ? (s.ModelHas("550") ? 8 : 4) : 8;
  // The 7400 series records temperature and pressure; the single-channel ones are temperature
  // recorders in the NA family and depth recorders otherwise. The VS models get their channels
  // from the channel choice that follows.
  s.channelTypes = s.ModelHas("7400") ? "TP" : (s.ModelHas("NA") ? "T" : "P");
  s.channelCount = static_cast<int>(s.channelTypes.size());
  s.latencyMs = s.ModelHas("7400") || s.ModelHas("7160") ? 120 : 300;
  s.readingTimeMs = 200;
  s.waves = s.ModelHas("NMJ");
  s.highSamplingRates = s.waves;
  s.averaging = 1;
  s.profiling6Hz = vs;
  s.hysteresis = vs;
  s.conventionalThresholding = vs;
  s.externalDataConnector = vs;
  s.memoryTypeCode = 4;
  return s;
}

std::string ChooseSimulatedModel(QWidget* parent) {
  QDialog d(parent);
  d.setWindowTitle("KLX Setup Simulation");
  auto* top = new QVBoxLayout(&d);
  top->addWidget(new QLabel(
      "No logger is connected. \nYou may assess a setup in simulation.\nChoose a logger type", &d));
  auto* list = new QListWidget(&d);
  for (const char* label : kModelLabels) list->addItem(label);
  list->setCurrentRow(0);
  top->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &d, &QDialog::accept);
  top->addWidget(buttons);
  if (d.exec() != QDialog::Accepted || list->currentRow() < 0) return {};
  return kModels[list->currentRow()];
}

bool ChooseVsChannels(QWidget* parent, Host& host, LoggerState& logger) {
  struct Sensor {
    const char* text;
    char letter;
    int latency;
    int reading;
  };
  static constexpr Sensor kSensors[] = {
      {"Conductivity - marine", 'C', 0, 0},
      {"Temperature", 'T', 0, 0},
      {"Pressure - generic", 'P', 0, 0},
      {"Dissolved oxygen - Oxyguard", 'D', 0, 0},
      {"Dissolved oxygen - Optode", 'K', 0, 1200},
      {"Turbidity", 'Y', 860, 0},
      {"Pressure - Paroscientific", 'L', 1700, 1800},
      {"Fluorometry - chlorophil", 'F', 460, 0},
      {"Fluorometry - rhodamine", 'G', 460, 0},
      {"Fluorometry - UV", 'I', 4860, 0},
      {"PAR - Licor", 'R', 0, 0},
      {"PAR - Bioshpherical", 'R', 3000, 0},
      {"pH", 'H', 0, 0},
      {"Transmissometer", 'N', 4860, 0},
  };
  QDialog d(parent);
  d.setWindowTitle("KLX VS Logger Simulation");
  auto* top = new QVBoxLayout(&d);
  top->addWidget(new QLabel("Select logger channels", &d));
  auto* grid = new QGridLayout;
  std::vector<QCheckBox*> boxes;
  int i = 0;
  for (const Sensor& s : kSensors) {
    auto* box = new QCheckBox(s.text, &d);
    grid->addWidget(box, i % 7, i / 7);
    boxes.push_back(box);
    ++i;
  }
  top->addLayout(grid);
  auto* string = new QCheckBox("Thermistor string", &d);
  auto* t8 = new QRadioButton("T8", &d);
  auto* t16 = new QRadioButton("T16", &d);
  auto* t24 = new QRadioButton("T24", &d);
  string->setEnabled(!logger.ModelHas("550"));
  auto* stringRow = new QHBoxLayout;
  stringRow->addWidget(string);
  for (QRadioButton* r : {t8, t16, t24}) {
    r->setEnabled(false);
    stringRow->addWidget(r);
  }
  QObject::connect(string, &QCheckBox::toggled, &d, [=](bool on) {
    for (QRadioButton* r : {t8, t16, t24}) r->setEnabled(on);
    if (on && !t16->isChecked() && !t24->isChecked()) t8->setChecked(true);
  });
  top->addLayout(stringRow);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  top->addWidget(buttons);
  if (d.exec() != QDialog::Accepted) return false;

  std::string letters;
  int latency = logger.latencyMs;
  int reading = logger.readingTimeMs;
  if (string->isChecked()) {
    letters.assign(t24->isChecked() ? 24 : t16->isChecked() ? 16 : 8, 'T');
    reading = std::max(reading, 1400);
    logger.averaging = 0;
  } else {
    for (size_t k = 0; k < boxes.size(); ++k) {
      if (!boxes[k]->isChecked()) continue;
      letters += kSensors[k].letter;
      latency = std::max(latency, kSensors[k].latency);
      reading = std::max(reading, kSensors[k].reading);
    }
  }
  if (letters.empty()) {
    host.Tell("VS logger simulation",
              "You have not selected a set of sensors for your VS logger.\nA logger with no "
              "sensors cannot be simulated.",
              BoxIcon::Warning);
    return false;
  }
  logger.channelTypes = letters;
  logger.channelCount = static_cast<int>(letters.size());
  logger.latencyMs = latency;
  logger.readingTimeMs = reading;
  return true;
}

int PrepareLoggerSetup(Session& session, LoggerSetup& setup) {
  LoggerLink& link = session.logger;
  AssessCapabilitiesForSetup(link);
  link.CommGet(16);  // the channel list and timing the checks work on
  setup.logDirectory = session.settings.ProgramDirectory();
  setup.prepareRealTime = [&session](DeploymentParameters& p) {
    return session.PrepareRealTime(p);
  };
  const int status = setup.Open();
  if (status < 0) return status;
  // A suspended logger (status 5, "Logging Suspended") holds a deployment that can go on: the
  // button reads "Resume/Enable", its start is not checked again and the data can be kept.
  setup.resuming = status == 5;
  setup.calibrationRead = ReadCalibration(link, session.calibration) == CalibrationRead::Succeeded;
  setup.calibration = &session.calibration;
  return status;
}

void FollowSetup(Session& session, Host& host, const LoggerSetup& setup, EnableStep step,
                 bool restartDisplay) {
  if (restartDisplay) {
    // An engineering-output logger is shown in the live readings, which read the line
    // themselves; the others in the real-time display.
    const bool live = StoresRealTimeAsDat(session.logger.state);
    if (!session.RestartRealTime(true, !live)) return;
    host.PostCommand(live ? cmd::kLiveReadingsAfterEnable : cmd::kRealtimeStart);
    return;
  }
  switch (step) {
    case EnableStep::ClosedToSave:
      host.PostCommand(cmd::kSaveFile);  // the user returns to save the retrieved data
      return;
    case EnableStep::Enabled:
    case EnableStep::Resumed:
      if (!session.deployment.realtimeOutput) return;
      // Text output goes to the live readings; binary records to the real-time display.
      if (setup.liveReadingsRequested)
        host.PostCommand(cmd::kLiveReadingsAfterEnable);
      else if (session.realTimeFiles)
        host.PostCommand(cmd::kRealtimeStart);
      return;
    default:
      return;
  }
}

void RunSetupCommand(QWidget* parent, Session& session, Host& host) {
  // A failed read-back posts "&Setup" while the dialog that failed opens itself again: one
  // setup dialog is enough.
  if (SetupDialogShown()) return;
  LoggerLink& link = session.logger;
  if (link.ConnectCommand()) {
    LoggerSetup setup(link, session.clock, session.batchValues);
    if (PrepareLoggerSetup(session, setup) < 0) return;
    SetupDialog dialog(session, &setup, link.state, parent);
    const int result = dialog.exec();
    FollowSetup(session, host, setup, dialog.LastStep(), result == SetupDialog::kRestartDisplay);
    return;
  }
  const std::string model = ChooseSimulatedModel(parent);
  if (model.empty()) return;
  LoggerState simulated = SimulatedLogger(model);
  if (simulated.IsVS() && !ChooseVsChannels(parent, host, simulated)) return;
  DefaultPlan(session.deployment, session.clock.LocalTime());
  SetupDialog dialog(session, nullptr, simulated, parent);
  dialog.exec();
}

namespace {
// The one-button dialog of the two format commands; true when the button was pressed.
bool ToggleDialog(QWidget* parent, const char* title, const char* text, const char* button) {
  QDialog d(parent);
  d.setWindowTitle(title);
  auto* top = new QVBoxLayout(&d);
  top->addWidget(new QLabel(text, &d));
  auto* buttons = new QDialogButtonBox(&d);
  if (button) {
    QPushButton* b = buttons->addButton(button, QDialogButtonBox::AcceptRole);
    QObject::connect(b, &QPushButton::clicked, &d, &QDialog::accept);
  }
  QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
  QObject::connect(close, &QPushButton::clicked, &d, &QDialog::reject);
  top->addWidget(buttons);
  return d.exec() == QDialog::Accepted;
}

// Sends the start characteristic with one start flag toggled, after re-establishing the link.
void SendToggledFlag(Session& session, uint32_t bit) {
  LoggerLink& link = session.logger;
  link.deployment().startFlags ^= bit;
  if (!link.ConnectLogger() || link.CommSet(28) != 1) {
    link.deployment().startFlags ^= bit;
    return;
  }
  link.CommGet(28);
}
}  // namespace

void RunEngineeringUnitsCommand(QWidget* parent, Session& session, Host& host) {
  LoggerLink& link = session.logger;
  if (!link.ConnectCommand()) return;
  if (link.CommGet(9) != 1) return;
  const int status = link.status.code;
  if (status != 0 && status != 4 && status != 8) {
    host.Tell("Communication format",
              "This logger is active.\n\nThe communiation format cannot be switched between\n"
              "Engineering units and Binary format at this time",
              BoxIcon::Warning);
    return;
  }
  link.AssessCapabilities();
  LoggerState& s = link.state;
  if (s.engineeringUnitsLevel < 1) {
    ToggleDialog(parent, "Communiation Format",
                 "This logger can only output fetched data and real-time data in binary format",
                 nullptr);
    return;
  }
  link.CommGet(28);
  const bool rs485 = s.externalDataConnector;
  const bool engineering = (link.deployment().startFlags & 4u) != 0;
  const char* text =
      engineering
          ? (rs485 ? "This logger is set to output fetched data and real-time data in ENGINEERING "
                     "UNITS"
                   : "This logger is set to output fetched data in\nENGINEERING UNITS")
          : (rs485 ? "This logger is set to output fetched data and real-time data in BINARY "
                     "FORMAT"
                   : "This logger is set to output fetched data in\nBINARY FORMAT");
  if (ToggleDialog(
          parent, "Communiation Format", text,
          engineering ? "Set the output to BINARY FORMAT" : "Set the output to ENGINEERING UNITS"))
    SendToggledFlag(session, 4u);
}

void RunSamplingLedCommand(QWidget* parent, Session& session, Host& host) {
  (void)host;
  LoggerLink& link = session.logger;
  if (!link.ConnectCommand()) return;
  link.CommGet(9);
  link.AssessCapabilities();
  if (!link.state.SamplingLed()) {
    ToggleDialog(parent, "Sampling LED Control", "This logger does not have a sampling LED",
                 nullptr);
    return;
  }
  link.CommGet(28);
  const bool on = (link.deployment().startFlags & 8u) != 0;
  if (ToggleDialog(parent, "Sampling LED Control",
                   on ? "This logger has the sampling LED\nENABLED"
                      : "This logger has the sampling LED\nDISABLED",
                   on ? "Disable the sampling LED" : "Enable the sampling LED"))
    SendToggledFlag(session, 8u);
}

}  // namespace klx::ui
