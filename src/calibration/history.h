#pragma once
// The calibration history: every calibration record the connected logger keeps, listed as text
// lines for the history window and written to the numbered history file "NNNNNN.MMM.his" in the
// data folder.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "link/logger_link.h"

namespace klx {

enum class HistoryResult : int { Error = 0, NotCalibrated = 1, Listed = 2 };

struct CalibrationHistory {
  std::vector<std::string> lines;  // what the history window lists
  std::filesystem::path file;      // the history file written (empty when none was)
};

// Where the records of an older single-channel logger end: its data memory starts here.
constexpr uint32_t kSingleChannelDataMemory = 0x20000;

// The first "%06d.%03d.his" name in `folder` whose file does not exist yet (nullopt when all
// thousand are taken).
std::optional<std::filesystem::path> NextHistoryFile(const std::filesystem::path& folder,
                                                     int32_t serial);
// The newest history file of a logger in `folder` (the highest number), or empty.
std::filesystem::path LastHistoryFile(const std::filesystem::path& folder, int32_t serial);

// A linear-memory logger's channel line: "%3d: %.15f ..." while every magnitude is at most 1e6,
// else "%3d: %23.15e ...". `channel` counts from 1.
std::string LinearHistoryLine(int channel, const std::array<double, 4>& row);
// "yyyy/Mon/dd hh:mm:ss" of a record date (year in two digits).
std::string HistoryDateLine(const std::array<int, 6>& date);

// Lists the logger's calibration records into `out` and the history file in `dataFolder`. The
// calibration table in use is not touched. The file is written only when the listing did not
// break off.
HistoryResult WriteCalibrationHistory(LoggerLink& link, const std::filesystem::path& dataFolder,
                                      CalibrationHistory& out);

}  // namespace klx
