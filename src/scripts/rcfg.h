#pragma once
// The enciphered form of a configuration script (".rcfg"): the clear text, padded with spaces to
// a whole number of 8-byte blocks (a text that already fills whole blocks gains one more), taken
// as 32-bit little-endian words, enciphered pairwise with TEA under the program's own key and
// written as one "%08X\n" line per word. The clear text only ever lives in memory.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace klx {

using TeaKey = std::array<uint32_t, 4>;

// The 128-bit key every script is enciphered with. Scripts made with another key do not read.
extern const TeaKey kScriptKey;

// One 64-bit block, 32 rounds, delta 0x9E3779B9.
void TeaEncipher(std::array<uint32_t, 2>& block, const TeaKey& key);
void TeaDecipher(std::array<uint32_t, 2>& block, const TeaKey& key);

// The ".rcfg" text of a clear-text script.
std::string EncipherScript(std::string_view clearText, const TeaKey& key = kScriptKey);
// The clear text of a ".rcfg" text (padding included); nullopt when a line is not a hexadecimal
// word, or the words do not make whole blocks.
std::optional<std::string> DecipherScript(std::string_view rcfgText,
                                          const TeaKey& key = kScriptKey);

}  // namespace klx
