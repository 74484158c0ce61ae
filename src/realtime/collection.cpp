#include "realtime/collection.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "decoding/channel_types.h"
#include "decoding/decoder.h"
#include "decoding/equations.h"
#include "files/file_header.h"
#include "link/serial_link.h"
#include "records/memory_image.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"
#include "waves/tide.h"

namespace klx {
namespace {

// The display series hold this many values in all (the old display's buffer).
constexpr int64_t kSeriesValues = 9437184;
// The display scrolls to show this many samples.
constexpr int kVisibleSamples = 180;

// The limits entry of a quantity (its unit index): the limits file lists the quantities in
// unit order, 0 (temperature) to 17 (transmissometer); the derived oxygen concentrations share
// the "DerivedO2" pair with the optode's and the derived saturation the dissolved-oxygen pair.
const RealTimeLimit* LimitOfUnit(const RealTimeLimits& limits, uint32_t unit) {
  constexpr uint32_t kDissolvedO2 = 3, kDerivedO2 = 4;
  if (unit == 19 || unit == 20) unit = kDerivedO2;
  if (unit == 21) unit = kDissolvedO2;
  const auto& all = limits.All();
  return unit < all.size() ? &all[unit] : nullptr;
}

}  // namespace

CommTimeouts PollingTimeouts() {
  CommTimeouts t;
  t.readTotalTimeoutMultiplier = 0;
  t.readTotalTimeoutConstant = 5;
  t.writeTotalTimeoutMultiplier = 2;
  t.writeTotalTimeoutConstant = 20;
  return t;
}

RealTimeRates RequiredRealTimeRates(const DeploymentParameters& p, int channels) {
  const double rate =
      p.profiling6Hz ? 60.0 : 10.0 / static_cast<double>(p.samplePeriod.TotalSeconds());
  RealTimeRates r;
  r.binary = static_cast<uint32_t>(std::floor((channels * 3 + 13) * rate));
  r.engineering = static_cast<uint32_t>(std::floor((channels * 10 + 22) * rate));
  return r;
}

bool CheckRealTimeCapacity(const DeploymentParameters& p, int channels, Host& host) {
  if (!p.realtimeOutput) return true;
  const RealTimeRates r = RequiredRealTimeRates(p, channels);
  if (r.binary >= p.realtimeBaud) {
    host.Tell(
        kCapacityCaption,
        Format("Real-time output from this logger using the current Sampling Period\nrequires "
               "a default baud rate greater than %u.\n\nReturn to the 'Setup' window and "
               "change the Sampling Period\nor increase the default baud rate using the 'Set "
               "default baud rate' item under the 'Logger functions' menu.",
               r.binary),
        BoxIcon::Stop);
    return false;
  }
  if (r.engineering >= p.realtimeBaud && (p.startFlags & 4u) != 0) {
    host.Tell(
        kCapacityCaption,
        Format("Real-time output from this logger using the Engineering units format\nrequires "
               "a default baud rate greater than %u.\n\nChange the output format to Binary "
               "using the 'Engineering units' item under the 'Logger functions' menu\nor "
               "increase the default baud rate using the 'Set default baud rate' item under "
               "the 'Logger functions' menu.",
               r.engineering),
        BoxIcon::Stop);
    return false;
  }
  return true;
}

bool SendsEngineeringRecords(const DeploymentParameters& p, const LoggerState& s) {
  return (p.startFlags & 4u) != 0 && s.engineeringUnitsLevel >= 1;
}

bool StoresRealTimeAsDat(const LoggerState& s) {
  return (s.rsAdvancedWord & 0x0Au) == 0x0Au;
}

std::optional<RealTimeFiles> ChooseRealTimeFile(Host& host, const LoggerState& s,
                                                const std::filesystem::path& programDirectory,
                                                Directories& directories) {
  const bool dat = StoresRealTimeAsDat(s);
  FileChoice choice;
  choice.save = true;
  choice.initialDirectory = FolderOrDefault(dat ? directories.dat : directories.hex,
                                            programDirectory, dat ? "dat" : "hex")
                                .string();
  if (dat) {
    choice.title = "Select a 'dat' file for storing the ASCII data";
    choice.filter = "All ASCII data files (*.dat)";
    choice.suggestedName = CFormat("%06dRealtime.dat", s.serial);
  } else {
    choice.title = "Select a 'hex' filename for storing the Real-time data";
    choice.filter = "All Hex Files (*.hex)";
    choice.suggestedName = CFormat("%06dRealtime.hex", s.serial);
  }
  const auto chosen = host.ChooseFile(choice);
  if (!chosen || chosen->empty()) return std::nullopt;
  std::filesystem::path file = *chosen;
  if (file.is_relative()) file = std::filesystem::path(choice.initialDirectory) / file;
  if (!file.has_extension()) file += dat ? ".dat" : ".hex";
  if (!MayOverwrite(host, "Write File", file.string())) return std::nullopt;
  (dat ? directories.dat : directories.hex) = file.parent_path().string();
  RealTimeFiles out;
  out.data = file;
  out.gps = FolderOrDefault(directories.dat, programDirectory, "dat") / file.filename();
  out.gps.replace_extension(".gps");
  return out;
}

int RealTimeSeriesCapacity(const LoggerState& s) {
  const std::string& letters = s.channelTypes;
  auto has = [&](std::initializer_list<char> set) {
    for (char c : letters)
      if (std::find(set.begin(), set.end(), c) != set.end()) return true;
    return false;
  };
  const bool t = has({'T'}), c = has({'C'}), pr = has({'P', 'L'});
  int derived = t && c && pr ? 5 : t && c ? 4 : t && pr ? 2 : pr ? 1 : 0;
  if (has({'D', 'K'})) derived += 1;
  if (has({'J'})) derived += 2;
  if (s.ModelHas("NMJ")) derived += 2;
  const int channels = std::max(1, s.channelCount) + derived;
  return static_cast<int>(kSeriesValues / channels);
}

// ---------------------------------------------------------------------------------------------

RealTimeRun::RealTimeRun(LoggerLink& logger, Host& host, Clock& clock)
    : logger_(logger), host_(host), clock_(clock) {}

RealTimeRun::~RealTimeRun() {
  End();
}

int RealTimeRun::TickPeriodMs() const {
  return p_.profiling6Hz ? 100 : 150;
}

bool RealTimeRun::Start(RealTimeStart start) {
  End();
  files_ = start.files;
  p_ = start.parameters;
  data_ = std::move(start.data);
  derived_ = start.derived;
  measured_ = std::clamp(data_.logger.channelCount, 1, LoggerState::kMaxChannels);
  data_.logger.channelCount = measured_;
  const LoggerState& s = data_.logger;
  const bool engineering = SendsEngineeringRecords(p_, s);
  // Text records of a logger that stores ASCII data go to a dat file as they came; binary
  // records always to a hex file.
  textFile_ = engineering && StoresRealTimeAsDat(s);

  // 1. The real-time file, with the header of a hex file.
  data_.channelCount = measured_;
  data_.samplesPerChannel = 0;
  data_.series.assign(static_cast<size_t>(measured_), std::vector<float>{0.0f, 0.0f});
  data_.stamps = {};
  data_.bursts.clear();
  MemoryImage image;
  image.hasSnapshot = true;
  image.snapshot.parameters = p_;
  image.snapshot.hostTime = clock_.LocalTime();
  image.snapshot.loggerTime = logger_.loggerClock;
  image.snapshot.loggerStatus = 2;
  const int block = std::max(0, s.parameterBlockLength);
  image.headerLength = block;
  FileHeaderInputs in(data_, image);
  in.comment = start.comment;
  in.derived = derived_;
  const uint8_t mode =
      static_cast<uint8_t>((p_.startMode & 0x1F) | (p_.continuousPower ? 0x80 : 0) |
                           (p_.profiling6Hz ? 0x40 : 0) | (p_.realtimeOutput ? 0x20 : 0));
  std::string preamble = RealTimeParameterLine(block, p_.realtimeBaudCode, mode, p_.startFlags);
  if (preamble.empty() && block > 24)
    preamble = std::string(static_cast<size_t>(block - 24) * 2, '0') + "\n";
  header_ = WriteFileHeader(in, textFile_ ? kDatHeader : kHexHeader);
  preamble_ = preamble;
  fileNumber_ = 1;
  firstFile_ = files_.data;
  if (!file_.Open(files_.data, header_, !textFile_, preamble_)) {
    host_.Tell(kRealTimeCaption, "Unable to open '.hex' data file", BoxIcon::Stop);
    return false;
  }

  // 2. Status and menus.
  ShowStatus(host_, kRealTimeStatus);
  active_ = true;

  // 3. The series, their ranges from the limits, and the derived channels.
  capacity_ = RealTimeSeriesCapacity(s);
  const DerivedAllocation allocation = AllocateDerivedChannels(data_, derived_);
  derivedChannels_ = allocation.channels;
  const RealTimeLimits defaults;
  const RealTimeLimits& limits = start.limits ? *start.limits : defaults;
  for (int ch = 0; ch < data_.channelCount; ++ch) {
    auto& series = data_.series[static_cast<size_t>(ch)];
    const RealTimeLimit* limit = LimitOfUnit(limits, UnitOfChannel(data_, ch));
    if (limit && limit->upper > limit->lower) {
      series[0] = static_cast<float>(limit->lower), series[1] = static_cast<float>(limit->upper);
    } else if (ch < measured_) {
      series[0] = kDerivedMinimumStart, series[1] = kDerivedMaximumStart;  // set by the samples
    }
  }
  reader_ = std::make_unique<RecordReader>(measured_, engineering);
  bursts_.reset();
  if (s.waves) bursts_ = std::make_unique<BurstAssembler>(WaveSetupOf(data_, p_, derived_));
  sampleCount = 0;
  haveFirst_ = false;
  periodMs_ = p_.profiling6Hz ? 167 : p_.samplePeriod.TotalSeconds() * 1000;
  // Record times are whole seconds: under 6 Hz six records share a second, and only a step of
  // more than a second (or back) is a gap.
  gapMs_ = std::max<int64_t>(periodMs_, 1000);
  lastLine.clear();
  gpsText.clear();
  gps_ = GpsReader{};
  gpsWarned_ = false;
  writeErrors = 0;

  SerialLink& link = logger_.link();
  if (SerialPort* port = link.Port(PortSlot::Logger)) port->SetTimeouts(PollingTimeouts());

  // 4. The GPS, when one is configured.
  gpsActive_ = false;
  if (link.gpsPort > 0 &&
      link.OpenSerialPort(PortSlot::Gps, link.gpsPort, link.gpsBaudRate, RtsControl::Disable)) {
    if (SerialPort* port = link.Port(PortSlot::Gps)) port->SetTimeouts(PollingTimeouts());
    gpsActive_ = true;
  }
  // 5. The GPS file, with the common header.
  if (gpsActive_) {
    std::error_code ec;
    std::filesystem::create_directories(files_.gps.parent_path(), ec);
    if (!gpsFile_.Open(files_.gps, WriteFileHeader(in, kDatHeader))) {
      host_.Tell(kRealTimeCaption, "Unable to open '.gps' data file", BoxIcon::Warning);
    }
  }
  // The tide-and-wave logger needs depth for its calculations.
  if (s.ModelHas("NMJ") && !derived_.depthOn)
    host_.Tell(kNmjCaption, kNmjDepthText, BoxIcon::Information);
  return true;
}

void RealTimeRun::End() {
  if (!active_) return;
  if (bursts_) BurstComplete(bursts_->Close(data_));  // the burst in progress ends with the run
  active_ = false;
  file_.Close();
  gpsFile_.Close();
  SerialLink& link = logger_.link();
  if (SerialPort* port = link.Port(PortSlot::Logger))
    port->SetTimeouts(SerialLink::OpenTimeouts(link.currentBaudRate, RtsControl::Disable));
  if (gpsActive_) link.CloseSerialPort(PortSlot::Gps);
  gpsActive_ = false;
}

bool RealTimeRun::ReadGps() {
  uint8_t buffer[GpsReader::kBufferSize + 1];
  const int n = logger_.link().LinkRead(PortSlot::Gps, buffer, static_cast<int>(gps_.ReadSize()));
  if (n > 0) gps_.Append(buffer, static_cast<size_t>(n));
  const bool fix = gps_.Parse();
  if (fix) gpsText = gps_.text;
  if (gps_.warn && !gpsWarned_) {
    gpsWarned_ = true;
    host_.Tell(kGpsCaption, kGpsNoFixSentencesText, BoxIcon::Warning);
  }
  return fix;
}

int RealTimeRun::Tick() {
  if (!active_) return 0;
  if (gpsActive_) ReadGps();
  int stored = 0;
  uint8_t buffer[RecordReader::kBufferSize + 1];
  const int n = logger_.link().LinkRead(buffer, static_cast<int>(reader_->ReadSize()));
  if (n > 0) reader_->Append(buffer, static_cast<size_t>(n));
  // Every complete record the buffer holds is taken in this tick.
  while (auto record = reader_->Next()) {
    if (record->tag == RecordTag::Sample) {
      if (bursts_) BurstComplete(bursts_->Expire(data_, record->time));
      StoreSample(*record);
      ++stored;
    } else {
      StoreBurst(*record);
      ++burstRecords;
    }
  }
  return stored;
}

int32_t RealTimeRun::RawFromValue(int channel, double value) const {
  // The count whose value is nearest, by bisection: the equations are monotonic over the
  // counts a channel produces.
  int32_t lo = 1, hi = kWrap - 1;
  const double vlo = ChannelValue(data_, lo, channel), vhi = ChannelValue(data_, hi, channel);
  if (!std::isfinite(vlo) || !std::isfinite(vhi) || vlo == vhi) return 0;
  const bool rising = vhi > vlo;
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    const double v = ChannelValue(data_, mid, channel);
    if ((v < value) == rising)
      lo = mid;
    else
      hi = mid;
  }
  int32_t raw = std::abs(ChannelValue(data_, lo, channel) - value) <=
                        std::abs(ChannelValue(data_, hi, channel) - value)
                    ? lo
                    : hi;
  const char letter = channel < static_cast<int>(data_.logger.channelTypes.size())
                          ? data_.logger.channelTypes[static_cast<size_t>(channel)]
                          : 0;
  if (letter == 'y' || letter == 'f' || letter == 'g' || letter == 'z') {
    raw &= ~7;
  } else if (raw & 1) {
    // An odd count marks a reading outside the normal range: file the nearer even neighbour
    // (one count away, far below the text's resolution).
    const int32_t down = std::max(raw - 1, 2), up = std::min(raw + 1, kWrap - 2);
    raw = std::abs(ChannelValue(data_, down, channel) - value) <=
                  std::abs(ChannelValue(data_, up, channel) - value)
              ? down
              : up;
  }
  return raw;
}

void RealTimeRun::AppendValue(int channel, float value) {
  // The series hold the samples, then the minimum and the maximum: the new sample takes the
  // minimum's place and the two move one along.
  auto& series = data_.series[static_cast<size_t>(channel)];
  const size_t n = static_cast<size_t>(data_.samplesPerChannel);
  float lo = series[n], hi = series[n + 1];
  if (value != kMissingValue) {
    lo = std::min(lo, value);
    hi = std::max(hi, value);
  }
  series[n] = value;
  series[n + 1] = lo;
  series.push_back(hi);
}

void RealTimeRun::MakeRoom() {
  // The display keeps its newest half when the series are full; the file keeps everything.
  const int keep = capacity_ / 2;
  const int drop = data_.samplesPerChannel - keep;
  if (drop <= 0) return;
  const SystemTime newFirst =
      SampleTime(data_, firstTime_, periodMs_ / 1000, p_.profiling6Hz, drop);
  for (auto& series : data_.series) series.erase(series.begin(), series.begin() + drop);
  data_.samplesPerChannel = keep;
  auto& records = data_.stamps.records;
  std::vector<StampRecord> kept;
  StampRecord first;
  first.type = kStampTime;
  first.time = newFirst;
  kept.push_back(first);
  for (StampRecord r : records) {
    if (static_cast<int>(r.sampleIndex) <= drop) continue;
    r.sampleIndex -= static_cast<uint32_t>(drop);
    kept.push_back(r);
  }
  records = std::move(kept);
  firstTime_ = newFirst;
}

void RealTimeRun::StoreSample(const RealTimeRecord& record) {
  std::vector<int32_t> raw = record.raw;
  if (reader_->Engineering()) {
    raw.clear();
    for (int ch = 0; ch < measured_; ++ch)
      raw.push_back(RawFromValue(ch, record.values[static_cast<size_t>(ch)]));
  }
  if (data_.samplesPerChannel >= capacity_) MakeRoom();

  const int64_t ms = ToEpochMs(record.time);
  const int row = data_.samplesPerChannel;
  if (!haveFirst_) {
    haveFirst_ = true;
    firstTime_ = record.time;
  }
  // A sample that does not follow the previous one by one period starts a new time stamp, so
  // the display's times stay true across gaps.
  if (row == 0 || ms < previousMs_ || ms - previousMs_ > gapMs_) {
    StampRecord stamp;
    stamp.sampleIndex = static_cast<uint32_t>(row);
    stamp.type = kStampTime;
    stamp.time = record.time;
    if (data_.stamps.records.size() < TimestampTable::kCapacity)
      data_.stamps.records.push_back(stamp);
    else
      data_.stamps.overflowed = true;
  }
  previousMs_ = ms;

  std::string line = ShortDateDisplayText(record.time);
  for (int ch = 0; ch < measured_; ++ch) {
    float value;
    if (reader_->Engineering()) {
      value = static_cast<float>(record.values[static_cast<size_t>(ch)]);
    } else {
      const int32_t count = ApplyExtendedRange(data_, ch, raw[static_cast<size_t>(ch)]);
      value = static_cast<float>(ChannelValue(data_, count, ch));
    }
    AppendValue(ch, value);
  }
  for (int ch = measured_; ch < data_.channelCount; ++ch) AppendValue(ch, kMissingValue);
  data_.samplesPerChannel = row + 1;
  ComputeDerivedSample(data_, derivedChannels_, derived_, row);
  StoreWaveChannels(row);
  for (int ch = 0; ch < data_.channelCount; ++ch)
    line += CFormat(" %9.4f", data_.series[static_cast<size_t>(ch)][static_cast<size_t>(row)]);
  ++sampleCount;

  bool written;
  if (textFile_) {
    written = file_.AppendText(record.text);
  } else {
    // A file reads back whole while it holds no more than a logger memory: the samples go on in
    // a continuation file beyond that.
    if (file_.IsOpen() &&
        file_.DataBytes() + file_.AppendSize(record.time, raw.size(), gapMs_) > maxFileBytes)
      ContinueFile();
    written = file_.AppendSample(record.time, raw, gapMs_);
  }
  if (!written && writeErrors++ == 0)
    host_.Tell(kRealTimeCaption,
               "Unable to write to the real-time data file " + files_.data.string() +
                   ".\nThe display goes on; later samples are not filed.",
               BoxIcon::Stop);

  if (gpsActive_ && !gpsText.empty()) {
    gpsFile_.Append(ShortDateDisplayText(record.time), gpsText);
    line += gpsText;
  }
  lastLine = line;
  ShowStatus(host_, line);
  if (onSample) onSample();
}

void RealTimeRun::StoreWaveChannels(int row) {
  const auto n = static_cast<size_t>(data_.samplesPerChannel);
  auto store = [&](int channel, int i, float v) {
    auto& series = data_.series[static_cast<size_t>(channel)];
    series[static_cast<size_t>(i)] = v;
    if (v == kMissingValue) return;
    series[n] = std::min(series[n], v);
    series[n + 1] = std::max(series[n + 1], v);
  };
  // SWH: the Hm0 of the latest analysed burst (missing before it, and when it is in error).
  if (derivedChannels_.waveHeight >= 0) {
    float hm0 = kMissingValue;
    const auto latest = std::find_if(data_.bursts.rbegin(), data_.bursts.rend(),
                                     [](const BurstSeries& b) { return b.stats.analysed; });
    if (latest != data_.bursts.rend() && latest->stats.flag != kWaveError) hm0 = latest->stats.h13;
    store(derivedChannels_.waveHeight, row, hm0);
  }
  // Td_Slope: the newest sample's slope is 0 (its later samples are still to come); the sample
  // seven back now has all it needs.
  if (derivedChannels_.tidalSlope >= 0) {
    const int depth = TideDepthChannel(data_, derivedChannels_);
    const double minutes = TideSlopePeriodMinutes(p_);
    for (const int i : {row, row - 7}) {
      if (i < 0) continue;
      const float v =
          depth < 0
              ? kMissingValue
              : static_cast<float>(TideSlope(
                    std::span<const float>(data_.series[static_cast<size_t>(depth)].data(), n), i,
                    minutes));
      store(derivedChannels_.tidalSlope, i, v);
    }
  }
}

void RealTimeRun::StoreBurst(const RealTimeRecord& record) {
  // A "BST" record opens a burst, "SEQ" records continue it. The burst values are readings of
  // the logger's second channel (its pressure), as in the logger's memory.
  const int channel = measured_ > 1 ? 1 : 0;
  std::vector<double> values = record.values;
  if (values.empty())
    for (int32_t raw : record.raw)
      values.push_back(ChannelValue(data_, ApplyExtendedRange(data_, channel, raw), channel));
  if (record.tag == RecordTag::Burst) {
    burstValues.clear();
    burstMinimum = kDerivedMinimumStart;
    burstMaximum = kDerivedMaximumStart;
    burstLine = CFormat(
        "%s Wave burst values %d and %d: ", ShortDateDisplayText(record.time).c_str(), 1, 2);
  } else {
    burstLine = CFormat("Wave burst values %d and %d: ", record.sequence + 1, record.sequence + 2);
  }
  for (double v : values) {
    const float f = static_cast<float>(v);
    burstValues.push_back(f);
    burstMinimum = std::min(burstMinimum, f);
    burstMaximum = std::max(burstMaximum, f);
    burstLine += CFormat(" %9.4f", v);
  }
  ShowStatus(host_, burstLine);
  if (!bursts_) return;
  // The burst series: a "BST" record opens the next burst (completing the one before) with its
  // values in slots 0 and 1; a "SEQ" record's values go to its sequence number and the next.
  const auto row = static_cast<uint32_t>(data_.samplesPerChannel);
  int first = 0;
  if (record.tag == RecordTag::Burst) {
    int completed = -1;
    bursts_->Open(data_, record.time, row, completed);
    BurstComplete(completed);
  } else {
    first = record.sequence;
  }
  std::vector<float> floats(burstValues.end() - static_cast<std::ptrdiff_t>(values.size()),
                            burstValues.end());
  std::vector<int32_t> raw = record.raw;
  if (raw.size() < values.size()) {
    raw.clear();
    for (double v : values) raw.push_back(RawFromValue(measured_ > 1 ? 1 : 0, v));
  }
  BurstComplete(bursts_->Add(data_, first, floats.data(), raw.data(),
                             static_cast<int>(floats.size()), clock_.LocalTime(), row));
}

void RealTimeRun::BurstComplete(int burst) {
  if (burst < 0 || static_cast<size_t>(burst) >= data_.bursts.size()) return;
  // A burst that received nothing has nothing to keep in the file (its slots would be zeros).
  if (!textFile_ && file_.IsOpen() && bursts_->CompletedPresent() > 0)
    file_.AppendBurst(data_.bursts[static_cast<size_t>(burst)].time, bursts_->Raw());
  if (onBurst) onBurst(burst);
}

void RealTimeRun::ContinueFile() {
  const std::filesystem::path& first = firstFile_;
  const std::filesystem::path next =
      first.parent_path() /
      (first.stem().string() + CFormat("_%d", ++fileNumber_) + first.extension().string());
  file_.Close();
  if (!file_.Open(next, header_, !textFile_, preamble_)) return;  // the append reports it
  files_.data = next;
  ShowStatus(host_, "Real-time data continue in " + next.string());
}

}  // namespace klx
