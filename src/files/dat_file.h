#pragma once
// The dat file: the shared header and one text row per sample; the segment save, the reader
// and the bilingual channel file.
#include <filesystem>
#include <string>

#include "files/file_header.h"
#include "files/hex_file.h"

namespace klx {

// The seconds between rows: the sampling period, or 1/6 in 6 Hz profiling.
double RowPeriodSeconds(const DeploymentParameters& parameters);

// The time of each dat row: a base (the start, or the last stamp's time) plus the whole
// seconds of a running offset that grows by the period after every row.
class DatRowClock {
 public:
  DatRowClock(const SystemTime& base, double period, double offset = 0.0)
      : base_(base), period_(period), offset_(offset) {}
  // A stamp at this row: its time becomes the base.
  void Restart(const SystemTime& base) {
    base_ = base;
    offset_ = 0.0;
  }
  // The time of the current row (the offset is first snapped to whole seconds when its
  // fraction lies within 0.9 periods of one).
  SystemTime RowTime();
  void Advance() { offset_ += period_; }
  // The running offset in seconds, as the last RowTime left it (it keeps a fraction under 6 Hz).
  double Offset() const { return offset_; }

 private:
  SystemTime base_;
  double period_;
  double offset_;
};

// The text before a row's values: nothing, "hh:mm:ss " or "yyyy/mm/dd hh:mm:ss ".
std::string DatRowStart(DatLayout layout, const SystemTime& t);

// Rows first..last (inclusive) of the data set. `leaveOutWaveHeight` drops a derived
// significant-wave-height column (type 0x81).
std::string WriteDatRows(const FileHeaderInputs& in, int first, int last, bool leaveOutWaveHeight);

// The whole dat file of "Save data to a file" (header of kind 2 and every row).
std::string DatFileText(const FileHeaderInputs& in);

// The dat file of rows first..last: the header tells the range's start time and row count
// and keeps only the stamps inside it, renumbered from the range start.
std::string DatSegmentText(const FileHeaderInputs& in, int first, int last);

// "Save Dat File" for the graph's rows first..last: asks for the file, writes it.
bool SaveDatFileForRange(Host& host, SaveRequest& request, const HeldData& held, int first,
                         int last);

// Reads a dat file into `held` (no image). Failures are told and leave `held` as it was; rows
// that end early truncate the data at the last whole row, with its message.
bool ReadDatFile(Host& host, FileReadRequest& request, HeldData& held);

// The ".chn.txt" file name of a dat file.
std::filesystem::path ChannelFilePath(const std::filesystem::path& datFile);
// The bilingual channel file (UTF-16, little-endian with its byte-order mark).
std::string ChannelFileText(const FileHeaderInputs& in);

// "Unable to open the file %s.\nThis file may be open in another application" (caption
// "Write File").
void TellCannotWrite(Host& host, const std::filesystem::path& file);

}  // namespace klx
