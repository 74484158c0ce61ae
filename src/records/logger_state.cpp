#include "records/logger_state.h"

#include <cstdio>

namespace klx {

const char* MemoryTypeName(int code) {
  switch (code) {
    case kIntel28F016S3:
      return "Intel 28F016S3";
    case kAmd29LV033C:
      return "AMD 29LV033C";
    case kAT45DB642:
      return "AT45DB642";
    case kAT45DB642D:
      return "AT45DB642D";
    case kAT45DB642_LP:
      return "AT45DB642_LP";
    case kAT45DB642D_LP:
      return "AT45DB642D_LP";
    default:
      return "unknown";
  }
}

void LoggerState::ResetCapabilities() {
  capabilityMask = 0;
  memoryTypeCode = kMemoryUnknown;
  memorySizeMb = 2;
  parameterBlockLength = 30;
  commandLevel = 1;
  commandLevelFlag4 = commandLevelFlag5 = commandLevelFlag6 = false;
  averaging = 0;
  profiling6Hz = false;
  hysteresis = false;
  conventionalThresholding = false;
  powerSaveThresholding = false;
  rsCommandFlags = 0;
  uvCommands = false;
  frontendThroughCommunications = false;
  reportsBatteryVoltage = false;
  externalDataConnector = false;
  defaultBaudRateMinimum = 2400;
  expressDownloadRate = 0;
  minimumHostVersion = 0.0f;
  twelveCommandLevel = 0;
  oemSupport = false;
  waves = false;
  highSamplingRates = false;
  externalPowerConnector = false;
  engineeringUnitsLevel = 0;
  modemControlLevel = 0;
  memoryTestLevel = 0;
  genericCardVersion = 0;
  rsAdvancedWord = 0;
  microSalinometerMode = false;
}

std::string LoggerState::MemoryUsageLine() const {
  char line[96];
  std::snprintf(line, sizeof line, "Memory size: %d Meg, type: %s", memorySizeMb,
                MemoryTypeName(memoryTypeCode));
  return line;
}

}  // namespace klx
