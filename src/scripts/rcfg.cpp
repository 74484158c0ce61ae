#include "scripts/rcfg.h"

#include <vector>

#include "shell/status.h"

namespace klx {

const TeaKey kScriptKey = {0x4B4C5852u, 0x63664721u, 0x9D2E57A3u, 0x15F0C86Bu};

namespace {

constexpr uint32_t kDelta = 0x9E3779B9u;
constexpr int kRounds = 32;

uint32_t WordAt(std::string_view bytes, size_t offset) {
  uint32_t word = 0;
  for (size_t i = 0; i < 4; ++i)
    word |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
  return word;
}

void AppendWord(std::string& out, uint32_t word) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((word >> (8 * i)) & 0xFFu);
}

// One line's word: one to eight hexadecimal digits, blanks and a carriage return around them.
std::optional<uint32_t> ParseWord(std::string_view line) {
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return std::nullopt;
  const size_t last = line.find_last_not_of(" \t\r");
  const std::string_view digits = line.substr(first, last - first + 1);
  if (digits.size() > 8) return std::nullopt;
  uint32_t word = 0;
  for (char c : digits) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else
      return std::nullopt;
    word = (word << 4) | static_cast<uint32_t>(v);
  }
  return word;
}

}  // namespace

void TeaEncipher(std::array<uint32_t, 2>& block, const TeaKey& key) {
  uint32_t v0 = block[0], v1 = block[1], sum = 0;
  for (int i = 0; i < kRounds; ++i) {
    sum += kDelta;
    v0 += ((v1 << 4) + key[0]) ^ (v1 + sum) ^ ((v1 >> 5) + key[1]);
    v1 += ((v0 << 4) + key[2]) ^ (v0 + sum) ^ ((v0 >> 5) + key[3]);
  }
  block = {v0, v1};
}

void TeaDecipher(std::array<uint32_t, 2>& block, const TeaKey& key) {
  uint32_t v0 = block[0], v1 = block[1], sum = kDelta * kRounds;
  for (int i = 0; i < kRounds; ++i) {
    v1 -= ((v0 << 4) + key[2]) ^ (v0 + sum) ^ ((v0 >> 5) + key[3]);
    v0 -= ((v1 << 4) + key[0]) ^ (v1 + sum) ^ ((v1 >> 5) + key[1]);
    sum -= kDelta;
  }
  block = {v0, v1};
}

std::string EncipherScript(std::string_view clearText, const TeaKey& key) {
  std::string padded(clearText);
  padded.append(8 - padded.size() % 8, ' ');
  std::string out;
  for (size_t offset = 0; offset < padded.size(); offset += 8) {
    std::array<uint32_t, 2> block{WordAt(padded, offset), WordAt(padded, offset + 4)};
    TeaEncipher(block, key);
    out += Format("%08X\n%08X\n", block[0], block[1]);
  }
  return out;
}

std::optional<std::string> DecipherScript(std::string_view rcfgText, const TeaKey& key) {
  std::vector<uint32_t> words;
  size_t start = 0;
  while (start < rcfgText.size()) {
    size_t end = rcfgText.find('\n', start);
    if (end == std::string_view::npos) end = rcfgText.size();
    const std::string_view line = rcfgText.substr(start, end - start);
    start = end + 1;
    // Blank lines (a trailing one in particular) carry no word.
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    const std::optional<uint32_t> word = ParseWord(line);
    if (!word) return std::nullopt;
    words.push_back(*word);
  }
  if (words.empty() || words.size() % 2 != 0) return std::nullopt;
  std::string clear;
  clear.reserve(words.size() * 4);
  for (size_t i = 0; i < words.size(); i += 2) {
    std::array<uint32_t, 2> block{words[i], words[i + 1]};
    TeaDecipher(block, key);
    AppendWord(clear, block[0]);
    AppendWord(clear, block[1]);
  }
  return clear;
}

}  // namespace klx
