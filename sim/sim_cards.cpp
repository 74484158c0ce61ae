#include "sim/sim_cards.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace klx::sim {
namespace {

constexpr uint8_t kEtx = 3;
constexpr int64_t kReceiveTimeoutMs = 5000;
constexpr int64_t kThroughMs = 60000;
constexpr size_t kMmcReplyMax = 300;
constexpr size_t kIdentityMax = 32;
constexpr size_t kCapabilityBlock = 32;
constexpr size_t kModemTable = 5;
const char kAbort[] = "!XAA00";

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Hex2(unsigned v) {
  char b[3];
  std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
  return b;
}

// Two hexadecimal digits at pos as a byte; -1 when they are not.
int HexByte(const std::string& s, size_t pos) {
  if (pos + 2 > s.size()) return -1;
  const int hi = Hex(s[pos]), lo = Hex(s[pos + 1]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

bool IsDigits(const std::string& s, size_t pos, size_t count) {
  if (pos + count > s.size()) return false;
  return std::all_of(s.begin() + static_cast<ptrdiff_t>(pos),
                     s.begin() + static_cast<ptrdiff_t>(pos + count),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::string Entry(int mode) {
  return (mode == 2 ? "02" : "01") + std::string(14, 'F') + (mode == 2 ? "AA" : "AB");
}

}  // namespace

SimCards::SimCards(const SimProfile& profile) : profile_(profile.cards) {
  const auto version = profile.capabilities.find(23);
  if (version != profile.capabilities.end()) version_ = static_cast<int>(version->second);
}

bool SimCards::UseFault(int& counter) {
  if (counter == 0) return false;
  if (counter > 0) --counter;
  return true;
}

int SimCards::CommandLength(const std::string& in) {
  if (in.empty()) return 0;
  if (in[0] == '~') {  // "~", address, kind, then the kind's payload
    if (in.size() < 3) return 0;
    if (in[2] == 'A') return 4;
    if (in[2] == 'B') return 21;
    return 3;
  }
  if (in[0] != '!') return kNotCardCommand;
  if (in.size() < 2) return 0;
  switch (in[1]) {
    case 'X':
      return 6;
    case '3':
      return 7;
    case 'G':
      if (in.size() < 3) return 0;
      return in[2] == 'C' ? 12 : 4;
    default:
      return kNotCardCommand;
  }
}

bool SimCards::Execute(const std::string& cmd, const std::vector<SimChannel>& channels, bool linear,
                       int64_t nowMs, const ReplyFn& reply) {
  if (cmd.size() >= 2 && cmd[0] == '!' && cmd[1] == 'X')
    return Generic(cmd, channels, nowMs, reply);
  if (cmd.size() >= 2 && cmd[0] == '!' && cmd[1] == 'G') return Mmc(cmd, nowMs, reply);
  if (!cmd.empty() && (cmd[0] == '~' || (cmd.size() >= 2 && cmd[0] == '!' && cmd[1] == '3'))) {
    if (!linear) return cmd[0] == '~';  // nobody answers a packet; "!3" is unknown
    return Optode(cmd, channels, nowMs, reply);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Generic serial card.

void SimCards::StartJob(std::vector<int> walk, int final, int64_t nowMs) {
  Job job;
  job.walk = std::move(walk);
  job.startMs = nowMs;
  job.final = final;
  job.hang = UseFault(profile_.hang);
  if (final == 0 && profile_.status133 != 0) {
    job.final = 133;
    sticky133_ = true;
  }
  job_ = std::move(job);
}

int SimCards::GenericStatus(int64_t nowMs) {
  if (rx_) {
    if (nowMs - rx_->lastMs > kReceiveTimeoutMs) {
      rx_.reset();
      status_ = 131;
    } else {
      return 7;
    }
  }
  if (job_) {
    const int64_t step = profile_.cardStepMs;
    const size_t index =
        step <= 0 ? job_->walk.size()
                  : static_cast<size_t>(std::max<int64_t>(0, nowMs - job_->startMs) / step);
    if (index < job_->walk.size()) return job_->walk[index];
    if (job_->hang && !job_->walk.empty()) return job_->walk.back();
    status_ = job_->final;
    job_.reset();
  }
  return status_;
}

std::optional<std::string> SimCards::MetaTable(int channel) const {
  const auto it = tables_.find(channel);
  if (it == tables_.end()) return std::nullopt;
  return it->second;
}

bool SimCards::Generic(const std::string& cmd, const std::vector<SimChannel>& channels,
                       int64_t nowMs, const ReplyFn& reply) {
  const bool present = std::any_of(channels.begin(), channels.end(),
                                   [](const SimChannel& c) { return c.type == 'B'; });
  if (!present || cmd.size() != 6) return false;
  const std::string op = cmd.substr(2, 2);
  const int channel = HexByte(cmd, 4);
  if (channel < 0) return false;
  if (op == "00") {
    const int s = GenericStatus(nowMs);
    reply(Hex2(static_cast<unsigned>(s)) + Hex2(static_cast<unsigned>(lastChannel_)) + "MTS\r\n",
          nowMs);
    if (s >= 128) {  // each failure is reported once, unless the card is stuck at 133
      if (s == 133 && sticky133_) {
        if (profile_.status133 > 0 && --profile_.status133 == 0) {
          status_ = 0;
          sticky133_ = false;
        }
      } else {
        status_ = 0;
      }
    }
    return true;
  }
  if (op == "AA") {
    GenericStatus(nowMs);
    const bool busy = job_.has_value();
    job_.reset();
    sticky133_ = false;
    status_ = busy ? 134 : 0;
    return true;
  }
  const bool newer = version_ >= 4;
  const bool read = op == (newer ? "04" : "01");
  const bool send = op == (newer ? "05" : "02");
  const bool configure = op == "03";
  if (!read && !send && !configure) return false;
  // A new request ends whatever the card was doing.
  GenericStatus(nowMs);
  job_.reset();
  sticky133_ = false;
  status_ = 0;
  lastChannel_ = channel;
  const bool generic = channel >= 1 && static_cast<size_t>(channel) <= channels.size() &&
                       channels[static_cast<size_t>(channel) - 1].type == 'B';
  if (send) {
    rx_ = Reception{};
    rx_->channel = channel;
    rx_->generic = generic;
    rx_->lastMs = nowMs;
    return true;
  }
  if (!generic) {
    status_ = 128;
    return true;
  }
  if (configure) {
    StartJob({15, 16}, UseFault(profile_.configFails) ? 133 : 0, nowMs);
    return true;
  }
  // Read: the stored table (the profile's at start), ETX and the checksum.
  if (!tables_.count(channel)) {
    std::string initial = profile_.metaTable;
    std::replace(initial.begin(), initial.end(), static_cast<char>(147), '"');
    std::replace(initial.begin(), initial.end(), static_cast<char>(148), '"');
    tables_[channel] = initial;
  }
  std::string out = tables_[channel];
  if (UseFault(profile_.noEtx)) {
    reply(out, nowMs);
    return true;
  }
  out += static_cast<char>(kEtx);
  if (newer) {
    uint8_t sum = 0;
    for (char c : out) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    uint8_t check = static_cast<uint8_t>(0xA5 - sum);
    if (UseFault(profile_.badChecksum)) check = static_cast<uint8_t>(check + 1);
    out += Hex2(check);
  }
  reply(out, nowMs);
  return true;
}

bool SimCards::Take(uint8_t byte, int64_t nowMs) {
  if (!rx_) return false;
  if (nowMs - rx_->lastMs > kReceiveTimeoutMs) {  // the host left the table unfinished
    rx_.reset();
    status_ = 131;
    return false;
  }
  rx_->lastMs = nowMs;
  if (rx_->etx) {  // the checksum digits
    if (Hex(static_cast<char>(byte)) < 0) {
      EndReception(nowMs, 135);
      return false;
    }
    rx_->checksum += static_cast<char>(byte);
    if (rx_->checksum.size() == 2) {
      const uint8_t value = static_cast<uint8_t>(HexByte(rx_->checksum, 0));
      EndReception(nowMs, static_cast<uint8_t>(rx_->sum + value) == 0xA5 ? 0 : 135);
    }
    return true;
  }
  rx_->tail += static_cast<char>(byte);
  if (rx_->tail.size() > 6) rx_->tail.erase(0, 1);
  if (rx_->tail == kAbort) {
    rx_.reset();
    status_ = 134;
    return true;
  }
  ++rx_->count;
  rx_->sum = static_cast<uint8_t>(rx_->sum + byte);
  if (byte == kEtx) {
    rx_->etx = true;
    if (version_ < 4) EndReception(nowMs, 0);
    return true;
  }
  if (rx_->count < static_cast<size_t>(profile_.cardCapacity))  // room for the ETX too
    rx_->bytes += static_cast<char>(byte == 147 || byte == 148 ? '"' : byte);
  return true;
}

void SimCards::EndReception(int64_t nowMs, int failure) {
  Reception r = std::move(*rx_);
  rx_.reset();
  if (!r.generic) failure = 128;
  if (failure == 0 && r.count > static_cast<size_t>(profile_.cardCapacity)) failure = 132;
  if (failure != 0) {
    status_ = failure;
    return;
  }
  tables_[r.channel] = r.bytes;
  std::vector<int> walk;
  if (version_ >= 4) walk.push_back(9);
  for (int s : {8, 10, 11, 12, 13, 14}) walk.push_back(s);
  StartJob(std::move(walk), 0, nowMs);
}

// ---------------------------------------------------------------------------------------------
// MMC/SD card.

std::string SimCards::MmcFile(long number) const {
  if (!profile_.mmc || number < profile_.mmcFirst ||
      number >= static_cast<long>(profile_.mmcFirst) + profile_.mmcFiles)
    return {};
  // A logged file: a title line, then one line of readings every ten minutes.
  char b[96];
  std::snprintf(b, sizeof b, "File %08ld\r\n", number);
  std::string text = b;
  for (int i = 0; i < 12; ++i) {
    const long minutes = number * 240 + i * 10;
    std::snprintf(b, sizeof b, "2026/06/%02ld %02ld:%02ld:00 %8.4f %8.3f\r\n",
                  1 + minutes / 1440 % 28, minutes / 60 % 24, minutes % 60,
                  12.0 + 0.01 * static_cast<double>((number * 7 + i * 3) % 50),
                  10.0 + 0.1 * static_cast<double>((number + i) % 9));
    text += b;
  }
  return text;
}

bool SimCards::Mmc(const std::string& cmd, int64_t nowMs, const ReplyFn& reply) {
  if (!profile_.mmc) return false;
  char b[64];
  if (cmd == "!G00") {
    std::snprintf(b, sizeof b, "%08XMMS\r\n", profile_.mmcSizeKb);
    reply(b, nowMs + profile_.mmcDelayMs);
  } else if (cmd == "!G04") {
    reply(profile_.mmcType + "MMD\r\n", nowMs);
  } else if (cmd == "!G02" || cmd == "!G03") {
    const long n = cmd == "!G02"
                       ? profile_.mmcFirst
                       : static_cast<long>(profile_.mmcFirst) + std::max(profile_.mmcFiles, 1) - 1;
    std::snprintf(b, sizeof b, "%08ld%s\r\n", n, cmd == "!G02" ? "MMF" : "MML");
    reply(b, nowMs);
  } else if (cmd.size() == 12 && cmd.compare(0, 4, "!GCC") == 0 && IsDigits(cmd, 4, 8)) {
    const long number = std::strtol(cmd.c_str() + 4, nullptr, 10);
    std::string file = MmcFile(number);
    if (file.empty()) {
      std::snprintf(b, sizeof b, "File %08ld not found\r\n", number);
      file = b;
    }
    reply(file.substr(0, kMmcReplyMax), nowMs);
  } else {
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Optode front end.

int SimCards::OptodeMode() const {
  if (optodeEntry_.compare(0, 2, "01") == 0) return 1;
  if (optodeEntry_.compare(0, 2, "02") == 0) return 2;
  return 0;
}

bool SimCards::Optode(const std::string& cmd, const std::vector<SimChannel>& channels,
                      int64_t nowMs, const ReplyFn& reply) {
  size_t optode = 0;
  while (optode < channels.size() && channels[optode].type != 'K' && channels[optode].type != 'J')
    ++optode;
  if (optode == channels.size()) return cmd[0] == '~';  // no front end: "!3" unknown
  if (optodeEntry_.empty()) optodeEntry_ = Entry(channels[optode].type == 'J' ? 2 : 1);
  if (cmd[0] == '!') {
    throughUntilMs_ = nowMs + kThroughMs;
    return true;
  }
  if (!ThroughOpen(nowMs)) return true;  // the packet goes nowhere
  const auto address = static_cast<uint8_t>(cmd[1]);
  const auto number = static_cast<uint8_t>(optode + 1);
  const uint8_t second = channels[optode].second;
  if (address != number && address != '0' + number && (second == 0 || address != second))
    return true;
  throughUntilMs_ = nowMs + kThroughMs;
  const std::string head = std::string("~") + static_cast<char>(address);
  const char kind = cmd[2];
  if (kind == 1 || kind == '1') {
    if (!profile_.optodeAbsent) reply(head + "FFFFF5\r\n", nowMs);
  } else if (kind == 'A') {
    const char index = cmd[3];
    if (index == 0 || index == 1 || index == '0' || index == '1') reply(head + "01\r\n", nowMs);
  } else if (kind == 'B') {
    if (!profile_.optodeStuck) optodeEntry_ = cmd.substr(3);
  } else if (kind == 4 || kind == '4') {
    reply(head + optodeEntry_ + "\r\n", nowMs);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Identity, capability and modem tables.

std::vector<SimChannel> CurrentChannels(const std::map<int, std::vector<uint8_t>>& tables,
                                        const SimProfile& profile) {
  const auto it = tables.find(1);
  if (it == tables.end() || it->second.empty()) return profile.channels;
  const auto& t = it->second;
  std::vector<SimChannel> channels;
  for (size_t i = 0; i < t[0] && 6 + 2 * i < t.size(); ++i)
    channels.push_back({static_cast<char>(t[5 + 2 * i]), t[6 + 2 * i]});
  return channels;
}

void AddScriptTables(const SimProfile& profile, std::map<int, std::vector<uint8_t>>& tables) {
  if (profile.IsExtended()) {
    char b[64];
    std::snprintf(b, sizeof b, "KLX %s %%f %06d", profile.model.c_str(), profile.serial);
    std::vector<uint8_t> identity(b, b + std::strlen(b));
    identity.push_back(0);
    if (identity.size() <= kIdentityMax) tables[0] = identity;
    std::vector<uint8_t> block(kCapabilityBlock, 0);
    for (size_t entry = 0; entry <= 28; ++entry) {
      const auto cap = profile.capabilities.find(static_cast<int>(entry));
      const uint32_t v = cap == profile.capabilities.end() ? 0 : cap->second;
      if (entry == 0) {
        for (size_t i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(v >> (8 * i));
      } else {
        block[3 + entry] = static_cast<uint8_t>(v);
      }
    }
    tables[2] = block;
  }
  const auto level = profile.capabilities.find(21);
  const bool modem = profile.cards.modem || (level != profile.capabilities.end() &&
                                             level->second >= 1 && level->second <= 3);
  if (modem) {
    const int front = profile.cards.frontPorchMs / 5, back = profile.cards.backPorchMs / 5;
    tables[8] = {static_cast<uint8_t>(front), static_cast<uint8_t>(front >> 8),
                 static_cast<uint8_t>(back), static_cast<uint8_t>(back >> 8),
                 static_cast<uint8_t>((profile.cards.activeLevel ? 1 : 0) |
                                      (profile.cards.inactiveLevel ? 2 : 0))};
  }
}

bool AcceptScriptTable(int number, const std::vector<uint8_t>& data, SimProfile& profile) {
  switch (number) {
    case 0: {
      if (data.empty() || data.size() > kIdentityMax) return false;
      const std::string text(data.begin(), std::find(data.begin(), data.end(), 0));
      char model[33] = {};
      int serial = 0;
      if (std::sscanf(text.c_str(), "KLX %32s %%f %d", model, &serial) == 2) {
        profile.model = model;
        profile.serial = serial;
      }
      return true;
    }
    case 2:
      if (data.size() != kCapabilityBlock) return false;
      profile.capabilities[0] = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16) |
                                static_cast<uint32_t>(data[3]) << 24;
      return true;
    case 8:
      return data.size() == kModemTable;
    default:
      return true;
  }
}

std::string IdentityReply(const std::map<int, std::vector<uint8_t>>& tables,
                          const SimProfile& profile) {
  char b[32];
  const auto it = tables.find(0);
  if (it == tables.end()) {
    std::snprintf(b, sizeof b, " %06d\r\n", profile.serial);
    return "KLX " + profile.model + " " + profile.firmware + b;
  }
  std::string text(it->second.begin(), std::find(it->second.begin(), it->second.end(), 0));
  if (const auto f = text.find("%f"); f != std::string::npos) text.replace(f, 2, profile.firmware);
  return text + "\r\n";
}

}  // namespace klx::sim
