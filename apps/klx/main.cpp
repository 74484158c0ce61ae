// klx: the command-line front end for scripting and batch work.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "calibration_commands.h"
#include "microsal_commands.h"
#include "card_commands.h"
#include "script_commands.h"
#include "cli_run.h"
#include "deployment_commands.h"
#include "files/dat_file.h"
#include "files/hex_file.h"
#include "files/netcdf_file.h"
#include "session/retrieval.h"
#include "session/session.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"
#include "terminal_host.h"
#include "waves/analysis.h"
#include "waves/wave_files.h"

namespace {

using klx::cli::kExitFailed;
using klx::cli::kExitOk;
using klx::cli::kExitUsage;

struct Common {
  std::string directory;
  std::string port;
  bool yes = false;
  bool no = false;
  bool quiet = false;
};

struct Program : klx::cli::CliRun {
  explicit Program(const Common& common)
      : CliRun(common.directory, klx::cli::ForcedAnswer(common.yes, common.no), common.quiet) {}
};

int Ports(const Common& common, bool probe) {
  Program p(common);
  if (!p.ok) return kExitFailed;
  // Opening a port changes its line settings; only do it when asked.
  if (probe) p.session.link.ScanSerialPorts();
  bool any = false;
  for (const auto& [number, device] : p.session.ports.Entries()) {
    const char* note =
        !probe ? "" : (p.session.link.PortAvailable(number) ? "  (opens)" : "  (cannot be opened)");
    std::printf("COM%-2d %s%s\n", number, device.c_str(), note);
    any = true;
  }
  if (!any) std::printf("No serial ports found.\n");
  std::printf("Simulated loggers: use --port sim:<model>, for example sim:VS-330.\n");
  return kExitOk;
}

int Identify(const Common& common) {
  Program p(common);
  if (!p.ok) return kExitFailed;
  if (!p.UsePort(common.port)) return kExitUsage;
  klx::LoggerLink& logger = p.session.logger;
  if (!logger.ConnectCommand()) return kExitFailed;
  logger.AssessCapabilities();
  const int configuration = logger.CommGet(16);
  for (const auto& line :
       klx::DescribeLogger(logger, p.session.link.loggerPort, p.session.link.currentBaudRate))
    std::printf("%s\n", line.c_str());
  return configuration == 1 ? kExitOk : kExitFailed;
}

// The wave and tide files the last save wrote (tide-and-wave loggers).
void PrintWaveFiles(const klx::Session& s) {
  for (const auto* f : {&s.waveFiles.wave, &s.waveFiles.tide})
    if (!f->empty()) std::printf("Wrote %s\n", f->string().c_str());
}

// "040211_20260601_120000.dat": the serial number and the host time of the retrieval.
std::string DataFileName(const klx::Session& s, const klx::SystemTime& t) {
  return klx::Format("%06d_%04d%02d%02d_%02d%02d%02d.dat", s.held.data.logger.serial, t.year,
                     t.month, t.day, t.hour, t.minute, t.second);
}

struct RetrieveOptions {
  bool all = false;
  bool stop = false;
  bool suspend = false;
  bool keep = false;
  std::string out;
  std::string append;
  bool mat = false;
  bool nc = false;
  bool resume = false;
  std::string utcOffset;
  std::optional<std::string> comment;
};

// "--utc-offset +HH:MM": false, with the message, when the text is no such offset.
bool ParseOffsetOption(const std::string& text, std::optional<int>& seconds) {
  if (text.empty()) return true;
  seconds = klx::ParseUtcOffset(text);
  if (!seconds)
    std::fprintf(stderr, "--utc-offset takes +HH:MM or -HH:MM, from -12:00 to +14:00\n");
  return seconds.has_value();
}

int Retrieve(const Common& common, const RetrieveOptions& o) {
  std::optional<int> offset;
  if (!o.utcOffset.empty() && !o.nc) {
    std::fprintf(stderr, "--utc-offset is for the NetCDF file: add --nc\n");
    return kExitUsage;
  }
  if (!ParseOffsetOption(o.utcOffset, offset)) return kExitUsage;
  Program p(common);
  if (!p.ok) return kExitFailed;
  if (!p.UsePort(common.port)) return kExitUsage;
  klx::Session& s = p.session;
  p.host.preferredChoice =
      o.stop ? "Stop" : (o.suspend ? "Suspend and resume" : (o.keep ? "Keep logging" : ""));
  if (!o.out.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    const std::string folder = std::filesystem::absolute(o.out, ec).string();
    s.directories.dat = folder;
    s.directories.hex = folder;
    s.waveFolder = folder;      // a tide-and-wave logger's wave files in DIR/nmj
    s.rememberFolders = false;  // --out is for this run only
  }
  if (o.comment) {
    const std::string text = *o.comment;
    s.commentDialog = [text](const std::string&) { return std::optional<std::string>(text); };
  }
  klx::Retrieval r(s);
  r.resume = o.resume ? klx::ResumePolicy::Always : klx::ResumePolicy::Never;
  if (!r.Open()) return kExitFailed;
  std::printf("%s\n",
              klx::DescribeLogger(s.logger, s.link.loggerPort, s.link.currentBaudRate)[0].c_str());
  std::printf("Logger status: %s\n", r.statusName.c_str());
  std::printf("Logger time:   %s\n", klx::DateDisplayText(s.logger.loggerClock).c_str());
  std::printf("Start:         %s\n", klx::DateDisplayText(s.deployment.startTime).c_str());
  std::printf("End:           %s\n", klx::DateDisplayText(s.deployment.endTime).c_str());
  std::printf("Memory usage:  %s\n", r.memoryUsage.c_str());
  std::fflush(stdout);
  const bool started = o.append.empty() ? r.Begin(o.all) : r.BeginAppend(o.append);
  if (!started && !r.Finished()) return kExitFailed;
  while (r.Tick()) {
  }
  const klx::TransferState& t = r.transfer().state;
  const klx::HeldData& held = s.held;
  std::printf("Retrieved %d bytes in %d blocks (%d retransmitted)%s.\n", held.image.fill,
              t.blocksRequested, t.blocksRetransmitted, t.failed ? ", incomplete" : "");
  if (!held.image.unsaved) {
    s.LogRetrieval();
    return t.failed ? kExitFailed : kExitOk;
  }
  std::printf("Decoded %d channels x %d samples, %zu stamps.\n", held.data.channelCount,
              held.data.samplesPerChannel, held.data.stamps.records.size());

  p.host.nextFile =
      o.append.empty()
          ? (std::filesystem::path(s.directories.dat) / DataFileName(s, r.hostTime)).string()
          : std::filesystem::absolute(o.append).string();
  if (!s.SaveHeld(false, {})) {
    std::fprintf(stderr, "The data were not saved.\n");
    s.LogRetrieval();
    return kExitFailed;
  }
  std::printf("Wrote %s\n", s.held.file.string().c_str());
  std::filesystem::path hex = std::filesystem::path(s.directories.hex) / s.held.file.filename();
  hex.replace_extension(".hex");
  if (std::filesystem::exists(hex)) std::printf("Wrote %s\n", hex.string().c_str());
  PrintWaveFiles(s);
  if (o.mat) {
    std::filesystem::path mat =
        std::filesystem::path(o.out.empty() ? s.directories.mat : o.out) / s.held.file.filename();
    mat.replace_extension(".mat");
    p.host.nextFile = mat.string();
    if (s.SaveHeldMat()) {
      std::printf("Wrote %s\n", mat.string().c_str());
    } else {
      s.LogRetrieval();
      return kExitFailed;
    }
  }
  if (o.nc) {
    std::filesystem::path nc =
        std::filesystem::path(o.out.empty() ? s.directories.dat : o.out) / s.held.file.filename();
    nc.replace_extension(".nc");
    p.host.nextFile = nc.string();
    if (s.SaveHeldNetcdf(offset)) {
      std::printf("Wrote %s\n", nc.string().c_str());
    } else {
      s.LogRetrieval();
      return kExitFailed;
    }
  }
  s.LogRetrieval();
  return t.failed ? kExitFailed : kExitOk;
}

struct ConvertOptions {
  std::string file;
  std::string to;
  std::string layout;
  std::string out;
  std::string utcOffset;
};

int Convert(const Common& common, const ConvertOptions& o) {
  Program p(common);
  if (!p.ok) return kExitFailed;
  klx::Session& s = p.session;
  const std::filesystem::path in = o.file;
  const std::string ext = in.extension().string();
  if (o.to != "dat" && o.to != "mat" && o.to != "nc") {
    std::fprintf(stderr, "--to takes dat, mat or nc\n");
    return kExitUsage;
  }
  std::optional<int> offset;
  if (!o.utcOffset.empty() && o.to != "nc") {
    std::fprintf(stderr, "--utc-offset is for the NetCDF file: only with --to nc\n");
    return kExitUsage;
  }
  if (!ParseOffsetOption(o.utcOffset, offset)) return kExitUsage;
  if (!o.layout.empty()) {
    static const std::string kLayouts = "NAE";
    const size_t at = o.layout.size() == 1
                          ? kLayouts.find(static_cast<char>(std::toupper(o.layout[0])))
                          : std::string::npos;
    if (at == std::string::npos) {
      std::fprintf(stderr, "--layout takes N, A or E\n");
      return kExitUsage;
    }
    s.settings.format = static_cast<int>(at);
  }
  if (!s.ReadDataFile(in)) return kExitFailed;
  std::filesystem::path out = o.out;
  if (out.empty()) {
    out = in;
    if (o.to == "mat" || o.to == "nc")
      out.replace_extension("." + o.to);
    else
      out.replace_extension(ext == ".dat" ? std::string(".") + "NAE"[s.settings.format] + ".dat"
                                          : ".dat");
  } else if (!out.has_extension()) {
    out += "." + o.to;  // as the save would add it
  }
  p.host.nextFile = std::filesystem::absolute(out).string();
  if (o.to == "mat") {
    if (!s.SaveHeldMat()) return kExitFailed;
  } else if (o.to == "nc") {
    if (!s.SaveHeldNetcdf(offset)) return kExitFailed;
  } else if (!s.SaveHeld(true)) {
    return kExitFailed;
  }
  std::printf("Wrote %s\n", out.string().c_str());
  if (o.to == "dat") PrintWaveFiles(s);
  return kExitOk;
}

// klx waves: the wave analysis of a tide-and-wave logger's file, one line per burst, and its
// wave and tide files (and the burst table with --csv) in DIR/nmj.
struct WavesOptions {
  std::string file;
  bool csv = false;
  std::string out;
};

int Waves(const Common& common, const WavesOptions& o) {
  Program p(common);
  if (!p.ok) return kExitFailed;
  klx::Session& s = p.session;
  const std::filesystem::path in = o.file;
  if (!s.ReadDataFile(in)) return kExitFailed;
  const klx::DataSet& data = s.held.data;
  if (data.bursts.empty()) {
    std::fprintf(stderr, "%s holds no wave bursts.\n", in.string().c_str());
    return kExitFailed;
  }
  const klx::DeploymentParameters& parameters = s.HeldParameters();
  if (const std::string refusal =
          klx::CheckWaveSetup(klx::WaveSetupOf(data, parameters, s.settings.derived));
      !refusal.empty()) {
    std::fprintf(stderr, "%s\n", refusal.c_str());
    return kExitFailed;
  }
  // As everywhere else, the analysis waits for the derived depth: without it nothing is
  // analysed, so no wave file is written.
  if (!s.settings.derived.depthOn) {
    std::fprintf(stderr,
                 "'Depth' is not selected among the derived units, so the bursts are not "
                 "analysed and no wave file is written.\nSelect it first, for example with "
                 "'klx derived --depth simplified'.\n");
    return kExitFailed;
  }
  if (std::none_of(data.bursts.begin(), data.bursts.end(),
                   [](const klx::BurstSeries& b) { return b.stats.analysed; })) {
    std::fprintf(stderr, "None of the %zu bursts could be analysed; no wave file is written.\n",
                 data.bursts.size());
    return kExitFailed;
  }
  std::printf("%-20s %5s %9s %9s %9s %9s %9s %9s %9s %9s %9s %10s\n", "Burst start", "Burst",
              "Depth", "Hm0", "T(1/3)", "H(1/10)", "T(1/10)", "H(max)", "T(max)", "H(avg)",
              "T(avg)", "Energy");
  int number = 0;
  for (const klx::BurstSeries& burst : data.bursts) {
    const klx::WaveStatistics& w = burst.stats;
    ++number;
    if (!w.analysed) {
      std::printf("%s %5d  not analysed (%zu samples)\n", klx::WaveDateTimeText(burst.time).c_str(),
                  number, burst.samples.size());
      continue;
    }
    std::printf("%s %5d %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %10.4f%s\n",
                klx::WaveDateTimeText(burst.time).c_str(), number,
                static_cast<double>(w.meanDepth) + parameters.loggerHeight, w.h13, w.t13, w.h110,
                w.t110, w.hmax, w.tmax, w.havg, w.tavg, w.energy, klx::WaveFlagText(w.flag));
  }
  std::error_code ec;
  const std::filesystem::path folder =
      o.out.empty() ? s.settings.ProgramDirectory() : std::filesystem::absolute(o.out, ec);
  std::filesystem::path dat = in.filename();
  dat.replace_extension(".dat");
  const klx::WaveFilesWritten written = klx::WriteWaveAndTideFiles(
      p.host, folder, dat,
      klx::HeaderInputsOf(s.held, static_cast<klx::DatLayout>(std::clamp(s.settings.format, 0, 2)),
                          s.settings.derived));
  if (written.wave.empty()) return kExitFailed;
  std::printf("Wrote %s\n", written.wave.string().c_str());
  if (!written.tide.empty()) std::printf("Wrote %s\n", written.tide.string().c_str());
  if (o.csv) {
    std::filesystem::path csv = klx::NmjFolder(folder) / dat.filename();
    csv.replace_extension(".csv");
    if (!klx::WriteTextFileAtomically(csv, klx::WaveCsvText(data, parameters))) {
      std::fprintf(stderr, "Unable to write %s\n", csv.string().c_str());
      return kExitFailed;
    }
    std::printf("Wrote %s\n", csv.string().c_str());
  }
  return written.tide.empty() ? kExitFailed : kExitOk;
}

// Shows or changes the derived-quantity settings (written to the settings file).
struct DerivedOptions {
  std::string depth, salinity, density, specific, correction, sos, oxygen, latitude;
  std::string optodeSaturation, optodeConcentration;
  std::optional<double> atmospheric, waterDensity, hydrostatic, doTemperature, doSalinity;
  std::string matTimes, matFormat;
};

bool OnOff(const std::string& value, bool& out) {
  if (value == "on")
    out = true;
  else if (value == "off")
    out = false;
  else
    return false;
  return true;
}

int Derived(const Common& common, const DerivedOptions& o) {
  Program p(common);
  if (!p.ok) return kExitFailed;
  klx::Settings& settings = p.session.settings;
  klx::DerivedUnitSettings& d = settings.derived;
  bool changed = false, bad = false;
  auto onOff = [&](const std::string& value, bool& field, const char* name) {
    if (value.empty()) return;
    if (!OnOff(value, field)) {
      std::fprintf(stderr, "%s takes on or off\n", name);
      bad = true;
    }
    changed = true;
  };
  if (!o.depth.empty()) {
    changed = true;
    if (o.depth == "seawater" || o.depth == "simplified") {
      d.depthOn = true;
      d.depthSeawater = o.depth == "seawater";
    } else if (o.depth == "off") {
      d.depthOn = false;
    } else {
      std::fprintf(stderr, "--depth takes seawater, simplified or off\n");
      bad = true;
    }
  }
  onOff(o.salinity, d.salinityOn, "--salinity");
  onOff(o.density, d.densityAnomalyOn, "--density");
  onOff(o.specific, d.specificConductivityOn, "--specific-conductivity");
  onOff(o.correction, d.conductivityCorrectionOn, "--conductivity-correction");
  if (!o.sos.empty()) {
    changed = true;
    d.soundWilson = o.sos.find("wilson") != std::string::npos;
    d.soundDelGrosso = o.sos.find("delgrosso") != std::string::npos;
    d.soundUnesco = o.sos.find("unesco") != std::string::npos;
    d.speedOfSoundOn = d.soundWilson || d.soundDelGrosso || d.soundUnesco;
    if (!d.speedOfSoundOn && o.sos != "off") {
      std::fprintf(stderr, "--sos takes wilson, delgrosso, unesco (comma-separated) or off\n");
      bad = true;
    }
  }
  if (!o.oxygen.empty()) {
    changed = true;
    d.doUnitUMol = o.oxygen.find("umol") != std::string::npos;
    d.doUnitMgPerL = o.oxygen.find("mgl") != std::string::npos;
    d.doUnitMlPerL = o.oxygen.find("mll") != std::string::npos;
    d.dissolvedOxygenOn = d.doUnitUMol || d.doUnitMgPerL || d.doUnitMlPerL;
    if (!d.dissolvedOxygenOn && o.oxygen != "off") {
      std::fprintf(stderr, "--oxygen takes umol, mgl, mll (comma-separated) or off\n");
      bad = true;
    }
  }
  onOff(o.optodeSaturation, d.optodeSaturationOn, "--optode-saturation");
  if (!o.optodeConcentration.empty()) {
    changed = true;
    d.optodeUnitMgPerL = o.optodeConcentration == "mgl";
    d.optodeUnitMlPerL = o.optodeConcentration == "mll";
    d.optodeConcentrationOn = d.optodeUnitMgPerL || d.optodeUnitMlPerL;
    if (!d.optodeConcentrationOn && o.optodeConcentration != "off") {
      std::fprintf(stderr, "--optode-concentration takes mgl, mll or off\n");
      bad = true;
    }
  }
  if (!o.latitude.empty()) {
    changed = true;
    int degrees = 0;
    double minutes = 0;
    char rest = 0;
    if (std::sscanf(o.latitude.c_str(), "%d:%lf%c", &degrees, &minutes, &rest) != 2 ||
        degrees < -90 || degrees > 90 || minutes < 0 || minutes >= 60) {
      std::fprintf(stderr, "--latitude takes DEGREES:MINUTES, for example -33:52.5\n");
      bad = true;
    } else {
      d.latitudeDegrees = degrees;
      d.latitudeMinutes = minutes;
    }
  }
  auto number = [&](const std::optional<double>& v, double& field) {
    if (v) {
      field = *v;
      changed = true;
    }
  };
  number(o.atmospheric, d.atmosphericPressure);
  number(o.waterDensity, d.density);
  number(o.hydrostatic, d.hydrostaticPressure);
  number(o.doTemperature, d.doTemperature);
  number(o.doSalinity, d.doSalinity);
  if (!o.matTimes.empty()) {
    changed = true;
    if (o.matTimes == "start")
      settings.matlabFrequency = 0;
    else if (o.matTimes == "each")
      settings.matlabFrequency = 1;
    else {
      std::fprintf(stderr, "--mat-times takes start or each\n");
      bad = true;
    }
  }
  if (!o.matFormat.empty()) {
    changed = true;
    if (o.matFormat == "text")
      settings.matlabFormat = 0;
    else if (o.matFormat == "datenum")
      settings.matlabFormat = 1;
    else {
      std::fprintf(stderr, "--mat-format takes text or datenum\n");
      bad = true;
    }
  }
  if (bad) return kExitUsage;
  d.someDerivedUnitWanted = d.depthOn || d.salinityOn || d.densityAnomalyOn ||
                            d.specificConductivityOn || d.conductivityCorrectionOn ||
                            d.speedOfSoundOn || d.dissolvedOxygenOn || d.optodeConcentrationOn ||
                            d.optodeSaturationOn;
  if (changed && !settings.WriteSettings()) {
    std::fprintf(stderr, "Unable to write %s\n", settings.SettingsFilePath().string().c_str());
    return kExitFailed;
  }
  // What the settings file now says about derived units and MAT files.
  const std::string text = settings.SettingsText();
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    for (const char* key :
         {"Density", "Conductivity correction", "Salinity", "Specific", "Dissolved",
          "Speed of Sound", "Atmospheric", "Latitude", "DO ", "Depth", "MATLAB"})
      if (line.rfind(key, 0) == 0) {
        std::printf("%s\n", line.c_str());
        break;
      }
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");  // files and logger commands always use the C number format

  CLI::App app{"KLX logger host software: command-line tool"};
  app.require_subcommand(1);
  app.fallthrough();  // the global flags may also follow the command
  Common common;
  app.add_option("--dir", common.directory,
                 "Program directory holding klx.ini and the data folders (default: current)");
  app.add_flag("--yes", common.yes, "Answer yes to every question");
  app.add_flag("--no", common.no, "Answer no to every question");
  app.add_flag("-q,--quiet", common.quiet, "Do not print status messages");

  auto* ports = app.add_subcommand("ports", "List port numbers and the devices behind them");
  bool probe = false;
  ports->add_flag("--probe", probe, "Try to open each port and say whether it opens");
  auto* identify = app.add_subcommand("identify",
                                      "Identify the logger: model, firmware, "
                                      "serial number, capabilities, channels");
  identify->add_option("--port", common.port, "COM<n>, a device path or sim:<model>");

  RetrieveOptions retrieveOptions;
  auto* retrieve = app.add_subcommand("retrieve",
                                      "Retrieve the logger's memory, decode it and "
                                      "save the hex and dat files");
  retrieve->add_option("--port", common.port, "COM<n>, a device path or sim:<model>");
  retrieve->add_flag("--all", retrieveOptions.all, "Retrieve 100% of the memory");
  auto* stop = retrieve->add_flag("--stop", retrieveOptions.stop, "Stop a logging logger first");
  auto* suspend = retrieve->add_flag("--suspend", retrieveOptions.suspend,
                                     "Suspend a logging logger and resume it afterwards");
  auto* keep = retrieve->add_flag("--keep", retrieveOptions.keep, "Leave a logging logger running");
  stop->excludes(suspend)->excludes(keep);
  suspend->excludes(keep);
  retrieve->add_option("--out", retrieveOptions.out, "Write the hex and dat files into DIR");
  retrieve->add_flag("--mat", retrieveOptions.mat, "Also write the MAT file");
  retrieve->add_flag("--nc", retrieveOptions.nc, "Also write the NetCDF (CF) file");
  retrieve->add_option("--utc-offset", retrieveOptions.utcOffset,
                       "The logger clock's offset from UTC for the NetCDF file, +HH:MM "
                       "(default: this computer's at the retrieval)");
  retrieve->add_option("--comment", retrieveOptions.comment,
                       "The comment saved with the data (at most 99 characters)");
  retrieve
      ->add_option("--append", retrieveOptions.append,
                   "Append to this dat file (its hex file is taken from the HEX directory, or "
                   "from --out); add --yes to let the files be rewritten")
      ->excludes(retrieve->get_option("--all"));
  retrieve
      ->add_flag("--resume", retrieveOptions.resume,
                 "Continue an interrupted retrieval of this logger from its last good block")
      ->excludes(retrieve->get_option("--append"));

  ConvertOptions convertOptions;
  auto* convert =
      app.add_subcommand("convert", "Re-read a hex, dat or MAT file and write another form");
  convert->add_option("file", convertOptions.file, "The .hex, .dat or .mat file")->required();
  convert->add_option("--to", convertOptions.to, "dat, mat or nc (NetCDF, CF conventions)")
      ->required();
  convert->add_option("--layout", convertOptions.layout,
                      "Dat layout: N (values), A (time), E (date and time)");
  convert->add_option("--out", convertOptions.out, "The file to write");
  convert->add_option("--utc-offset", convertOptions.utcOffset,
                      "nc: the logger clock's offset from UTC, +HH:MM (default: this "
                      "computer's at the retrieval)");

  WavesOptions wavesOptions;
  auto* waves = app.add_subcommand(
      "waves",
      "Analyse the wave bursts of a tide-and-wave logger's file and write its wave and "
      "tide files");
  waves->add_option("file", wavesOptions.file, "The .hex or .dat file")->required();
  waves->add_flag("--csv", wavesOptions.csv, "Also write the bursts as a csv file");
  waves->add_option("--out", wavesOptions.out,
                    "Write the files into DIR/nmj (default: the program directory's nmj folder)");

  auto runDeployment = klx::cli::AddDeploymentCommands(
      app, {&common.directory, &common.port, &common.yes, &common.no, &common.quiet});
  auto runCalibration = klx::cli::AddCalibrationCommands(
      app, {&common.directory, &common.port, &common.yes, &common.no, &common.quiet});
  auto runCards = klx::cli::AddCardCommands(
      app, {&common.directory, &common.port, &common.yes, &common.no, &common.quiet});
  auto runScript = klx::cli::AddScriptCommands(
      app, {&common.directory, &common.port, &common.yes, &common.no, &common.quiet});
  auto runMicrosal = klx::cli::AddMicrosalCommands(
      app, {&common.directory, &common.port, &common.yes, &common.no, &common.quiet});

  DerivedOptions derivedOptions;
  auto* derived = app.add_subcommand(
      "derived", "Show or change the derived quantities (and the MAT time form) in the settings");
  derived->add_option("--depth", derivedOptions.depth, "seawater, simplified or off");
  derived->add_option("--salinity", derivedOptions.salinity, "on or off");
  derived->add_option("--density", derivedOptions.density, "Density anomaly: on or off");
  derived->add_option("--specific-conductivity", derivedOptions.specific, "on or off");
  derived->add_option("--conductivity-correction", derivedOptions.correction, "on or off");
  derived->add_option("--sos", derivedOptions.sos,
                      "Speed of sound: wilson,delgrosso,unesco or off");
  derived->add_option("--oxygen", derivedOptions.oxygen, "Dissolved oxygen: umol,mgl,mll or off");
  derived->add_option("--optode-saturation", derivedOptions.optodeSaturation, "on or off");
  derived->add_option("--optode-concentration", derivedOptions.optodeConcentration,
                      "mgl, mll or off");
  derived->add_option("--latitude", derivedOptions.latitude, "DEGREES:MINUTES");
  derived->add_option("--atmospheric", derivedOptions.atmospheric, "Atmospheric pressure, dbar");
  derived->add_option("--water-density", derivedOptions.waterDensity, "Water density, g/cm3");
  derived->add_option("--hydrostatic", derivedOptions.hydrostatic,
                      "Hydrostatic pressure without a pressure channel, dbar");
  derived->add_option("--do-temperature", derivedOptions.doTemperature,
                      "Temperature for oxygen without a temperature channel");
  derived->add_option("--do-salinity", derivedOptions.doSalinity,
                      "Salinity for oxygen without a conductivity channel");
  derived->add_option("--mat-times", derivedOptions.matTimes, "start (one time) or each (per row)");
  derived->add_option("--mat-format", derivedOptions.matFormat, "text or datenum");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (common.yes && common.no) {
    std::fprintf(stderr, "--yes and --no exclude each other\n");
    return kExitUsage;
  }
  if (*ports) return Ports(common, probe);
  if (*identify) return Identify(common);
  if (*retrieve) return Retrieve(common, retrieveOptions);
  if (*convert) return Convert(common, convertOptions);
  if (*waves) return Waves(common, wavesOptions);
  if (*derived) return Derived(common, derivedOptions);
  if (const int rc = runDeployment(); rc >= 0) return rc;
  if (const int rc = runCalibration(); rc >= 0) return rc;
  if (const int rc = runCards(); rc >= 0) return rc;
  if (const int rc = runScript(); rc >= 0) return rc;
  if (const int rc = runMicrosal(); rc >= 0) return rc;
  return kExitUsage;
}
