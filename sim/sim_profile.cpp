#include "sim/sim_profile.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace klx::sim {
namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

std::vector<std::string> Words(std::string_view s) {
  std::vector<std::string> out;
  std::string current;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == ',') {
      if (!current.empty()) out.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

bool ParseInteger(std::string_view text, int64_t low, int64_t high, int64_t& out) {
  const std::string s(Trim(text));
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  // Decimal, or hexadecimal with "0x" (leading zeros never mean octal: serials are "%06d").
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  const char* digits = s.c_str() + (hex ? 2 : 0);
  const long long v = std::strtoll(digits, &end, hex ? 16 : 10);
  if (errno != 0 || end == digits || *end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

bool ParseInt(std::string_view text, int low, int high, int& out) {
  int64_t v = 0;
  if (!ParseInteger(text, low, high, v)) return false;
  out = static_cast<int>(v);
  return true;
}

bool ParseDouble(std::string_view text, double& out) {
  const std::string s(Trim(text));
  if (s.empty()) return false;
  std::istringstream in(s);
  in.imbue(std::locale::classic());
  in >> out;
  return !in.fail() && in.eof();
}

bool ParseBool(std::string_view text, bool& out) {
  const std::string_view s = Trim(text);
  if (s == "yes" || s == "true" || s == "1" || s == "on") return out = true, true;
  if (s == "no" || s == "false" || s == "0" || s == "off") return out = false, true;
  return false;
}

bool AllDigits(std::string_view s, size_t count) {
  return s.size() == count &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  for (const auto& w : Words(text)) {
    int64_t v = 0;
    if (!ParseInteger("0x" + w, 0, 255, v) || w.size() > 2) return false;
    out.push_back(static_cast<uint8_t>(v));
  }
  return true;
}

}  // namespace

double SimProfile::FirmwareValue() const {
  double v = 0.0;
  return ParseDouble(firmware, v) ? v : 0.0;
}

bool SimProfile::AnswersCapabilities() const {
  if (answersCapabilities) return *answersCapabilities;
  return IsExtended() || (IsMultiChannel() && FirmwareValue() > 4.25);
}

bool ApplyProfileSetting(std::string_view keyIn, std::string_view valueIn, SimProfile& p,
                         std::string& error) {
  const std::string key(Trim(keyIn));
  const std::string_view value = Trim(valueIn);
  auto bad = [&](std::string_view what) {
    error =
        "bad value for \"" + key + "\": \"" + std::string(value) + "\" (" + std::string(what) + ")";
    return false;
  };
  auto stamp = [&](std::string& target) {
    if (!AllDigits(value, 12)) return bad("expected twelve digits yymmddhhmmss");
    target = value;
    return true;
  };
  int64_t v = 0;
  if (key == "model") {
    if (value.empty() || value.find_first_of(" \t") != std::string_view::npos)
      return bad("one word expected");
    p.model = value;
  } else if (key == "firmware") {
    double f = 0;
    if (!ParseDouble(value, f) || f < 0 || f > 99) return bad("a version such as 4.30");
    p.firmware = value;
  } else if (key == "serial") {
    if (!ParseInt(value, 0, 999999, p.serial)) return bad("0 to 999999");
  } else if (key == "baud") {
    if (!ParseInt(value, 300, 1000000, p.baud)) return bad("a line rate");
  } else if (key == "channels") {
    if (value.empty() || value.size() > 24) return bad("1 to 24 type letters");
    const auto old = p.channels;
    p.channels.clear();
    for (size_t i = 0; i < value.size(); ++i) {
      const char c = value[i];
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return bad("letters only");
      p.channels.push_back({c, i < old.size() ? old[i].second : uint8_t{0}});
    }
  } else if (key == "channel_bytes") {
    const auto words = Words(value);
    if (words.size() != p.channels.size()) return bad("one number per channel");
    for (size_t i = 0; i < words.size(); ++i) {
      if (!ParseInteger(words[i], 0, 255, v)) return bad("0 to 255");
      p.channels[i].second = static_cast<uint8_t>(v);
    }
  } else if (key == "latency_ms") {
    if (!ParseInt(value, 0, 655350, p.latencyMs)) return bad("0 to 655350");
  } else if (key == "reading_time_ms") {
    if (!ParseInt(value, 0, 6553500, p.readingTimeMs)) return bad("0 to 6553500");
  } else if (key == "param_block") {
    if (!ParseInt(value, 1, 255, p.paramBlock)) return bad("1 to 255");
  } else if (key.rfind("cap.", 0) == 0) {
    int entry = 0;
    if (!ParseInt(std::string_view(key).substr(4), 0, 255, entry)) return bad("entry 0 to 255");
    if (!ParseInteger(value, 0, 0xFFFFFFFFLL, v)) return bad("a 32-bit number");
    p.capabilities[entry] = static_cast<uint32_t>(v);
  } else if (key == "capabilities") {
    bool b = false;
    if (!ParseBool(value, b)) return bad("yes or no");
    p.answersCapabilities = b;
  } else if (key == "default_baud_code") {
    int code = 0;
    if (!ParseInt(value, 0, 255, code)) return bad("0 to 255");
    p.defaultBaudCode = code;
  } else if (key == "rs_advanced") {
    if (!ParseInteger(value, 0, 0xFFFFFFFFLL, v)) return bad("a 32-bit number");
    p.rsAdvanced = static_cast<uint32_t>(v);
  } else if (key.rfind("table.", 0) == 0) {
    int table = 0;
    std::vector<uint8_t> bytes;
    if (!ParseInt(std::string_view(key).substr(6), 0, 255, table)) return bad("table number");
    if (!ParseHexBytes(value, bytes) || bytes.size() > 254) return bad("hexadecimal bytes");
    p.tables[table] = std::move(bytes);
  } else if (key == "clock") {
    return stamp(p.clock);
  } else if (key == "start") {
    return stamp(p.start);
  } else if (key == "end") {
    return stamp(p.end);
  } else if (key == "cal_date") {
    return stamp(p.calDate);
  } else if (key == "period") {
    if (!AllDigits(value, 6)) return bad("expected six digits hhmmss");
    p.period = value;
  } else if (key == "status") {
    if (!ParseInt(value, 0, 255, p.status)) return bad("0 to 255");
  } else if (key == "data_bytes") {
    if (!ParseInt(value, 0, 0x7FE000, p.dataBytes)) return bad("0 to 8380416");
  } else if (key == "samples") {
    if (!ParseInteger(value, 0, 10000000, v)) return bad("0 to 10000000");
    p.samples = v;
  } else if (key == "fill") {
    double f = 0;
    if (!ParseDouble(value, f) || !(f >= 0 && f <= 1)) return bad("a fraction 0 to 1");
    p.fill = f;
  } else if (key == "memory_mb") {
    if (value != "2" && value != "4") return bad("2 or 4");
    p.memoryMb = value == "2" ? 2 : 4;
  } else if (key == "ascii") {
    if (!ParseBool(value, p.asciiData)) return bad("yes or no");
  } else if (key == "seed") {
    if (!ParseInteger(value, 0, 0x7FFFFFFFFFFFFFFFLL, v)) return bad("a number");
    p.seed = static_cast<uint64_t>(v);
  } else if (key == "depth") {
    double f = 0;
    if (!ParseDouble(value, f) || !(f >= -10 && f <= 12000)) return bad("-10 to 12000 dbar");
    p.depth = f;
  } else if (key == "stamps") {
    static const char* const kCodes[] = {"TIM", "CLD", "CHG", "LUK", "WRM", "STP",
                                         "TTY", "REC", "BST", "SER", "RTC"};
    std::vector<SimStampPlan> plan;
    for (const auto& w : Words(value)) {
      SimStampPlan s;
      s.code = w.substr(0, w.find(':'));
      if (std::find(std::begin(kCodes), std::end(kCodes), s.code) == std::end(kCodes))
        return bad("stamp codes such as CLD:1500 or STP");
      if (w.find(':') != std::string::npos &&
          !ParseInteger(std::string_view(w).substr(w.find(':') + 1), 0, 10000000, s.row))
        return bad("a row number after the code");
      plan.push_back(s);
    }
    p.stamps = std::move(plan);
  } else if (key == "profiling") {
    if (!ParseBool(value, p.profiling)) return bad("yes or no");
  } else if (key == "burst_length") {
    if (!ParseInt(value, 0, 65535, p.burstLength)) return bad("0 to 65535");
  } else if (key == "burst_interval") {
    if (!AllDigits(value, 6)) return bad("expected six digits hhmmss");
    p.burstInterval = value;
  } else if (key == "wave_rate") {
    if (!ParseInt(value, 1, 4, p.waveRate) || p.waveRate == 3) return bad("1, 2 or 4");
  } else if (key == "wave_period" || key == "wave_amplitude" || key == "height") {
    double f = 0;
    const double high = key == "wave_period" ? 60 : 100;
    if (!ParseDouble(value, f) || !(f >= 0 && f <= high))
      return bad(key == "wave_period" ? "0 to 60 seconds" : "0 to 100 m");
    (key == "wave_period" ? p.wavePeriod : key == "height" ? p.height : p.waveAmplitude) = f;
  } else if (key == "fault.bad_block_rate" || key == "fault.drop_block_rate") {
    double f = 0;
    if (!ParseDouble(value, f) || !(f >= 0 && f <= 1)) return bad("a fraction 0 to 1");
    (key == "fault.bad_block_rate" ? p.faults.badBlockRate : p.faults.dropBlockRate) = f;
  } else if (key == "fault.silent_after_ms") {
    if (!ParseInt(value, 0, 100000000, p.faults.silentAfterMs)) return bad("milliseconds");
  } else if (key == "fault.lost_after_switch") {
    bool b = false;
    if (ParseBool(value, b) && (value == "yes" || value == "no" || value == "true" ||
                                value == "false" || value == "on" || value == "off")) {
      p.faults.lostAfterSwitch = b ? 1 : 0;
    } else if (!ParseInt(value, -1, 1000000, p.faults.lostAfterSwitch)) {
      return bad("yes, no, a count or -1");
    }
  } else if (key.rfind("cal.", 0) == 0) {
    int channel = 0;
    if (!ParseInt(std::string_view(key).substr(4), 0, 23, channel)) return bad("channel 0..23");
    const auto words = Words(value);
    std::vector<double> c(4);
    if (words.size() != 4) return bad("four coefficients");
    for (size_t i = 0; i < 4; ++i)
      if (!ParseDouble(words[i], c[i])) return bad("four numbers");
    p.calibration[channel] = c;
  } else if (key == "cal_history") {
    if (!ParseInt(value, 0, 5000, p.calHistory)) return bad("0 to 5000");
  } else if (key == "cal_room") {
    int room = 0;
    if (!ParseInt(value, 0, 5000, room)) return bad("0 to 5000");
    p.calRoom = room;
  } else if (key == "cal_incomplete") {
    if (!ParseInt(value, -1, 5000, p.calIncomplete)) return bad("a record number or -1");
  } else if (key == "correction") {
    const auto words = Words(value);
    std::vector<double> c(4);
    if (words.size() != 4) return bad("four coefficients a b Tc c");
    for (size_t i = 0; i < 4; ++i)
      if (!ParseDouble(words[i], c[i]) || !std::isfinite(c[i])) return bad("four numbers");
    p.correction = c;
  } else if (key == "fault.cal_no_memory" || key == "fault.cal_no_config" ||
             key == "fault.ignore_y") {
    int& target = key == "fault.cal_no_memory"   ? p.faults.calNoMemory
                  : key == "fault.cal_no_config" ? p.faults.calNoConfig
                                                 : p.faults.ignoreY;
    if (!ParseInt(value, -1, 1000000, target)) return bad("a count or -1");
  } else if (key == "fault.silent") {
    p.faults.silent = Words(value);
    if (p.faults.silent.empty()) return bad("one or more commands");
  } else if (key == "battery") {
    if (!ParseInt(value, 0, 99, p.battery)) return bad("0 to 99");
  } else if (key == "min_host_version") {
    double f = 0;
    if (!ParseDouble(value, f)) return bad("a version");
    p.minHostVersion = value;
  } else if (key == "reply_delay_ms") {
    if (!ParseInt(value, 0, 10000, p.replyDelayMs)) return bad("0 to 10000");
  } else if (key == "paced") {
    if (!ParseBool(value, p.paced)) return bad("yes or no");
  } else if (key == "erase_ms_per_64k") {
    if (!ParseInt(value, 0, 100000000, p.eraseMsPer64k)) return bad("0 or more");
  } else if (key == "fault.erase_fails") {
    if (!ParseInt(value, 0, 1000000, p.faults.eraseFails)) return bad("a count");
  } else if (key == "fault.realtime_bad_checksum") {
    if (!ParseInt(value, 0, 1000000, p.faults.realtimeBadChecksum)) return bad("a count");
  } else if (key == "rate_revert_ms") {
    if (!ParseInt(value, 0, 100000000, p.rateRevertMs)) return bad("0 or more");
  } else if (key == "fault.bad_check") {
    if (!ParseInt(value, 0, 1000000, p.faults.badCheck)) return bad("a count");
  } else if (key == "fault.drop_byte") {
    if (!ParseInt(value, 0, 1000000, p.faults.dropByte)) return bad("a count");
  } else if (key == "fault.silent_ms") {
    if (!ParseInt(value, 0, 100000000, p.faults.silentMs)) return bad("milliseconds");
  } else if (key == "fault.silent_commands") {
    if (!ParseInt(value, 0, 1000000, p.faults.silentCommands)) return bad("a count");
  } else if (key == "fault.nak_writes") {
    if (!ParseInt(value, -1, 1000000, p.faults.nakWrites)) return bad("a count or -1");
  } else if (key == "fault.unknown") {
    p.faults.unknown = Words(value);
    if (p.faults.unknown.empty()) return bad("one or more commands");
  } else if (key.starts_with("microsal.") || key.starts_with("fault.microsal_")) {
    if (!ApplyMicrosalSetting(key, value, p.microsal, error)) return false;
  } else if (bool card = false; !ApplyCardSetting(key, value, p.cards, error, card)) {
    return false;
  }
  // Unknown keys are ignored, so older simulators read newer profiles.
  return true;
}

bool ParseProfile(std::string_view text, SimProfile& profile, std::string& error) {
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (const auto hash = line.find('#'); hash != std::string_view::npos)
      line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || Trim(line.substr(0, eq)).empty()) {
      error = "line " + std::to_string(lineNumber) + ": expected \"key = value\"";
      return false;
    }
    std::string message;
    if (!ApplyProfileSetting(line.substr(0, eq), line.substr(eq + 1), profile, message)) {
      error = "line " + std::to_string(lineNumber) + ": " + message;
      return false;
    }
  }
  return true;
}

bool LoadProfile(std::string_view nameOrPath, SimProfile& profile, std::string& error,
                 std::string_view directory) {
  std::string path(nameOrPath);
  const bool isPath =
      path.find('/') != std::string::npos || (path.size() > 8 && path.ends_with(".profile"));
  if (!isPath) path = std::string(directory) + "/" + path + ".profile";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "no simulated logger profile \"" + std::string(nameOrPath) + "\" (" + path + ")";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string base = path.substr(path.find_last_of('/') + 1);
  if (base.ends_with(".profile")) base.resize(base.size() - 8);
  profile.name = base;
  std::string message;
  if (!ParseProfile(text.str(), profile, message)) {
    error = path + ": " + message;
    return false;
  }
  return true;
}

std::vector<std::string> ProfileNames(std::string_view directory) {
  std::vector<std::string> names;
  const std::string dir(directory);
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 8 && n.ends_with(".profile")) names.push_back(n.substr(0, n.size() - 8));
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace klx::sim
