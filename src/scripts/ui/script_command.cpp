#include "scripts/ui/script_command.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

#include "scripts/configuration_script.h"
#include "session/session.h"

namespace klx::ui {

ScriptWaitWindow::ScriptWaitWindow(QWidget* parent) : QDialog(parent), label_(new QLabel(this)) {
  setObjectName("Script_Config");
  setWindowTitle("Configuration");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  label_->setAlignment(Qt::AlignCenter);
  label_->setMinimumWidth(360);
  layout->addWidget(label_);
}

void ScriptWaitWindow::ShowText(const std::string& text) {
  if (text.empty()) {
    hide();
    return;
  }
  label_->setText(QString::fromLatin1(text.c_str()));
  if (!isVisible()) show();
  // The work runs on this thread: let the window draw before the next wait.
  QApplication::processEvents();
}

QString ScriptWaitWindow::Text() const {
  return label_->text();
}

bool RunConfigurationScriptCommand(QWidget* parent, Session& session, const std::string& path) {
  std::string file = path;
  if (file.empty()) {
    FileChoice choice;
    choice.title = "Select a configuration 'rcfg' file to be opened";
    choice.initialDirectory = session.settings.ProgramDirectory().string();
    choice.suggestedName = "*.rcfg";
    choice.filter = "Configuration files (*.rcfg)";
    const std::optional<std::string> chosen = session.host.ChooseFile(choice);
    if (!chosen) return false;
    file = *chosen;
  }
  ScriptWaitWindow window(parent);
  ScriptOptions options;
  options.waitWindow = [&window](const std::string& text) { window.ShowText(text); };
  const ScriptOutcome outcome =
      klx::RunConfigurationScriptCommand(file, session.logger, session.calibration, options);
  return outcome != ScriptOutcome::FileRejected && outcome != ScriptOutcome::Failed;
}

}  // namespace klx::ui
