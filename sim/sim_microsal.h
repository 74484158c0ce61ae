#pragma once
// The micro-salinometer (HL-240) as an instrument: a sample cell and a standard cell in one
// temperature bath, read as channel 0 (sample conductivity, "C"), channel 1 (bath temperature,
// "T") and channel 2 (standard conductivity, "C").
//
// A cell reads its zero offset plus its gain times the conductivity of what it holds, in units
// of the conductivity of seawater of salinity 35 at 15 degrees; both conductivities follow the
// bath temperature together (the PSS-78 temperature ratio), so their quotient stays put. The
// standard cell always holds Standard Seawater of ratio K15. The sample cell holds, by the
// `cells` state: the sample (ratio rt to salinity-35 seawater), Standard Seawater (K15), or
// nothing at all (both cells then read their zero offsets, as during the zero capture).
//
// The zero offsets and the sample cell's gain come from the logger's own calibration at start:
// the sample channel's c0 = -alpha * Vsample(0) and c1 = alpha, the standard channel's
// c0 = -Vstandard(0) and c1 = 1. With those coefficients a host computes
//   Rt = (c0s + c1s * xs) / (c0t + c1t * xt) = rt  (sample in the cell),  K15 (Standard Seawater)
// give or take the readings' noise (relative, about `noise` on the sample cell and half of it
// on the standard cell), and a PSS-78 salinity near 35 for rt near 1.
//
// Table 0600 holds the standardization, 33 bytes: byte 0 = 1, Vstandard(1), Vsample(1) and K15
// as little-endian doubles, the batch label in 8 characters (zero-padded). The profile's logger
// starts with the values a standardization of this instrument would have stored, or, with
// `microsal.standardized = no`, with a block whose byte 0 is 0 (never standardized).
//
// Profile keys:
//   microsal.rt = 0.9995         # the sample's conductivity ratio
//   microsal.k15 = 0.99993       # the Standard Seawater batch in the standard cell (and stored)
//   microsal.batch = P165        # the stored batch label (up to 8 characters)
//   microsal.bath = 24.0         # bath temperature, degrees C (it wanders by 0.05 over 30 min)
//   microsal.noise = 2e-5        # relative noise of a sample-cell reading
//   microsal.cells = sample      # sample | standard | zero: what the sample cell holds
//   microsal.standardized = yes  # no: table 0600 starts with byte 0 = 0 and zeros
//   fault.microsal_mangle = 1    # the next N writes of table 0600 store other bytes than
//                                # were sent (the batch's last byte changed); -1: all
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_memory.h"

namespace klx::sim {

enum class SimMicrosalCells { Sample, Standard, Zero };

struct SimMicrosalSettings {
  double rt = 0.9995;
  double k15 = 0.99993;
  std::string batch = "P165";
  double bathC = 24.0;
  double noise = 2e-5;
  SimMicrosalCells cells = SimMicrosalCells::Sample;
  bool standardized = true;
  int mangleWrites = 0;
};

// Applies a "microsal.*" or "fault.microsal_*" profile key; false with a message on a bad value.
// Returns true for keys it does not know (they are left alone).
bool ApplyMicrosalSetting(std::string_view key, std::string_view value,
                          SimMicrosalSettings& settings, std::string& error);

// "sample", "standard" or "zero" (surrounding blanks ignored); nothing for another word.
std::optional<SimMicrosalCells> SimMicrosalCellsNamed(std::string_view name);

// Conductivity ratio rT of salinity-35 seawater at temperature t (ITS-90, degrees C) to that at
// 15 degrees (PSS-78).
double SimSeawaterRatioAt(double celsius);

class SimMicrosal final : public SimRowModel {
 public:
  // The instrument behind a profile whose channels read sample C, temperature T, standard C;
  // nothing for any other layout. `coefficients` are c0..c3 of the three channels as the
  // logger holds them at start (the temperature row converts the bath temperature).
  static std::shared_ptr<SimMicrosal> For(std::string_view model, std::string_view channels,
                                          const std::vector<std::array<double, 4>>& coefficients,
                                          const SimMicrosalSettings& settings, uint64_t seed);

  std::optional<uint32_t> Word(size_t ch, int64_t timeMs, uint64_t row) const override;

  // What the sample cell holds from the first whole second after clockMs (ms since 2000-01-01;
  // rows already taken keep what they read).
  void SetCells(SimMicrosalCells cells, int64_t clockMs);
  SimMicrosalCells CellsAt(int64_t timeMs) const;

  // The table 0600 the logger starts with.
  std::vector<uint8_t> InitialBlock() const;
  // A table 0600 write as the logger stores it (changed under fault.microsal_mangle).
  std::vector<uint8_t> Store(std::vector<uint8_t> written);

  // The instrument's constants, for tests and demonstrations.
  double ZeroSample() const { return zeroSample_; }
  double ZeroStandard() const { return zeroStandard_; }
  double GainSample() const { return gainSample_; }
  double GainStandard() const { return gainStandard_; }
  const SimMicrosalSettings& Settings() const { return settings_; }
  // Bath temperature (degrees C) of a row, noise included.
  double BathAt(int64_t timeMs, uint64_t row) const;

 private:
  SimMicrosal() = default;
  double Fraction(size_t ch, int64_t timeMs, uint64_t row) const;

  SimMicrosalSettings settings_;
  uint64_t seed_ = 0;
  SimConversion temperature_;
  double zeroSample_ = 0, zeroStandard_ = 0;
  double gainSample_ = 0, gainStandard_ = 0;
  std::vector<std::pair<int64_t, SimMicrosalCells>> changes_;  // from when, in time order
};

}  // namespace klx::sim
