#include "sim/sim_memory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/system_time.h"

namespace klx::sim {
namespace {

constexpr double kFullScale = 16777216.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kTideSeconds = 44712.0;  // the semi-diurnal lunar tide, 12 h 25 min
constexpr double kDaySeconds = 86400.0;
constexpr uint32_t kPageBytes = 0xFFFF;      // bytes kept per 64 KiB page
constexpr uint32_t kLastPageBytes = 0xF7FE;  // bytes kept in the last page of a region
constexpr uint32_t kLinearEnd = 0x7FE000;
constexpr uint32_t kStampBytes = 12;
constexpr double kGravity = 9.80665;
constexpr double kAtmosphereDbar = 10.1325;
constexpr double kDbarPerMetre = 1.0281 * 0.980665;  // sea water of density 1.0281
constexpr double kBurstNoise = 0.0005;               // sensor noise in a burst (dbar or m)

uint32_t FirstPage(uint32_t region) {
  return region == 0 ? 2 : 0;  // region 0 keeps its data from 0x20000
}

uint32_t RegionBytes(uint32_t region) {
  return (15 - FirstPage(region)) * kPageBytes + kLastPageBytes;
}

uint64_t Mix(uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Deterministic noise in [-1, 1].
double Noise(uint64_t seed, uint64_t a, uint64_t b) {
  const uint64_t h = Mix(seed ^ Mix(a * 0x100000001B3ull + b));
  return static_cast<double>(h >> 11) / static_cast<double>(1ull << 53) * 2.0 - 1.0;
}

bool IsGainChannel(char type) {
  return type == 'y' || type == 'f' || type == 'g' || type == 'z' || type == 'i';
}

struct Range {
  double lo, hi, noise;
};

Range RangeOf(char type, double depth) {
  switch (type) {
    case 'T':
      return {2.0, 25.0, 0.004};
    case 'P':
      return {10.13 + depth - 1.2, 10.13 + depth + 1.2, 0.002};
    case 'C':  // a standard conductivity channel reports in uS/cm
      return {30000.0, 55000.0, 0.004};
    case 'S':  // the "S" letter marks a channel in mS/cm
      return {30.0, 55.0, 0.004};
    case 'D':
      return {4.0, 9.0, 0.006};
    case 'N':
      return {70.0, 95.0, 0.006};
    case 'M':
    case 'V':
      return {0.5, 4.5, 0.004};
    case 'R':
      return {0.0, 1500.0, 0.004};
    case 'H':
      return {7.8, 8.3, 0.006};
    case 'A':
      return {0.0, 20.0, 0.004};
    case 'Y':
    case 'y':
      return {0.5, 400.0, 0.004};
    case 'F':
    case 'f':
    case 'G':
    case 'g':
    case 'Z':
    case 'z':
    case 'I':
    case 'i':
      return {0.1, 60.0, 0.004};
    default:
      return {0.0, 1.0, 0.006};
  }
}

}  // namespace

double SimUnit(uint64_t seed, uint64_t a, uint64_t b) {
  return 0.5 * (Noise(seed, a, b) + 1.0) * (1.0 - 1e-12);
}

// ---------------------------------------------------------------------------------------------
// Placement.

std::optional<uint32_t> AddressMap::OffsetOf(uint32_t address) const {
  if (linear_) {
    if (address >= kLinearEnd) return std::nullopt;
    return address;
  }
  if (address < Base() || IsGap(address)) return std::nullopt;
  const uint32_t region = address >> 20;
  if (region >= regions_) return std::nullopt;
  uint32_t offset = 0;
  for (uint32_t r = 0; r < region; ++r) offset += RegionBytes(r);
  const uint32_t page = (address >> 16) & 0xF;
  return offset + (page - FirstPage(region)) * kPageBytes + (address & 0xFFFF);
}

uint32_t AddressMap::AddressOf(uint32_t offset) const {
  if (linear_) return offset;
  uint32_t region = 0;
  while (region < regions_ && offset >= RegionBytes(region)) offset -= RegionBytes(region++);
  if (region >= regions_) return regions_ << 20;
  const uint32_t page = FirstPage(region) + offset / kPageBytes;
  return region << 20 | page << 16 | offset % kPageBytes;
}

bool AddressMap::IsGap(uint32_t address) const {
  if (linear_ || address < Base()) return false;
  return (address & 0xFFFF) == 0xFFFF || (address & 0xFFFFF) >= 0xFF7FE;
}

uint32_t AddressMap::Capacity() const {
  if (linear_) return kLinearEnd;
  uint32_t total = 0;
  for (uint32_t r = 0; r < regions_; ++r) total += RegionBytes(r);
  return total;
}

// ---------------------------------------------------------------------------------------------
// Conversions.

double SimConversion::AtFraction(double x) const {
  if (!thermistor) return c[0] + x * (c[1] + x * (c[2] + x * c[3]));
  if (x >= 1.0) return -273.15;
  if (x <= 0.0) return -1000.0;
  const double l = std::log(1.0 / x - 1.0);
  const double s = c[0] + l * (c[1] + l * (c[2] + l * c[3]));
  if (s == 0.0 || !std::isfinite(s)) return -1000.0;
  return 1.0 / s - 273.15;
}

double SimConversion::Value(uint32_t raw) const {
  return AtFraction(static_cast<double>(raw) / kFullScale);
}

double SimMemory::InverseFraction(const SimConversion& conversion, double value, double lo,
                                  double hi) {
  double flo = conversion.AtFraction(lo), fhi = conversion.AtFraction(hi);
  const bool rising = fhi > flo;
  if (rising ? value <= flo : value >= flo) return lo;
  if (rising ? value >= fhi : value <= fhi) return hi;
  for (int i = 0; i < 44; ++i) {
    const double mid = 0.5 * (lo + hi);
    const double f = conversion.AtFraction(mid);
    if ((f < value) == rising) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return 0.5 * (lo + hi);
}

// ---------------------------------------------------------------------------------------------
// The memory.

SimMemory::SimMemory(Setup setup) : setup_(std::move(setup)), map_(setup_.linear, setup_.regions) {
  if (setup_.channels.empty()) setup_.channels.push_back({});
  setup_.burstChannel =
      std::clamp(setup_.burstChannel, 0, static_cast<int>(setup_.channels.size()) - 1);
  if (!(setup_.waveRateHz > 0) || setup_.waveRateHz > 100) setup_.waveRateHz = 4;
  if (!std::isfinite(setup_.wavePeriodS) || setup_.wavePeriodS < 0) setup_.wavePeriodS = 0;
  if (!std::isfinite(setup_.waveAmplitudeM) || setup_.waveAmplitudeM < 0) setup_.waveAmplitudeM = 0;
  if (!std::isfinite(setup_.depth)) setup_.depth = 10;
  for (const auto& ch : setup_.channels) {
    Signal s;
    const Range r = RangeOf(ch.type, setup_.depth);
    s.lo = r.lo;
    s.hi = r.hi;
    // The range is used as it stands when the conversion reaches it monotonically inside the
    // usable fractions; otherwise the signal is spread over what the conversion does reach.
    bool monotonic = true;
    double fmin = std::numeric_limits<double>::infinity(), fmax = -fmin, previous = 0;
    int direction = 0;
    for (int i = 0; i <= 256 && monotonic; ++i) {
      const double f = ch.conversion.AtFraction(0.002 + (0.87 - 0.002) * i / 256.0);
      if (!std::isfinite(f) || f <= -999.0) {
        monotonic = false;
        break;
      }
      if (i > 0) {
        const int d = f > previous ? 1 : f < previous ? -1 : 0;
        if (d == 0 || (direction != 0 && d != direction)) monotonic = false;
        direction = d;
      }
      previous = f;
      fmin = std::min(fmin, f);
      fmax = std::max(fmax, f);
    }
    s.physical = monotonic && s.lo >= fmin && s.hi <= fmax;
    if (!s.physical && monotonic) {
      s.fa = ch.conversion.AtFraction(0.1);
      s.fb = ch.conversion.AtFraction(0.7);
    } else if (!monotonic) {
      s.fa = s.fb = std::numeric_limits<double>::quiet_NaN();
    }
    signals_.push_back(s);
  }
}

void SimMemory::Erase() {
  begun_ = false;
  header_.clear();
  items_.clear();
  cache_.clear();
  used_ = 0;
  rows_ = 0;
  bursts_ = 0;
}

void SimMemory::Begin(std::vector<uint8_t> header) {
  if (begun_) return;
  Erase();
  begun_ = true;
  header_ = std::move(header);
  used_ = static_cast<uint32_t>(header_.size());
}

bool SimMemory::AddStamp(std::string_view code, int64_t seconds) {
  if (!begun_ || setup_.ascii || code.size() != 3 || Full(kStampBytes)) return false;
  Item item;
  item.kind = Kind::Stamp;
  item.ms = seconds * 1000;
  std::copy(code.begin(), code.end(), item.code.begin());
  item.bytes = kStampBytes;
  item.offset = used_;
  items_.push_back(item);
  used_ += item.bytes;
  return true;
}

uint64_t SimMemory::AddRows(int64_t firstMs, int64_t periodMs, uint64_t count) {
  const uint32_t rowBytes = static_cast<uint32_t>(3 * setup_.channels.size());
  if (!begun_ || count == 0) return 0;
  if (setup_.ascii) {
    // Lines differ in length: each piece takes the lines that still fit.
    constexpr uint64_t kLines = 256;
    uint64_t done = 0;
    while (done < count) {
      Item item;
      item.kind = Kind::Rows;
      item.periodMs = std::max<int64_t>(periodMs, 0);
      item.ms = firstMs + (item.periodMs > 0 ? static_cast<int64_t>(done) * item.periodMs
                                             : static_cast<int64_t>(done / 6) * 1000);
      item.first = rows_;
      item.offset = used_;
      while (item.count < kLines && done + item.count < count) {
        const auto length =
            static_cast<uint32_t>(RowText(RowMs(item, item.count), rows_ + item.count).size());
        if (Full(item.bytes + length)) break;
        item.bytes += length;
        ++item.count;
      }
      if (item.count == 0) break;  // memory full
      items_.push_back(item);
      used_ += item.bytes;
      rows_ += item.count;
      done += item.count;
    }
    return done;
  }
  const uint64_t fit = (map_.Capacity() - std::min(map_.Capacity(), used_)) / rowBytes;
  const uint64_t n = std::min(count, fit);
  // Pieces of at most 4092 rows (whole seconds under 6 Hz), so that a read produces only the
  // piece it falls into.
  constexpr uint64_t kPiece = 4092;
  for (uint64_t done = 0; done < n;) {
    Item item;
    item.kind = Kind::Rows;
    item.periodMs = std::max<int64_t>(periodMs, 0);
    item.ms = firstMs + (item.periodMs > 0 ? static_cast<int64_t>(done) * item.periodMs
                                           : static_cast<int64_t>(done / 6) * 1000);
    item.count = std::min(kPiece, n - done);
    item.first = rows_;
    item.bytes = static_cast<uint32_t>(item.count * rowBytes);
    item.offset = used_;
    items_.push_back(item);
    used_ += item.bytes;
    rows_ += item.count;
    done += item.count;
  }
  return n;
}

bool SimMemory::AddBurst(int64_t seconds, uint32_t count, double heightM) {
  const uint64_t bytes = kStampBytes + 3ull * count;
  if (!begun_ || setup_.ascii || bytes > map_.Capacity() || Full(static_cast<uint32_t>(bytes)))
    return false;
  Item item;
  item.kind = Kind::Burst;
  item.ms = seconds * 1000;
  item.count = count;
  item.first = bursts_++;
  item.code = {'B', 'S', 'T'};
  item.heightM = std::isfinite(heightM) && heightM > 0 ? heightM : 0.0;
  item.rowsBefore = rows_;
  item.bytes = static_cast<uint32_t>(bytes);
  item.offset = used_;
  items_.push_back(item);
  used_ += item.bytes;
  return true;
}

std::optional<SimMemory::BurstInfo> SimMemory::BurstAt(uint64_t number) const {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    if (it->kind != Kind::Burst) continue;
    if (it->first < number) return std::nullopt;  // bursts are in order
    if (it->first == number)
      return BurstInfo{it->first, it->ms, static_cast<uint32_t>(it->count), it->heightM,
                       it->rowsBefore};
  }
  return std::nullopt;
}

int64_t SimMemory::RowMs(const Item& item, uint64_t i) {
  const auto n = static_cast<int64_t>(i);
  if (item.periodMs > 0) return item.ms + n * item.periodMs;
  return item.ms + n / 6 * 1000 + n % 6 * 167;
}

double SimMemory::Shape(size_t ch, double s, uint64_t row) const {
  const char type = setup_.channels[ch].type;
  const double phase = static_cast<double>(Mix(setup_.seed + ch) % 6283) / 1000.0;
  const double day = std::sin(2 * kPi * s / kDaySeconds + phase);
  const double tide = std::sin(2 * kPi * s / kTideSeconds + phase);
  (void)row;
  switch (type) {
    case 'T':
      return 0.5 + 0.3 * day + 0.12 * tide;
    case 'P':
      return 0.5 + 0.4 * tide;
    case 'C':
    case 'S': {
      // Sea water follows its temperature: conductivity of a salinity near 35 at the row's
      // temperature (C(35, T) is about 29.0 + 0.86 T + 0.0042 T² mS/cm), so that salinities
      // computed from the two channels look like the sea's.
      for (size_t t = 0; t < setup_.channels.size(); ++t) {
        if (setup_.channels[t].type != 'T') continue;
        const Range tr = RangeOf('T', setup_.depth);
        const double celsius = tr.lo + Shape(t, s, row) * (tr.hi - tr.lo);
        const double salinityFactor = 1.0 + 0.01 * tide;  // +-1 PSU or so with the tide
        const double mS = (29.0 + 0.86 * celsius + 0.0042 * celsius * celsius) * salinityFactor;
        const Range cr = RangeOf(type, setup_.depth);
        const double value = type == 'C' ? mS * 1000.0 : mS;
        return std::clamp((value - cr.lo) / (cr.hi - cr.lo), 0.0, 1.0);
      }
      return 0.5 + 0.3 * tide + 0.12 * day;
    }
    case 'R':
      return std::max(0.0, day) * 0.95 + 0.01;
    case 'Y':
    case 'y':
    case 'F':
    case 'f':
    case 'G':
    case 'g':
    case 'Z':
    case 'z':
    case 'I':
    case 'i': {
      // A low background with a bloom (or a turbid spell) every few days.
      const double spell =
          std::pow(std::max(0.0, std::sin(2 * kPi * s / (2.7 * kDaySeconds) + phase)), 6.0);
      return 0.02 + 0.03 * (0.5 + 0.5 * day) + 0.9 * spell;
    }
    default:
      return 0.5 + 0.25 * day + 0.1 * tide;
  }
}

uint32_t SimMemory::Encode(size_t ch, double u, int* gain) const {
  const Signal& sig = signals_[ch];
  const SimConversion& conv = setup_.channels[ch].conversion;
  u = std::clamp(u, 0.0, 1.0);
  double x = 0;
  if (sig.physical) {
    x = InverseFraction(conv, sig.lo + (sig.hi - sig.lo) * u);
  } else if (std::isfinite(sig.fa)) {
    x = InverseFraction(conv, sig.fa + (sig.fb - sig.fa) * u);
  } else {
    x = 0.1 + 0.6 * u;
  }
  auto raw = static_cast<uint32_t>(std::lround(std::clamp(x, 0.0, 1.0) * kFullScale));
  raw = std::clamp<uint32_t>(raw, 8, 0xDF0000);
  if (gain && *gain >= 0) return (raw & ~7u) | static_cast<uint32_t>(*gain) << 1;
  return raw & ~1u;  // bit 0 set would mean a reading outside the normal range
}

uint32_t SimMemory::RowWord(size_t ch, int64_t timeMs, uint64_t row, int* gain) const {
  if (ch >= setup_.channels.size()) return 0;
  if (setup_.rowModel) {
    if (const auto word = setup_.rowModel->Word(ch, timeMs, row)) {
      if (gain) *gain = -1;
      return *word;
    }
  }
  const double s = static_cast<double>(timeMs) / 1000.0;
  const double smooth = Shape(ch, s, row);
  const Range r = RangeOf(setup_.channels[ch].type, setup_.depth);
  const double u = smooth + r.noise * Noise(setup_.seed, row, ch);
  int code = -1;
  if (IsGainChannel(setup_.channels[ch].type)) {
    // The logger picks the most sensitive range that holds the reading.
    code = smooth < 0.06 ? 3 : smooth < 0.3 ? 2 : smooth < 0.75 ? 1 : 0;
  }
  if (gain) *gain = code;
  return Encode(ch, u, &code);
}

std::string SimMemory::RowText(int64_t timeMs, uint64_t row) const {
  int y = 0;
  unsigned mo = 0, d = 0;
  const int64_t seconds = std::max<int64_t>(0, timeMs / 1000);
  CivilFromDays(seconds / 86400 + DaysFromCivil(2000, 1, 1), y, mo, d);
  const int64_t r = seconds % 86400;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d/%02u/%02u %02d:%02d:%02d", y, mo, d,
                static_cast<int>(r / 3600), static_cast<int>(r / 60 % 60),
                static_cast<int>(r % 60));
  std::string line = buffer;
  for (size_t ch = 0; ch < setup_.channels.size(); ++ch) {
    std::snprintf(buffer, sizeof buffer, " %.4f",
                  setup_.channels[ch].conversion.Value(RowWord(ch, timeMs, row)));
    line += buffer;
  }
  return line + "\r\n";
}

uint32_t SimMemory::EncodeValue(size_t ch, double value) const {
  const Signal& sig = signals_[ch];
  int fixed = -1;
  if (!sig.physical) return Encode(ch, (value - sig.lo) / (sig.hi - sig.lo), &fixed);
  const double x = InverseFraction(setup_.channels[ch].conversion, value);
  auto raw = static_cast<uint32_t>(std::lround(std::clamp(x, 0.0, 1.0) * kFullScale));
  return std::clamp<uint32_t>(raw, 8, 0xDF0000) & ~1u;
}

double SimMemory::BurstLevel(double seconds) const {
  const auto ch = static_cast<size_t>(setup_.burstChannel);
  return signals_[ch].lo + (signals_[ch].hi - signals_[ch].lo) * Shape(ch, seconds, 0);
}

double SimBurstWave::SignificantHeightM() const {
  return 4.0 * std::sqrt(amplitudeM * amplitudeM / 2.0);
}

double SimWaveNumber(double depthM, double periodS) {
  if (!(depthM > 0) || !(periodS > 0) || !std::isfinite(depthM) || !std::isfinite(periodS))
    return 0.0;
  const double w2 = std::pow(2 * kPi / periodS, 2);
  // g k tanh(k h) rises with k. The deep- and shallow-water wave numbers both lie below the
  // root, and tanh(k h) >= tanh(lo h) above it bounds the root from above; halve the bracket.
  double lo = std::max(w2 / kGravity, std::sqrt(w2 / (kGravity * depthM)));
  double hi = w2 / (kGravity * std::tanh(lo * depthM));
  for (int i = 0; i < 200 && hi - lo > 1e-15 * hi; ++i) {
    const double mid = 0.5 * (lo + hi);
    (kGravity * mid * std::tanh(mid * depthM) < w2 ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

SimBurstWave SimMemory::BurstWave(uint64_t burst, int64_t startMs, uint32_t count,
                                  double heightM) const {
  SimBurstWave w;
  w.seconds = startMs / 1000;
  w.samples = count;
  w.rateHz = setup_.waveRateHz;
  w.loggerHeightM = std::isfinite(heightM) && heightM > 0 ? heightM : 0.0;
  w.periodS = setup_.wavePeriodS;
  w.phase = 2 * kPi * SimUnit(setup_.seed, burst, 0x9F1A);
  const double middle =
      static_cast<double>(startMs) / 1000.0 + static_cast<double>(count / 2) / w.rateHz;
  w.meanPressure = BurstLevel(middle);
  const bool depthChannel = setup_.channels[static_cast<size_t>(setup_.burstChannel)].type == 'A';
  const double perMetre = depthChannel ? 1.0 : kDbarPerMetre;
  w.meanDepthM = depthChannel ? w.meanPressure : (w.meanPressure - kAtmosphereDbar) / perMetre;
  w.waterDepthM = w.meanDepthM + w.loggerHeightM;
  w.dry = !(w.meanDepthM > 0);
  if (!w.dry && w.periodS > 0) {
    w.amplitudeM = setup_.waveAmplitudeM * (0.8 + 0.4 * SimUnit(setup_.seed, burst, 0xA3F1));
    const double k = SimWaveNumber(w.waterDepthM, w.periodS);
    // cosh(k zb) / cosh(k h), written to stay finite in deep water.
    const double attenuation = std::exp(-k * w.meanDepthM) *
                               (1 + std::exp(-2 * k * w.loggerHeightM)) /
                               (1 + std::exp(-2 * k * w.waterDepthM));
    w.sensorAmplitude = w.amplitudeM * attenuation * perMetre;
  }
  return w;
}

uint32_t SimMemory::BurstWord(const SimBurstWave& wave, uint64_t burst, uint32_t k) const {
  const double t = static_cast<double>(k) / wave.rateHz;
  double value = BurstLevel(static_cast<double>(wave.seconds) + t);
  if (wave.periodS > 0)
    value += wave.sensorAmplitude * std::sin(2 * kPi * t / wave.periodS + wave.phase);
  value += kBurstNoise * Noise(setup_.seed, burst * 1000003ull + k, 99);
  return EncodeValue(static_cast<size_t>(setup_.burstChannel), value);
}

std::array<uint8_t, 6> BcdTime(int64_t seconds) {
  seconds = std::max<int64_t>(0, seconds);
  int y = 0;
  unsigned mo = 0, d = 0;
  CivilFromDays(seconds / 86400 + DaysFromCivil(2000, 1, 1), y, mo, d);
  const int64_t r = seconds % 86400;
  const int v[6] = {
      (y - 2000) % 100,           static_cast<int>(mo),          static_cast<int>(d),
      static_cast<int>(r / 3600), static_cast<int>(r / 60 % 60), static_cast<int>(r % 60)};
  std::array<uint8_t, 6> out{};
  for (size_t i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(v[i] / 10 * 16 + v[i] % 10);
  return out;
}

std::vector<uint8_t> SimMemory::Emit(const Item& item) const {
  std::vector<uint8_t> out;
  out.reserve(item.bytes);
  auto word = [&](uint32_t w) {
    out.push_back(static_cast<uint8_t>(w >> 16));
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w));
  };
  auto stamp = [&](const std::array<char, 3>& code, int64_t ms) {
    word(0);
    for (char c : code) out.push_back(static_cast<uint8_t>(c));
    for (uint8_t b : BcdTime(ms / 1000)) out.push_back(b);
  };
  switch (item.kind) {
    case Kind::Stamp:
      stamp(item.code, item.ms);
      break;
    case Kind::Rows:
      for (uint64_t i = 0; i < item.count; ++i) {
        const int64_t t = RowMs(item, i);
        if (setup_.ascii) {
          const std::string line = RowText(t, item.first + i);
          out.insert(out.end(), line.begin(), line.end());
          continue;
        }
        for (size_t ch = 0; ch < setup_.channels.size(); ++ch) word(RowWord(ch, t, item.first + i));
      }
      break;
    case Kind::Burst: {
      stamp(item.code, item.ms);
      const auto count = static_cast<uint32_t>(item.count);
      const SimBurstWave wave = BurstWave(item.first, item.ms, count, item.heightM);
      for (uint32_t k = 0; k < count; ++k) word(BurstWord(wave, item.first, k));
      break;
    }
  }
  return out;
}

const std::vector<uint8_t>& SimMemory::Bytes(size_t item) const {
  auto it = cache_.find(item);
  if (it == cache_.end()) it = cache_.emplace(item, Emit(items_[item])).first;
  return it->second;
}

uint8_t SimMemory::ByteAt(uint32_t address) const {
  const auto offset = map_.OffsetOf(address);
  if (!offset || *offset >= used_) return 0xFF;
  if (*offset < header_.size()) return header_[*offset];
  const auto it = std::upper_bound(items_.begin(), items_.end(), *offset,
                                   [](uint32_t o, const Item& item) { return o < item.offset; });
  const auto index = static_cast<size_t>(it - items_.begin()) - 1;
  const auto& bytes = Bytes(index);
  const uint32_t within = *offset - items_[index].offset;
  return within < bytes.size() ? bytes[within] : 0xFF;
}

std::optional<SimMemory::Row> SimMemory::RowAt(uint64_t row) const {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    if (it->kind != Kind::Rows) continue;
    if (row >= it->first + it->count) return std::nullopt;  // pieces are in row order
    if (row < it->first) continue;
    Row out;
    out.ms = RowMs(*it, row - it->first);
    for (size_t ch = 0; ch < setup_.channels.size(); ++ch)
      out.raw.push_back(RowWord(ch, out.ms, row));
    return out;
  }
  return std::nullopt;
}

SimExpected SimMemory::Expected() const {
  SimExpected e;
  const size_t n = setup_.channels.size();
  for (const auto& ch : setup_.channels) e.types.push_back(ch.type);
  e.raw.resize(n);
  e.values.resize(n);
  e.gains.resize(n);
  std::vector<int> previous(n, -1);
  for (const auto& item : items_) {
    switch (item.kind) {
      case Kind::Stamp:
        e.stamps.push_back(
            {e.rowMs.size(), std::string(item.code.begin(), item.code.end()), item.ms / 1000});
        break;
      case Kind::Rows:
        for (uint64_t i = 0; i < item.count; ++i) {
          const int64_t t = RowMs(item, i);
          const size_t row = e.rowMs.size();
          e.rowMs.push_back(t);
          SimGainChange change;
          change.row = row;
          for (size_t ch = 0; ch < n; ++ch) {
            int gain = -1;
            const uint32_t w = RowWord(ch, t, item.first + i, &gain);
            e.raw[ch].push_back(w);
            e.values[ch].push_back(setup_.channels[ch].conversion.Value(w));
            e.gains[ch].push_back(gain);
            change.gains.push_back(gain);
            if (gain >= 0 && (row == 0 || gain != previous[ch]) && ch < 32)
              change.changed |= 1u << ch;
            previous[ch] = gain;
          }
          if (change.changed != 0) e.gainChanges.push_back(std::move(change));
          if (setup_.ascii) e.text += RowText(t, item.first + i);
        }
        break;
      case Kind::Burst: {
        e.stamps.push_back({e.rowMs.size(), "BST", item.ms / 1000});
        e.burstSeconds.push_back(item.ms / 1000);
        std::vector<double> values;
        const auto& conv = setup_.channels[static_cast<size_t>(setup_.burstChannel)].conversion;
        const auto count = static_cast<uint32_t>(item.count);
        const SimBurstWave wave = BurstWave(item.first, item.ms, count, item.heightM);
        for (uint32_t k = 0; k < count; ++k)
          values.push_back(conv.Value(BurstWord(wave, item.first, k)));
        e.bursts.push_back(std::move(values));
        e.waves.push_back(wave);
        break;
      }
    }
  }
  return e;
}

}  // namespace klx::sim
