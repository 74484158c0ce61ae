#pragma once
// The deployment commands of the command-line tool: "setup" programs and enables a deployment,
// "status" shows the logger's status, clock, schedule and memory usage, "stop" stops logging and
// "clock" shows or synchronises the logger clock.
#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "cli_run.h"

namespace klx::cli {


// Adds the subcommands to `app`. The returned function, called after parsing, runs the one
// chosen and returns its exit status (0 success, 1 reported failure, 2 usage), or -1 when none
// of them was chosen.
std::function<int()> AddDeploymentCommands(CLI::App& app, const DeploymentCliContext& context);

}  // namespace klx::cli
