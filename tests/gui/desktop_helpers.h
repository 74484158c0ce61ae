#pragma once
// Helpers of the window tests that drive the desktop's own dialogs.

#include <QListWidget>
#include <string>

#include "desktop/com_settings_dialog.h"
#include "desktop/main_window.h"

namespace klx::test {

// Chooses "Simulated logger: <model>" in the COM settings, as a user would.
inline bool SelectSimulator(ui::MainWindow& window, const std::string& model) {
  ui::ComSettingsDialog dialog(window.session(), &window);
  QListWidget* list = dialog.List();
  for (int row = 0; row < list->count(); ++row)
    if (list->item(row)->text() == QString::fromStdString("Simulated logger: " + model)) {
      list->setCurrentRow(row);
      return dialog.Apply();
    }
  return false;
}

}  // namespace klx::test
