#pragma once
// The micro-salinometer from the command line: "microsal" runs the HL-240 in its 6 Hz mode and
// prints one line a second (time, temperature, Rt, salinity, standard deviation, settled or
// not), writing capture rows into a .sal file when asked; "microsal --standardize" captures the
// zero point and the Standard Seawater readings and saves the new standardization.
#include <CLI/CLI.hpp>
#include <functional>

#include "deployment_commands.h"

namespace klx::cli {

// Adds "microsal" to `app`. The returned function, called after parsing, runs it and returns
// its exit status, or -1 when it was not chosen.
std::function<int()> AddMicrosalCommands(CLI::App& app, const DeploymentCliContext& context);

}  // namespace klx::cli
