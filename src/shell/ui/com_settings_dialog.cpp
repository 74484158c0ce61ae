#include "shell/ui/com_settings_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "session/session.h"
#include "shell/status.h"
#include "shell/ui/qt_host.h"
#include "sim/sim_profile.h"

namespace klx::ui {

std::vector<PortEntry> PortEntries(const Session& session) {
  std::vector<PortEntry> out;
  for (const auto& [number, device] : session.ports.Entries()) {
    if (device.rfind("sim:", 0) == 0) continue;  // listed with the simulated loggers below
    out.push_back({Format("COM%d  %s", number, device.c_str()), Format("COM%d", number)});
  }
  for (const std::string& profile : sim::ProfileNames())
    out.push_back({"Simulated logger: " + profile, "sim:" + profile});
  return out;
}

ComSettingsDialog::ComSettingsDialog(Session& session, QWidget* parent)
    : QDialog(parent), session_(session), entries_(PortEntries(session)) {
  setWindowTitle("COM settings");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Logger port:", this));
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
  layout->addWidget(list_);
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
  std::string error;
  if (!session_.SelectPort(entries_[static_cast<size_t>(row)].name, &error)) {
    ShowStatus(session_.host, error);
    return false;
  }
  session_.settings.port = session_.link.loggerPort;
  if (!session_.settings.WriteSettings())
    ShowStatus(session_.host, "Unable to write the settings file");
  ShowStatus(session_.host, "Logger port: " + session_.PortDescription(session_.link.loggerPort));
  return true;
}

}  // namespace klx::ui
