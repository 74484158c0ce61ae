#pragma once
// The MAT file: the decoded data set for MATLAB (identity, value matrix, channel names, periods,
// times, wave bursts and a private copy of the stamp table), its writer and its reader.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "files/hex_file.h"
#include "platform/host.h"
#include "shell/directories.h"

namespace klx {

// The time settings ("MATLAB frequency: %d format: %d" in the settings file).
enum MatTimeFrequency : int { kMatStartTimeOnly = 0, kMatTimePerRow = 1 };
enum MatTimeFormat : int { kMatTimeText = 0, kMatTimeDatenum = 1 };

inline constexpr const char* kMatReadError = "Error reading in file";
inline constexpr const char* kMatReadSuccess = "MATLAB file read successfully";
inline constexpr const char* kMatNoDisplayableData = "Error reading in file - cannot display data";

// Bytes of one stamp record in `loggerprivate`, and of the two older layouts still read.
constexpr size_t kStampRecordBytes = 132;
constexpr size_t kOldStampRecordBytes36 = 36;
constexpr size_t kOldStampRecordBytes32 = 32;

// MATLAB's serial day number of a time: 730486 for 1 January 2000, whole days since then (every
// year divisible by 4 a leap year) and the time of day as a fraction.
double MatDatenum(const SystemTime& t);
// The inverse, to the nearest second; false for a value before 2000 or beyond year 9999, or not
// a number.
bool TimeFromMatDatenum(double datenum, SystemTime& out);
// "%02d-%s-%04d %02d:%02d:%02d" (day, "Jan".."Dec", year, time): 20 characters.
std::string MatTimeText(const SystemTime& t);
// The text form back; false when it does not parse or is out of range.
bool TimeFromMatText(const std::string& text, SystemTime& out);

// The 132-byte little-endian image of the stamp records, and the records of such an image
// (or of the older 36- and 32-byte layouts, told apart by the year fields), at most 11000.
std::vector<uint8_t> StampRecordImage(const std::vector<StampRecord>& records);
std::vector<StampRecord> StampRecordsFromImage(const uint8_t* bytes, size_t size, size_t elements);

struct MatWriteOptions {
  int timeFrequency = kMatStartTimeOnly;  // Settings::matlabFrequency
  int timeFormat = kMatTimeText;          // Settings::matlabFormat
  // Each burst's series at the surface; where this holds none for a burst, the burst's own
  // `surface` (from the wave analysis) is written, and without either the missing-value marker.
  std::vector<std::vector<float>> waveSurface;
};

// Writes the MAT file (through a temporary name beside it, renamed into place once complete).
// Empty on success, else the status-line message of the step that failed; nothing is left at
// `path` by a failed write, and a file that stood there before stays as it was.
std::string WriteMatFile(const std::filesystem::path& path, const HeldData& held,
                         const MatWriteOptions& options);

struct MatSaveRequest {
  std::filesystem::path programDirectory;
  Directories* directories = nullptr;  // the MAT folder is remembered here
  MatWriteOptions options;
  std::filesystem::path chosen;  // out: the file written
};

// "Save a MATLAB file": refuses generic ASCII data, asks for the file (and before overwriting
// one), writes it and reports a failure on the status line. True when the file was written.
bool SaveMatFile(Host& host, MatSaveRequest& request, const HeldData& held);

struct MatReadRequest {
  std::filesystem::path file;  // the file, when already chosen; empty: ask
  std::filesystem::path programDirectory;
  Directories* directories = nullptr;
  int lastSerial = -1;  // for the dialog's default name
  // Runs on the fresh data before they replace the held data (the derived channels).
  std::function<void(HeldData&)> afterRead;
  // Out: the time format found in the file (the setting follows it), and each burst's series at
  // the surface.
  int foundTimeFormat = kMatTimeText;
  std::vector<std::vector<float>> waveSurface;
};

// "Read a MATLAB file": builds a fresh data set from the file and replaces `held` with it only
// when the whole file was read and holds data to display. Failures go to the status line.
bool ReadMatFile(Host& host, MatReadRequest& request, HeldData& held);

// The reading itself, without dialogs: an empty message on success.
std::string ReadMatFileInto(const std::filesystem::path& path, HeldData& fresh,
                            int& foundTimeFormat, std::vector<std::vector<float>>& waveSurface);

}  // namespace klx
