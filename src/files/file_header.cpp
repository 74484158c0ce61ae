#include "files/file_header.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "files/channel_text.h"
#include "shell/text_file.h"

namespace klx {
namespace files {

const char* const kStatusNames[9] = {
    "Not Enabled",          "Enabled",          "Logging",
    "Thresholding enabled", "Logging Complete", "Logging Suspended",
    "Profiling Active",     "Memory Error",     "Logging Stopped by User",
};

const char* const kStartModeNames[6] = {
    "Start of logging",   "Now", "Above threshold", "Below threshold", "Inside thresholds",
    "Outside thresholds",
};

bool IsNaFamily(const LoggerState& logger) {
  return logger.ModelHas("NA-");
}
bool IsDepthFamily(const LoggerState& logger) {
  return logger.ModelHas("NB") || logger.ModelHas("NMV");
}
bool IsLinearMemory(const LoggerState& logger) {
  return logger.extendedCommandSet || logger.firmware > 4.99f;
}
bool StoresAsciiData(const LoggerState& logger, const AccessoryCards& cards) {
  return (logger.genericCardVersion >= 1 || cards.genericSerial) && cards.ascii;
}
AccessoryCards ReportedCards(const LoggerState& logger) {
  const uint32_t w = logger.rsAdvancedWord;
  AccessoryCards cards;
  cards.reported = (w & (kRsAdvancedMemoryCard | kRsAdvancedGenericCard | kRsAdvancedBinary |
                         kRsAdvancedAscii)) != 0;
  cards.memoryCard = (w & kRsAdvancedMemoryCard) != 0;
  cards.genericSerial = (w & kRsAdvancedGenericCard) != 0;
  cards.binary = (w & kRsAdvancedBinary) != 0;
  cards.ascii = cards.genericSerial && (w & kRsAdvancedAscii) != 0;
  return cards;
}

int StampLayoutOf(const LoggerState& logger) {
  const float fw = logger.firmware;
  if (IsNaFamily(logger) && ((fw > 2.15f && fw < 3.0f) || fw > 3.15f)) return 1;
  if (IsDepthFamily(logger) && fw > 3.15f) return 1;
  for (const char* family : {"NMK", "NMJ", "VS", "PGW", "HL"})
    if (logger.ModelHas(family)) return 3;
  return 2;
}

}  // namespace files

using files::IsDepthFamily;
using files::IsLinearMemory;
using files::IsNaFamily;
using files::kStartModeNames;
using files::kStatusNames;
using files::StampLayoutOf;
using files::StoresAsciiData;

namespace {

std::string DateText(const SystemTime& t) {
  return CFormat("%02d/%02d/%02d %02d:%02d:%02d", t.year - 2000, t.month, t.day, t.hour, t.minute,
                 t.second);
}

std::string PeriodText(const Period& p) {
  return CFormat("%02d:%02d:%02d", p.hours, p.minutes, p.seconds);
}

std::string StampDate(const SystemTime& t) {
  return CFormat("%4d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                 t.second);
}

}  // namespace

const char* files::CalibrationUnit(const LoggerState& logger, uint8_t letter) {
  if (letter == 'T' || IsNaFamily(logger)) return "Degrees_C";
  if (letter == 'P' || IsDepthFamily(logger)) return "deciBars";
  switch (letter) {
    case 'C':
    case 's':
      return logger.standardChannels ? "uS/cm" : "mS/cm";
    case 'D':
      return "percent";
    case 'V':
    case 'M':
      return "Volts";
    case 'Y':
    case 'y':
      return "NTU";
    case 'R':
      return "\xB5Mol.m-2.s-1";
    case 'H':
      return "pH_units";
    case 'F':
    case 'f':
    case 'G':
    case 'g':
    case 'Z':
    case 'z':
    case 'I':
    case 'i':
      return "ug/l";
    case 'L':
      return "deciBars";
    case 'K':
      return "percent";
    case 'J':
      return "\xB5Mol/l";
    case 'E':
    case 'A':
      return "m";
    case 'N':
      return "Transmittance";
    case 'B':
      return "Generic";
    default:
      return "Unknown";
  }
}

namespace {

uint8_t LetterOf(const std::string& letters, int ch) {
  return ch < static_cast<int>(letters.size()) ? static_cast<uint8_t>(letters[ch]) : 'U';
}

std::string ColumnTitle(uint8_t letter, int kind, const DerivedUnitSettings& derived,
                        bool& leaveOut) {
  leaveOut = false;
  if (kind != kDatHeader) return files::ShortNameOfLetter(letter);
  if (letter == 0x81) {
    leaveOut = true;
    return {};
  }
  // The units are chosen as the derived channels choose them: the Optode concentration in mg/l
  // when that is selected, else ml/l; the dissolved oxygen in µMol/l, else mg/l, else ml/l.
  if (letter == 0x83) return derived.optodeUnitMgPerL ? " dO2_mg/l " : " dO2_ml/l ";
  if (letter == 'X') {
    const char* unit = derived.doUnitUMol     ? "dO2\xB5Mol/l "
                       : derived.doUnitMgPerL ? " dO2_mg/l "
                                              : " dO2_ml/l ";
    return unit + files::ShortNameOfLetter(letter);
  }
  return files::ShortNameOfLetter(letter);
}

void WriteStampLines(std::string& out, const FileHeaderInputs& in, int kind) {
  const LoggerState& logger = in.data.logger;
  const auto& records = in.data.stamps.records;
  const auto& params = in.image.snapshot.parameters;
  const int layout = StampLayoutOf(logger);
  auto line = [&](const char* lead, const StampRecord& s, bool withType, int base) {
    out += CFormat("%s %s at sample %d", lead, StampDate(s.time).c_str(),
                   static_cast<int>(s.sampleIndex) + base);
    if (withType) out += CFormat(" of type: %s", files::StampName(s.type));
  };
  if (layout == 1) {
    for (const auto& s : records)
      if (s.type == kStampTime || s.type == kStampRtc || s.type == kStampBurst) {
        line("Timestamp", s, true, 1);
        out += '\n';
      }
    if (kind == kHexHeader) {
      for (const auto& s : records)
        if (s.type != kStampTime && s.type != kStampRtc) {
          line("Reset stamp", s, true, 1);
          out += '\n';
        }
      out += CFormat("Number of bytes in header %d\n", in.image.headerLength);
    }
    return;
  }
  if (layout == 3) {
    const uint32_t mode = params.startMode < 6 ? params.startMode : 0;
    out += CFormat("Logger start:%s ", kStartModeNames[mode]);
    if (mode == kStartAboveThreshold || mode == kStartBelowThreshold)
      out += CFormat("%9.4f channel %d", params.thresholdValue, params.thresholdChannel + 1);
    out += '\n';
    for (const auto& s : records) {
      if (s.type == kStampTime || s.type == kStampRtc) {
        line("Timestamp", s, true, 1);
        out += '\n';
      } else if (s.type == kStampGain) {
        line("Timestamp", s, true, 1);
        for (int ch = 0; ch < 24; ++ch) {
          if ((s.changedMask & (1u << ch)) == 0) continue;
          const uint8_t letter = LetterOf(logger.channelTypes, ch);
          out += CFormat(" channel=%d gain=%u (%s)", ch + 1, s.gain[ch],
                         files::GainRangeName(letter, s.gain[ch]).c_str());
        }
        out += '\n';
      }
    }
    if (kind == kHexHeader) {
      for (const auto& s : records)
        if (s.type != kStampTime && s.type != kStampRtc && s.type != kStampGain) {
          line("Reset stamp", s, true, 1);
          out += '\n';
        }
      // Every family of this layout records its header length: a linear-memory logger's
      // image cannot be decoded again without it.
      out += CFormat("Number of bytes in header %d\n", in.image.headerLength);
      out += "Extended data range: ";
      for (uint8_t b : in.data.extendedCapabilities) out += CFormat("%02X", b);
      out += '\n';
    }
    return;
  }
  for (const auto& s : records) {
    line("Timestamp", s, false, 0);
    out += '\n';
  }
}

}  // namespace

std::string WriteFileHeader(const FileHeaderInputs& in, int kind) {
  const DataSet& data = in.data;
  const LoggerState& logger = data.logger;
  const DeploymentSnapshot& snap = in.image.snapshot;
  const DeploymentParameters& params = snap.parameters;
  const int channels = logger.channelCount;
  std::string out;
  out.reserve(4096);

  const std::string identity =
      CFormat("KLX %s %5.2f %06d", logger.model.c_str(), logger.firmware, logger.serial);
  if (logger.minimumHostVersion > 0.0f)
    out += CFormat("%s (Windows: %s - Minimum required: %.2f)\n", identity.c_str(),
                   kSoftwareVersion, logger.minimumHostVersion);
  else
    out += CFormat("%s (Windows: %s)\n", identity.c_str(), kSoftwareVersion);
  out += "Host time     " + DateText(snap.hostTime) + "\n";
  out += "Logger time   " + DateText(snap.loggerTime) + "\n";
  out += "Logging start " + DateText(params.startTime) + "\n";
  out += "Logging end   " + DateText(params.endTime) + "\n";
  if (params.profiling6Hz)
    out += "Sample period          6Hz profiling\n";
  else
    out += "Sample period          " + PeriodText(params.samplePeriod) + "\n";
  const int status = snap.loggerStatus >= 0 && snap.loggerStatus < 9 ? snap.loggerStatus : 0;
  const int samples = in.samplesOverride >= 0 ? in.samplesOverride : data.samplesPerChannel;
  out += CFormat("Number of channels = %2d, ", channels);
  out += CFormat("number of samples = %6d, mode: %s\n", samples, kStatusNames[status]);
  static const char kLayoutLetters[3] = {'N', 'A', 'E'};
  out += CFormat("%c%02d%%9.4f\n", kLayoutLetters[static_cast<int>(in.layout) % 3], channels);

  bool engineering = false;
  for (int ch = 0; ch < channels && ch < CalibrationCoefficients::kMaxChannels; ++ch) {
    const auto& c = data.calibration.coef[ch];
    const uint8_t letter = LetterOf(logger.channelTypes, ch);
    if (letter == 'E' || letter == 'A') engineering = true;
    out += CFormat("Calibration %2d: %.15f\n", ch + 1, c[0]);
    out += CFormat("                %.15f\n", c[1]);
    out += CFormat("                %.15f\n", c[2]);
    out += CFormat("                %.15f %s\n", c[3], files::CalibrationUnit(logger, letter));
  }
  if (!logger.standardChannels) {
    const auto& k = data.calibration.conductivityCorrection;
    out += CFormat("Correction to conductivity: %.7e %.7e %.7e %.7e\n", k[0], k[1], k[2], k[3]);
  }
  if (!in.comment.empty()) out += "COMMENT: " + in.comment + "\n";
  if (engineering) out += CFormat("Engineering units level %u\n", logger.engineeringUnitsLevel);
  if (in.derived.depthOn) {
    out += CFormat("Atmospheric pressure %f dBar, water density %f, ",
                   in.derived.atmosphericPressure, in.derived.density);
    out += in.derived.depthSeawater ? "(Seawater calculation)\n" : "(Simplified calculation)\n";
    out += CFormat("Latitude %d degrees %.3f minutes\n", in.derived.latitudeDegrees,
                   in.derived.latitudeMinutes);
  }
  if (logger.memoryTypeCode >= 1 && logger.memoryTypeCode <= 6)
    out += CFormat("Memory type: %d %s\n", logger.memoryTypeCode,
                   MemoryTypeName(logger.memoryTypeCode));
  if (logger.averaging != 0) {
    if (params.averagingEnabled && params.averagingSeconds != 0)
      out += CFormat("Averaging: %u seconds\n", params.averagingSeconds);
    else
      out += "Averaging: NONE\n";
  }
  if ((logger.waves || logger.highSamplingRates) && params.waveRateHz != 0)
    out += CFormat("Wave burst sample rate: %dHz\n", params.waveRateHz);
  if (logger.waves && params.waveEnabled) {
    out += "Wave burst sampling period: " + PeriodText(params.burstInterval) + "\n";
    out += CFormat("Wave burst sample length:   %d\n", params.burstLength);
    out += CFormat("Logger height:   %.2f\n", params.loggerHeight);
  }
  if (kind != kHexHeader && kind != kDatHeader) {
    out += '\n';
    return out;
  }
  WriteStampLines(out, in, kind);
  if (in.cards.reported) {
    out += in.cards.memoryCard ? "MMC/SD Memory card present, " : "No MMC/SD Memory card, ";
    out += in.cards.genericSerial ? "Generic Serial card present, " : "No Generic Serial card, ";
    out += "Format: ";
    if (in.cards.ascii && in.cards.binary)
      out += "ASCII and Binary";
    else if (in.cards.binary)
      out += "Binary";
    else if (in.cards.ascii)
      out += "ASCII";
    else
      out += "None set";
    out += '\n';
  }
  if (logger.IsVS() || IsLinearMemory(logger)) {
    out += '\n';
    static const char* const kLeadIns[3] = {"", "         ", "                    "};
    out += kLeadIns[static_cast<int>(in.layout) % 3];
    const std::string& letters = in.columnTypes.empty() ? logger.channelTypes : in.columnTypes;
    const int columns = in.columnTypes.empty() ? channels : static_cast<int>(letters.size());
    for (int ch = 0; ch < columns; ++ch) {
      bool leaveOut = false;
      const std::string title = ColumnTitle(LetterOf(letters, ch), kind, in.derived, leaveOut);
      if (!leaveOut) out += title;
    }
  }
  out += '\n';
  return out;
}

// ---- Reading --------------------------------------------------------------------------------

bool LineSource::Next(std::string& line) {
  if (pos_ >= text_.size()) return false;
  size_t end = text_.find('\n', pos_);
  const size_t stop = end == std::string_view::npos ? text_.size() : end;
  size_t len = stop - pos_;
  if (len > 0 && text_[pos_ + len - 1] == '\r') --len;
  line.assign(text_.substr(pos_, len));
  pos_ = end == std::string_view::npos ? text_.size() : end + 1;
  return true;
}

namespace {

constexpr const char* kHeaderError = "Error while reading file header";

std::string_view From(std::string_view s, size_t column) {
  return column < s.size() ? s.substr(column) : std::string_view{};
}

std::optional<int> IntAt(std::string_view s, size_t column) {
  return LeadingInt(From(s, column));
}
std::optional<double> DoubleAt(std::string_view s, size_t column) {
  return LeadingDouble(From(s, column));
}

// Reads "a<sep>b<sep>c" of three integers (blanks before each number allowed).
bool ThreeInts(std::string_view s, char sep, int v[3]) {
  for (int i = 0; i < 3; ++i) {
    size_t used = 0;
    auto n = LeadingInt(s, &used);
    if (!n) return false;
    v[i] = *n;
    s = s.substr(used);
    if (i < 2) {
      if (s.empty() || s[0] != sep) return false;
      s = s.substr(1);
    }
  }
  return true;
}

bool ValidDate(int y, int mo, int d, int h, int mi, int s) {
  return y >= 1900 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h >= 0 && h < 24 &&
         mi >= 0 && mi < 60 && s >= 0 && s < 60;
}

// A date line: four-digit year (the line holds "200") or two-digit year.
bool ParseHeaderDate(std::string_view line, SystemTime& t) {
  int date[3], time[3];
  // A four-digit year shows as "yyyy/" from column 14 (looking for "200" in the line would
  // miss the years from 2010 on).
  const bool four = line.size() > 18 && line[18] == '/';
  if (!ThreeInts(From(line, 14), '/', date)) return false;
  if (!ThreeInts(From(line, four ? 25 : 23), ':', time)) return false;
  if (!four) date[0] += 2000;
  if (!ValidDate(date[0], date[1], date[2], time[0], time[1], time[2])) return false;
  t = MakeSystemTime(date[0], date[1], date[2], time[0], time[1], time[2]);
  return true;
}

// "yyyy/mm/dd hh:mm:ss" at the start of s.
bool ParseStampDate(std::string_view s, SystemTime& t) {
  int date[3], time[3];
  if (!ThreeInts(s, '/', date)) return false;
  const size_t blank = s.find(' ', s.find_first_not_of(' '));
  if (blank == std::string_view::npos || !ThreeInts(s.substr(blank), ':', time)) return false;
  if (!ValidDate(date[0], date[1], date[2], time[0], time[1], time[2])) return false;
  t = MakeSystemTime(date[0], date[1], date[2], time[0], time[1], time[2]);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A "Timestamp" line into a record; false when it cannot be read.
bool ParseStampLine(std::string_view line, StampRecord& s) {
  if (!ParseStampDate(From(line, 10), s.time)) return false;
  const size_t at = line.find("sample");
  if (at == std::string_view::npos) return false;
  auto sample = IntAt(line, at + 7);
  if (!sample || *sample < 1) return false;
  s.sampleIndex = static_cast<uint32_t>(*sample - 1);
  const int type = files::StampTypeOfText(line);
  s.type = type < 0 ? kStampTime : static_cast<uint32_t>(type);
  if (s.type == kStampGain) {
    size_t pos = 0;
    while ((pos = line.find("channel=", pos)) != std::string_view::npos) {
      auto ch = IntAt(line, pos + 8);
      const size_t g = line.find("gain=", pos);
      pos += 8;
      if (!ch || g == std::string_view::npos) continue;
      auto gain = IntAt(line, g + 5);
      if (!gain || *ch < 1 || *ch > 24 || *gain < 0) continue;
      s.gain[*ch - 1] = static_cast<uint32_t>(*gain);
      s.changedMask |= 1u << (*ch - 1);
    }
  }
  return true;
}

bool IsTitleLine(std::string_view line) {
  if (line.find("COMMENT") != std::string_view::npos) return false;
  if (line.find("Generic Serial") != std::string_view::npos) return false;
  for (const char* word :
       {"Temp", "Pres", "Volt", "Turb", "Cond", "D_O2", "PAR", "pH", "FlC", "FlR", "FlUV", "Paro",
        "Optd", "Vlt", "Trans", "Gain", "Depth", "Generic", "Unknown"})
    if (line.find(word) != std::string_view::npos) return true;
  return false;
}

enum class LineUse { Used, Unknown, Bad };

// The lines that follow the calibration lines, whatever the family.
LineUse ParseItemLine(const std::string& line, int kind, FileHeader& h) {
  auto has = [&](const char* key) { return line.find(key) != std::string::npos; };
  auto& p = h.snapshot.parameters;
  auto& logger = h.logger;
  if (line.rfind("COMMENT:", 0) == 0) {
    h.comment = std::string(From(line, 9));
    return LineUse::Used;
  }
  if (has("Timestamp")) {
    if (kind == kDatHeader) {
      StampRecord s;
      if (!ParseStampLine(line, s)) return LineUse::Bad;
      if (h.stamps.records.size() < TimestampTable::kCapacity)
        h.stamps.records.push_back(s);
      else
        h.stamps.overflowed = true;
    }
    return LineUse::Used;
  }
  if (has("Reset stamp") || has("Atmospheric") || has("Latitude")) return LineUse::Used;
  if (has("Engineering units level")) {
    auto v = IntAt(line, 23);
    if (!v || *v < 0) return LineUse::Bad;
    logger.engineeringUnitsLevel = static_cast<uint32_t>(*v);
    return LineUse::Used;
  }
  if (has("Averaging")) {
    logger.averaging = 1;
    const std::string_view word = From(line, 11);
    if (word.find("NONE") != std::string_view::npos) {
      p.averagingEnabled = false;
      p.averagingSeconds = 0;
    } else {
      auto v = LeadingInt(word);
      if (!v || *v < 0) return LineUse::Bad;
      p.averagingEnabled = *v > 0;
      p.averagingSeconds = static_cast<uint32_t>(*v);
    }
    return LineUse::Used;
  }
  if (has("Logger start")) {
    for (uint32_t m = 0; m < 6; ++m)
      if (has(kStartModeNames[m])) p.startMode = m;
    if (p.startMode == kStartAboveThreshold || p.startMode == kStartBelowThreshold) {
      const size_t t = line.find("threshold");
      const size_t c = line.find("channel");
      auto value = t == std::string::npos ? std::nullopt : DoubleAt(line, t + 10);
      auto channel = c == std::string::npos ? std::nullopt : IntAt(line, c + 7);
      if (!value || !channel || *channel < 1 || *channel > 24) return LineUse::Bad;
      p.thresholdValue = *value;
      p.thresholdChannel = *channel - 1;
    }
    return LineUse::Used;
  }
  if (has("Memory type")) {
    auto v = IntAt(line, 12);
    if (!v) return LineUse::Bad;
    logger.memoryTypeCode = *v >= 0 && *v <= 6 ? *v : 0;
    return LineUse::Used;
  }
  if (has("Number of bytes in header")) {
    auto v = IntAt(line, 25);
    if (!v || *v < 0 || *v > 4096) return LineUse::Bad;  // any parameter block length
    h.headerBytes = *v;
    logger.parameterBlockLength = *v;
    return LineUse::Used;
  }
  if (has("Wave burst sample rate:")) {
    auto v = IntAt(line, 23);
    if (!v || *v < 0) return LineUse::Bad;
    p.waveRateHz = *v;
    return LineUse::Used;
  }
  if (has("Wave burst sampling period:")) {
    int v[3];
    if (!ThreeInts(From(line, 27), ':', v) || v[0] < 0 || v[1] < 0 || v[2] < 0) return LineUse::Bad;
    p.burstInterval = Period{static_cast<uint16_t>(v[0]), static_cast<uint16_t>(v[1]),
                             static_cast<uint16_t>(v[2])};
    p.waveEnabled = true;
    // The line is written only for a logger that bursts: its memory image holds bursts (a
    // multi-channel logger's as well as a tide-and-wave recorder's).
    if (kind == kHexHeader) logger.waves = true;
    return LineUse::Used;
  }
  if (has("Wave burst sample length:")) {
    auto v = IntAt(line, 25);
    if (!v || *v < 0) return LineUse::Bad;
    p.burstLength = *v;
    return LineUse::Used;
  }
  if (has("Logger height:")) {
    auto v = DoubleAt(line, 15);
    if (!v) return LineUse::Bad;
    p.loggerHeight = *v;
    return LineUse::Used;
  }
  if (has("Extended data range:")) {
    const std::string_view hex = From(line, 21);
    if (hex.size() < 52) return LineUse::Bad;
    for (size_t i = 0; i < 26; ++i) {
      const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
      if (hi < 0 || lo < 0) return LineUse::Bad;
      h.extendedCapabilities[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return LineUse::Used;
  }
  if (has("MMC/SD")) {
    h.cards.reported = true;
    h.cards.memoryCard = has("MMC/SD Memory card present");
    h.cards.genericSerial = has("Generic Serial card present");
    h.cards.ascii = has("ASCII");
    h.cards.binary = has("ASCII and Binary") || (has("Binary") && !has("None set"));
    logger.genericCardVersion = h.cards.genericSerial ? 1 : 0;
    return LineUse::Used;
  }
  if (has("Correction to conductivity")) {
    std::string_view rest = From(line, 27);
    for (double& k : h.calibration.conductivityCorrection) {
      size_t used = 0;
      auto v = LeadingDouble(rest, &used);
      if (!v) return LineUse::Bad;
      k = *v;
      rest = rest.substr(used);
    }
    return LineUse::Used;
  }
  return LineUse::Unknown;
}

}  // namespace

FileError ReadFileHeader(std::string_view firstLine, LineSource& lines, int kind, FileHeader& h) {
  const FileError headerError{"Read File", kHeaderError};
  // Line 1: maker word, model, firmware, serial.
  char maker[64] = {}, model[64] = {};
  float firmware = 0.0f;
  int serial = 0;
  const std::string first(firstLine.substr(0, 200));
  if (std::sscanf(first.c_str(), "%63s %63s %f %d", maker, model, &firmware, &serial) != 4)
    return headerError;
  const std::string modelName = model;
  bool supported = false;
  for (const char* family :
       {"-7100", "VS-", "VSY-", "HL-240", "HL-250", "-7400", "-7160", "PGW-900"})
    if (modelName.find(family) != std::string::npos) supported = true;
  if (!supported)
    return {"Read File",
            CFormat("This file is for a logger of type %s.\nThis type of logger is not supported "
                    "by this software.",
                    model)};
  LoggerState& logger = h.logger;
  logger.ResetCapabilities();
  logger.model = modelName;
  logger.firmware = firmware;
  logger.serial = serial;
  logger.formatFlags = 0;
  h.cards = AccessoryCards{};
  h.cards.binary = true;
  if (const size_t at = first.find("Minimum required"); at != std::string::npos) {
    if (auto v = DoubleAt(first, at + 17)) logger.minimumHostVersion = static_cast<float>(*v);
  }
  logger.extendedCommandSet = firmware > 4.99f;
  if (kind == kHexHeader && logger.ModelHas("NMJ")) {
    logger.waves = true;
    logger.highSamplingRates = true;
  }

  std::string line;
  auto& snap = h.snapshot;
  auto& p = snap.parameters;
  // Lines 2 to 5: the times.
  SystemTime* times[4] = {&snap.hostTime, &snap.loggerTime, &p.startTime, &p.endTime};
  for (SystemTime* t : times)
    if (!lines.Next(line) || !ParseHeaderDate(line, *t)) return headerError;
  // Line 6: the period.
  if (!lines.Next(line)) return headerError;
  if (line.find("6Hz profiling") != std::string::npos) {
    p.profiling6Hz = true;
    p.samplePeriod = Period{0, 0, 1};
  } else {
    int v[3];
    if (!ThreeInts(From(line, 23), ':', v) || v[0] < 0 || v[1] < 0 || v[1] > 59 || v[2] < 0 ||
        v[2] > 59 || v[0] > 24)
      return headerError;
    p.profiling6Hz = false;
    p.samplePeriod = Period{static_cast<uint16_t>(v[0]), static_cast<uint16_t>(v[1]),
                            static_cast<uint16_t>(v[2])};
  }
  // Line 7: channels, samples, status.
  if (!lines.Next(line)) return headerError;
  const size_t modeAt = line.find("mode: ");
  const size_t samplesAt = line.find("number of samples = ");
  auto channels = IntAt(line, 20);
  if (modeAt == std::string::npos || samplesAt == std::string::npos || !channels || *channels < 1 ||
      *channels > LoggerState::kMaxChannels)
    return headerError;
  auto samples = IntAt(line, samplesAt + 20);
  if (!samples || *samples < 0) return headerError;
  logger.channelCount = *channels;
  h.samplesPerChannel = *samples;
  const char status = modeAt + 6 < line.size() ? line[modeAt + 6] : '\0';
  switch (status) {
    case 'N':
      snap.loggerStatus = 0;
      break;
    case 'E':
      snap.loggerStatus = 1;
      break;
    case 'T':
      snap.loggerStatus = 3;
      break;
    case 'M':
      snap.loggerStatus = 7;
      break;
    case 'P':
      snap.loggerStatus = 6;
      break;
    default: {
      const std::string_view rest = From(line, modeAt + 6);
      if (status == 'L' && rest.find("Complete") != std::string_view::npos)
        snap.loggerStatus = 4;
      else if (status == 'L' && rest.find("Suspended") != std::string_view::npos)
        snap.loggerStatus = 5;
      else if (status == 'L' && rest.find("Stopped") != std::string_view::npos)
        snap.loggerStatus = 8;
      else
        snap.loggerStatus = 2;
    }
  }
  // Line 8: the dat layout.
  if (!lines.Next(line) || line.empty()) return headerError;
  if (line[0] == 'N') {
    h.layout = DatLayout::N;
    h.valueColumn = 0;
  } else if (line[0] == 'A') {
    h.layout = DatLayout::A;
    h.valueColumn = 9;
  } else {
    h.layout = DatLayout::E;
    h.valueColumn = 20;
  }
  // The calibration lines.
  logger.channelTypes.assign(static_cast<size_t>(*channels), 'U');
  for (int ch = 0; ch < *channels; ++ch) {
    if (!lines.Next(line) || line.find("Calibration") == std::string::npos) return headerError;
    auto& c = h.calibration.coef[ch];
    auto c0 = DoubleAt(line, 16);
    if (!c0) return headerError;
    c[0] = *c0;
    for (int k = 1; k < 4; ++k) {
      if (!lines.Next(line)) return headerError;
      size_t used = 0;
      auto v = LeadingDouble(line, &used);
      if (!v) return headerError;
      c[k] = *v;
      if (k == 3) {
        const std::string_view unit = From(line, used);
        if (unit.find("uS/cm") != std::string_view::npos) logger.standardChannels = true;
        if (unit.find("mS/cm") != std::string_view::npos) logger.standardChannels = false;
      }
    }
  }
  // The remaining items.
  if (logger.IsVS() || IsLinearMemory(logger)) {
    for (;;) {
      if (!lines.Next(line)) return headerError;
      const LineUse use = ParseItemLine(line, kind, h);
      if (use == LineUse::Bad) return headerError;
      if (use == LineUse::Used || !IsTitleLine(line)) continue;
      // The column titles: one word per channel.
      size_t pos = 0;
      for (int ch = 0; ch < *channels; ++ch) {
        pos = line.find_first_not_of(' ', pos);
        if (pos == std::string::npos) break;
        const size_t end = std::min(line.find(' ', pos), line.size());
        logger.channelTypes[ch] = static_cast<char>(
            files::LetterOfTitleWord(std::string_view(line).substr(pos, end - pos)));
        pos = end;
      }
      break;
    }
    if (kind == kDatHeader && StoresAsciiData(logger, h.cards))
      return {"Read File",
              "This file holds generic ASCII formatted data.\nThis type of data must be read "
              "using a text editor."};
  } else {
    const bool keepStamps = StampLayoutOf(logger) == 1;
    for (;;) {
      const size_t before = lines.Position();
      if (!lines.Next(line)) break;
      if (line.empty()) break;
      const LineUse use = ParseItemLine(line, keepStamps ? kind : kHexHeader, h);
      if (use == LineUse::Bad) return headerError;
      if (use == LineUse::Unknown) {
        // Not a header line: it belongs to what follows.
        lines.Seek(before);
        break;
      }
    }
    const bool nmv = logger.ModelHas("NMV");
    for (auto& c : logger.channelTypes) c = 'T';
    if (nmv) {
      logger.channelTypes[0] = 'T';
      if (logger.channelTypes.size() > 1) logger.channelTypes[1] = 'P';
    } else if (IsDepthFamily(logger)) {
      logger.channelTypes[0] = 'P';
    }
  }
  return {};
}

}  // namespace klx
