#include "shell/settings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "shell/text_file.h"
#include "temp_dir.h"

namespace klx {
namespace {

using test::TempDirTest;

const char* const kDefaultText =
    "Port=COM1\n"
    "GPSComm=NOT USED\n"
    "Format=0\n"
    "Density (kg/m3)=OFF\n"
    "Conductivity correction=OFF\n"
    "Salinity=OFF Hydrostatic pressure=0.00\n"
    "Specific conductivity=OFF\n"
    "Dissolved oxygen: ml/l=OFF\n"
    "Dissolved oxygen (Optode concentration): ml/l=OFF\n"
    "Dissolved oxygen (Optode saturation)=OFF\n"
    "Speed of Sound: UNESCO=OFF\n"
    "Atmospheric pressure=10.132500\n"
    "Density=1.028100\n"
    "Latitude=0 0.000\n"
    "DO temperature=15.00\n"
    "DO salinity=35.00\n"
    "Depth Freshwater=OFF\n"
    "Micro-Salinometer average=30\n"
    "MATLAB frequency: 0 format: 0\n"
    "Online calibration lower depth=0.00\n"
    "Online calibration upper depth=10.00\n"
    "Online calibration lower pH=4.00\n"
    "Online calibration upper pH=10.00\n"
    "Online calibration lower O2=0.00\n"
    "Online calibration upper O2=100.00\n";

class SettingsTest : public TempDirTest {
 protected:
  // Settings read from a settings file with the given text.
  Settings ReadFrom(const std::string& text, int copy = 1) {
    WriteFile(Dir() / "klx.ini", text);
    Settings s(Dir(), copy);
    s.ReadSettings();
    return s;
  }
};

// Everything a settings object holds, for comparisons.
void ExpectSameValues(const Settings& a, const Settings& b) {
  EXPECT_EQ(a.SettingsText(), b.SettingsText());
  EXPECT_EQ(a.port, b.port);
  EXPECT_EQ(a.gpsPort, b.gpsPort);
  EXPECT_EQ(a.gpsBaudRate, b.gpsBaudRate);
  EXPECT_EQ(a.format, b.format);
  EXPECT_TRUE(a.derived == b.derived);
  EXPECT_EQ(a.radioDelayEnabled, b.radioDelayEnabled);
  EXPECT_EQ(a.radioDelayMs, b.radioDelayMs);
  EXPECT_EQ(a.languageSupport, b.languageSupport);
  EXPECT_EQ(a.microSalinometerAverage, b.microSalinometerAverage);
  EXPECT_EQ(a.matlabFrequency, b.matlabFrequency);
  EXPECT_EQ(a.matlabFormat, b.matlabFormat);
  EXPECT_EQ(a.showRangeChanges, b.showRangeChanges);
  EXPECT_TRUE(a.onlineCalibration == b.onlineCalibration);
  EXPECT_EQ(a.allowMultipleCopies, b.allowMultipleCopies);
}

// ---- Defaults and the missing file ----

TEST_F(SettingsTest, GpsPortIsMinusOneBeforeTheFirstRead) {
  Settings s(Dir());
  EXPECT_EQ(s.gpsPort, -1);
  s.ReadSettings();
  EXPECT_EQ(s.gpsPort, 0);
}

TEST_F(SettingsTest, MissingFileOfTheFirstCopyIsWrittenWithTheDefaults) {
  Settings s(Dir());
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  EXPECT_EQ(ReadFile(Dir() / "klx.ini"), kDefaultText);
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Single copy only\n");
  EXPECT_EQ(s.port, 1);
  EXPECT_EQ(s.gpsPort, 0);
  EXPECT_EQ(s.gpsBaudRate, 4800);
  EXPECT_EQ(s.format, 0);
  EXPECT_DOUBLE_EQ(s.derived.atmosphericPressure, 10.1325);
  EXPECT_DOUBLE_EQ(s.derived.density, 1.0281);
  EXPECT_DOUBLE_EQ(s.derived.doTemperature, 15.0);
  EXPECT_DOUBLE_EQ(s.derived.doSalinity, 35.0);
  EXPECT_FALSE(s.derived.someDerivedUnitWanted);
  EXPECT_FALSE(s.radioDelayEnabled);
  EXPECT_EQ(s.radioDelayMs, 0);
  EXPECT_FALSE(s.languageSupport);
  EXPECT_TRUE(s.showRangeChanges);
  EXPECT_EQ(s.microSalinometerAverage, 30);
  EXPECT_FALSE(s.allowMultipleCopies);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.upperDepth, 10.0);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.lowerPh, 4.0);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.upperPh, 10.0);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.upperO2, 100.0);
  // The second read finds the file it wrote.
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::Read);
}

TEST_F(SettingsTest, WritingTheDefaultsKeepsTheMultipleCopiesChoice) {
  WriteFile(Dir() / "klx_copies.ini", "Allow multiple copies\n");
  Settings s(Dir());
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  EXPECT_TRUE(s.allowMultipleCopies);
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Allow multiple copies\n");
}

TEST_F(SettingsTest, ReadResetsTheDefaultsFirst) {
  Settings s = ReadFrom("Port=COM4\nRadio=300\n");
  EXPECT_EQ(s.port, 4);
  EXPECT_TRUE(s.radioDelayEnabled);
  WriteFile(Dir() / "klx.ini", "Format=2\n");
  s.ReadSettings();
  EXPECT_EQ(s.port, 1);
  EXPECT_FALSE(s.radioDelayEnabled);
  EXPECT_EQ(s.format, 2);
}

// ---- Edge cases ----

TEST_F(SettingsTest, GpsNotUsedStaysOffWhenABaudRateLineFollows) {
  const Settings s = ReadFrom("GPSComm=NOT USED\nGPS baudrate=9600\n");
  EXPECT_EQ(s.gpsPort, 0);
  EXPECT_EQ(s.gpsBaudRate, 9600);
  EXPECT_NE(s.SettingsText().find("GPSComm=NOT USED\n"), std::string::npos);
  EXPECT_EQ(s.SettingsText().find("GPS baudrate"), std::string::npos);
}

TEST_F(SettingsTest, DensityOutputLineDoesNotChangeTheDensityValue) {
  const Settings s = ReadFrom("Density (kg/m3)=ON\n");
  EXPECT_TRUE(s.derived.densityAnomalyOn);
  EXPECT_DOUBLE_EQ(s.derived.density, 1.0281);
  EXPECT_TRUE(s.derived.someDerivedUnitWanted);
  const Settings v = ReadFrom("Density=1.025000\n");
  EXPECT_DOUBLE_EQ(v.derived.density, 1.025);
  EXPECT_FALSE(v.derived.densityAnomalyOn);
}

TEST_F(SettingsTest, DelGrossoOffSelectsDelGrossoAndSwitchesSpeedOfSoundOff) {
  const Settings s = ReadFrom("Speed of Sound: Wilson=ON\nSpeed of Sound: delGrosso=OFF\n");
  EXPECT_TRUE(s.derived.soundDelGrosso);
  EXPECT_FALSE(s.derived.speedOfSoundOn);
  EXPECT_FALSE(s.derived.soundUnesco);
}

TEST_F(SettingsTest, DoTemperatureLineSetsTheReferenceTemperature) {
  const Settings s = ReadFrom("DO temperature=20.00\n");
  EXPECT_DOUBLE_EQ(s.derived.doTemperature, 20.0);
  EXPECT_DOUBLE_EQ(s.derived.doSalinity, 35.0);
}

TEST_F(SettingsTest, ThirdCopyUsesItsOwnFileMadeFromACopyOfTheFirst) {
  WriteFile(Dir() / "klx.ini", "Port=COM5\nFormat=3\nRadio=120\n");
  Settings third(Dir(), 3);
  EXPECT_EQ(third.SettingsFilePath(), Dir() / "klx.003.ini");
  EXPECT_EQ(third.ReadSettings(), Settings::Origin::CopiedFromFirst);
  EXPECT_EQ(ReadFile(Dir() / "klx.003.ini"), "Port=COM5\nFormat=3\nRadio=120\n");
  EXPECT_EQ(third.port, 5);
  EXPECT_EQ(third.format, 3);
  EXPECT_EQ(third.radioDelayMs, 120);
  // From now on the third copy reads and writes only its own file.
  third.port = 7;
  EXPECT_TRUE(third.WriteSettings());
  EXPECT_EQ(ReadFile(Dir() / "klx.ini"), "Port=COM5\nFormat=3\nRadio=120\n");
  Settings again(Dir(), 3);
  EXPECT_EQ(again.ReadSettings(), Settings::Origin::Read);
  EXPECT_EQ(again.port, 7);
  Settings first(Dir(), 1);
  first.ReadSettings();
  EXPECT_EQ(first.port, 5);
}

TEST_F(SettingsTest, SecondCopyFileName) {
  Settings s(Dir(), 2);
  EXPECT_EQ(s.SettingsFilePath(), Dir() / "klx.002.ini");
  s.SetCopyNumber(1);
  EXPECT_EQ(s.SettingsFilePath(), Dir() / "klx.ini");
}

TEST_F(SettingsTest, SecondCopyWithoutAnyFileKeepsTheDefaults) {
  Settings s(Dir(), 2);
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::Missing);
  EXPECT_EQ(s.port, 1);
  EXPECT_FALSE(std::filesystem::exists(Dir() / "klx.002.ini"));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "klx.ini"));
}

// ---- Every reader test ----

TEST_F(SettingsTest, EachKeyIsRead) {
  const Settings s = ReadFrom(
      "Port=COM3\n"
      "GPSComm=COM2\n"
      "GPS baudrate=9600\n"
      "Format=4\n"
      "MATLAB frequency: 2 format: 1\n"
      "Salinity=ON Hydrostatic pressure=12.50\n"
      "Specific conductivity=ON\n"
      "Conductivity correction=ON\n"
      "Dissolved oxygen (Optode saturation)=ON\n"
      "Atmospheric pressure=10.000000\n"
      "DO salinity=30.50\n"
      "Radio=250\n"
      "Language Support: Chinese\n"
      "Latitude=-33 15.500\n"
      "Depth Seawater=ON\n"
      "Online calibration lower depth=1.00\n"
      "Online calibration upper depth=20.00\n"
      "Online calibration lower pH=5.00\n"
      "Online calibration upper pH=9.00\n"
      "Online calibration lower O2=10.00\n"
      "Online calibration upper O2=90.00\n"
      "Micro-Salinometer average=45\n"
      "Gain not required for auto-ranging\n");
  EXPECT_EQ(s.port, 3);
  EXPECT_EQ(s.gpsPort, 2);
  EXPECT_EQ(s.gpsBaudRate, 9600);
  EXPECT_EQ(s.format, 4);
  EXPECT_EQ(s.matlabFrequency, 2);
  EXPECT_EQ(s.matlabFormat, 1);
  EXPECT_TRUE(s.derived.salinityOn);
  EXPECT_DOUBLE_EQ(s.derived.hydrostaticPressure, 12.5);
  EXPECT_TRUE(s.derived.specificConductivityOn);
  EXPECT_TRUE(s.derived.conductivityCorrectionOn);
  EXPECT_TRUE(s.derived.optodeSaturationOn);
  EXPECT_DOUBLE_EQ(s.derived.atmosphericPressure, 10.0);
  EXPECT_DOUBLE_EQ(s.derived.doSalinity, 30.5);
  EXPECT_TRUE(s.radioDelayEnabled);
  EXPECT_EQ(s.radioDelayMs, 250);
  EXPECT_TRUE(s.languageSupport);
  EXPECT_EQ(s.derived.latitudeDegrees, -33);
  EXPECT_DOUBLE_EQ(s.derived.latitudeMinutes, 15.5);
  EXPECT_TRUE(s.derived.depthOn);
  EXPECT_TRUE(s.derived.depthSeawater);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.lowerDepth, 1.0);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.upperDepth, 20.0);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.lowerPh, 5.0);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.upperPh, 9.0);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.lowerO2, 10.0);
  EXPECT_DOUBLE_EQ(s.onlineCalibration.upperO2, 90.0);
  EXPECT_EQ(s.microSalinometerAverage, 45);
  EXPECT_FALSE(s.showRangeChanges);
  EXPECT_TRUE(s.derived.someDerivedUnitWanted);
}

TEST_F(SettingsTest, DissolvedOxygenUnits) {
  Settings s(Dir());
  s.ResetDefaults();
  s.ApplyLine("Dissolved oxygen: uMol=ON");
  s.ApplyLine("Dissolved oxygen: mg/l=ON");
  EXPECT_TRUE(s.derived.dissolvedOxygenOn);
  EXPECT_TRUE(s.derived.doUnitUMol);
  EXPECT_TRUE(s.derived.doUnitMgPerL);
  EXPECT_FALSE(s.derived.doUnitMlPerL);
  EXPECT_TRUE(s.derived.someDerivedUnitWanted);
  s.ApplyLine("Dissolved oxygen: ml/l=OFF");
  EXPECT_FALSE(s.derived.dissolvedOxygenOn);
  EXPECT_TRUE(s.derived.doUnitMlPerL);
}

TEST_F(SettingsTest, OptodeConcentrationUnits) {
  Settings s(Dir());
  s.ResetDefaults();
  s.ApplyLine("Dissolved oxygen (Optode concentration): mg/l=ON");
  EXPECT_TRUE(s.derived.optodeConcentrationOn);
  EXPECT_TRUE(s.derived.optodeUnitMgPerL);
  EXPECT_FALSE(s.derived.optodeUnitMlPerL);
  EXPECT_FALSE(s.derived.dissolvedOxygenOn);  // not the saturation-sensor line
  s.ApplyLine("Dissolved oxygen (Optode concentration): ml/l=OFF");
  EXPECT_FALSE(s.derived.optodeConcentrationOn);
  EXPECT_TRUE(s.derived.optodeUnitMlPerL);
}

TEST_F(SettingsTest, ConductivityCorrectionWithoutOnOrOffIsUnchanged) {
  Settings s(Dir());
  s.ResetDefaults();
  s.ApplyLine("Conductivity correction=ON");
  EXPECT_TRUE(s.derived.conductivityCorrectionOn);
  s.ApplyLine("Conductivity correction=maybe");
  EXPECT_TRUE(s.derived.conductivityCorrectionOn);
  s.ApplyLine("Conductivity correction=OFF");
  EXPECT_FALSE(s.derived.conductivityCorrectionOn);
  s.ApplyLine("Conductivity correction=maybe");
  EXPECT_FALSE(s.derived.conductivityCorrectionOn);
}

TEST_F(SettingsTest, SpeedOfSoundWithoutAFormulaSelectsUnesco) {
  Settings s(Dir());
  s.ResetDefaults();
  s.ApplyLine("Speed of Sound=ON");
  EXPECT_TRUE(s.derived.soundUnesco);
  EXPECT_TRUE(s.derived.speedOfSoundOn);
  EXPECT_TRUE(s.derived.someDerivedUnitWanted);
  s.ApplyLine("Speed of Sound=OFF");
  EXPECT_FALSE(s.derived.speedOfSoundOn);
  s.ApplyLine("Speed of Sound: UNESCO=ON");
  EXPECT_TRUE(s.derived.speedOfSoundOn);
  s.ApplyLine("Speed of Sound: Wilson=OFF");
  EXPECT_TRUE(s.derived.soundWilson);
  EXPECT_FALSE(s.derived.speedOfSoundOn);
}

TEST_F(SettingsTest, DepthLines) {
  Settings s(Dir());
  s.ResetDefaults();
  s.ApplyLine("Depth Seawater=ON");
  EXPECT_TRUE(s.derived.depthOn);
  EXPECT_TRUE(s.derived.depthSeawater);
  s.ApplyLine("Depth Simplified=ON");
  EXPECT_TRUE(s.derived.depthOn);
  EXPECT_FALSE(s.derived.depthSeawater);
  s.ApplyLine("Depth Seawater=OFF");
  EXPECT_FALSE(s.derived.depthOn);
  EXPECT_TRUE(s.derived.depthSeawater);
  s.ApplyLine("Depth Freshwater=OFF");
  EXPECT_FALSE(s.derived.depthOn);
  EXPECT_FALSE(s.derived.depthSeawater);
}

TEST_F(SettingsTest, OffLinesDoNotSetTheDerivedUnitFlag) {
  const Settings s = ReadFrom(kDefaultText);
  EXPECT_FALSE(s.derived.someDerivedUnitWanted);
  // The defaults file selects ml/l, the Optode ml/l and UNESCO by its OFF lines.
  EXPECT_TRUE(s.derived.doUnitMlPerL);
  EXPECT_TRUE(s.derived.optodeUnitMlPerL);
  EXPECT_TRUE(s.derived.soundUnesco);
  EXPECT_EQ(s.SettingsText(), kDefaultText);
}

// ---- Writing ----

TEST_F(SettingsTest, WriterOptionalLinesInTableOrder) {
  Settings s(Dir());
  s.ResetDefaults();
  s.gpsPort = 3;
  s.gpsBaudRate = 19200;
  s.radioDelayEnabled = true;
  s.radioDelayMs = 75;
  s.languageSupport = true;
  s.showRangeChanges = false;
  const std::string text = s.SettingsText();
  EXPECT_EQ(text.rfind("Port=COM1\nGPSComm=COM3\nGPS baudrate=19200\nFormat=0\n", 0), 0u);
  EXPECT_NE(text.find("Depth Freshwater=OFF\nRadio=75\nLanguage Support: Chinese\n"
                      "Micro-Salinometer average=30\nMATLAB frequency: 0 format: 0\n"
                      "Gain not required for auto-ranging\nOnline calibration lower depth="),
            std::string::npos);
}

TEST_F(SettingsTest, RoundTripOfNonDefaultSettings) {
  Settings s(Dir());
  s.ReadSettings();
  s.port = 12;
  s.gpsPort = 4;
  s.gpsBaudRate = 38400;
  s.format = 5;
  DerivedUnitSettings& d = s.derived;
  d.densityAnomalyOn = true;
  d.conductivityCorrectionOn = true;
  d.salinityOn = true;
  d.hydrostaticPressure = 3.25;
  d.specificConductivityOn = true;
  d.dissolvedOxygenOn = true;
  d.doUnitUMol = d.doUnitMgPerL = d.doUnitMlPerL = true;
  d.optodeConcentrationOn = true;
  d.optodeUnitMgPerL = true;
  d.optodeUnitMlPerL = false;
  d.optodeSaturationOn = true;
  d.speedOfSoundOn = true;
  d.soundWilson = true;
  d.soundDelGrosso = false;
  d.soundUnesco = false;
  d.atmosphericPressure = 10.25;
  d.density = 1.0125;
  d.latitudeDegrees = -41;
  d.latitudeMinutes = 17.125;
  d.doTemperature = 4.5;
  d.doSalinity = 33.75;
  d.depthOn = true;
  d.depthSeawater = true;
  d.someDerivedUnitWanted = true;
  s.radioDelayEnabled = true;
  s.radioDelayMs = 500;
  s.languageSupport = true;
  s.microSalinometerAverage = 12;
  s.matlabFrequency = 3;
  s.matlabFormat = 2;
  s.showRangeChanges = false;
  s.onlineCalibration = {0.5, 50.25, 6.75, 8.5, 5.0, 95.0};
  s.allowMultipleCopies = true;
  ASSERT_TRUE(s.WriteSettings());
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Allow multiple copies\n");

  Settings back(Dir());
  EXPECT_EQ(back.ReadSettings(), Settings::Origin::Read);
  ExpectSameValues(back, s);
}

TEST_F(SettingsTest, RoundTripWithOutputsOffAndUnitsSelected) {
  Settings s(Dir());
  s.ReadSettings();
  s.derived.doUnitUMol = true;
  s.derived.optodeUnitMgPerL = true;
  s.derived.soundDelGrosso = true;
  s.derived.depthSeawater = true;
  s.derived.salinityOn = false;
  s.derived.hydrostaticPressure = 7.5;
  ASSERT_TRUE(s.WriteSettings());
  Settings back(Dir());
  back.ReadSettings();
  ExpectSameValues(back, s);
  EXPECT_FALSE(back.derived.someDerivedUnitWanted);
}

TEST_F(SettingsTest, UnwritableSettingsAreSilentlyNotWritten) {
  Settings s(Dir() / "no" / "such" / "directory");
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  EXPECT_FALSE(s.WriteSettings());
  EXPECT_EQ(s.port, 1);
  // No temporary file is left behind either.
  Settings t(Dir());
  ASSERT_TRUE(t.WriteSettings());
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(Dir())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

// ---- The multiple-copies file ----

TEST_F(SettingsTest, MultipleCopiesFile) {
  WriteFile(Dir() / "klx.ini", "Port=COM2\n");
  Settings s(Dir());
  s.ReadSettings();
  EXPECT_FALSE(s.allowMultipleCopies);  // missing file
  WriteFile(Dir() / "klx_copies.ini", "Allow multiple copies\n");
  s.ReadSettings();
  EXPECT_TRUE(s.allowMultipleCopies);
  WriteFile(Dir() / "klx_copies.ini", "Single copy only\n");
  s.ReadSettings();
  EXPECT_FALSE(s.allowMultipleCopies);
  // Only the first 40 characters of the first line count.
  WriteFile(Dir() / "klx_copies.ini", std::string(30, ' ') + "Allow multiple copies\n");
  s.ReadSettings();
  EXPECT_FALSE(s.allowMultipleCopies);
  WriteFile(Dir() / "klx_copies.ini", "\nAllow multiple copies\n");
  s.ReadSettings();
  EXPECT_FALSE(s.allowMultipleCopies);
  WriteFile(Dir() / "klx_copies.ini", "xx Allow multiple copies");
  s.ReadSettings();
  EXPECT_TRUE(s.allowMultipleCopies);
  s.allowMultipleCopies = false;
  ASSERT_TRUE(s.WriteSettings());
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Single copy only\n");
}

// ---- Bad input ----

TEST_F(SettingsTest, GarbageTruncatedOverLongAndBinaryLinesChangeNothingElse) {
  const std::string good =
      "Port=COM3\nGPSComm=COM2\nGPS baudrate=9600\nFormat=4\nRadio=250\n"
      "Salinity=ON Hydrostatic pressure=12.50\nLatitude=10 5.000\nDO temperature=18.00\n"
      "Atmospheric pressure=10.200000\nMicro-Salinometer average=20\n"
      "Dissolved oxygen: mg/l=ON\n";
  const Settings reference = ReadFrom(good);

  std::string bad;
  // Garbage and truncated lines whose key matches but whose number is missing or bad.
  for (const char* line : {"",
                           "=",
                           "hello world",
                           "Port=COM",
                           "Port=COMx",
                           "Port=",
                           "Port=COM-3",
                           "Format=",
                           "Format=abc",
                           "GPS baudrate=",
                           "GPS baudrate=fast",
                           "GPSComm=COM",
                           "Radio=x",
                           "Atmospheric pressure=",
                           "Atmospheric pressure=nan",
                           "Atmospheric pressure=inf",
                           "Density=",
                           "Density=.",
                           "DO temperature=",
                           "DO temperature=--1",
                           "DO salinity=+-2",
                           "Latitude=",
                           "Latitude=12",
                           "Latitude=x 5",
                           "Micro-Salinometer average=",
                           "Micro-Salinometer average=99999999999999999999",
                           "MATLAB frequency: x format: y",
                           "Online calibration upper depth=",
                           "Online calibration lower pH=e5",
                           "Salinity=ON Hydrostatic pressure=",
                           "Port=COM99999999999999"}) {
    bad += line;
    bad += "\n";
  }
  // Over-long lines: only the first 95 characters are looked at, and the rest of the line is
  // never taken as a line of its own.
  bad += std::string(95, 'x') + "Port=COM9\n";
  bad += std::string(94, 'x') + "Format=8\n";
  bad += std::string(5000, 'y') + "Radio=1\n";
  // Binary lines: NUL bytes, high bytes, carriage returns, no final line feed.
  std::string binary;
  uint32_t seed = 7;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    char c = static_cast<char>(seed >> 24);
    if (c == '\n' && i % 7 != 0) c = '\0';
    binary.push_back(c);
  }
  bad += binary;
  bad += std::string("\0\0\0Port\0=COM8\n", 14);
  bad += "\r\n\r\r\n\xff\xfe\xb5\n";

  const Settings s = ReadFrom(bad + good + bad + "Port=COM");  // truncated last line
  ExpectSameValues(s, reference);
}

TEST_F(SettingsTest, OverLongLineKeepsItsFirst95Characters) {
  const Settings s = ReadFrom("Format=7" + std::string(200, ' ') + "Port=COM9\n");
  EXPECT_EQ(s.format, 7);
  EXPECT_EQ(s.port, 1);
  Settings t(Dir());
  t.ResetDefaults();
  t.ApplyLine(std::string(95, ' ') + "Port=COM9");
  EXPECT_EQ(t.port, 1);
  t.ApplyLine(std::string(86, ' ') + "Port=COM9");  // exactly 95 characters
  EXPECT_EQ(t.port, 9);
}

TEST_F(SettingsTest, CarriageReturnLineEndsAreRead) {
  const Settings s = ReadFrom("Port=COM6\r\nDensity=1.030000\r\nLanguage Support: Chinese\r\n");
  EXPECT_EQ(s.port, 6);
  EXPECT_DOUBLE_EQ(s.derived.density, 1.03);
  EXPECT_TRUE(s.languageSupport);
}

// ---- Locale ----

class LocaleGuard {
 public:
  LocaleGuard() : saved_(std::setlocale(LC_NUMERIC, nullptr)) {}
  ~LocaleGuard() { std::setlocale(LC_NUMERIC, saved_.c_str()); }

 private:
  std::string saved_;
};

TEST_F(SettingsTest, NumbersStayCFormattedUnderAGermanLocale) {
  LocaleGuard guard;
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE.UTF-8";
  char probe[32];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  ASSERT_STREQ(probe, "1,5");  // the locale really uses a decimal comma

  Settings s(Dir());
  s.ReadSettings();
  EXPECT_EQ(ReadFile(Dir() / "klx.ini"), kDefaultText);
  s.derived.doTemperature = 20.5;
  s.derived.latitudeMinutes = 12.25;
  ASSERT_TRUE(s.WriteSettings());
  const std::string text = ReadFile(Dir() / "klx.ini");
  EXPECT_NE(text.find("DO temperature=20.50\n"), std::string::npos);
  EXPECT_NE(text.find("Latitude=0 12.250\n"), std::string::npos);
  EXPECT_NE(text.find("Atmospheric pressure=10.132500\n"), std::string::npos);
  Settings back(Dir());
  back.ReadSettings();
  EXPECT_DOUBLE_EQ(back.derived.doTemperature, 20.5);
  EXPECT_DOUBLE_EQ(back.derived.latitudeMinutes, 12.25);
  EXPECT_DOUBLE_EQ(back.derived.atmosphericPressure, 10.1325);
  EXPECT_EQ(CFormat("%.2f", 3.5), "3.50");
}

}  // namespace
}  // namespace klx
