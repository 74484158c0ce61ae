#pragma once
// The channel and stamp texts the data files use: short names of the channel-type table's code
// column, stamp names, gain range names and the unit of a calibration line.
#include <cstdint>
#include <string>
#include <string_view>

namespace klx::files {

// Row 0..37 whose letter matches, else 38 ("Unknown").
int TypeRowOfLetter(uint8_t letter);
// The 10-character short name of a channel letter ("     Temp ").
std::string ShortNameOfLetter(uint8_t letter);
// The letter of the first row whose short name contains the word, or 'U'.
uint8_t LetterOfTitleWord(std::string_view word);

// "TIME STAMP" .. "GAIN STAMP" for types 0..11; "UNKNOWN STAMP" beyond.
const char* StampName(uint32_t type);
// The type whose name the text contains after "type:"; -1 when none does.
int StampTypeOfText(std::string_view text);

// The range name of a gain code (0..3) for the auto-ranging letters y, f, g, z and i; empty for
// any other letter or code.
std::string GainRangeName(uint8_t letter, uint32_t gain);

}  // namespace klx::files
