#pragma once
// The NetCDF file: the decoded data set as a CF time series (NetCDF-4 classic model, compressed),
// the form that xarray, R, MATLAB, ODV and the data centres read. One variable per channel,
// derived channels included, on a time coordinate in UTC; the stamps and the wave bursts beside
// them; the logger, its deployment, calibration and the derived settings as attributes.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "files/hex_file.h"
#include "platform/host.h"
#include "shell/directories.h"
#include "shell/settings.h"

namespace klx {

// What one channel type becomes in the file.
struct NetcdfChannel {
  std::string name;           // variable name ("temperature", "depth", ...)
  std::string units;          // UDUNITS spelling; empty when no unit is known
  std::string standardName;   // CF standard name; empty when CF has none for it
  std::string longName;       // the channel's title
  std::string comment;        // what the units or the standard name leave unsaid
  bool positiveDown = false;  // a depth
};

// The description of a column with the type letter `letter`; the conductivity unit follows the
// logger (a micro-salinometer's is a volt ratio), the oxygen units the derived settings.
NetcdfChannel NetcdfChannelOf(uint8_t letter, const LoggerState& logger,
                              const DerivedUnitSettings& derived);

// "+HH:MM" or "-HH:MM" (also "+HH" and "Z") as seconds east of UTC; nullopt for any other text
// or an offset beyond -12:00 .. +14:00.
std::optional<int> ParseUtcOffset(std::string_view text);
// Seconds east of UTC as "+HH:MM".
std::string UtcOffsetText(int seconds);
// The host time zone's offset from UTC at a local calendar time, with the summer time that
// applied then.
int HostUtcOffsetSeconds(const SystemTime& local);
// The offset a file is written with when the user states none: the host's at the retrieval
// (the host time of the file's header), or at the deployment start when that is not known (a
// MAT file keeps no host time). The file names which of them it took.
int DefaultUtcOffsetSeconds(const HeldData& held);

struct NetcdfWriteOptions {
  // The offset of the logger clock from UTC; empty: DefaultUtcOffsetSeconds.
  std::optional<int> utcOffsetSeconds;
  std::string program = "klx";  // named in the history attribute
  // The settings the derived channels were computed with (oxygen units, constants).
  DerivedUnitSettings derived;
  int deflateLevel = 4;
};

// Writes the NetCDF file (built in memory, written to a temporary name beside it and renamed
// into place once complete). Empty on success, else the message; a failed write leaves nothing
// at `path`, and a file that stood there before stays as it was. `notice`, when given, receives
// what the user should know of a file that was written: sample times that do not increase are
// kept as an auxiliary coordinate rather than the time axis.
std::string WriteNetcdfFile(const std::filesystem::path& path, const HeldData& held,
                            const NetcdfWriteOptions& options, std::string* notice = nullptr);

struct NetcdfSaveRequest {
  std::filesystem::path programDirectory;
  Directories* directories = nullptr;  // the dialog opens in the dat folder; the choice sets it
  NetcdfWriteOptions options;
  std::filesystem::path chosen;  // out: the file written
};

// "Save a NetCDF file": refuses generic ASCII data, asks for the file (and before overwriting
// one), writes it and reports a failure on the status line, a notice of the writing in a
// message box. True when the file was written.
bool SaveNetcdfFile(Host& host, NetcdfSaveRequest& request, const HeldData& held);

}  // namespace klx
