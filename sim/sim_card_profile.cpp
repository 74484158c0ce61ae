#include "sim/sim_card_profile.h"

#include <cerrno>
#include <cstdlib>

namespace klx::sim {
namespace {

bool Number(std::string_view text, long long low, long long high, long long& out) {
  const std::string s(text);
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

bool Flag(std::string_view s, bool& out) {
  if (s == "yes" || s == "true" || s == "1" || s == "on") return out = true, true;
  if (s == "no" || s == "false" || s == "0" || s == "off") return out = false, true;
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Text with \r \n \t \\ and \xHH escapes; false on a broken escape.
bool Unescape(std::string_view in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out += in[i];
      continue;
    }
    if (++i >= in.size()) return false;
    switch (in[i]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        if (i + 2 >= in.size()) return false;
        const int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

bool ApplyCardSetting(const std::string& key, std::string_view value, SimCardProfile& p,
                      std::string& error, bool& known) {
  known = true;
  auto bad = [&](std::string_view what) {
    error =
        "bad value for \"" + key + "\": \"" + std::string(value) + "\" (" + std::string(what) + ")";
    return false;
  };
  long long v = 0;
  auto count = [&](int& target) {
    if (!Number(value, -1, 1000000, v)) return bad("a count or -1");
    target = static_cast<int>(v);
    return true;
  };
  auto ms = [&](int& target, long long high) {
    if (!Number(value, 0, high, v)) return bad("0 to " + std::to_string(high));
    target = static_cast<int>(v);
    return true;
  };
  if (key == "meta_table") {
    if (!Unescape(value, p.metaTable)) return bad("text with \\r \\n \\t \\\\ \\xHH escapes");
  } else if (key == "card_step_ms") {
    return ms(p.cardStepMs, 60000);
  } else if (key == "card_capacity") {
    if (!Number(value, 1, 1 << 20, v)) return bad("1 to 1048576 bytes");
    p.cardCapacity = static_cast<int>(v);
  } else if (key == "mmc") {
    if (!Flag(value, p.mmc)) return bad("yes or no");
  } else if (key == "mmc.size_kb") {
    if (!Number(value, 0, 0xFFFFFFFFLL, v)) return bad("a 32-bit size");
    p.mmcSizeKb = static_cast<uint32_t>(v);
  } else if (key == "mmc.type") {
    if (value.empty() || value.size() > 40) return bad("1 to 40 characters");
    p.mmcType = value;
  } else if (key == "mmc.first" || key == "mmc.files") {
    if (!Number(value, 0, 99999999, v)) return bad("0 to 99999999");
    (key == "mmc.first" ? p.mmcFirst : p.mmcFiles) = static_cast<int>(v);
    if (static_cast<long long>(p.mmcFirst) + p.mmcFiles > 100000000LL)
      return bad("the last file number must have eight digits");
  } else if (key == "mmc.delay_ms") {
    return ms(p.mmcDelayMs, 600000);
  } else if (key == "modem.front_porch_ms" || key == "modem.back_porch_ms") {
    p.modem = true;
    // Kept by the logger as a 16-bit count of 5 ms.
    return ms(key == "modem.front_porch_ms" ? p.frontPorchMs : p.backPorchMs, 65535 * 5);
  } else if (key == "modem.active_level" || key == "modem.inactive_level") {
    p.modem = true;
    return ms(key == "modem.active_level" ? p.activeLevel : p.inactiveLevel, 1);
  } else if (key == "fault.card_config_fails") {
    return count(p.configFails);
  } else if (key == "fault.card_status_133") {
    return count(p.status133);
  } else if (key == "fault.card_hang") {
    return count(p.hang);
  } else if (key == "fault.card_bad_checksum") {
    return count(p.badChecksum);
  } else if (key == "fault.card_no_etx") {
    return count(p.noEtx);
  } else if (key == "fault.optode_absent" || key == "fault.optode_stuck") {
    if (!Flag(value, key == "fault.optode_absent" ? p.optodeAbsent : p.optodeStuck))
      return bad("yes or no");
  } else {
    known = false;
  }
  return true;
}

}  // namespace klx::sim
