#include "cards/modem.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "link/status_codes.h"
#include "shell/command_ids.h"
#include "shell/messages.h"
#include "shell/status.h"

namespace klx {
namespace {

constexpr const char* kCaption = "Configuration";

// A whole number of at most ten digits, blanks around it allowed.
std::optional<uint64_t> WholeNumber(const std::string& text) {
  size_t i = 0, end = text.size();
  while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  if (i == end || end - i > 10) return std::nullopt;
  uint64_t value = 0;
  for (; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  return value;
}

}  // namespace

std::array<uint8_t, 5> ModemConfiguration::Pack() const {
  return {static_cast<uint8_t>(frontPorch & 0xFF), static_cast<uint8_t>(frontPorch >> 8),
          static_cast<uint8_t>(backPorch & 0xFF), static_cast<uint8_t>(backPorch >> 8),
          static_cast<uint8_t>((activeLevel == 1 ? 1u : 0u) | (inactiveLevel == 1 ? 2u : 0u))};
}

ModemConfiguration ModemConfiguration::Unpack(const std::array<uint8_t, 5>& b) {
  ModemConfiguration c;
  c.frontPorch = static_cast<uint16_t>(b[0] | (b[1] << 8));
  c.backPorch = static_cast<uint16_t>(b[2] | (b[3] << 8));
  c.activeLevel = b[4] & 1u;
  c.inactiveLevel = (b[4] >> 1) & 1u;
  return c;
}

std::optional<ModemConfiguration> ModemFromFields(const std::string& frontMs,
                                                  const std::string& backMs,
                                                  const std::string& activeLevel,
                                                  const std::string& inactiveLevel,
                                                  std::string& error) {
  const auto front = WholeNumber(frontMs), back = WholeNumber(backMs);
  const auto active = WholeNumber(activeLevel), inactive = WholeNumber(inactiveLevel);
  if (!front || !back || !active || !inactive) {
    error = "Each modem field takes a whole number.";
    return std::nullopt;
  }
  if (*front > ModemConfiguration::kMaxPorchMs || *back > ModemConfiguration::kMaxPorchMs) {
    error = Format("A porch takes 0 to %u ms.", ModemConfiguration::kMaxPorchMs);
    return std::nullopt;
  }
  ModemConfiguration c;
  c.frontPorch = static_cast<uint16_t>(*front / ModemConfiguration::kMsPerCount);
  c.backPorch = static_cast<uint16_t>(*back / ModemConfiguration::kMsPerCount);
  c.activeLevel = *active == 1 ? 1 : 0;
  c.inactiveLevel = *inactive == 1 ? 1 : 0;
  return c;
}

bool ReadModemTable(LoggerLink& logger, ModemConfiguration& config) {
  std::vector<uint8_t> table;
  if (logger.ReadTable("R0800", table) != 1 || table.size() < 6) return false;
  std::array<uint8_t, 5> bytes{};
  std::copy_n(table.begin(), 5, bytes.begin());
  config = ModemConfiguration::Unpack(bytes);
  return true;
}

bool OpenModemSettings(LoggerLink& logger, ModemConfiguration& config) {
  Host& host = logger.host();
  if (logger.CommGet(9) != 1) {
    ShowStatus(host, "Error - Unable to read the logger status");
    return false;
  }
  if (!StatusIsIdle(logger.status.code)) {
    host.Tell(MessageText(Msg::ModemParametersCaption), MessageText(Msg::LoggingCannotReadModem),
              BoxIcon::Warning);
    return false;
  }
  ModemConfiguration read;
  if (!ReadModemTable(logger, read)) {
    host.Tell(kCaption, "ERROR #11 Modem configuration retrieve error.", BoxIcon::Stop);
    return false;
  }
  config = read;
  return true;
}

bool WriteModemSettings(LoggerLink& logger, const ModemConfiguration& config) {
  Host& host = logger.host();
  if (!logger.ConnectLogger()) return false;
  const std::array<uint8_t, 5> bytes = config.Pack();
  if (!logger.WriteTable("S0800", std::vector<uint8_t>(bytes.begin(), bytes.end()))) {
    host.Tell(kCaption, "ERROR #10 Modem configuration send error.", BoxIcon::Stop);
    return false;
  }
  std::vector<uint8_t> back;
  if (logger.ReadTable("R0800", back) != 1) {
    host.Tell(kCaption, "ERROR #11 Modem configuration retrieve error.", BoxIcon::Stop);
    return false;
  }
  if (back.size() < 6 || !std::equal(bytes.begin(), bytes.end(), back.begin())) {
    host.Tell(kCaption, "ERROR #12 Modem configuration compare error.", BoxIcon::Stop);
    return false;
  }
  return true;
}

bool ModemSleep(LoggerLink& logger) {
  if (!logger.QueryTagged("A", "KLX")) return false;
  DeploymentParameters& d = logger.deployment();
  const bool output = d.realtimeOutput;
  const uint32_t baud = d.realtimeBaud, code = d.realtimeBaudCode;
  d.realtimeOutput = true;
  d.realtimeBaudCode = 13;
  logger.CommSet(19);
  d.realtimeOutput = output;
  d.realtimeBaud = baud;
  d.realtimeBaudCode = code;

  const bool fetchAll = logger.fetchAll;
  logger.fetchAll = true;
  logger.CommGet(7);
  logger.fetchAll = fetchAll;

  logger.link().CloseSerialPort(PortSlot::Logger);
  ShowStatus(logger.host(), "Logger Disconnected");
  logger.host().SetStatusText(kStatusConnectionPart, "Not connected");
  logger.state.connected = false;
  // The capabilities are read again on the next connection, which puts the item back for a
  // logger with modem control (a greyed item would stay greyed then).
  logger.state.capabilitiesStale = true;
  logger.host().SetCommandPresent(cmd::kModemSleep, false);
  return true;
}

}  // namespace klx
