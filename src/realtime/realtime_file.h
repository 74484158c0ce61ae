#pragma once
// The real-time data file: the hex file's header, the lines that stand for the logger's memory
// header, then the raw bytes of each stored sample in hexadecimal, with a twelve-byte time stamp
// in front of a sample whose time does not follow the previous one by one period. The byte count
// on the "Number of bytes of data" line is kept current after every append, and every append is
// flushed, so a file cut off by a crash still reads back up to its last sample.
//
// The GPS file beside it holds one line per stored sample: its date-time and the GPS text.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system_time.h"

namespace klx {

// The parameter line that follows the ruler: for a 48-byte parameter block the baud code, the
// mode byte and the three start-flag bytes (low first); for a 30-byte block the baud code only;
// empty for other lengths.
std::string RealTimeParameterLine(int parameterBlockLength, uint32_t baudCode, uint8_t modeByte,
                                  uint32_t startFlags);

class RealTimeFile {
 public:
  RealTimeFile() = default;
  ~RealTimeFile();
  RealTimeFile(const RealTimeFile&) = delete;
  RealTimeFile& operator=(const RealTimeFile&) = delete;

  // Creates the file with the header text and, when `hostDecoded`, the byte-count line, the
  // ruler, the zero line and the parameter line (the count starts with their bytes). False when
  // the file cannot be written.
  bool Open(const std::filesystem::path& path, const std::string& header, bool hostDecoded,
            const std::string& parameterLine);
  bool IsOpen() const { return file_ != nullptr; }
  const std::filesystem::path& Path() const { return path_; }

  // Appends one sample's raw bytes (three per channel), preceded by a "TIM" stamp when its time
  // is earlier than the previous sample's or later by more than `periodMs`. False on a write
  // error (the file is then closed).
  bool AppendSample(const SystemTime& time, const std::vector<int32_t>& raw, int64_t periodMs);
  // The bytes AppendSample would add for a sample at `time` (its stamp included when it needs one).
  int64_t AppendSize(const SystemTime& time, size_t channels, int64_t periodMs) const;
  // Appends a completed wave burst: the 12-byte "BST" record of its start (three zero bytes, the
  // tag, six BCD time bytes) and its samples as received, three bytes each. The next sample then
  // gets its "TIM" stamp, which ends the burst for a reader.
  bool AppendBurst(const SystemTime& start, const std::vector<int32_t>& raw);
  // Appends the line of a text record as it came (engineering output stored as text).
  bool AppendText(const std::string& line);

  int64_t DataBytes() const { return dataBytes_; }
  int64_t Stamps() const { return stamps_; }
  void Close();

 private:
  bool WriteBytes(const std::vector<uint8_t>& bytes);
  bool UpdateCount();
  bool NeedsStamp(int64_t ms, int64_t periodMs) const {
    return !havePrevious_ || ms < previousMs_ || ms - previousMs_ > periodMs;
  }

  std::FILE* file_ = nullptr;
  std::filesystem::path path_;
  long countAt_ = -1;  // offset of the seven count digits
  int64_t dataBytes_ = 0;
  int64_t stamps_ = 0;
  bool havePrevious_ = false;
  int64_t previousMs_ = 0;
};

class GpsFile {
 public:
  GpsFile() = default;
  ~GpsFile();
  GpsFile(const GpsFile&) = delete;
  GpsFile& operator=(const GpsFile&) = delete;

  bool Open(const std::filesystem::path& path, const std::string& header);
  bool IsOpen() const { return file_ != nullptr; }
  // "%s\t%s\n": the sample's date-time text and the GPS text.
  bool Append(const std::string& dateTime, const std::string& gpsText);
  void Close();

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace klx
