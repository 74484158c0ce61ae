#pragma once
// The one record of the connected logger: identity, command set, channels, timing, memory and
// the capability flags every other part consults before it talks to the logger.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace klx {

enum MemoryTypeCode : int {
  kMemoryUnknown = 0,
  kIntel28F016S3 = 1,
  kAmd29LV033C = 2,
  kAT45DB642 = 3,
  kAT45DB642D = 4,
  kAT45DB642_LP = 5,
  kAT45DB642D_LP = 6,
};

const char* MemoryTypeName(int code);

// Bits of the RS Advanced word: the accessory cards fitted and the form their data take.
inline constexpr uint32_t kRsAdvancedMemoryCard = 1u << 0;   // MMC/SD memory card
inline constexpr uint32_t kRsAdvancedGenericCard = 1u << 1;  // generic serial card
inline constexpr uint32_t kRsAdvancedBinary = 1u << 2;       // the card stores binary data
inline constexpr uint32_t kRsAdvancedAscii = 1u << 3;        // the card stores ASCII text

struct LoggerIdentity {
  std::string model = "UNKNOWN";
  float firmware = 0.0f;
  int32_t serial = 0;
  bool operator==(const LoggerIdentity&) const = default;
};

struct LoggerState {
  static constexpr int kMaxChannels = 24;

  bool connected = false;
  std::string model = "UNKNOWN";
  float firmware = 0.0f;
  int32_t serial = 0;
  std::string previousModel = "UNKNOWN";
  float previousFirmware = 0.0f;
  int32_t previousSerial = -1;
  LoggerIdentity Identity() const { return {model, firmware, serial}; }

  bool extendedCommandSet = false;  // firmware above 4.99: table-based command set
  int channelCount = 1;
  std::string channelTypes;  // one type letter per channel
  std::array<uint8_t, kMaxChannels> channelSecondBytes{};
  bool standardChannels = true;
  int latencyMs = 300;
  int readingTimeMs = 200;
  // The reading time the configuration gave, before range-switching channels raised it (-1:
  // no configuration read).
  int configuredReadingTimeMs = -1;
  // A range-switching channel reads in full auto-ranging mode: its sensors cannot stay powered
  // between samples.
  bool continuousPowerForbidden = false;
  std::vector<uint8_t> configurationTable;  // raw table 0100 as last read, check byte included

  // Capabilities.
  uint32_t capabilityMask = 0;
  int memoryTypeCode = kMemoryUnknown;
  int memorySizeMb = 2;
  int parameterBlockLength = 30;
  int commandLevel = 1;
  bool commandLevelFlag4 = false, commandLevelFlag5 = false, commandLevelFlag6 = false;
  uint32_t averaging = 0;
  bool profiling6Hz = false;
  bool hysteresis = false;
  bool conventionalThresholding = false;
  bool powerSaveThresholding = false;
  uint32_t rsCommandFlags = 0;
  bool uvCommands = false;
  bool frontendThroughCommunications = false;
  bool reportsBatteryVoltage = false;
  bool externalDataConnector = false;
  int defaultBaudRateMinimum = 2400;
  int expressDownloadRate = 0;
  float minimumHostVersion = 0.0f;
  uint32_t twelveCommandLevel = 0;  // "!12 Commands"; 2 or more also means "Sampling LED"
  bool oemSupport = false;
  bool waves = false;
  bool highSamplingRates = false;  // "Sampling at 1Hz, 2Hz and 4Hz"
  bool externalPowerConnector = false;
  uint32_t engineeringUnitsLevel = 0;
  uint32_t modemControlLevel = 0;
  uint32_t memoryTestLevel = 0;
  uint32_t genericCardVersion = 0;
  uint32_t rsAdvancedWord = 0;  // table 0700, bits kRsAdvanced... below
  bool microSalinometerMode = false;
  uint32_t formatFlags = 0;  // bit 2: the logger outputs engineering units

  bool capabilitiesStale = true;
  bool configurationStale = true;
  bool calibrationStale = true;

  bool ModelHas(const char* part) const { return model.find(part) != std::string::npos; }
  bool IsVS() const { return ModelHas("VS"); }
  bool OutputsEngineeringUnits() const { return (formatFlags & 4u) != 0; }
  bool SamplingLed() const { return twelveCommandLevel >= 2; }
  bool HasTwelveCommands() const { return twelveCommandLevel != 0; }
  void SetAllStale() { capabilitiesStale = configurationStale = calibrationStale = true; }
  // Puts every capability field back to its default (before a fresh assessment).
  void ResetCapabilities();
  // "Memory size: 2 Meg, type: %s" and its 4 and 8 Meg forms.
  std::string MemoryUsageLine() const;
};

}  // namespace klx
