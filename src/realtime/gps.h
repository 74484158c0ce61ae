#pragma once
// NMEA 0183 sentences from a GPS receiver on the second serial port: a 256-byte receive buffer,
// the "GGA" and "GLL" fixes, and the count of sentences that carry neither.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace klx {

inline constexpr const char* kGpsCaption = "GPS Communication";
inline constexpr const char* kGpsNoFixSentencesText =
    "The GPS is not sending either of the messages\n'GGA' nor 'GLL' that are required.\n";

class GpsReader {
 public:
  static constexpr size_t kBufferSize = 256;
  static constexpr size_t kReadSize = 160;
  // Sentences in a row without "GGA" or "GLL" before the receiver is reported.
  static constexpr int kRejectLimit = 256;

  // How many bytes the next read should ask for: min(160, room).
  size_t ReadSize() const;
  // Appends at most the room left; returns how many were taken.
  size_t Append(const uint8_t* data, size_t count);
  size_t Append(std::string_view text) {
    return Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }

  // Works through the buffered sentences (`ReadGps` after its read). True when a new position
  // was read; `text` then holds " %.2f,%c,%.2f,%c". Sets `warn` when the 256th sentence in a
  // row without a fix type was dropped (the caller shows the message once).
  bool Parse();

  std::string text;          // the GPS text of the last fix, empty before the first
  std::string sentenceType;  // "GGA" or "GLL" of the last fix
  int rejected = 0;          // sentences in a row without GGA or GLL
  bool warn = false;

 private:
  bool ParseSentence(std::string_view sentence);
  void Drop(size_t count);

  std::array<char, kBufferSize> buffer_{};
  size_t fill_ = 0;
};

}  // namespace klx
