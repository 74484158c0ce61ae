#pragma once
// The logger's modem: its configuration table 0800 (front and back porch in 5 ms counts, the
// active and inactive levels), its reading, editing and writing with read-back, and modem sleep.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "link/logger_link.h"

namespace klx {

struct ModemConfiguration {
  static constexpr int kMsPerCount = 5;
  static constexpr uint32_t kMaxPorchMs = 65535u * kMsPerCount;  // 327675

  uint16_t frontPorch = 0;  // counts of 5 ms
  uint16_t backPorch = 0;
  uint8_t activeLevel = 0;  // 0 or 1
  uint8_t inactiveLevel = 0;

  uint32_t FrontPorchMs() const { return frontPorch * uint32_t{kMsPerCount}; }
  uint32_t BackPorchMs() const { return backPorch * uint32_t{kMsPerCount}; }

  // The five bytes of table 0800: porches low byte first, then the level flags.
  std::array<uint8_t, 5> Pack() const;
  static ModemConfiguration Unpack(const std::array<uint8_t, 5>& bytes);
  bool operator==(const ModemConfiguration&) const = default;
};

// The window's fields as entered: porches in milliseconds (whole-number division by 5), levels
// where anything but 1 is 0. nullopt with `error` when a field is not a whole number or a porch
// is beyond 327675 ms.
std::optional<ModemConfiguration> ModemFromFields(const std::string& frontMs,
                                                  const std::string& backMs,
                                                  const std::string& activeLevel,
                                                  const std::string& inactiveLevel,
                                                  std::string& error);

// "Set modem" before its window: status (refusing a logging or enabled logger with its
// message), then the table. False when refused or the table could not be read (with
// "ERROR #11"); `config` keeps its values then.
bool OpenModemSettings(LoggerLink& logger, ModemConfiguration& config);
// After "OK": connects, writes the table, reads it back and compares. False with the
// "ERROR #10/#11/#12" message when a step fails.
bool WriteModemSettings(LoggerLink& logger, const ModemConfiguration& config);
// Reads table 0800; false when it cannot be read or holds fewer than five bytes.
bool ReadModemTable(LoggerLink& logger, ModemConfiguration& config);

// "Modem sleep": identification, real-time output at baud code 13, one fetch of all channels,
// then the port is closed and the logger marked not connected. False when the logger did not
// answer the identification (nothing else is sent then).
bool ModemSleep(LoggerLink& logger);

}  // namespace klx
