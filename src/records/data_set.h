#pragma once
// A decoded data set: one series of engineering values per channel, the stamp table and the
// wave bursts, together with the description of the logger the data came from.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "records/coefficients.h"
#include "records/logger_state.h"
#include "platform/system_time.h"

namespace klx {

// Marks a missing or invalid sample in every series.
constexpr float kMissingValue = -1000.0f;

enum StampType : uint32_t {
  kStampTime = 0,      // "TIM"
  kStampCold = 1,      // "CLD"
  kStampChange = 2,    // "CHG"
  kStampCool = 3,      // "LUK"
  kStampWarm = 4,      // "WRM"
  kStampStop = 5,      // "STP"
  kStampComms = 6,     // "TTY"
  kStampRecovery = 7,  // "REC"
  kStampBurst = 8,     // "BST"
  kStampSerial = 9,    // "SER"
  kStampRtc = 10,      // "RTC"
  kStampGain = 11,     // "GAN", made by decoding
};

struct StampRecord {
  uint32_t sampleIndex = 0;
  uint32_t type = kStampTime;
  int32_t markerClass = 0;
  uint32_t burstNumber = 0;
  SystemTime time;
  std::array<uint32_t, 24> gain{};
  uint32_t changedMask = 0;
  friend bool operator==(const StampRecord&, const StampRecord&) = default;
};

struct TimestampTable {
  static constexpr size_t kCapacity = 11000;
  std::vector<StampRecord> records;  // never more than kCapacity
  bool overflowed = false;           // more stamps were found than the table holds
};

// The statistics of one wave burst (`WaveStatistics`), filled by the wave analysis.
enum WaveFlag : int32_t { kWaveGood = 0, kWaveError = 1, kWaveWarning = 2 };
struct WaveStatistics {
  bool analysed = false;  // the analysis ran (a burst of fewer than two samples is not analysed)
  float meanDepth = 0;    // depth of the sensor below the surface, from the burst trend (m)
  float surfaceMax = 0, surfaceMin = 0;          // extremes of the surface elevation (m)
  float peakFrequency = 0, cutoffFrequency = 0;  // Hz
  float variance = 0;                            // m0 of the surface elevation (m²)
  float energy = 0;                              // J/m²
  float h13 = 0, t13 = 0;    // H1/3 as reported: Hm0 = 4·√m0 (m); T1/3 (s)
  float h110 = 0, t110 = 0;  // H1/10 (m), T1/10 (s)
  float havg = 0, tavg = 0;  // 0 with fewer than two waves
  float hmax = 0, tmax = 0;  // the highest wave and its period; 0 without any wave
  int32_t flag = kWaveGood;
  friend bool operator==(const WaveStatistics&, const WaveStatistics&) = default;
};

// One wave burst of a "Waves" logger (decoding fills it, the wave analysis reads it).
struct BurstSeries {
  SystemTime time;             // the time of its burst stamp
  std::vector<float> samples;  // channel 1's polynomial of each burst word, at most the burst
                               // length (fewer when the burst was cut short)
  // From the wave analysis: the surface elevation (burst length values, empty until analysed)
  // and the statistics.
  std::vector<float> surface;
  WaveStatistics stats;
};

struct DataSet {
  // The logger the data came from (from the connection after a retrieval, from the header
  // after a file read): model, firmware, serial, channel letters, capabilities.
  LoggerState logger;
  CalibrationCoefficients calibration;
  std::array<uint8_t, 26> extendedCapabilities{};  // bit 0 of byte n: channel n wraps
  bool rawMode = false;

  int channelCount = 0;
  int samplesPerChannel = 0;
  // series[ch] holds samplesPerChannel values, then the minimum and the maximum.
  std::vector<std::vector<float>> series;
  TimestampTable stamps;
  std::vector<BurstSeries> bursts;

  bool Empty() const { return samplesPerChannel <= 0; }
  float Minimum(int ch) const {
    return series[static_cast<size_t>(ch)][static_cast<size_t>(samplesPerChannel)];
  }
  float Maximum(int ch) const {
    return series[static_cast<size_t>(ch)][static_cast<size_t>(samplesPerChannel) + 1];
  }
};

}  // namespace klx
