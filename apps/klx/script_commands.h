#pragma once
// The configuration-script command of the command-line tool: "script FILE.rcfg" applies an
// enciphered script to the connected logger (the changes are listed and confirmed with --yes,
// or on the terminal), "script --encipher CLEAR.txt --out FILE.rcfg" makes a script.
#include <CLI/CLI.hpp>
#include <functional>

#include "deployment_commands.h"

namespace klx::cli {

// Adds "script" to `app`. The returned function, called after parsing, runs it and returns its
// exit status, or -1 when it was not chosen.
std::function<int()> AddScriptCommands(CLI::App& app, const DeploymentCliContext& context);

}  // namespace klx::cli
