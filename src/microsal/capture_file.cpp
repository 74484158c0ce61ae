#include "microsal/capture_file.h"

#include <fstream>
#include <system_error>

#include "shell/text_file.h"

namespace klx {

namespace {

bool SameSecond(const SystemTime& a, const SystemTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

}  // namespace

std::string MicrosalIdentityLine(const LoggerState& logger) {
  const std::string identity =
      CFormat("KLX %s %5.2f %06d", logger.model.c_str(), logger.firmware, logger.serial);
  if (logger.minimumHostVersion > 0.0f)
    return CFormat("%s (Windows: 6.13 - Minimum required: %.2f)", identity.c_str(),
                   logger.minimumHostVersion);
  return identity + " (Windows: 6.13)";
}

std::string StandardSeawaterLine(const MicrosalStandardization& s) {
  return CFormat("\nStandard Seawater Batch=%s, K15=%.5f\n\n", s.batch.c_str(), s.k15);
}

std::string SalHeaderText(const std::string& identityLine, const std::string& comment,
                          const SystemTime& opened, const MicrosalStandardization& s) {
  std::string out = identityLine + "\n\n";
  if (comment.size() > 1) out += comment + "\n\n";
  out += CFormat("File opened at: %4d/%02d/%02d %02d:%02d:%02d\n", opened.year, opened.month,
                 opened.day, opened.hour, opened.minute, opened.second);
  out += StandardSeawaterLine(s);
  out += "Time                             Sample Temp_(90)  Ratio Rt  Salinity  standard  ave\n";
  out += "hh:mm:ss                    information degrees_C              PSS-78 deviation secs\n";
  return out;
}

std::string SampleInformation(const std::string& text) {
  std::string out = text.substr(0, 30);
  for (char& c : out) {
    if (c == ' ') c = '_';
  }
  return out;
}

std::string SalRowText(const SystemTime& time, const std::string& information,
                       const MicrosalMeasurement& m) {
  const MicrosalReading& mean = m.Means();
  return CFormat("%02d:%02d:%02d %30s %9.2f %9.5f %9.4f %9.5f %4d\n", time.hour, time.minute,
                 time.second, SampleInformation(information).c_str(), mean.temperature,
                 mean.ratio, mean.salinity, m.StandardDeviation(), m.AveragedSeconds());
}

bool SalCaptureFile::Open(const std::filesystem::path& path, const std::string& header) {
  Close();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << header;
  out.close();
  if (!out) return false;
  path_ = path;
  open_ = true;
  failed_ = reported_ = false;
  lastAutomatic_.reset();
  return true;
}

void SalCaptureFile::Close() {
  open_ = false;
}

bool SalCaptureFile::Append(const std::string& text) {
  if (!open_) return false;
  // Appending to a file that was removed would quietly start a new one without its header.
  std::error_code ec;
  bool written = std::filesystem::is_regular_file(path_, ec);
  if (written) {
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out << text;
    out.close();
    written = static_cast<bool>(out);
  }
  failed_ = !written;
  if (written) reported_ = false;
  return written;
}

bool SalCaptureFile::TakeNewFailure() {
  if (!failed_ || reported_) return false;
  reported_ = true;
  return true;
}

bool SalCaptureFile::SaveNow(const SystemTime& time, const std::string& information,
                             const MicrosalMeasurement& m) {
  return Append(SalRowText(time, information, m));
}

bool SalCaptureFile::AutomaticRow(const SystemTime& time, const std::string& information,
                                  const MicrosalMeasurement& m) {
  if (!open_ || time.second % 10 != 0) return false;
  if (lastAutomatic_ && SameSecond(*lastAutomatic_, time)) return false;
  lastAutomatic_ = time;
  return SaveNow(time, information, m);
}

std::optional<std::filesystem::path> SalFolder(Host& host, const std::filesystem::path& dataFolder,
                                               const std::filesystem::path& lastUsed) {
  std::error_code ec;
  const std::filesystem::path own = dataFolder / "sal";
  std::filesystem::create_directories(own, ec);
  if (!std::filesystem::is_directory(own, ec)) {
    host.Tell(kCaptureCaption, kSalFolderError, BoxIcon::Stop);
    return std::nullopt;
  }
  if (lastUsed.empty()) return own;
  if (std::filesystem::is_directory(lastUsed, ec)) {
    const std::filesystem::path proposed =
        lastUsed.filename() == "sal" ? lastUsed : lastUsed / "sal";
    if (std::filesystem::is_directory(proposed, ec)) return proposed;
  }
  host.Tell("Save Dat File",
            "This software attempts to remember your most recent selection of path to your "
            "files\nand to use it for subsequent reads and saves.\n\nThe path calculated for the "
            "current operation does not exist and will be changed to your KLX directory.",
            BoxIcon::Information);
  return own;
}

FileChoice SalFileChoice(const std::filesystem::path& folder, int32_t serial) {
  FileChoice c;
  c.save = true;
  c.title = "Select a 'sal' file for storing the data";
  c.initialDirectory = folder.string();
  c.suggestedName = CFormat("%06d*.sal", serial);
  c.filter = "HL-240 Files (*.sal)";
  return c;
}

}  // namespace klx
