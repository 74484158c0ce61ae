#include "link/range_behaviour.h"

#include <algorithm>
#include <cctype>

namespace klx {

int AutoRangingSensorMs(char letter) {
  switch (letter) {
    case 'F':
    case 'f':
    case 'G':
    case 'g':
    case 'Z':
    case 'z':
    case 'I':
    case 'i':
      return 460;
    case 'Y':
    case 'y':
      return 860;
    default:
      return 0;
  }
}

RangeBehaviour ApplyRangeBehaviour(std::span<const uint8_t> table, std::string& letters,
                                   size_t channels, int defaultReadingTimeMs) {
  RangeBehaviour r;
  r.readingTimeMs = defaultReadingTimeMs;
  const size_t n = std::min({channels, letters.size(), RangeBehaviour::kChannels,
                             table.empty() ? size_t{0} : table.size() - 1});
  for (size_t ch = 0; ch < n; ++ch) {
    const uint8_t b = table[ch + 1];
    if (!RangeBehaviour::Switches(b)) continue;
    char& letter = letters[ch];
    if (RangeBehaviour::SensorType(b) == 6)
      letter = 'y';
    else if (RangeBehaviour::SensorType(b) == 5)
      letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    int ms = 200;
    if (RangeBehaviour::Mode(b) == 0) {
      ms = AutoRangingSensorMs(letter) + 400;
      r.continuousPowerForbidden = true;
    }
    r.channelReadingMs[ch] = ms;
    if (ms > r.readingTimeMs) {
      r.readingTimeMs = ms;
      r.longestChannel = static_cast<int>(ch) + 1;
    }
  }
  return r;
}

}  // namespace klx
