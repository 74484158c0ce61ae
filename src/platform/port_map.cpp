#include "platform/port_map.h"

#include <fstream>
#include <optional>
#include <string_view>

namespace klx {
namespace {

// Longer lines are not port lines (a device path fits easily).
constexpr size_t kMaxLineLength = 260;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "COM<digits>", any case; the number (possibly out of range), or nothing for other names.
std::optional<int> ComNumber(std::string_view s) {
  if (s.size() < 4 || Lower(s[0]) != 'c' || Lower(s[1]) != 'o' || Lower(s[2]) != 'm')
    return std::nullopt;
  int n = 0;
  for (char c : s.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    if (n < 1000) n = n * 10 + (c - '0');  // saturates: anything this big is out of range
  }
  return n;
}

bool InRange(int n) {
  return n >= 1 && n <= PortMap::kMaxPort;
}

// Control bytes other than tab mark a line as binary.
bool IsText(std::string_view s) {
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

void PortMap::Load(const std::string& programDirectory, const std::vector<std::string>& devices) {
  map_.clear();
  std::string path = programDirectory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += kFileName;

  auto takeLine = [this](std::string_view raw) {
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);  // CR LF line ends
    if (raw.size() > kMaxLineLength || !IsText(raw)) return;
    const std::string_view line = Trim(raw);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const auto number = ComNumber(Trim(line.substr(0, eq)));
    const std::string_view device = Trim(line.substr(eq + 1));
    if (!number || !InRange(*number) || device.empty() || ComNumber(device)) return;
    if (map_.count(*number)) return;  // the first line for a number wins
    for (const auto& [n, d] : map_)
      if (d == device) return;  // and the first line for a device
    map_.emplace(*number, std::string(device));
  };

  std::ifstream in(path, std::ios::binary);
  if (in) {
    // Read in pieces so that a huge or binary file costs no more than one line's worth.
    std::string line;
    bool overlong = false;
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
      const std::streamsize got = in.gcount();
      for (std::streamsize i = 0; i < got; ++i) {
        const char c = chunk[i];
        if (c == '\n') {
          if (!overlong) takeLine(line);
          line.clear();
          overlong = false;
        } else if (!overlong) {
          line.push_back(c);
          if (line.size() > kMaxLineLength + 1) {
            overlong = true;
            line.clear();
          }
        }
      }
    }
    if (!overlong && !line.empty()) takeLine(line);
  }

  for (const std::string& device : devices) {
    if (device.empty()) continue;
    bool named = false;
    for (const auto& [n, d] : map_)
      if (d == device) named = true;
    if (named) continue;
    int free = 0;
    for (int n = 1; n <= kMaxPort && !free; ++n)
      if (!map_.count(n)) free = n;
    if (!free) break;
    map_.emplace(free, device);
  }
}

std::string PortMap::DeviceFor(int number) const {
  const auto it = map_.find(number);
  return it == map_.end() ? std::string() : it->second;
}

int PortMap::NumberFor(const std::string& name) {
  const std::string_view n = Trim(name);
  if (n.empty()) return 0;
  if (const auto number = ComNumber(n)) return InRange(*number) ? *number : 0;
  for (const auto& [number, device] : map_)
    if (device == n) return number;
  for (int number = 1; number <= kMaxPort; ++number) {
    if (!map_.count(number)) {
      map_.emplace(number, std::string(n));
      return number;
    }
  }
  return 0;
}

std::vector<std::pair<int, std::string>> PortMap::Entries() const {
  return {map_.begin(), map_.end()};
}

}  // namespace klx
