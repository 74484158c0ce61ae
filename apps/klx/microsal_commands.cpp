#include "microsal_commands.h"

#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli_run.h"
#include "microsal/run.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx::cli {
namespace {

struct Options {
  CLI::App* command = nullptr;
  int average = 0;  // 0: the settings file's
  std::string file;
  std::string comment;
  std::string information;
  double seconds = 0;  // 0: until interrupted
  bool standardize = false;
  std::string batch;
  double k15 = 0;
  double zeroSeconds = 0;      // 0: wait for Enter
  double standardSeconds = 0;  // 0: wait for Enter
};

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) {
  interrupted = 1;
}

enum class Typed { Nothing, Line, End };

// Whether a line was typed on stdin (read and dropped), or stdin has ended.
Typed ReadTyped() {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLHUP))) return Typed::Nothing;
  std::string line;
  return std::getline(std::cin, line) ? Typed::Line : Typed::End;
}

std::string SecondLine(const SystemTime& t, const MicrosalMeasurement& m) {
  const MicrosalReading& mean = m.Means();
  return CFormat("%02d:%02d:%02d  T=%.4f  Rt=%.5f  S=%.4f  sd=%.5f  %s", t.hour, t.minute,
                 t.second, mean.temperature, mean.ratio, mean.salinity, m.StandardDeviation(),
                 m.Settled() ? "settled" : "settling");
}

struct MicrosalCli : ContextRun {
  MicrosalCli(const DeploymentCliContext& c, const Options& o)
      : ContextRun(c), options(o), run(session.logger, clock, session.calibration) {}

  // Polls the run and prints a line each second until `until` says stop (or an interrupt, or
  // `limitSeconds` of the whole run). False when interrupted or out of time.
  bool Watch(const std::function<bool()>& until) {
    int64_t nextSecond = clock.MonotonicMs() + 1000;
    while (!interrupted) {
      run.Poll();
      const int64_t now = clock.MonotonicMs();
      if (now >= nextSecond) {
        nextSecond += 1000;
        run.SecondTick();
        if (run.state == MicrosalState::Setup)
          std::printf("%s\n", "HL-240 setup in progress");
        else
          std::printf("%s\n", SecondLine(clock.LocalTime(), run.measurement).c_str());
        std::fflush(stdout);
      }
      if (until && until()) return true;
      if (options.seconds > 0 && now - started >= static_cast<int64_t>(options.seconds * 1000))
        return !until;
      clock.SleepMs(20);
    }
    return false;
  }

  bool OpenCapture() {
    const std::string& file = options.file;
    if (!MayOverwrite(host, kCaptureCaption, file)) return false;
    const std::string header = SalHeaderText(MicrosalIdentityLine(session.logger.state),
                                             options.comment, clock.LocalTime(),
                                             run.standardization);
    if (!run.capture.Open(file, header)) {
      std::fprintf(stderr, "Unable to write %s\n", file.c_str());
      return false;
    }
    return true;
  }

  // Averages for `seconds` (the window set to that long), or until Enter.
  bool Phase(const char* prompt, double seconds) {
    const int64_t records = run.measurement.Records();
    if (seconds > 0) {
      run.SetAveragingSeconds(static_cast<int>(std::lround(seconds)));
      // A whole window of readings taken since the phase began.
      const int64_t want = run.measurement.Window();
      std::fprintf(stderr, "%s: averaging for %d s\n", prompt, run.measurement.AveragingSeconds());
      return Watch([&] { return run.measurement.Records() - records >= want; });
    }
    std::fprintf(stderr, "%s, then press Enter\n", prompt);
    bool ended = false, entered = false;
    // Enter captures at once, or as soon as the run has readings to average.
    const bool captured = Watch([&] {
      if (!entered) {
        const Typed typed = ReadTyped();
        ended = typed == Typed::End;
        entered = typed == Typed::Line;
      }
      return ended || (entered && run.measurement.Held() > 0);
    });
    if (ended) {
      std::fprintf(stderr, "No terminal to press Enter on: give --zero-seconds and "
                           "--standard-seconds\n");
      return false;
    }
    return captured;
  }

  int Standardize() {
    MicrosalStandardization next = run.standardization;
    next.batch = options.batch;
    next.k15 = options.k15;
    if (!Phase("Zero point: empty both cells", options.zeroSeconds)) return kExitFailed;
    run.CaptureZero(next, true);
    run.CaptureZero(next, false);
    if (!Phase("Fill the sample cell with Standard Seawater", options.standardSeconds))
      return kExitFailed;
    run.CaptureStandard(next);
    next.alpha = NewAlpha(next);
    std::printf("Vstandard(0)=%.7f Vsample(0)=%.7f Vstandard(1)=%.7f Vsample(1)=%.7f\n",
                next.standardZero, next.sampleZero, next.standardOne, next.sampleOne);
    std::printf("New alpha: %s\n", NewAlphaText(next.alpha).c_str());
    std::fflush(stdout);
    if (!run.SaveStandardization(next)) return kExitFailed;
    std::printf("Standard Seawater Batch=%s, K15=%.5f stored\n",
                run.standardization.batch.c_str(), run.standardization.k15);
    return kExitOk;
  }

  int Execute() {
    if (!ok) return kExitFailed;
    if (usage) return kExitUsage;
    run.measurement.SetAveragingSeconds(options.average > 0
                                            ? options.average
                                            : session.settings.microSalinometerAverage);
    run.sampleInformation = options.information;
    if (!run.Start()) return kExitFailed;
    started = clock.MonotonicMs();
    std::signal(SIGINT, OnInterrupt);
    int rc = kExitOk;
    if (!options.file.empty() && !OpenCapture()) rc = kExitFailed;
    if (rc == kExitOk) {
      if (options.standardize)
        rc = Standardize();
      else
        Watch({});
    }
    std::signal(SIGINT, SIG_DFL);
    run.Stop();
    return rc;
  }

  const Options& options;
  MicrosalRun run;
  int64_t started = 0;
};

int Microsal(const DeploymentCliContext& context, const Options& o) {
  if (o.standardize) {
    if (o.batch.empty() || o.batch.size() > kMicrosalBatchLength) {
      std::fprintf(stderr, "--standardize needs --batch with 1 to 8 characters\n");
      return kExitUsage;
    }
    if (!std::isfinite(o.k15) || o.k15 <= 0) {
      std::fprintf(stderr, "--standardize needs --k15, a positive number\n");
      return kExitUsage;
    }
  }
  if (o.zeroSeconds < 0 || o.standardSeconds < 0 || o.seconds < 0) {
    std::fprintf(stderr, "times are in seconds, 0 or more\n");
    return kExitUsage;
  }
  MicrosalCli cli(context, o);
  return cli.Execute();
}

}  // namespace

std::function<int()> AddMicrosalCommands(CLI::App& app, const DeploymentCliContext& context) {
  auto o = std::make_shared<Options>();
  auto* c = app.add_subcommand(
      "microsal", "Run the HL-240 micro-salinometer: live salinity, capture file, standardization");
  o->command = c;
  c->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  c->add_option("--average", o->average, "Averaging window, 1 to 60 seconds (default: settings)");
  c->add_option("--file", o->file, "Capture rows into this .sal file");
  c->add_option("--comment", o->comment, "Comment for the capture file's header");
  c->add_option("--info", o->information, "Sample information for the capture rows");
  c->add_option("--seconds", o->seconds, "Stop after this long (default: until Ctrl-C)");
  c->add_flag("--standardize", o->standardize, "Standardize against Standard Seawater");
  c->add_option("--batch", o->batch, "Standard Seawater batch label");
  c->add_option("--k15", o->k15, "K15 of the Standard Seawater batch");
  c->add_option("--zero-seconds", o->zeroSeconds, "Average the zero point this long (default: Enter)");
  c->add_option("--standard-seconds", o->standardSeconds,
                "Average the Standard Seawater this long (default: Enter)");
  return [o, context]() -> int { return *o->command ? Microsal(context, *o) : -1; };
}

}  // namespace klx::cli
