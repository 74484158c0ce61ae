#include "deployment_commands.h"

#include <array>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "calibration/read.h"
#include "cli_run.h"
#include "deployment/enable.h"
#include "deployment/status.h"
#include "deployment/thresholds.h"
#include "deployment/validation.h"
#include "files/channel_text.h"
#include "realtime/collection.h"
#include "session/session.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "terminal_host.h"
#include "waves/setup_checks.h"

namespace klx::cli {
namespace {

struct SetupOptions {
  std::string start;
  std::string end;
  std::string period;
  int averaging = -1;
  std::string threshold;
  std::string autorun;  // "on", "off" or empty: as the logger has it
  std::string led;      // "on", "off" or empty: as the logger has it
  bool erase = false;
  bool keepData = false;
  bool yes = false;
  bool realtime = false;     // real-time output on
  std::string realtimeFile;  // empty: the proposed name in the hex (or dat) folder
  // Tide-and-wave loggers: empty/negative keeps what the logger has.
  std::string waves;          // "on" or "off"
  int burstLength = -1;       // 512 .. 8192
  std::string burstInterval;  // HH:MM:SS
  int waveRate = -1;          // Hz
  double height = -1.0;       // logger height above the bed, m
  double waterDepth = -1.0;   // expected mean water depth at the site, m
  double watch = 0;          // seconds of real-time display after the enable
};

struct RealTimeOptions {
  std::string file;
  std::string gps;
  double seconds = 0;   // 0: until interrupted
  int64_t samples = 0;  // 0: no limit
  bool noCommand = false;
};

struct Options {
  CLI::App* setup = nullptr;
  CLI::App* status = nullptr;
  CLI::App* stop = nullptr;
  CLI::App* clock = nullptr;
  CLI::App* realtime = nullptr;
  SetupOptions s;
  RealTimeOptions r;
  bool sync = false;
};

// One program run, with the --port of the command taken.
struct Run : ContextRun {
  using ContextRun::ContextRun;
  // Connects and reads what the deployment needs to know about the logger.
  bool Connect() {
    LoggerLink& logger = session.logger;
    if (!logger.ConnectCommand()) return false;
    AssessCapabilitiesForSetup(logger);
    logger.CommGet(16);
    return true;
  }
};

// "2027-01-10T12:00:00" (a blank for the T is accepted too).
std::optional<SystemTime> ParseTime(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &y, &mo, &d, &sep, &h, &mi, &s,
                  &tail) != 7 ||
      (sep != 'T' && sep != ' '))
    return std::nullopt;
  if (y < 2000 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 ||
      h < 0 || mi < 0 || s < 0)
    return std::nullopt;
  SystemTime t = MakeSystemTime(y, mo, d, h, mi, s);
  // Normalise (31 April becomes 1 May would surprise: refuse it instead).
  const SystemTime back = AddSeconds(t, 0);
  if (back.day != t.day || back.month != t.month) return std::nullopt;
  t.dayOfWeek = back.dayOfWeek;
  return t;
}

// "HH:MM:SS", 24:00:00 for one day.
std::optional<Period> ParsePeriod(const std::string& text) {
  int h = 0, m = 0, s = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &tail) != 3) return std::nullopt;
  const bool day = h == 24 && m == 0 && s == 0;
  if (!day && (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59)) return std::nullopt;
  return Period{static_cast<uint16_t>(h), static_cast<uint16_t>(m), static_cast<uint16_t>(s)};
}

std::string PeriodText(const Period& p) {
  return Format("%02d:%02d:%02d", p.hours, p.minutes, p.seconds);
}

// "CH:VALUE:above|below", channel from 1.
bool ParseThreshold(const std::string& text, int channels, DeploymentParameters& p) {
  int channel = 0;
  double value = 0;
  char sense[8] = {};
  if (std::sscanf(text.c_str(), "%d:%lf:%7s", &channel, &value, sense) != 3) return false;
  const std::string s(sense);
  if (channel < 1 || channel > channels || !std::isfinite(value) || (s != "above" && s != "below"))
    return false;
  p.thresholdChannel = channel - 1;
  p.thresholdValue = value;
  p.startMode = s == "above" ? kStartAboveThreshold : kStartBelowThreshold;
  p.powerCycledTest = 0;
  p.powerSavePeriod = {};
  p.averagingEnabled = false;
  return true;
}

void PrintSchedule(const Session& s, const ScheduleView& view) {
  const DeploymentParameters& p = s.deployment;
  std::printf("Logger status: %s\n", view.statusName.c_str());
  std::printf("Host time:     %s\n", DateDisplayText(view.hostTime).c_str());
  std::printf("Logger time:   %s\n", DateDisplayText(view.loggerClock).c_str());
  std::printf("Start:         %s\n", DateDisplayText(p.startTime).c_str());
  std::printf("End:           %s\n", DateDisplayText(p.endTime).c_str());
  std::printf("Period:        %s\n",
              PeriodFieldText(SystemTime{2000, 1, 6, 1, p.samplePeriod.hours,
                                         p.samplePeriod.minutes, p.samplePeriod.seconds, 0},
                              p.profiling6Hz)
                  .c_str());
}

int Status(const DeploymentCliContext& c) {
  Run run(c, false);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect()) return kExitFailed;
  LoggerSetup setup(run.session.logger, run.session.clock, run.session.batchValues);
  if (setup.Open() < 0) return kExitFailed;
  PrintSchedule(run.session, setup.view);
  if (run.session.logger.CommGet(6) == 1) {
    const std::string usage =
        MemoryUsageText(run.session.logger.state, run.session.logger.ReplyText());
    if (!usage.empty()) std::printf("Memory usage:  %s\n", usage.c_str());
  }
  if (!setup.view.message.empty()) std::fprintf(stderr, "%s\n", setup.view.message.c_str());
  return kExitOk;
}

int Stop(const DeploymentCliContext& c) {
  Run run(c, false);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect()) return kExitFailed;
  LoggerLink& logger = run.session.logger;
  if (logger.CommSet(13) != 1) return kExitFailed;
  std::array<uint8_t, 121> buffer{};
  logger.link().LinkRead(buffer.data(), 120);
  logger.deployment().realtimeOutput = false;
  logger.CommSet(19);
  if (logger.CommGet(9) != 1) {
    std::fprintf(stderr, "Error: Status read incorrectly\n");
    return kExitFailed;
  }
  std::printf("Logger status: %s\n", StatusName(logger.status.code));
  return StatusIsIdle(logger.status.code) ? kExitOk : kExitFailed;
}

int Clock(const DeploymentCliContext& c, bool sync) {
  Run run(c, false);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect()) return kExitFailed;
  LoggerLink& logger = run.session.logger;
  if (sync && !SynchroniseClock(logger, run.session.clock)) return kExitFailed;
  if (!sync && logger.CommGet(1) != 1) return kExitFailed;
  std::printf("Host time:   %s\n", DateDisplayText(run.session.clock.LocalTime()).c_str());
  std::printf("Logger time: %s\n", DateDisplayText(logger.loggerClock).c_str());
  return kExitOk;
}

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) {
  g_interrupted = 1;
}

// The real-time file the command line answers the file choice with: the one named, or the
// proposed name in the hex (or dat) folder.
void AnswerRealTimeFile(CliRun& run, const std::string& named) {
  if (named.empty())
    run.host.acceptProposal = true;
  else
    run.host.nextFile = named;
}

// Runs the real-time display on the terminal: one line per sample (date-time, every measured
// and derived value, the GPS position), until the time or sample limit or Ctrl-C.
int WatchRealTime(Run& run, double seconds, int64_t samples) {
  Session& s = run.session;
  if (!s.RealTimeActive()) return kExitFailed;
  RealTimeRun& rt = *s.realTime;
  std::string names = "Date     Time    ";
  const std::string& letters = rt.Data().logger.channelTypes;
  for (int ch = 0; ch < rt.Data().channelCount; ++ch)
    names += files::ShortNameOfLetter(ch < static_cast<int>(letters.size())
                                          ? static_cast<uint8_t>(letters[static_cast<size_t>(ch)])
                                          : 'U');
  const std::string gps = rt.GpsActive() ? ", GPS to " + rt.Files().gps.string() : "";
  std::printf("Real-time data to %s%s\n%s\n", rt.Files().data.c_str(), gps.c_str(), names.c_str());
  std::fflush(stdout);
  g_interrupted = 0;
  run.host.statusLines = false;  // each sample's line goes to stdout
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  const int64_t until =
      seconds > 0 ? s.clock.MonotonicMs() + static_cast<int64_t>(seconds * 1000) : INT64_MAX;
  while (!g_interrupted && s.clock.MonotonicMs() < until &&
         (samples <= 0 || rt.sampleCount < samples)) {
    s.clock.SleepMs(rt.TickPeriodMs());
    const int64_t before = rt.sampleCount;
    rt.Tick();
    if (rt.sampleCount != before) {
      std::printf("%s\n", rt.lastLine.c_str());
      std::fflush(stdout);
    }
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  run.host.statusLines = true;
  s.EndRealTime();
  std::printf("%lld samples stored in %s\n", static_cast<long long>(rt.sampleCount),
              rt.Files().data.c_str());
  return kExitOk;
}

int RealTime(const DeploymentCliContext& c, const RealTimeOptions& o) {
  Run run(c, false);
  if (run.Prepared() != kExitOk) return run.Prepared();
  Session& s = run.session;
  if (!o.gps.empty()) {
    std::string error;
    const int gps = s.ports.NumberFor(o.gps);
    if (gps <= 0) {
      std::fprintf(stderr, "--gps: %s cannot be given a port number\n", o.gps.c_str());
      return kExitUsage;
    }
    s.link.gpsPort = gps;
  }
  if (!run.Connect()) return kExitFailed;
  AnswerRealTimeFile(run, o.file);
  if (!s.RestartRealTime(!o.noCommand)) {
    std::fprintf(stderr, "Real-time display not started.\n");
    return kExitFailed;
  }
  return WatchRealTime(run, o.seconds, o.samples);
}

int Setup(const DeploymentCliContext& c, const SetupOptions& o) {
  // Check what can be checked before the logger is touched.
  const bool now = o.start == "now";
  const std::optional<SystemTime> start = now ? std::nullopt : ParseTime(o.start);
  const std::optional<SystemTime> end = ParseTime(o.end);
  const std::optional<Period> period = ParsePeriod(o.period);
  if ((!now && !start) || !end || !period) {
    std::fprintf(stderr,
                 "--start takes YYYY-MM-DDTHH:MM:SS or now, --end YYYY-MM-DDTHH:MM:SS, "
                 "--period HH:MM:SS\n");
    return kExitUsage;
  }
  if (o.erase && o.keepData) {
    std::fprintf(stderr, "--erase and --keep-data exclude each other\n");
    return kExitUsage;
  }
  Run run(c, o.yes);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect()) return kExitFailed;
  Session& s = run.session;
  LoggerSetup setup(s.logger, s.clock, s.batchValues);
  const int status = setup.Open();
  if (status < 0) return kExitFailed;
  // A suspended logger's deployment may go on ("Resume/Enable"); any other is programmed anew
  // and checked in full.
  setup.resuming = status == 5;
  if (o.keepData && !setup.resuming) {
    std::fprintf(stderr,
                 "--keep-data continues a suspended deployment; this logger's status is \"%s\".\n",
                 StatusName(status));
    return kExitFailed;
  }

  DeploymentParameters& p = s.deployment;
  // The command line never inhibits data storage (the desktop program's "Enabled - NO data
  // storage"): a flag left from an earlier deployment is cleared.
  p.startFlags &= ~1u;
  p.startMode = now ? kStartNow : kStartAtTime;
  if (start) p.startTime = *start;
  p.endTime = *end;
  p.samplePeriod = *period;
  p.profiling6Hz = false;
  if (o.averaging >= 0) {
    p.averagingEnabled = o.averaging > 0;
    p.averagingSeconds = static_cast<uint32_t>(o.averaging);
  }
  // Autorun and the sampling LED keep the logger's settings (read by Open) unless asked.
  const LoggerState& state = s.logger.state;
  if (!o.autorun.empty()) {
    if (!state.HasTwelveCommands() || !state.oemSupport) {
      std::fprintf(stderr, "This logger has no automatic start on power-up.\n");
      return kExitFailed;
    }
    setup.autorun = o.autorun == "on";
  }
  if (!o.led.empty()) {
    if (!state.HasTwelveCommands() || !state.SamplingLed()) {
      std::fprintf(stderr, "This logger does not have a sampling LED\n");
      return kExitFailed;
    }
    setup.samplingLed = o.led == "on";
  }
  if (!o.threshold.empty()) {
    if (!ParseThreshold(o.threshold, s.logger.state.channelCount, p)) {
      std::fprintf(stderr, "--threshold takes CHANNEL:VALUE:above|below (channel from 1)\n");
      return kExitUsage;
    }
    if (!s.logger.state.conventionalThresholding && !s.logger.state.powerSaveThresholding &&
        !s.logger.state.IsVS()) {
      std::fprintf(stderr, "This logger has no threshold start.\n");
      return kExitFailed;
    }
    ReadCalibration(s.logger, s.calibration);
    if (AcceptThreshold(p, s.logger.state, s.calibration, s.host) == ThresholdCheck::Refused) {
      std::fprintf(stderr, "Threshold not accepted.\n");
      return kExitFailed;
    }
    setup.calibration = &s.calibration;
    std::printf("Threshold: %s\n", ThresholdSummary(p, s.logger.state).c_str());
  }

  const bool waveOptions = !o.waves.empty() || o.burstLength >= 0 || !o.burstInterval.empty() ||
                           o.waveRate >= 0 || o.height >= 0 || o.waterDepth >= 0;
  if (waveOptions) {
    if (!TideAndWaveLogger(state)) {
      std::fprintf(stderr, "This logger takes no wave bursts.\n");
      return kExitFailed;
    }
    if (!o.waves.empty()) p.waveEnabled = o.waves == "on";
    if (o.burstLength >= 0) p.burstLength = o.burstLength;
    if (!o.burstInterval.empty()) {
      const std::optional<Period> interval = ParsePeriod(o.burstInterval);
      if (!interval) {
        std::fprintf(stderr, "--burst-interval takes HH:MM:SS\n");
        return kExitUsage;
      }
      p.burstInterval = *interval;
    }
    if (o.waveRate >= 0) p.waveRateHz = o.waveRate;
    if (o.height >= 0) p.loggerHeight = o.height;
    if (o.waterDepth >= 0) p.expectedWaterDepth = o.waterDepth;
  }

  const ValidationResult v = setup.Validate();
  if (v.code != kValidationOk) {
    std::fprintf(stderr, "%s (code %d)\n", v.message.c_str(), v.code);
    return kExitFailed;
  }
  // A too-many-samples suggestion that was accepted changed the plan; the setup goes on with it.
  if (v.suggestionAccepted)
    std::printf("Accepted: end %s, period %s\n", DateDisplayText(p.endTime).c_str(),
                PeriodText(p.samplePeriod).c_str());
  const UsageEstimate e = EstimateUsage(p, s.logger.state, setup.view.loggerClock);
  std::printf("%s\n", e.text.c_str());
  if (TideAndWaveLogger(state)) {
    // The wave plan's own checks, as the setup dialog runs them: an error stops the setup.
    const TideAndWaveCheck w = CheckTideAndWavePlan(p, e.memoryPercent, e.batteryMah);
    if (!w.bandwidth.empty()) std::printf("%s\n", w.bandwidth.c_str());
    if (w.level == TideAndWaveCheck::Error) {
      std::fprintf(stderr, "%s\n", w.message.c_str());
      return kExitFailed;
    }
    if (!w.message.empty()) std::printf("%s\n", w.message.c_str());
  }

  if (o.realtime) {
    if (!state.externalDataConnector) {
      std::fprintf(stderr, "This logger has no real-time output.\n");
      return kExitFailed;
    }
    p.realtimeOutput = true;
    setup.calibrationRead = ReadCalibration(s.logger, s.calibration) == CalibrationRead::Succeeded;
    setup.prepareRealTime = [&s](DeploymentParameters& q) { return s.PrepareRealTime(q); };
    AnswerRealTimeFile(run, o.realtimeFile);
  } else {
    p.realtimeOutput = false;
  }
  setup.eraseAccepted = o.erase;
  setup.logDirectory = s.settings.ProgramDirectory();
  if (o.keepData) setup.continueToAdd = true;
  EnableStep step = setup.PressEnable();
  while (step == EnableStep::Waiting) {
    s.clock.SleepMs(1000);
    step = setup.Tick();
  }
  switch (step) {
    case EnableStep::Enabled:
      std::printf("%s\n", setup.enabledMessage.c_str());
      break;
    case EnableStep::Resumed:
      std::printf("Logging resumed with the previous settings.\n");
      break;
    case EnableStep::ReturnToDialog:
      std::fprintf(stderr, "Not enabled.%s\n",
                   o.erase ? "" : " Add --erase to accept losing the logger's data.");
      return kExitFailed;
    default:
      return kExitFailed;
  }
  if (!o.realtime || o.watch <= 0) return kExitOk;
  if (!s.StartRealTime()) return kExitFailed;
  return WatchRealTime(run, o.watch, 0);
}

}  // namespace

std::function<int()> AddDeploymentCommands(CLI::App& app, const DeploymentCliContext& context) {
  auto o = std::make_shared<Options>();
  o->setup = app.add_subcommand("setup", "Program and enable a deployment");
  if (context.port)
    o->setup->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->setup->add_option("--start", o->s.start, "First sample: YYYY-MM-DDTHH:MM:SS or now")
      ->required();
  o->setup->add_option("--end", o->s.end, "End of logging: YYYY-MM-DDTHH:MM:SS")->required();
  o->setup->add_option("--period", o->s.period, "Sampling period HH:MM:SS (24:00:00: daily)")
      ->required();
  o->setup->add_option("--averaging", o->s.averaging, "Average over S seconds (0: none)")
      ->check(CLI::Range(0, 10800));
  o->setup->add_option("--waves", o->s.waves, "Tide-and-wave loggers: wave bursts on|off")
      ->check(CLI::IsMember({"on", "off"}));
  o->setup->add_option("--burst-length", o->s.burstLength,
                       "Samples per wave burst: 512, 1024, 2048, 4096 or 8192")
      ->check(CLI::IsMember({512, 1024, 2048, 4096, 8192}));
  o->setup->add_option("--burst-interval", o->s.burstInterval, "Time between wave bursts HH:MM:SS");
  o->setup->add_option("--wave-rate", o->s.waveRate, "Wave sampling rate: 1, 2 or 4 Hz")
      ->check(CLI::IsMember({1, 2, 4}));
  o->setup->add_option("--height", o->s.height, "Logger height above the bed, metres")
      ->check(CLI::Range(0.0, 1000.0));
  o->setup->add_option("--water-depth", o->s.waterDepth,
                       "Expected mean water depth at the site, metres (for the wave checks)")
      ->check(CLI::Range(0.0, 12000.0));
  o->setup->add_option(
      "--threshold", o->s.threshold,
      "Start when channel CH rises above or falls below VALUE: CH:VALUE:above|below");
  o->setup
      ->add_option("--autorun", o->s.autorun,
                   "Start automatically when battery or external power is switched on: on|off "
                   "(default: as the logger has it)")
      ->check(CLI::IsMember({"on", "off"}));
  o->setup->add_option("--led", o->s.led, "Sampling LED: on|off (default: as the logger has it)")
      ->check(CLI::IsMember({"on", "off"}));
  auto* erase = o->setup->add_flag("--erase", o->s.erase, "Erase the logger's data without asking");
  auto* keep = o->setup->add_flag("--keep-data", o->s.keepData,
                                  "Continue to add to the logger's deployment where it can");
  erase->excludes(keep);
  o->setup->add_flag("--yes", o->s.yes, "Answer yes to every question");
  auto* realtime = o->setup->add_flag("--realtime", o->s.realtime,
                                      "Real-time output: the logger sends each sample as it logs");
  o->setup
      ->add_option("--realtime-file", o->s.realtimeFile,
                   "File for the real-time data (default: <serial>Realtime.hex in the hex folder)")
      ->needs(realtime);
  o->setup
      ->add_option("--watch", o->s.watch,
                   "After the enable, show and file the real-time data for S seconds")
      ->needs(realtime)
      ->check(CLI::PositiveNumber);

  o->realtime = app.add_subcommand(
      "realtime", "Start the real-time display of a logger that logs with real-time output");
  if (context.port)
    o->realtime->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->realtime->add_option("--file", o->r.file,
                          "File for the real-time data (default: <serial>Realtime.hex)");
  o->realtime->add_option("--gps", o->r.gps,
                          "GPS receiver port (COM<n>, a device path or sim:GPS; default: the "
                          "settings' GPS port)");
  o->realtime->add_option("--seconds", o->r.seconds, "Stop after S seconds (default: Ctrl-C)")
      ->check(CLI::PositiveNumber);
  o->realtime->add_option("--samples", o->r.samples, "Stop after N samples")
      ->check(CLI::PositiveNumber);
  o->realtime->add_flag(
      "--no-command", o->r.noCommand,
      "Do not send the real-time output command again (the logger sends already)");

  o->status = app.add_subcommand("status", "Logger status, clock, schedule and memory usage");
  if (context.port)
    o->status->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->stop = app.add_subcommand("stop", "Stop logging");
  if (context.port)
    o->stop->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->clock = app.add_subcommand("clock", "Show the logger clock, or set it to the host clock");
  if (context.port)
    o->clock->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->clock->add_flag("--sync", o->sync, "Set the logger clock to the host clock");

  return [o, context]() -> int {
    if (*o->setup) return Setup(context, o->s);
    if (*o->status) return Status(context);
    if (*o->stop) return Stop(context);
    if (*o->clock) return Clock(context, o->sync);
    if (*o->realtime) return RealTime(context, o->r);
    return -1;
  };
}

}  // namespace klx::cli
