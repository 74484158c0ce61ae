#pragma once
// The calibration commands of the command-line tool: "calibration show" lists the connected
// logger's coefficients, "calibration set" writes one channel's coefficients (and the
// conductivity correction of loggers that keep one), "calibration history" lists the logger's
// calibration records and writes the history file.
#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "deployment_commands.h"

namespace klx::cli {

// Adds "calibration" with its three subcommands to `app`. The returned function, called after
// parsing, runs the one chosen and returns its exit status, or -1 when it was not chosen.
std::function<int()> AddCalibrationCommands(CLI::App& app, const DeploymentCliContext& context);

}  // namespace klx::cli
