#include "files/file_header.h"

#include <gtest/gtest.h>

#include "files_fixture.h"

namespace klx::test {
namespace {

StampRecord Stamp(uint32_t row, uint32_t type, const SystemTime& t) {
  StampRecord s;
  s.sampleIndex = row;
  s.type = type;
  s.time = t;
  return s;
}

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
}

TEST(FileHeader, VsFamilyOptionalLinesStampsGainsAndTitles) {
  HeldData held = MakeHeld("VS-330", 3.5f, "TCy", 3, 132);
  LoggerState& logger = held.data.logger;
  logger.standardChannels = false;
  logger.minimumHostVersion = 6.1f;
  logger.memoryTypeCode = 3;
  logger.averaging = 1;
  held.data.calibration.conductivityCorrection = {0.0, 1.0, 20.0, 0.5};
  held.data.extendedCapabilities[2] = 0xA5;
  auto& p = held.image.snapshot.parameters;
  p.startMode = kStartAboveThreshold;
  p.thresholdValue = 12.5;
  p.thresholdChannel = 1;
  p.averagingEnabled = true;
  p.averagingSeconds = 30;
  p.profiling6Hz = true;
  StampRecord gain = Stamp(0, kStampGain, At(2024, 3, 1, 12, 30, 0));
  gain.gain[2] = 2;
  gain.changedMask = 4;
  held.data.stamps.records = {gain, Stamp(1, kStampRtc, At(2024, 3, 1, 12, 31, 0)),
                              Stamp(2, kStampStop, At(2024, 3, 1, 12, 32, 0))};
  held.cards = AccessoryCards{true, true, false, false, true};
  DerivedUnitSettings derived;
  derived.depthOn = true;
  derived.depthSeawater = true;
  derived.latitudeDegrees = 45;
  derived.latitudeMinutes = 30.5;
  FileHeaderInputs in = HeaderInputsOf(held, DatLayout::E, derived);
  const std::string text = WriteFileHeader(in, kHexHeader);
  const std::string expected =
      "KLX VS-330  3.50 012345 (Windows: 6.13 - Minimum required: 6.10)\n"
      "Host time     24/03/05 10:11:12\n"
      "Logger time   24/03/05 10:11:02\n"
      "Logging start 24/03/01 12:30:00\n"
      "Logging end   24/04/01 00:00:00\n"
      "Sample period          6Hz profiling\n"
      "Number of channels =  3, number of samples =      3, mode: Logging Complete\n"
      "E03%9.4f\n"
      "Calibration  1: 0.500000000000000\n"
      "                1.250000000000000\n"
      "                -0.001953125000000\n"
      "                0.000030517578125 Degrees_C\n"
      "Calibration  2: 1.500000000000000\n"
      "                1.250000000000000\n"
      "                -0.001953125000000\n"
      "                0.000030517578125 mS/cm\n"
      "Calibration  3: 2.500000000000000\n"
      "                1.250000000000000\n"
      "                -0.001953125000000\n"
      "                0.000030517578125 NTU\n"
      "Correction to conductivity: 0.0000000e+00 1.0000000e+00 2.0000000e+01 5.0000000e-01\n"
      "Atmospheric pressure 10.132500 dBar, water density 1.028100, (Seawater calculation)\n"
      "Latitude 45 degrees 30.500 minutes\n"
      "Memory type: 3 AT45DB642\n"
      "Averaging: 30 seconds\n"
      "Logger start:Above threshold   12.5000 channel 2\n"
      "Timestamp 2024/03/01 12:30:00 at sample 1 of type: GAIN STAMP channel=3 gain=2 "
      "(125NTU)\n"
      "Timestamp 2024/03/01 12:31:00 at sample 2 of type: RTC STAMP\n"
      "Reset stamp 2024/03/01 12:32:00 at sample 3 of type: STOP STAMP\n"
      "Number of bytes in header 132\n"
      "Extended data range: 0000A5" +
      std::string(46, '0') +
      "\n"
      "MMC/SD Memory card present, No Generic Serial card, Format: Binary\n"
      "\n"
      "                         Temp      Cond    Turb-a \n";
  EXPECT_EQ(text, expected);
}

TEST(FileHeader, UnitsPerLetterAndDatColumnTitles) {
  HeldData held = MakeHeld("NMK-7400", 5.1f, "RJBQ", 1, 30);
  held.columnTypes = std::string("RJBQ") + "\x81\x83";
  DerivedUnitSettings derived;
  derived.doUnitMlPerL = true;
  const std::string text = WriteFileHeader(HeaderInputsOf(held, DatLayout::N, derived), kDatHeader);
  EXPECT_NE(text.find("0.000030517578125 \xB5Mol.m-2.s-1\n"), std::string::npos);
  EXPECT_NE(text.find("0.000030517578125 \xB5Mol/l\n"), std::string::npos);
  EXPECT_NE(text.find("0.000030517578125 Generic\n"), std::string::npos);
  EXPECT_NE(text.find("0.000030517578125 Unknown\n"), std::string::npos);
  // The wave-height column is left out of a dat file; oxygen shows its unit.
  EXPECT_NE(text.find("\n      PAR Optd_\xB5Mol   Generic   Unknown  dO2_ml/l \n"),
            std::string::npos)
      << text;
}

TEST(FileHeader, ReaderTakesDatesOfBothYearFormsAndTheStatusLetters) {
  const std::string first = "KLX NB-7100  3.00 000042 (Windows: 6.13)";
  auto header = [](const std::string& date, const std::string& mode) {
    return "Host time     " + date + "\nLogger time   " + date + "\nLogging start " + date +
           "\nLogging end   " + date +
           "\nSample period          01:02:03\nNumber of channels =  1, number of samples =     "
           " 9, mode: " +
           mode + "\nN01%9.4f\nCalibration  1: 1.5\n  2.5\n  3.5\n  4.5 deciBars\n\n";
  };
  struct Case {
    std::string mode;
    int status;
  };
  for (const Case& c :
       {Case{"Logging Complete", 4}, Case{"Logging Suspended", 5},
        Case{"Logging Stopped by User", 8}, Case{"Logging", 2}, Case{"Not Enabled", 0},
        Case{"Thresholding enabled", 3}, Case{"Memory Error", 7}, Case{"Profiling Active", 6}}) {
    const std::string text = header("2024/07/09 08:07:06", c.mode);
    LineSource lines(text);
    FileHeader h;
    ASSERT_FALSE(ReadFileHeader(first, lines, kDatHeader, h).Failed()) << c.mode;
    EXPECT_EQ(h.snapshot.loggerStatus, c.status) << c.mode;
    EXPECT_EQ(h.snapshot.hostTime, At(2024, 7, 9, 8, 7, 6));
    EXPECT_EQ(h.snapshot.parameters.samplePeriod, (Period{1, 2, 3}));
    EXPECT_EQ(h.samplesPerChannel, 9);
    EXPECT_EQ(h.logger.channelTypes, "P");
    EXPECT_EQ(h.calibration.coef[0], (std::array<double, 4>{1.5, 2.5, 3.5, 4.5}));
  }
  const std::string two = header("24/07/09 08:07:06", "Enabled");
  LineSource lines(two);
  FileHeader h;
  ASSERT_FALSE(ReadFileHeader(first, lines, kDatHeader, h).Failed());
  EXPECT_EQ(h.snapshot.parameters.endTime, At(2024, 7, 9, 8, 7, 6));
  EXPECT_EQ(h.snapshot.loggerStatus, 1);
}

TEST(FileHeader, ReaderRefusesForeignModelsAndBrokenLines) {
  LineSource empty("");
  FileHeader h;
  FileError e = ReadFileHeader("KLX XR-420 1.00 000001", empty, kHexHeader, h);
  EXPECT_EQ(e.message,
            "This file is for a logger of type XR-420.\nThis type of logger is not supported by "
            "this software.");
  EXPECT_EQ(e.caption, "Read File");
  const std::string noMode =
      "Host time     24/01/01 00:00:00\nLogger time   24/01/01 00:00:00\nLogging start 24/01/01 "
      "00:00:00\nLogging end   24/01/01 00:00:00\nSample period          00:00:01\nNumber of "
      "channels =  1, number of samples = 3\n";
  LineSource lines(noMode);
  e = ReadFileHeader("KLX NA-7100 3.20 000001", lines, kHexHeader, h);
  EXPECT_EQ(e.message, "Error while reading file header");
}

}  // namespace
}  // namespace klx::test
