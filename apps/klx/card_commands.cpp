#include "card_commands.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

#include "cards/generic_card.h"
#include "cards/mmc_card.h"
#include "cards/modem.h"
#include "cli_run.h"
#include "session/session.h"
#include "shell/status.h"

namespace klx::cli {
namespace {

struct Options {
  CLI::App* status = nullptr;
  CLI::App* file = nullptr;
  CLI::App* metaSend = nullptr;
  CLI::App* metaRead = nullptr;
  CLI::App* modemShow = nullptr;
  CLI::App* modemSet = nullptr;
  CLI::App* modemSleep = nullptr;
  int64_t fileNumber = -1;
  int channel = 0;
  std::string out;
  std::string table;
  std::optional<std::string> frontPorch, backPorch, activeLevel, inactiveLevel;
};

struct Run : ContextRun {
  using ContextRun::ContextRun;
  bool Connect() {
    LoggerLink& logger = session.logger;
    if (!logger.ConnectCommand()) return false;
    logger.AssessCapabilities();
    return logger.CommGet(16) == 1;
  }
};

// Prints the lines added since `printed`.
void PrintNew(const std::vector<std::string>& lines, size_t& printed) {
  for (; printed < lines.size(); ++printed) std::printf("%s\n", lines[printed].c_str());
  std::fflush(stdout);
}

// Runs the handler's chain to its end, printing its lines as they come.
void Follow(MetaTableHandler& h, Clock& clock) {
  size_t printed = 0;
  PrintNew(h.Lines(), printed);
  while (h.Busy()) {
    clock.SleepMs(MetaTableHandler::kTickMs);
    h.Tick();
    PrintNew(h.Lines(), printed);
  }
}

// The generic card channel to use: the one asked for, else the first.
bool ChooseChannel(MetaTableHandler& h, int asked) {
  const std::vector<int> channels = h.Channels();
  if (channels.empty()) {
    std::fprintf(stderr, "No generic card\n");
    return false;
  }
  if (asked == 0) asked = channels.front();
  if (std::find(channels.begin(), channels.end(), asked) == channels.end()) {
    std::fprintf(stderr, "Channel %d is not a generic serial card channel\n", asked);
    return false;
  }
  h.channel = asked;
  return true;
}

int Status(const DeploymentCliContext& c) {
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect()) return kExitFailed;
  LoggerLink& logger = run.session.logger;
  const LoggerState& s = logger.state;
  std::printf("Logger: %s %.2f %06d\n", s.model.c_str(), static_cast<double>(s.firmware),
              s.serial);
  const std::vector<int> channels = GenericCardChannels(s);
  int rc = kExitOk;
  if (channels.empty()) {
    std::printf("No generic card\n");
  } else {
    std::printf("Generic card version %u on channel", s.genericCardVersion);
    for (int ch : channels) std::printf(" %d", ch);
    std::printf("\n");
    logger.link().LinkWriteText("!X0000");
    std::array<uint8_t, 51> reply{};
    const int n = logger.link().LinkRead(reply.data(), 50);
    const auto status = ParseGenericCardStatus(
        std::string_view(reinterpret_cast<const char*>(reply.data()), static_cast<size_t>(n)));
    if (status)
      std::printf("Generic card status: %02X - %s\n", *status, GenericCardStatusText(*status));
    else {
      std::printf("Error - Unable to communicate with generic card.\n");
      rc = kExitFailed;
    }
  }
  if ((s.rsCommandFlags & 0x10u) == 0 || (s.rsAdvancedWord & kRsAdvancedMemoryCard) == 0) {
    std::printf("No MMC/SD memory card\n");
    return rc;
  }
  if (!MmcSdAccessAllowed(logger)) return kExitFailed;
  MmcSdCard mmc(logger, run.clock);
  mmc.Refresh();
  mmc.RunToEnd();
  for (const std::string& line : mmc.Lines()) std::printf("%s\n", line.c_str());
  return mmc.ok ? rc : kExitFailed;
}

int File(const DeploymentCliContext& c, const Options& o) {
  if (!MmcFileCommand(o.fileNumber)) {
    std::fprintf(stderr, "The file number takes 0 to 99999999\n");
    return kExitUsage;
  }
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect()) return kExitFailed;
  LoggerLink& logger = run.session.logger;
  if (!MmcSdSupported(logger) || !MmcSdAccessAllowed(logger)) return kExitFailed;
  MmcSdCard mmc(logger, run.clock);
  mmc.Refresh();
  mmc.RunToEnd();
  if (!mmc.ok) {
    for (const std::string& line : mmc.Lines()) std::fprintf(stderr, "%s\n", line.c_str());
    return kExitFailed;
  }
  const std::optional<std::string> contents = mmc.FileContents(o.fileNumber);
  if (!contents) {
    std::fprintf(stderr, "%s\n", mmc.Lines().back().c_str());
    return kExitFailed;
  }
  if (o.out.empty()) {
    std::fwrite(contents->data(), 1, contents->size(), stdout);
    return kExitOk;
  }
  if (!MayOverwrite(run.host, "Write File", o.out)) return kExitFailed;
  std::ofstream file(o.out, std::ios::binary | std::ios::trunc);
  file.write(contents->data(), static_cast<std::streamsize>(contents->size()));
  if (!file.flush()) {
    std::fprintf(stderr, "Unable to open file: %s\n", o.out.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int MetaSend(const DeploymentCliContext& c, const Options& o) {
  // The file is checked whole before the logger is asked anything.
  std::string error;
  if (!LoadMetaTableFile(o.table, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitUsage;
  }
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect() || !MetaTableAccessAllowed(run.session.logger)) return kExitFailed;
  run.host.statusLines = false;  // the lines printed carry every message
  MetaTableHandler h(run.session.logger, run.clock, run.host);
  if (!ChooseChannel(h, o.channel)) return kExitFailed;
  if (!h.SetTable(o.table)) return kExitFailed;
  Follow(h, run.clock);
  return h.outcome == MetaTableHandler::Outcome::Success ? kExitOk : kExitFailed;
}

int MetaRead(const DeploymentCliContext& c, const Options& o) {
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect() || !MetaTableAccessAllowed(run.session.logger)) return kExitFailed;
  run.host.statusLines = false;  // the lines printed carry every message
  MetaTableHandler h(run.session.logger, run.clock, run.host);
  if (!ChooseChannel(h, o.channel)) return kExitFailed;
  if (!h.GetTable()) return kExitFailed;
  Follow(h, run.clock);
  if (h.outcome != MetaTableHandler::Outcome::Success) return kExitFailed;
  if (!o.out.empty() && !h.SaveTable(o.out)) return kExitFailed;
  return kExitOk;
}

void PrintModem(const ModemConfiguration& m) {
  std::printf("Front porch (ms)  %u\nBack porch (ms)   %u\nActive level      %u\n"
              "Inactive level    %u\n",
              m.FrontPorchMs(), m.BackPorchMs(), unsigned{m.activeLevel},
              unsigned{m.inactiveLevel});
}

int Modem(const DeploymentCliContext& c, const Options& o, bool set) {
  std::string error;
  // The values given are checked before the logger is asked anything.
  for (const auto* level : {&o.activeLevel, &o.inactiveLevel}) {
    if (set && *level && **level != "0" && **level != "1") {
      std::fprintf(stderr, "A level is 0 or 1\n");
      return kExitUsage;
    }
  }
  if (set && !ModemFromFields(o.frontPorch.value_or("0"), o.backPorch.value_or("0"),
                              o.activeLevel.value_or("0"), o.inactiveLevel.value_or("0"), error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitUsage;
  }
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect()) return kExitFailed;
  LoggerLink& logger = run.session.logger;
  ModemConfiguration m;
  if (!OpenModemSettings(logger, m)) return kExitFailed;
  if (!set) {
    PrintModem(m);
    return kExitOk;
  }
  const auto fields = ModemFromFields(
      o.frontPorch.value_or(std::to_string(m.FrontPorchMs())),
      o.backPorch.value_or(std::to_string(m.BackPorchMs())),
      o.activeLevel.value_or(std::to_string(m.activeLevel)),
      o.inactiveLevel.value_or(std::to_string(m.inactiveLevel)), error);
  if (!fields) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitUsage;
  }
  if (!WriteModemSettings(logger, *fields)) return kExitFailed;
  PrintModem(*fields);
  return kExitOk;
}

int Sleep(const DeploymentCliContext& c) {
  Run run(c);
  if (run.Prepared() != kExitOk) return run.Prepared();
  if (!run.Connect()) return kExitFailed;
  LoggerLink& logger = run.session.logger;
  if (logger.state.modemControlLevel != 1) {
    std::fprintf(stderr, "This logger's modem cannot be put to sleep (modem control level %u)\n",
                 logger.state.modemControlLevel);
    return kExitFailed;
  }
  if (!ModemSleep(logger)) {
    std::fprintf(stderr, "The logger did not answer\n");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

std::function<int()> AddCardCommands(CLI::App& app, const DeploymentCliContext& context) {
  auto o = std::make_shared<Options>();
  const char* portHelp = "COM<n>, a device path or sim:<model>";
  auto* card = app.add_subcommand("card", "The logger's generic serial card and MMC/SD card");
  card->require_subcommand(1);
  o->status = card->add_subcommand("status", "Show the accessory cards and their state");
  o->status->add_option("--port", *context.port, portHelp);
  o->file = card->add_subcommand("file", "Fetch one file of the MMC/SD card");
  o->file->add_option("number", o->fileNumber, "The file number, 0 to 99999999")->required();
  o->file->add_option("--port", *context.port, portHelp);
  o->file->add_option("--out", o->out, "Write the contents to FILE (default: standard output)");
  o->metaSend = card->add_subcommand(
      "meta-send", "Send a meta table file to the generic serial card and verify it");
  o->metaSend->add_option("file", o->table, "The meta table (.txt)")->required();
  o->metaSend->add_option("--port", *context.port, portHelp);
  o->metaSend->add_option("--channel", o->channel, "The generic card's channel (default: first)");
  o->metaRead = card->add_subcommand("meta-read", "Read the generic serial card's meta table");
  o->metaRead->add_option("--port", *context.port, portHelp);
  o->metaRead->add_option("--out", o->out, "Save the table to FILE (.txt added when missing)");
  o->metaRead->add_option("--channel", o->channel, "The generic card's channel (default: first)");

  auto* modem = app.add_subcommand("modem", "The logger's modem settings");
  modem->require_subcommand(1);
  o->modemShow = modem->add_subcommand("show", "Show the modem table");
  o->modemShow->add_option("--port", *context.port, portHelp);
  o->modemSet = modem->add_subcommand("set", "Change the modem table (unnamed fields stay)");
  o->modemSet->add_option("--port", *context.port, portHelp);
  o->modemSet->add_option("--front-porch", o->frontPorch, "Milliseconds, 0 to 327675");
  o->modemSet->add_option("--back-porch", o->backPorch, "Milliseconds, 0 to 327675");
  o->modemSet->add_option("--active-level", o->activeLevel, "0 or 1");
  o->modemSet->add_option("--inactive-level", o->inactiveLevel, "0 or 1");
  o->modemSleep = modem->add_subcommand("sleep", "Put the modem to sleep and disconnect");
  o->modemSleep->add_option("--port", *context.port, portHelp);
  return [o, context]() -> int {
    if (*o->status) return Status(context);
    if (*o->file) return File(context, *o);
    if (*o->metaSend) return MetaSend(context, *o);
    if (*o->metaRead) return MetaRead(context, *o);
    if (*o->modemShow) return Modem(context, *o, false);
    if (*o->modemSet) return Modem(context, *o, true);
    if (*o->modemSleep) return Sleep(context);
    return -1;
  };
}

}  // namespace klx::cli
