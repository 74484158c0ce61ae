#pragma once
// The status-bar message line and the shell's small reporting services.
#include <cstdarg>
#include <string>

#include "platform/host.h"
#include "shell/messages.h"

namespace klx {

// The longest text the message line shows whole; longer texts are cut.
constexpr size_t kStatusMaxLength = 127;

// What the message line shows for a text: a text longer than 127 characters gets " ..." at
// position 122.
std::string StatusLineText(const std::string& text);
// True when the text carries one of the warning words ("not yet", "Unable", "rror", "ail").
bool StatusNeedsWarning(const std::string& text);

// Writes the text into the message line and sets or clears the warning icon.
void ShowStatus(Host& host, const std::string& text);
void ShowStatusIcon(Host& host, StatusIcon icon);
// A message box with the caption "Error" and a warning icon; the numbered message is formatted
// with the argument when it is not empty.
void ShowTableMessage(Host& host, Msg message, const std::string& argument = "");
// The same for the messages that take a number ("... for channel %d").
void ShowTableMessage(Host& host, Msg message, int number);

// The overwrite question ("%s already exists.\nContinue to overwrite this file?", No the
// default) when the file exists. True when the file may be written.
bool MayOverwrite(Host& host, const std::string& caption, const std::string& file);

// printf-style formatting into a std::string, always in the C locale's number format.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// The title of a window in copy `copyIndex` (0 = first copy, no prefix): "Copy %-2d: " and at
// most 85 characters of the previous title.
std::string PrefixCopyTitle(int copyIndex, const std::string& title);

}  // namespace klx
