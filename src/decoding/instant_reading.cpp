#include "decoding/instant_reading.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "decoding/channel_types.h"
#include "records/data_set.h"
#include "decoding/equations.h"
#include "shell/status.h"

namespace klx {

namespace {

constexpr const char* kUnableToRead = "Unable to read data from logger";

std::vector<std::string_view> SplitAtBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i < text.size()) {
    while (i < text.size() && blank(text[i])) ++i;
    const size_t begin = i;
    while (i < text.size() && !blank(text[i])) ++i;
    if (i > begin) words.push_back(text.substr(begin, i - begin));
  }
  return words;
}

}  // namespace

std::string FormatInstantReading(std::string_view reply, bool withLabels, const DataSet& context,
                                 bool engineeringOutput) {
  const int channels =
      std::clamp(context.logger.channelCount, 1, CalibrationCoefficients::kMaxChannels);
  std::string text;

  // 1. Values reported as text.
  if (context.logger.engineeringUnitsLevel >= 1 && engineeringOutput) {
    if (reply.find("Not calibrated") != std::string_view::npos)
      return "This logger is not calibrated";
    const size_t tim = reply.find("TIM");
    if (reply.find("FET") == std::string_view::npos || tim == std::string_view::npos)
      return kUnableToRead;
    const std::vector<std::string_view> words = SplitAtBlanks(reply.substr(tim + 3));
    // The first word is the time; then one word per channel.
    for (int ch = 0; ch < channels && static_cast<size_t>(ch) + 1 < words.size(); ++ch) {
      text += ChannelLabel(TypeRowOfChannel(context, ch), ch + 1);
      text += "\t";
      text += words[static_cast<size_t>(ch) + 1];
      text += "\n";
    }
    return text;
  }

  // 2. Binary values.
  const size_t tim = reply.substr(0, 12).find("TIM");
  if (tim == std::string_view::npos) return kUnableToRead;
  const size_t first = tim + 3;  // the six time bytes
  const size_t valueBytes = 6 + 3 * static_cast<size_t>(channels);
  if (reply.size() < first + valueBytes + 1) return kUnableToRead;
  int sum = 234;  // "TIM"
  for (size_t i = 0; i < valueBytes; ++i) sum += static_cast<int8_t>(reply[first + i]);
  if (static_cast<uint8_t>(sum & 0xFF) != static_cast<uint8_t>(reply[first + valueBytes]))
    return "Checksum of data incorrect";

  for (int ch = 0; ch < channels; ++ch) {
    const size_t at = first + 6 + 3 * static_cast<size_t>(ch);
    const int32_t raw = (static_cast<int32_t>(static_cast<uint8_t>(reply[at])) << 16) |
                        (static_cast<int32_t>(static_cast<uint8_t>(reply[at + 1])) << 8) |
                        static_cast<int32_t>(static_cast<uint8_t>(reply[at + 2]));
    const int32_t corrected = ApplyExtendedRange(context, ch, raw);
    if (withLabels) text += ChannelLabel(TypeRowOfChannel(context, ch), ch + 1);
    text += Format("\t%9.4f\n", ChannelValue(context, corrected, ch));
  }
  return text;
}

}  // namespace klx
