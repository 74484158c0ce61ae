#pragma once
// The files of the tide-and-wave recorder, all in the "nmj" folder under the data folder: the
// wave table (".wave", one row of statistics per burst), the tide table (".tide", the tide series
// with its date and time) and the burst table (".csv", every burst's measured and surface
// series side by side, in groups of 125 bursts).
#include <filesystem>
#include <optional>
#include <string>

#include "files/file_header.h"
#include "platform/host.h"
#include "records/data_set.h"

namespace klx {

inline constexpr const char* kNmjFolderError = "Error: Unable to create 'nmj' directory";
inline constexpr const char* kTideWriteError = "Error: Unable to write tide file";
inline constexpr int kCsvGroupSize = 125;

// `dataFolder`/"nmj" (the folder beside "dat", "hex" and "mat").
std::filesystem::path NmjFolder(const std::filesystem::path& dataFolder);

// The ".wave" and ".tide" names of a dat file in a folder: its base name with ".dat" replaced.
std::filesystem::path WaveFilePath(const std::filesystem::path& folder,
                                   const std::filesystem::path& datName);
std::filesystem::path TideFilePath(const std::filesystem::path& folder,
                                   const std::filesystem::path& datName);

// "%04d/%s/%02d %02d:%02d:%02d" with the month's three-letter name.
std::string WaveDateTimeText(const SystemTime& t);

// The whole wave file: the dat header, the two title lines and one row per burst (its number
// from 1, mean depth + logger height, H1/3, T1/3, H1/10, T1/10, Hmax, Tmax, Havg, Tavg, energy,
// then the flag text).
std::string WaveFileText(const FileHeaderInputs& in);

// The whole tide file: the dat header, the two title lines, and per tide sample its date, its
// time and every channel but the significant wave height ("%9.4f ").
std::string TideFileText(const FileHeaderInputs& in);

// The whole csv file (line 1 the identity, line 2 the burst count, length, rate and height, then
// the groups of 125 bursts).
std::string WaveCsvText(const DataSet& data, const DeploymentParameters& parameters);

struct WaveFilesWritten {
  std::filesystem::path wave, tide;  // empty when not written
};

// `WriteWaveAndTideFiles`: for a name containing ".dat" of a data set with bursts, creates
// `dataFolder`/nmj and writes the wave and tide files there (a tide-and-wave logger's data set
// without bursts gets its tide file alone). A folder that cannot be made shows
// kNmjFolderError and writes nothing; a tide file that cannot be written shows kTideWriteError.
// Without a ".dat" name or wave data nothing is written, silently.
WaveFilesWritten WriteWaveAndTideFiles(Host& host, const std::filesystem::path& dataFolder,
                                       const std::filesystem::path& datName,
                                       const FileHeaderInputs& in);

// `WriteWaveCsv` (menu "Save a NMJ &csv file"): for an NMJ logger with wave data, asks for the
// file in the nmj folder (".csv" enforced, an existing file only after the overwrite question)
// and writes it. The written file, or nullopt (not an NMJ logger, no wave data, cancelled,
// or it could not be written: then with the message).
std::optional<std::filesystem::path> WriteWaveCsv(Host& host,
                                                  const std::filesystem::path& dataFolder,
                                                  const DataSet& data,
                                                  const DeploymentParameters& parameters);

}  // namespace klx
