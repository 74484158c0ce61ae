#pragma once
// The command-line tool's answer to the core's questions: status lines and message boxes go to
// stderr, questions are answered by the flags (or on the terminal when one is attached), and
// progress shows as a bar when stderr is a terminal.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"

namespace klx::cli {

class TerminalHost final : public Host {
 public:
  // `forcedAnswer`: what --yes/--no say to every question; otherwise the terminal is asked when
  // stdin is one, and the question's safe default is taken when it is not.
  explicit TerminalHost(std::optional<Answer> forcedAnswer = std::nullopt, bool quiet = false);
  ~TerminalHost() override;

  void SetStatusText(int part, const std::string& text) override;
  void SetStatusIcon(StatusIcon icon) override { (void)icon; }
  void Tell(const std::string& caption, const std::string& text, BoxIcon icon) override;
  Answer Ask(const std::string& caption, const std::string& text, Buttons buttons, BoxIcon icon,
             Answer defaultAnswer) override;
  int Choose(const std::string& caption, const std::string& text,
             const std::vector<std::string>& labels, BoxIcon icon) override;
  std::optional<std::string> ChooseFile(const FileChoice& choice) override;
  void SetCommandEnabled(int, bool) override {}

  // The button a labelled question is answered with when it offers it ("Stop", "Keep
  // logging", "Suspend and resume"); empty: ask, or cancel without a terminal.
  std::string preferredChoice;
  // False while the command prints the same lines on stdout (the real-time display).
  bool statusLines = true;
  // The file the next file choice is answered with (the command line has decided it).
  std::optional<std::string> nextFile;
  // Without nextFile: answer a file choice with its proposal (the suggested name in the folder it
  // opens in) when the name is a whole one (no "*").
  bool acceptProposal = false;
  void SetProgress(int value, int maximum) override;

  // The last status-line text (the core's last word on what happened).
  const std::string& LastStatus() const { return lastStatus_; }

 private:
  void EndProgressLine();
  std::optional<Answer> forced_;
  bool quiet_;
  bool tty_;
  bool progressShown_ = false;
  std::string lastStatus_;
};

}  // namespace klx::cli
