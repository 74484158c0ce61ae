#pragma once
// Small helpers shared by the shell's settings files: line reading with a length limit, writing
// through a temporary file that is renamed into place, and number formatting and parsing that
// always use the C locale, whatever the process locale is.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klx {

// One line of a text file, without its line end ("\n", and a "\r" before it).
struct TextLine {
  std::string text;       // at most the kept number of characters
  bool overLong = false;  // the line had more characters than were kept
};

// Reads every line of a file, keeping at most `keep` characters of each (the rest of an
// over-long line is skipped, never taken as a line of its own). At most `maxLines` lines are
// read. nullopt when the file cannot be opened.
std::optional<std::vector<TextLine>> ReadTextLines(const std::filesystem::path& path, size_t keep,
                                                   size_t maxLines = 100000);

// Writes the whole text to a temporary file beside the target and renames it into place.
// Returns false (and leaves the target untouched) when any step fails.
bool WriteTextFileAtomically(const std::filesystem::path& path, std::string_view text);

// Removes the temporary files ("<name>.tmp<pid>.<n>") beside `path` that a save killed halfway
// left behind. Those of a process that still runs are kept: it may be saving right now.
void RemoveStaleTemporaries(const std::filesystem::path& path);

// Copies a file the same way. False when the source cannot be read or the copy not written.
bool CopyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to);

// printf-style formatting in the C locale (a "." decimal point whatever LC_NUMERIC says).
std::string CFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The whole number that starts at `text` after optional blanks and an optional sign; nullopt
// when there is none or it does not fit an int. Trailing text is allowed ("12abc" gives 12).
std::optional<int> LeadingInt(std::string_view text, size_t* consumed = nullptr);
// The same for a finite decimal number in the C locale's format ("10.1325", "-1e3").
std::optional<double> LeadingDouble(std::string_view text, size_t* consumed = nullptr);

// The number that follows the first occurrence of `key` in `line` (nullopt when the key is
// absent or no number follows).
std::optional<int> IntAfter(std::string_view line, std::string_view key);
std::optional<double> DoubleAfter(std::string_view line, std::string_view key);

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace klx
