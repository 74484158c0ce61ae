#include "shell/status.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

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

void ShowStatusIcon(Host& host, StatusIcon icon) { host.SetStatusIcon(icon); }

void ShowTableMessage(Host& host, Msg message, const std::string& argument) {
  const std::string& text = MessageText(message);
  const std::string shown =
      argument.empty() ? text : Format(text.c_str(), argument.c_str());  // NOLINT
  host.Tell(MessageText(Msg::Error), shown, BoxIcon::Warning);
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    out.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

std::string PrefixCopyTitle(int copyIndex, const std::string& title) {
  if (copyIndex <= 0) return title;
  return Format("Copy %-2d: ", copyIndex + 1) + title.substr(0, 85);
}

}  // namespace klx
