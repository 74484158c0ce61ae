#include "shell/settings.h"

#include <system_error>
#include <utility>

#include "shell/text_file.h"

namespace klx {

Settings::Settings(std::filesystem::path programDirectory, int copyNumber)
    : directory_(std::move(programDirectory)) {
  SetCopyNumber(copyNumber);
}

std::filesystem::path Settings::SettingsFilePath() const {
  if (copyNumber_ <= 1) return FirstCopySettingsFilePath();
  return directory_ / CFormat("klx.%03d.ini", copyNumber_);
}

std::filesystem::path Settings::FirstCopySettingsFilePath() const {
  return directory_ / "klx.ini";
}

std::filesystem::path Settings::CopiesFilePath() const {
  return directory_ / "klx_copies.ini";
}

void Settings::ResetDefaults() {
  port = 1;
  gpsPort = 0;
  gpsBaudRate = kDefaultGpsBaudRate;
  format = 0;
  derived = DerivedUnitSettings{};
  radioDelayEnabled = false;
  radioDelayMs = 0;
  languageSupport = false;
  microSalinometerAverage = 30;
  matlabFrequency = 0;
  matlabFormat = 0;
  showRangeChanges = true;
  onlineCalibration = OnlineCalibrationLimits{};
}

void Settings::ApplyLine(std::string_view line) {
  if (line.size() > kMaxLineLength) line = line.substr(0, kMaxLineLength);
  DerivedUnitSettings& d = derived;
  const bool on = Contains(line, "ON");
  // Switches an output and, when it goes on, notes that some derived unit is wanted.
  auto output = [&](bool& flag, bool value) {
    flag = value;
    if (value) d.someDerivedUnitWanted = true;
  };
  auto setInt = [](int& target, std::optional<int> v) {
    if (v) target = *v;
  };
  auto setDouble = [](double& target, std::optional<double> v) {
    if (v) target = *v;
  };

  // 1. to 24.: the first test that matches decides.
  if (Contains(line, "GPSComm")) {
    if (Contains(line, "NOT USED")) {
      gpsPort = 0;
    } else if (auto v = IntAfter(line, "GPSComm=COM"); v && *v >= 0) {
      gpsPort = *v;
    }
  } else if (Contains(line, "GPS baudrate")) {
    if (auto v = IntAfter(line, "GPS baudrate="); v && *v > 0) gpsBaudRate = *v;
  } else if (Contains(line, "Port")) {
    if (auto v = IntAfter(line, "Port=COM"); v && *v >= 1) port = *v;
  } else if (Contains(line, "MATLAB frequency")) {
    setInt(matlabFrequency, IntAfter(line, "frequency:"));
    setInt(matlabFormat, IntAfter(line, "format:"));
  } else if (Contains(line, "Format")) {
    setInt(format, IntAfter(line, "Format="));
  } else if (Contains(line, "Dissolved oxygen: uMol")) {
    d.doUnitUMol = true;
    output(d.dissolvedOxygenOn, on);
  } else if (Contains(line, "Dissolved oxygen: mg/l")) {
    d.doUnitMgPerL = true;
    output(d.dissolvedOxygenOn, on);
  } else if (Contains(line, "Dissolved oxygen: ml/l")) {
    d.doUnitMlPerL = true;
    output(d.dissolvedOxygenOn, on);
  } else if (Contains(line, "Dissolved oxygen (Optode concentration): mg/l")) {
    d.optodeUnitMgPerL = true;
    output(d.optodeConcentrationOn, on);
  } else if (Contains(line, "Dissolved oxygen (Optode concentration): ml/l")) {
    d.optodeUnitMlPerL = true;
    output(d.optodeConcentrationOn, on);
  } else if (Contains(line, "Dissolved oxygen (Optode saturation)")) {
    output(d.optodeSaturationOn, on);
  } else if (Contains(line, "Atmospheric pressure")) {
    setDouble(d.atmosphericPressure, DoubleAfter(line, "Atmospheric pressure="));
  } else if (Contains(line, "Density=")) {
    setDouble(d.density, DoubleAfter(line, "Density="));
  } else if (Contains(line, "DO temperature")) {
    setDouble(d.doTemperature, DoubleAfter(line, "DO temperature="));
  } else if (Contains(line, "DO salinity")) {
    setDouble(d.doSalinity, DoubleAfter(line, "DO salinity="));
  } else if (Contains(line, "Density (kg/m3)")) {
    output(d.densityAnomalyOn, on);
  } else if (Contains(line, "Conductivity correction")) {
    if (on) {
      output(d.conductivityCorrectionOn, true);
    } else if (Contains(line, "OFF")) {
      d.conductivityCorrectionOn = false;
    }
  } else if (Contains(line, "Salinity")) {
    output(d.salinityOn, on);
    setDouble(d.hydrostaticPressure, DoubleAfter(line, "Hydrostatic pressure="));
  } else if (Contains(line, "Specific conductivity")) {
    output(d.specificConductivityOn, on);
  } else if (Contains(line, "Wilson")) {
    d.soundWilson = true;
    output(d.speedOfSoundOn, on);
  } else if (Contains(line, "delGrosso")) {
    d.soundDelGrosso = true;
    output(d.speedOfSoundOn, on);
  } else if (Contains(line, "UNESCO")) {
    d.soundUnesco = true;
    output(d.speedOfSoundOn, on);
  } else if (Contains(line, "Speed of Sound")) {
    d.soundUnesco = true;
    output(d.speedOfSoundOn, !Contains(line, "OFF"));
  } else if (Contains(line, "Radio")) {
    radioDelayEnabled = true;
    if (auto v = IntAfter(line, "Radio="); v && *v >= 0) radioDelayMs = *v;
  } else if (Contains(line, "Language Support")) {
    languageSupport = true;
  } else if (Contains(line, "Latitude")) {
    const size_t at = line.find("Latitude=");
    if (at != std::string_view::npos) {
      const std::string_view rest = line.substr(at + 9);
      size_t used = 0;
      const auto degrees = LeadingInt(rest, &used);
      const auto minutes = degrees ? LeadingDouble(rest.substr(used)) : std::nullopt;
      if (degrees && minutes) {
        d.latitudeDegrees = *degrees;
        d.latitudeMinutes = *minutes;
      }
    }
  } else if (Contains(line, "Depth")) {
    d.depthSeawater = !Contains(line, "Freshwater") && !Contains(line, "Simplified");
    output(d.depthOn, on);
  } else if (Contains(line, "Online calibration upper depth=")) {
    setDouble(onlineCalibration.upperDepth, DoubleAfter(line, "Online calibration upper depth="));
  } else if (Contains(line, "Online calibration lower depth=")) {
    setDouble(onlineCalibration.lowerDepth, DoubleAfter(line, "Online calibration lower depth="));
  } else if (Contains(line, "Online calibration lower pH=")) {
    setDouble(onlineCalibration.lowerPh, DoubleAfter(line, "Online calibration lower pH="));
  } else if (Contains(line, "Online calibration upper pH=")) {
    setDouble(onlineCalibration.upperPh, DoubleAfter(line, "Online calibration upper pH="));
  } else if (Contains(line, "Online calibration lower O2=")) {
    setDouble(onlineCalibration.lowerO2, DoubleAfter(line, "Online calibration lower O2="));
  } else if (Contains(line, "Online calibration upper O2=")) {
    setDouble(onlineCalibration.upperO2, DoubleAfter(line, "Online calibration upper O2="));
  } else if (Contains(line, "Micro-Salinometer average=")) {
    setInt(microSalinometerAverage, IntAfter(line, "Micro-Salinometer average="));
  } else if (Contains(line, "Gain not required")) {
    showRangeChanges = false;  // the front end updates the menu's check mark
  }
}

std::string Settings::SettingsText() const {
  const DerivedUnitSettings& d = derived;
  auto onOff = [](bool on) { return on ? "ON" : "OFF"; };
  std::string s;
  s += CFormat("Port=COM%1d\n", port);
  if (gpsPort >= 1) {
    s += CFormat("GPSComm=COM%1d\n", gpsPort);
    s += CFormat("GPS baudrate=%d\n", gpsBaudRate);
  } else {
    s += "GPSComm=NOT USED\n";
  }
  s += CFormat("Format=%d\n", format);
  s += CFormat("Density (kg/m3)=%s\n", onOff(d.densityAnomalyOn));
  s += CFormat("Conductivity correction=%s\n", onOff(d.conductivityCorrectionOn));
  s += CFormat("Salinity=%s Hydrostatic pressure=%.2f\n", onOff(d.salinityOn),
               d.hydrostaticPressure);
  s += CFormat("Specific conductivity=%s\n", onOff(d.specificConductivityOn));
  // Dissolved oxygen: one ON line per selected unit, or a single OFF line for the first
  // selected unit (ml/l when none is).
  if (d.dissolvedOxygenOn) {
    if (d.doUnitUMol) s += "Dissolved oxygen: uMol=ON\n";
    if (d.doUnitMgPerL) s += "Dissolved oxygen: mg/l=ON\n";
    if (d.doUnitMlPerL) s += "Dissolved oxygen: ml/l=ON\n";
  } else if (d.doUnitUMol) {
    s += "Dissolved oxygen: uMol=OFF\n";
  } else if (d.doUnitMgPerL) {
    s += "Dissolved oxygen: mg/l=OFF\n";
  } else {
    s += "Dissolved oxygen: ml/l=OFF\n";
  }
  if (d.optodeConcentrationOn) {
    if (d.optodeUnitMgPerL) s += "Dissolved oxygen (Optode concentration): mg/l=ON\n";
    if (d.optodeUnitMlPerL) s += "Dissolved oxygen (Optode concentration): ml/l=ON\n";
  } else if (d.optodeUnitMgPerL) {
    s += "Dissolved oxygen (Optode concentration): mg/l=OFF\n";
  } else {
    s += "Dissolved oxygen (Optode concentration): ml/l=OFF\n";
  }
  s += CFormat("Dissolved oxygen (Optode saturation)=%s\n", onOff(d.optodeSaturationOn));
  if (d.speedOfSoundOn) {
    if (d.soundWilson) s += "Speed of Sound: Wilson=ON\n";
    if (d.soundDelGrosso) s += "Speed of Sound: delGrosso=ON\n";
    if (d.soundUnesco) s += "Speed of Sound: UNESCO=ON\n";
  } else if (d.soundWilson) {
    s += "Speed of Sound: Wilson=OFF\n";
  } else if (d.soundDelGrosso) {
    s += "Speed of Sound: delGrosso=OFF\n";
  } else {
    s += "Speed of Sound: UNESCO=OFF\n";
  }
  s += CFormat("Atmospheric pressure=%f\n", d.atmosphericPressure);
  s += CFormat("Density=%f\n", d.density);
  s += CFormat("Latitude=%d %.3f\n", d.latitudeDegrees, d.latitudeMinutes);
  s += CFormat("DO temperature=%.2f\n", d.doTemperature);
  s += CFormat("DO salinity=%.2f\n", d.doSalinity);
  if (d.depthOn)
    s += d.depthSeawater ? "Depth Seawater=ON\n" : "Depth Simplified=ON\n";
  else
    s += d.depthSeawater ? "Depth Seawater=OFF\n" : "Depth Freshwater=OFF\n";
  if (radioDelayEnabled) s += CFormat("Radio=%d\n", radioDelayMs);
  if (languageSupport) s += "Language Support: Chinese\n";
  s += CFormat("Micro-Salinometer average=%d\n", microSalinometerAverage);
  s += CFormat("MATLAB frequency: %d format: %d\n", matlabFrequency, matlabFormat);
  if (!showRangeChanges) s += "Gain not required for auto-ranging\n";
  const OnlineCalibrationLimits& c = onlineCalibration;
  s += CFormat("Online calibration lower depth=%.2lf\n", c.lowerDepth);
  s += CFormat("Online calibration upper depth=%.2lf\n", c.upperDepth);
  s += CFormat("Online calibration lower pH=%.2lf\n", c.lowerPh);
  s += CFormat("Online calibration upper pH=%.2lf\n", c.upperPh);
  s += CFormat("Online calibration lower O2=%.2lf\n", c.lowerO2);
  s += CFormat("Online calibration upper O2=%.2lf\n", c.upperO2);
  return s;
}

void Settings::ReadCopiesFile() {
  const auto lines = ReadTextLines(CopiesFilePath(), kMaxCopiesLineLength, 1);
  allowMultipleCopies =
      lines && !lines->empty() && Contains(lines->front().text, "Allow multiple copies");
}

Settings::Origin Settings::ReadSettings() {
  ResetDefaults();
  const std::filesystem::path path = SettingsFilePath();
  std::error_code ec;
  Origin origin = Origin::Read;
  if (!std::filesystem::exists(path, ec)) {
    if (copyNumber_ <= 1) {
      ReadCopiesFile();
      WriteSettings();
      return Origin::WrittenWithDefaults;
    }
    origin = CopyFileAtomically(FirstCopySettingsFilePath(), path) ? Origin::CopiedFromFirst
                                                                   : Origin::Missing;
  }
  if (const auto lines = ReadTextLines(path, kMaxLineLength)) {
    for (const TextLine& line : *lines) ApplyLine(line.text);
  }
  ReadCopiesFile();
  return origin;
}

bool Settings::WriteSettings() const {
  const bool settingsWritten = WriteTextFileAtomically(SettingsFilePath(), SettingsText());
  const bool copiesWritten = WriteTextFileAtomically(
      CopiesFilePath(), allowMultipleCopies ? "Allow multiple copies\n" : "Single copy only\n");
  return settingsWritten && copiesWritten;
}

}  // namespace klx
