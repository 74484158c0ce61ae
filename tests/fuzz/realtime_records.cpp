// The real-time record framer, binary and text. The first byte picks the channel count (low
// three bits, plus one) and the form (top bit: engineering-units text); the rest is the line,
// taken in the sizes the collection asks for. The buffer must never stall: while bytes are
// waiting, either there is room for them or a record or a dropped byte makes room.
#include <cstdlib>

#include "realtime/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  if (size < 1) return 0;
  const int channels = (data[0] & 7) + 1;
  const bool engineering = (data[0] & 0x80) != 0;
  RecordReader reader(channels, engineering);
  size_t at = 1;
  while (at < size) {
    const size_t ask = std::max<size_t>(reader.ReadSize(), 1);
    const size_t taken = reader.Append(data + at, std::min(ask, size - at));
    at += taken;
    bool any = false;
    while (auto record = reader.Next()) {
      any = true;
      if (record->tag == RecordTag::Sample && !engineering &&
          record->raw.size() != static_cast<size_t>(channels))
        std::abort();
    }
    if (reader.Fill() > RecordReader::kBufferSize) std::abort();
    if (taken == 0 && !any && reader.Room() == 0) std::abort();  // stalled on a full buffer
  }
  return 0;
}
