#pragma once
// The real-time limits file "klx.lim": per quantity the upper and the lower
// display limit, whole numbers, one line "Name=%d %d\n" each.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace klx {

struct RealTimeLimit {
  std::string name;  // the key in the file ("Temperature", "SOS", ...)
  int upper = 0;
  int lower = 0;

  friend bool operator==(const RealTimeLimit&, const RealTimeLimit&) = default;
};

class RealTimeLimits {
 public:
  // The eighteen quantities with their defaults, in file order.
  RealTimeLimits();
  static const std::vector<RealTimeLimit>& Defaults();

  // The limit of a quantity, or nullptr for a name the file does not know.
  const RealTimeLimit* Find(std::string_view name) const;
  RealTimeLimit* Find(std::string_view name);
  const std::vector<RealTimeLimit>& All() const { return limits_; }

  // The file text, in file order.
  std::string Text() const;
  // Applies one line "Name=upper lower"; a line without a known key or without two whole
  // numbers changes nothing. True when it set a limit.
  bool ApplyLine(std::string_view line);

 private:
  std::vector<RealTimeLimit> limits_;
};

// dir/"klx.lim".
std::filesystem::path LimitsFilePath(const std::filesystem::path& programDirectory);

// Resets the defaults and reads the file; when it is missing, writes it with the defaults.
// Lines are read up to 95 characters; bad lines are ignored.
void ReadRealTimeLimits(const std::filesystem::path& programDirectory, RealTimeLimits& limits);
// Rewrites the file (false when it cannot be written).
bool WriteRealTimeLimits(const std::filesystem::path& programDirectory,
                         const RealTimeLimits& limits);

}  // namespace klx
