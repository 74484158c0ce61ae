#pragma once
// "&COM settings": the logger port, chosen from the numbered serial ports and the simulated
// loggers ("Simulated logger: <model>", reached as "sim:<model>").
#include <QDialog>
#include <string>
#include <vector>

class QListWidget;

namespace klx {
class Session;
}

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace klx::ui {

struct PortEntry {
  std::string label;  // what the list shows
  std::string name;   // what Session::SelectPort takes
};
// The ports of the session's port map that the start-up scan found, then one entry per
// simulator profile.
std::vector<PortEntry> PortEntries(const Session& session);

class ComSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  ComSettingsDialog(Session& session, QWidget* parent = nullptr);
  QListWidget* List() const { return list_; }
  // Makes the selected entry the logger port and writes the settings. False with the message
  // shown in the status line when it cannot be used.
  bool Apply();

 private:
  Session& session_;
  std::vector<PortEntry> entries_;
  QListWidget* list_ = nullptr;
  QComboBox* gpsPort_ = nullptr;
  QComboBox* gpsBaud_ = nullptr;
  QCheckBox* radio_ = nullptr;
  QSpinBox* radioDelay_ = nullptr;
};

}  // namespace klx::ui
