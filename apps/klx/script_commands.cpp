#include "script_commands.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "cli_run.h"
#include "scripts/configuration_script.h"
#include "scripts/rcfg.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx::cli {
namespace {

struct Options {
  CLI::App* command = nullptr;
  std::string file;
  std::string encipher;
  std::string out;
};

// A clear-text script is a few short lines.
constexpr std::streamsize kMaxClearBytes = 16 * 1024;

int Encipher(const DeploymentCliContext& c, const Options& o) {
  if (o.out.empty() || !o.file.empty()) {
    std::fprintf(stderr, "script --encipher CLEAR.txt needs --out FILE.rcfg and no script file\n");
    return kExitUsage;
  }
  std::ifstream in(o.encipher, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "Unable to read %s\n", o.encipher.c_str());
    return kExitFailed;
  }
  std::string clear(static_cast<size_t>(kMaxClearBytes) + 1, '\0');
  in.read(clear.data(), kMaxClearBytes + 1);
  clear.resize(static_cast<size_t>(in.gcount()));
  if (clear.size() > static_cast<size_t>(kMaxClearBytes)) {
    std::fprintf(stderr, "%s is too large for a configuration script\n", o.encipher.c_str());
    return kExitFailed;
  }
  // A script the program would refuse is not made.
  const std::optional<int> serial = ScriptSerialNumber(clear);
  if (!serial) {
    std::fprintf(stderr,
                 "%s: a script needs a \"Serial number=\" line with the logger's number, and "
                 "no line longer than 79 characters\n",
                 o.encipher.c_str());
    return kExitFailed;
  }
  if (!FileNameCarriesSerial(o.out, *serial)) {
    std::fprintf(stderr, "--out: the file name must carry the serial number %s\n",
                 Format("%06d", *serial).c_str());
    return kExitUsage;
  }
  TerminalHost host(ForcedAnswer(c.yes && *c.yes, c.no && *c.no), c.quiet && *c.quiet);
  if (!MayOverwrite(host, "Write File", o.out)) return kExitFailed;
  if (!WriteTextFileAtomically(o.out, EncipherScript(clear))) {
    std::fprintf(stderr, "Unable to write %s\n", o.out.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int Apply(const DeploymentCliContext& c, const Options& o) {
  if (o.file.empty() || !o.out.empty()) {
    std::fprintf(stderr, "script needs FILE.rcfg (or --encipher CLEAR.txt --out FILE.rcfg)\n");
    return kExitUsage;
  }
  CliRun run(c.directory ? *c.directory : std::string(),
             ForcedAnswer(c.yes && *c.yes, c.no && *c.no), c.quiet && *c.quiet);
  if (!run.ok) return kExitFailed;
  if (c.port && !run.UsePort(*c.port)) return kExitUsage;
  const bool quiet = c.quiet && *c.quiet;
  ScriptOptions options;
  options.waitWindow = [quiet](const std::string& text) {
    if (quiet || text.empty()) return;
    std::fprintf(stderr, "%s\n", text.substr(0, text.find('\n')).c_str());
  };
  Session& s = run.session;
  switch (RunConfigurationScriptCommand(o.file, s.logger, s.calibration, options)) {
    case ScriptOutcome::Applied:
    case ScriptOutcome::Unchanged:
      return kExitOk;
    case ScriptOutcome::Declined:
      std::fprintf(stderr, "Nothing written\n");
      return kExitFailed;
    default:
      return kExitFailed;
  }
}

}  // namespace

std::function<int()> AddScriptCommands(CLI::App& app, const DeploymentCliContext& context) {
  auto o = std::make_shared<Options>();
  o->command = app.add_subcommand(
      "script", "Apply a configuration script (.rcfg) to the logger, or encipher one");
  o->command->add_option("file", o->file, "The .rcfg script to apply");
  o->command->add_option("--port", *context.port, "COM<n>, a device path or sim:<model>");
  o->command->add_option("--encipher", o->encipher, "Encipher this clear-text script");
  o->command->add_option("--out", o->out, "The .rcfg file --encipher writes");
  return [o, context]() -> int {
    if (!o->command->parsed()) return -1;
    return o->encipher.empty() ? Apply(context, *o) : Encipher(context, *o);
  };
}

}  // namespace klx::cli
