#include "cards/meta_table.h"

#include <fstream>
#include <iterator>

#include "shell/status.h"

namespace klx {
namespace {

constexpr uint8_t kLeftQuote = 147;
constexpr uint8_t kRightQuote = 148;

bool IsQuote(uint8_t c) {
  return c == '"' || c == kLeftQuote || c == kRightQuote;
}

uint8_t Sum(std::string_view bytes) {
  unsigned sum = 0;
  for (const char c : bytes) sum += static_cast<uint8_t>(c);
  return static_cast<uint8_t>(sum);
}

}  // namespace

size_t MetaTableFile::Size() const {
  size_t n = 0;
  for (const auto& line : lines) n += line.size();
  return n;
}

std::string MetaTableFile::Joined() const {
  std::string all;
  for (const auto& line : lines) all += line;
  return all;
}

std::optional<MetaTableFile> MetaTableFromBytes(std::string_view bytes, std::string& error) {
  // The table, its end-of-text byte and two check digits must fit the card's buffer.
  if (bytes.size() + 3 > kMetaTableCapacity) {
    error = Format("The meta table file holds %zu bytes; the card takes at most %zu.",
                   bytes.size(), kMetaTableCapacity - 3);
    return std::nullopt;
  }
  MetaTableFile table;
  table.original = std::string(bytes);
  size_t start = 0;
  int lineNumber = 0;
  while (start < bytes.size()) {
    ++lineNumber;
    size_t end = bytes.find('\n', start);
    end = end == std::string_view::npos ? bytes.size() : end + 1;
    std::string line(bytes.substr(start, end - start));
    size_t text = line.size();
    if (text > 0 && line[text - 1] == '\n') --text;
    if (text > 0 && line[text - 1] == '\r') --text;
    if (text > kMetaLineLimit) {
      error = Format("Line %d of the meta table has %zu characters; a line takes at most %zu.",
                     lineNumber, text, kMetaLineLimit);
      return std::nullopt;
    }
    for (char& c : line) {
      const auto b = static_cast<uint8_t>(c);
      if (b == 0 || b == static_cast<uint8_t>(kEtx)) {
        error = Format("Line %d of the meta table holds a control byte %d that cannot be sent.",
                       lineNumber, b);
        return std::nullopt;
      }
      if (b == kLeftQuote || b == kRightQuote) c = '"';
    }
    table.lines.push_back(std::move(line));
    start = end;
  }
  return table;
}

std::optional<MetaTableFile> LoadMetaTableFile(const std::filesystem::path& path,
                                               std::string& error) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) {
    error = Format("Unable to open file: %s", path.string().c_str());
    return std::nullopt;
  }
  if (size + 3 > kMetaTableCapacity) {
    error = Format("The meta table file holds %ju bytes; the card takes at most %zu.",
                   static_cast<uintmax_t>(size), kMetaTableCapacity - 3);
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = Format("Unable to open file: %s", path.string().c_str());
    return std::nullopt;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return MetaTableFromBytes(bytes, error);
}

uint8_t MetaTableCheckByte(std::string_view tableBytes) {
  // Modulo 256 throughout, so the byte is never negative.
  return static_cast<uint8_t>(0xA5u - Sum(tableBytes) - static_cast<uint8_t>(kEtx));
}

bool MetaTableCheckHolds(std::string_view tableBytes, uint8_t check) {
  return static_cast<uint8_t>(Sum(tableBytes) + static_cast<uint8_t>(kEtx) + check) == 0xA5;
}

bool MetaTableMatchesFile(std::string_view fromCard, std::string_view fileBytes) {
  if (fromCard.size() != fileBytes.size()) return false;
  for (size_t i = 0; i < fromCard.size(); ++i) {
    const auto card = static_cast<uint8_t>(fromCard[i]);
    const auto file = static_cast<uint8_t>(fileBytes[i]);
    if (card == file) continue;
    if (card == '"' && IsQuote(file)) continue;
    return false;
  }
  return true;
}

std::vector<std::string> MetaTableListLines(std::string_view table) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < table.size()) {
    size_t end = table.find('\n', start);
    if (end == std::string_view::npos) end = table.size();
    std::string line(table.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace klx
