#include "shell/limits_file.h"

#include <system_error>

#include "shell/text_file.h"

namespace klx {

const std::vector<RealTimeLimit>& RealTimeLimits::Defaults() {
  static const std::vector<RealTimeLimit> kDefaults = {
      {"Temperature", 35, -5},
      {"Pressure", 30, 0},
      {"Conductivity", 60, 20},
      {"DissolvedO2", 100, 0},
      // The dialog's "Dissolved O2 Concentration(µMol/l)" entry edits this pair.
      {"DerivedO2", 300, 0},
      {"Voltage", 5, 0},
      {"Turbidity", 2500, 0},
      {"PAR", 10000, 0},
      {"pH", 14, 0},
      {"Fluorometry-C", 70, 0},
      {"Fluorometry-R", 70, 0},
      {"Fluorometry-UV", 150, 0},
      {"Depth", 150, 0},
      {"Salinity", 60, 40},
      {"SOS", 1600, 1500},
      {"Significant Wave Height", 5, 0},
      {"Tidal Slope", 1, 0},
      {"Transmissometer", 10, 0},
  };
  return kDefaults;
}

RealTimeLimits::RealTimeLimits() : limits_(Defaults()) {}

const RealTimeLimit* RealTimeLimits::Find(std::string_view name) const {
  for (const RealTimeLimit& l : limits_)
    if (l.name == name) return &l;
  return nullptr;
}

RealTimeLimit* RealTimeLimits::Find(std::string_view name) {
  for (RealTimeLimit& l : limits_)
    if (l.name == name) return &l;
  return nullptr;
}

std::string RealTimeLimits::Text() const {
  std::string text;
  for (const RealTimeLimit& l : limits_)
    text += CFormat("%s=%d %d\n", l.name.c_str(), l.upper, l.lower);
  return text;
}

bool RealTimeLimits::ApplyLine(std::string_view line) {
  // The key is the text before the first "="; it must be a known quantity name.
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  RealTimeLimit* limit = Find(line.substr(0, equals));
  if (limit == nullptr) return false;
  const std::string_view rest = line.substr(equals + 1);
  size_t used = 0;
  const auto upper = LeadingInt(rest, &used);
  if (!upper) return false;
  const auto lower = LeadingInt(rest.substr(used));
  if (!lower) return false;
  limit->upper = *upper;
  limit->lower = *lower;
  return true;
}

std::filesystem::path LimitsFilePath(const std::filesystem::path& programDirectory) {
  return programDirectory / "klx.lim";
}

void ReadRealTimeLimits(const std::filesystem::path& programDirectory, RealTimeLimits& limits) {
  limits = RealTimeLimits{};
  const std::filesystem::path path = LimitsFilePath(programDirectory);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    WriteRealTimeLimits(programDirectory, limits);
    return;
  }
  if (const auto lines = ReadTextLines(path, 95)) {
    for (const TextLine& line : *lines)
      if (!line.overLong) limits.ApplyLine(line.text);
  }
}

bool WriteRealTimeLimits(const std::filesystem::path& programDirectory,
                         const RealTimeLimits& limits) {
  return WriteTextFileAtomically(LimitsFilePath(programDirectory), limits.Text());
}

}  // namespace klx
