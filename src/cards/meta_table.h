#pragma once
// The generic serial card's meta table as bytes: loading a table file, its check byte, the
// table read back from the card and the comparison of the two.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klx {

inline constexpr size_t kMetaTableCapacity = 16384;  // the card's table buffer
inline constexpr size_t kMetaLineLimit = 80;         // characters of one line, line end apart
inline constexpr char kEtx = 3;

// A table file as the host sends it.
struct MetaTableFile {
  std::string original;            // the file's bytes as they are
  std::vector<std::string> lines;  // the lines to send, line ends kept, typographic quotes plain
  size_t Size() const;             // bytes of all lines
  std::string Joined() const;      // all lines one after the other
};

// Reads and checks a table file. nullopt with `error` set when it cannot be read, holds a zero
// or end-of-text byte, has a line over 80 characters, or would not fit the card's buffer with
// its end-of-text byte and check digits.
std::optional<MetaTableFile> LoadMetaTableFile(const std::filesystem::path& path, std::string& error);
// The same for a table already in memory (the file's bytes).
std::optional<MetaTableFile> MetaTableFromBytes(std::string_view bytes, std::string& error);

// The check byte sent after the end-of-text byte: the 8-bit sum of the table bytes, the
// end-of-text byte and this byte is 0xA5.
uint8_t MetaTableCheckByte(std::string_view tableBytes);
// True when the table bytes (up to, not including, the end-of-text byte), the end-of-text byte
// and `check` sum to 0xA5.
bool MetaTableCheckHolds(std::string_view tableBytes, uint8_t check);

// The card's copy matches the file: same length, every byte equal, except that a plain quote
// that the card returns matches a plain or typographic quote (34, 147, 148) of the file.
bool MetaTableMatchesFile(std::string_view fromCard, std::string_view fileBytes);

// The lines of a table as the window lists them (line ends removed).
std::vector<std::string> MetaTableListLines(std::string_view table);

}  // namespace klx
