#include "session/session.h"

#include <algorithm>
#include <fstream>

#include "calibration/read.h"
#include "calibration/write.h"
#include "decoding/decoder.h"
#include "deployment/validation.h"
#include "derived/derived.h"
#include "files/activity_log.h"
#include "files/dat_file.h"
#include "files/mat_file.h"
#include "files/netcdf_file.h"
#include "shell/command_ids.h"
#include "shell/messages.h"
#include "shell/recent_files.h"
#include "shell/status.h"
#include "waves/analysis.h"
#include "waves/tide.h"

namespace klx {

Session::Session(Host& h, Clock& c, std::filesystem::path programDirectory,
                 const std::vector<std::string>& devices, int copyNumber)
    : host(h),
      clock(c),
      settings(programDirectory, copyNumber),
      link(transports, ports, c),
      logger(link, h, deployment) {
  ports.Load(programDirectory.string(), devices);
  InstallCalibrationReader(logger, calibration);
  InstallCalibrationWriter(logger, calibration);
  logger.hooks.hasUnsavedData = [this] { return held.image.unsaved; };
  logger.hooks.markSaved = [this] { held.image.unsaved = false; };
  logger.hooks.saveData = [this] { SaveHeld(false); };
}

bool Session::ReadSettings(std::string* error) {
  settings.ReadSettings();
  link.loggerPort = settings.port;
  link.gpsPort = settings.gpsPort;
  link.gpsBaudRate = settings.gpsBaudRate;
  link.radioDelay = {settings.radioDelayEnabled, settings.radioDelayMs};
  ReadRealTimeLimits(settings.ProgramDirectory(), limits);  // written with defaults when missing
  const auto failure = ReadDirectories(settings.ProgramDirectory(), directories);
  if (failure && error) *error = *failure;
  return !failure;
}

std::filesystem::path Session::CalibrationHistoryFolder() const {
  return FolderOrDefault(directories.dat, settings.ProgramDirectory(), "dat");
}

void Session::DecodeHeld(bool fromFile) {
  DecodeOptions options;
  options.fromFile = fromFile;
  const DeploymentParameters parameters = HeldParameters();
  if (WaveAnalysisReady(held.data.logger))
    options.hooks.analyseBurst = WaveAnalysisHook(parameters, settings.derived, &host);
  const DecodeResult result = DecodeImage(held.image, parameters, held.data, host, options);
  held.image.headerLength = result.headerLength;
  ApplyDerived(&result.parameters);
}

bool Session::WaveAnalysisReady(const LoggerState& logger) const {
  return !logger.ModelHas("NMJ") || settings.derived.depthOn;
}

void Session::TellWaveAnalysisWaits() {
  host.Tell(kNmjCaption, kNmjDepthText, BoxIcon::Warning);
}

void Session::ApplyDerived(const DeploymentParameters* parameters) {
  const bool settingsChanged = lastDerived_ && *lastDerived_ != settings.derived;
  lastDerived_ = settings.derived;
  if (held.data.Empty()) return;
  const DerivedAllocation allocation = AllocateDerivedChannels(held.data, settings.derived);
  RecomputeDerived(held.data, allocation.channels, settings.derived);
  const DeploymentParameters& p = parameters ? *parameters : HeldParameters();
  // Bursts held while the analysis waited for depth are analysed once it may run; all of them
  // again when the derived settings have changed since.
  if (held.data.logger.waves && WaveAnalysisReady(held.data.logger) &&
      (settingsChanged ||
       std::any_of(held.data.bursts.begin(), held.data.bursts.end(), [](const BurstSeries& b) {
         return !b.stats.analysed && b.samples.size() >= 2;
       }))) {
    WaveAnalyser analyser;
    AnalyseAllBursts(held.data, WaveSetupOf(held.data, p, settings.derived), analyser);
  }
  // The tide-and-wave logger's significant wave height and tidal slope.
  FillWaveChannels(held.data, allocation.channels, p);
  held.columnTypes = held.data.logger.channelTypes;
  if (held.columnTypes.size() == static_cast<size_t>(held.data.logger.channelCount))
    held.columnTypes.clear();  // no derived channels: the logger's letters
  if (!allocation.notice.empty()) {
    // The changed equation is kept, so that the notice comes once.
    calibration.conductivityCorrection = held.data.calibration.conductivityCorrection;
    host.Tell(kCorrectionChangeTitle, allocation.notice, BoxIcon::Information);
  }
}

std::optional<std::filesystem::path> NmjHexFor(const std::filesystem::path& datFile) {
  std::ifstream in(datFile, std::ios::binary);
  std::string first;
  if (!in || !std::getline(in, first)) return std::nullopt;
  if (first.substr(0, 99).find("NMJ") == std::string::npos) return std::nullopt;
  // ".../dat/name.dat" -> ".../hex/name.hex"
  std::filesystem::path hex = datFile;
  hex.replace_extension(".hex");
  if (datFile.parent_path().filename() == "dat")
    hex = datFile.parent_path().parent_path() / "hex" / hex.filename();
  return hex;
}

bool Session::ReadDataFile(const std::filesystem::path& file, bool* gone) {
  FileReadRequest request = ReadRequest(file);
  const std::string ext = file.extension().string();
  if (gone) *gone = false;
  bool ok = false;
  if (ext == ".mat") {
    MatReadRequest mat;
    mat.file = file;
    mat.programDirectory = settings.ProgramDirectory();
    mat.directories = &directories;
    mat.lastSerial = logger.state.previousSerial;
    if (!ReadMatFile(host, mat, held)) return false;
    settings.matlabFormat = mat.foundTimeFormat;  // the time form follows the file
    ApplyDerived();
    return true;  // MAT files stay out of the recent files
  }
  if (file.string().find(".hex") != std::string::npos) {
    ok = ReadHexFile(host, request, held);
    if (ok) ApplyDerived();  // the derived channels follow the settings in force now
  } else if (const auto hex = NmjHexFor(file)) {
    // A tide-and-wave logger's waves are only in its hex file: read that when it is there.
    if (std::filesystem::exists(*hex)) return ReadDataFile(*hex, gone);
    host.Tell("Read Data File",
              "This program was unable to find the extended wave data for this\nNMJ logger "
              "expected to be in the associated '.hex' file.\nIf this file has been moved or "
              "renamed,\nopen it directly using the 'Read a HEX file' menu item.\n\nThe "
              "temperature/pressure tide data will be displayed.",
              BoxIcon::Warning);
    ok = ReadDatFile(host, request, held);
  } else {
    ok = ReadDatFile(host, request, held);
  }
  if (gone) *gone = request.removeFromRecent;
  if (ok && file.string().find(".hex") == std::string::npos) {
    AssignMarkerClasses(held.data.stamps);  // the graph's markers
    ApplyDerived();
  }
  if (ok) RecentFiles(settings.ProgramDirectory()).AddRecentFile(file.string());
  return ok;
}

bool Session::SaveHeldMat() {
  MatSaveRequest request;
  request.programDirectory = settings.ProgramDirectory();
  request.directories = &directories;
  request.options.timeFrequency = settings.matlabFrequency;
  request.options.timeFormat = settings.matlabFormat;
  if (!SaveMatFile(host, request, held)) return false;
  if (rememberFolders) WriteDirectories(settings.ProgramDirectory(), directories);
  return true;
}

bool Session::SaveHeldNetcdf(std::optional<int> utcOffsetSeconds, const std::string& program) {
  NetcdfSaveRequest request;
  request.programDirectory = settings.ProgramDirectory();
  request.directories = &directories;
  request.options.utcOffsetSeconds = utcOffsetSeconds;
  request.options.program = program;
  request.options.derived = settings.derived;
  if (!SaveNetcdfFile(host, request, held)) return false;
  if (rememberFolders) WriteDirectories(settings.ProgramDirectory(), directories);
  return true;
}

void Session::LogRetrieval() {
  LogEntryInputs in;
  in.programDirectory = settings.ProgramDirectory();
  if (held.image.hasSnapshot) {
    in.logger = held.data.logger;
    in.parameters = held.image.snapshot.parameters;
    in.hostTime = held.image.snapshot.hostTime;
    in.loggerTime = held.image.snapshot.loggerTime;
    in.loggerStatus = held.image.snapshot.loggerStatus;
    if (!held.image.unsaved) in.savedFile = held.file;
  } else {  // nothing was retrieved: the logger as it stands
    in.logger = logger.state;
    in.parameters = deployment;
    in.hostTime = clock.LocalTime();
    in.loggerTime = logger.loggerClock;
    in.loggerStatus = logger.status.code;
  }
  WriteLogEntry(host, kLogRetrieved, in);
}

FileReadRequest Session::ReadRequest(const std::filesystem::path& file) {
  FileReadRequest request;
  request.file = file;
  request.programDirectory = settings.ProgramDirectory();
  request.directories = &directories;
  request.lastSerial = logger.state.previousSerial;
  request.decode = [this](DataSet& data, MemoryImage& image) {
    const DeploymentParameters parameters =
        image.hasSnapshot ? image.snapshot.parameters : deployment;
    DecodeOptions options;
    // A tide-and-wave file read without depth is held as it is; its analysis waits for depth.
    if (WaveAnalysisReady(data.logger)) {
      options.hooks.analyseBurst = WaveAnalysisHook(parameters, settings.derived, &host);
    } else {
      TellWaveAnalysisWaits();
      host.PostCommand(cmd::kDerivedUnits);
    }
    const DecodeResult result = DecodeImage(image, parameters, data, host, options);
    image.headerLength = result.headerLength;
  };
  return request;
}

bool Session::SaveHeld(bool again, const std::filesystem::path& datFile) {
  SaveRequest request;
  request.programDirectory = settings.ProgramDirectory();
  request.directories = &directories;
  request.layout = static_cast<DatLayout>(std::clamp(settings.format, 0, 2));
  request.derived = settings.derived;
  request.channelFile = settings.languageSupport;
  request.chosenDat = datFile;
  request.commentDialog = commentDialog;
  if (!SaveDataToFile(host, request, held, again)) return false;
  // A "Waves" logger's wave and tide files go beside the data, in the "nmj" folder.
  waveFiles = {};
  if (held.data.logger.waves && WaveAnalysisReady(held.data.logger))
    waveFiles = WriteWaveAndTideFiles(
        host, waveFolder.empty() ? settings.ProgramDirectory() : waveFolder, request.chosenDat,
        HeaderInputsOf(held, request.layout, request.derived));
  if (rememberFolders) WriteDirectories(settings.ProgramDirectory(), directories);
  RecentFiles(settings.ProgramDirectory()).AddRecentFile(request.chosenDat.string());
  return true;
}

bool Session::SelectPort(const std::string& name, std::string* error) {
  std::string wanted = name;
  if (!wanted.empty() && wanted.find_first_not_of("0123456789") == std::string::npos)
    wanted = "COM" + wanted;
  const int number = ports.NumberFor(wanted);
  if (number < 1 || ports.DeviceFor(number).empty()) {
    if (error)
      *error = number < 1 ? "No free port number for " + name
                          : "COM" + std::to_string(number) + " is not mapped to a device";
    return false;
  }
  link.loggerPort = number;
  return true;
}

std::string Session::PortDescription(int number) const {
  const std::string device = ports.DeviceFor(number);
  return device.empty() ? Format("COM%d", number) : Format("COM%d (%s)", number, device.c_str());
}

std::vector<std::string> DescribeLogger(const LoggerLink& logger, int port, int baud) {
  const LoggerState& s = logger.state;
  std::vector<std::string> out;
  out.push_back(Format(MessageText(Msg::LoggerConnected).c_str(), s.model.c_str(),
                       static_cast<double>(s.firmware), s.serial, port, static_cast<long>(baud)));
  out.push_back(s.extendedCommandSet ? "Command set: Microchip logger (extended)"
                                     : "Command set: standard");
  out.push_back(s.MemoryUsageLine());
  std::string letters;
  for (char c : s.channelTypes) {
    if (!letters.empty()) letters += ' ';
    letters += c;
  }
  out.push_back(Format("Channels: %d (%s)", s.channelCount, letters.c_str()));
  out.push_back(Format("Latency: %d ms", s.latencyMs));
  out.push_back(Format("Reading time: %d ms", s.readingTimeMs));
  out.push_back(Format("Command level: %d", s.commandLevel));

  std::vector<std::string> caps;
  auto add = [&caps](bool on, const char* name) {
    if (on) caps.emplace_back(name);
  };
  add(s.profiling6Hz, "6Hz profiling");
  add(s.hysteresis, "Hysteresis");
  add(s.averaging != 0, "Averaging");
  add(s.conventionalThresholding, "Conventional thresholding");
  add(s.powerSaveThresholding, "Power save thresholding");
  add(s.rsCommandFlags != 0, "RS Commands");
  add(s.uvCommands, "UV Commands");
  add(s.frontendThroughCommunications, "Frontend through communications");
  add(s.reportsBatteryVoltage, "Reports battery voltage");
  add(s.externalDataConnector, "External data connector");
  add(s.HasTwelveCommands(), "!12 Commands");
  add(s.SamplingLed(), "Sampling LED");
  add(s.oemSupport, "OEM support");
  add(s.waves, "Waves");
  add(s.highSamplingRates, "Sampling at 1Hz, 2Hz and 4Hz");
  add(s.externalPowerConnector, "External power connector");
  add(s.engineeringUnitsLevel != 0, "Engineering units");
  add(s.modemControlLevel == 1, "Modem control - always");
  add(s.modemControlLevel == 2, "Modem control - always (fixed)");
  add(s.modemControlLevel == 3, "Modem control - level 3");
  add(s.memoryTestLevel != 0, "Memory test capable");
  add(s.microSalinometerMode, "Micro-salinometer mode");
  std::string capText;
  for (const auto& c : caps) capText += (capText.empty() ? "" : ", ") + c;
  out.push_back("Capabilities: " + (capText.empty() ? std::string("none reported") : capText));
  if (s.expressDownloadRate != 0)
    out.push_back(Format("Express download rate: %d baud", s.expressDownloadRate));
  if (s.extendedCommandSet || s.capabilityMask != 0)
    out.push_back(Format("Default baud rate minimum: %d baud", s.defaultBaudRateMinimum));
  return out;
}

}  // namespace klx

namespace klx {

void ReadExtendedRanges(LoggerLink& logger, std::array<uint8_t, 26>& extended) {
  // The extended channel capabilities table of loggers that switch ranges: byte 0 the logger's,
  // then one byte per channel.
  extended.fill(0);
  if ((logger.state.rsCommandFlags & 0x04) == 0) return;
  std::vector<uint8_t> table;
  if (logger.ReadTable("R0400", table) == 1 && table.size() > 1)
    std::copy_n(table.begin(), std::min(table.size() - 1, extended.size()), extended.begin());
}

RealTimeChoice Session::PrepareRealTime(DeploymentParameters& p) {
  if (!CheckRealTimeCapacity(p, logger.state.channelCount, host))
    return RealTimeChoice::ReturnToDialog;
  if (held.image.unsaved && host.Ask("Setup", MessageText(Msg::UnsavedData), Buttons::YesNo,
                                     BoxIcon::Warning, Answer::No) == Answer::Yes)
    return RealTimeChoice::CloseDialog;
  auto files = ChooseRealTimeFile(host, logger.state, settings.ProgramDirectory(), directories);
  if (!files) return RealTimeChoice::ReturnToDialog;
  if (rememberFolders) WriteDirectories(settings.ProgramDirectory(), directories);
  realTimeFiles = std::move(files);
  // Read now: once the logger sends its records, a table read would compete with them.
  ReadExtendedRanges(logger, realTimeExtended);
  return RealTimeChoice::Proceed;
}

bool Session::StartRealTime() {
  EndRealTime();
  if (!realTimeFiles) return false;
  RealTimeStart start;
  start.files = *realTimeFiles;
  start.parameters = deployment;
  start.data.logger = logger.state;
  start.data.calibration = calibration;
  start.data.extendedCapabilities = realTimeExtended;
  start.derived = settings.derived;
  start.limits = &limits;
  realTime = std::make_unique<RealTimeRun>(logger, host, clock);
  return realTime->Start(std::move(start));
}

void Session::EndRealTime() {
  if (realTime) realTime->End();
}

bool Session::RestartRealTime(bool sendCommand, bool startRun) {
  EndRealTime();
  if (!logger.ConnectCommand()) return false;
  LoggerSetup setup(logger, clock, batchValues);
  const int status = setup.Open();
  if (status < 0) return false;
  if (status != 1 && status != 2 && status != 3 && status != 6) {
    host.Tell("Real-time restart",
              "The logger is not logging, so it sends no real-time data.\nEnable a deployment "
              "with real-time output from the 'Setup' window.",
              BoxIcon::Stop);
    return false;
  }
  DeploymentParameters& p = deployment;
  const bool calibrated = ReadCalibration(logger, calibration) == CalibrationRead::Succeeded;
  if ((p.startFlags & 4u) == 0 && !calibrated &&
      host.Ask("Real-time restart",
               "The logger is running in binary mode and it has not been possible to read the "
               "calibration coefficients.\nDo you want to continue the realtime using default "
               "calibration coefficients?",
               Buttons::YesNo, BoxIcon::Warning, Answer::No) != Answer::Yes)
    return false;
  p.realtimeOutput = true;
  SetRealTimeBaud(p, setup.defaultBaudRate);
  auto files = ChooseRealTimeFile(host, logger.state, settings.ProgramDirectory(), directories);
  if (!files) return false;
  if (rememberFolders) WriteDirectories(settings.ProgramDirectory(), directories);
  realTimeFiles = std::move(files);
  ReadExtendedRanges(logger, realTimeExtended);
  if (sendCommand && (!logger.ConnectLogger() || logger.CommSet(19) != 1)) {
    ShowStatus(host, "Error: Unable to communicate with logger");
    return false;
  }
  // The wave settings go with the data of a tide-and-wave logger.
  if (logger.state.waves) logger.CommGet(31);
  return startRun ? StartRealTime() : true;
}

}  // namespace klx
