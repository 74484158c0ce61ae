#include "files/mat_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>

#include "decoding/channel_types.h"
#include "files/dat_file.h"
#include "platform/mat_file.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {

using mat::Array;
using mat::ClassId;

namespace {

constexpr double kDatenum2000 = 730486.0;
constexpr size_t kTimeTextLength = 20;

// ---- Little-endian fields --------------------------------------------------------------------

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void PutTime(uint8_t* p, const SystemTime& t) {
  const uint16_t fields[8] = {t.year, t.month,  t.dayOfWeek, t.day,
                              t.hour, t.minute, t.second,    t.milliseconds};
  for (int i = 0; i < 8; ++i) PutU16(p + 2 * i, fields[i]);
}
SystemTime GetTime(const uint8_t* p) {
  SystemTime t;
  t.year = GetU16(p);
  t.month = GetU16(p + 2);
  t.dayOfWeek = GetU16(p + 4);
  t.day = GetU16(p + 6);
  t.hour = GetU16(p + 8);
  t.minute = GetU16(p + 10);
  t.second = GetU16(p + 12);
  t.milliseconds = GetU16(p + 14);
  return t;
}

bool IsLeap(int64_t year) {
  return year % 4 == 0;
}

}  // namespace

// ---- Times ------------------------------------------------------------------------------------

double MatDatenum(const SystemTime& t) {
  return kDatenum2000 + static_cast<double>(DayNumber(t)) +
         static_cast<double>(SecondsOfDay(t)) / 86400.0;
}

bool TimeFromMatDatenum(double datenum, SystemTime& out) {
  if (!std::isfinite(datenum) || datenum < kDatenum2000) return false;
  const double seconds = std::round((datenum - kDatenum2000) * 86400.0);
  // 8000 years of 365.25 days: beyond the year 9999.
  if (seconds >= 8000.0 * 365.25 * 86400.0) return false;
  const auto total = static_cast<int64_t>(seconds);
  int64_t days = total / 86400;
  const int64_t sod = total % 86400;
  // Four-year cycles of 1461 days, each starting with a leap year.
  int64_t year = 2000 + 4 * (days / 1461);
  days %= 1461;
  while (days >= (IsLeap(year) ? 366 : 365)) {
    days -= IsLeap(year) ? 366 : 365;
    ++year;
  }
  const int* before = IsLeap(year) ? kDaysBeforeMonthLeap : kDaysBeforeMonth;
  int month = 12;
  while (month > 1 && days < before[month - 1]) --month;
  SystemTime t = MakeSystemTime(
      static_cast<int>(year), month, static_cast<int>(days - before[month - 1] + 1),
      static_cast<int>(sod / 3600), static_cast<int>(sod / 60 % 60), static_cast<int>(sod % 60));
  SetDayOfWeek(t);
  out = t;
  return true;
}

std::string MatTimeText(const SystemTime& t) {
  std::string text = CFormat("%02d-%s-%04d %02d:%02d:%02d", t.day, MonthName(t.month), t.year,
                             t.hour, t.minute, t.second);
  text.resize(kTimeTextLength, ' ');
  return text;
}

bool TimeFromMatText(const std::string& text, SystemTime& out) {
  std::string_view rest(text);
  size_t used = 0;
  const auto day = LeadingInt(rest, &used);
  if (!day || used >= rest.size() || rest[used] != '-') return false;
  rest.remove_prefix(used + 1);
  int month = 0;
  for (int m = 1; m <= 12; ++m)
    if (rest.substr(0, 3) == kMonthNames[m]) month = m;
  if (month == 0 || rest.size() < 4 || rest[3] != '-') return false;
  rest.remove_prefix(4);
  const auto year = LeadingInt(rest, &used);
  if (!year) return false;
  rest.remove_prefix(used);
  int hms[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (rest.empty() || rest[0] != ':') return false;
      rest.remove_prefix(1);
    }
    const auto v = LeadingInt(rest, &used);
    if (!v) return false;
    hms[i] = *v;
    rest.remove_prefix(used);
  }
  if (*day < 1 || *day > 31 || *year < 0 || *year > 9999 || hms[0] < 0 || hms[0] > 23 ||
      hms[1] < 0 || hms[1] > 59 || hms[2] < 0 || hms[2] > 59)
    return false;
  SystemTime t = MakeSystemTime(*year, month, *day, hms[0], hms[1], hms[2]);
  SetDayOfWeek(t);
  out = t;
  return true;
}

// ---- Stamp records ------------------------------------------------------------------------------

std::vector<uint8_t> StampRecordImage(const std::vector<StampRecord>& records) {
  std::vector<uint8_t> image(records.size() * kStampRecordBytes, 0);
  for (size_t i = 0; i < records.size(); ++i) {
    const StampRecord& r = records[i];
    uint8_t* p = image.data() + i * kStampRecordBytes;
    PutU32(p, r.sampleIndex);
    PutU32(p + 4, r.type);
    PutU32(p + 8, static_cast<uint32_t>(r.markerClass));
    PutU32(p + 12, r.burstNumber);
    PutTime(p + 16, r.time);
    for (size_t g = 0; g < r.gain.size(); ++g) PutU32(p + 32 + 4 * g, r.gain[g]);
    PutU32(p + 128, r.changedMask);
  }
  return image;
}

std::vector<StampRecord> StampRecordsFromImage(const uint8_t* bytes, size_t size, size_t elements) {
  std::vector<StampRecord> records;
  if (bytes == nullptr) return records;
  // The layout: the year of the first record (132-byte layout, byte 16) below 2000 means 36-byte
  // records; else the year of the second record (byte 148) below 2000 means 32-byte records.
  // A file of one 132-byte record holds only zeros at byte 148, so that test needs a second
  // record (any element count other than exactly one record's).
  size_t recordBytes = kStampRecordBytes;
  size_t timeAt = 16;
  if (elements > 32 && size >= 18 && GetU16(bytes + 16) < 2000) {
    recordBytes = kOldStampRecordBytes36;
    timeAt = 20;
  } else if (elements > 32 && elements != kStampRecordBytes && size >= 150 &&
             GetU16(bytes + 148) < 2000) {
    recordBytes = kOldStampRecordBytes32;
  }
  size_t count = std::min(elements / recordBytes, TimestampTable::kCapacity);
  count = std::min(count, size / recordBytes);
  records.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = bytes + i * recordBytes;
    StampRecord r;
    r.sampleIndex = GetU32(p);
    r.type = GetU32(p + 4);
    r.markerClass = static_cast<int32_t>(GetU32(p + 8));
    r.burstNumber = GetU32(p + 12);
    r.time = GetTime(p + timeAt);
    if (recordBytes == kStampRecordBytes) {
      for (size_t g = 0; g < r.gain.size(); ++g) r.gain[g] = GetU32(p + 32 + 4 * g);
      r.changedMask = GetU32(p + 128);
    }
    records.push_back(r);
  }
  return records;
}

// ---- Writing ------------------------------------------------------------------------------------

namespace {

// The first blank-separated word of a channel's short name ("Temp", "Pres", "SoS").
std::string ChannelWord(int row) {
  const std::string_view shortName(kChannelTypeTable[row].code + 1, 10);
  const size_t begin = shortName.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  const size_t end = shortName.find(' ', begin);
  return std::string(shortName.substr(begin, end == std::string_view::npos ? end : end - begin));
}

// A temporary name of our own beside the target, created empty (matio then rewrites it).
std::string MakeTemporary(const std::filesystem::path& path) {
  RemoveStaleTemporaries(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp =
        path.string() + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(attempt);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return temp;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

// The writer of one file: every step answers with the message of its failure (empty: done).
class MatWriter {
 public:
  MatWriter(mat::File& file, const HeldData& held, const MatWriteOptions& options)
      : file_(file), held_(held), options_(options) {}

  std::string Write();

 private:
  std::string Put(const char* name, const Array& array, const char* createError,
                  const char* putError) {
    if (!array) return createError;
    if (mat::matPutVariable(file_, name, array) != 0) return putError;
    return {};
  }
  std::string PutScalar(const char* name, float value, const char* createError,
                        const char* putError) {
    Array a = mat::mxCreateNumericArray(1, 1, ClassId::kSingle);
    if (a) *static_cast<float*>(mat::mxGetData(a)) = value;
    return Put(name, a, createError, putError);
  }
  // A text matrix of rows × 20 characters, one time per row.
  std::string PutTimeTexts(const char* name, const std::vector<SystemTime>& times, bool waves);
  std::vector<SystemTime> RowTimes(size_t rows) const;

  mat::File& file_;
  const HeldData& held_;
  const MatWriteOptions& options_;
};

std::vector<SystemTime> MatWriter::RowTimes(size_t rows) const {
  const DeploymentParameters& p = held_.image.snapshot.parameters;
  std::vector<SystemTime> times;
  times.reserve(rows);
  if (rows == 1) {
    times.push_back(p.startTime);
    return times;
  }
  // The dat rows' rule: stamps restart the time base, whole seconds of a running offset.
  DatRowClock clock(p.startTime, RowPeriodSeconds(p));
  const auto& stamps = held_.data.stamps.records;
  size_t k = 0;
  for (size_t row = 0; row < rows; ++row) {
    while (k < stamps.size() && stamps[k].sampleIndex <= row) {
      if (stamps[k].sampleIndex == row) clock.Restart(stamps[k].time);
      ++k;
    }
    times.push_back(clock.RowTime());
    clock.Advance();
  }
  return times;
}

std::string MatWriter::PutTimeTexts(const char* name, const std::vector<SystemTime>& times,
                                    bool waves) {
  const size_t rows = times.size();
  std::string buffer;
  try {
    buffer.resize(rows * kTimeTextLength);
  } catch (const std::bad_alloc&) {
    return waves ? "Error: Unable to allocate time data memory for waves"
                 : "Error: Unable to allocate time data memory";
  }
  for (size_t r = 0; r < rows; ++r)
    std::memcpy(buffer.data() + r * kTimeTextLength, MatTimeText(times[r]).data(), kTimeTextLength);
  Array a = mat::mxCreateCharArray(rows, kTimeTextLength);
  if (a && rows > 0) {
    auto* data = static_cast<char*>(mat::mxGetData(a));
    for (size_t r = 0; r < rows; ++r)
      for (size_t c = 0; c < kTimeTextLength; ++c)
        data[c * rows + r] = buffer[r * kTimeTextLength + c];
  }
  if (waves)
    return Put(name, a, "Unable to create string mxArray for logger wave times\n",
               "Error using matPutVariable for logger wave times");
  return Put(name, a, "Unable to create string mxArray for logger times\n",
             "Error using matPutVariable for logger times");
}

std::string MatWriter::Write() {
  const DataSet& data = held_.data;
  const LoggerState& logger = data.logger;
  const DeploymentParameters& p = held_.image.snapshot.parameters;
  const size_t n = data.samplesPerChannel > 0 ? static_cast<size_t>(data.samplesPerChannel) : 0;
  // The logger's channels: derived ones are computed again when the file is read.
  const size_t k =
      static_cast<size_t>(std::clamp(logger.channelCount, 0, static_cast<int>(data.series.size())));
  std::string error;

  {
    Array a = mat::mxCreateString(
        CFormat("KLX %s %5.2f %06d", logger.model.c_str(), logger.firmware, logger.serial));
    error = Put("loggername", a, "Unable to create string mxArray for logger name",
                "Error using matPutVariable for logger name");
    if (!error.empty()) return error;
  }
  {
    Array a = mat::mxCreateNumericArray(n, k, ClassId::kSingle);
    if (a && n * k > 0) {
      auto* out = static_cast<float*>(mat::mxGetData(a));
      for (size_t ch = 0; ch < k; ++ch) {
        const auto& s = data.series[ch];
        const size_t have = std::min(n, s.size());
        std::copy(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(have), out + ch * n);
        std::fill(out + ch * n + have, out + (ch + 1) * n, kMissingValue);
      }
    }
    error = Put("loggerdata", a, "Unable to create numeric mxArray for logger data",
                "Error using matPutVariable for logger data");
    if (!error.empty()) return error;
  }
  {
    std::vector<std::string> names;
    for (size_t ch = 0; ch < k; ++ch)
      names.push_back(
          ChannelWord(static_cast<int>(ch) < logger.channelCount || ch >= logger.channelTypes.size()
                          ? TypeRowOfChannel(logger, static_cast<int>(ch))
                          : TypeRowOfLetter(logger.channelTypes[ch])));
    Array a = mat::mxCreateCharMatrixFromStrings(names);
    error =
        Put("loggerchannelnames", a, "Unable to create string mxArray for logger channel names\n",
            "Error using matPutVariable for logger channel names");
    if (!error.empty()) return error;
  }
  {
    const float period =
        p.profiling6Hz
            ? 0.16666667f
            : static_cast<float>((p.samplePeriod.hours * 60.0 + p.samplePeriod.minutes) * 60.0 +
                                 p.samplePeriod.seconds);
    error = PutScalar("loggersampleperiod", period,
                      "Unable to create numeric mxArray for logger sample period",
                      "Error using matPutVariable for logger sample period");
    if (!error.empty()) return error;
  }
  error = PutScalar("loggeraveragingperiod",
                    p.averagingEnabled ? static_cast<float>(p.averagingSeconds) : 0.0f,
                    "Unable to create numeric mxArray for logger averaging period",
                    "Error using matPutVariable for logger averaging period");
  if (!error.empty()) return error;
  {
    const size_t rows = options_.timeFrequency == kMatTimePerRow ? n : 1;
    std::vector<SystemTime> times;
    try {
      times = RowTimes(rows);
    } catch (const std::bad_alloc&) {
      return options_.timeFormat == kMatTimeDatenum
                 ? "Unable to create double mxArray for logger times\n"
                 : "Error: Unable to allocate time data memory";
    }
    if (options_.timeFormat == kMatTimeDatenum) {
      Array a = mat::mxCreateNumericArray(1, rows, ClassId::kDouble);
      if (a && rows > 0) {
        double* out = mat::mxGetPr(a);
        for (size_t r = 0; r < rows; ++r) out[r] = MatDatenum(times[r]);
      }
      error = Put("loggertimes", a, "Unable to create double mxArray for logger times\n",
                  "Error using matPutVariable for logger times");
    } else {
      error = PutTimeTexts("loggertimes", times, false);
    }
    if (!error.empty()) return error;
  }
  if (logger.waves && !data.bursts.empty()) {
    error = PutScalar("loggerwaverate", static_cast<float>(p.waveRateHz),
                      "Unable to create numeric mxArray for wave rate",
                      "Error using matPutVariable for wave rate");
    if (!error.empty()) return error;
    error = PutScalar("loggerheight", static_cast<float>(p.loggerHeight),
                      "Unable to create numeric mxArray for logger height",
                      "Error using matPutVariable for logger height");
    if (!error.empty()) return error;
    const size_t b = data.bursts.size();
    size_t length = p.burstLength > 0 ? static_cast<size_t>(p.burstLength) : 0;
    for (const auto& burst : data.bursts) length = std::max(length, burst.samples.size());
    // Column j of an L × B matrix from one series per burst; missing samples are marked.
    auto columns = [&](auto seriesOf) {
      Array a = mat::mxCreateNumericArray(length, b, ClassId::kSingle);
      if (a && length * b > 0) {
        auto* out = static_cast<float*>(mat::mxGetData(a));
        std::fill(out, out + length * b, kMissingValue);
        for (size_t j = 0; j < b; ++j) {
          const std::vector<float>* s = seriesOf(j);
          if (s != nullptr)
            std::copy(s->begin(),
                      s->begin() + static_cast<std::ptrdiff_t>(std::min(length, s->size())),
                      out + j * length);
        }
      }
      return a;
    };
    error =
        Put("loggerwavedata",
            columns([&](size_t j) -> const std::vector<float>* { return &data.bursts[j].samples; }),
            "Unable to create numeric mxArray for wave data",
            "Error using matPutVariable for wave data");
    if (!error.empty()) return error;
    // The surface series the caller gives, else each burst's own from the wave analysis.
    error = Put("loggerwavedatasurface", columns([&](size_t j) -> const std::vector<float>* {
                  if (j < options_.waveSurface.size()) return &options_.waveSurface[j];
                  return data.bursts[j].surface.empty() ? nullptr : &data.bursts[j].surface;
                }),
                "Unable to create numeric mxArray for wave data at surface",
                "Error using matPutVariable for wave data at surface");
    if (!error.empty()) return error;
    std::vector<SystemTime> times;
    try {
      times.reserve(b);
    } catch (const std::bad_alloc&) {
      return "Error: Unable to allocate time data memory pointer for waves";
    }
    for (const auto& burst : data.bursts) times.push_back(burst.time);
    error = PutTimeTexts("loggerwavetimes", times, true);
    if (!error.empty()) return error;
  }
  {
    const auto& records = data.stamps.records;
    const size_t count = std::min(records.size(), TimestampTable::kCapacity);
    const std::vector<uint8_t> image =
        StampRecordImage(std::vector<StampRecord>(records.begin(), records.begin() + count));
    Array a = mat::mxCreateNumericArray(1, image.size(), ClassId::kUInt32);
    if (a && !image.empty()) std::memcpy(mat::mxGetData(a), image.data(), image.size());
    error = Put("loggerprivate", a, "Unable to create numeric mxArray for logger private data",
                "Error using matPutVariable for logger private data");
    if (!error.empty()) return error;
  }
  return {};
}

}  // namespace

std::string WriteMatFile(const std::filesystem::path& path, const HeldData& held,
                         const MatWriteOptions& options) {
  const std::string unableToOpen = "Unable to open file: " + path.string();
  const std::string temp = MakeTemporary(path);
  if (temp.empty()) return unableToOpen;
  mat::File file = mat::matOpen(temp, "wL");
  if (!file) {
    ::unlink(temp.c_str());
    return unableToOpen;
  }
  std::string error;
  try {
    MatWriter writer(file, held, options);
    error = writer.Write();
  } catch (const std::bad_alloc&) {
    error = "Error: Unable to allocate time data memory";
  }
  bool closed = mat::matClose(file) == 0;
  if (closed && error.empty()) {
    // On the disk before it takes the place of the old file.
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    closed = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
  }
  if (error.empty() && !closed) error = "Unable to write file: " + path.string();
  if (error.empty() && ::rename(temp.c_str(), path.c_str()) != 0)
    error = "Unable to write file: " + path.string();
  if (!error.empty()) ::unlink(temp.c_str());
  return error;
}

bool SaveMatFile(Host& host, MatSaveRequest& request, const HeldData& held) {
  const LoggerState& logger = held.data.logger;
  if (held.data.Empty() || held.data.series.empty()) {
    ShowStatus(host, "Unable to save a MATLAB file: no data are held");
    return false;
  }
  if (files::StoresAsciiData(logger, held.cards)) {
    host.Tell("Save MATLAB file",
              "These ASCII data from a generic front end can not be saved in the MATLAB format.",
              BoxIcon::Warning);
    return false;
  }
  FileChoice choice;
  choice.save = true;
  choice.title = "Select a 'mat' file for storing the data";
  choice.filter = "MATLAB Files (*.mat)";
  choice.suggestedName = CFormat("%06d*.mat", logger.serial);
  choice.initialDirectory = FolderOrDefault(request.directories ? request.directories->mat : "",
                                            request.programDirectory, "mat")
                                .string();
  const auto chosen = host.ChooseFile(choice);
  if (!chosen) return false;
  std::filesystem::path file = *chosen;
  if (!file.has_extension()) file += ".mat";
  if (!MayOverwrite(host, "Write File", file.string())) return false;
  if (request.directories != nullptr) request.directories->mat = file.parent_path().string();
  const std::string error = WriteMatFile(file, held, request.options);
  if (!error.empty()) {
    ShowStatus(host, error);
    return false;
  }
  request.chosen = file;
  return true;
}

// ---- Reading ------------------------------------------------------------------------------------

namespace {

// The values of a single or double array as floats; false for any other class.
bool NumericValues(const Array& a, std::vector<float>& out) {
  const size_t n = mat::mxGetNumberOfElements(a);
  const ClassId c = mat::mxGetClassID(a);
  if (c == ClassId::kSingle) {
    const auto* p = static_cast<const float*>(mat::mxGetData(a));
    out.assign(p, p + n);
    return true;
  }
  if (c == ClassId::kDouble) {
    const double* p = mat::mxGetPr(a);
    out.resize(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(p[i]);
    return true;
  }
  return false;
}

// A 1 × 1 single or double, finite.
bool ScalarValue(const Array& a, double& value) {
  if (mat::mxGetNumberOfElements(a) != 1) return false;
  const ClassId c = mat::mxGetClassID(a);
  if (c == ClassId::kSingle)
    value = *static_cast<const float*>(mat::mxGetData(a));
  else if (c == ClassId::kDouble)
    value = *mat::mxGetPr(a);
  else
    return false;
  return std::isfinite(value);
}

// Row r of a char matrix, trailing blanks removed.
std::string CharRow(const std::string& chars, size_t rows, size_t columns, size_t r) {
  std::string row;
  for (size_t c = 0; c < columns; ++c) row += chars[c * rows + r];
  const size_t end = row.find_last_not_of(' ');
  row.erase(end == std::string::npos ? 0 : end + 1);
  return row;
}

// The letter of the first table row whose short name contains the name; 0 when none does.
uint8_t LetterOfName(const std::string& name) {
  if (name.empty()) return 0;
  for (int row = 0; row < kChannelTypeCount; ++row) {
    const std::string_view shortName(kChannelTypeTable[row].code + 1, 10);
    if (shortName.find(name) != std::string_view::npos) return kChannelTypeTable[row].Letter();
  }
  return 0;
}

struct MatReader {
  mat::File& file;
  HeldData& fresh;
  int& foundTimeFormat;
  std::vector<std::vector<float>>& waveSurface;
  std::vector<std::string> dir;
  size_t n = 0;
  size_t k = 0;

  bool Has(const char* name) const { return std::find(dir.begin(), dir.end(), name) != dir.end(); }
  // The variable, or null when it is absent from the file or cannot be read.
  Array Get(const char* name) { return mat::matGetVariable(file, name); }

  bool ReadName(const Array& a);
  bool ReadData(const Array& a);
  bool ReadChannelNames(const Array& a);
  bool ReadSamplePeriod(const Array& a);
  bool ReadAveraging(const Array& a);
  bool ReadTimes(const Array& a);
  bool ReadWaveData(const Array& a, std::vector<std::vector<float>>& columns);
  bool ReadWaveTimes(const Array& a);
  bool ReadPrivate(const Array& a);
};

bool MatReader::ReadName(const Array& a) {
  if (mat::mxGetClassID(a) != ClassId::kChar) return false;
  char buffer[101];
  mat::mxGetString(a, buffer, sizeof buffer);
  const std::string_view text(buffer);
  const size_t maker = text.find("KLX");
  if (maker == std::string_view::npos) return false;
  std::string_view rest = text.substr(maker + 3);
  rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(' ')));
  const size_t end = std::min(rest.size(), rest.find(' '));
  LoggerState& logger = fresh.data.logger;
  if (end > 0) logger.model = std::string(rest.substr(0, end));
  rest.remove_prefix(end);
  size_t used = 0;
  if (const auto fw = LeadingDouble(rest, &used)) {
    logger.firmware = static_cast<float>(*fw);
    rest.remove_prefix(used);
    if (const auto serial = LeadingInt(rest)) logger.serial = *serial;
  }
  logger.extendedCommandSet = logger.firmware > 4.99f;
  return true;
}

bool MatReader::ReadData(const Array& a) {
  const auto dims = mat::mxGetDimensions(a);
  if (dims[1] > static_cast<size_t>(LoggerState::kMaxChannels) ||
      dims[0] > static_cast<size_t>(MemoryImage::kCapacity))
    return false;
  std::vector<float> values;
  if (!NumericValues(a, values)) return false;
  n = dims[0];
  k = dims[1];
  DataSet& data = fresh.data;
  data.series.assign(k, {});
  for (size_t ch = 0; ch < k; ++ch) {
    auto& s = data.series[ch];
    s.reserve(n + 2);
    float minimum = data.rawMode ? 0.0f : 300.0f;
    float maximum = data.rawMode ? 1.0f : -300.0f;
    for (size_t r = 0; r < n; ++r) {
      const float v = values[ch * n + r];
      s.push_back(v);
      if (v >= -999.0f) {
        minimum = std::min(minimum, v);
        maximum = std::max(maximum, v);
      }
    }
    s.push_back(minimum);
    s.push_back(maximum);
  }
  data.samplesPerChannel = static_cast<int>(n);
  data.channelCount = static_cast<int>(k);
  data.logger.channelCount = static_cast<int>(k);
  data.logger.channelTypes.assign(k, 'U');
  return true;
}

bool MatReader::ReadChannelNames(const Array& a) {
  if (mat::mxGetClassID(a) != ClassId::kChar) return false;
  const auto dims = mat::mxGetDimensions(a);
  if (k == 0) return true;
  if (dims[0] != k) return false;
  // Every name is read whole: a 100-character buffer would lose the later channels of a logger
  // with many channels.
  const std::string chars = mat::mxGetChars(a);
  std::string& letters = fresh.data.logger.channelTypes;
  for (size_t ch = 0; ch < k; ++ch) {
    std::string name = CharRow(chars, dims[0], dims[1], ch);
    name.erase(0, std::min(name.size(), name.find_first_not_of(' ')));
    if (const uint8_t letter = LetterOfName(name)) letters[ch] = static_cast<char>(letter);
  }
  return true;
}

bool MatReader::ReadSamplePeriod(const Array& a) {
  double v = 0.0;
  if (!ScalarValue(a, v) || v > 65535.0 * 3600.0) return false;
  DeploymentParameters& p = fresh.image.snapshot.parameters;
  // The writer gives 6 Hz profiling as 1/6 s; older files as a negative value.
  if (v < 0.0 || (v > 0.0 && v < 1.0)) {
    p.profiling6Hz = true;
    p.samplePeriod = Period{0, 0, 10};
    return true;
  }
  const auto whole = static_cast<int64_t>(v);
  p.profiling6Hz = false;
  p.samplePeriod.seconds = static_cast<uint16_t>(whole % 60);
  p.samplePeriod.minutes = static_cast<uint16_t>(whole / 60 % 60);
  p.samplePeriod.hours = static_cast<uint16_t>(whole / 3600);
  return true;
}

bool MatReader::ReadAveraging(const Array& a) {
  double v = 0.0;
  if (!ScalarValue(a, v) || v < 0.0 || v > 4294967295.0) return false;
  DeploymentParameters& p = fresh.image.snapshot.parameters;
  p.averagingEnabled = v != 0.0;
  p.averagingSeconds = p.averagingEnabled ? static_cast<uint32_t>(v) : 0;
  return true;
}

bool MatReader::ReadTimes(const Array& a) {
  SystemTime start;
  const ClassId c = mat::mxGetClassID(a);
  // The class tells the form: a per-row datenum of exactly 20 rows is as 1 × 20 as a text.
  if (c == ClassId::kChar) {
    const auto dims = mat::mxGetDimensions(a);
    if (dims[0] == 0 || dims[1] < kTimeTextLength) return false;
    if (!TimeFromMatText(CharRow(mat::mxGetChars(a), dims[0], dims[1], 0), start)) return false;
    foundTimeFormat = kMatTimeText;
  } else if (c == ClassId::kDouble || c == ClassId::kSingle) {
    if (mat::mxGetNumberOfElements(a) == 0) return false;
    const double first =
        c == ClassId::kDouble ? *mat::mxGetPr(a) : *static_cast<const float*>(mat::mxGetData(a));
    if (!TimeFromMatDatenum(first, start)) return false;
    foundTimeFormat = kMatTimeDatenum;
  } else {
    return false;
  }
  fresh.image.snapshot.parameters.startTime = start;
  return true;
}

bool MatReader::ReadWaveData(const Array& a, std::vector<std::vector<float>>& columns) {
  const auto dims = mat::mxGetDimensions(a);
  std::vector<float> values;
  if (!NumericValues(a, values)) return false;
  // Bursts of no samples, or a surface the values do not fill, are a damaged file (an empty
  // burst count with a huge column count would otherwise allocate that many columns).
  if ((dims[0] == 0 && dims[1] != 0) || values.size() != dims[0] * dims[1])
    return false;
  columns.assign(dims[1], {});
  for (size_t j = 0; j < dims[1]; ++j) {
    auto& s = columns[j];
    s.assign(values.begin() + static_cast<std::ptrdiff_t>(j * dims[0]),
             values.begin() + static_cast<std::ptrdiff_t>((j + 1) * dims[0]));
    // A burst cut short was padded with the missing-value marker.
    while (!s.empty() && s.back() == kMissingValue) s.pop_back();
  }
  fresh.image.snapshot.parameters.burstLength = static_cast<int>(dims[0]);
  return true;
}

bool MatReader::ReadWaveTimes(const Array& a) {
  if (mat::mxGetClassID(a) != ClassId::kChar) return false;
  const auto dims = mat::mxGetDimensions(a);
  const std::string chars = mat::mxGetChars(a);
  auto& bursts = fresh.data.bursts;
  for (size_t j = 0; j < dims[0] && j < bursts.size(); ++j) {
    SystemTime t;
    if (TimeFromMatText(CharRow(chars, dims[0], dims[1], j), t)) bursts[j].time = t;
  }
  return true;
}

bool MatReader::ReadPrivate(const Array& a) {
  if (mat::mxGetClassID(a) != ClassId::kUInt32) return false;
  const size_t elements = mat::mxGetNumberOfElements(a);
  fresh.data.stamps.records =
      StampRecordsFromImage(static_cast<const uint8_t*>(mat::mxGetData(a)), elements * 4, elements);
  return true;
}

}  // namespace

std::string ReadMatFileInto(const std::filesystem::path& path, HeldData& fresh,
                            int& foundTimeFormat, std::vector<std::vector<float>>& waveSurface) {
  mat::File file = mat::matOpen(path.string(), "r");
  if (!file) return kMatReadError;
  MatReader reader{file, fresh, foundTimeFormat, waveSurface, {}, 0, 0};
  reader.dir = mat::matGetDir(file);
  fresh.data.logger.model = "Unknown";
  DeploymentParameters& p = fresh.image.snapshot.parameters;

  // The variables every file of ours holds; the rest are read when present.
  for (const char* name : {"loggername", "loggerdata", "loggerchannelnames", "loggersampleperiod",
                           "loggeraveragingperiod", "loggertimes", "loggerprivate"})
    if (!reader.Has(name)) return kMatReadError;

  struct Step {
    const char* name;
    std::function<bool(const Array&)> read;
  };
  std::vector<std::vector<float>> waveData;
  std::vector<std::vector<float>> surface;
  const Step steps[] = {
      {"loggername", [&](const Array& a) { return reader.ReadName(a); }},
      {"loggerdata", [&](const Array& a) { return reader.ReadData(a); }},
      {"loggerchannelnames", [&](const Array& a) { return reader.ReadChannelNames(a); }},
      {"loggersampleperiod", [&](const Array& a) { return reader.ReadSamplePeriod(a); }},
      {"loggeraveragingperiod", [&](const Array& a) { return reader.ReadAveraging(a); }},
      {"loggertimes", [&](const Array& a) { return reader.ReadTimes(a); }},
      {"loggerwaverate",
       [&](const Array& a) {
         double v = 0.0;
         if (!ScalarValue(a, v) || v < 0.0 || v > 1.0e6) return false;
         p.waveRateHz = static_cast<int>(v);
         return true;
       }},
      {"loggerheight",
       [&](const Array& a) {
         double v = 0.0;
         if (!ScalarValue(a, v)) return false;
         p.loggerHeight = v;
         return true;
       }},
      {"loggerwavedatasurface", [&](const Array& a) { return reader.ReadWaveData(a, surface); }},
      {"loggerwavedata", [&](const Array& a) { return reader.ReadWaveData(a, waveData); }},
      {"loggerprivate", [&](const Array& a) { return reader.ReadPrivate(a); }},
  };
  for (const Step& step : steps) {
    if (!reader.Has(step.name)) continue;
    const Array a = reader.Get(step.name);
    if (!a || !step.read(a)) return kMatReadError;
  }
  if (!waveData.empty()) {
    fresh.data.logger.waves = true;
    p.waveEnabled = true;
    for (size_t j = 0; j < waveData.size(); ++j) {
      BurstSeries burst;
      burst.samples = std::move(waveData[j]);
      if (j < surface.size()) burst.surface = surface[j];  // as the wave analysis left it
      fresh.data.bursts.push_back(std::move(burst));
    }
    if (reader.Has("loggerwavetimes")) {
      const Array a = reader.Get("loggerwavetimes");
      if (!a || !reader.ReadWaveTimes(a)) return kMatReadError;
    }
    // Each burst's time from the burst stamps of the table, in table order.
    size_t next = 0;
    const auto& records = fresh.data.stamps.records;
    for (auto& burst : fresh.data.bursts) {
      while (next < records.size() && records[next].type != kStampBurst) ++next;
      if (next >= records.size()) break;
      burst.time = records[next++].time;
    }
  }
  if (reader.n == 0 || reader.k == 0) return kMatNoDisplayableData;
  fresh.image.fill = 0;
  fresh.image.sampleWords = 0;
  fresh.image.unsaved = false;
  fresh.image.hasSnapshot = true;
  fresh.file = path;
  fresh.fromFile = true;
  waveSurface = std::move(surface);
  return {};
}

bool ReadMatFile(Host& host, MatReadRequest& request, HeldData& held) {
  std::filesystem::path file = request.file;
  if (file.empty()) {
    FileChoice choice;
    choice.title = "Select an existing 'mat' file to be opened";
    choice.filter = "MATLAB Files (*.mat)";
    choice.suggestedName =
        request.lastSerial >= 0 ? CFormat("%06d*.mat", request.lastSerial) : std::string("*.mat");
    choice.initialDirectory = FolderOrDefault(request.directories ? request.directories->mat : "",
                                              request.programDirectory, "mat")
                                  .string();
    const auto chosen = host.ChooseFile(choice);
    if (!chosen) return false;
    file = *chosen;
    if (request.directories != nullptr) request.directories->mat = file.parent_path().string();
  }
  HeldData fresh;
  int format = kMatTimeText;
  std::vector<std::vector<float>> surface;
  std::string error;
  try {
    error = ReadMatFileInto(file, fresh, format, surface);
  } catch (const std::bad_alloc&) {
    error = kMatReadError;
  }
  if (!error.empty()) {
    ShowStatus(host, error);
    return false;
  }
  if (request.afterRead) request.afterRead(fresh);
  held = std::move(fresh);
  request.foundTimeFormat = format;
  request.waveSurface = std::move(surface);
  ShowStatus(host, kMatReadSuccess);
  return true;
}

}  // namespace klx
