#pragma once
// The process-wide records of one running program, created by the front end and handed by
// reference to whatever needs them. Nothing here is global, so tests can build several.
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "deployment/enable.h"
#include "files/hex_file.h"
#include "link/logger_link.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/port_map.h"
#include "platform/serial_port.h"
#include "realtime/collection.h"
#include "records/coefficients.h"
#include "records/deployment_parameters.h"
#include "shell/directories.h"
#include "shell/limits_file.h"
#include "shell/settings.h"
#include "waves/wave_files.h"

namespace klx {

class Session {
 public:
  // `programDirectory` holds the settings files; `devices` are the serial devices to number
  // (EnumerateSerialDevices() in the programs, a fixed list in tests).
  Session(Host& host, Clock& clock, std::filesystem::path programDirectory,
          const std::vector<std::string>& devices, int copyNumber = 1);

  // Reads the settings file and hands the link its port, GPS and radio settings; reads the
  // directory file (creating the data folders). False with the message when a data folder
  // cannot be created.
  bool ReadSettings(std::string* error = nullptr);
  // Makes `name` ("COM3", "3", a device path, "sim:VS-330") the logger port. False with a
  // message when it cannot be given a port number.
  bool SelectPort(const std::string& name, std::string* error);
  // "COM3 (/dev/ttyUSB0)"-style description of a port number.
  std::string PortDescription(int number) const;

  Host& host;
  Clock& clock;
  Settings settings;
  TransportRegistry transports;
  PortMap ports;
  SerialLink link;
  DeploymentParameters deployment;
  DeploymentParameters batchValues;
  LoggerLink logger;
  CalibrationCoefficients calibration;
  // The calibration history file written last (the shipping certificate prints it).
  std::filesystem::path calibrationHistoryFile;
  // The data folder the calibration history files go to.
  std::filesystem::path CalibrationHistoryFolder() const;
  Directories directories;
  RealTimeLimits limits;
  // Folders chosen in file dialogs are written back to the directory file (a command line that
  // names its own output folder turns this off).
  bool rememberFolders = true;
  // The comment asked for before a save: given the current one, the new one (nullopt: the
  // question was cancelled, which clears it). Empty: the comment stays as it is.
  std::function<std::optional<std::string>(const std::string&)> commentDialog;
  // The folder of the last micro-salinometer capture file chosen.
  std::filesystem::path microsalFolder;
  // The data set held: retrieved or read from a file, until the next retrieval or read.
  HeldData held;

  // Decodes held.image into held.data with the current calibration (after a file read).
  void DecodeHeld(bool fromFile);
  // Appends the derived channels the settings ask for to held.data and computes them, the wave
  // channels of a tide-and-wave logger included (with `parameters`, else the held data's own).
  void ApplyDerived(const DeploymentParameters* parameters = nullptr);
  // The bursts of a tide-and-wave logger are analysed only once the derived depth is chosen;
  // until then they are held and saved unanalysed (the wave and tide files wait too). True when
  // the bursts of `logger` may be analysed with the current settings.
  bool WaveAnalysisReady(const LoggerState& logger) const;
  // Tells why a tide-and-wave logger's analysis waits ("Working with NMJ Data").
  void TellWaveAnalysisWaits();
  // The deployment the held data came from: the snapshot, else the current deployment.
  const DeploymentParameters& HeldParameters() const {
    return held.image.hasSnapshot ? held.image.snapshot.parameters : deployment;
  }
  // The folder whose "nmj" subfolder receives the wave and tide files of a tide-and-wave logger
  // (empty: the program directory), and the files the last save wrote there.
  std::filesystem::path waveFolder;
  WaveFilesWritten waveFiles;
  // "Save a MATLAB file" with the settings' time form; `file` answers the file choice.
  bool SaveHeldMat();
  // "Save a NetCDF file": the logger clock's offset from UTC as stated (empty: the host's at the
  // retrieval); `program` is named in the file's history.
  bool SaveHeldNetcdf(std::optional<int> utcOffsetSeconds = std::nullopt,
                      const std::string& program = "klx");
  // The retrieval's entry in the per-logger and daily activity logs.
  void LogRetrieval();
  // The save operation ("Save data to a file") with the settings' layout and derived units.
  bool SaveHeld(bool again, const std::filesystem::path& datFile = {});
  FileReadRequest ReadRequest(const std::filesystem::path& file);
  // Reads a hex, dat or MAT file into `held` (by its name), derived channels included, and puts
  // it on top of the recent files. False (with the message) leaves `held` as it was.
  // `gone` (optional) tells whether the file was not found, so a recent entry may be dropped.
  bool ReadDataFile(const std::filesystem::path& file, bool* gone = nullptr);

  // ---- Real-time collection ----
  // The real-time file chosen at the last enable, for the run that follows it.
  std::optional<RealTimeFiles> realTimeFiles;
  // The logger's extended channel capabilities, read before its records start.
  std::array<uint8_t, 26> realTimeExtended{};
  // The running (or last) real-time display.
  std::unique_ptr<RealTimeRun> realTime;
  // The Enable button's real-time step: the capacity check, the unsaved-data question and the
  // file choice (kept in realTimeFiles).
  RealTimeChoice PrepareRealTime(DeploymentParameters& p);
  // Starts the display of the connected logger's real-time output into realTimeFiles. False
  // (with the message) when the file cannot be opened or no file was chosen.
  bool StartRealTime();
  // Ends a running display (its series stay for the graph).
  void EndRealTime();
  bool RealTimeActive() const { return realTime && realTime->Active(); }
  // "Real-time restart": for a logger that is logging with real-time output, chooses the file,
  // optionally sends the real-time output command again, and starts the display (`startRun`;
  // the desktop program shows an engineering-output logger in the live readings instead, which
  // read the same line). False when it was refused, cancelled or failed.
  bool RestartRealTime(bool sendCommand, bool startRun = true);

 private:
  // The derived settings of the last ApplyDerived: held bursts are analysed again when these
  // change, as their depths and energies follow them.
  std::optional<DerivedUnitSettings> lastDerived_;
};

// Which channels of the connected logger use the extended range (read from its extended channel
// capabilities table where it has one; all clear otherwise).
void ReadExtendedRanges(LoggerLink& logger, std::array<uint8_t, 26>& extended);

// The hex file that goes with a tide-and-wave logger's dat file (".../dat/x.dat" gives
// ".../hex/x.hex"); nullopt for any other dat file.
std::optional<std::filesystem::path> NmjHexFor(const std::filesystem::path& datFile);

// Lines describing the connected logger: identity, command set, memory, channels, timing and
// the capabilities it reported.
std::vector<std::string> DescribeLogger(const LoggerLink& logger, int port, int baud);

}  // namespace klx
