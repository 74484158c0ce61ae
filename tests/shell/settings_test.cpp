#include "shell/settings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <tuple>

#include "shell/text_file.h"
#include "temp_dir.h"

namespace klx {
namespace {

using test::TempDirTest;

const char* const kDefaultText =
    "Port=COM1\nGPSComm=NOT USED\nFormat=0\nDensity (kg/m3)=OFF\n"
    "Conductivity correction=OFF\nSalinity=OFF Hydrostatic pressure=0.00\n"
    "Specific conductivity=OFF\nDissolved oxygen: ml/l=OFF\n"
    "Dissolved oxygen (Optode concentration): ml/l=OFF\n"
    "Dissolved oxygen (Optode saturation)=OFF\nSpeed of Sound: UNESCO=OFF\n"
    "Atmospheric pressure=10.132500\nDensity=1.028100\nLatitude=0 0.000\n"
    "DO temperature=15.00\nDO salinity=35.00\nDepth Freshwater=OFF\n"
    "Micro-Salinometer average=30\nMATLAB frequency: 0 format: 0\n"
    "Online calibration lower depth=0.00\nOnline calibration upper depth=10.00\n"
    "Online calibration lower pH=4.00\nOnline calibration upper pH=10.00\n"
    "Online calibration lower O2=0.00\nOnline calibration upper O2=100.00\n";

// Every key with a value other than its default, in the order and form the writer uses.
const char* const kEveryKey =
    "Port=COM3\nGPSComm=COM2\nGPS baudrate=9600\nFormat=4\nDensity (kg/m3)=ON\n"
    "Conductivity correction=ON\nSalinity=ON Hydrostatic pressure=12.50\n"
    "Specific conductivity=ON\nDissolved oxygen: uMol=ON\nDissolved oxygen: mg/l=ON\n"
    "Dissolved oxygen (Optode concentration): mg/l=ON\n"
    "Dissolved oxygen (Optode saturation)=ON\nSpeed of Sound: Wilson=ON\n"
    "Speed of Sound: delGrosso=ON\nAtmospheric pressure=10.000000\nDensity=1.025000\n"
    "Latitude=-33 15.500\nDO temperature=20.00\nDO salinity=30.50\nDepth Seawater=ON\n"
    "Radio=250\nLanguage Support: Chinese\nMicro-Salinometer average=45\n"
    "MATLAB frequency: 2 format: 1\nGain not required for auto-ranging\n"
    "Online calibration lower depth=1.00\nOnline calibration upper depth=20.00\n"
    "Online calibration lower pH=5.00\nOnline calibration upper pH=9.00\n"
    "Online calibration lower O2=10.00\nOnline calibration upper O2=90.00\n";

class SettingsTest : public TempDirTest {
 protected:
  Settings ReadFrom(const std::string& text, int copy = 1) {
    WriteFile(Dir() / "klx.ini", text);
    Settings s(Dir(), copy);
    s.ReadSettings();
    return s;
  }
};

// The derived-unit switches that are on, by short name.
std::string On(const DerivedUnitSettings& d) {
  const bool on[] = {
      d.densityAnomalyOn,    d.conductivityCorrectionOn, d.salinityOn,       d.specificConductivityOn,
      d.dissolvedOxygenOn,   d.doUnitUMol,               d.doUnitMgPerL,     d.doUnitMlPerL,
      d.optodeConcentrationOn, d.optodeUnitMgPerL,       d.optodeUnitMlPerL, d.optodeSaturationOn,
      d.speedOfSoundOn,      d.soundWilson,              d.soundDelGrosso,   d.soundUnesco,
      d.depthOn,             d.depthSeawater,            d.someDerivedUnitWanted};
  const char* const names[] = {"density", "cc",     "sal",      "spc",    "do",
                               "uMol",    "mg",     "ml",       "opt",    "optMg",
                               "optMl",   "optSat", "sos",      "wilson", "delGrosso",
                               "unesco",  "depth",  "seawater", "wanted"};
  std::string s;
  for (size_t i = 0; i < std::size(on); ++i)
    if (on[i]) s += (s.empty() ? "" : " ") + std::string(names[i]);
  return s;
}

auto Values(const Settings& s) {
  return std::make_tuple(s.SettingsText(), s.port, s.gpsPort, s.gpsBaudRate, s.format,
                         On(s.derived), s.radioDelayEnabled, s.radioDelayMs, s.languageSupport,
                         s.microSalinometerAverage, s.matlabFrequency, s.matlabFormat,
                         s.showRangeChanges, s.allowMultipleCopies);
}
void ExpectSameValues(const Settings& a, const Settings& b) {
  EXPECT_EQ(Values(a), Values(b));
  EXPECT_TRUE(a.derived == b.derived);
  EXPECT_TRUE(a.onlineCalibration == b.onlineCalibration);
}

TEST_F(SettingsTest, MissingFilesGiveTheDefaults) {
  Settings s(Dir());
  EXPECT_EQ(s.gpsPort, -1);  // before the first read
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  EXPECT_EQ(ReadFile(Dir() / "klx.ini"), kDefaultText);
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Single copy only\n");
  EXPECT_EQ(std::make_tuple(s.port, s.gpsPort, s.gpsBaudRate, s.radioDelayEnabled, s.radioDelayMs,
                            s.languageSupport, s.showRangeChanges, s.allowMultipleCopies),
            std::make_tuple(1, 0, 4800, false, 0, false, true, false));
  EXPECT_TRUE(s.derived == DerivedUnitSettings{});
  EXPECT_TRUE(s.onlineCalibration == OnlineCalibrationLimits{});
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::Read);  // the file it wrote
  // The defaults file selects ml/l, the Optode ml/l and UNESCO by its OFF lines, and no OFF line
  // says a derived unit is wanted.
  EXPECT_EQ(On(s.derived), "ml optMl unesco");

  // Writing the defaults keeps the multiple-copies choice.
  std::filesystem::remove(Dir() / "klx.ini");
  WriteFile(Dir() / "klx_copies.ini", "Allow multiple copies\n");
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  EXPECT_TRUE(s.allowMultipleCopies);
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Allow multiple copies\n");

  // A second copy with neither file keeps the defaults and writes nothing.
  std::filesystem::remove(Dir() / "klx.ini");
  Settings second(Dir(), 2);
  EXPECT_EQ(second.SettingsFilePath(), Dir() / "klx.002.ini");
  EXPECT_EQ(second.ReadSettings(), Settings::Origin::Missing);
  EXPECT_FALSE(std::filesystem::exists(Dir() / "klx.002.ini"));
  second.SetCopyNumber(1);
  EXPECT_EQ(second.SettingsFilePath(), Dir() / "klx.ini");
}

TEST_F(SettingsTest, ThirdCopyUsesItsOwnFileMadeFromACopyOfTheFirst) {
  WriteFile(Dir() / "klx.ini", "Port=COM5\nFormat=3\nRadio=120\n");
  Settings third(Dir(), 3);
  EXPECT_EQ(third.SettingsFilePath(), Dir() / "klx.003.ini");
  EXPECT_EQ(third.ReadSettings(), Settings::Origin::CopiedFromFirst);
  EXPECT_EQ(ReadFile(Dir() / "klx.003.ini"), "Port=COM5\nFormat=3\nRadio=120\n");
  EXPECT_EQ(std::make_tuple(third.port, third.format, third.radioDelayMs),
            std::make_tuple(5, 3, 120));
  // From now on the third copy reads and writes only its own file.
  third.port = 7;
  EXPECT_TRUE(third.WriteSettings());
  EXPECT_EQ(ReadFile(Dir() / "klx.ini"), "Port=COM5\nFormat=3\nRadio=120\n");
  Settings again(Dir(), 3);
  EXPECT_EQ(again.ReadSettings(), Settings::Origin::Read);
  EXPECT_EQ(again.port, 7);
}

TEST_F(SettingsTest, EveryKeyIsReadAndWrittenBackTheSameAndEachReadStartsFromTheDefaults) {
  const Settings s = ReadFrom(kEveryKey);
  EXPECT_EQ(s.SettingsText(), kEveryKey);
  EXPECT_EQ(std::make_tuple(s.port, s.gpsPort, s.gpsBaudRate, s.format, s.radioDelayMs,
                            s.derived.latitudeDegrees, s.microSalinometerAverage),
            std::make_tuple(3, 2, 9600, 4, 250, -33, 45));
  EXPECT_EQ(On(s.derived),
            "density cc sal spc do uMol mg opt optMg optSat sos wilson delGrosso depth seawater "
            "wanted");
  EXPECT_EQ(std::make_tuple(s.derived.latitudeMinutes, s.onlineCalibration.upperO2,
                            s.showRangeChanges, s.languageSupport),
            std::make_tuple(15.5, 90.0, false, true));

  // Without GPS the baud rate line is read but not written.
  const Settings noGps = ReadFrom("GPSComm=NOT USED\nGPS baudrate=9600\n");
  EXPECT_EQ(std::make_pair(noGps.gpsPort, noGps.gpsBaudRate), std::make_pair(0, 9600));
  EXPECT_EQ(noGps.SettingsText(), kDefaultText);
  // The density value and the density output are different lines.
  const Settings density = ReadFrom("Density (kg/m3)=ON\n");
  EXPECT_EQ(On(density.derived), "density wanted");
  EXPECT_EQ(On(ReadFrom("Density=1.030000\n").derived), "");

  // Each read starts again from the defaults.
  Settings s2 = ReadFrom("Port=COM4\r\nRadio=300\r\n");
  EXPECT_EQ(std::make_pair(s2.port, s2.radioDelayEnabled), std::make_pair(4, true));
  WriteFile(Dir() / "klx.ini", "Format=2\n");
  s2.ReadSettings();
  EXPECT_EQ(std::make_tuple(s2.port, s2.radioDelayEnabled, s2.format),
            std::make_tuple(1, false, 2));
}

TEST_F(SettingsTest, OutputAndUnitLinesInTurn) {
  // Applied in turn to one settings object (a null line resets the defaults); after each, the
  // switches that are on.
  const std::pair<const char*, const char*> steps[] = {
      {nullptr, ""},
      {"Dissolved oxygen: uMol=ON", "do uMol wanted"},
      {"Dissolved oxygen: mg/l=ON", "do uMol mg wanted"},
      {"Dissolved oxygen: ml/l=OFF", "uMol mg ml wanted"},
      {nullptr, ""},
      {"Dissolved oxygen (Optode concentration): ml/l=OFF", "optMl"},
      {"Conductivity correction=ON", "cc optMl wanted"},
      {"Conductivity correction=maybe", "cc optMl wanted"},  // neither ON nor OFF: unchanged
      {"Conductivity correction=OFF", "optMl wanted"},
      {nullptr, ""},
      {"Speed of Sound=ON", "sos unesco wanted"},  // no formula: UNESCO
      {"Speed of Sound: Wilson=OFF", "wilson unesco wanted"},
      {"Speed of Sound: delGrosso=OFF", "wilson delGrosso unesco wanted"},
      {nullptr, ""},
      {"Depth Seawater=ON", "depth seawater wanted"},
      {"Depth Simplified=ON", "depth wanted"},
      {"Depth Freshwater=OFF", "wanted"}};
  Settings s(Dir());
  for (const auto& [line, on] : steps) {
    if (line)
      s.ApplyLine(line);
    else
      s.ResetDefaults();
    EXPECT_EQ(On(s.derived), on) << (line ? line : "defaults");
  }
}

TEST_F(SettingsTest, RoundTripsThroughTheFiles) {
  Settings all = ReadFrom(kEveryKey);
  all.allowMultipleCopies = true;
  ASSERT_TRUE(all.WriteSettings());
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Allow multiple copies\n");
  Settings back(Dir());
  back.ReadSettings();
  ExpectSameValues(back, all);

  // Outputs off with other units selected: each is written as its own OFF line.
  Settings s(Dir());
  s.ResetDefaults();
  s.derived.doUnitUMol = true;
  s.derived.optodeUnitMgPerL = true;
  s.derived.soundDelGrosso = true;
  s.derived.depthSeawater = true;
  s.derived.hydrostaticPressure = 7.5;
  ASSERT_TRUE(s.WriteSettings());
  back.ReadSettings();
  ExpectSameValues(back, s);
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Single copy only\n");

  // An unwritable place is silently not written, and no temporary file is left behind.
  Settings nowhere(Dir() / "no" / "such" / "directory");
  EXPECT_EQ(nowhere.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  EXPECT_FALSE(nowhere.WriteSettings());
  EXPECT_EQ(nowhere.port, 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir()), {}), 2);
}

TEST_F(SettingsTest, MultipleCopiesFileCountsOnlyTheFirst40CharactersOfItsFirstLine) {
  const std::pair<std::string, bool> cases[] = {
      {std::string(30, ' ') + "Allow multiple copies\n", false},
      {"\nAllow multiple copies\n", false},
      {"xx Allow multiple copies", true}};
  Settings s = ReadFrom("Port=COM2\n");
  for (const auto& [text, allowed] : cases) {
    WriteFile(Dir() / "klx_copies.ini", text);
    s.ReadSettings();
    EXPECT_EQ(s.allowMultipleCopies, allowed) << text;
  }
}

TEST_F(SettingsTest, GarbageTruncatedOverLongAndBinaryLinesChangeNothingElse) {
  const std::string good =
      "Port=COM3\nGPSComm=COM2\nGPS baudrate=9600\nFormat=4\nRadio=250\n"
      "Salinity=ON Hydrostatic pressure=12.50\nLatitude=10 5.000\nDO temperature=18.00\n"
      "Atmospheric pressure=10.200000\nMicro-Salinometer average=20\n"
      "Dissolved oxygen: mg/l=ON\n";
  const Settings reference = ReadFrom(good);

  // Garbage and truncated lines whose key matches but whose number is missing or bad.
  std::string bad =
      "\n=\nhello world\nPort=COMx\nPort=COM-3\nFormat=abc\nGPS baudrate=fast\nGPSComm=COM\n"
      "Radio=x\nAtmospheric pressure=nan\nDensity=.\nDO temperature=--1\nDO salinity=+-2\n"
      "Latitude=12\nMicro-Salinometer average=99999999999999999999\n"
      "MATLAB frequency: x format: y\nOnline calibration lower pH=e5\n"
      "Salinity=ON Hydrostatic pressure=\nPort=COM99999999999999\n";
  // Over-long lines: only the first 95 characters are looked at, and the rest of the line is
  // never taken as a line of its own.
  bad += std::string(95, 'x') + "Port=COM9\n";
  bad += std::string(94, 'x') + "Format=8\n";
  bad += std::string(5000, 'y') + "Radio=1\n";
  // Binary lines: NUL bytes, high bytes, carriage returns, no final line feed.
  bad += std::string("\0\0\0Port\0=COM8\n", 14);
  bad += "\r\n\r\r\n\xff\xfe\xb5\n";
  ExpectSameValues(ReadFrom(bad + good + bad + "Port=COM"), reference);  // truncated last line

  // A line is cut at 95 characters.
  Settings t(Dir());
  t.ResetDefaults();
  t.ApplyLine(std::string(95, ' ') + "Port=COM9");
  EXPECT_EQ(t.port, 1);
  t.ApplyLine(std::string(86, ' ') + "Port=COM9");  // exactly 95 characters
  EXPECT_EQ(t.port, 9);
}

struct LocaleGuard {
  std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  ~LocaleGuard() { std::setlocale(LC_NUMERIC, saved.c_str()); }
};

TEST_F(SettingsTest, NumbersStayCFormattedUnderAGermanLocale) {
  LocaleGuard guard;
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE.UTF-8";
  char probe[32];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  ASSERT_STREQ(probe, "1,5");  // the locale really uses a decimal comma

  EXPECT_EQ(ReadFrom(kEveryKey).SettingsText(), kEveryKey);
}

}  // namespace
}  // namespace klx
