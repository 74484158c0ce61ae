#pragma once
// The accessory-card commands of the command-line tool: "card status", "card file",
// "card meta-send" and "card meta-read" for the generic serial and MMC/SD cards, and
// "modem show|set|sleep" for the logger's modem.
#include <CLI/CLI.hpp>
#include <functional>

#include "deployment_commands.h"

namespace klx::cli {

// Adds "card" and "modem" with their subcommands. The returned function, called after parsing,
// runs the one chosen and returns its exit status, or -1 when none of them was chosen.
std::function<int()> AddCardCommands(CLI::App& app, const DeploymentCliContext& context);

}  // namespace klx::cli
