// The bilingual channel file: the dat header's items with English and Traditional Chinese
// labels, in UTF-16.
#include <string>
#include <string_view>

#include "files/channel_text.h"
#include "files/dat_file.h"
#include "shell/text_file.h"

namespace klx {

using files::kStartModeNames;
using files::kStatusNames;
using files::StampLayoutOf;
using files::StoresAsciiData;

namespace {

// Appends 8-bit text (Latin-1: "µ" is 0xB5) as UTF-16 little-endian.
void Latin1(std::string& out, std::string_view text) {
  for (unsigned char c : text) {
    out += static_cast<char>(c);
    out += '\0';
  }
}

// Appends UTF-8 text (the Chinese labels) as UTF-16 little-endian.
void Utf8(std::string& out, std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xF0 && i + 3 < text.size() + 0) {
      cp = ((c & 7u) << 18) | ((text[i + 1] & 0x3Fu) << 12) | ((text[i + 2] & 0x3Fu) << 6) |
           (text[i + 3] & 0x3Fu);
      n = 4;
    } else if (c >= 0xE0 && i + 2 < text.size()) {
      cp = ((c & 15u) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
      n = 3;
    } else if (c >= 0xC0 && i + 1 < text.size()) {
      cp = ((c & 31u) << 6) | (text[i + 1] & 0x3Fu);
      n = 2;
    }
    i += n;
    auto unit = [&](uint32_t u) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
}

void Label(std::string& out, const char* english, const char* chinese) {
  Latin1(out, english);
  Utf8(out, chinese);
}

std::string Date(const SystemTime& t) {
  return CFormat(">\t%02d/%02d/%02d %02d:%02d:%02d\n", t.year - 2000, t.month, t.day, t.hour,
                 t.minute, t.second);
}

const char* ChineseTitle(uint8_t letter) {
  switch (letter) {
    case 'T':
      return "溫度";
    case 'P':
      return "壓力";
    case 'C':
      return "電導度";
    case 'D':
      return "溶氧度";
    case 'Y':
    case 'y':
      return "濁度";
    case 'R':
      return "光照度";
    case 'H':
      return "酸鹼度";
    case 'F':
    case 'f':
    case 'G':
    case 'g':
    case 'Z':
    case 'z':
    case 'I':
    case 'i':
      return "葉綠素含量";
    case 'A':
    case 0x85:
      return "深度";
    case 'S':
      return "鹽度";
    case 's':
      return "比電導度";
    case 'u':
    case 'd':
    case 'W':
      return "聲波速度";
    default:
      return nullptr;
  }
}

// The English column title of a channel, tab included (the fluorometers stand over two tab
// stops). Types without a title of their own keep their short name.
std::string EnglishTitle(uint8_t letter) {
  switch (letter) {
    case 'T':
      return "Temp\t";
    case 'P':
      return "Pres\t";
    case 'C':
      return "Cond\t";
    case 'D':
      return "D_O2\t";
    case 'V':
      return "Volt\t";
    case 'Y':
    case 'y':
      return "Turb\t";
    case 'R':
      return "PAR\t";
    case 'H':
      return "pH\t";
    case 'F':
    case 'f':
      return "FlC\t\t";
    case 'G':
    case 'g':
      return "FlR\t\t";
    case 'Z':
    case 'z':
      return "FlPe\t\t";
    case 'I':
    case 'i':
      return "FlUV\t\t";
    case 'E':
      return "Echo\t";
    case 'A':
    case 0x85:
      return "Depth\t";
    case 'S':
      return "Salinity\t";
    case 's':
      return "SpecCond\t";
    case 'u':
      return "SoS (UN)\t";
    case 'd':
      return "SoS (Grs)\t";
    case 'W':
      return "SoS (Wil)\t";
    case 'X':
      return "dO2 \xB5Mol/l\t";
    case 'L':
      return "Paro\t";
    case 'K':
      return "Optd\t";
    case 'J':
      return "Optd \xB5Mol/l\t";
    case 0x81:
      return "SWH\t";
    case 0x82:
      return "TDS\t";
    case 'B':
      return "Generic\t";
    default:
      break;
  }
  const std::string name = files::ShortNameOfLetter(letter);
  const size_t b = name.find_first_not_of(' ');
  return (b == std::string::npos ? name : name.substr(b, name.size() - 1 - b)) + "\t";
}

}  // namespace

std::string ChannelFileText(const FileHeaderInputs& in) {
  const LoggerState& logger = in.data.logger;
  const auto& snap = in.image.snapshot;
  const auto& p = snap.parameters;
  std::string out = "\xFF\xFE";  // byte-order mark
  Latin1(out, CFormat("KLX %s %5.2f %06d\n", logger.model.c_str(), logger.firmware, logger.serial));
  Label(out, "Host time <", "主機時間");
  Latin1(out, Date(snap.hostTime));
  Label(out, "Logger time <", "登錄時間");
  Latin1(out, Date(snap.loggerTime));
  Label(out, "Logging start <", "登錄起始時間");
  Latin1(out, Date(p.startTime));
  Label(out, "Logging end <", "登錄終止時間");
  Latin1(out, Date(p.endTime));
  if (p.profiling6Hz) {
    Label(out, "Sample period          6Hz profiling <6Hz ", "掃描頻率");
    Latin1(out, ">\n");
  } else {
    Label(out, "Sample period <", "取樣週期");
    Latin1(out, CFormat(">\t%02d:%02d:%02d\n", p.samplePeriod.hours, p.samplePeriod.minutes,
                        p.samplePeriod.seconds));
  }
  Label(out, "Number of channels <", "鬻道數");
  Latin1(out, CFormat("> = %2d, ", logger.channelCount));
  Label(out, "number of samples <", "取樣數");
  Latin1(out, CFormat("> = %6d, mode <", in.data.samplesPerChannel));
  Utf8(out, "模式");
  const int status = snap.loggerStatus >= 0 && snap.loggerStatus < 9 ? snap.loggerStatus : 0;
  Latin1(out, CFormat(">: %s\n", kStatusNames[status]));
  for (int ch = 0; ch < logger.channelCount && ch < CalibrationCoefficients::kMaxChannels; ++ch) {
    const auto& c = in.data.calibration.coef[ch];
    Label(out, "Calibration <", "校正量");
    Latin1(out, CFormat(">\t%2d:\t%.15f\n", ch + 1, c[0]));
    Latin1(out, CFormat("\t\t\t\t%.15f\n\t\t\t\t%.15f\n", c[1], c[2]));
    const uint8_t letter =
        ch < static_cast<int>(logger.channelTypes.size()) ? logger.channelTypes[ch] : 'U';
    Latin1(out, CFormat("\t\t\t\t%.15f %s\n", c[3], files::CalibrationUnit(logger, letter)));
  }
  if (in.derived.depthOn) {
    Label(out, "Atmospheric pressure <", "大氣壓力");
    Latin1(out, CFormat("> %f dBar, Density of water <", in.derived.atmosphericPressure));
    Utf8(out, "水密度");
    Latin1(out, CFormat(">\t%f\n", in.derived.density));
  }
  if (logger.memoryTypeCode >= 1 && logger.memoryTypeCode <= 6) {
    Label(out, "Memory type <", "記憶體型式");
    Latin1(out,
           CFormat(">\t%d %s\n", logger.memoryTypeCode, MemoryTypeName(logger.memoryTypeCode)));
  }
  if (logger.averaging != 0) {
    Label(out, "Averaging <", "平均計算");
    if (p.averagingEnabled && p.averagingSeconds != 0) {
      Latin1(out, CFormat(">\t%u\n", p.averagingSeconds));
    } else {
      Label(out, "> NONE <", "無");
      Latin1(out, ">\n");
    }
  }
  if (StampLayoutOf(logger) == 3) {
    Label(out, "Logger start <", "紀錄器啟動");
    Latin1(out, CFormat(">\t%s\n", kStartModeNames[p.startMode < 6 ? p.startMode : 0]));
  }
  static const char* const kLeadIns[3] = {"", "         ", "                    "};
  const char* lead = kLeadIns[static_cast<int>(in.layout) % 3];
  const std::string& letters = in.columnTypes.empty() ? logger.channelTypes : in.columnTypes;
  Latin1(out, lead);
  for (unsigned char letter : letters) Latin1(out, EnglishTitle(letter));
  Latin1(out, "\n");
  Latin1(out, lead);
  for (unsigned char letter : letters) {
    const char* chinese = ChineseTitle(letter);
    if (chinese != nullptr)
      Utf8(out, chinese);
    else
      Latin1(out, "-");
    Latin1(out, "\t");
  }
  Latin1(out, "\n");
  return out;
}

}  // namespace klx
