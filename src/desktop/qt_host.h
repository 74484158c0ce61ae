#pragma once
// The desktop program's answer to what the core asks of a front end: the five-part status bar,
// message boxes, questions, file dialogs, menu state and progress. Texts from the core are
// 8-bit (Latin-1); they are converted here and nowhere else.
#include <QLabel>
#include <QString>
#include <functional>
#include <map>

#include "platform/host.h"

class QAction;
class QStatusBar;
class QWidget;

namespace klx::ui {

QString FromLatin1(const std::string& text);
std::string ToLatin1(const QString& text);

class QtHost : public Host {
 public:
  // Builds the five parts inside the status bar; `owner` parents the dialogs.
  QtHost(QWidget* owner, QStatusBar* bar);

  void SetStatusText(int part, const std::string& text) override;
  void SetStatusIcon(StatusIcon icon) override;
  void Tell(const std::string& caption, const std::string& text, BoxIcon icon) override;
  Answer Ask(const std::string& caption, const std::string& text, Buttons buttons, BoxIcon icon,
             Answer defaultAnswer) override;
  int Choose(const std::string& caption, const std::string& text,
             const std::vector<std::string>& labels, BoxIcon icon) override;
  void SetCommandEnabled(int commandId, bool enabled) override;
  void SetCommandPresent(int commandId, bool present) override;
  void PostCommand(int commandId) override;
  void SetProgress(int value, int maximum) override;
  void SetBusy(bool busy) override;
  std::optional<std::string> ChooseFile(const FileChoice& choice) override;

  // The menu items by command id (the main window registers them).
  void RegisterCommand(int commandId, QAction* action) { actions_[commandId] = action; }
  QAction* Action(int commandId) const;

  QString StatusText(int part) const;
  StatusIcon Icon() const { return icon_; }
  // The units part: engineering units or binary output.
  void SetUnitsIcon(bool engineering);
  // The units icon shown: "UNITSENG" or "UNITSBINARY".
  const std::string& UnitsIcon() const { return unitsIcon_; }

  // Where posted commands and progress go (the main window, the open dialog).
  std::function<void(int)> postCommand;
  std::function<void(int, int)> progress;
  // Stand-ins for the modal dialogs, set by tests and scripted runs: when set they answer
  // instead of a dialog. Every box and question is also written to `log`.
  std::function<Answer(const std::string& caption, const std::string& text)> answer;
  std::function<int(const std::string& caption, const std::vector<std::string>& labels)> choose;
  std::function<std::optional<std::string>(const FileChoice&)> chooseFile;
  bool quietBoxes = false;  // Tell only logs
  // The copy index of this program (0: first copy): titles of secondary copies carry
  // "Copy n : ".
  int copyIndex = 0;
  // A window or box title with this copy's prefix.
  QString Caption(const std::string& title) const;
  // Puts this copy's prefix before the title of a dialog that opens.
  void PrefixTitle(QWidget& window) const;
  std::vector<std::string> log;

 private:
  QWidget* owner_;
  QLabel* parts_[5] = {};
  StatusIcon icon_ = StatusIcon::None;
  std::string unitsIcon_;
  std::map<int, QAction*> actions_;
};

}  // namespace klx::ui
