#include "waves/wave_files.h"

#include <charconv>
#include <system_error>

#include "decoding/channel_types.h"
#include "files/dat_file.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"
#include "waves/analysis.h"

namespace klx {

std::filesystem::path NmjFolder(const std::filesystem::path& dataFolder) {
  return dataFolder / "nmj";
}

namespace {

std::filesystem::path Renamed(const std::filesystem::path& folder,
                              const std::filesystem::path& datName, const char* extension) {
  std::string base = datName.filename().string();
  const size_t at = base.rfind(".dat");
  if (at != std::string::npos)
    base.replace(at, 4, extension);
  else
    base += extension;
  return folder / base;
}

// "%9.4f " without printf's per-call cost (the tide file has a row per tide sample).
void AppendValue(std::string& out, double value) {
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
  if (ec != std::errc()) return;
  const auto n = static_cast<size_t>(end - buffer);
  if (n < 9) out.append(9 - n, ' ');
  out.append(buffer, n);
  out += ' ';
}

uint8_t ColumnLetter(const FileHeaderInputs& in, size_t column) {
  const std::string& letters =
      in.columnTypes.empty() ? in.data.logger.channelTypes : in.columnTypes;
  return column < letters.size() ? static_cast<uint8_t>(letters[column]) : 'U';
}

}  // namespace

std::filesystem::path WaveFilePath(const std::filesystem::path& folder,
                                   const std::filesystem::path& datName) {
  return Renamed(folder, datName, ".wave");
}

std::filesystem::path TideFilePath(const std::filesystem::path& folder,
                                   const std::filesystem::path& datName) {
  return Renamed(folder, datName, ".tide");
}

std::string WaveDateTimeText(const SystemTime& t) {
  return CFormat("%04d/%s/%02d %02d:%02d:%02d", t.year, MonthName(t.month), t.day, t.hour,
                 t.minute, t.second);
}

std::string WaveFileText(const FileHeaderInputs& in) {
  const double height = in.image.snapshot.parameters.loggerHeight;
  std::string out = WriteFileHeader(in, kDatHeader);
  out +=
      "Date            Time    Number     Depth    H(1/3)    T(1/3)   H(1/10)   T(1/10)    "
      "H(max)    T(max)    H(avg)    T(avg)    Energy\n"
      "Date            Time    Number         m         m       sec         m       sec         "
      "m       sec         m       sec      J/m2\n";
  int number = 0;
  for (const BurstSeries& burst : in.data.bursts) {
    const WaveStatistics& s = burst.stats;
    out += WaveDateTimeText(burst.time) + " ";
    out += CFormat("%9d %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %s\n",
                   ++number, static_cast<double>(s.meanDepth) + height, s.h13, s.t13, s.h110,
                   s.t110, s.hmax, s.tmax, s.havg, s.tavg, s.energy, WaveFlagText(s.flag));
  }
  return out;
}

std::string TideFileText(const FileHeaderInputs& in) {
  const DataSet& data = in.data;
  const DeploymentParameters& p = in.image.snapshot.parameters;
  std::string out = WriteFileHeader(in, kDatHeader);
  out +=
      "Date            Time      Temp  Pressure    Depth   Td_slope\n"
      "Date            Time degrees_C   deciBar        m     m/hour\n";
  std::vector<size_t> columns;
  for (size_t ch = 0; ch < data.series.size(); ++ch)
    if (ColumnLetter(in, ch) != kLetterSignificantWaveHeight) columns.push_back(ch);
  // The interval is 1/6 s under 6 Hz profiling, else the sampling period; stamps restart the
  // running time, which is snapped to whole seconds within 0.9 intervals of one.
  DatRowClock clock(p.startTime, RowPeriodSeconds(p));
  const auto& stamps = data.stamps.records;
  size_t cursor = 0;
  for (int row = 0; row < data.samplesPerChannel; ++row) {
    while (cursor < stamps.size() && stamps[cursor].sampleIndex <= static_cast<uint32_t>(row)) {
      if (stamps[cursor].sampleIndex == static_cast<uint32_t>(row))
        clock.Restart(stamps[cursor].time);
      ++cursor;
    }
    const SystemTime t = clock.RowTime();
    out += CFormat("%04d/%s/%02d %02d:%02d:%02d ", t.year, MonthName(t.month), t.day, t.hour,
                   t.minute, t.second);
    for (size_t ch : columns) {
      const auto& series = data.series[ch];
      AppendValue(out, static_cast<size_t>(row) < series.size()
                           ? static_cast<double>(series[static_cast<size_t>(row)])
                           : static_cast<double>(kMissingValue));
    }
    out += '\n';
    clock.Advance();
  }
  return out;
}

std::string WaveCsvText(const DataSet& data, const DeploymentParameters& p) {
  const LoggerState& logger = data.logger;
  const auto& bursts = data.bursts;
  const int n = p.burstLength;
  std::string out = CFormat("KLX %s %5.2f %06d\n", logger.model.c_str(),
                            static_cast<double>(logger.firmware), logger.serial);
  out += CFormat("Bursts:,%d,Samples:,%d,Rate (Hz):,%d,Height:,%f\n",
                 static_cast<int>(bursts.size()), n, p.waveRateHz, p.loggerHeight);
  auto valueAt = [](const std::vector<float>& series, int i) {
    return static_cast<size_t>(i) < series.size() ? static_cast<double>(series[static_cast<size_t>(i)])
                                                  : static_cast<double>(kMissingValue);
  };
  for (size_t first = 0; first < bursts.size(); first += kCsvGroupSize) {
    const size_t last = std::min(bursts.size(), first + kCsvGroupSize);
    out += "\nBurst#";
    for (size_t b = first; b < last; ++b) out += CFormat(",%d,", static_cast<int>(b + 1));
    out += "\nStart time ";
    for (size_t b = first; b < last; ++b) {
      const SystemTime& t = bursts[b].time;
      out += CFormat(",%4d/%s/%02d %02d:%02d:%02d,", t.year, MonthName(t.month), t.day, t.hour,
                     t.minute, t.second);
    }
    out += '\n';
    for (size_t b = first; b < last; ++b) out += ",Depth,Surface";
    out += '\n';
    for (int i = 0; i < n; ++i) {
      out += CFormat("%d", i + 1);
      for (size_t b = first; b < last; ++b)
        out += CFormat(",%.4f,%.4f", valueAt(bursts[b].samples, i), valueAt(bursts[b].surface, i));
      out += '\n';
    }
  }
  return out;
}

WaveFilesWritten WriteWaveAndTideFiles(Host& host, const std::filesystem::path& dataFolder,
                                       const std::filesystem::path& datName,
                                       const FileHeaderInputs& in) {
  WaveFilesWritten written;
  // A tide-and-wave logger deployed without bursts still has its tide series.
  const bool bursts = !in.data.bursts.empty();
  if (datName.string().find(".dat") == std::string::npos ||
      (!bursts && !in.data.logger.ModelHas("NMJ")))
    return written;
  const std::filesystem::path folder = NmjFolder(dataFolder);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) {
    ShowStatus(host, kNmjFolderError);
    return written;
  }
  if (bursts) {
    const std::filesystem::path wave = WaveFilePath(folder, datName);
    if (WriteTextFileAtomically(wave, WaveFileText(in)))
      written.wave = wave;
    else
      TellCannotWrite(host, wave);
  }
  const std::filesystem::path tide = TideFilePath(folder, datName);
  if (WriteTextFileAtomically(tide, TideFileText(in)))
    written.tide = tide;
  else
    ShowStatus(host, kTideWriteError);
  return written;
}

std::optional<std::filesystem::path> WriteWaveCsv(Host& host,
                                                  const std::filesystem::path& dataFolder,
                                                  const DataSet& data,
                                                  const DeploymentParameters& parameters) {
  if (!data.logger.ModelHas("NMJ") || data.bursts.empty()) return std::nullopt;
  const std::filesystem::path folder = NmjFolder(dataFolder);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  FileChoice choice;
  choice.save = true;
  choice.title = "Select a 'csv' file for storing the NMJ data";
  choice.filter = "All NMJ csv data files (*.csv)";
  choice.suggestedName = CFormat("%06d*.csv", data.logger.serial);
  choice.initialDirectory = folder.string();
  const auto chosen = host.ChooseFile(choice);
  if (!chosen) return std::nullopt;
  std::filesystem::path csv = *chosen;
  if (csv.extension() != ".csv") csv.replace_extension(".csv");
  if (!MayOverwrite(host, "Write File", csv.string())) return std::nullopt;
  bool written = false;
  {
    BusyScope busy(host);
    written = WriteTextFileAtomically(csv, WaveCsvText(data, parameters));
  }
  if (!written) {
    TellCannotWrite(host, csv);
    return std::nullopt;
  }
  return csv;
}

}  // namespace klx
