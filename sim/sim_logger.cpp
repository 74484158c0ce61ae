#include "sim/sim_logger.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace klx::sim {
namespace {

constexpr uint32_t kCalBase = 0x10000;
constexpr uint32_t kConfigBase = 0x1FFC9;
constexpr uint32_t kDataBase = 0x20000;
constexpr int64_t kPartialTimeoutMs = 1000;
constexpr int64_t kTableTimeoutMs = 2000;  // a table transfer the host abandoned
constexpr size_t kMaxMemoryRead = 4096;

std::string Hex2(unsigned v) {
  char b[3];
  std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
  return b;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads count hexadecimal byte pairs from text at pos; false on a character that is not hex.
bool HexBytes(const std::string& text, size_t pos, size_t count, std::vector<uint8_t>& out) {
  out.clear();
  if (pos + 2 * count > text.size()) return false;
  for (size_t i = 0; i < count; ++i) {
    const int hi = HexDigit(text[pos + 2 * i]);
    const int lo = HexDigit(text[pos + 2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

bool Digits(const std::string& text, size_t pos, size_t count) {
  if (pos + count > text.size()) return false;
  for (size_t i = 0; i < count; ++i)
    if (text[pos + i] < '0' || text[pos + i] > '9') return false;
  return true;
}

int Two(const std::string& s, size_t pos) {
  return (s[pos] - '0') * 10 + (s[pos + 1] - '0');
}

const int64_t kDay2000 = DaysFromCivil(2000, 1, 1);

// Seconds since 2000-01-01 of twelve digits yymmddhhmmss; -1 when a field is out of range.
int64_t StampSeconds(const std::string& s, size_t pos = 0) {
  if (!Digits(s, pos, 12)) return -1;
  const int mo = Two(s, pos + 2), d = Two(s, pos + 4), h = Two(s, pos + 6), mi = Two(s, pos + 8),
            se = Two(s, pos + 10);
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59) return -1;
  const int64_t days =
      DaysFromCivil(2000 + Two(s, pos), static_cast<unsigned>(mo), static_cast<unsigned>(d)) -
      kDay2000;
  return days * 86400 + h * 3600 + mi * 60 + se;
}

std::string StampText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  int y = 0;
  unsigned mo = 0, d = 0;
  CivilFromDays(seconds / 86400 + kDay2000, y, mo, d);
  const int64_t r = seconds % 86400;
  char b[32];
  std::snprintf(b, sizeof b, "%02d%02u%02u%02d%02d%02d", (y - 2000) % 100, mo, d,
                static_cast<int>(r / 3600), static_cast<int>(r / 60 % 60),
                static_cast<int>(r % 60));
  return b;
}

bool ValidPeriod(const std::string& s, size_t pos) {
  if (!Digits(s, pos, 6)) return false;
  const int h = Two(s, pos), m = Two(s, pos + 2), sec = Two(s, pos + 4);
  return (h == 24 && m == 0 && sec == 0) || (h < 24 && m < 60 && sec < 60);
}

uint8_t Bcd(int v) {
  return static_cast<uint8_t>((v / 10) * 16 + v % 10);
}

void PutDouble(std::string& out, double v) {
  uint8_t b[8];
  std::memcpy(b, &v, 8);  // the loggers store IEEE doubles little-endian, like this host
  out.append(reinterpret_cast<const char*>(b), 8);
}

double GetDouble(const uint8_t* p) {
  double v = 0;
  std::memcpy(&v, p, 8);
  return v;
}

std::vector<double> DefaultCoefficients(char type, bool singleChannel, const std::string& model,
                                        bool linear = false) {
  if (type == 'T' || (type >= 'a' && type <= 'z') ||
      (singleChannel && model.find("NA") != std::string::npos))
    return {0.0035, -0.00025, 2.7e-06, 2.3e-08};
  if (singleChannel) return {0.0, 100.0, 0.0, 0.0};
  if (linear && type == 'K') return {0.0, 125.0, 0.0, 0.0};  // optode saturation
  if (linear && type == 'J') return {0.0, 625.0, 0.0, 0.0};  // optode concentration
  return {0.0, 1.0, 0.0, 0.0};
}

std::string Printable(const std::string& cmd) {
  std::string out;
  for (unsigned char c : cmd) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "<" + Hex2(c) + ">";
    }
  }
  return out;
}

}  // namespace

SimLogger::SimLogger(SimProfile profile)
    : profile_(std::move(profile)),
      faults_(profile_.faults),
      paced_(profile_.paced),
      baud_(profile_.baud),
      defaultBaud_(profile_.baud),
      firmware_(profile_.FirmwareValue()),
      cards_(profile_) {
  status_ = profile_.status;
  startSec_ = std::max<int64_t>(0, StampSeconds(profile_.start));
  endSec_ = std::max<int64_t>(0, StampSeconds(profile_.end));
  period_ = profile_.period;
  resumeStatus_ = 2;
  if (profile_.burstLength > 0) {
    burstLength_ = static_cast<uint16_t>(profile_.burstLength);
    burstInterval_ = profile_.burstInterval;
  }
  if (profile_.waveRate > 0) highRate_ = static_cast<uint8_t>(profile_.waveRate);
  std::memcpy(height_.data(), &profile_.height, 8);  // IEEE double, least significant first
  if (profile_.profiling) threshold_[0] |= 0x40;

  const size_t channels = profile_.channels.size();
  if (profile_.IsExtended()) {
    std::vector<uint8_t> config;
    config.push_back(static_cast<uint8_t>(channels));
    const int latency = profile_.latencyMs / 10, reading = profile_.readingTimeMs / 100;
    config.push_back(static_cast<uint8_t>(latency & 0xFF));
    config.push_back(static_cast<uint8_t>(latency >> 8));
    config.push_back(static_cast<uint8_t>(reading & 0xFF));
    config.push_back(static_cast<uint8_t>(reading >> 8));
    for (const auto& c : profile_.channels) {
      config.push_back(static_cast<uint8_t>(c.type));
      config.push_back(c.second);
    }
    tables_[1] = config;
    const int code = profile_.defaultBaudCode.value_or(9216000 / (32 * profile_.baud) - 2);
    tables_[3] = {static_cast<uint8_t>(code)};
  }
  if (profile_.rsAdvanced) {
    const uint32_t w = *profile_.rsAdvanced;
    tables_[7] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                  static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)};
  }
  AddScriptTables(profile_, tables_);  // identity, capability block, modem (sim_cards.h)
  for (const auto& [number, bytes] : profile_.tables) tables_[number] = bytes;

  if (profile_.correction && profile_.correction->size() == 4) {
    std::string block(1, '\x02');
    for (double v : *profile_.correction) PutDouble(block, v);
    tables_[6] = std::vector<uint8_t>(block.begin(), block.end());
  }
  BuildCalibrations();

  // A micro-salinometer reads its cells (sim_microsal.h) and holds its standardization.
  std::string letters;
  std::vector<std::array<double, 4>> rows;
  for (size_t i = 0; i < channels; ++i) {
    letters += profile_.channels[i].type;
    std::vector<double> c;
    if (!records_.empty() && i < records_.front().coef.size()) c = records_.front().coef[i];
    if (c.size() != 4) c = DefaultCoefficients(profile_.channels[i].type, false, "", true);
    rows.push_back({c[0], c[1], c[2], c[3]});
  }
  microsal_ = SimMicrosal::For(profile_.model, letters, rows, profile_.microsal, profile_.seed);
  if (microsal_ && tables_.count(6) == 0) tables_[6] = microsal_->InitialBlock();

  // The data memory holds what the deployment described by the profile left in it, converted
  // with the calibration stored above.
  memory_ = SimMemory(MemorySetup());
  GenerateDeployment();
}

SimMemory::Setup SimLogger::MemorySetup() const {
  SimMemory::Setup setup;
  setup.linear = profile_.IsExtended();
  setup.seed = profile_.seed;
  setup.depth = profile_.depth;
  setup.waveRateHz = highRate_ > 0 ? highRate_ : 4;
  setup.wavePeriodS = profile_.wavePeriod;
  setup.waveAmplitudeM = profile_.waveAmplitude;
  setup.regions = profile_.memoryMb == 2 ? 2u : 4u;
  setup.ascii = profile_.asciiData;
  const bool na = profile_.model.find("NA-") != std::string::npos;
  const bool depth = profile_.model.find("NB") != std::string::npos ||
                     profile_.model.find("NMV") != std::string::npos;
  std::vector<char> types;
  if (profile_.channels.empty()) {
    types.push_back(na ? 'T' : depth ? 'P' : 'T');
  } else if (profile_.IsSingleChannel()) {
    // One channel: temperature on NA loggers, pressure on the depth loggers.
    types.push_back(na ? 'T' : depth ? 'P' : profile_.channels[0].type);
  } else {
    for (const auto& c : profile_.channels) types.push_back(c.type);
  }
  for (size_t i = 0; i < types.size(); ++i) {
    SimMemory::Channel ch;
    ch.type = types[i];
    ch.conversion.thermistor = types[i] == 'T';
    std::vector<double> c;
    if (!records_.empty() && i < records_.front().coef.size()) c = records_.front().coef[i];
    if (c.size() != 4) {
      // Not calibrated: the coefficients a host falls back on.
      if (types[i] == 'T') {
        c = {0.0035, -0.00025, 2.7e-06, 2.3e-08};
      } else if (profile_.IsSingleChannel()) {
        c = {0.0, 100.0, 0.0, 0.0};
      } else if (profile_.IsExtended() && types[i] == 'K') {
        c = {0.0, 125.0, 0.0, 0.0};
      } else if (profile_.IsExtended() && types[i] == 'J') {
        c = {0.0, 625.0, 0.0, 0.0};
      } else {
        c = {0.0, 1.0, 0.0, 0.0};
      }
    }
    std::copy(c.begin(), c.end(), ch.conversion.c.begin());
    setup.channels.push_back(ch);
  }
  setup.burstChannel = setup.channels.size() > 1 ? 1 : 0;
  setup.rowModel = microsal_;
  return setup;
}

int64_t SimLogger::PeriodMs() const {
  // 6 Hz profiling: bit 0x40 of the "!A" mode byte, or of the "!1" mode byte of the loggers
  // that set their start characteristic.
  return ((threshold_[0] | startCharacteristic_) & 0x40) != 0 ? 0 : PeriodSeconds() * 1000LL;
}

void SimLogger::GenerateDeployment() {
  const size_t rowBytes = 3 * memory_.Configuration().channels.size();
  int64_t rows = profile_.samples;
  if (rows == 0 && profile_.dataBytes > 0)
    rows =
        (profile_.dataBytes + static_cast<int64_t>(rowBytes) - 1) / static_cast<int64_t>(rowBytes);
  const bool fill = profile_.fill > 0;
  if (rows == 0 && !fill) {
    if (status_ != 0) memory_.Begin(ParamBlock());
    if (status_ == 2 || status_ == 6) {
      memory_.AddStamp("TIM", startSec_);
      nextSampleSec_ = startSec_;
    }
    return;
  }
  memory_.Begin(ParamBlock());
  const uint64_t target =
      fill ? static_cast<uint64_t>(profile_.fill * memory_.Map().Capacity()) : 0;
  const int64_t periodMs = PeriodMs();
  const bool sixHz = periodMs == 0;
  // Rows count from the last stamp, whose time they follow.
  int64_t segmentMs = startSec_ * 1000, segmentRow = 0;
  auto nextRowMs = [&] {
    return sixHz ? segmentMs + segmentRow / 6 * 1000 + segmentRow % 6 * 167
                 : segmentMs + segmentRow * periodMs;
  };
  auto stamp = [&](const std::string& code, int64_t seconds) {
    if (!memory_.AddStamp(code, seconds)) return false;
    segmentMs = seconds * 1000;
    segmentRow = 0;
    return true;
  };
  std::vector<SimStampPlan> plan = profile_.stamps;
  std::stable_sort(plan.begin(), plan.end(), [](const SimStampPlan& a, const SimStampPlan& b) {
    return (a.row < 0 ? INT64_MAX : a.row) < (b.row < 0 ? INT64_MAX : b.row);
  });
  // Wave bursts: one every burst interval, at a tide row, followed by a "TIM" stamp.
  const int interval =
      Two(burstInterval_, 0) * 3600 + Two(burstInterval_, 2) * 60 + Two(burstInterval_, 4);
  const bool bursts = BurstsOn();
  const int64_t rowsPerBurst =
      bursts ? std::max<int64_t>(1, interval * 1000LL / std::max<int64_t>(periodMs, 1)) : 0;
  int64_t nextBurst = rowsPerBurst;

  stamp("TIM", startSec_);
  int64_t done = 0;
  size_t nextPlan = 0;
  for (;;) {
    if (fill ? memory_.UsedBytes() + rowBytes > target : done >= rows) break;
    int64_t until =
        fill ? done + static_cast<int64_t>((target - memory_.UsedBytes()) / rowBytes) : rows;
    if (nextPlan < plan.size() && plan[nextPlan].row >= 0)
      until =
          std::min(until, std::max(done, plan[nextPlan].row / (sixHz ? 6 : 1) * (sixHz ? 6 : 1)));
    if (bursts) until = std::min(until, nextBurst);
    if (until > done) {
      const int64_t wanted = until - done;
      const auto n = static_cast<int64_t>(
          memory_.AddRows(nextRowMs(), periodMs, static_cast<uint64_t>(wanted)));
      done += n;
      segmentRow += n;
      if (n < wanted) break;  // memory full
      continue;
    }
    if (nextPlan < plan.size() && plan[nextPlan].row >= 0 && plan[nextPlan].row <= done) {
      const std::string& code = plan[nextPlan++].code;
      // A start-up after a power loss comes an hour after the last reading.
      const bool restart = code == "CLD" || code == "WRM" || code == "LUK" || code == "CHG";
      if (!stamp(code, (nextRowMs() + 999) / 1000 + (restart ? 3600 : 0))) break;
      continue;
    }
    if (bursts && done >= nextBurst) {
      const int64_t at = nextRowMs() / 1000;
      if (!memory_.AddBurst(at, burstLength_, HeightM()) || !stamp("TIM", at)) break;
      nextBurst += rowsPerBurst;
      continue;
    }
    break;
  }
  for (; nextPlan < plan.size(); ++nextPlan)
    if (plan[nextPlan].row < 0) memory_.AddStamp(plan[nextPlan].code, (nextRowMs() + 999) / 1000);
  nextSampleSec_ = (nextRowMs() + 999) / 1000;
  ScheduleBursts();
}

bool SimLogger::WavesCapable() const {
  const auto mask = profile_.capabilities.find(0);
  return mask != profile_.capabilities.end() && (mask->second >> 16 & 1u) != 0;
}

int SimLogger::BurstIntervalSeconds() const {
  return Two(burstInterval_, 0) * 3600 + Two(burstInterval_, 2) * 60 + Two(burstInterval_, 4);
}

bool SimLogger::BurstsOn() const {
  return WavesCapable() && burstLength_ > 0 && BurstIntervalSeconds() > 0 && PeriodMs() > 0;
}

void SimLogger::ScheduleBursts() {
  const int64_t w = BurstIntervalSeconds();
  if (w <= 0) return;
  const int64_t k = std::max<int64_t>(1, (nextSampleSec_ - startSec_ + w - 1) / w);
  nextBurstSec_ = startSec_ + k * w;
}

double SimLogger::BurstSampleMs(uint32_t k) const {
  return static_cast<double>(k) * 1000.0 / memory_.Configuration().waveRateHz;
}

double SimLogger::HeightM() const {
  const double h = GetDouble(height_.data());
  return std::isfinite(h) && h > 0 ? h : 0.0;
}

// ---------------------------------------------------------------------------------------------
// Clock and deployment state.

void SimLogger::Anchor(int64_t nowMs) {
  if (anchorMs_) return;
  anchorMs_ = nowMs;
  const int64_t s = StampSeconds(profile_.clock);
  clockAtAnchor_ = s >= 0 ? s : StampSeconds("260101000000");
}

void SimLogger::SetClock(const klx::SystemTime& t, int64_t nowMs) {
  anchorMs_ = nowMs;
  clockAtAnchor_ = (DaysFromCivil(t.year, t.month, t.day) - kDay2000) * 86400 + t.hour * 3600 +
                   t.minute * 60 + t.second;
}

int64_t SimLogger::ClockSeconds(int64_t nowMs) {
  Anchor(nowMs);
  const int64_t elapsed = nowMs - *anchorMs_;
  return clockAtAnchor_ + (elapsed >= 0 ? elapsed / 1000 : -((999 - elapsed) / 1000));
}

std::string SimLogger::ClockText(int64_t nowMs) {
  return StampText(ClockSeconds(nowMs));
}

int SimLogger::PeriodSeconds() const {
  const int s = Two(period_, 0) * 3600 + Two(period_, 2) * 60 + Two(period_, 4);
  return s > 0 ? s : 86400;
}

int64_t SimLogger::ClockMs(int64_t nowMs) {
  Anchor(nowMs);
  return clockAtAnchor_ * 1000 + (nowMs - *anchorMs_);
}

void SimLogger::Advance(int64_t nowMs) {
  const int64_t clock = ClockSeconds(nowMs);
  if (status_ == 1 && clock >= startSec_) {
    status_ = 2;
    nextSampleSec_ = startSec_;
    memory_.AddStamp("TIM", startSec_);
    ScheduleBursts();
  }
  if (status_ == 2 || status_ == 6) {
    LogUntil(ClockMs(nowMs));
    if (clock >= endSec_) {
      status_ = 4;
      subStatus_ = 0;
    }
  }
}

void SimLogger::LogUntil(int64_t clockMs, bool cut) {
  const int64_t clock = clockMs >= 0 ? clockMs / 1000 : -((999 - clockMs) / 1000);
  const int64_t last = std::min(clock, endSec_ - 1);
  const int64_t periodMs = PeriodMs();
  // A whole second of six rows under 6 Hz profiling, else one row a period.
  const int64_t step = periodMs == 0 ? 1 : PeriodSeconds();
  for (;;) {
    if (burst_) {
      const double endMs = static_cast<double>(burst_->ms) + BurstSampleMs(burst_->count - 1);
      if (static_cast<double>(clockMs) < endMs && !cut) break;  // still sampling
      uint32_t taken = burst_->count;
      while (taken > 0 && static_cast<double>(burst_->ms) + BurstSampleMs(taken - 1) >
                              static_cast<double>(clockMs))
        --taken;
      if (taken > 0 && memory_.AddBurst(burst_->ms / 1000, taken, burst_->heightM))
        memory_.AddStamp("TIM", nextSampleSec_);  // the tide rows taken meanwhile follow
      // The next burst is the first one due after this one's last word.
      const int64_t w = std::max(1, BurstIntervalSeconds());
      while (static_cast<double>(nextBurstSec_ * 1000) <= endMs) nextBurstSec_ += w;
      burst_.reset();
      continue;
    }
    int64_t until = last;
    if (BurstsOn()) until = std::min(until, nextBurstSec_ - 1);
    if (nextSampleSec_ <= until) {
      const int64_t n = (until - nextSampleSec_) / step + 1;
      memory_.AddRows(nextSampleSec_ * 1000, periodMs,
                      static_cast<uint64_t>(periodMs == 0 ? n * 6 : n));
      nextSampleSec_ += n * step;
    }
    if (!cut && BurstsOn() && nextBurstSec_ <= last) {
      const double lastWordMs = BurstSampleMs(burstLength_ - 1u);
      if (static_cast<double>(nextBurstSec_ * 1000) + lastWordMs >=
          static_cast<double>(endSec_ * 1000)) {
        nextBurstSec_ = INT64_MAX / 4;  // no time left for another burst
        continue;
      }
      burst_ = SimMemory::BurstInfo{memory_.BurstCount(), nextBurstSec_ * 1000, burstLength_,
                                    HeightM(), memory_.RowCount()};
      continue;
    }
    break;
  }
}

std::string SimLogger::StatusText() const {
  std::string s = "Logger status " + Hex2(static_cast<unsigned>(status_));
  if (profile_.IsExtended()) s += " " + Hex2(static_cast<unsigned>(subStatus_));
  return s;
}

// ---------------------------------------------------------------------------------------------
// Memory.

std::vector<uint8_t> SimLogger::ConfigBlock() const {
  std::vector<uint8_t> b(55, 0);
  const auto& ch = profile_.channels;
  for (size_t i = 0; i < ch.size() && i < 24; ++i) {
    b[47 - 2 * i] = static_cast<uint8_t>(ch[i].type);
    b[46 - 2 * i] = ch[i].second;
  }
  const int reading = profile_.readingTimeMs / 100, latency = profile_.latencyMs / 10;
  b[49] = static_cast<uint8_t>(reading & 0xFF);
  b[50] = static_cast<uint8_t>(reading >> 8);
  b[51] = static_cast<uint8_t>(latency & 0xFF);
  b[52] = static_cast<uint8_t>(latency >> 8);
  b[53] = static_cast<uint8_t>(ch.size());
  uint8_t sum = 0;
  for (size_t i = 0; i < 54; ++i) sum = static_cast<uint8_t>(sum + b[i]);
  b[54] = sum;
  return b;
}

std::vector<uint8_t> SimLogger::ParamBlock() const {
  // The settings in force when logging was enabled: real-time baud code (byte 1), averaging
  // (2, 3), start characteristic (7, 8), hysteresis (11, 12), threshold block (13..20), and a
  // check byte that brings the block's sum to 0xA5.
  std::vector<uint8_t> b(HeaderBytes(), 0);
  auto put = [&b](size_t at, uint8_t v) {
    if (at + 1 < b.size()) b[at] = v;
  };
  put(1, realtimeCode_);
  put(2, static_cast<uint8_t>(averaging_));
  put(3, static_cast<uint8_t>(averaging_ >> 8));
  put(7, static_cast<uint8_t>(startCharacteristic_));
  put(8, static_cast<uint8_t>(startCharacteristic_ >> 8));
  put(11, static_cast<uint8_t>(hysteresis_));
  put(12, static_cast<uint8_t>(hysteresis_ >> 8));
  for (size_t i = 0; i < 8; ++i) put(13 + i, threshold_[i]);
  if (!b.empty()) {
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < b.size(); ++i) sum = static_cast<uint8_t>(sum + b[i]);
    b.back() = static_cast<uint8_t>(0xA5 - sum);
  }
  return b;
}

uint8_t SimLogger::ByteAt(uint32_t address, const std::vector<uint8_t>& config) const {
  if (!profile_.IsExtended()) {
    if (address >= kCalBase && address < kConfigBase) return calMemory_[address - kCalBase];
    if (address >= kConfigBase && address < kDataBase) return config[address - kConfigBase];
  }
  return memory_.ByteAt(address);
}

uint8_t SimLogger::MemoryByte(uint32_t address) const {
  return ByteAt(address, ConfigBlock());
}

uint32_t SimLogger::DataPointer() const {
  return memory_.Pointer();
}

size_t SimLogger::HeaderBytes() const {
  if (profile_.model.find("NA-") != std::string::npos && !profile_.IsExtended()) {
    if (firmware_ < 1.5 - 1e-9) return 0;
    return firmware_ < 2.2 - 1e-9 ? 15 : 30;
  }
  if (profile_.IsSingleChannel()) return 30;
  return static_cast<size_t>(profile_.paramBlock);
}

size_t SimLogger::CalRecordBytes() const {
  return profile_.IsSingleChannel() ? 6 + 32 : 6 + 33 * profile_.channels.size();
}

size_t SimLogger::CalUsableBytes() const {
  // Multi-channel loggers use their calibration area up to offset 0xFE00; single-channel
  // loggers up to the configuration area.
  return profile_.IsSingleChannel() ? calMemory_.size() : 0xFE00;
}

void SimLogger::BuildCalibrations() {
  calMemory_.assign(kConfigBase - kCalBase, 0xFF);
  if (profile_.calibration.empty()) return;
  const size_t rows = profile_.IsSingleChannel() ? 1 : profile_.channels.size();
  CalRecord current;
  current.date = profile_.calDate;
  for (size_t i = 0; i < rows; ++i) {
    const auto it = profile_.calibration.find(static_cast<int>(i));
    current.coef.push_back(it != profile_.calibration.end()
                               ? it->second
                               : DefaultCoefficients(profile_.channels[i].type,
                                                     profile_.IsSingleChannel(), profile_.model));
  }
  // Older calibrations: as many as asked, or as leave the room asked for.
  size_t older = static_cast<size_t>(profile_.calHistory);
  if (profile_.calRoom) {
    const auto room = static_cast<size_t>(*profile_.calRoom);
    if (profile_.IsExtended()) {
      calCapacity_ = older + 1 + room;
    } else {
      const size_t fit = CalUsableBytes() / CalRecordBytes();
      older = fit > room + 1 ? fit - room - 1 : 0;
    }
  }
  // Dates step back from the current one (at most 30 days apart, never before 2000); the
  // coefficients drift a little further with every step back.
  const int64_t now = std::max<int64_t>(0, StampSeconds(current.date));
  const int64_t step = std::min<int64_t>(30 * 86400, now / static_cast<int64_t>(older + 1));
  for (size_t k = older; k >= 1; --k) {
    CalRecord r;
    r.date = StampText(now - static_cast<int64_t>(k) * step);
    for (const auto& row : current.coef) {
      std::vector<double> c = row;
      for (size_t i = 0; i < c.size(); ++i) c[i] *= 1.0 + 0.001 * static_cast<double>(k * (i + 1));
      r.coef.push_back(c);
    }
    records_.insert(records_.begin(), r);
    AppendRecordToMemory(r);
  }
  records_.insert(records_.begin(), current);
  AppendRecordToMemory(current);
  if (profile_.IsExtended() && profile_.calIncomplete >= 0 &&
      static_cast<size_t>(profile_.calIncomplete) < records_.size())
    records_[static_cast<size_t>(profile_.calIncomplete)].complete = false;
}

size_t SimLogger::CalibrationRoom() const {
  if (profile_.IsExtended())
    return calCapacity_ > records_.size() ? calCapacity_ - records_.size() : 0;
  size_t offset = 0;
  const size_t size = CalRecordBytes();
  while (offset + size <= CalUsableBytes() && calMemory_[offset] != 0xFF) offset += size;
  return offset < CalUsableBytes() ? (CalUsableBytes() - offset) / size : 0;
}

std::vector<SimCalibration> SimLogger::Calibrations() const {
  std::vector<SimCalibration> out;
  auto row = [](const uint8_t* p) {
    std::array<double, 4> c{};
    for (size_t i = 0; i < 4; ++i) c[i] = GetDouble(p + 8 * i);
    return c;
  };
  if (profile_.IsExtended()) {
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
      SimCalibration c{it->date, it->complete, {}};
      for (const auto& r : it->coef) c.coef.push_back({r[0], r[1], r[2], r[3]});
      out.push_back(c);
    }
    return out;
  }
  // The records in memory, as a walk from offset 0 finds them.
  const bool single = profile_.IsSingleChannel();
  const size_t size = CalRecordBytes();
  for (size_t offset = 0; offset + size <= calMemory_.size() && calMemory_[offset] != 0xFF;
       offset += size) {
    SimCalibration c;
    for (size_t i = 0; i < 6; ++i) {
      const uint8_t b = calMemory_[offset + i];
      c.date += static_cast<char>('0' + (b >> 4));
      c.date += static_cast<char>('0' + (b & 0x0F));
    }
    const size_t rows = single ? 1 : profile_.channels.size();
    for (size_t ch = 0; ch < rows; ++ch) c.coef.push_back(row(&calMemory_[offset + 6 + 33 * ch]));
    out.push_back(c);
  }
  return out;
}

std::optional<std::array<double, 4>> SimLogger::ConductivityCorrection() const {
  const auto it = tables_.find(6);
  if (it == tables_.end() || it->second.size() != 33 || it->second[0] != 2) return std::nullopt;
  std::array<double, 4> c{};
  for (size_t i = 0; i < 4; ++i) c[i] = GetDouble(&it->second[1 + 8 * i]);
  return c;
}

bool SimLogger::AppendRecordToMemory(const CalRecord& r) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < 6; ++i) bytes.push_back(Bcd(Two(r.date, 2 * i)));
  for (const auto& row : r.coef) {
    std::string c;
    for (double v : row) PutDouble(c, v);
    bytes.insert(bytes.end(), c.begin(), c.end());
    if (!profile_.IsSingleChannel()) bytes.push_back(0);  // the logger's own byte 32
  }
  // Records lie back to back; the first header that starts with 0xFF is free memory.
  const size_t recordSize = bytes.size();
  size_t offset = 0;
  while (offset + recordSize <= CalUsableBytes() && calMemory_[offset] != 0xFF)
    offset += recordSize;
  if (offset + recordSize > CalUsableBytes()) return false;
  std::copy(bytes.begin(), bytes.end(), calMemory_.begin() + static_cast<ptrdiff_t>(offset));
  return true;
}

std::optional<std::vector<uint8_t>> SimLogger::Table(int number) const {
  const auto it = tables_.find(number);
  if (it == tables_.end()) return std::nullopt;
  return it->second;
}

// ---------------------------------------------------------------------------------------------
// The line.

void SimLogger::HostOpened(int64_t nowMs) {
  Anchor(nowMs);
}

void SimLogger::HostClosed(int64_t nowMs) {
  (void)nowMs;
  in_.clear();
  mode_ = Mode::Command;
}

// ---------------------------------------------------------------------------------------------
// Real-time output.

bool SimLogger::RealtimeEngineering() const {
  const auto level = profile_.capabilities.find(20);
  const bool capable = level != profile_.capabilities.end() && level->second >= 1;
  // The start characteristic holds the mode byte, then the 24 start flags low byte first.
  return capable && (startCharacteristic_ >> 8 & 0x04u) != 0;
}

std::string SimLogger::RealtimeRecord(int64_t seconds, const std::vector<uint32_t>& raw,
                                      bool badChecksum) const {
  std::string r;
  if (RealtimeEngineering()) {
    const std::string t = StampText(seconds);
    char b[64];
    std::snprintf(b, sizeof b, "TIM %2d%2d%2d%2d%2d%2d", Two(t, 0), Two(t, 2), Two(t, 4), Two(t, 6),
                  Two(t, 8), Two(t, 10));
    r = b;
    const auto& channels = memory_.Configuration().channels;
    for (size_t ch = 0; ch < raw.size(); ++ch) {
      const double v = ch < channels.size() ? channels[ch].conversion.Value(raw[ch]) : 0.0;
      std::snprintf(b, sizeof b, " %.4f", v);
      r += b;
    }
    return r + " FET\r\n";
  }
  r.assign(3, '\0');
  r += "TIM";
  for (uint8_t v : BcdTime(seconds)) r += static_cast<char>(v);
  for (uint32_t w : raw) {
    r += static_cast<char>(w >> 16 & 0xFF);
    r += static_cast<char>(w >> 8 & 0xFF);
    r += static_cast<char>(w & 0xFF);
  }
  uint8_t sum = 0;
  for (size_t i = 3; i < r.size(); ++i)
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(r[i]));
  if (badChecksum) ++sum;
  r += static_cast<char>(sum);
  return r;
}

std::string SimLogger::RealtimeBurstRecord(uint16_t sequence, int64_t seconds, uint32_t first,
                                           uint32_t second, bool badChecksum) const {
  const char* tag = sequence == 0 ? "BST" : "SEQ";
  const auto& channels = memory_.Configuration().channels;
  const size_t count = channels.size();
  if (RealtimeEngineering()) {
    const auto& conversion =
        channels[static_cast<size_t>(memory_.Configuration().burstChannel)].conversion;
    const std::string t = StampText(seconds);
    char b[96];
    std::snprintf(b, sizeof b, "%s %2d%2d%2d%2d%2d%2d", tag, Two(t, 0), Two(t, 2), Two(t, 4),
                  Two(t, 6), Two(t, 8), Two(t, 10));
    std::string r = b;
    if (sequence != 0) {
      std::snprintf(b, sizeof b, " %04X", sequence);
      r += b;
    }
    std::snprintf(b, sizeof b, " %.4f %.4f FET\r\n", conversion.Value(first),
                  conversion.Value(second));
    return r + b;
  }
  std::string r(3, '\0');
  r += tag;
  if (sequence == 0) {
    for (uint8_t v : BcdTime(seconds)) r += static_cast<char>(v);
  } else {
    r += static_cast<char>(sequence >> 8);
    r += static_cast<char>(sequence & 0xFF);
    r.append(4, '\0');
  }
  for (uint32_t w : {first, second}) {
    r += static_cast<char>(w >> 16 & 0xFF);
    r += static_cast<char>(w >> 8 & 0xFF);
    r += static_cast<char>(w & 0xFF);
  }
  r.append(3 * std::max<size_t>(count, 2) - 6, '\0');  // the record keeps its real-time length
  uint8_t sum = 0;
  for (size_t i = 3; i < r.size(); ++i)
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(r[i]));
  if (badChecksum) ++sum;
  r += static_cast<char>(sum);
  return r;
}

void SimLogger::Poll(int64_t untilMs, klx::LineOutput& out) {
  LiveOutput(untilMs, out);
}

void SimLogger::EndLiveOutput() {
  liveNextRow_ = memory_.RowCount();
  liveBurst_ = memory_.BurstCount() + (burst_ ? 1 : 0);
  livePair_ = 0;
}

void SimLogger::LiveOutput(int64_t untilMs, klx::LineOutput& out) {
  if (!anchorMs_) return;  // nobody has reached the logger yet
  Advance(untilMs);
  const uint64_t rows = memory_.RowCount();
  const uint64_t bursts = memory_.BurstCount() + (burst_ ? 1 : 0);
  // Rows and bursts stored while the output was off are never sent; an erase starts the count
  // again.
  if (realtimeCode_ == 0 || liveNextRow_ > rows) liveNextRow_ = rows;
  if (realtimeCode_ == 0 || liveBurst_ > bursts) {
    liveBurst_ = bursts;
    livePair_ = 0;
  }
  // A host that leaves the line unread for long finds only the latest records (the rest would
  // have overflowed its input buffer).
  constexpr uint64_t kMaxBacklog = 4096;
  if (rows - liveNextRow_ > kMaxBacklog) liveNextRow_ = rows - kMaxBacklog;
  if (bursts - liveBurst_ > 1) {
    liveBurst_ = bursts - 1;
    livePair_ = 0;
  }
  const double msPerByte = paced_ ? 10000.0 / baud_ : 0.0;
  const int64_t clockMs = *anchorMs_ - clockAtAnchor_ * 1000;  // monotonic ms of 2000-01-01
  auto send = [&](const std::string& record, int64_t at) {
    at = std::max(at, liveLastMs_);
    liveLastMs_ = at;
    out.Send(record, at, msPerByte);
  };
  auto badNext = [&] {
    ++liveRecords_;
    return faults_.realtimeBadChecksum > 0 &&
           liveRecords_ % static_cast<uint64_t>(faults_.realtimeBadChecksum) == 0;
  };
  for (;;) {
    // The burst whose records are due next: stored, or under way.
    std::optional<SimMemory::BurstInfo> burst;
    if (liveBurst_ < memory_.BurstCount()) {
      burst = memory_.BurstAt(liveBurst_);
    } else if (burst_ && burst_->number == liveBurst_) {
      burst = burst_;
    }
    if (burst && 2 * livePair_ + 1 >= burst->count) {  // all its pairs are out
      ++liveBurst_;
      livePair_ = 0;
      continue;
    }
    int64_t pairAt = INT64_MAX;
    if (burst) pairAt = clockMs + burst->ms + std::llround(BurstSampleMs(2 * livePair_ + 1));
    std::optional<SimMemory::Row> row;
    int64_t rowAt = INT64_MAX;
    // Rows stored behind a burst wait for its last record.
    if (liveNextRow_ < rows && !(burst && liveNextRow_ >= burst->rowsBefore)) {
      row = memory_.RowAt(liveNextRow_);
      if (row) rowAt = clockMs + row->ms;
    }
    if (pairAt <= untilMs && pairAt <= rowAt) {
      const uint32_t k = 2 * livePair_;
      const SimBurstWave wave =
          memory_.BurstWave(burst->number, burst->ms, burst->count, burst->heightM);
      const int64_t seconds = (burst->ms + std::llround(BurstSampleMs(k))) / 1000;
      send(RealtimeBurstRecord(static_cast<uint16_t>(k), seconds,
                               memory_.BurstWord(wave, burst->number, k),
                               memory_.BurstWord(wave, burst->number, k + 1), badNext()),
           pairAt);
      ++livePair_;
      continue;
    }
    if (row && rowAt <= untilMs) {
      send(RealtimeRecord(row->ms / 1000, row->raw, badNext()), rowAt);
      ++liveNextRow_;
      continue;
    }
    break;
  }
}

void SimLogger::Reply(std::string bytes, int64_t nowMs, klx::LineOutput& out) {
  if (bytes.empty()) return;
  if (faults_.dropByte > 0 && bytes.size() > 1) {
    bytes.erase(bytes.size() / 2, 1);
    --faults_.dropByte;
  }
  const double msPerByte = paced_ ? 10000.0 / baud_ : 0.0;
  out.Send(bytes, nowMs + profile_.replyDelayMs, msPerByte);
}

void SimLogger::Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
                        klx::LineOutput& out) {
  Anchor(nowMs);
  LiveOutput(nowMs, out);  // records due before the command go out before its reply
  if (baud_ != defaultBaud_ && profile_.rateRevertMs > 0 &&
      nowMs - lastTrafficMs_ > profile_.rateRevertMs)
    baud_ = defaultBaud_;
  if (hostBaud != baud_) {  // noise at this rate
    in_.clear();
    mode_ = Mode::Command;
    return;
  }
  if (!silenceArmed_ && faults_.silentMs > 0) {
    silenceArmed_ = true;
    silentFromMs_ = nowMs + faults_.silentAfterMs;
    silentUntilMs_ = silentFromMs_ + faults_.silentMs;
  }
  if (nowMs >= silentFromMs_ && nowMs < silentUntilMs_) {
    in_.clear();
    mode_ = Mode::Command;
    return;
  }
  if (mode_ == Mode::Command && !in_.empty() && nowMs - lastByteMs_ > kPartialTimeoutMs)
    in_.clear();
  if (mode_ != Mode::Command && nowMs - lastByteMs_ > kTableTimeoutMs) mode_ = Mode::Command;
  lastByteMs_ = nowMs;
  lastTrafficMs_ = nowMs;
  unknownReplied_ = false;
  for (size_t i = 0; i < count; ++i) Feed(data[i], nowMs, out);
}

void SimLogger::Feed(uint8_t byte, int64_t nowMs, klx::LineOutput& out) {
  if (cards_.Take(byte, nowMs)) return;  // a meta table on its way to the generic card
  if (mode_ == Mode::TableSend) {
    if (byte == kAck) {
      SendNextChunk(nowMs, out);
      return;
    }
    mode_ = Mode::Command;  // the host gave up: this byte starts a command
  } else if (mode_ == Mode::TableReceive) {
    block_.push_back(byte);
    if (block_.size() >= blockLength_) {
      FinishTableWrite(nowMs, out);
    } else if (block_.size() % 16 == 0) {
      Reply(std::string(1, static_cast<char>(kAck)), nowMs, out);
    }
    return;
  }
  in_ += static_cast<char>(byte);
  while (!in_.empty() && mode_ == Mode::Command) {
    const auto c = static_cast<uint8_t>(in_[0]);
    if (c == kAck || c == kNak || c == '\r' || c == '\n' || c == ' ' || c == 0) {
      in_.erase(0, 1);
      continue;
    }
    const int length = CommandLength();
    if (length == 0 || (length > 0 && static_cast<size_t>(length) > in_.size()))
      return;  // more to come
    if (length < 0) {
      in_.erase(0, 1);
      log_.push_back(Printable(std::string(1, static_cast<char>(c))));
      if (!unknownReplied_) Unknown(nowMs, out);
      unknownReplied_ = true;
      continue;
    }
    const std::string cmd = in_.substr(0, static_cast<size_t>(length));
    in_.erase(0, static_cast<size_t>(length));
    Execute(cmd, nowMs, out);
  }
}

int SimLogger::CommandLength() const {
  if (const int n = SimCards::CommandLength(in_); n != kNotCardCommand) return n;
  const char c = in_[0];
  const bool single = profile_.IsSingleChannel();
  switch (c) {
    case 'A':
    case 'B':
    case 'C':
    case 'D':
    case 'E':
    case 'G':
    case 'T':
    case 'X':
    case 'P':
    case 'N':
    case 'Z':
      return 1;
    case 'F':
      return single ? 1 : 3;
    case 'J':
    case 'L':
    case 'M':
      return 13;
    case 'K':
      return 7;
    case 'W':
    case 'R':
      return 5;
    case 'S':
    case 'U':
    case 'V':
      return 7;
    case 'I':
      return 17;
    case 'Y':
      return single ? 33 : 1;
    case '!':
      break;
    default:
      return -1;
  }
  if (in_.size() < 2) return 0;
  switch (in_[1]) {
    case '0':
    case '4':
    case 'B':
    case 'E':
    case 'U':
      return 4;
    case '1':
      return 10;
    case '3':
      return 7;
    case '6':
    case 'G':
      return 12;
    case 'A':
    case 'Y':
      return 18;
    case 'H':
    case 'X':
      return 6;
    case 'K':
      return 8;
    case 'T':  // "!T" alone (before a pause) or "!T00"/"!T01"
      if (in_.size() >= 3 && in_[2] == '!') return 2;
      return 4;
    case 'C': {  // "!C" offset low, offset high, length, then the payload
      if (in_.size() < 8) return 0;
      std::vector<uint8_t> h;
      if (!HexBytes(in_, 2, 3, h)) return 8;
      return h[2] == 6 ? 20 : 8 + 2 * h[2];
    }
    default:
      return 2;
  }
}

void SimLogger::Execute(const std::string& cmd, int64_t nowMs, klx::LineOutput& out) {
  log_.push_back(Printable(cmd));
  if (faults_.silentCommands > 0) {
    --faults_.silentCommands;
    return;
  }
  for (const auto& prefix : faults_.silent)
    if (!prefix.empty() && cmd.rfind(prefix, 0) == 0) return;
  for (const auto& prefix : faults_.unknown) {
    if (!prefix.empty() && cmd.rfind(prefix, 0) == 0) {
      Unknown(nowMs, out);
      return;
    }
  }
  const auto reply = [&](std::string bytes, int64_t atMs) { Reply(std::move(bytes), atMs, out); };
  if (cards_.Execute(cmd, CurrentChannels(tables_, profile_), profile_.IsExtended(), nowMs, reply))
    return;
  bool known = false;
  if (cmd[0] == '!') {
    known = ExecuteBang(cmd, nowMs, out);
  } else {
    known = ExecuteQuery(cmd, nowMs, out) || ExecuteSetting(cmd, nowMs, out);
  }
  if (!known) Unknown(nowMs, out);
}

bool SimLogger::ExecuteQuery(const std::string& cmd, int64_t nowMs, klx::LineOutput& out) {
  const size_t channels = profile_.channels.size();
  switch (cmd[0]) {
    case 'A':
      Reply(IdentityReply(tables_, profile_), nowMs, out);
      return true;
    case 'B':
      Reply(ClockText(nowMs) + "CTD\r\n", nowMs, out);
      return true;
    case 'C':
      Reply(period_ + "CSP\r\n", nowMs, out);
      return true;
    case 'D':
      Reply(StampText(startSec_) + "CST\r\n", nowMs, out);
      return true;
    case 'E':
      Reply(StampText(endSec_) + "CET\r\n", nowMs, out);
      return true;
    case 'G': {
      const uint32_t p = DataPointer();
      Reply(Hex2(p) + Hex2(p >> 8) + Hex2(p >> 16) + Hex2(p >> 24) + "CDP\r\n", nowMs, out);
      return true;
    }
    case 'T':
      Reply(StatusText() + "\r\n", nowMs, out);
      return true;
    case 'X':
      Reply(Hex2(averaging_) + Hex2(averaging_ >> 8) + "BST\r\n", nowMs, out);
      return true;
    case 'Z': {
      if (!profile_.IsSingleChannel()) return false;
      if (records_.empty()) {
        Reply("CAL\r\n", nowMs, out);
        return true;
      }
      std::string r;
      for (double v : records_.front().coef[0]) PutDouble(r, v);
      Reply(r + "CAL\r\n", nowMs, out);
      return true;
    }
    case 'F': {
      // Live readings: the words the memory would hold for a row taken now.
      const int64_t clock = ClockSeconds(nowMs);
      ++fetchSequence_;
      auto reading = [&](size_t ch) {
        return memory_.RowWord(ch, clock * 1000, fetchSequence_) & 0xFFFFFFu;
      };
      if (cmd.size() == 1) {
        const uint32_t v = reading(0);
        Reply(Hex2(v >> 16) + Hex2(v >> 8) + Hex2(v) + "\r\n", nowMs, out);
        return true;
      }
      std::vector<uint8_t> n;
      if (!HexBytes(cmd, 1, 1, n)) return false;
      if (n[0] >= 1 && n[0] <= channels) {
        const uint32_t v = reading(n[0] - 1u);
        Reply(Hex2(v >> 16) + Hex2(v >> 8) + Hex2(v) + "\r\n", nowMs, out);
        return true;
      }
      // All channels: a record as the real-time output sends it (binary, or text ending in
      // "FET\r\n" when the output is in engineering units).
      std::vector<uint32_t> raw;
      for (size_t ch = 0; ch < channels; ++ch) raw.push_back(reading(ch));
      Reply(RealtimeRecord(clock, raw), nowMs, out);
      return true;
    }
    case 'P': {  // enable
      const int64_t clock = ClockSeconds(nowMs);
      if (startSec_ >= endSec_) {
        status_ = 0;
      } else {
        if (!memory_.Begun()) memory_.Begin(ParamBlock());
        subStatus_ = 0;
        const int mode = threshold_[0] & 0x3F;
        if (mode >= 4) {
          status_ = 3;
        } else if (clock < startSec_) {
          status_ = 1;
        } else {
          status_ = clock >= endSec_ ? 4 : 2;
          nextSampleSec_ = clock;
          burst_.reset();
          ScheduleBursts();
          if (status_ == 2) memory_.AddStamp("TIM", clock);
        }
      }
      Reply("Logger started in mode " + Hex2(static_cast<unsigned>(status_)) + "\r\n", nowMs, out);
      return true;
    }
    case 'N': {  // erase
      // Flash erases take time by the memory in use; the logger hears nothing meanwhile.
      const uint32_t empty = profile_.IsExtended() ? 0 : kDataBase;
      const uint32_t pointer = DataPointer();
      const int64_t used = pointer > empty ? pointer - empty : 0;
      const int64_t eraseMs = static_cast<int64_t>(profile_.eraseMsPer64k) * (used / 65536 + 1);
      memory_.Erase();
      burst_.reset();
      subStatus_ = 0;
      status_ = 0;
      if (faults_.eraseFails > 0) {
        --faults_.eraseFails;
        status_ = 0x7F;
      }
      Reply("Memory erased\r\n", nowMs, out);
      if (eraseMs > 0) SilenceUntil(nowMs + eraseMs);
      return true;
    }
    case 'R': {
      std::vector<uint8_t> h;
      if (!HexBytes(cmd, 1, 2, h)) return false;
      const auto it = tables_.find(h[0]);
      if (h[1] != 0 || it == tables_.end()) {
        StartTableRead(cmd, std::nullopt, nowMs, out);
      } else {
        StartTableRead(cmd, it->second, nowMs, out);
      }
      return true;
    }
    case 'V': {  // calibration records of extended loggers: record low, high, channel
      if (!profile_.IsExtended()) return false;
      std::vector<uint8_t> h;
      if (!HexBytes(cmd, 1, 3, h)) return false;
      const size_t record = h[0] + 256u * h[1], channel = h[2];
      if (record >= records_.size()) {
        if (record == 0 && channel == 0) {
          const std::string none = "NON000000000000";
          StartTableRead(cmd, std::vector<uint8_t>(none.begin(), none.end()), nowMs, out);
        } else {
          StartTableRead(cmd, std::nullopt, nowMs, out);
        }
        return true;
      }
      const CalRecord& r = records_[record];
      std::string data;
      if (channel == 0) {
        data = (r.complete ? "CAL" : "CMM") + r.date;
      } else if (channel <= r.coef.size()) {
        for (double v : r.coef[channel - 1]) PutDouble(data, v);
      } else {
        StartTableRead(cmd, std::nullopt, nowMs, out);
        return true;
      }
      StartTableRead(cmd, std::vector<uint8_t>(data.begin(), data.end()), nowMs, out);
      return true;
    }
    case 'I':
      MemoryRead(cmd, nowMs, out);
      return true;
    default:
      return false;
  }
}

bool SimLogger::ExecuteSetting(const std::string& cmd, int64_t nowMs, klx::LineOutput& out) {
  std::vector<uint8_t> h;
  switch (cmd[0]) {
    case 'J': {
      const int64_t s = StampSeconds(cmd, 1);
      if (s < 0) return false;
      Advance(nowMs);
      clockSets_.push_back({nowMs, cmd.substr(1), ClockText(nowMs)});
      anchorMs_ = nowMs;
      clockAtAnchor_ = s;
      return true;
    }
    case 'K':
      if (!ValidPeriod(cmd, 1)) return false;
      period_ = cmd.substr(1);
      return true;
    case 'L':
    case 'M': {
      const int64_t s = StampSeconds(cmd, 1);
      if (s < 0) return false;
      (cmd[0] == 'L' ? startSec_ : endSec_) = s;
      return true;
    }
    case 'W':
      if (!HexBytes(cmd, 1, 2, h)) return false;
      averaging_ = static_cast<uint16_t>(h[0] | h[1] << 8);
      return true;
    case 'S':
    case 'U': {
      if (!HexBytes(cmd, 1, 3, h)) return false;
      if (cmd[0] == 'U' && !profile_.IsExtended()) return false;
      if (cmd[0] == 'S' && h[1] != 0) return false;
      writeTarget_ = cmd.substr(0, 5);
      blockLength_ = h[2];
      block_.clear();
      Reply(std::string(1, static_cast<char>(kAck)), nowMs, out);
      if (blockLength_ > 0) mode_ = Mode::TableReceive;
      return true;
    }
    case 'Y': {  // older single-channel loggers: "Y" and c0..c3 as raw doubles
      if (!profile_.IsSingleChannel() || cmd.size() != 33) return false;
      if (faults_.ignoreY != 0) {  // heard, and nothing happens
        if (faults_.ignoreY > 0) --faults_.ignoreY;
        return true;
      }
      CalRecord r;
      r.date = ClockText(nowMs);
      std::vector<double> row;
      for (size_t i = 0; i < 4; ++i)
        row.push_back(GetDouble(reinterpret_cast<const uint8_t*>(cmd.data()) + 1 + 8 * i));
      r.coef.push_back(row);
      records_.insert(records_.begin(), r);
      AppendRecordToMemory(r);
      return true;
    }
    default:
      return false;
  }
}

bool SimLogger::ExecuteBang(const std::string& cmd, int64_t nowMs, klx::LineOutput& out) {
  std::vector<uint8_t> h;
  char b[64];
  auto hexOf = [](const std::vector<uint8_t>& bytes) {
    std::string s;
    for (uint8_t v : bytes) s += Hex2(v);
    return s;
  };
  switch (cmd[1]) {
    case '0': {
      if (!profile_.AnswersCapabilities() || !HexBytes(cmd, 2, 1, h)) return false;
      const auto it = profile_.capabilities.find(h[0]);
      const uint32_t v = it == profile_.capabilities.end() ? 0 : it->second;
      Reply(Hex2(v) + Hex2(v >> 8) + Hex2(v >> 16) + Hex2(v >> 24) + "CAP" + cmd.substr(2, 2) +
                "\r\n",
            nowMs, out);
      return true;
    }
    case '1':
      if (!HexBytes(cmd, 2, 4, h)) return false;
      startCharacteristic_ =
          static_cast<uint32_t>(h[0] | h[1] << 8 | h[2] << 16) | static_cast<uint32_t>(h[3]) << 24;
      return true;
    case '2': {
      const uint32_t v = startCharacteristic_;
      Reply(Hex2(v) + Hex2(v >> 8) + Hex2(v >> 16) + Hex2(v >> 24) + "STC\r\n", nowMs, out);
      return true;
    }
    case '4':
      if (!HexBytes(cmd, 2, 1, h)) return false;
      highRate_ = h[0];
      return true;
    case '5':
      Reply(Hex2(highRate_) + "RAT\r\n", nowMs, out);
      return true;
    case '6':
      if (!HexBytes(cmd, 2, 2, h) || !ValidPeriod(cmd, 6)) return false;
      burstLength_ = static_cast<uint16_t>(h[0] | h[1] << 8);
      burstInterval_ = cmd.substr(6, 6);
      return true;
    case '7':
      Reply(Hex2(burstLength_) + Hex2(burstLength_ >> 8) + burstInterval_ + "WAV\r\n", nowMs, out);
      return true;
    case 'Y':
      if (!HexBytes(cmd, 2, 8, h)) return false;
      height_ = h;
      return true;
    case 'Z':
      Reply(hexOf(height_) + "LHT\r\n", nowMs, out);
      return true;
    case 'A':
      if (!HexBytes(cmd, 2, 8, h)) return false;
      threshold_ = h;
      return true;
    case 'L':
      Reply(hexOf(threshold_) + "THR\r\n", nowMs, out);
      return true;
    case 'B':
      if (!HexBytes(cmd, 2, 1, h)) return false;
      realtimeCode_ = h[0];
      return true;
    case 'M':
      Reply(Hex2(realtimeCode_) + "BAU\r\n", nowMs, out);
      return true;
    case 'H':
      if (!HexBytes(cmd, 2, 2, h)) return false;
      hysteresis_ = static_cast<uint16_t>(h[0] | h[1] << 8);
      return true;
    case 'O':
      Reply(Hex2(hysteresis_) + Hex2(hysteresis_ >> 8) + "HYS\r\n", nowMs, out);
      return true;
    case 'K':
      if (!ValidPeriod(cmd, 2)) return false;
      powerSavePeriod_ = cmd.substr(2);
      return true;
    case 'P':
      Reply(Hex2(static_cast<unsigned>(Two(powerSavePeriod_, 0))) +
                Hex2(static_cast<unsigned>(Two(powerSavePeriod_, 2))) +
                Hex2(static_cast<unsigned>(Two(powerSavePeriod_, 4))) + "PSP\r\n",
            nowMs, out);
      return true;
    case 'U':
      return Digits(cmd, 2, 2);  // a prefix for the next command: accepted silently
    case 'W':
      Reply(profile_.minHostVersion + "WIN\r\n", nowMs, out);
      return true;
    case 'D':
      std::snprintf(b, sizeof b, firmware_ >= 2.2 - 1e-9 ? "%02dBAT\r\n" : "%02d\r\n",
                    profile_.battery);
      Reply(b, nowMs, out);
      return true;
    case 'T':
      if (cmd.size() == 2) return true;  // the bare "!T" that precedes the pause
      if (cmd == "!T01")
        led_ = !led_;
      else if (cmd != "!T00")
        return false;
      Reply(led_ ? "0102\r\n" : "0101\r\n", nowMs, out);
      return true;
    case 'E': {
      if (!HexBytes(cmd, 2, 1, h)) return false;
      int rate = 0;
      if (profile_.IsSingleChannel()) {
        if (h[0] > 1) return false;
        rate = h[0] == 0 ? 28800 : 57600;
      } else {
        rate = h[0] == 1 ? 115200 : 9216000 / (32 * (h[0] + 2));
      }
      Reply(cmd + "\r\n", nowMs, out);  // still at the old rate
      lastTrafficMs_ = nowMs;
      if (faults_.lostAfterSwitch != 0) {  // the switch does not take: never heard at `rate`
        if (faults_.lostAfterSwitch > 0) --faults_.lostAfterSwitch;
        return true;
      }
      baud_ = rate;
      return true;
    }
    case 'R': {
      Advance(nowMs);
      if (status_ == 5) {
        status_ = resumeStatus_;
        if (status_ == 2) {
          const int64_t clock = ClockSeconds(nowMs);
          if (nextSampleSec_ < clock)
            nextSampleSec_ +=
                (clock - nextSampleSec_ + PeriodSeconds() - 1) / PeriodSeconds() * PeriodSeconds();
          memory_.AddStamp("TIM", nextSampleSec_);  // the rows go on after the break
          ScheduleBursts();
        }
        Reply("Logger started in mode " + Hex2(static_cast<unsigned>(status_)) + "\r\n", nowMs,
              out);
      } else {
        Reply(StatusText() + "\r\n", nowMs, out);
      }
      return true;
    }
    case 'S':
      Advance(nowMs);
      if (status_ == 1 || status_ == 2 || status_ == 6) {
        if (status_ == 2) LogUntil(ClockMs(nowMs), true);  // a burst under way ends here
        resumeStatus_ = status_;
        status_ = 5;
      }
      EndLiveOutput();
      Reply(StatusText() + "\r\n", nowMs, out);
      return true;
    case '9':
      Advance(nowMs);
      if (status_ == 1 || status_ == 2 || status_ == 3 || status_ == 5 || status_ == 6) {
        const bool logged = status_ == 2 || status_ == 6 || (status_ == 5 && resumeStatus_ != 1);
        if (status_ == 2) LogUntil(ClockMs(nowMs), true);  // a burst under way ends here
        if (logged) memory_.AddStamp("STP", ClockSeconds(nowMs));
        status_ = 4;
        subStatus_ = profile_.IsExtended() ? 2 : 0;
      }
      EndLiveOutput();
      Reply(StatusText() + "\r\n", nowMs, out);
      return true;
    case 'C': {  // older multi-channel loggers: write into the calibration memory
      if (!profile_.IsMultiChannel() || profile_.IsExtended() || !HexBytes(cmd, 2, 3, h))
        return false;
      const size_t offset = h[0] + 256u * h[1], length = h[2];
      std::vector<uint8_t> bytes;
      if (length == 6) {
        if (!Digits(cmd, 8, 12)) return false;
        for (size_t i = 0; i < 6; ++i) bytes.push_back(Bcd(Two(cmd, 8 + 2 * i)));
      } else {
        if (!HexBytes(cmd, 8, length, bytes)) return false;
        if (length == 32) bytes.push_back(0);  // byte 32 of a channel block
      }
      // Past the usable end the logger keeps its calibration area for itself: nothing stored,
      // and a header is kept only when its whole record fits.
      const size_t needed = length == 6 ? CalRecordBytes() : bytes.size();
      if (offset + needed > CalUsableBytes()) return true;
      std::copy(bytes.begin(), bytes.end(), calMemory_.begin() + static_cast<ptrdiff_t>(offset));
      return true;
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Tables and memory reads.

void SimLogger::StartTableRead(const std::string& cmd, std::optional<std::vector<uint8_t>> data,
                               int64_t nowMs, klx::LineOutput& out) {
  if (!data || data->size() > 254) {
    Reply(cmd + "00", nowMs, out);
    return;
  }
  block_ = std::move(*data);
  uint8_t sum = 0;
  for (uint8_t v : block_) sum = static_cast<uint8_t>(sum + v);
  uint8_t check = static_cast<uint8_t>(0xA5 - sum);
  if (faults_.badCheck > 0) {
    --faults_.badCheck;
    check = static_cast<uint8_t>(check ^ 0x5A);
  }
  block_.push_back(check);
  blockPos_ = 0;
  Reply(cmd + Hex2(static_cast<unsigned>(block_.size())), nowMs, out);
  mode_ = Mode::TableSend;
}

void SimLogger::SendNextChunk(int64_t nowMs, klx::LineOutput& out) {
  const size_t n = std::min<size_t>(16, block_.size() - blockPos_);
  Reply(std::string(block_.begin() + static_cast<ptrdiff_t>(blockPos_),
                    block_.begin() + static_cast<ptrdiff_t>(blockPos_ + n)),
        nowMs, out);
  blockPos_ += n;
  if (blockPos_ >= block_.size()) mode_ = Mode::Command;
}

void SimLogger::FinishTableWrite(int64_t nowMs, klx::LineOutput& out) {
  mode_ = Mode::Command;
  uint8_t sum = 0;
  for (uint8_t v : block_) sum = static_cast<uint8_t>(sum + v);
  const std::string nak(1, static_cast<char>(kNak));
  if (faults_.nakWrites != 0) {
    if (faults_.nakWrites > 0) --faults_.nakWrites;
    Reply(nak, nowMs, out);
    return;
  }
  if (sum != 0xA5) {
    Reply(nak, nowMs, out);
    return;
  }
  std::vector<uint8_t> data(block_.begin(), block_.end() - 1);
  std::vector<uint8_t> h;
  HexBytes(writeTarget_, 1, 2, h);
  if (writeTarget_[0] == 'S') {
    if (h[0] == 3 && !data.empty()) {
      const int divisor = (data[0] + 2) & 0xFF;
      if (divisor > 0) defaultBaud_ = 288000 / divisor;
    }
    // The identity, capability and modem tables refuse a block of the wrong size (sim_cards.h).
    if (!AcceptScriptTable(h[0], data, profile_)) {
      Reply(nak, nowMs, out);
      return;
    }
    // Every table, the range-switching ones included, is kept as written: a read returns
    // the bytes the last write sent, whatever its length.
    if (h[0] == 6 && microsal_) data = microsal_->Store(std::move(data));
    tables_[h[0]] = std::move(data);
  } else {  // "U": calibration procedure of extended loggers
    FinishCalibrationWrite(h[0] + 256u * h[1], data, nowMs, out);
    return;
  }
  Reply(std::string(1, static_cast<char>(kAck)), nowMs, out);
}

void SimLogger::FinishCalibrationWrite(size_t channel, const std::vector<uint8_t>& data,
                                       int64_t nowMs, klx::LineOutput& out) {
  const std::string nak(1, static_cast<char>(kNak));
  auto refuse = [&](const char* code) { Reply(std::string("ERROR ") + code + nak, nowMs, out); };
  const size_t channels = profile_.channels.size();
  const bool one = data.size() == 1;
  if (channel == 0 && one && data[0] == 'A') {
    pendingCal_.clear();
    const auto config = tables_.find(1);
    const bool configured =
        config != tables_.end() && !config->second.empty() && config->second[0] != 0;
    if (faults_.calNoConfig != 0 || !configured) {
      if (faults_.calNoConfig > 0) --faults_.calNoConfig;
      refuse("F2");
      return;
    }
    if (faults_.calNoMemory != 0 || records_.size() >= calCapacity_) {
      if (faults_.calNoMemory > 0) --faults_.calNoMemory;
      refuse("F1");
      return;
    }
    // The new record starts from the current calibration.
    const CalRecord* current = nullptr;
    for (const auto& r : records_)
      if (r.complete) {
        current = &r;
        break;
      }
    for (size_t i = 0; i < channels; ++i)
      pendingCal_.push_back(current == nullptr || i >= current->coef.size()
                                ? DefaultCoefficients(profile_.channels[i].type, false, "", true)
                                : current->coef[i]);
  } else if (channel == 0 && one && data[0] == 'Z' && !pendingCal_.empty()) {
    records_.insert(records_.begin(), CalRecord{ClockText(nowMs), pendingCal_, true});
    pendingCal_.clear();
  } else if (channel >= 1 && channel <= channels && !pendingCal_.empty() && data.size() == 33) {
    for (size_t i = 0; i < 4; ++i) pendingCal_[channel - 1][i] = GetDouble(&data[8 * i]);
  } else {
    // Out of order, a channel the logger lacks, or a malformed block: the procedure is over.
    pendingCal_.clear();
    refuse("F0");
    return;
  }
  Reply(std::string(1, static_cast<char>(kAck)), nowMs, out);
}

void SimLogger::MemoryRead(const std::string& cmd, int64_t nowMs, klx::LineOutput& out) {
  std::vector<uint8_t> h;
  if (!HexBytes(cmd, 1, 8, h)) {
    Unknown(nowMs, out);
    return;
  }
  const uint32_t end =
      static_cast<uint32_t>(h[0] | h[1] << 8 | h[2] << 16) | static_cast<uint32_t>(h[3]) << 24;
  const uint32_t start =
      static_cast<uint32_t>(h[4] | h[5] << 8 | h[6] << 16) | static_cast<uint32_t>(h[7]) << 24;
  if (end <= start || end - start > kMaxMemoryRead) {
    Unknown(nowMs, out);
    return;
  }
  // Older single-channel loggers answer a read of their calibration memory with the byte at
  // the end address too: a 38-byte record read comes back as 39 bytes and the sum over them.
  const bool history = profile_.IsSingleChannel() && start >= kCalBase && start < kConfigBase;
  const uint32_t stop = history ? end + 1 : end;
  const auto config = ConfigBlock();
  std::string r;
  uint8_t sum = 0;
  for (uint32_t a = start; a < stop; ++a) {
    if (memory_.Map().IsGap(a)) continue;  // holds no data: not sent
    const uint8_t v = ByteAt(a, config);
    sum = static_cast<uint8_t>(sum + v);
    r += static_cast<char>(v);
  }
  // Faults drawn per read, the same for the same profile every run.
  const uint64_t read = memoryReads_++;
  const bool corrupt =
      faults_.badBlockRate > 0 && SimUnit(profile_.seed, read, 0xB10C) < faults_.badBlockRate;
  const bool drop = faults_.dropBlockRate > 0 && r.size() > 1 &&
                    SimUnit(profile_.seed, read, 0xD809) < faults_.dropBlockRate;
  // The earliest NA loggers (firmware below 1.5) send no checksum byte.
  const bool checksum = !(profile_.model.find("NA-") != std::string::npos && firmware_ < 1.5);
  if (checksum) {
    if (faults_.badCheck > 0 || corrupt) {
      if (!corrupt) --faults_.badCheck;
      sum = static_cast<uint8_t>(sum ^ 0x5A);
    }
    r += static_cast<char>(sum);
  }
  if (drop) r.erase(r.size() / 2, 1);
  Reply(r, nowMs, out);
}

void SimLogger::SetMicrosalCells(SimMicrosalCells cells, int64_t nowMs) {
  if (!microsal_) return;
  Advance(nowMs);  // rows due so far keep what they read
  microsal_->SetCells(cells, ClockMs(nowMs));
}

}  // namespace klx::sim
