// The NMEA reader, fed in the sizes the collection asks for. A fix names its sentence type and
// has its text, and the buffer never stalls while bytes are waiting.
#include <cstdlib>

#include "realtime/gps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  GpsReader reader;
  size_t at = 0;
  while (at < size) {
    const size_t taken = reader.Append(data + at, std::min(reader.ReadSize(), size - at));
    at += taken;
    const size_t before = reader.ReadSize();
    if (reader.Parse() &&
        (reader.text.empty() || (reader.sentenceType != "GGA" && reader.sentenceType != "GLL")))
      std::abort();
    if (taken == 0 && before == 0 && reader.ReadSize() == 0) std::abort();  // stalled
  }
  return 0;
}
