#pragma once
// "&Run configuration script" in the desktop program: the open dialog for a ".rcfg" file (or the
// file named on the command line), the script applied to the connected logger with its
// questions in message boxes, and the `Script_Config` wait window while an Optode's front end is
// switched.
#include <QDialog>
#include <string>

class QLabel;
class QWidget;

namespace klx {
class Session;
}

namespace klx::ui {

// The `Script_Config` window: one line of text, shown while the through communications to an
// Optode front end are open.
class ScriptWaitWindow : public QDialog {
  Q_OBJECT
 public:
  explicit ScriptWaitWindow(QWidget* parent);
  // Shows the text (and lets it be drawn at once); an empty text hides the window.
  void ShowText(const std::string& text);
  QString Text() const;

 private:
  QLabel* label_;
};

// Runs the command. `path` empty: the open dialog chooses the file (Cancel does nothing).
// False when the file was refused or a step with the logger failed (the boxes said why); a list
// of changes answered No is no failure.
bool RunConfigurationScriptCommand(QWidget* parent, Session& session, const std::string& path = {});

}  // namespace klx::ui
