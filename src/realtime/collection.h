#pragma once
// Real-time collection: the check that the logger's default baud rate can carry its records,
// the choice of the real-time file, and the run itself, which on every timer tick reads the
// GPS and the logger, frames and checks each record, converts it to engineering units, appends
// the derived values, files the raw record, and keeps the live series the display draws.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "derived/derived.h"
#include "link/logger_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "realtime/gps.h"
#include "realtime/realtime_file.h"
#include "realtime/records.h"
#include "records/data_set.h"
#include "records/deployment_parameters.h"
#include "shell/directories.h"
#include "shell/limits_file.h"
#include "waves/burst_assembly.h"

namespace klx {

inline constexpr const char* kCapacityCaption = "Real-time output channel capacity insufficient";
inline constexpr const char* kRealTimeCaption = "Real-time Logging";
inline constexpr const char* kRealTimeStatus = "Real-time data collection";
inline constexpr const char* kEndRealTimeButton = "End Real-time Display";
inline constexpr const char* kNmjCaption = "Working with NMJ Data";
inline constexpr const char* kNmjDepthText =
    "To complete the calculations necessary for this NMJ logger,\n'Depth' has to be selected "
    "with appropriate paramaters\nin the 'Derived units' menu.";

// The time-outs of a port that is polled from the timer (the real-time display, the GPS test): a
// read returns what has arrived within a few milliseconds, so a tick never waits for bytes that
// are not there yet.
CommTimeouts PollingTimeouts();

// Bits per second the records need: binary floor((channels × 3 + 13) × rate) and engineering
// floor((channels × 10 + 22) × rate), with rate = 10 / period in seconds, or 60 under 6 Hz
// profiling.
struct RealTimeRates {
  uint32_t binary = 0;
  uint32_t engineering = 0;
};
RealTimeRates RequiredRealTimeRates(const DeploymentParameters& p, int channels);

// `CheckRealTimeCapacity`: true when real-time output is off or the logger's default baud rate
// (p.realtimeBaud) carries the records; otherwise the message under kCapacityCaption.
bool CheckRealTimeCapacity(const DeploymentParameters& p, int channels, Host& host);

// The logger sends text records: its output is in engineering units (start flag bit 2) and it
// can send them (engineering-units level 1 or more).
bool SendsEngineeringRecords(const DeploymentParameters& p, const LoggerState& s);
// Its engineering output goes to a dat file (bits 1 and 3 of the RS advanced word).
bool StoresRealTimeAsDat(const LoggerState& s);

struct RealTimeFiles {
  std::filesystem::path data;  // the hex (or dat) file
  std::filesystem::path gps;   // same base name, ".gps", in the "dat" folder
};

// `ChooseRealTimeFile`: proposes "%06dRealtime.hex" in the hex folder (or "%06dRealtime.dat" in
// the dat folder) and lets the user confirm it; an existing file is replaced only after the
// overwrite question. nullopt: cancelled. The chosen folder is remembered in `directories`.
std::optional<RealTimeFiles> ChooseRealTimeFile(Host& host, const LoggerState& s,
                                                const std::filesystem::path& programDirectory,
                                                Directories& directories);

// Display series capacity: 9,437,184 / (channels + the most derived channels this logger can
// have) samples each.
int RealTimeSeriesCapacity(const LoggerState& s);

// What a run starts from.
struct RealTimeStart {
  RealTimeFiles files;
  DeploymentParameters parameters;  // period, 6 Hz, start flags, baud code
  DataSet data;                     // logger, calibration and extended capabilities set
  DerivedSettings derived;
  const RealTimeLimits* limits = nullptr;  // nullptr: the defaults
  std::string comment;
};

class RealTimeRun {
 public:
  RealTimeRun(LoggerLink& logger, Host& host, Clock& clock);
  ~RealTimeRun();

  // `StartRealTime`: opens the files, sets up the series and the derived channels, opens the GPS
  // port when one is configured. False (with "Unable to open '.hex' data file") when the data
  // file cannot be written.
  bool Start(RealTimeStart start);
  // `RealTimeTick`: reads the GPS and the logger and stores every complete record. Returns the
  // number of samples stored.
  int Tick();
  // Stops collecting and closes the files (the series stay for the display).
  void End();

  bool Active() const { return active_; }
  bool GpsActive() const { return gpsActive_; }
  // The timer period the run wants: 100 ms under 6 Hz profiling, else 150 ms.
  int TickPeriodMs() const;

  // The live series (channels, derived channels, stamps at gaps) and their time base.
  const DataSet& Data() const { return data_; }
  const SystemTime& FirstSampleTime() const { return firstTime_; }
  int64_t PeriodMs() const { return periodMs_; }
  const DerivedChannels& Derived() const { return derivedChannels_; }
  const RealTimeFiles& Files() const { return files_; }

  int64_t sampleCount = 0;  // samples stored since the start, those scrolled out included
  std::string lastLine;     // the status line of the last sample
  std::string gpsText;      // the last position, empty before the first
  int writeErrors = 0;
  // Tide-and-wave loggers: the burst values of the current burst, their range, and its line.
  std::vector<float> burstValues;
  int64_t burstRecords = 0;  // "BST" and "SEQ" records taken since the start
  float burstMinimum = 0, burstMaximum = 0;
  std::string burstLine;
  // The bursts assembled so far are Data().bursts (analysed once complete; the wave window
  // shows the last one). Called with a burst's index when it is complete and analysed.
  std::function<void(int burst)> onBurst;

  // A real-time file holds at most as many data bytes as a logger memory, so that it reads back
  // whole; the samples then go on in "<name>_2.hex", "<name>_3.hex", ...
  static constexpr int64_t kMaxFileBytes = 0x7FE000;
  int64_t maxFileBytes = kMaxFileBytes;

  // Called after each stored sample (the display redraws).
  std::function<void()> onSample;

 private:
  bool ReadGps();
  void StoreSample(const RealTimeRecord& record);
  void StoreBurst(const RealTimeRecord& record);
  // The tide-and-wave logger's significant wave height and tidal slope at a new sample.
  void StoreWaveChannels(int row);
  void AppendValue(int channel, float value);
  void MakeRoom();
  int32_t RawFromValue(int channel, double value) const;
  void ContinueFile();

  LoggerLink& logger_;
  Host& host_;
  Clock& clock_;
  bool active_ = false;
  bool gpsActive_ = false;
  bool gpsWarned_ = false;
  RealTimeFiles files_;
  DeploymentParameters p_;
  DataSet data_;
  DerivedSettings derived_;
  DerivedChannels derivedChannels_;
  int measured_ = 0;
  int capacity_ = 0;
  int64_t periodMs_ = 0;
  int64_t gapMs_ = 0;  // a sample later than the previous by more than this starts a stamp
  SystemTime firstTime_;
  bool haveFirst_ = false;
  int64_t previousMs_ = 0;
  std::unique_ptr<RecordReader> reader_;
  std::unique_ptr<BurstAssembler> bursts_;  // tide-and-wave loggers
  void BurstComplete(int burst);
  GpsReader gps_;
  RealTimeFile file_;
  GpsFile gpsFile_;
  bool textFile_ = false;
  std::string header_, preamble_;
  std::filesystem::path firstFile_;
  int fileNumber_ = 1;
};

}  // namespace klx
