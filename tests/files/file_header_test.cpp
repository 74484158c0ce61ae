// The file header lines per logger family, their reader, the column titles and the channel file.
#include "files/file_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "decoding/channel_types.h"
#include "derived/derived.h"
#include "files/dat_file.h"
#include "files_fixture.h"

namespace klx::test {
namespace {

TEST(FileHeader, NaFamilyLinesByteForByte) {
  HeldData held = MakeHeld("NA-7100", 3.2f, "T", 4, 30);
  held.data.stamps.records = {Stamp(0, kStampTime, At(2024, 3, 1, 12, 30, 5)),
                              Stamp(2, kStampCold, At(2024, 3, 1, 13, 0, 0))};
  held.comment = "pier 7";
  FileHeaderInputs in = HeaderInputsOf(held, DatLayout::A, DerivedUnitSettings{});
  const std::string common =
      "KLX NA-7100  3.20 012345 (Windows: 6.13)\n"
      "Host time     24/03/05 10:11:12\n"
      "Logger time   24/03/05 10:11:02\n"
      "Logging start 24/03/01 12:30:00\n"
      "Logging end   24/04/01 00:00:00\n"
      "Sample period          00:00:10\n"
      "Number of channels =  1, number of samples =      4, mode: Logging Complete\n"
      "A01%9.4f\n"
      "Calibration  1: 0.500000000000000\n"
      "                1.250000000000000\n"
      "                -0.001953125000000\n"
      "                0.000030517578125 Degrees_C\n"
      "COMMENT: pier 7\n";
  EXPECT_EQ(WriteFileHeader(in, kCommonHeader), common + "\n");
  EXPECT_EQ(WriteFileHeader(in, kDatHeader),
            common + "Timestamp 2024/03/01 12:30:05 at sample 1 of type: TIME STAMP\n\n");
  EXPECT_EQ(WriteFileHeader(in, kHexHeader),
            common +
                "Timestamp 2024/03/01 12:30:05 at sample 1 of type: TIME STAMP\n"
                "Reset stamp 2024/03/01 13:00:00 at sample 3 of type: COLD STARTUP\n"
                "Number of bytes in header 30\n\n");
  // The oldest NA firmware's stamp lines: every stamp, rows counted from 0, no type.
  held.data.logger.firmware = 2.0f;
  EXPECT_NE(WriteFileHeader(HeaderInputsOf(held, DatLayout::A, {}), kDatHeader)
                .find("\nTimestamp 2024/03/01 12:30:05 at sample 0\n"
                      "Timestamp 2024/03/01 13:00:00 at sample 2\n\n"),
            std::string::npos);
}

TEST(FileHeader, VsFamilyOptionalLinesStampsGainsAndTitles) {
  HeldData held = MakeHeld("VS-330", 3.5f, "TCy", 3, 132);
  held.data.logger.standardChannels = false, held.data.logger.minimumHostVersion = 6.1f;
  held.data.calibration.conductivityCorrection = {0.0, 1.0, 20.0, 0.5};
  auto& p = held.image.snapshot.parameters;
  p.profiling6Hz = true;
  StampRecord gain = Stamp(0, kStampGain, At(2024, 3, 1, 12, 30, 0));
  gain.gain[2] = 2, gain.changedMask = 4;
  held.data.stamps.records = {gain, Stamp(1, kStampRtc, At(2024, 3, 1, 12, 31, 0)),
                              Stamp(2, kStampStop, At(2024, 3, 1, 12, 32, 0))};
  held.cards = AccessoryCards{true, true, false, false, true};
  DerivedUnitSettings derived;
  derived.depthOn = derived.depthSeawater = true;
  derived.latitudeDegrees = 45, derived.latitudeMinutes = 30.5;
  FileHeaderInputs in = HeaderInputsOf(held, DatLayout::E, derived);
  const std::string text = WriteFileHeader(in, kHexHeader);
  // The lines an NA header lacks, in order (others come back through the hex round trip).
  const char* const lines[] = {
      "KLX VS-330  3.50 012345 (Windows: 6.13 - Minimum required: 6.10)\n",
      "Sample period          6Hz profiling\n",
      "E03%9.4f\n",
      "                0.000030517578125 mS/cm\nCalibration  3: 2.500000000000000\n",
      "                0.000030517578125 NTU\n"
      "Correction to conductivity: 0.0000000e+00 1.0000000e+00 2.0000000e+01 5.0000000e-01\n"
      "Atmospheric pressure 10.132500 dBar, water density 1.028100, (Seawater calculation)\n"
      "Latitude 45 degrees 30.500 minutes\n",
      "Timestamp 2024/03/01 12:30:00 at sample 1 of type: GAIN STAMP channel=3 gain=2 (125NTU)\n"
      "Timestamp 2024/03/01 12:31:00 at sample 2 of type: RTC STAMP\n"
      "Reset stamp 2024/03/01 12:32:00 at sample 3 of type: STOP STAMP\n"
      "Number of bytes in header 132\n",
      "MMC/SD Memory card present, No Generic Serial card, Format: Binary\n"
      "\n"
      "                         Temp      Cond    Turb-a \n"};
  EXPECT_EQ(text.find(lines[0]), 0u);
  size_t at = 0;
  for (const char* line : lines) {
    const size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\n" << text;
    at = found + std::strlen(line);
  }
  EXPECT_EQ(at, text.size());
}

// The writer's two-digit years and "Logging Complete" come back in the hex and dat round trips.
TEST(FileHeader, ReaderTakesFourDigitYearsAndTheStatusWords) {
  const std::string first = "KLX NB-7100  3.00 000042 (Windows: 6.13)";
  // "Logging" is the start of two other modes.
  for (const auto& [mode, status] :
       {std::pair<std::string, int>{"Logging", 2}, {"Memory Error", 7}, {"Enabled", 1}}) {
    const std::string date = "2024/07/09 08:07:06";
    const std::string text =
        "Host time     " + date + "\nLogger time   " + date + "\nLogging start " + date +
        "\nLogging end   " + date +
        "\nSample period          01:02:03\nNumber of channels =  1, number of samples =      9, "
        "mode: " +
        mode + "\nN01%9.4f\nCalibration  1: 1.5\n  2.5\n  3.5\n  4.5 deciBars\n\n";
    LineSource lines(text);
    FileHeader h;
    ASSERT_FALSE(ReadFileHeader(first, lines, kDatHeader, h).Failed()) << mode;
    EXPECT_EQ(h.snapshot.loggerStatus, status) << mode;
    EXPECT_EQ(h.snapshot.parameters.endTime, At(2024, 7, 9, 8, 7, 6));
  }
}

// One sample per channel, with its minimum and maximum behind it.
DataSet OneSample(const std::string& letters, const std::vector<float>& values) {
  DataSet d;
  d.logger.model = "VS-330", d.logger.firmware = 6.2f, d.logger.channelTypes = letters;
  d.logger.channelCount = d.channelCount = static_cast<int>(letters.size());
  d.samplesPerChannel = 1;
  for (float v : values) d.series.push_back({v, v, v});
  return d;
}

// The header's column-title line (the last line that is not empty).
std::string TitleLine(const std::string& header) {
  size_t end = header.find_last_not_of('\n');
  const size_t start = header.rfind('\n', end);
  return header.substr(start + 1, end - start);
}

// Regression: the Optode concentration column took the computed dissolved oxygen's unit.
TEST(ColumnTitles, OptodeConcentrationCarriesTheOptodeUnit) {
  DataSet data = OneSample("TJ", {12.0f, 250.0f});
  DerivedSettings settings;
  settings.optodeConcentrationOn = settings.optodeUnitMgPerL = settings.doUnitMlPerL = true;
  const DerivedAllocation a = AllocateDerivedChannels(data, settings);
  ASSERT_GE(a.channels.optodeConcentration, 0);
  RecomputeDerived(data, a.channels, settings);
  EXPECT_NEAR(data.series[static_cast<size_t>(a.channels.optodeConcentration)][0], 250.0 * 0.031999,
              1e-4);  // from µmol/l
  MemoryImage image;
  FileHeaderInputs in(data, image);
  in.derived = settings;
  in.columnTypes = data.logger.channelTypes;
  const std::string titles = TitleLine(WriteFileHeader(in, kDatHeader));
  EXPECT_NE(titles.find(" dO2_mg/l "), std::string::npos) << titles;
  EXPECT_EQ(titles.find("dO2_ml/l"), std::string::npos) << titles;
}

// The channel file is UTF-16; its Latin-1 parts read back byte for byte.
std::string Latin1Of(const std::string& utf16) {
  std::string out;
  for (size_t i = 2; i + 1 < utf16.size(); i += 2) out += utf16[i + 1] == '\0' ? utf16[i] : '?';
  return out;
}

TEST(ChannelFile, Utf16WithChineseLabelsTheUnitAfterEachCalibrationAndTitlesByContent) {
  DataSet data = OneSample("TFy", {12.0f, 3.0f, 40.0f});
  MemoryImage image;
  FileHeaderInputs in(data, image);
  const std::string utf16 = ChannelFileText(in);
  EXPECT_EQ(utf16.substr(0, 2), "\xFF\xFE");
  // "Host time <" then U+4E3B (主) in little-endian UTF-16.
  EXPECT_NE(utf16.find(std::string("H\0o\0s\0t\0 \0t\0i\0m\0e\0 \0<\0", 22) + "\x3B\x4E"),
            std::string::npos);
  EXPECT_EQ(ChannelFilePath("/x/a.dat"), std::filesystem::path("/x/a.chn.txt"));
  const std::string text = Latin1Of(utf16);
  // Each calibration block's fourth line ends with the unit of the hex header's line.
  EXPECT_NE(text.find(" ug/l\n"), std::string::npos);
  EXPECT_EQ(text.find("Temp \n"), std::string::npos);
  EXPECT_NE(text.find("Temp\tFlC\t\tTurb\t\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace klx::test
