#include "calibration_commands.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>

#include "calibration/command.h"
#include "calibration/history.h"
#include "calibration/read.h"
#include "calibration/write.h"
#include "cli_run.h"
#include "decoding/channel_types.h"
#include "session/session.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx::cli {
namespace {

struct Options {
  CLI::App* show = nullptr;
  CLI::App* set = nullptr;
  CLI::App* history = nullptr;
  int channel = 0;  // from 1
  std::string coefficients;
  std::string correction;
  std::string out;
};

// Four comma-separated finite numbers.
std::optional<std::array<double, 4>> ParseFour(const std::string& text) {
  std::array<double, 4> values{};
  std::stringstream in(text);
  std::string item;
  size_t n = 0;
  while (std::getline(in, item, ',')) {
    if (n == 4 || !ParseCoefficient(item, values[n])) return std::nullopt;
    size_t used = 0;
    LeadingDouble(item, &used);
    if (item.find_first_not_of(" \t", used) != std::string::npos) return std::nullopt;
    ++n;
  }
  if (n != 4) return std::nullopt;
  return values;
}

struct Run : ContextRun {
  using ContextRun::ContextRun;
  // Connects, checks the logger may be calibrated now and reads its coefficients.
  bool Open() {
    LoggerLink& logger = session.logger;
    if (!logger.ConnectCommand()) return false;
    logger.AssessCapabilities();
    if (!CalibrationAccessAllowed(logger)) return false;
    if (!PrepareCalibrationView(logger, session.calibration)) {
      std::fprintf(stderr, "Unable to read the configuration of the logger\n");
      return false;
    }
    return true;
  }
};

void PrintTable(Session& s) {
  const LoggerLink& logger = s.logger;
  const CalibrationCoefficients& cal = s.calibration;
  std::printf("Logger: %s %.2f %06d\n", logger.state.model.c_str(),
              static_cast<double>(logger.state.firmware), logger.state.serial);
  const char* origin = cal.origin == CalibrationOrigin::Logger ? "read from the logger"
                       : cal.origin == CalibrationOrigin::Uncalibrated
                           ? "not yet calibrated: defaults"
                           : "read failed: defaults";
  std::printf("Coefficients:  %s\n", origin);
  if (cal.origin == CalibrationOrigin::Logger &&
      GenerationOf(logger.state) != CalibrationGeneration::SingleChannel) {
    const auto& d = cal.calibrationDate;
    std::printf("Calibrated:    %04d-%02d-%02d %02d:%02d:%02d\n", d[0] + 2000, d[1], d[2], d[3],
                d[4], d[5]);
  }
  const int rows = CalibrationRows(logger.state);
  for (int n = 0; n < rows; ++n) {
    const auto& r = cal.coef[static_cast<size_t>(n)];
    std::string label = ChannelLabel(TypeRowOfChannel(logger.state, n), n + 1);
    if (label.empty()) label = Format("%2d", n + 1);
    std::printf("%-28s %s\n", label.c_str(),
                CFormat("%.15g %.15g %.15g %.15g", r[0], r[1], r[2], r[3]).c_str());
  }
  if (HasConductivityCorrection(logger.state)) {
    const auto& c = cal.conductivityCorrection;
    std::printf("Conductivity correction a, b, Tc, c: %s\n",
                CFormat("%.7g %.7g %.7g %.7g", c[0], c[1], c[2], c[3]).c_str());
  }
}

int Show(const DeploymentCliContext& c) {
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Open()) return kExitFailed;
  PrintTable(run.session);
  return run.session.calibration.origin == CalibrationOrigin::ReadFailed ? kExitFailed : kExitOk;
}

int Set(const DeploymentCliContext& c, const Options& o) {
  std::optional<std::array<double, 4>> row, correction;
  if (!o.coefficients.empty() && !(row = ParseFour(o.coefficients))) {
    std::fprintf(stderr, "--coefficients takes four finite numbers C0,C1,C2,C3\n");
    return kExitUsage;
  }
  if (!o.correction.empty() && !(correction = ParseFour(o.correction))) {
    std::fprintf(stderr, "--correction takes four finite numbers A,B,TC,C\n");
    return kExitUsage;
  }
  if (!row && !correction) {
    std::fprintf(stderr, "calibration set needs --coefficients or --correction\n");
    return kExitUsage;
  }
  if (row && o.channel < 1) {
    std::fprintf(stderr, "--coefficients needs --channel N (from 1)\n");
    return kExitUsage;
  }
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Open()) return kExitFailed;
  Session& s = run.session;
  CalibrationCoefficients& cal = s.calibration;
  const int rows = CalibrationRows(s.logger.state);
  if (row && o.channel > rows) {
    std::fprintf(stderr, "--channel: this logger has %d channel%s\n", rows, rows == 1 ? "" : "s");
    return kExitUsage;
  }
  if (correction && !HasConductivityCorrection(s.logger.state)) {
    std::fprintf(stderr, "This logger keeps no conductivity correction\n");
    return kExitUsage;
  }
  CoefficientRows working = cal.coef;
  if (row) working[static_cast<size_t>(o.channel - 1)] = *row;
  unsigned flags = EditedFlag(cal, working, rows);
  if (correction && *correction != cal.conductivityCorrection) flags |= 2u;
  if (s.host.Ask("Calibration", "Are you sure you wish to load these constants?", Buttons::YesNo,
                 BoxIcon::Question, Answer::No) != Answer::Yes) {
    std::fprintf(stderr, "Nothing written\n");
    return kExitFailed;
  }
  const CalibrationCoefficients before = cal;
  cal.coef = working;
  if (correction) cal.conductivityCorrection = *correction;
  cal.calibrationWriteFlags = flags;
  const CalibrationWrite result = ApplyCalibration(s.logger, cal);
  if (result != CalibrationWrite::Written) {
    // The logger keeps what it held; so does the table shown.
    cal.coef = before.coef;
    cal.conductivityCorrection = before.conductivityCorrection;
    return kExitFailed;
  }
  PrintTable(s);
  return kExitOk;
}

int History(const DeploymentCliContext& c, const Options& o) {
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  Session& s = run.session;
  if (!s.logger.ConnectCommand()) return kExitFailed;
  s.logger.AssessCapabilities();
  if (!CalibrationAccessAllowed(s.logger, CalibrationAccess::History)) return kExitFailed;
  const std::filesystem::path folder =
      o.out.empty() ? s.CalibrationHistoryFolder() : std::filesystem::path(o.out);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  CalibrationHistory history;
  const HistoryResult result = WriteCalibrationHistory(s.logger, folder, history);
  for (const std::string& line : history.lines) std::printf("%s\n", line.c_str());
  if (result == HistoryResult::Error) return kExitFailed;
  s.calibrationHistoryFile = history.file;
  return kExitOk;
}

}  // namespace

std::function<int()> AddCalibrationCommands(CLI::App& app, const DeploymentCliContext& context) {
  auto o = std::make_shared<Options>();
  auto* cal = app.add_subcommand("calibration",
                                 "Show, set or list the history of the logger's calibration");
  cal->require_subcommand(1);
  o->show = cal->add_subcommand("show", "Show every channel's calibration coefficients");
  o->show->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->set = cal->add_subcommand(
      "set", "Write one channel's coefficients (or the conductivity correction) to the logger");
  o->set->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->set->add_option("--channel", o->channel, "The channel, numbered from 1");
  o->set->add_option("--coefficients", o->coefficients, "C0,C1,C2,C3");
  o->set->add_option("--correction", o->correction,
                     "Conductivity correction A,B,TC,C (loggers that keep one)");
  o->history = cal->add_subcommand(
      "history", "List the logger's calibration records and write the history file");
  o->history->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->history->add_option("--out", o->out,
                         "Write the history file into DIR (default: the dat folder)");
  return [o, context]() -> int {
    if (*o->show) return Show(context);
    if (*o->set) return Set(context, *o);
    if (*o->history) return History(context, *o);
    return -1;
  };
}

}  // namespace klx::cli
