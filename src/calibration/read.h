#pragma once
// Reading the calibration coefficients from the connected logger, by logger generation:
// linear-memory loggers ("V" tables and the conductivity-correction table 0600), older
// multi-channel loggers (a chain of records in their calibration memory at 0x10000) and older
// single-channel loggers ("Z"). When the logger holds none, or the read fails, the defaults of
// the generation are loaded.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/logger_link.h"
#include "records/coefficients.h"
#include "records/logger_state.h"

namespace klx {

enum class CalibrationGeneration { LinearMemory, MultiChannel, SingleChannel };

enum class CalibrationRead : int { Failed = 0, Succeeded = 1 };

// Result of one step of the record walk of an older multi-channel logger.
enum class RecordRead : int {
  Failed = 0,  // no record (defaults loaded), read error, or a mismatch when verifying
  Last = 1,    // this was the last record (and, when verifying, it matches the table)
  More = 2,    // a further record follows; call again
};

// One step of the record walk, in more detail than `RecordRead`.
enum class RecordStep {
  Error,     // a memory read failed or the chain is malformed ("Download Error" shown)
  Empty,     // no record at this offset: the memory holds no calibration (defaults loaded)
  Mismatch,  // verifying: the last record differs from the table
  Last,
  More,
};

// Calibration memory of an older multi-channel logger.
namespace calibration_memory {
constexpr uint32_t kBase = 0x10000;
constexpr int kHeaderSize = 6;
constexpr int kChannelBlockSize = 33;
constexpr int kHighestEnd = 65024;  // 0xFE00
constexpr int kAttempts = 5;
constexpr int kRetryWaitMs = 500;
}  // namespace calibration_memory

inline constexpr const char* kNotCalibratedText = "Logger not yet calibrated - using defaults";
inline constexpr const char* kReadingCalibrationText = "Reading calibration data ";
inline constexpr const char* kCalibrationReadText = "Calibration Coefficients read successfully";
inline constexpr const char* kCalibrationDownloadError =
    "Download Error in reading calibration coefficients";

CalibrationGeneration GenerationOf(const LoggerState& state);
// How many rows of the table are meaningful: the channel count, one for a single-channel logger.
int CalibrationRows(const LoggerState& state);

// The default row for a channel letter. `model` matters only for single-channel loggers.
std::array<double, 4> DefaultCoefficientRow(CalibrationGeneration generation, char letter,
                                            const std::string& model);
// Fills the meaningful rows with the defaults of the logger's generation and puts the
// conductivity correction back to "no correction".
void LoadDefaultCoefficients(const LoggerState& state, CalibrationCoefficients& cal);

// True when the logger keeps a conductivity correction (table 0600): the capability (RS command
// flags value 8), a channel of letter 'S' in the configuration table, and not a micro-salinometer.
bool HasConductivityCorrection(const LoggerState& state);

// The read operation (`CommGet` 10). Does nothing (and succeeds) while `calibrationReadNeeded`
// is clear. On failure the defaults are in place and "Logger not yet calibrated - using
// defaults" is shown.
CalibrationRead ReadCalibration(LoggerLink& link, CalibrationCoefficients& cal);
// The linear-memory read: "V000000", then "V0000%02X" per channel, then table 0600.
CalibrationRead ReadCalibrationV(LoggerLink& link, CalibrationCoefficients& cal);
// Reads the record at `cal.nextRecordOffset` of an older multi-channel logger.
RecordRead ReadCalibrationRecord(LoggerLink& link, CalibrationCoefficients& cal, bool verify);

// The same step with its full outcome: the history walk must tell an empty memory from a walk
// that broke off.
RecordStep ReadCalibrationRecordStep(LoggerLink& link, CalibrationCoefficients& cal, bool verify);
// Six BCD bytes of a record header as year (two digits), month, day, hour, minute, second.
std::array<int, 6> DateOfRecordHeader(const uint8_t* bytes);
// One memory read of the calibration memory of an older multi-channel logger (offset from
// 0x10000), with the retries of the record walk. False after five failed attempts.
bool ReadCalibrationMemory(LoggerLink& link, int offset, int length, std::vector<uint8_t>& out);

// Makes `CommGet` 10 run ReadCalibration on `cal`. Both must outlive the link's use of the hook.
void InstallCalibrationReader(LoggerLink& link, CalibrationCoefficients& cal);

}  // namespace klx
