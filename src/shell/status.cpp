#include "shell/status.h"

#include <locale.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace klx {

std::string StatusLineText(const std::string& text) {
  if (text.size() <= kStatusMaxLength) return text;
  return text.substr(0, 122) + " ...";
}

bool StatusNeedsWarning(const std::string& text) {
  for (const char* word : {"not yet", "Unable", "rror", "ail"})
    if (text.find(word) != std::string::npos) return true;
  return false;
}

void ShowStatus(Host& host, const std::string& text) {
  const std::string shown = StatusLineText(text);
  host.SetStatusText(kStatusMessagePart, shown);
  host.SetStatusIcon(StatusNeedsWarning(shown) ? StatusIcon::Warning : StatusIcon::None);
}

bool MayOverwrite(Host& host, const std::string& caption, const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return true;
  return host.Ask(caption, Format(MessageText(Msg::AlreadyExistsOverwrite).c_str(), file.c_str()),
                  Buttons::YesNo, BoxIcon::Warning, Answer::No) == Answer::Yes;
}

void ShowTableMessage(Host& host, Msg message, int number) {
  host.Tell(MessageText(Msg::Error), Format(MessageText(message).c_str(), number),
            BoxIcon::Warning);
}

void ShowStatusIcon(Host& host, StatusIcon icon) {
  host.SetStatusIcon(icon);
}

void ShowTableMessage(Host& host, Msg message, const std::string& argument) {
  const std::string& text = MessageText(message);
  const std::string shown =
      argument.empty() ? text : Format(text.c_str(), argument.c_str());  // NOLINT
  host.Tell(MessageText(Msg::Error), shown, BoxIcon::Warning);
}

std::string FormatV(const char* format, va_list args) {
  // Numbers in files and logger commands never follow the user's locale.
  static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const locale_t previous = ::uselocale(cLocale);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  ::uselocale(previous);
  return out;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

std::string PrefixCopyTitle(int copyIndex, const std::string& title) {
  if (copyIndex <= 0) return title;
  return Format("Copy %-2d: ", copyIndex + 1) + title.substr(0, 85);
}

}  // namespace klx
