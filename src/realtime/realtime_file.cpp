#include "realtime/realtime_file.h"

#include <algorithm>
#include <cinttypes>

#include "realtime/records.h"

namespace klx {

std::string RealTimeParameterLine(int parameterBlockLength, uint32_t baudCode, uint8_t modeByte,
                                  uint32_t startFlags) {
  char line[96];
  if (parameterBlockLength == 48) {
    std::snprintf(line, sizeof line, "00%02X0000000000%02X%02X%02X%02X00000000000000000000000000\n",
                  baudCode & 0xFF, modeByte, startFlags & 0xFF, (startFlags >> 8) & 0xFF,
                  (startFlags >> 16) & 0xFF);
    return line;
  }
  if (parameterBlockLength == 30) {
    std::snprintf(line, sizeof line, "00%02X00000000\n", baudCode & 0xFF);
    return line;
  }
  return {};
}

RealTimeFile::~RealTimeFile() {
  Close();
}

bool RealTimeFile::Open(const std::filesystem::path& path, const std::string& header,
                        bool hostDecoded, const std::string& parameterLine) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return false;
  path_ = path;
  dataBytes_ = 0;
  stamps_ = 0;
  havePrevious_ = false;
  bool ok = std::fputs(header.c_str(), file_) >= 0;
  if (hostDecoded) {
    ok = ok && std::fputs("Number of bytes of data ", file_) >= 0;
    countAt_ = std::ftell(file_);
    ok = ok && std::fputs("0000000\n", file_) >= 0 &&
         std::fputs("|     |     |     |     |     |     |     |\n", file_) >= 0 &&
         std::fputs("000000000000000000000000000000000000000000000000\n", file_) >= 0 &&
         std::fputs(parameterLine.c_str(), file_) >= 0;
    // The count covers the lines that stand for the logger's header too, so that a reader that
    // takes that many bytes after the ruler gets every sample.
    size_t digits = 48;
    for (char c : parameterLine) digits += c != '\n';
    dataBytes_ = static_cast<int64_t>(digits / 2);
    ok = ok && UpdateCount();
  } else {
    countAt_ = -1;
  }
  if (!ok || std::fflush(file_) != 0) {
    Close();
    return false;
  }
  return true;
}

bool RealTimeFile::WriteBytes(const std::vector<uint8_t>& bytes) {
  // Two hexadecimal digits a byte, a line break after every 24 bytes and at the end.
  std::string text;
  text.reserve(bytes.size() * 2 + bytes.size() / 24 + 2);
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < bytes.size(); ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
    if ((i + 1) % 24 == 0 && i + 1 != bytes.size()) text += '\n';
  }
  text += '\n';
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) return false;
  dataBytes_ += static_cast<int64_t>(bytes.size());
  return true;
}

bool RealTimeFile::UpdateCount() {
  if (countAt_ < 0) return std::fflush(file_) == 0;
  const long end = std::ftell(file_);
  char digits[24];
  // Seven digits hold every count a logger memory can reach; a longer run keeps its bytes in the
  // file and the line stays at its largest value.
  std::snprintf(digits, sizeof digits, "%07" PRId64, std::min<int64_t>(dataBytes_, 9999999));
  return std::fseek(file_, countAt_, SEEK_SET) == 0 && std::fputs(digits, file_) >= 0 &&
         std::fseek(file_, end, SEEK_SET) == 0 && std::fflush(file_) == 0;
}

bool RealTimeFile::AppendSample(const SystemTime& time, const std::vector<int32_t>& raw,
                                int64_t periodMs) {
  if (!file_) return false;
  const int64_t ms = ToEpochMs(time);
  std::vector<uint8_t> bytes;
  // The first sample always gets its stamp: it follows no previous one.
  if (NeedsStamp(ms, periodMs)) {
    const std::vector<uint8_t> stamp = BinaryRecord(RecordTag::Sample, time, {});
    bytes.assign(stamp.begin(), stamp.end() - 1);  // zeros, tag, time: no check byte
    ++stamps_;
  }
  havePrevious_ = true;
  previousMs_ = ms;
  for (int32_t v : raw) {
    bytes.push_back(static_cast<uint8_t>(v >> 16));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
    bytes.push_back(static_cast<uint8_t>(v));
  }
  if (!WriteBytes(bytes) || !UpdateCount()) {
    Close();
    return false;
  }
  return true;
}

bool RealTimeFile::AppendBurst(const SystemTime& start, const std::vector<int32_t>& raw) {
  if (!file_) return false;
  const std::vector<uint8_t> stamp = BinaryRecord(RecordTag::Burst, start, {});
  std::vector<uint8_t> bytes(stamp.begin(), stamp.end() - 1);  // no check byte
  ++stamps_;
  for (int32_t v : raw) {
    bytes.push_back(static_cast<uint8_t>(v >> 16));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
    bytes.push_back(static_cast<uint8_t>(v));
  }
  havePrevious_ = false;  // the next sample's stamp closes the burst
  if (!WriteBytes(bytes) || !UpdateCount()) {
    Close();
    return false;
  }
  return true;
}

int64_t RealTimeFile::AppendSize(const SystemTime& time, size_t channels, int64_t periodMs) const {
  return (NeedsStamp(ToEpochMs(time), periodMs) ? 12 : 0) + 3 * static_cast<int64_t>(channels);
}

bool RealTimeFile::AppendText(const std::string& line) {
  if (!file_) return false;
  if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) {
    Close();
    return false;
  }
  return true;
}

void RealTimeFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

GpsFile::~GpsFile() {
  Close();
}

bool GpsFile::Open(const std::filesystem::path& path, const std::string& header) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return false;
  if (std::fputs(header.c_str(), file_) < 0 || std::fflush(file_) != 0) {
    Close();
    return false;
  }
  return true;
}

bool GpsFile::Append(const std::string& dateTime, const std::string& gpsText) {
  if (!file_) return false;
  if (std::fprintf(file_, "%s\t%s\n", dateTime.c_str(), gpsText.c_str()) < 0 ||
      std::fflush(file_) != 0) {
    Close();
    return false;
  }
  return true;
}

void GpsFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace klx
