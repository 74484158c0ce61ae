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

// The defaults file, from its first lines to its last.
const char* const kDefaultLines[] = {
    "Port=COM1\nGPSComm=NOT USED\nFormat=0\n", "\nSalinity=OFF Hydrostatic pressure=0.00\n",
    "\nAtmospheric pressure=10.132500\nDensity=1.028100\nLatitude=0 0.000\n",
    "\nDepth Freshwater=OFF\nMicro-Salinometer average=30\n",
    "\nOnline calibration lower O2=0.00\nOnline calibration upper O2=100.00\n"};

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
  const bool on[] = {d.densityAnomalyOn, d.conductivityCorrectionOn, d.salinityOn,
                     d.specificConductivityOn, d.dissolvedOxygenOn, d.doUnitUMol, d.doUnitMgPerL,
                     d.doUnitMlPerL, d.optodeConcentrationOn, d.optodeUnitMgPerL,
                     d.optodeUnitMlPerL, d.optodeSaturationOn, d.speedOfSoundOn, d.soundWilson,
                     d.soundDelGrosso, d.soundUnesco, d.depthOn, d.depthSeawater,
                     d.someDerivedUnitWanted};
  const char* const names[] = {"density", "cc", "sal", "spc", "do", "uMol", "mg", "ml", "opt",
                               "optMg", "optMl", "optSat", "sos", "wilson", "delGrosso",
                               "unesco", "depth", "seawater", "wanted"};
  std::string s;
  for (size_t i = 0; i < std::size(on); ++i)
    if (on[i]) s += (s.empty() ? "" : " ") + std::string(names[i]);
  return s;
}

void ExpectSameValues(const Settings& a, const Settings& b) {
  EXPECT_EQ(a.SettingsText(), b.SettingsText());
  EXPECT_TRUE(a.gpsBaudRate == b.gpsBaudRate && a.radioDelayEnabled == b.radioDelayEnabled &&
              a.derived == b.derived && a.onlineCalibration == b.onlineCalibration);
}

TEST_F(SettingsTest, MissingFilesGiveTheDefaults) {
  Settings s(Dir());
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  const std::string defaults = ReadFile(Dir() / "klx.ini");
  for (const char* lines : kDefaultLines) EXPECT_NE(defaults.find(lines), std::string::npos);
  EXPECT_TRUE(defaults.starts_with(kDefaultLines[0]) && defaults.ends_with(kDefaultLines[4]));
  EXPECT_EQ(ReadFile(Dir() / "klx_copies.ini"), "Single copy only\n");
  EXPECT_TRUE(s.gpsBaudRate == 4800 && !s.radioDelayEnabled && s.showRangeChanges);
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::Read);  // the file it wrote
  // Its OFF lines select ml/l, the Optode ml/l and UNESCO; none says a derived unit is wanted.
  EXPECT_EQ(On(s.derived), "ml optMl unesco");

  // Writing the defaults keeps the multiple-copies choice.
  std::filesystem::remove(Dir() / "klx.ini");
  WriteFile(Dir() / "klx_copies.ini", "Allow multiple copies\n");
  EXPECT_EQ(s.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  EXPECT_TRUE(s.allowMultipleCopies &&
              ReadFile(Dir() / "klx_copies.ini") == "Allow multiple copies\n");

  // A second copy with neither file keeps the defaults and writes nothing.
  std::filesystem::remove(Dir() / "klx.ini");
  Settings second(Dir(), 2);
  EXPECT_EQ(second.SettingsFilePath(), Dir() / "klx.002.ini");
  EXPECT_EQ(second.ReadSettings(), Settings::Origin::Missing);
  EXPECT_FALSE(std::filesystem::exists(Dir() / "klx.002.ini"));
}

TEST_F(SettingsTest, ThirdCopyUsesItsOwnFileMadeFromACopyOfTheFirst) {
  WriteFile(Dir() / "klx.ini", "Port=COM5\n");
  Settings third(Dir(), 3);
  EXPECT_EQ(third.ReadSettings(), Settings::Origin::CopiedFromFirst);
  EXPECT_EQ(ReadFile(Dir() / "klx.003.ini"), "Port=COM5\n");
  third.port = 7;  // from now on the third copy reads and writes only its own file
  EXPECT_TRUE(third.WriteSettings());
  EXPECT_EQ(ReadFile(Dir() / "klx.ini"), "Port=COM5\n");
  EXPECT_EQ(third.ReadSettings(), Settings::Origin::Read);
  EXPECT_EQ(third.port, 7);
}

TEST_F(SettingsTest, EveryKeyIsReadAndWrittenBackTheSameAndEachReadStartsFromTheDefaults) {
  const Settings s = ReadFrom(kEveryKey);
  EXPECT_EQ(s.SettingsText(), kEveryKey);
  EXPECT_EQ(On(s.derived),
            "density cc sal spc do uMol mg opt optMg optSat sos wilson delGrosso depth seawater "
            "wanted");

  // Without GPS the baud rate line is read but not written.
  const Settings noGps = ReadFrom("GPSComm=NOT USED\nGPS baudrate=9600\n");
  EXPECT_EQ(std::make_pair(noGps.gpsPort, noGps.gpsBaudRate), std::make_pair(0, 9600));
  EXPECT_EQ(noGps.SettingsText().find("GPS baudrate"), std::string::npos);
  // The density value and the density output are different lines.
  EXPECT_EQ(On(ReadFrom("Density=1.030000\n").derived), "");

  // Each read starts again from the defaults.
  Settings s2 = ReadFrom("Port=COM4\r\nRadio=300\r\n");
  EXPECT_TRUE(s2.port == 4 && s2.radioDelayEnabled);
  WriteFile(Dir() / "klx.ini", "Format=2\n");
  s2.ReadSettings();
  EXPECT_TRUE(s2.port == 1 && !s2.radioDelayEnabled && s2.format == 2);
}

TEST_F(SettingsTest, OutputAndUnitLinesInTurn) {
  // Applied in turn from the defaults; after each, the switches that are on.
  const std::pair<const char*, const char*> steps[] = {
      {"Conductivity correction=ON", "cc wanted"},
      {"Conductivity correction=maybe", "cc wanted"},  // neither ON nor OFF: unchanged
      {"Speed of Sound=ON", "cc sos unesco wanted"},   // no formula: UNESCO
      {"Depth Seawater=ON", "cc sos unesco depth seawater wanted"},
      {"Depth Simplified=ON", "cc sos unesco depth wanted"}};
  Settings s(Dir());
  s.ResetDefaults();
  for (const auto& [line, on] : steps) {
    s.ApplyLine(line);
    EXPECT_EQ(On(s.derived), on) << line;
  }
}

TEST_F(SettingsTest, RoundTripsThroughTheFiles) {
  // Outputs off with other units selected: each is written as its own OFF line.
  Settings s(Dir()), back(Dir());
  s.ResetDefaults();
  DerivedUnitSettings& d = s.derived;
  d.doUnitUMol = d.optodeUnitMgPerL = d.soundDelGrosso = d.depthSeawater = true;
  d.hydrostaticPressure = 7.5;
  ASSERT_TRUE(s.WriteSettings());
  back.ReadSettings();
  ExpectSameValues(back, s);

  // An unwritable place is silently not written, and no temporary file is left behind.
  Settings nowhere(Dir() / "no" / "such" / "directory");
  EXPECT_EQ(nowhere.ReadSettings(), Settings::Origin::WrittenWithDefaults);
  EXPECT_FALSE(nowhere.WriteSettings());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir()), {}), 2);
}

TEST_F(SettingsTest, MultipleCopiesFileCountsOnlyTheFirst40CharactersOfItsFirstLine) {
  const std::string allow = "Allow multiple copies";
  const std::pair<std::string, bool> cases[] = {
      {std::string(20, ' ') + allow, false}, {"\n" + allow, false},
      {std::string(19, ' ') + allow, true}};
  Settings s = ReadFrom("Port=COM2\n");
  for (const auto& [text, allowed] : cases) {
    WriteFile(Dir() / "klx_copies.ini", text);
    s.ReadSettings();
    EXPECT_EQ(s.allowMultipleCopies, allowed) << text;
  }
}

TEST_F(SettingsTest, GarbageTruncatedOverLongAndBinaryLinesChangeNothingElse) {
  const std::string good = "Port=COM3\nGPSComm=COM2\nFormat=4\nRadio=250\nLatitude=10 5.000\n"
                           "Salinity=ON Hydrostatic pressure=12.50\nAtmospheric pressure=10.2\n";
  const Settings reference = ReadFrom(good);

  // Garbage and truncated lines whose key matches but whose number is missing or bad.
  std::string bad =
      "\n=\nPort=COMx\nPort=COM-3\nGPSComm=COM\nRadio=x\nAtmospheric pressure=nan\n"
      "Latitude=12\nMATLAB frequency: x format: y\nSalinity=ON Hydrostatic pressure=\n";
  // Only the first 95 characters of a line are looked at; the rest is not a line of its own.
  bad += std::string(94, 'x') + "Format=8\n" + std::string(5000, 'y') + "Radio=1\n";
  bad += std::string("\0\0\0Port\0=COM8\n\r\r\n\xff\xfe\xb5\n", 21);  // binary
  ExpectSameValues(ReadFrom(bad + good + bad + "Port=COM"), reference);  // truncated last line

  Settings t(Dir());  // a line is cut at 95 characters
  t.ApplyLine(std::string(95, ' ') + "Port=COM9");
  EXPECT_EQ(t.port, 1);
  t.ApplyLine(std::string(86, ' ') + "Port=COM9");  // exactly 95 characters
  EXPECT_EQ(t.port, 9);
}

TEST_F(SettingsTest, NumbersStayCFormattedUnderAGermanLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE.UTF-8";
  const std::string text = ReadFrom(kEveryKey).SettingsText();
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(text, kEveryKey);
}

}  // namespace
}  // namespace klx
