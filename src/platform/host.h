#pragma once
// What the core asks of a front end: the status bar, message boxes and questions, menu state,
// progress and file choices. The desktop program answers with widgets, the command-line tool with
// the terminal and its flags, tests with a scripted host.
#include <optional>
#include <string>
#include <vector>

namespace klx {

enum class StatusIcon { None, Warning, Info };
enum class BoxIcon { None, Warning, Information, Stop, Question };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

// The five parts of the status bar.
enum StatusPart : int {
  kStatusIconPart = 0,
  kStatusMessagePart = 1,
  kStatusUnitsPart = 2,
  kStatusConnectionPart = 3,
  kStatusClockPart = 4,
};

struct FileChoice {
  bool save = false;
  std::string title;
  std::string initialDirectory;
  std::string suggestedName;
  std::string filter;  // e.g. "Hex files (*.hex)"
};

class Host {
 public:
  virtual ~Host() = default;
  // Writes text into one part of the status bar (part 1 is the message line).
  virtual void SetStatusText(int part, const std::string& text) = 0;
  virtual void SetStatusIcon(StatusIcon icon) = 0;
  // A message box with one button.
  virtual void Tell(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
  // A question; defaultAnswer is what a non-interactive host answers.
  virtual Answer Ask(const std::string& caption, const std::string& text, Buttons buttons,
                     BoxIcon icon, Answer defaultAnswer) = 0;
  // A question whose buttons carry their own labels; returns the index of the button chosen,
  // or -1 for Cancel. The default shows it as a Yes/No/Cancel (or OK/Cancel) question.
  virtual int Choose(const std::string& caption, const std::string& text,
                     const std::vector<std::string>& labels, BoxIcon icon);
  virtual void SetCommandEnabled(int commandId, bool enabled) = 0;
  // Inserts or removes a menu command that exists only in some states ("Modem sleep").
  virtual void SetCommandPresent(int commandId, bool present) { (void)commandId, (void)present; }
  // Asks the main window to run a command later (the posted commands of the shell).
  virtual void PostCommand(int commandId) { (void)commandId; }
  // Closes the modeless dialog that is current (the setup dialog after a failed programming
  // step), when there is one.
  virtual void CloseCurrentDialog() {}
  virtual void SetProgress(int value, int maximum) { (void)value, (void)maximum; }
  // The wait cursor, while a long write runs (see BusyScope).
  virtual void SetBusy(bool busy) { (void)busy; }
  virtual std::optional<std::string> ChooseFile(const FileChoice& choice) {
    (void)choice;
    return std::nullopt;
  }
};

// Shows the wait cursor for its lifetime.
class BusyScope {
 public:
  explicit BusyScope(Host& host) : host_(host) { host_.SetBusy(true); }
  ~BusyScope() { host_.SetBusy(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  Host& host_;
};

// A host that remembers everything and answers questions from a queue (tests, batch runs).
class RecordingHost : public Host {
 public:
  struct Event {
    std::string kind;  // "status", "icon", "tell", "ask", "enable", "present", "post", "progress"
    int number = 0;    // part, command id, progress value
    std::string caption;
    std::string text;
  };
  void SetStatusText(int part, const std::string& text) override;
  void SetStatusIcon(StatusIcon icon) override;
  void Tell(const std::string& caption, const std::string& text, BoxIcon icon) override;
  Answer Ask(const std::string& caption, const std::string& text, Buttons buttons, BoxIcon icon,
             Answer defaultAnswer) override;
  void SetCommandEnabled(int commandId, bool enabled) override;
  void SetCommandPresent(int commandId, bool present) override;
  void PostCommand(int commandId) override;
  void SetProgress(int value, int maximum) override;

  std::vector<Event> events;
  std::vector<Answer> answers;  // consumed front first; empty queue gives the default answer
  std::string status[5];
  StatusIcon icon = StatusIcon::None;

  // Every status-line text shown so far, in order.
  std::vector<std::string> StatusMessages() const;
  bool Saw(const std::string& kind, const std::string& textPart) const;
};

}  // namespace klx
