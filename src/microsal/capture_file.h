#pragma once
// The micro-salinometer's capture file ("%06d*.sal" in the "sal" folder): a header with the
// logger, the comment, the opening time and the Standard Seawater batch, then one row per
// "Save now" and, while the file is open, an automatic row every ten seconds.
#include <filesystem>
#include <optional>
#include <string>

#include "microsal/measurement.h"
#include "microsal/standardization.h"
#include "platform/host.h"
#include "platform/system_time.h"
#include "records/logger_state.h"

namespace klx {

inline constexpr const char* kCaptureCaption = "Micro-Salinometer Data Capture to File";
inline constexpr const char* kSalFolderError = "Error: Unable to create 'sal' directory";

// "KLX %s %5.2f %06d (Windows: 6.13)", with the minimum host version when the logger gave one.
std::string MicrosalIdentityLine(const LoggerState& logger);
// The header, up to and including the two column heading lines. The comment is written only
// when it is longer than one character.
std::string SalHeaderText(const std::string& identityLine, const std::string& comment,
                          const SystemTime& opened, const MicrosalStandardization& s);
// "\nStandard Seawater Batch=%s, K15=%.5f\n\n".
std::string StandardSeawaterLine(const MicrosalStandardization& s);
// The sample information as a row carries it: at most 30 characters, spaces as "_".
std::string SampleInformation(const std::string& text);
// "%02d:%02d:%02d %30s %9.2f %9.5f %9.4f %9.5f %4d\n": time of day, sample information, mean
// temperature, mean Rt, mean salinity, standard deviation, seconds averaged.
std::string SalRowText(const SystemTime& time, const std::string& information,
                       const MicrosalMeasurement& m);

class SalCaptureFile {
 public:
  // Writes the header into a new file (replacing one of the same name). False when it cannot be
  // written; the file stays closed.
  bool Open(const std::filesystem::path& path, const std::string& header);
  void Close();
  bool IsOpen() const { return open_; }
  const std::filesystem::path& Path() const { return path_; }
  // Appends text (the file is opened for each append). False when that fails.
  bool Append(const std::string& text);
  // "Save now": one row.
  bool SaveNow(const SystemTime& time, const std::string& information,
               const MicrosalMeasurement& m);
  // The automatic row posted after each record: written only when the time's second is a
  // multiple of ten and differs from that of the last automatic row. True when a row was
  // written.
  bool AutomaticRow(const SystemTime& time, const std::string& information,
                    const MicrosalMeasurement& m);
  // True once after an append failed (disk full, file removed): the failure is to be reported
  // once, not at every row. A later append that succeeds re-arms it.
  bool TakeNewFailure();

 private:
  bool open_ = false;
  bool failed_ = false;    // the last append failed
  bool reported_ = false;  // ... and that was reported
  std::filesystem::path path_;
  std::optional<SystemTime> lastAutomatic_;
};

// The folder the file dialog proposes: "sal" under the last used folder, or under the data
// folder when that is unset or no longer exists (then the "path ... does not exist" message,
// title "Save Dat File"). The data folder's "sal" is created first; nullopt (with
// kSalFolderError) when it cannot be.
std::optional<std::filesystem::path> SalFolder(Host& host, const std::filesystem::path& dataFolder,
                                               const std::filesystem::path& lastUsed);

// The file choice for "Open": folder, "%06d*.sal", title and filter.
FileChoice SalFileChoice(const std::filesystem::path& folder, int32_t serial);

}  // namespace klx
