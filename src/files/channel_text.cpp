// The files' view of the channel type table and the stamp names: thin wrappers over the one
// table in decoding, so that a name is spelt in one place only.
#include "files/channel_text.h"

#include "decoding/channel_types.h"

namespace klx::files {

int TypeRowOfLetter(uint8_t letter) {
  return klx::TypeRowOfLetter(letter);
}

std::string ShortNameOfLetter(uint8_t letter) {
  // The 10 characters after the letter in the code column.
  return std::string(kChannelTypeTable[klx::TypeRowOfLetter(letter)].code + 1, 10);
}

uint8_t LetterOfTitleWord(std::string_view word) {
  if (word.empty()) return 'U';
  for (const ChannelType& row : kChannelTypeTable)
    if (std::string_view(row.code + 1, 10).find(word) != std::string_view::npos)
      return row.Letter();
  return 'U';
}

const char* StampName(uint32_t type) {
  return klx::StampName(type);
}

int StampTypeOfText(std::string_view text) {
  const size_t at = text.find("type:");
  if (at == std::string_view::npos) return -1;
  const std::string_view rest = text.substr(at + 5);
  for (uint32_t type = 0; type < 12; ++type)
    if (rest.find(klx::StampName(type)) != std::string_view::npos) return static_cast<int>(type);
  return -1;
}

std::string GainRangeName(uint8_t letter, uint32_t gain) {
  if (gain > 3) return {};
  const char* name = klx::GainRangeName(letter, gain);
  return name ? std::string(name) : std::string();
}

}  // namespace klx::files
