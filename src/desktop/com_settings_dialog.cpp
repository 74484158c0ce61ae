#include "desktop/com_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

#include "desktop/qt_host.h"
#include "session/session.h"
#include "shell/command_ids.h"
#include "shell/status.h"
#include "sim/sim_profile.h"

namespace klx::ui {

std::vector<PortEntry> PortEntries(const Session& session) {
  std::vector<PortEntry> out;
  for (const auto& [number, device] : session.ports.Entries()) {
    if (device.rfind("sim:", 0) == 0) continue;         // listed with the simulated loggers below
    if (!session.link.PortAvailable(number)) continue;  // not found when the ports were scanned
    out.push_back({Format("COM%d  %s", number, device.c_str()), Format("COM%d", number)});
  }
  for (const std::string& profile : sim::ProfileNames())
    out.push_back({"Simulated logger: " + profile, "sim:" + profile});
  return out;
}

ComSettingsDialog::ComSettingsDialog(Session& session, QWidget* parent)
    : QDialog(parent), session_(session), entries_(PortEntries(session)) {
  setWindowTitle("COM settings");
  // The logger port is closed while the user chooses; the link counts as not connected.
  if (session_.link.IsOpen(PortSlot::Logger)) session_.link.CloseSerialPort(PortSlot::Logger);
  session_.logger.state.connected = false;
  ShowStatus(session_.host, "Select Communication Port");
  auto* layout = new QVBoxLayout(this);
  auto* loggerBox = new QGroupBox("Logger", this);
  auto* loggerLayout = new QVBoxLayout(loggerBox);
  loggerLayout->addWidget(new QLabel("Port:", loggerBox));
  list_ = new QListWidget(this);
  list_->setObjectName("ports");
  const std::string current = session_.ports.DeviceFor(session_.link.loggerPort);
  for (size_t i = 0; i < entries_.size(); ++i) {
    list_->addItem(FromLatin1(entries_[i].label));
    const bool isCurrent = entries_[i].name == current ||
                           (entries_[i].name == Format("COM%d", session_.link.loggerPort) &&
                            current.rfind("sim:", 0) != 0);
    if (isCurrent) list_->setCurrentRow(static_cast<int>(i));
  }
  loggerLayout->addWidget(list_);
  layout->addWidget(loggerBox);

  auto* gpsBox = new QGroupBox("GPS", this);
  auto* gpsLayout = new QHBoxLayout(gpsBox);
  gpsLayout->addWidget(new QLabel("Port:", gpsBox));
  gpsPort_ = new QComboBox(gpsBox);
  gpsPort_->setObjectName("gpsPort");
  gpsPort_->addItem("Not used", 0);
  for (const auto& [number, device] : session_.ports.Entries())
    if (device.rfind("sim:", 0) != 0 && session_.link.PortAvailable(number))
      gpsPort_->addItem(FromLatin1(Format("COM%d", number)), number);
  const int gpsIndex = gpsPort_->findData(session_.link.gpsPort);
  gpsPort_->setCurrentIndex(gpsIndex > 0 ? gpsIndex : 0);
  gpsLayout->addWidget(gpsPort_);
  gpsLayout->addWidget(new QLabel("Baudrate:", gpsBox));
  gpsBaud_ = new QComboBox(gpsBox);
  gpsBaud_->setObjectName("gpsBaud");
  for (int rate : SerialLink::kBaudTable) gpsBaud_->addItem(QString::number(rate), rate);
  const int baudIndex = gpsBaud_->findData(session_.link.gpsBaudRate);
  gpsBaud_->setCurrentIndex(baudIndex >= 0 ? baudIndex : 2);
  gpsBaud_->setEnabled(gpsPort_->currentIndex() > 0);
  connect(gpsPort_, &QComboBox::currentIndexChanged, this,
          [this](int index) { gpsBaud_->setEnabled(index > 0); });
  gpsLayout->addWidget(gpsBaud_);
  layout->addWidget(gpsBox);

  auto* radioLayout = new QHBoxLayout;
  radio_ = new QCheckBox("Radio Modems used", this);
  radio_->setObjectName("radio");
  radio_->setChecked(session_.link.radioDelay.enabled);
  radioDelay_ = new QSpinBox(this);
  radioDelay_->setObjectName("radioDelay");
  radioDelay_->setRange(0, 60000);
  radioDelay_->setValue(session_.link.radioDelay.ms);
  radioLayout->addWidget(radio_);
  radioLayout->addWidget(new QLabel("with delay", this));
  radioLayout->addWidget(radioDelay_);
  radioLayout->addWidget(new QLabel("msec", this));
  layout->addLayout(radioLayout);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (Apply()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] {
    if (Apply()) accept();
  });
  layout->addWidget(buttons);
  resize(360, 320);
}

bool ComSettingsDialog::Apply() {
  const int row = list_->currentRow();
  if (row < 0 || row >= static_cast<int>(entries_.size())) return false;
  const int previousPort = session_.link.loggerPort;
  std::string error;
  if (!session_.SelectPort(entries_[static_cast<size_t>(row)].name, &error)) {
    ShowStatus(session_.host, error);
    return false;
  }
  const int gps = gpsPort_->currentData().toInt();
  if (gps > 0 && gps == session_.link.loggerPort) {
    session_.link.loggerPort = previousPort;
    session_.host.Tell("Port Configuration Error",
                       "The connection to the logger and\n the connection to the GPS system\n  "
                       "have been assigned to the same serial port.\n\nCheck your selections.",
                       BoxIcon::Warning);
    return false;
  }
  session_.link.gpsPort = gps;
  session_.link.gpsBaudRate = gpsBaud_->currentData().toInt();
  session_.link.radioDelay = {radio_->isChecked(), radioDelay_->value()};
  session_.settings.port = session_.link.loggerPort;
  session_.settings.gpsPort = gps;
  session_.settings.gpsBaudRate = session_.link.gpsBaudRate;
  session_.settings.radioDelayEnabled = session_.link.radioDelay.enabled;
  session_.settings.radioDelayMs = session_.link.radioDelay.ms;
  session_.settings.WriteSettings();
  // Reconnect on the new port.
  session_.host.PostCommand(cmd::kConnect);
  return true;
}

}  // namespace klx::ui
