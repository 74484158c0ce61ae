#include "realtime/records.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/datetime.h"

namespace klx {
namespace {

constexpr std::string_view kTags[3] = {"TIM", "BST", "SEQ"};
constexpr std::string_view kTextEnd = "FET\r\n";

std::optional<RecordTag> TagAt(const uint8_t* p) {
  for (size_t i = 0; i < 3; ++i)
    if (std::memcmp(p, kTags[i].data(), 3) == 0) return static_cast<RecordTag>(i);
  return std::nullopt;
}

int32_t Count24(const uint8_t* p) {
  return (static_cast<int32_t>(p[0]) << 16) | (static_cast<int32_t>(p[1]) << 8) | p[2];
}

}  // namespace

std::optional<SystemTime> TimeFromBcd(const uint8_t* bcd) {
  int v[6];
  for (int i = 0; i < 6; ++i) {
    v[i] = FromPackedDecimal(bcd[i]);
    if (v[i] < 0) return std::nullopt;
  }
  if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59 || v[5] > 59)
    return std::nullopt;
  SystemTime t = MakeSystemTime(2000 + v[0], v[1], v[2], v[3], v[4], v[5]);
  SetDayOfWeek(t);
  return t;
}

RecordReader::RecordReader(int channels, bool engineering)
    : channels_(std::clamp(channels, 1, 24)), engineering_(engineering) {}

size_t RecordReader::ReadSize() const {
  return engineering_ ? Room() : std::min(RecordLength(), Room());
}

size_t RecordReader::Append(const uint8_t* data, size_t count) {
  const size_t n = std::min(count, Room());
  if (n > 0) std::memcpy(buffer_.data() + fill_, data, n);
  fill_ += n;
  return n;
}

void RecordReader::Drop(size_t count) {
  count = std::min(count, fill_);
  std::memmove(buffer_.data(), buffer_.data() + count, fill_ - count);
  fill_ -= count;
}

std::optional<RealTimeRecord> RecordReader::Next() {
  return engineering_ ? NextText() : NextBinary();
}

std::optional<RealTimeRecord> RecordReader::NextBinary() {
  const size_t length = RecordLength();
  while (fill_ >= length) {
    // The record starts after a run of zero bytes: skip to the first zero, then past the run.
    const uint8_t* begin = buffer_.data();
    const uint8_t* zero = std::find(begin, begin + fill_, 0);
    if (zero == begin + fill_) {
      fill_ = 0;  // no zero byte at all: nothing here can start a record
      return std::nullopt;
    }
    const uint8_t* tag = std::find_if(zero, begin + fill_, [](uint8_t b) { return b != 0; });
    const size_t tagAt = static_cast<size_t>(tag - begin);
    if (tagAt + 3 > fill_ || fill_ - tagAt < length - 3) {
      // The tag or the rest of the record is still on its way: keep the record from its zero
      // run on, so that the buffer can take the rest.
      Drop(tagAt >= 3 ? tagAt - 3 : 0);
      return std::nullopt;
    }
    const std::optional<RecordTag> kind = TagAt(tag);
    if (!kind) {
      Drop(tagAt + 1);  // a wrong tag drops what came before it
      ++rejected;
      continue;
    }
    const size_t body = length - 4;  // tag .. last count byte
    uint8_t sum = 0;
    for (size_t i = 0; i < body; ++i) sum = static_cast<uint8_t>(sum + tag[i]);
    if (sum != tag[body]) {
      Drop(tagAt + 3);  // a bad check byte drops the bytes up to and including the tag
      ++rejected;
      continue;
    }
    RealTimeRecord record;
    record.tag = *kind;
    bool timeOk = true;
    if (*kind == RecordTag::Sequence) {
      // A "SEQ" record has no time: its sequence number, most significant byte first, takes
      // the first two bytes of the time field.
      record.sequence = static_cast<uint16_t>((tag[3] << 8) | tag[4]);
    } else {
      const auto time = TimeFromBcd(tag + 3);
      if (time)
        record.time = *time;
      else
        timeOk = false;
    }
    const uint8_t* counts = tag + 9;
    if (*kind == RecordTag::Sample) {
      for (int ch = 0; ch < channels_; ++ch) record.raw.push_back(Count24(counts + 3 * ch));
    } else {
      record.raw = {Count24(counts), Count24(counts + 3)};
    }
    Drop(tagAt + length - 3);
    if (!timeOk) {
      ++rejected;
      continue;
    }
    return record;
  }
  return std::nullopt;
}

std::optional<RealTimeRecord> RecordReader::NextText() {
  for (;;) {
    const std::string_view text(reinterpret_cast<const char*>(buffer_.data()), fill_);
    const size_t end = text.find(kTextEnd);
    if (end == std::string_view::npos) {
      // A full buffer without an end can never complete: drop all but a possible partial end.
      if (fill_ == kBufferSize) {
        Drop(fill_ - (kTextEnd.size() - 1));
        ++rejected;
      }
      return std::nullopt;
    }
    const std::string whole(text.substr(0, end + kTextEnd.size()));
    const std::string record = whole.substr(0, end);
    Drop(whole.size());  // the buffer keeps what follows "FET\r\n"

    size_t tagAt = std::string::npos;
    RecordTag kind = RecordTag::Sample;
    for (size_t i = 0; i < 3; ++i) {
      const size_t at = record.rfind(kTags[i]);
      if (at != std::string::npos && (tagAt == std::string::npos || at > tagAt)) {
        tagAt = at;
        kind = static_cast<RecordTag>(i);
      }
    }
    if (tagAt == std::string::npos) {
      ++rejected;
      continue;
    }
    // The fields: the time as six two-column numbers, then the values, blank separated.
    const char* p = record.c_str() + tagAt + 3;
    if (*p == ' ') ++p;
    RealTimeRecord out;
    out.tag = kind;
    out.text = whole.substr(tagAt);
    bool ok = true;
    int v[6];
    for (int i = 0; i < 6 && ok; ++i) {
      // "%2d": two columns, the first may be blank.
      const char field[3] = {p[0], p[0] ? p[1] : '\0', '\0'};
      char* endp = nullptr;
      const long n = std::strtol(field, &endp, 10);
      if (field[0] == '\0' || field[1] == '\0' || endp == field || *endp != '\0') {
        ok = false;
        break;
      }
      v[i] = static_cast<int>(n);
      p += 2;
    }
    if (ok) {
      uint8_t bcd[6];
      for (int i = 0; i < 6; ++i) bcd[i] = ToPackedDecimal(std::clamp(v[i], 0, 99));
      const auto time = TimeFromBcd(bcd);
      if (time)
        out.time = *time;
      else
        ok = false;
    }
    if (ok && kind == RecordTag::Sequence) {
      // "SEQ": the burst's sequence number ("%04X") before its two values.
      char* endp = nullptr;
      const unsigned long seq = std::strtoul(p, &endp, 16);
      if (endp == p) ok = false;
      out.sequence = static_cast<uint16_t>(seq);
      p = endp;
    }
    const int wanted = kind == RecordTag::Sample ? channels_ : 2;
    for (int i = 0; i < wanted && ok; ++i) {
      char* endp = nullptr;
      const double value = std::strtod(p, &endp);
      if (endp == p) ok = false;
      out.values.push_back(value);
      p = endp;
    }
    if (!ok) {
      ++rejected;  // a missing field abandons the record
      continue;
    }
    return out;
  }
}

namespace {

// Three zero bytes, the tag, the six bytes of the time field, the 24-bit counts and the byte that
// makes the sum from the tag on.
std::vector<uint8_t> Framed(RecordTag tag, const std::array<uint8_t, 6>& timeField,
                            const std::vector<int32_t>& raw) {
  std::vector<uint8_t> out(3, 0);
  out.reserve(13 + 3 * raw.size());
  for (char c : kTags[static_cast<size_t>(tag)]) out.push_back(static_cast<uint8_t>(c));
  out.insert(out.end(), timeField.begin(), timeField.end());
  for (int32_t v : raw) {
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  }
  uint8_t sum = 0;
  for (size_t i = 3; i < out.size(); ++i) sum = static_cast<uint8_t>(sum + out[i]);
  out.push_back(sum);
  return out;
}

}  // namespace

std::vector<uint8_t> BinaryRecord(RecordTag tag, const SystemTime& time,
                                  const std::vector<int32_t>& raw) {
  return Framed(tag, PackedDate(time), raw);
}

std::vector<uint8_t> SequenceRecord(uint16_t sequence, const std::vector<int32_t>& raw) {
  // The sequence number stands in the first two bytes of the (otherwise unused) time field.
  return Framed(RecordTag::Sequence,
                {static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence), 0, 0, 0, 0},
                raw);
}

std::string TextRecord(const SystemTime& time, const std::vector<double>& values) {
  char head[64];
  std::snprintf(head, sizeof head, "TIM %2d%2d%2d%2d%2d%2d", time.year - 2000, time.month, time.day,
                time.hour, time.minute, time.second);
  std::string out = head;
  for (double v : values) {
    char field[64];
    std::snprintf(field, sizeof field, " %.4f", v);
    out += field;
  }
  out += " FET\r\n";
  return out;
}

}  // namespace klx
