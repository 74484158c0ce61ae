#pragma once
// What the logger is told to do between two moments: the deployment being edited, and
// `BatchValues`, its copy from the last successful enable.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_time.h"

namespace klx {

// A period held as hours, minutes and seconds; all zero counts as one day in computations.
struct Period {
  uint16_t hours = 0;
  uint16_t minutes = 0;
  uint16_t seconds = 0;
  friend bool operator==(const Period&, const Period&) = default;
  int64_t TotalSeconds() const {
    const int64_t p = hours * 3600LL + minutes * 60LL + seconds;
    return p == 0 ? 86400 : p;
  }
};

enum StartMode : uint32_t {
  kStartAtTime = 0,
  kStartNow = 1,
  kStartAboveThreshold = 2,
  kStartBelowThreshold = 3,
};

// The data pointer of a logger at the end of its last retrieval, with the logger it belongs to.
struct RetrievalMark {
  std::string model;
  int32_t serial = 0;
  std::optional<uint32_t> dataPointer;  // unset: nothing retrieved yet
};

struct DeploymentParameters {
  SystemTime startTime;
  SystemTime endTime;
  Period samplePeriod{0, 0, 10};
  uint32_t startMode = kStartAtTime;
  bool continuousPower = false;  // 0x80 in the start characteristic
  bool profiling6Hz = false;     // 0x40
  int powerCycledTest = 0;
  int thresholdChannel = 0;
  double thresholdValue = 0.0;
  uint32_t thresholdRaw = 0;
  uint32_t thresholdLimitRaw = 0;
  uint32_t hysteresisSeconds = 0;
  uint32_t startFlags = 0;
  bool averagingEnabled = false;
  uint32_t averagingSeconds = 0;
  bool realtimeOutput = false;
  uint32_t realtimeBaud = 0;
  uint32_t realtimeBaudCode = 0;
  Period powerSavePeriod;
  bool waveEnabled = false;
  int waveRateHz = 1;
  int burstLength = 0;
  Period burstInterval;
  double loggerHeight = 0.0;
  double expectedWaterDepth = 0.0;

  // Raw values as the logger reports them, kept for the parts that decode them.
  std::array<uint8_t, 2> startCharacteristic{};  // "!2"/"STC"
  std::array<uint8_t, 8> thresholdBlock{};       // "!A" / "!L"/"THR"
  uint16_t count16 = 0;                          // "!H"
  uint8_t highRateCode = 0;                      // "!4"/"!5"/"RAT"

  // "Accept batch values": on `BatchValues`, set once an enable has filled it; on the parameters
  // being edited, set by every change the user makes and cleared when the batch is set, accepted
  // or declined.
  bool batchSet = false;
  bool changedSinceBatch = false;

  // Set by the retrieval (RecordRetrievalPointer); not part of a deployment plan.
  RetrievalMark lastRetrieval;
};

}  // namespace klx
