// Finding the logger: the baud walk, identification, the logger-change rule, capabilities and
// the configuration table.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "link/logger_link.h"
#include "shell/command_ids.h"
#include "shell/status.h"

namespace klx {
namespace {

std::vector<std::string_view> Words(std::string_view text, size_t most) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size() && words.size() < most) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const size_t start = i;
    while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

template <typename T>
bool ParseNumber(std::string_view text, T& out) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr != text.data();
}

// The number that stands right before `tag` in the reply (digits and a point), or -1.
float NumberBefore(std::string_view reply, std::string_view tag) {
  const size_t at = reply.find(tag);
  if (at == std::string_view::npos) return -1.0f;
  size_t end = at;
  while (end > 0 && reply[end - 1] == ' ') --end;
  size_t start = end;
  while (start > 0 &&
         (std::isdigit(static_cast<unsigned char>(reply[start - 1])) || reply[start - 1] == '.'))
    --start;
  float value = -1.0f;
  if (!ParseNumber(reply.substr(start, end - start), value)) return -1.0f;
  return value;
}

uint16_t LittleEndian16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

bool LoggerLink::IdentifyAtCurrentRate() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    link_.LinkWriteText("A");
    const int n = ReadLinkIntoReply(120);
    if (n >= 1 && ReplyText().find("KLX") != std::string_view::npos) return true;
  }
  return false;
}

bool LoggerLink::ConnectLogger() {
  const int rememberedIndex = link_.baudIndex;
  state.model = "UNKNOWN";
  state.firmware = 0.0f;
  state.serial = 0;
  state.extendedCommandSet = false;
  int failures = 0;

  for (;;) {
    if (!state.connected || !link_.IsOpen(PortSlot::Logger)) {
      host_.SetStatusText(kStatusConnectionPart, Format("Trying: %d", link_.currentBaudRate));
      if (!link_.OpenSerialPort(PortSlot::Logger, link_.loggerPort, link_.currentBaudRate,
                                RtsControl::Disable)) {
        ShowStatus(host_, Format("Unable to open COM%1d - bad port setting or another "
                                 "application holds the port.",
                                 link_.loggerPort));
        state.connected = false;
        host_.SetCommandEnabled(cmd::kSaveNmjCsv, false);
        return false;
      }
    }
    state.connected = IdentifyAtCurrentRate();
    if (state.connected) break;
    link_.baudIndex = (link_.baudIndex + 1) % 5;
    link_.currentBaudRate = SerialLink::kBaudTable[static_cast<size_t>(link_.baudIndex)];
    if (++failures > 5) break;
  }

  host_.SetStatusText(kStatusConnectionPart, state.connected
                                                 ? Format("%d baud", link_.currentBaudRate)
                                                 : std::string("Not connected"));
  if (!state.connected) {
    ShowStatus(host_, Format("Unable to Communicate with Logger on COM%1d", link_.loggerPort));
    link_.baudIndex = rememberedIndex;
    link_.currentBaudRate = SerialLink::kBaudTable[static_cast<size_t>(rememberedIndex)];
    host_.SetCommandEnabled(cmd::kSaveNmjCsv, false);
    return false;
  }

  // Identity: "KLX <model> <firmware> <serial>" from the word "KLX" on. A field that does not
  // parse keeps its connecting value.
  const std::string_view reply = ReplyText();
  const auto words = Words(reply.substr(reply.find("KLX")), 4);
  if (words.size() > 1) state.model = std::string(words[1].substr(0, 31));
  if (words.size() > 2) ParseNumber(words[2], state.firmware);
  if (words.size() > 3) ParseNumber(words[3], state.serial);

  if (state.previousSerial >= 0 && state.previousSerial != state.serial) {
    const bool unsaved = hooks.hasUnsavedData && hooks.hasUnsavedData();
    if (unsaved) {
      const Answer answer = host_.Ask(
          "Connecting Logger",
          Format("Logger has changed from %06d to %06d.\nRetrieved data from %06d has not been "
                 "saved.\nDo you wish to return to save the data now?",
                 state.previousSerial, state.serial, state.previousSerial),
          Buttons::YesNo, BoxIcon::Warning, Answer::Yes);
      if (answer == Answer::Yes) {
        state.serial = state.previousSerial;
        state.firmware = state.previousFirmware;
        state.model = state.previousModel;
        if (hooks.redisplay) hooks.redisplay();
        if (hooks.saveData) hooks.saveData();
        // A save that did not happen (cancelled, failed) must not lead to the data being
        // dropped for the new logger: stop here with the old data still held.
        if (hooks.hasUnsavedData && hooks.hasUnsavedData()) {
          state.connected = false;
          ShowStatus(host_, Format("Retrieved data from %06d has not been saved. Not connected.",
                                   state.previousSerial));
          return false;
        }
        return ConnectLogger();
      }
      for (int id :
           {cmd::kSaveFile, cmd::kFormatSaveFile, cmd::kSaveScreenSegment, cmd::kSaveNmjCsv})
        host_.SetCommandEnabled(id, false);
      if (hooks.markSaved) hooks.markSaved();
    }
    if (hooks.hideDisplay) hooks.hideDisplay();
    state.SetAllStale();
  }

  state.previousModel = state.model;
  state.previousFirmware = state.firmware;
  state.previousSerial = state.serial;
  if (!state.ModelHas("NMJ")) host_.SetCommandEnabled(cmd::kSaveNmjCsv, false);
  state.extendedCommandSet = state.firmware > 4.99f;
  return true;
}

bool LoggerLink::ConnectCommand() {
  ShowStatus(host_, Format(MessageText(Msg::AttemptingToConnect).c_str(), link_.loggerPort));
  if (!ConnectLogger()) return false;
  ShowStatus(host_, Format(MessageText(Msg::LoggerConnected).c_str(), state.model.c_str(),
                           static_cast<double>(state.firmware), state.serial, link_.loggerPort,
                           static_cast<long>(link_.currentBaudRate)));
  return true;
}

bool LoggerLink::ReadCapability(int entry, uint32_t& value) {
  value = 0;
  bool ok = QueryTagged(Format("!0%02X", entry & 0xFF), "CAP");
  if (ok) {
    const std::string_view reply = ReplyText();
    const size_t tag = reply.find("CAP");
    ok = tag >= 8 && tag + 5 <= reply.size();
    if (ok) {
      const std::string_view echoed = reply.substr(tag + 3, 2);
      ok = echoed == Format("%02X", entry & 0xFF);
    }
    for (int i = 0; ok && i < 4; ++i) {
      unsigned byte = 0;
      const auto digits = reply.substr(tag - 8 + static_cast<size_t>(2 * i), 2);
      const auto [p, ec] = std::from_chars(digits.data(), digits.data() + 2, byte, 16);
      ok = ec == std::errc() && p == digits.data() + 2;
      value |= byte << (8 * i);
    }
  }
  if (!ok) {
    value = 0;
    ShowStatus(host_, "Read capabilities error");
  }
  return ok;
}

void LoggerLink::NoteCapabilityRead(std::string& text) {
  text += "+ ";
  ShowStatus(host_, text);
}

void LoggerLink::AssessCapabilities() {
  if (!state.capabilitiesStale) return;
  std::string text = MessageText(Msg::AssessingCapabilities);
  ShowStatus(host_, text);
  state.ResetCapabilities();
  host_.SetCommandPresent(cmd::kModemSleep, false);

  const float fw = state.firmware;
  if (state.extendedCommandSet || (state.IsVS() && fw > 4.25f)) {
    uint32_t mask = 0;
    const bool haveMask = ReadCapability(0, mask);
    NoteCapabilityRead(text);
    if (haveMask) {
      state.capabilityMask = mask;
      auto bit = [mask](int b) { return (mask >> b) & 1u; };
      // Reads an entry; a failed read leaves the field at its default.
      auto read = [&](int number, auto&& apply) {
        uint32_t v = 0;
        if (ReadCapability(number, v)) apply(v);
        NoteCapabilityRead(text);
      };
      if (bit(0)) {
        read(1, [&](uint32_t v) {
          state.memoryTypeCode = static_cast<int>(std::min<uint32_t>(v, 6));
          if (state.memoryTypeCode == kAmd29LV033C) state.memorySizeMb = 4;
          if (state.memoryTypeCode >= kAT45DB642) state.memorySizeMb = 8;
        });
      }
      state.profiling6Hz = bit(1);
      if (bit(2)) {
        read(3, [&](uint32_t p) {
          if (p > 0 && p <= 255) state.parameterBlockLength = static_cast<int>(p);
        });
      }
      state.hysteresis = bit(3);
      if (bit(4)) {
        read(5, [&](uint32_t v) {
          state.commandLevel = static_cast<int>(v & 0x0F);
          state.commandLevelFlag4 = (v >> 4) & 1u;
          state.commandLevelFlag5 = (v >> 5) & 1u;
          state.commandLevelFlag6 = (v >> 6) & 1u;
        });
      }
      if (bit(5)) read(6, [&](uint32_t v) { state.averaging = v; });
      if (bit(6)) {
        read(7, [&](uint32_t v) {
          state.conventionalThresholding = v & 1u;
          state.powerSaveThresholding = (v >> 1) & 1u;
        });
      }
      if (bit(7)) read(8, [&](uint32_t v) { state.rsCommandFlags = v; });
      state.uvCommands = bit(8);
      state.frontendThroughCommunications = bit(9);
      state.reportsBatteryVoltage = bit(10);
      state.externalDataConnector = bit(11);
      if (bit(12))
        read(13, [&](uint32_t v) {
          const int minimum = static_cast<int>((v >> 24) * 100);
          const auto& table = SerialLink::kBaudTable;
          state.defaultBaudRateMinimum =
              std::find(table.begin(), table.end(), minimum) != table.end() ? minimum : 2400;
          const int express = static_cast<int>(v & 0xFFFFFF);
          state.expressDownloadRate =
              (express == 19200 || express == 57600 || express == 115200) ? express : 19200;
        });
      if (bit(13) && CommGet(27) == 1) {
        state.minimumHostVersion = NumberBefore(ReplyText(), "WIN");
        if (state.minimumHostVersion > kOwnVersion) {
          host_.Tell("Minimum Windows Version",
                     Format("The logger connected to this computer is supported\nby a minimum "
                            "version of KLX Windows Software of %.2f.\n\nThis version of Windows "
                            "software is %.2f.\n\n",
                            static_cast<double>(state.minimumHostVersion),
                            static_cast<double>(kOwnVersion)) +
                         "Please obtain the latest version from the KLX web site.\n\n"
                         "Unpredictable results may be obtained if you continue.",
                     BoxIcon::Stop);
        }
      }
      if (bit(14)) read(15, [&](uint32_t v) { state.twelveCommandLevel = v; });
      state.oemSupport = bit(15);
      state.waves = bit(16);
      state.highSamplingRates = bit(17);
      state.externalPowerConnector = bit(18);
      if (bit(19)) read(20, [&](uint32_t v) { state.engineeringUnitsLevel = v; });
      if (bit(20)) {
        read(21, [&](uint32_t v) { state.modemControlLevel = v; });
        if (state.modemControlLevel == 1) host_.SetCommandPresent(cmd::kModemSleep, true);
      }
      if (bit(21)) read(22, [&](uint32_t v) { state.memoryTestLevel = v; });
      if (bit(22)) read(23, [&](uint32_t v) { state.genericCardVersion = v; });
    }
  } else {
    const bool depthOrTemp = state.ModelHas("NA") || state.ModelHas("NB") || state.ModelHas("NMV");
    if ((depthOrTemp && fw > 3.15f) || (state.IsVS() && fw > 4.0f)) state.memorySizeMb = 4;
  }

  if (!state.extendedCommandSet) DeriveOlderLoggerCapabilities();
  if (state.ModelHas("HL-240") && (state.rsCommandFlags & 0x08)) state.microSalinometerMode = true;
  if ((state.rsCommandFlags & 0x10) && !ReadRsAdvanced())
    ShowStatus(host_, "Retrieve RS Advanced information failed");
  state.capabilitiesStale = false;
}

void LoggerLink::DeriveOlderLoggerCapabilities() {
  const float fw = state.firmware;
  const bool na = state.ModelHas("NA");
  const bool vs = state.IsVS();
  const bool noAveraging = na || state.ModelHas("NB") || state.ModelHas("NMV") ||
                           state.ModelHas("VS-330-PQ") || state.ModelHas("PTu");
  if (noAveraging)
    state.averaging = 0;
  else if (state.averaging == 0)
    state.averaging = 1;
  if (vs && state.ModelHas("CT")) {
    state.conventionalThresholding = true;
    if (fw > 4.25f) state.powerSaveThresholding = true;
  }
  if (vs && fw > 2.65f && !link_.radioDelay.enabled) state.expressDownloadRate = 57600;
  if (state.ModelHas("U")) state.externalDataConnector = true;
  if (state.ModelHas("VS-550") || state.ModelHas("VSY-550")) state.profiling6Hz = true;

  if (na && fw < 1.5f) {
    state.commandLevel = 1;
  } else if (na && fw < 2.15f) {
    state.commandLevel = 4;
  } else if (na || state.ModelHas("NB") || state.ModelHas("NMV")) {
    state.commandLevel = fw < 3.0f ? 3 : (fw < 3.15f ? 4 : 3);
  } else if (vs) {
    state.frontendThroughCommunications = true;
    if (fw > 2.1f) state.reportsBatteryVoltage = true;
    state.commandLevel = (fw > 2.45f && deployment_.startMode < 2) ? 3 : 2;
  }
}

bool LoggerLink::ReadRsAdvanced() {
  std::vector<uint8_t> table;
  if (ReadTable("R0700", table) != 1 || table.size() < 5) return false;
  state.rsAdvancedWord = static_cast<uint32_t>(table[0]) | (static_cast<uint32_t>(table[1]) << 8) |
                         (static_cast<uint32_t>(table[2]) << 16) |
                         (static_cast<uint32_t>(table[3]) << 24);
  return true;
}

int LoggerLink::ReadConfiguration() {
  if (!state.configurationStale) return 1;
  ShowStatus(host_, MessageText(Msg::AssessingConfiguration));
  state.standardChannels = true;
  std::string letters;

  if (state.extendedCommandSet && state.rsCommandFlags != 1) {
    std::vector<uint8_t> table;
    const int result = ReadTable("R0100", table);
    if (result == -1 || (result == 1 && !table.empty() && table[0] == 0)) {
      ShowStatus(host_, MessageText(Msg::LoggerNotYetConfigured));
      return -1;
    }
    const size_t count = result == 1 && !table.empty() ? table[0] : 0;
    // A table too short for the channels it reports, or with more channels than a logger can
    // have, is as unusable as a failed read.
    if (result == 0 || count > LoggerState::kMaxChannels || table.size() < 2 * count + 6) {
      ShowStatus(host_, "GetConfigTable error");
      return 0;
    }
    state.channelCount = static_cast<int>(count);
    state.latencyMs = LittleEndian16(table, 1) * 10;
    state.readingTimeMs = LittleEndian16(table, 3) * 100;
    for (size_t i = 0; i < count; ++i) {
      letters += static_cast<char>(table[5 + 2 * i]);
      state.channelSecondBytes[i] = table[6 + 2 * i];
    }
    state.configurationTable = table;
  } else if (state.extendedCommandSet) {
    if (state.ModelHas("7400")) {
      letters = "TP";
    } else if (state.ModelHas("7100")) {
      letters = state.ModelHas("NA") ? "T" : "P";
    } else {
      letters = state.channelTypes.empty() ? std::string("T") : state.channelTypes;
    }
    state.channelCount = static_cast<int>(letters.size());
  } else {
    ReadRsAdvanced();
    std::vector<uint8_t> block(56);
    const std::string command = MemoryReadCommand(0x1FFC9, 55);
    bool got = false;
    for (int attempt = 0; attempt < 5 && !got; ++attempt) {
      if (attempt > 0) link_.WaitMilliseconds(100);
      link_.LinkWriteText(command);
      got = link_.LinkRead(block.data(), 55) == 55;
    }
    if (got) {
      // The logger follows the 55 bytes with its transfer sum; take it off the line so that it
      // does not stand in front of the next reply.
      uint8_t stray[2];
      link_.LinkRead(stray, 1);
    }
    if (!got || ByteSum(block.data(), 54) != block[54]) {
      ShowStatus(host_, "Configuration Table read failed.");
      return 0;
    }
    const int count = block[53];
    if (count >= 25 || count == 0) {
      letters = "T";
      state.latencyMs = 300;
      state.readingTimeMs = 200;
    } else {
      for (int i = 0; i < count; ++i) letters += static_cast<char>(block[47 - 2 * i]);
      state.readingTimeMs = (block[49] | (block[50] << 8)) * 100;
      state.latencyMs = (block[51] | (block[52] << 8)) * 10;
    }
    state.channelCount = static_cast<int>(letters.size());
  }

  // Channels that switch ranges take their auto-ranging letters and reading times whenever the
  // configuration has been read, so that decoding finds their gains and every exchange waits
  // long enough for a reading; any other lower-case letter is a thermistor.
  state.configuredReadingTimeMs = state.readingTimeMs;
  state.continuousPowerForbidden = false;
  RangeBehaviour ranges;
  if (state.rsCommandFlags & 0x04u) ApplyRangeBehaviourTable(letters, ranges);
  for (size_t i = 0; i < letters.size(); ++i) {
    char& c = letters[i];
    if (i < ranges.channelReadingMs.size() && ranges.channelReadingMs[i] > 0) continue;
    if (c >= 'a' && c <= 'z') c = 'T';
    if (c == 'S') {
      c = 'C';
      state.standardChannels = false;
    }
  }
  state.channelTypes = letters;
  state.configurationStale = false;
  return 1;
}

void LoggerLink::ApplyRangeBehaviourTable(std::string& letters, RangeBehaviour& ranges) {
  std::vector<uint8_t> table;
  if (ReadTable("R0500", table) != 1 || table.size() < 2) {
    ShowStatus(host_, "Range switching behaviour retrieve error");
    return;
  }
  // The data bytes, without the check byte.
  ranges = ApplyRangeBehaviour(std::span<const uint8_t>(table.data(), table.size() - 1), letters,
                               letters.size(), state.readingTimeMs);
  state.readingTimeMs = ranges.readingTimeMs;
  state.continuousPowerForbidden = ranges.continuousPowerForbidden;
}

int LoggerLink::DefaultRateFromCode(uint8_t code) {
  // The divisor is taken modulo 256, so a code of 254 would divide by zero: report no rate.
  const uint8_t divisor = static_cast<uint8_t>(code + 2);
  return divisor == 0 ? 0 : 288000 / divisor;
}

uint8_t LoggerLink::DefaultRateCode(int rate) {
  return static_cast<uint8_t>(rate > 0 ? 9216000 / (32 * rate) - 2 : 0);
}

bool LoggerLink::ReadDefaultBaudRate(int& rate) {
  std::vector<uint8_t> table;
  rate = 0;
  if (ReadTable("R0300", table) != 1 || table.size() < 2) return false;
  rate = DefaultRateFromCode(table[0]);
  return true;
}

bool LoggerLink::DefaultBaudRateSupported() {
  state.SetAllStale();
  ReadConfiguration();
  AssessCapabilities();
  if (state.extendedCommandSet) return true;
  host_.Tell("Default baudrate",
             "The default baudrate for this type of logger cannot be set by this command.",
             BoxIcon::Stop);
  return false;
}

int LoggerLink::CurrentLatency() {
  state.configurationStale = true;
  if (ReadConfiguration() != 1) {
    host_.Tell("Change latency", "Unable to read current configuration table", BoxIcon::Warning);
    return -1;
  }
  return state.latencyMs;
}

bool LoggerLink::SetDefaultBaudRate(int rate) {
  bool ok = ConnectLogger();
  if (ok) {
    const uint8_t code = DefaultRateCode(rate);
    std::vector<uint8_t> back;
    if (!WriteTable("S0300", {code})) {
      SetReply("Default baudrate send error");
      ok = false;
    } else if (ReadTable("R0300", back) != 1 || back.empty() || back[0] != code) {
      SetReply("Default baudrate retrieve error");
      ok = false;
    } else {
      SetReply("Default baudrate write success");
    }
  }
  if (ok) {
    SetExpressBaud(rate);
    link_.WaitMilliseconds(200);
    ok = ConnectLogger();
  }
  if (!ok)
    host_.Tell("Default baudrate", "Attempt to change default baudrate has failed.", BoxIcon::Stop);
  return ok;
}

bool LoggerLink::SetLatency(int latencyMs) {
  if (!ConnectLogger()) return false;
  // The table written back is the one this logger holds now, never one read earlier.
  if (CurrentLatency() < 0) return false;
  const size_t n = 2 * static_cast<size_t>(state.channelCount) + 5;
  if (state.configurationTable.size() < n) {
    host_.Tell("Change latency", "Unable to read current configuration table", BoxIcon::Warning);
    return false;
  }
  std::vector<uint8_t> table(state.configurationTable.begin(),
                             state.configurationTable.begin() + static_cast<long>(n));
  const int units = std::clamp(latencyMs / 10, 0, 0xFFFF);
  table[1] = static_cast<uint8_t>(units & 0xFF);
  table[2] = static_cast<uint8_t>(units >> 8);
  if (!WriteTable("S0100", table)) {
    ShowStatus(host_, "Configuration table send error");
    return false;
  }
  std::vector<uint8_t> back;
  if (ReadTable("R0100", back) != 1) {
    ShowStatus(host_, "Configuration table retrieve error");
    return false;
  }
  if (back.size() < n || !std::equal(table.begin(), table.end(), back.begin())) {
    ShowStatus(host_, "Configuration table compare error");
    return false;
  }
  ShowStatus(host_, "Latency update successful");
  state.configurationStale = true;
  return true;
}

}  // namespace klx
