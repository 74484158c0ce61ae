#include "files/dat_file.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "files/channel_text.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

using files::kStartModeNames;
using files::kStatusNames;
using files::StampLayoutOf;
using files::StoresAsciiData;

double RowPeriodSeconds(const DeploymentParameters& p) {
  if (p.profiling6Hz) return 1.0 / 6.0;
  return static_cast<double>(p.samplePeriod.hours) * 3600.0 + p.samplePeriod.minutes * 60.0 +
         p.samplePeriod.seconds;
}

SystemTime DatRowClock::RowTime() {
  const double whole = std::floor(offset_);
  const double fraction = offset_ - whole;
  if (fraction < 0.9 * period_)
    offset_ = whole;
  else if (fraction > 1.0 - 0.9 * period_)
    offset_ = whole + 1.0;
  return AddSeconds(base_, static_cast<int64_t>(std::floor(offset_)));
}

std::string DatRowStart(DatLayout layout, const SystemTime& t) {
  // "%02d:%02d:%02d " or "%04d/%02d/%02d %02d:%02d:%02d ", written digit by digit: this runs
  // once per row of a file of up to a few million rows.
  std::string out;
  auto digits = [&out](unsigned value, int width) {
    char d[5];
    for (int i = width - 1; i >= 0; --i, value /= 10) d[i] = static_cast<char>('0' + value % 10);
    out.append(d, static_cast<size_t>(width));
  };
  if (layout == DatLayout::E) {
    digits(t.year % 10000u, 4);
    out += '/';
    digits(t.month % 100u, 2);
    out += '/';
    digits(t.day % 100u, 2);
    out += ' ';
  }
  if (layout == DatLayout::A || layout == DatLayout::E) {
    digits(t.hour % 100u, 2);
    out += ':';
    digits(t.minute % 100u, 2);
    out += ':';
    digits(t.second % 100u, 2);
    out += ' ';
  }
  return out;
}

namespace {

// The C locale for the duration of a long formatting or parsing loop.
class CLocaleScope {
 public:
  CLocaleScope() : c_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0))) {
    if (c_ != static_cast<locale_t>(0)) previous_ = uselocale(c_);
  }
  ~CLocaleScope() {
    if (c_ != static_cast<locale_t>(0)) {
      uselocale(previous_);
      freelocale(c_);
    }
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t c_;
  locale_t previous_ = static_cast<locale_t>(0);
};

uint8_t ColumnLetter(const FileHeaderInputs& in, size_t column) {
  const std::string& letters =
      in.columnTypes.empty() ? in.data.logger.channelTypes : in.columnTypes;
  return column < letters.size() ? static_cast<uint8_t>(letters[column]) : 'U';
}

void AppendRows(std::string& out, const FileHeaderInputs& in, int first, int last,
                DatRowClock& clock, size_t& stampCursor, bool leaveOutWaveHeight) {
  const DataSet& data = in.data;
  const auto& stamps = data.stamps.records;
  std::vector<size_t> columns;
  for (size_t ch = 0; ch < data.series.size(); ++ch)
    if (!(leaveOutWaveHeight && ColumnLetter(in, ch) == 0x81)) columns.push_back(ch);
  CLocaleScope cLocale;
  char buffer[64];
  for (int row = first; row <= last; ++row) {
    while (stampCursor < stamps.size() &&
           stamps[stampCursor].sampleIndex <= static_cast<uint32_t>(row)) {
      if (stamps[stampCursor].sampleIndex == static_cast<uint32_t>(row))
        clock.Restart(stamps[stampCursor].time);
      ++stampCursor;
    }
    out += DatRowStart(in.layout, clock.RowTime());
    for (size_t ch : columns) {
      const auto& series = data.series[ch];
      const float value = static_cast<size_t>(row) < series.size()
                              ? series[static_cast<size_t>(row)]
                              : kMissingValue;
      // "%9.4f ": to_chars prints exactly what printf would, without its per-call cost.
      const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer,
                                           static_cast<double>(value), std::chars_format::fixed, 4);
      if (ec != std::errc()) continue;
      const size_t n = static_cast<size_t>(end - buffer);
      if (n < 9) out.append(9 - n, ' ');
      out.append(buffer, n);
      out += ' ';
    }
    out += '\n';
    clock.Advance();
  }
}

}  // namespace

namespace {

// The clock of a range's first row: the last stamp at or before it (else the start) plus the
// whole seconds of the rows between; `cursor` is left at the first stamp after the row.
DatRowClock ClockForFirstRow(const FileHeaderInputs& in, int first, size_t& cursor) {
  const auto& p = in.image.snapshot.parameters;
  const double period = RowPeriodSeconds(p);
  const auto& stamps = in.data.stamps.records;
  size_t k = 0;
  size_t last = stamps.size();  // none
  while (k < stamps.size() && stamps[k].sampleIndex <= static_cast<uint32_t>(first)) {
    last = k;
    ++k;
  }
  cursor = k;
  const bool stamped = last < stamps.size();
  const SystemTime base = stamped ? stamps[last].time : p.startTime;
  const int from = stamped ? static_cast<int>(stamps[last].sampleIndex) : 0;
  const double elapsed = (first - from) * period;
  const double whole = std::floor(elapsed + 1e-9);
  return DatRowClock(AddSeconds(base, static_cast<int64_t>(whole)), period,
                     std::max(0.0, elapsed - whole));
}

}  // namespace

std::string WriteDatRows(const FileHeaderInputs& in, int first, int last, bool leaveOutWaveHeight) {
  std::string out;
  first = std::max(first, 0);
  last = std::min(last, in.data.samplesPerChannel - 1);
  if (first > last) return out;
  size_t cursor = 0;
  DatRowClock clock = ClockForFirstRow(in, first, cursor);
  AppendRows(out, in, first, last, clock, cursor, leaveOutWaveHeight);
  return out;
}

std::string DatFileText(const FileHeaderInputs& in) {
  std::string text = WriteFileHeader(in, kDatHeader);
  text += WriteDatRows(in, 0, in.data.samplesPerChannel - 1, true);
  return text;
}

std::string DatSegmentText(const FileHeaderInputs& in, int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, in.data.samplesPerChannel - 1);
  const int rows = last >= first ? last - first + 1 : 0;
  const std::string header = WriteFileHeader(in, kDatHeader);
  const std::string body = WriteDatRows(in, first, last, false);
  size_t cursor = 0;
  const SystemTime firstTime = ClockForFirstRow(in, first, cursor).RowTime();
  const bool zeroBased = StampLayoutOf(in.data.logger) == 2;
  std::string out;
  out.reserve(header.size() + body.size());
  size_t pos = 0;
  int lineNo = 0;
  while (pos < header.size()) {
    size_t end = header.find('\n', pos);
    if (end == std::string::npos) end = header.size();
    std::string line = header.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (lineNo == 4 && line.size() >= 31) {
      line.replace(14, 17,
                   CFormat("%02d/%02d/%02d %02d:%02d:%02d", firstTime.year - 2000, firstTime.month,
                           firstTime.day, firstTime.hour, firstTime.minute, firstTime.second)
                       .substr(0, 17));
    } else if (lineNo == 7) {
      const size_t at = line.find("number of samples = ");
      if (at != std::string::npos && at + 26 <= line.size())
        line.replace(at + 20, 6, CFormat("%6d", rows).substr(0, 6));
    } else if (line.rfind("Timestamp", 0) == 0) {
      const size_t at = line.find("sample ");
      if (at == std::string::npos) continue;
      size_t used = 0;
      const auto number = LeadingInt(std::string_view(line).substr(at + 7), &used);
      if (!number) continue;
      const int row = zeroBased ? *number : *number - 1;
      if (row < first || row > last) continue;
      // Only the number changes: the stamp's type and gains stay on the line.
      line.replace(at + 7, used, std::to_string(*number - first));
    }
    out += line;
    out += '\n';
  }
  out += body;
  return out;
}

bool SaveDatFileForRange(Host& host, SaveRequest& request, const HeldData& held, int first,
                         int last) {
  std::error_code ec;
  std::filesystem::path dir = request.programDirectory / "dat";
  if (request.directories != nullptr && request.directories->dat != kEmptyDirectory) {
    if (std::filesystem::is_directory(request.directories->dat, ec)) {
      dir = request.directories->dat;
    } else {
      host.Tell("Save Dat File",
                "This software attempts to remember your most recent selection of path to your "
                "files\nand to use it for subsequent reads and saves.\n\nThe path calculated for "
                "the current operation does not exist and will be changed to your KLX directory.",
                BoxIcon::Warning);
    }
  }
  FileChoice choice;
  choice.save = true;
  choice.title = "Select a 'dat' file for storing the data";
  choice.filter = "All Data Files (*.dat)";
  choice.suggestedName = CFormat("%06d*.dat", held.data.logger.serial);
  choice.initialDirectory = dir.string();
  const auto chosen = host.ChooseFile(choice);
  if (!chosen) return false;
  std::filesystem::path dat = *chosen;
  if (!dat.has_extension()) dat += ".dat";
  if (request.directories != nullptr) request.directories->dat = dat.parent_path().string();
  if (!MayOverwrite(host, "Write File", dat.string())) return false;
  const FileHeaderInputs in = HeaderInputsOf(held, request.layout, request.derived);
  if (!WriteTextFileAtomically(dat, DatSegmentText(in, first, last))) {
    TellCannotWrite(host, dat);
    return false;
  }
  request.chosenDat = dat;
  return true;
}

bool ReadDatFile(Host& host, FileReadRequest& request, HeldData& held) {
  std::filesystem::path file = request.file;
  if (file.empty()) {
    if (request.mode != 1) return false;
    FileChoice choice;
    choice.title = "Select an existing 'dat' file to be opened";
    choice.filter = "All Data Files (*.dat)";
    choice.suggestedName =
        request.lastSerial >= 0 ? CFormat("%06d*.dat", request.lastSerial) : std::string("*.dat");
    choice.initialDirectory = FolderOrDefault(request.directories ? request.directories->dat : "",
                                              request.programDirectory, "dat")
                                  .string();
    const auto chosen = host.ChooseFile(choice);
    if (!chosen) return false;
    file = *chosen;
    if (file.string().find(".dat") == std::string::npos) {
      host.Tell("Reading a DAT file", "This file is not an KLX DAT file", BoxIcon::Warning);
      return false;
    }
    if (request.directories != nullptr) request.directories->dat = file.parent_path().string();
  }
  std::error_code ec;
  std::filesystem::path found = file;
  if (!std::filesystem::is_regular_file(found, ec) &&
      file.filename().string().find("dat") != std::string::npos)
    found = request.programDirectory / "dat" / file.filename();
  const auto text = ReadWholeFile(found);
  if (!text) {
    host.Tell("Read Data File", "File does not exist", BoxIcon::Warning);
    request.removeFromRecent = true;
    return false;
  }
  ShowStatus(host, "Data from file: " + found.string());
  LineSource lines(*text);
  std::string line;
  if (!lines.Next(line) || line.find("KLX") == std::string::npos) {
    host.Tell("Reading a DAT file", "This file is not an KLX DAT file", BoxIcon::Warning);
    return false;
  }
  FileHeader header;
  if (const FileError e = ReadFileHeader(line, lines, kDatHeader, header); e.Failed()) {
    host.Tell(e.caption, e.message, BoxIcon::Warning);
    return false;
  }
  HeldData fresh;
  DataSet& data = fresh.data;
  const int channels = header.logger.channelCount;
  const int expected = header.samplesPerChannel;
  data.series.assign(static_cast<size_t>(channels), {});
  for (auto& s : data.series) s.reserve(static_cast<size_t>(std::min(expected, 1 << 22)) + 2);
  std::vector<float> minimum(static_cast<size_t>(channels), 300.0f);
  std::vector<float> maximum(static_cast<size_t>(channels), -300.0f);
  int rows = 0;
  bool lost = false;
  while (rows < expected) {
    if (!lines.Next(line)) {
      lost = true;
      break;
    }
    std::string_view rest(line);
    const size_t skip = header.valueColumn > 0 ? static_cast<size_t>(header.valueColumn - 1) : 0;
    rest = skip < rest.size() ? rest.substr(skip) : std::string_view{};
    std::vector<float> values;
    values.reserve(static_cast<size_t>(channels));
    for (int ch = 0; ch < channels; ++ch) {
      size_t used = 0;
      const auto v = LeadingDouble(rest, &used);
      if (!v) break;
      values.push_back(static_cast<float>(*v));
      rest = rest.substr(used);
    }
    if (static_cast<int>(values.size()) < channels) {
      lost = true;
      break;
    }
    for (int ch = 0; ch < channels; ++ch) {
      const float v = values[static_cast<size_t>(ch)];
      data.series[static_cast<size_t>(ch)].push_back(v);
      if (v >= -999.0f) {
        minimum[static_cast<size_t>(ch)] = std::min(minimum[static_cast<size_t>(ch)], v);
        maximum[static_cast<size_t>(ch)] = std::max(maximum[static_cast<size_t>(ch)], v);
      }
    }
    ++rows;
  }
  if (lost) {
    if (rows == 0) {
      host.Tell("Read File",
                "Error while reading file data.\nThe file has lost data.\nThe file holds no "
                "readable rows.",
                BoxIcon::Warning);
      return false;
    }
    host.Tell("Read File",
              "Error while reading file data.\nThe file has lost data.\nThe available data will "
              "be plotted.",
              BoxIcon::Warning);
  }
  for (int ch = 0; ch < channels; ++ch) {
    auto& s = data.series[static_cast<size_t>(ch)];
    s.push_back(minimum[static_cast<size_t>(ch)]);
    s.push_back(maximum[static_cast<size_t>(ch)]);
  }
  data.logger = header.logger;
  data.calibration = header.calibration;
  data.extendedCapabilities = header.extendedCapabilities;
  data.channelCount = channels;
  data.samplesPerChannel = rows;
  data.stamps = header.stamps;
  fresh.image.fill = 0;
  fresh.image.sampleWords = 0;
  fresh.image.hasSnapshot = true;
  fresh.image.snapshot = header.snapshot;
  if (header.headerBytes >= 0) fresh.image.headerLength = header.headerBytes;
  fresh.comment = header.comment;
  fresh.cards = header.cards;
  fresh.file = found;
  fresh.fromFile = true;
  fresh.fromDatFile = true;
  held = std::move(fresh);
  if (!held.comment.empty())
    ShowStatus(host, "Data from file: " + found.string() + " - " + held.comment);
  return true;
}

std::filesystem::path ChannelFilePath(const std::filesystem::path& datFile) {
  std::filesystem::path p = datFile;
  p.replace_extension(".chn.txt");
  return p;
}

void TellCannotWrite(Host& host, const std::filesystem::path& file) {
  host.Tell("Write File",
            CFormat("Unable to open the file %s.\nThis file may be open in another application",
                    file.c_str()),
            BoxIcon::Warning);
}

}  // namespace klx
