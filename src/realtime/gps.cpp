#include "realtime/gps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace klx {

size_t GpsReader::ReadSize() const {
  return std::min(kReadSize, kBufferSize - fill_);
}

size_t GpsReader::Append(const uint8_t* data, size_t count) {
  const size_t n = std::min(count, kBufferSize - fill_);
  if (n > 0) std::memcpy(buffer_.data() + fill_, data, n);
  fill_ += n;
  return n;
}

void GpsReader::Drop(size_t count) {
  count = std::min(count, fill_);
  std::memmove(buffer_.data(), buffer_.data() + count, fill_ - count);
  fill_ -= count;
}

bool GpsReader::Parse() {
  bool fix = false;
  while (fill_ >= 7) {
    const std::string_view held(buffer_.data(), fill_);
    const size_t dollar = held.find('$');
    if (dollar == std::string_view::npos) {
      fill_ = 0;
      break;
    }
    Drop(dollar);
    const std::string_view sentence(buffer_.data(), fill_);
    const size_t end = sentence.find('\r');
    if (end == std::string_view::npos) {
      // A sentence longer than the buffer never ends: start again from the next "$".
      if (fill_ == kBufferSize) Drop(1);
      break;
    }
    if (ParseSentence(sentence.substr(0, end))) fix = true;
    Drop(end + 1);
  }
  return fix;
}

bool GpsReader::ParseSentence(std::string_view sentence) {
  const bool gga = sentence.find("GGA") != std::string_view::npos;
  const bool gll = sentence.find("GLL") != std::string_view::npos;
  if (!gga && !gll) {
    if (++rejected == kRejectLimit) warn = true;
    return false;
  }
  rejected = 0;
  if (sentence.size() < 7) return false;
  // The fields start at the seventh character ("$GPGGA," is six and a comma).
  const std::string fields(sentence.substr(7));
  float time = 0, latitude = 0, longitude = 0;
  char ns = 0, ew = 0;
  int got = 0;
  if (gga) {
    got = std::sscanf(fields.c_str(), "%f,%f,%c,%f,%c", &time, &latitude, &ns, &longitude, &ew);
    if (got != 5) return false;
  } else {
    got = std::sscanf(fields.c_str(), "%f,%c,%f,%c", &latitude, &ns, &longitude, &ew);
    if (got != 4) return false;
  }
  if ((ns != 'N' && ns != 'S') || (ew != 'E' && ew != 'W')) return false;
  char out[96];
  std::snprintf(out, sizeof out, " %.2f,%c,%.2f,%c", latitude, ns, longitude, ew);
  text = out;
  sentenceType = gga ? "GGA" : "GLL";
  return true;
}

}  // namespace klx
