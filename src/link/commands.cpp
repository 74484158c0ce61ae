// The numbered query and setting dispatchers and the exchanges built on them.
#include <algorithm>
#include <cstring>

#include "link/logger_link.h"
#include "shell/command_ids.h"
#include "shell/datetime.h"
#include "shell/status.h"

namespace klx {
namespace {

// Reads `count` two-digit hex bytes starting at `at`; false when any pair is not hex.
bool HexBytes(std::string_view text, size_t at, size_t count, uint8_t* out) {
  if (at + 2 * count > text.size()) return false;
  for (size_t i = 0; i < count; ++i) {
    unsigned v = 0;
    for (size_t k = 0; k < 2; ++k) {
      const char c = text[at + 2 * i + k];
      unsigned d = 0;
      if (c >= '0' && c <= '9')
        d = static_cast<unsigned>(c - '0');
      else if (c >= 'A' && c <= 'F')
        d = static_cast<unsigned>(c - 'A' + 10);
      else if (c >= 'a' && c <= 'f')
        d = static_cast<unsigned>(c - 'a' + 10);
      else
        return false;
      v = v * 16 + d;
    }
    out[i] = static_cast<uint8_t>(v);
  }
  return true;
}

// Reads `count` hex bytes that stand right before `tag`.
bool HexBytesBefore(std::string_view text, std::string_view tag, size_t count, uint8_t* out) {
  const size_t at = text.find(tag);
  if (at == std::string_view::npos || at < 2 * count) return false;
  return HexBytes(text, at - 2 * count, count, out);
}

Period ToPeriod(const SystemTime& t) {
  return Period{t.hour, t.minute, t.second};
}

SystemTime FromPeriod(const Period& p) {
  SystemTime t;
  t.hour = p.hours;
  t.minute = p.minutes;
  t.second = p.seconds;
  return t;
}

constexpr const char* kTryAgain = "\nTry again.\nContact KLX if the problem persists.";

}  // namespace

int LoggerLink::GetStatus() {
  const bool ok = QueryTagged("T", "Logger");
  const std::string_view reply = ReplyText();
  // "Logger status 02" (extended loggers: "Logger status 04 02"): two words, then hex fields.
  size_t at = reply.find("Logger");
  int fields[2] = {-1, -1};
  if (ok && at != std::string_view::npos) {
    for (int skip = 0; skip < 2 && at < reply.size(); ++skip) {
      while (at < reply.size() && reply[at] != ' ') ++at;
      while (at < reply.size() && reply[at] == ' ') ++at;
    }
    for (int f = 0; f < 2 && at < reply.size(); ++f) {
      uint8_t b = 0;
      if (!HexBytes(reply, at, 1, &b)) break;
      fields[f] = b;
      at += 2;
      while (at < reply.size() && reply[at] == ' ') ++at;
    }
  }
  int code = std::max(fields[0], 0);
  if (!state.extendedCommandSet) {
    if (code > 7) code = 7;
  } else if (code == 4 && fields[1] == 2) {
    code = 8;
  } else if (code > 7 && code != 8) {
    code = 7;  // 8 ("stopped by user") stands as it is, and so does 4 with sub-code 2
  }
  status.code = code;
  status.second = std::max(fields[1], 0);
  return ok ? 1 : 0;
}

int LoggerLink::GetParameterBlock() {
  const int p = state.parameterBlockLength;
  if (!state.extendedCommandSet) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      std::vector<uint8_t> block;
      if (ReadMemoryOnce(0x20000, static_cast<uint32_t>(p), block)) {
        parameterBlock = block;
        return 1;
      }
    }
    host_.Tell("Get VS-330 Parameters", "Unable to verify logging parameters", BoxIcon::Warning);
    return 0;
  }
  std::array<uint8_t, param_block::kSize> block{};
  auto query = [&](const char* command, const char* tag, size_t count, size_t at) {
    uint8_t bytes[8] = {};
    if (QueryTagged(command, tag) && HexBytesBefore(ReplyText(), tag, count, bytes))
      std::copy(bytes, bytes + count, block.begin() + static_cast<long>(at));
  };
  if (state.conventionalThresholding) query("!L", "THR", 8, param_block::kThreshold);
  if (CommGet(28) == 1) {
    block[param_block::kStartMode] = deployment_.startCharacteristic[0];
    block[param_block::kStartMode + 1] = deployment_.startCharacteristic[1];
  }
  query("X", "BST", 2, param_block::kAveraging);
  if (state.externalDataConnector && !state.HasTwelveCommands())
    query("!M", "BAU", 1, param_block::kBaudCode);
  if (state.powerSaveThresholding) query("!P", "PSP", 3, param_block::kPowerSave);
  if (state.hysteresis) query("!O", "HYS", 2, param_block::kHysteresis);

  const size_t length = static_cast<size_t>(std::clamp(p, 1, static_cast<int>(block.size())));
  std::vector<uint8_t> out(block.begin(), block.begin() + static_cast<long>(length));
  out[length - 1] = TableCheckByte(out.data(), length - 1);
  parameterBlock = out;
  SetReply(std::string_view(reinterpret_cast<const char*>(out.data()), out.size()));
  replyLength_ = static_cast<int>(out.size());
  return 1;
}

bool LoggerLink::SetAndVerify(const std::string& command, const char* query, const char* tag) {
  link_.LinkWriteText(command);
  if (!QueryTagged(query, tag)) return false;
  return ReplyText().find(std::string_view(command).substr(2)) != std::string_view::npos;
}

void LoggerLink::VerifyFailed(int number) {
  const char* what = "";
  switch (number) {
    case 17:
      what = "Averaging length set incorrectly.";
      break;
    case 28:
    case 29:
      what = "Start characteristic set incorrectly.";
      break;
    case 30:
      what = "High sampling rate set incorrectly.";
      break;
    case 31:
      what = "Wave parameters set incorrectly.";
      break;
    case 32:
      what = "Logger height set incorrectly.";
      break;
    default:
      break;
  }
  host_.Tell("Reset Logger", std::string(what) + kTryAgain, BoxIcon::Stop);
  host_.CloseCurrentDialog();
  if (number != 28) host_.PostCommand(cmd::kSetup);
}

int LoggerLink::ResumeLogging() {
  for (int round = 0; round < 5; ++round) {
    link_.LinkWriteText("!R");
    GetStatus();
    const std::string_view reply = ReplyText();
    for (const char* word : {"Logger started in mode", "Logger status 02", "Logger status 06"}) {
      if (reply.find(word) != std::string_view::npos) {
        ShowStatus(host_, "Logger resumed sampling");
        return 1;
      }
    }
  }
  host_.Tell("Resume", "Logger failed to resume.", BoxIcon::Stop);
  return 0;
}

bool LoggerLink::SetExpressBaud(int baudRate) {
  ConnectLogger();
  const float fw = state.firmware;
  if (!state.IsVS() && !state.extendedCommandSet) {
    const bool na = state.ModelHas("NA");
    const bool nbOrNmv = state.ModelHas("NB") || state.ModelHas("NMV");
    const bool supported =
        (na && ((fw > 2.15f && fw < 3.0f) || fw > 3.15f)) || (nbOrNmv && fw > 3.15f);
    if (!supported) return state.connected;  // no switch on this logger: the link is as it was
    link_.LinkWriteText(baudRate == 28800 ? "!E00" : "!E01");
  } else {
    link_.LinkWriteText(Format("!E%02X", ExpressBaudCode(baudRate) & 0xFF));
  }
  link_.WaitMilliseconds(200);
  link_.currentBaudRate = baudRate;
  state.connected = false;
  return ConnectCommand();
}

int LoggerLink::ReadSingleChannelCalibration(std::array<double, 4>& out, bool& uncalibrated) {
  uncalibrated = false;
  for (int attempt = 0; attempt < kCalibrationZAttempts; ++attempt) {
    link_.LinkWriteText("Z");
    const int n = ReadLinkIntoReply(120);
    const auto* bytes = reply_.data();
    if (n > 0 && n < 8) {
      const std::string_view head(reinterpret_cast<const char*>(bytes),
                                  static_cast<size_t>(std::min(n, 3)));
      if (head.find("CAL") != std::string_view::npos) {
        uncalibrated = true;
        return 1;
      }
    }
    if (n >= 35 && std::memcmp(bytes + 32, "CAL", 3) == 0) {
      for (size_t i = 0; i < 4; ++i) std::memcpy(&out[i], bytes + 8 * i, 8);
      return 1;
    }
  }
  return 0;
}

int LoggerLink::CommGet(int number) {
  switch (number) {
    case 0:
      return ConnectLogger() ? 1 : 0;
    case 1: {
      const bool ok = QueryTagged("B", "CTD");
      loggerClock = ParseLoggerDate(ReplyText());
      return ok ? 1 : 0;
    }
    case 2: {
      const bool ok = QueryTagged("C", "CSP");
      if (ok) deployment_.samplePeriod = ToPeriod(ParseLoggerDuration(ReplyText()));
      return ok ? 1 : 0;
    }
    case 3: {
      const bool ok = QueryTagged("D", "CST");
      if (ok) deployment_.startTime = ParseLoggerDate(ReplyText());
      return ok ? 1 : 0;
    }
    case 4: {
      const bool ok = QueryTagged("E", "CET");
      if (ok) deployment_.endTime = ParseLoggerDate(ReplyText());
      return ok ? 1 : 0;
    }
    case 6:
      return QueryTagged("G", "CDP") ? 1 : 0;
    case 7:
      return FetchReading();
    case 9:
      return GetStatus();
    case 10: {
      if (!state.calibrationStale) return 1;
      return calibrationReader ? calibrationReader() : 0;
    }
    case 16:
      if (state.IsVS() || state.extendedCommandSet) return ReadConfiguration();
      state.channelCount = 1;
      if (state.channelTypes.size() != 1) state.channelTypes = state.ModelHas("NA") ? "T" : "P";
      return 1;
    case 17: {
      const bool ok = QueryTagged("X", "BST");
      uint8_t b[2] = {0, 0};
      const bool parsed = ok && HexBytesBefore(ReplyText(), "BST", 2, b);
      const unsigned value = parsed ? static_cast<unsigned>(b[0] | (b[1] << 8)) : 0;
      if (value >= 2 && value <= 64800 && state.averaging != 0) {
        // The logger keeps a count of readings (seconds × 6, or × the sampling rate of a
        // high-rate logger, as "W" sends it): the setting is in seconds.
        const unsigned rate = state.highSamplingRates
                                  ? static_cast<unsigned>(std::clamp(deployment_.waveRateHz, 1, 4))
                                  : 6u;
        deployment_.averagingEnabled = true;
        deployment_.averagingSeconds = std::max(1u, value / rate);
      } else {
        deployment_.averagingEnabled = false;
        deployment_.averagingSeconds = 1;
      }
      return ok ? 1 : 0;
    }
    case 20:
      return GetParameterBlock();
    case 21: {
      link_.LinkWriteText("!D");
      ReadLinkIntoReply(120);
      const std::string reply(ReplyText());
      if (state.firmware >= 2.2f) {
        const size_t at = reply.find("BAT");
        if (at == std::string::npos) return 0;
        batteryVoltage = reply.substr(at >= 2 ? at - 2 : 0, at >= 2 ? 2 : at);
      } else {
        batteryVoltage = reply.substr(0, 2);
      }
      SetReply(batteryVoltage);
      return 1;
    }
    case 26: {
      if (!state.extendedCommandSet) return 0;
      link_.LinkWriteText("T");
      ReadLinkIntoReply(120);
      const std::string_view reply = ReplyText();
      if (reply.find("Logger status 7F") != std::string_view::npos) return 0;
      if (reply.find("Logger status") != std::string_view::npos) return 1;
      host_.SetProgress(101, 100);
      return 0;
    }
    case 27:
      return QueryTagged("!W", "WIN") ? 1 : 0;
    case 28: {
      if (!state.HasTwelveCommands()) return 0;
      if (!QueryTagged("!2", "STC")) return 0;
      const std::string_view reply = ReplyText();
      const size_t tag = reply.find("STC");
      // The logger answers with the bytes it was given; the first two carry the start mode.
      uint8_t b[4] = {};
      size_t count = std::min<size_t>(tag / 2, 4);
      if (count < 2 || !HexBytes(reply, tag - 2 * count, count, b)) return 0;
      deployment_.startCharacteristic = {b[0], b[1]};
      // The mode byte carries start-now, continuous power, 6 Hz and real-time output; the
      // second byte the low start flags (bit 2: the logger reports engineering units).
      if (b[0] & 0x01)
        deployment_.startMode = kStartNow;
      else if (deployment_.startMode == kStartNow)
        deployment_.startMode = kStartAtTime;
      deployment_.continuousPower = (b[0] & 0x80) != 0;
      deployment_.profiling6Hz = (b[0] & 0x40) != 0;
      deployment_.realtimeOutput = (b[0] & 0x20) != 0;
      deployment_.startFlags = (deployment_.startFlags & ~0xFFu) | b[1];
      state.formatFlags = deployment_.startFlags;
      return 1;
    }
    case 30: {
      if (!state.highSamplingRates) return 0;
      uint8_t code = 0;
      if (!QueryTagged("!5", "RAT") || !HexBytesBefore(ReplyText(), "RAT", 1, &code)) return 0;
      // The byte is the rate in Hz, one of "1Hz", "2Hz", "4Hz".
      deployment_.highRateCode = code;
      if (code == 1 || code == 2 || code == 4) deployment_.waveRateHz = code;
      return 1;
    }
    case 31: {
      if (!QueryTagged("!7", "WAV")) return 0;
      const std::string_view reply = ReplyText();
      const size_t tag = reply.find("WAV");
      uint8_t b[2] = {0, 0};
      const bool parsed = tag >= 10 && HexBytes(reply, tag - 10, 2, b);
      const int length = parsed ? (b[0] | (b[1] << 8)) : 0;
      const bool valid =
          length == 512 || length == 1024 || length == 2048 || length == 4096 || length == 8192;
      deployment_.waveEnabled = valid;
      deployment_.burstLength = valid ? length : 0;
      deployment_.burstInterval = ToPeriod(ParseLoggerDuration(reply));
      return 1;
    }
    case 32: {
      uint8_t b[8] = {};
      if (!QueryTagged("!Z", "LHT") || !HexBytesBefore(ReplyText(), "LHT", 8, b)) return 0;
      double height = 0.0;
      std::memcpy(&height, b, 8);
      deployment_.loggerHeight = height;
      return 1;
    }
    case 33: {
      link_.LinkWriteText("!U02!T");
      link_.WaitMilliseconds(120);
      link_.LinkWriteText("!T00");
      const int n = ReadLinkIntoReply(40);
      if (n < 4) return 0;
      samplingLedOn = ReplyText().find("0102") != std::string_view::npos;
      return samplingLedOn ? 1 : 0;
    }
    case 35:
      link_.LinkWriteText(Format("!GCC%08u", cardArgument % 100000000u));
      ReadLinkIntoReply(300);
      return replyLength_ > 0 ? 1 : 0;
    case 36:
      link_.LinkWriteText(
          Format(state.genericCardVersion < 4 ? "!X01%02X" : "!X04%02X", metaTableNumber));
      ReadLinkIntoReply(300);
      return replyLength_ > 0 ? 1 : 0;
    case 38: {
      link_.LinkWriteText("!300000");
      link_.WaitMilliseconds(500);
      const char probe[4] = {0x7E, static_cast<char>(optodeAddress), 0x01, 0};
      link_.LinkWriteText(std::string_view(probe, 3));
      const int n = ReadLinkIntoReply(120);
      const auto* begin = reply_.data();
      const auto* marker = std::find(begin, begin + n, 0x7E);
      if (marker != begin + n && marker + 2 <= begin + n) {
        const std::string_view after(reinterpret_cast<const char*>(marker + 2),
                                     static_cast<size_t>(begin + n - (marker + 2)));
        if (after.find("FFFFF5") != std::string_view::npos) return 1;
      }
      SetReply(
          "ERROR #3 Unable to confirm the presence of an Optode sensor on this logger."
          "\n\nPress 'OK' to continue.");
      return 0;
    }
    case 39: {
      if (realtimePending && link_.linkActivityCountdown >= 1) return 1;
      if (!ConnectLogger()) {
        realtimeMessage = "Unable to communicate with logger";
        return 1;
      }
      realtimePending = false;
      if (averagedRealtime) {
        CommSet(33);  // the sampling LED first
        CommSet(17);
        link_.LinkWriteText("FAB");
      } else {
        link_.LinkWriteText(FetchCommand());
      }
      int wait = (state.latencyMs + state.readingTimeMs + 999) / 1000 + 3;
      if (averagedRealtime && deployment_.averagingEnabled)
        wait += static_cast<int>(deployment_.averagingSeconds);
      realtimeProgressMax = wait;
      realtimeCollected = 0;
      return 1;
    }
    case 40: {
      const int room = std::min(300, 2048 - realtimeCollected);
      if (room <= 0) {
        realtimeCollected = 0;
        return 0;
      }
      const int n = link_.LinkRead(reply_.data() + realtimeCollected, room);
      realtimeCollected += n;
      replyLength_ = realtimeCollected;
      reply_[static_cast<size_t>(realtimeCollected)] = 0;
      const std::string_view text(reinterpret_cast<const char*>(reply_.data()),
                                  static_cast<size_t>(realtimeCollected));
      if (state.engineeringUnitsLevel != 0 && state.OutputsEngineeringUnits()) {
        const size_t fet = text.find("FET\r\n");
        if (fet != std::string_view::npos) {
          realtimeCollected = static_cast<int>(fet + 3);
          reply_[static_cast<size_t>(realtimeCollected)] = 0;
          replyLength_ = realtimeCollected;
          return 1;
        }
      } else if (realtimeCollected >= FetchExpectedLength()) {
        return 1;  // a reply may arrive over several reads
      }
      if (text.find("Busy") != std::string_view::npos) {
        realtimeCollected = 0;
        return 1;
      }
      if (realtimeCollected >= 2044) {
        realtimeCollected = 0;
        replyLength_ = 0;
        reply_[0] = 0;
      }
      return 0;
    }
    default:
      host_.Tell("DEBUG", "Unknown CommGet command", BoxIcon::Warning);
      return 0;
  }
}

int LoggerLink::CommSet(int number) {
  int result = 1;
  switch (number) {
    case 1:
      link_.LinkWriteText("J" + LoggerDateText(clockToSet));
      break;
    case 2:
      link_.LinkWriteText("K" + DurationText(FromPeriod(deployment_.samplePeriod)));
      break;
    case 3:
      link_.LinkWriteText("L" + LoggerDateText(deployment_.startTime));
      break;
    case 4:
      link_.LinkWriteText("M" + LoggerDateText(deployment_.endTime));
      break;
    case 8:
      link_.LinkWriteText("P");
      break;
    case 11:
      return conductivityCalibration ? conductivityCalibration() : 0;
    case 12:
      if (state.extendedCommandSet) {
        link_.LinkWriteText("!U01N");
        link_.WaitMilliseconds(120);
      }
      link_.LinkWriteText("N");
      break;
    case 13:
      if (!ConnectLogger()) return 0;
      link_.LinkWriteText("!9");
      break;
    case 17: {
      std::string command;
      if (!deployment_.averagingEnabled) {
        if (state.extendedCommandSet && state.averaging == 0) break;
        command = "W0100";
      } else {
        const unsigned rate = state.highSamplingRates
                                  ? static_cast<unsigned>(std::clamp(deployment_.waveRateHz, 1, 4))
                                  : 6u;
        const unsigned value = (deployment_.averagingSeconds * rate) & 0xFFFF;
        command = Format("W%02X%02X", value & 0xFF, value >> 8);
      }
      if (!state.extendedCommandSet) {
        link_.LinkWriteText(command);
      } else if (!SetAndVerify(command, "X", "BST")) {
        VerifyFailed(17);
        return 0;
      }
      break;
    }
    case 18: {
      if (state.extendedCommandSet && !state.conventionalThresholding) break;
      if (state.powerSaveThresholding) CommSet(24);
      const auto& b = deployment_.thresholdBlock;
      link_.LinkWriteText(Format("!A%02X%02X%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2], b[3], b[4],
                                 b[5], b[6], b[7]));
      break;
    }
    case 19:
      if (deployment_.realtimeOutput)
        link_.LinkWriteText(Format("!B%02X", deployment_.realtimeBaudCode & 0xFF));
      else if (!state.extendedCommandSet || state.externalDataConnector)
        link_.LinkWriteText("!B00");
      break;
    case 22:
      link_.LinkWriteText("!S");
      break;
    case 23:
      return ResumeLogging();
    case 24:
      link_.LinkWriteText("!K" + DurationText(FromPeriod(deployment_.powerSavePeriod)));
      break;
    case 25:
      link_.LinkWriteText(
          Format("!H%02X%02X", deployment_.count16 & 0xFF, deployment_.count16 >> 8));
      break;
    case 28:
    case 29: {
      if (!state.HasTwelveCommands()) return 0;
      // Loggers without OEM support take no start flags.
      const uint32_t flags = state.oemSupport ? deployment_.startFlags : 0;
      const std::string command = Format("!1%02X%02X%02X%02X", StartModeByte(), flags & 0xFF,
                                         (flags >> 8) & 0xFF, (flags >> 16) & 0xFF);
      if (!SetAndVerify(command, "!2", "STC")) {
        VerifyFailed(number);
        return 0;
      }
      break;
    }
    case 30: {
      if (!state.highSamplingRates) return 0;
      const unsigned hz = static_cast<unsigned>(std::clamp(deployment_.waveRateHz, 1, 4));
      if (!SetAndVerify(Format("!4%02X", hz), "!5", "RAT")) {
        VerifyFailed(30);
        return 0;
      }
      break;
    }
    case 31: {
      const std::string interval = DurationText(FromPeriod(deployment_.burstInterval));
      const unsigned length = static_cast<unsigned>(deployment_.burstLength) & 0xFFFF;
      const std::string command = deployment_.waveEnabled
                                      ? Format("!6%02X%02X", length & 0xFF, length >> 8) + interval
                                      : "!60000" + interval;
      if (!SetAndVerify(command, "!7", "WAV")) {
        VerifyFailed(31);
        return 0;
      }
      break;
    }
    case 32: {
      uint8_t b[8];
      std::memcpy(b, &deployment_.loggerHeight, 8);
      const std::string command = Format("!Y%02X%02X%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2],
                                         b[3], b[4], b[5], b[6], b[7]);
      if (!SetAndVerify(command, "!Z", "LHT")) {
        VerifyFailed(32);
        return 0;
      }
      break;
    }
    case 33:
      link_.LinkWriteText("!U02!T");
      link_.WaitMilliseconds(120);
      link_.LinkWriteText("!T01");
      break;
    case 34:
      link_.LinkWriteText(
          Format(state.genericCardVersion < 4 ? "!X02%02X" : "!X05%02X", metaTableNumber));
      for (const auto& line : metaTableLines) link_.LinkWriteText(line);
      break;
    default:
      return 0;
  }
  link_.WaitMilliseconds(50);
  return result;
}

uint8_t LoggerLink::StartModeByte() const {
  // Only "now" survives in the start characteristic; threshold starts travel in "!A".
  unsigned mode = deployment_.startMode & 1u;
  if (deployment_.continuousPower) mode |= 0x80;
  if (deployment_.profiling6Hz) mode |= 0x40;
  if (deployment_.realtimeOutput) mode |= 0x20;
  return static_cast<uint8_t>(mode);
}

}  // namespace klx
