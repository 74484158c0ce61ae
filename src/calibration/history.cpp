#include "calibration/history.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <optional>
#include <system_error>

#include "calibration/read.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {
namespace {

constexpr int kHistoryAttempts = 5;
constexpr int kHistoryRetryMs = 300;
constexpr uint32_t kSingleRecordSize = 38;

double DoubleAt(const uint8_t* bytes) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytes[i];
  return std::bit_cast<double>(bits);
}

std::array<double, 4> RowAt(const uint8_t* bytes) {
  return {DoubleAt(bytes), DoubleAt(bytes + 8), DoubleAt(bytes + 16), DoubleAt(bytes + 24)};
}

class Listing {
 public:
  Listing(Host& host, CalibrationHistory& out) : host_(host), out_(out) {}
  void Line(const std::string& text) {
    out_.lines.push_back(text);
    text_ += text;
    text_ += '\n';
  }
  HistoryResult Error() {
    Line("Calibration History error");
    ShowStatus(host_, "Calibration History error");
    return HistoryResult::Error;
  }
  const std::string& Text() const { return text_; }

 private:
  Host& host_;
  CalibrationHistory& out_;
  std::string text_;
};

// Reads yy mm dd hh mi ss as two-digit fields ("%2d" each) from `text`; false when short.
bool DateAfterMarker(std::string_view text, std::array<int, 6>& date) {
  if (text.size() < 12) return false;
  for (size_t i = 0; i < 6; ++i) {
    int v = 0;
    bool any = false;
    for (size_t k = 0; k < 2; ++k) {
      const char c = text[2 * i + k];
      if (c == ' ' && !any) continue;
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
      any = true;
    }
    if (!any) return false;
    date[i] = v;
  }
  return true;
}

HistoryResult ListLinear(LoggerLink& link, Listing& list) {
  if (link.CommGet(16) != 1) return list.Error();
  const int rows = CalibrationRows(link.state);
  std::vector<uint8_t> data;
  for (int k = 0; k <= 0xFFFF; ++k) {
    // A record number the logger does not answer is the end of its history.
    if (link.ReadTable(Format("V%02X%02X00", k & 0xFF, (k >> 8) & 0xFF), data) != 1) break;
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    size_t at = text.find("CAL");
    const bool complete = at != std::string_view::npos;
    if (!complete) at = text.find("CMM");
    if (at == std::string_view::npos) {
      // Only the first record tells whether the logger was ever calibrated; behind listed
      // records the history simply ends.
      if (k > 0) break;
      list.Line("Logger not yet calibrated");
      ShowStatus(link.host(), "Logger not yet calibrated");
      return HistoryResult::NotCalibrated;
    }
    std::array<int, 6> date{};
    if (!DateAfterMarker(text.substr(at + 3), date)) return list.Error();
    list.Line("");
    list.Line(HistoryDateLine(date) + (complete ? "" : " incomplete calibration"));
    for (int n = 1; n <= rows; ++n) {
      if (link.ReadTable(Format("V%02X%02X%02X", k & 0xFF, (k >> 8) & 0xFF, n), data) != 1 ||
          data.size() < 33)
        return list.Error();
      list.Line(LinearHistoryLine(n, RowAt(data.data())));
    }
  }
  return HistoryResult::Listed;
}

HistoryResult ListMultiChannel(LoggerLink& link, Listing& list) {
  if (link.CommGet(16) != 1) return list.Error();
  const int rows = CalibrationRows(link.state);
  // The walk runs on a scratch table: the coefficients in use stay those of the last read.
  CalibrationCoefficients scratch;
  scratch.nextRecordOffset = 0;
  RecordStep step = RecordStep::More;
  int records = 0;
  while (step == RecordStep::More) {
    step = ReadCalibrationRecordStep(link, scratch, false);
    if (step != RecordStep::More && step != RecordStep::Last) break;
    ++records;
    list.Line("");
    list.Line(HistoryDateLine(scratch.calibrationDate));
    for (int n = 0; n < rows; ++n) {
      const auto& r = scratch.coef[static_cast<size_t>(n)];
      list.Line(CFormat("%3d: %18.15f %18.15f %18.15f %18.15f ", n + 1, r[0], r[1], r[2], r[3]));
    }
  }
  if (step == RecordStep::Empty && records == 0) {
    list.Line("Logger not yet calibrated.");
    return HistoryResult::NotCalibrated;
  }
  if (step != RecordStep::Last) return list.Error();
  return HistoryResult::Listed;
}

// The models whose history answers end with a sum byte.
bool SendsHistorySum(const LoggerState& state) {
  return (state.ModelHas("NA") && state.firmware > 1.5f) || state.ModelHas("NB") ||
         state.ModelHas("NMV");
}

HistoryResult ListSingleChannel(LoggerLink& link, Listing& list) {
  SerialLink& port = link.link();
  const bool sumExpected = SendsHistorySum(link.state);
  std::array<uint8_t, 121> buffer{};
  int records = 0;
  for (uint32_t address = calibration_memory::kBase;
       address + kSingleRecordSize <= kSingleChannelDataMemory; address += kSingleRecordSize) {
    bool accepted = false;
    for (int attempt = 0; attempt < kHistoryAttempts && !accepted; ++attempt) {
      if (attempt > 0) port.WaitMilliseconds(kHistoryRetryMs);
      port.LinkWriteText(MemoryReadCommand(address, kSingleRecordSize));
      const int n = port.LinkRead(buffer.data(), 40);
      if (n < 39) continue;
      // The record's 38 bytes come with their sum; a 40-byte answer carries one more byte
      // before it. Older loggers that send no sum are taken as they answer.
      const auto sumAt = static_cast<size_t>(std::min(n, 40) - 1);
      accepted = !sumExpected || ByteSum(buffer.data(), sumAt) == buffer[sumAt];
    }
    if (!accepted) {
      link.host().Tell("Calibration History", "Download Error", BoxIcon::Warning);
      return HistoryResult::Error;
    }
    // Free memory ends the walk; only a logger without any record is uncalibrated.
    if (buffer[0] == 0xFF) {
      if (records > 0) return HistoryResult::Listed;
      list.Line("Logger not yet calibrated.");
      return HistoryResult::NotCalibrated;
    }
    const std::array<int, 6> date = DateOfRecordHeader(buffer.data());
    list.Line(CFormat("%04d/%s/%02d %02d:%02d:%02d", date[0] + 2000, MonthName(date[1]), date[2],
                      date[3], date[4], date[5]));
    const auto r = RowAt(buffer.data() + 6);
    list.Line(CFormat("%18.15f %18.15f %18.15f %18.15f ", r[0], r[1], r[2], r[3]));
    ++records;
  }
  return HistoryResult::Listed;
}

}  // namespace

std::optional<std::filesystem::path> NextHistoryFile(const std::filesystem::path& folder,
                                                     int32_t serial) {
  for (int number = 0; number <= 999; ++number) {
    const auto path = folder / Format("%06d.%03d.his", serial, number);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) return path;
  }
  return std::nullopt;
}

std::filesystem::path LastHistoryFile(const std::filesystem::path& folder, int32_t serial) {
  for (int number = 999; number >= 0; --number) {
    const auto path = folder / Format("%06d.%03d.his", serial, number);
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return path;
  }
  return {};
}

std::string LinearHistoryLine(int channel, const std::array<double, 4>& r) {
  const bool plain = std::all_of(r.begin(), r.end(), [](double v) { return std::fabs(v) <= 1e6; });
  if (plain) return CFormat("%3d: %.15f %.15f %.15f %.15f ", channel, r[0], r[1], r[2], r[3]);
  return CFormat("%3d: %23.15e %23.15e %23.15e %23.15e ", channel, r[0], r[1], r[2], r[3]);
}

std::string HistoryDateLine(const std::array<int, 6>& d) {
  return CFormat("%4d/%s/%02d %02d:%02d:%02d", d[0] + 2000, MonthName(d[1]), d[2], d[3], d[4],
                 d[5]);
}

HistoryResult WriteCalibrationHistory(LoggerLink& link, const std::filesystem::path& dataFolder,
                                      CalibrationHistory& out) {
  out = {};
  Host& host = link.host();
  const auto path = NextHistoryFile(dataFolder, link.state.serial);
  if (!path) {
    ShowStatus(host, "Calibration History error - unable to open file");
    return HistoryResult::Error;
  }
  Listing list(host, out);
  list.Line(CFormat("KLX Data Logger: %s %5.2f %06d", link.state.model.c_str(),
                    static_cast<double>(link.state.firmware), link.state.serial));
  HistoryResult result = HistoryResult::Error;
  switch (GenerationOf(link.state)) {
    case CalibrationGeneration::LinearMemory:
      result = ListLinear(link, list);
      break;
    case CalibrationGeneration::MultiChannel:
      result = ListMultiChannel(link, list);
      break;
    case CalibrationGeneration::SingleChannel:
      result = ListSingleChannel(link, list);
      break;
  }
  if (result == HistoryResult::Error) return result;
  if (!WriteTextFileAtomically(*path, list.Text())) {
    ShowStatus(host, "Calibration History error - unable to open file");
    return HistoryResult::Error;
  }
  out.file = *path;
  out.lines.push_back("");
  out.lines.push_back("Calibration history written to file " + path->string());
  return result;
}

}  // namespace klx
