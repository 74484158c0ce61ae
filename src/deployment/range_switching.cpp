#include "deployment/range_switching.h"

#include <algorithm>
#include <cctype>

#include "decoding/channel_types.h"
#include "shell/status.h"

namespace klx {
namespace {

constexpr std::array<const char*, 4> kTurbidityGains = {"25NTU", "125NTU", "500NTU", "2500NTU"};
constexpr std::array<const char*, 4> kFluorometerGains = {"5ug/l", "15ug/l", "50ug/l", "150ug/l"};
constexpr std::array<const char*, 4> kPhycoerythrinGains = {"30ug/l", "90ug/l", "300ug/l",
                                                            "900ug/l"};
constexpr std::array<const char*, 4> kUvGains = {"50ug/l", "150ug/l", "500ug/l", "1500ug/l"};
constexpr const char* kModeNames[4] = {"Full auto-ranging", "Auto-range capable, fixed gain",
                                       "User switchable fixed gain", "Fixed gain"};

int Channels(const LoggerState& logger) {
  return std::clamp(logger.channelCount, 0, LoggerState::kMaxChannels);
}

char UpperLetter(const LoggerState& logger, int channel) {
  if (channel < 0 || static_cast<size_t>(channel) >= logger.channelTypes.size()) return '?';
  return static_cast<char>(
      std::toupper(static_cast<unsigned char>(logger.channelTypes[static_cast<size_t>(channel)])));
}

const char* TypeName(int type) {
  if (type == kSeapointFluorometer) return "Seapoint Flurometer";
  if (type == kSeapointTurbidity) return "Seapoint Turbidity";
  return "Non-switching";
}

// The fluorometer's dye for the summary and the suffix for the short label.
const char* DyeName(char letter) {
  switch (letter) {
    case 'F':
      return " Chlorophil";
    case 'G':
      return " Rhodamine";
    case 'Z':
      return " Phycoerythrine";
    case 'I':
      return " UV";
    default:
      return "";
  }
}
const char* DyeSuffix(char letter) {
  switch (letter) {
    case 'F':
      return "-C";
    case 'G':
      return "-R";
    case 'Z':
      return "-Pe";
    case 'I':
      return "-UV";
    default:
      return "";
  }
}

const char* GainName(char letter, int gain) {
  const auto* names = GainNames(letter);
  return names && gain >= 0 && gain < 4 ? (*names)[static_cast<size_t>(gain)] : "";
}

// The 25 bytes the host writes (byte 0 and channels 1 to 24).
constexpr size_t kWrittenBytes = 25;

// Takes the data bytes of a table as read (check byte last). A logger returns either the 25
// bytes it was sent or all 26; a missing byte 25 means that channel does not exist (0xFF).
bool TakeTable(const std::vector<uint8_t>& bytes, std::array<uint8_t, 26>& table) {
  if (bytes.size() < kWrittenBytes + 1) return false;
  const size_t data = std::min(bytes.size() - 1, table.size());
  table.fill(0xFF);
  std::copy(bytes.begin(), bytes.begin() + static_cast<long>(data), table.begin());
  return true;
}

bool ReadOne(LoggerLink& link, const char* command, std::array<uint8_t, 26>& table) {
  std::vector<uint8_t> bytes;
  if (link.ReadTable(command, bytes) == 1 && TakeTable(bytes, table)) return true;
  table.fill(0xFF);
  table[0] = 1;
  return false;
}

}  // namespace

bool RangeSwitching::Switches(int channel) const {
  if (channel < 0 || channel >= 25) return false;
  return RangeBehaviour::Switches(behaviour[static_cast<size_t>(channel) + 1]);
}

bool RangeSwitching::Offered(int channel) const {
  if (channel < 0 || channel >= 25) return false;
  const uint8_t b = behaviour[static_cast<size_t>(channel) + 1];
  return SensorType(b) < kNonSwitching && (extended[static_cast<size_t>(channel) + 1] & 2) == 0 &&
         Mode(b) != kFixedGain;
}

void RangeSwitching::SetNonSwitching() {
  extended.fill(0xFF);
  extended[0] = 1;
  behaviour.fill(0xFF);
  behaviour[0] = 1;
}

const std::array<const char*, 4>* GainNames(char letter) {
  switch (letter) {
    case 'Y':
    case 'y':
      return &kTurbidityGains;
    case 'F':
    case 'f':
    case 'G':
    case 'g':
      return &kFluorometerGains;
    case 'Z':
    case 'z':
      return &kPhycoerythrinGains;
    case 'I':
    case 'i':
      return &kUvGains;
    default:
      return nullptr;
  }
}

void ApplyRangeSwitching(RangeSwitching& r, LoggerState& logger) {
  // The reading time before any channel raised it: the configuration's own.
  if (r.defaultReadingTimeMs < 0)
    r.defaultReadingTimeMs =
        logger.configuredReadingTimeMs >= 0 ? logger.configuredReadingTimeMs : logger.readingTimeMs;
  r.labels = {};
  const int channels = std::min(Channels(logger), static_cast<int>(logger.channelTypes.size()));
  for (int ch = 0; ch < channels; ++ch) {
    const uint8_t b = r.behaviour[static_cast<size_t>(ch) + 1];
    const int type = RangeSwitching::SensorType(b);
    if (type >= kNonSwitching) continue;
    // Labels for the display, for every channel of a range-capable type.
    const char upper = UpperLetter(logger, ch);
    const int mode = RangeSwitching::Mode(b);
    std::string typeName = TypeName(type);
    if (type == kSeapointFluorometer) typeName += DyeSuffix(upper);
    r.labels[static_cast<size_t>(ch)] =
        mode == kFullAutoRanging ? Format("%d: %s, %s", ch + 1, typeName.c_str(), "Auto-ranging")
                                 : Format("%d: %s, %s, %s", ch + 1, typeName.c_str(), "Fixed gain",
                                          GainName(upper, RangeSwitching::Gain(b)));
  }
  const RangeBehaviour applied = ApplyRangeBehaviour(
      r.behaviour, logger.channelTypes, static_cast<size_t>(channels), r.defaultReadingTimeMs);
  r.channelReadingMs = applied.channelReadingMs;
  r.continuousPowerForbidden = applied.continuousPowerForbidden;
  logger.continuousPowerForbidden = applied.continuousPowerForbidden;
  logger.readingTimeMs = applied.readingTimeMs;
  r.behaviour[0] = static_cast<uint8_t>(applied.longestChannel);
}

void SetChannelAutoRanging(RangeSwitching& r, int channel) {
  if (channel < 0 || channel >= 25) return;
  r.behaviour[static_cast<size_t>(channel) + 1] = 0xFF;
  r.extended[static_cast<size_t>(channel) + 1] |= 2;
}

void SetChannelFixedGain(RangeSwitching& r, int channel, int gain, int mode, int sensorType) {
  if (channel < 0 || channel >= 25) return;
  r.extended[static_cast<size_t>(channel) + 1] &= static_cast<uint8_t>(~2u);
  r.behaviour[static_cast<size_t>(channel) + 1] =
      static_cast<uint8_t>((gain & 7) * 32 + (mode & 3) * 8 + (sensorType & 7));
}

bool ReadRangeSwitching(LoggerLink& link, RangeSwitching& r) {
  // A table that cannot be read is reset on its own (ReadOne); the other keeps what the logger
  // holds.
  const bool extended = ReadOne(link, "R0400", r.extended);
  const bool behaviour = ReadOne(link, "R0500", r.behaviour);
  if (!behaviour) ShowStatus(link.host(), "Range switching behaviour retrieve error");
  ApplyRangeSwitching(r, link.state);
  return extended && behaviour;
}

bool WriteRangeSwitching(LoggerLink& link, RangeSwitching& r) {
  struct Step {
    const char* write;
    const char* read;
    std::array<uint8_t, 26>* table;
    const char* name;
  };
  const Step steps[2] = {{"S0400", "R0400", &r.extended, "Extended channel capabilities"},
                         {"S0500", "R0500", &r.behaviour, "Range switching behaviour"}};
  for (const Step& s : steps) {
    const std::vector<uint8_t> data(s.table->begin(), s.table->begin() + kWrittenBytes);
    if (!link.WriteTable(s.write, data)) {
      ShowStatus(link.host(), std::string(s.name) + " send error");
      return false;
    }
    std::vector<uint8_t> back;
    if (link.ReadTable(s.read, back) != 1 || back.size() < kWrittenBytes + 1) {
      ShowStatus(link.host(), std::string(s.name) + " retrieve error");
      return false;
    }
    // The bytes written must come back; a 26th data byte, when the logger keeps one, is its own.
    if (!std::equal(data.begin(), data.end(), back.begin())) {
      ShowStatus(link.host(), std::string(s.name) + " compare error");
      return false;
    }
    ShowStatus(link.host(), std::string(s.name) + " write success");
  }
  ShowStatus(link.host(),
             "Range switching behaviour and Extended channel capabilities write success");
  ApplyRangeSwitching(r, link.state);
  return true;
}

std::vector<std::string> RangeSwitchingSummary(const RangeSwitching& r, const LoggerState& logger) {
  std::vector<std::string> lines;
  const int channels = std::min(Channels(logger), static_cast<int>(logger.channelTypes.size()));
  for (int ch = 0; ch < channels; ++ch) {
    const uint8_t b = r.behaviour[static_cast<size_t>(ch) + 1];
    const int type = RangeSwitching::SensorType(b);
    if (type >= kNonSwitching) continue;
    const char upper = UpperLetter(logger, ch);
    if (lines.empty()) lines.emplace_back("Range switching channels:");
    lines.push_back(Format("Channel %d:", ch + 1));
    std::string typeName = TypeName(type);
    if (type == kSeapointFluorometer) typeName += DyeName(upper);
    lines.push_back(Format("\ttype:\t%s", typeName.c_str()));
    lines.push_back(Format("\tmode:\t%s", kModeNames[RangeSwitching::Mode(b)]));
    const int gain = RangeSwitching::Gain(b);
    lines.push_back(Format("\tgain:\t(%d) %s", gain, GainName(upper, gain)));
  }
  if (lines.empty()) lines.emplace_back("No range switching capable modules present");
  return lines;
}

}  // namespace klx
