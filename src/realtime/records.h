#pragma once
// Framing of the records a logger sends while its real-time output runs: the binary record
// (three zero bytes, a tag, six BCD time bytes — a "SEQ" record's sequence number in the first
// two of them — three bytes per channel and a check byte) and
// the engineering-units text record (tag, time, one value per channel, "FET\r\n").
//
// The reader keeps a 250-byte receive buffer. Bytes go in with Append (never more than there is
// room for); Next() takes out the next complete record. Framing errors drop bytes silently and
// the reader waits for the next record; a partial record stays buffered.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_time.h"

namespace klx {

enum class RecordTag { Sample, Burst, Sequence };  // "TIM", "BST", "SEQ"

struct RealTimeRecord {
  RecordTag tag = RecordTag::Sample;
  SystemTime time;        // not set for "SEQ"
  uint16_t sequence = 0;  // "SEQ" only
  // Raw 24-bit counts: one per channel ("TIM"), two burst values ("BST", "SEQ"). Engineering
  // records fill these only after ToRaw (the caller knows the calibration).
  std::vector<int32_t> raw;
  // Engineering-units records: the values as sent, and the record's text itself (up to and
  // including "FET\r\n").
  std::vector<double> values;
  std::string text;
};

class RecordReader {
 public:
  static constexpr size_t kBufferSize = 250;

  // `engineering`: the text form (the logger's output is in engineering units).
  RecordReader(int channels, bool engineering);

  int Channels() const { return channels_; }
  bool Engineering() const { return engineering_; }
  // Length of a binary record, channels × 3 + 13.
  size_t RecordLength() const { return static_cast<size_t>(channels_) * 3 + 13; }
  // How many bytes the next read should ask for: min(L, room) for binary records, the room
  // for text records.
  size_t ReadSize() const;
  size_t Room() const { return kBufferSize - fill_; }
  size_t Fill() const { return fill_; }

  // Appends at most Room() bytes; returns how many were taken.
  size_t Append(const uint8_t* data, size_t count);
  size_t Append(std::string_view text) {
    return Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }

  // `ReadRealTimeRecord`: the next complete record, or nullopt when none is buffered yet.
  std::optional<RealTimeRecord> Next();

  // Records dropped for a bad tag or check byte, or a missing field.
  int rejected = 0;

 private:
  std::optional<RealTimeRecord> NextBinary();
  std::optional<RealTimeRecord> NextText();
  void Drop(size_t count);

  int channels_;
  bool engineering_;
  std::array<uint8_t, kBufferSize> buffer_{};
  size_t fill_ = 0;
};

// The binary record for a sample (used by tests and by the hex file's time stamps): the three
// zero bytes, the tag, the BCD time, the counts and the check byte.
std::vector<uint8_t> BinaryRecord(RecordTag tag, const SystemTime& time,
                                  const std::vector<int32_t>& raw);
// The "SEQ" record of a burst's later samples: its sequence number in the first two bytes of
// the time field (the rest zero), then the two burst values.
std::vector<uint8_t> SequenceRecord(uint16_t sequence, const std::vector<int32_t>& raw);
// The text record the way a logger in engineering units sends it.
std::string TextRecord(const SystemTime& time, const std::vector<double>& values);

// The time of six BCD bytes (year − 2000 first); nullopt when a field is out of its range
// (month 1..12, day 1..31, hour below 24, minute and second below 60) or not decimal.
std::optional<SystemTime> TimeFromBcd(const uint8_t* bcd);

}  // namespace klx
