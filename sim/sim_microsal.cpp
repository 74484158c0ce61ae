#include "sim/sim_microsal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <locale>
#include <sstream>

namespace klx::sim {
namespace {

constexpr double kFullScale = 16777216.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kGainStandard = 0.38;  // the standard cell's reading per unit ratio

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool Number(std::string_view text, double& out) {
  std::istringstream in{std::string(Trim(text))};
  in.imbue(std::locale::classic());
  double v = 0;
  in >> v;
  if (in.fail() || !in.eof() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

double Signed(uint64_t seed, uint64_t row, uint64_t which) {
  return 2.0 * SimUnit(seed, row, which) - 1.0;
}

uint32_t ToWord(double x) {
  const auto raw = static_cast<uint32_t>(std::lround(std::clamp(x, 0.0, 1.0) * kFullScale));
  return std::clamp<uint32_t>(raw, 8, 0xDF0000) & ~1u;  // bit 0 would flag a reading out of range
}

void PutDouble(std::vector<uint8_t>& out, double v) {
  uint8_t b[8];
  std::memcpy(b, &v, 8);  // little-endian like the logger
  out.insert(out.end(), b, b + 8);
}

}  // namespace

bool ApplyMicrosalSetting(std::string_view key, std::string_view value, SimMicrosalSettings& s,
                          std::string& error) {
  const std::string_view v = Trim(value);
  auto bad = [&](std::string_view what) {
    error = "bad value for \"" + std::string(key) + "\": \"" + std::string(v) + "\" (" +
            std::string(what) + ")";
    return false;
  };
  double d = 0;
  if (key == "microsal.rt") {
    if (!Number(v, d) || d < 0 || d > 2) return bad("a ratio from 0 to 2");
    s.rt = d;
  } else if (key == "microsal.k15") {
    if (!Number(v, d) || d < 0.5 || d > 1.5) return bad("a ratio from 0.5 to 1.5");
    s.k15 = d;
  } else if (key == "microsal.batch") {
    if (v.size() > 8) return bad("up to 8 characters");
    s.batch = v;
  } else if (key == "microsal.bath") {
    if (!Number(v, d) || d < -2 || d > 40) return bad("degrees C from -2 to 40");
    s.bathC = d;
  } else if (key == "microsal.noise") {
    if (!Number(v, d) || d < 0 || d > 0.01) return bad("0 to 0.01");
    s.noise = d;
  } else if (key == "microsal.cells") {
    const auto cells = SimMicrosalCellsNamed(v);
    if (!cells) return bad("sample, standard or zero");
    s.cells = *cells;
  } else if (key == "microsal.standardized") {
    if (v == "yes") {
      s.standardized = true;
    } else if (v == "no") {
      s.standardized = false;
    } else {
      return bad("yes or no");
    }
  } else if (key == "fault.microsal_mangle") {
    if (!Number(v, d) || d < -1 || d > 1e6 || d != std::floor(d)) return bad("a count or -1");
    s.mangleWrites = static_cast<int>(d);
  }
  return true;
}

std::optional<SimMicrosalCells> SimMicrosalCellsNamed(std::string_view name) {
  name = Trim(name);
  if (name == "sample") return SimMicrosalCells::Sample;
  if (name == "standard") return SimMicrosalCells::Standard;
  if (name == "zero") return SimMicrosalCells::Zero;
  return std::nullopt;
}

double SimSeawaterRatioAt(double celsius) {
  const double t = 1.00024 * celsius;  // IPTS-68, as the PSS-78 coefficients want
  return 0.6766097 + t * (2.00564e-2 + t * (1.104259e-4 + t * (-6.9698e-7 + t * 1.0031e-9)));
}

std::shared_ptr<SimMicrosal> SimMicrosal::For(
    std::string_view model, std::string_view channels,
    const std::vector<std::array<double, 4>>& coefficients, const SimMicrosalSettings& settings,
    uint64_t seed) {
  if (model.find("HL-240") == std::string_view::npos || channels.size() < 3 ||
      channels.substr(0, 3) != "CTC" || coefficients.size() < 3)
    return nullptr;
  std::shared_ptr<SimMicrosal> m(new SimMicrosal());
  m->settings_ = settings;
  m->seed_ = seed;
  m->temperature_.thermistor = true;
  m->temperature_.c = coefficients[1];
  auto usable = [](double v) { return std::isfinite(v) && v != 0.0; };
  const auto& sample = coefficients[0];
  const auto& standard = coefficients[2];
  const double alpha = usable(sample[1]) ? sample[1] : 1.0;
  const double unit = usable(standard[1]) ? standard[1] : 1.0;
  m->zeroSample_ = std::isfinite(sample[0]) ? -sample[0] / alpha : 0.0;
  m->zeroStandard_ = std::isfinite(standard[0]) ? -standard[0] / unit : 0.0;
  m->gainStandard_ = kGainStandard;
  // The sample cell's gain that makes the logger's own coefficients give Rt = K15 on Standard
  // Seawater: alpha * gainSample = unit * gainStandard * K15.
  m->gainSample_ = unit * kGainStandard * settings.k15 / alpha;
  m->changes_.push_back({INT64_MIN, settings.cells});
  return m;
}

double SimMicrosal::BathAt(int64_t timeMs, uint64_t row) const {
  const double s = static_cast<double>(timeMs) / 1000.0;
  return settings_.bathC + 0.05 * std::sin(2 * kPi * s / 1800.0) +
         0.0005 * Signed(seed_, row, 0x7E);
}

SimMicrosalCells SimMicrosal::CellsAt(int64_t timeMs) const {
  SimMicrosalCells cells = changes_.front().second;
  for (const auto& [from, state] : changes_) {
    if (from > timeMs) break;
    cells = state;
  }
  return cells;
}

void SimMicrosal::SetCells(SimMicrosalCells cells, int64_t clockMs) {
  const int64_t second = clockMs >= 0 ? clockMs / 1000 : -((999 - clockMs) / 1000);
  const int64_t from = std::max((second + 1) * 1000, changes_.back().first);
  changes_.push_back({from, cells});
}

double SimMicrosal::Fraction(size_t ch, int64_t timeMs, uint64_t row) const {
  const bool sample = ch == 0;
  const double zero = sample ? zeroSample_ : zeroStandard_;
  const double n = Signed(seed_, row, sample ? 0x5A : 0x5D);
  const SimMicrosalCells cells = CellsAt(timeMs);
  if (cells == SimMicrosalCells::Zero) return zero + 1e-6 * n;  // both cells read their offsets
  // The standard cell holds Standard Seawater; the sample cell the sample or the same water.
  const double held = !sample || cells == SimMicrosalCells::Standard ? settings_.k15 : settings_.rt;
  const double gain = sample ? gainSample_ : gainStandard_;
  const double noise = sample ? settings_.noise : 0.5 * settings_.noise;
  return zero + gain * held * SimSeawaterRatioAt(BathAt(timeMs, row)) * (1.0 + noise * n);
}

std::optional<uint32_t> SimMicrosal::Word(size_t ch, int64_t timeMs, uint64_t row) const {
  if (ch == 1) return ToWord(SimMemory::InverseFraction(temperature_, BathAt(timeMs, row)));
  if (ch == 0 || ch == 2) return ToWord(Fraction(ch, timeMs, row));
  return std::nullopt;
}

std::vector<uint8_t> SimMicrosal::InitialBlock() const {
  std::vector<uint8_t> block;
  if (!settings_.standardized) return std::vector<uint8_t>(33, 0);
  // What standardizing this instrument at its bath temperature stored: both cells on the
  // Standard Seawater of the standard cell.
  const double ratioT = SimSeawaterRatioAt(settings_.bathC);
  block.push_back(1);
  PutDouble(block, zeroStandard_ + gainStandard_ * settings_.k15 * ratioT);
  PutDouble(block, zeroSample_ + gainSample_ * settings_.k15 * ratioT);
  PutDouble(block, settings_.k15);
  std::string batch = settings_.batch.substr(0, 8);
  batch.resize(8, '\0');
  block.insert(block.end(), batch.begin(), batch.end());
  return block;
}

std::vector<uint8_t> SimMicrosal::Store(std::vector<uint8_t> written) {
  if (settings_.mangleWrites != 0 && written.size() == 33) {
    if (settings_.mangleWrites > 0) --settings_.mangleWrites;
    written.back() ^= 0x20;  // the batch label's last character
  }
  return written;
}

}  // namespace klx::sim
