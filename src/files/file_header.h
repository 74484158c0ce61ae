#pragma once
// The text header shared by the hex and dat files: its writer and its reader.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/coefficients.h"
#include "records/data_set.h"
#include "records/logger_state.h"
#include "records/memory_image.h"
#include "shell/settings.h"

namespace klx {

// Kinds of header: the hex file's, the dat file's, and the common part only (real-time files).
enum FileKind : int { kCommonHeader = 0, kHexHeader = 1, kDatHeader = 2 };

// The dat row layouts: values only, time and values, date, time and values.
enum class DatLayout : int { N = 0, A = 1, E = 2 };

inline constexpr const char* kSoftwareVersion = "6.13";

// What the logger reported about its accessory cards.
struct AccessoryCards {
  bool reported = false;
  bool memoryCard = false;     // MMC/SD memory card present
  bool genericSerial = false;  // generic serial card present
  bool ascii = false;          // the card stores ASCII data
  bool binary = false;         // the card stores binary data
  friend bool operator==(const AccessoryCards&, const AccessoryCards&) = default;
};

// Everything the header writer needs; nothing is taken from anywhere else.
struct FileHeaderInputs {
  FileHeaderInputs(const DataSet& d, const MemoryImage& i) : data(d), image(i) {}
  const DataSet& data;       // logger, calibration, stamps, extended ranges, samples per channel
  const MemoryImage& image;  // the snapshot of the deployment, the header length
  std::string comment;
  DatLayout layout = DatLayout::N;
  DerivedUnitSettings derived;
  AccessoryCards cards;
  // Type letter of every column, derived channels included; empty: the logger's letters.
  std::string columnTypes;
  // Overrides of the samples line (a segment of rows); negative: the data set's count.
  int samplesOverride = -1;
};

// The header text of one kind, every line ending in a line feed.
std::string WriteFileHeader(const FileHeaderInputs& in, int kind);

// What a header gives back.
struct FileHeader {
  LoggerState logger;
  CalibrationCoefficients calibration;
  DeploymentSnapshot snapshot;
  std::array<uint8_t, 26> extendedCapabilities{};
  int samplesPerChannel = 0;
  int headerBytes = -1;   // "Number of bytes in header"; -1 when absent
  TimestampTable stamps;  // dat files only
  std::string comment;
  DatLayout layout = DatLayout::N;
  int valueColumn = 0;  // where the values of a dat row start
  AccessoryCards cards;
};

// A failure to read a file: the message box it gets. Empty message: success.
struct FileError {
  std::string caption;
  std::string message;
  bool Failed() const { return !message.empty(); }
};

// Lines of a text held in memory (the whole file), with the position of the next one.
class LineSource {
 public:
  explicit LineSource(std::string_view text) : text_(text) {}
  // The next line without its line end ("\n", and a "\r" before it); false at the end.
  bool Next(std::string& line);
  size_t Position() const { return pos_; }
  std::string_view Rest() const { return text_.substr(pos_); }
  void Seek(size_t pos) { pos_ = pos > text_.size() ? text_.size() : pos; }
  void Skip(size_t n) { pos_ = pos_ + n > text_.size() ? text_.size() : pos_ + n; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Reads the header after its first line (given). Stamps are kept for the dat kind only.
FileError ReadFileHeader(std::string_view firstLine, LineSource& lines, int kind, FileHeader& out);

// Helpers shared by the writers.
namespace files {
int StampLayoutOf(const LoggerState& logger);  // 1, 2 or 3
bool IsNaFamily(const LoggerState& logger);
bool IsDepthFamily(const LoggerState& logger);
bool IsLinearMemory(const LoggerState& logger);
// The unit that ends a channel's calibration line ("Degrees_C", "deciBars", "uS/cm", ...).
const char* CalibrationUnit(const LoggerState& logger, uint8_t letter);
bool StoresAsciiData(const LoggerState& logger, const AccessoryCards& cards);
// The accessory cards of the logger's RS Advanced word; the ASCII format only for a generic
// serial card that stores text.
AccessoryCards ReportedCards(const LoggerState& logger);
extern const char* const kStatusNames[9];
extern const char* const kStartModeNames[6];
}  // namespace files

}  // namespace klx
