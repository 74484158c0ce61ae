#include "terminal_host.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

namespace klx::cli {
namespace {

// Message texts carry their own line breaks; indent continuation lines under the caption.
std::string Indented(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out += "  ";
  }
  return out;
}

}  // namespace

TerminalHost::TerminalHost(std::optional<Answer> forcedAnswer, bool quiet)
    : forced_(forcedAnswer), quiet_(quiet), tty_(isatty(STDERR_FILENO) == 1) {}

TerminalHost::~TerminalHost() {
  EndProgressLine();
}

void TerminalHost::EndProgressLine() {
  if (progressShown_) std::fputc('\n', stderr);
  progressShown_ = false;
}

void TerminalHost::SetStatusText(int part, const std::string& text) {
  if (part != kStatusMessagePart || text.empty()) return;
  // Progress marks ("Assessing logger capabilities + + +") grow one text: on a terminal the
  // line is redrawn in place, elsewhere only the first of them is printed.
  const bool growing = !lastStatus_.empty() && text.rfind(lastStatus_, 0) == 0;
  lastStatus_ = text;
  if (quiet_ || !statusLines || (growing && !tty_)) return;
  if (tty_) {
    if (growing) {
      std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    } else {
      EndProgressLine();
      std::fputs(text.c_str(), stderr);
    }
    progressShown_ = true;  // the line stays open for the next redraw
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  std::fflush(stderr);
}

void TerminalHost::Tell(const std::string& caption, const std::string& text, BoxIcon) {
  EndProgressLine();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), Indented(text).c_str());
}

Answer TerminalHost::Ask(const std::string& caption, const std::string& text, Buttons buttons,
                         BoxIcon, Answer defaultAnswer) {
  EndProgressLine();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), Indented(text).c_str());
  const bool yesNo = buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel;
  auto name = [yesNo](Answer a) {
    switch (a) {
      case Answer::Yes:
        return "yes";
      case Answer::No:
        return "no";
      case Answer::Ok:
        return yesNo ? "yes" : "ok";
      default:
        return "cancel";
    }
  };
  if (forced_) {
    const Answer a = yesNo ? *forced_ : (*forced_ == Answer::No ? Answer::Cancel : Answer::Ok);
    std::fprintf(stderr, "  -> %s\n", name(a));
    return a;
  }
  if (isatty(STDIN_FILENO) != 1) {
    std::fprintf(stderr, "  -> %s (no terminal to ask)\n", name(defaultAnswer));
    return defaultAnswer;
  }
  std::fprintf(stderr, "  [%s] ", yesNo ? "y/n" : "o/c");
  std::string line;
  if (!std::getline(std::cin, line) || line.empty()) return defaultAnswer;
  const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
  if (yesNo) return c == 'y' ? Answer::Yes : (c == 'n' ? Answer::No : defaultAnswer);
  return c == 'o' ? Answer::Ok : (c == 'c' ? Answer::Cancel : defaultAnswer);
}

int TerminalHost::Choose(const std::string& caption, const std::string& text,
                         const std::vector<std::string>& labels, BoxIcon) {
  EndProgressLine();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), Indented(text).c_str());
  for (size_t i = 0; i < labels.size(); ++i) {
    if (labels[i] == preferredChoice) {
      std::fprintf(stderr, "  -> %s\n", labels[i].c_str());
      return static_cast<int>(i);
    }
  }
  if (isatty(STDIN_FILENO) != 1) {
    std::fprintf(stderr, "  -> cancel (no terminal to ask; choose on the command line)\n");
    return -1;
  }
  for (size_t i = 0; i < labels.size(); ++i)
    std::fprintf(stderr, "  %zu) %s\n", i + 1, labels[i].c_str());
  std::fprintf(stderr, "  0) Cancel\n  choice: ");
  std::string line;
  if (!std::getline(std::cin, line)) return -1;
  const int n = std::atoi(line.c_str());
  return n >= 1 && n <= static_cast<int>(labels.size()) ? n - 1 : -1;
}

std::optional<std::string> TerminalHost::ChooseFile(const FileChoice& choice) {
  auto file = nextFile;
  nextFile.reset();
  if (!file && acceptProposal && !choice.suggestedName.empty() &&
      choice.suggestedName.find('*') == std::string::npos)
    file = (std::filesystem::path(choice.initialDirectory) / choice.suggestedName).string();
  return file;
}

void TerminalHost::SetProgress(int value, int maximum) {
  if (quiet_ || !tty_ || maximum <= 0) return;
  const int width = 40;
  const int filled = std::min(width, std::max(0, value * width / maximum));
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(width - filled), ' ').c_str(),
               std::min(100, value * 100 / maximum));
  std::fflush(stderr);
  progressShown_ = true;
}

}  // namespace klx::cli
