#pragma once
// The settings file of this copy of the program ("klx.ini", or "klx.%03d.ini" for copy n >= 2)
// and the multiple-copies file "klx_copies.ini".
#include <filesystem>
#include <string>
#include <string_view>

namespace klx {

// The derived-unit choices and constants (the derived-quantity code computes with them; the
// settings file stores them).
struct DerivedUnitSettings {
  bool densityAnomalyOn = false;          // "Density (kg/m3)"
  bool conductivityCorrectionOn = false;  // "Conductivity correction"
  bool salinityOn = false;                // "Salinity"
  double hydrostaticPressure = 0.0;       // dbar, used without a pressure channel
  bool specificConductivityOn = false;    // "Specific conductivity"
  // Dissolved oxygen from a saturation sensor, with its units (several may be selected).
  bool dissolvedOxygenOn = false;
  bool doUnitUMol = false;
  bool doUnitMgPerL = false;
  bool doUnitMlPerL = false;
  // Optode concentration and its units, and Optode saturation.
  bool optodeConcentrationOn = false;
  bool optodeUnitMgPerL = false;
  bool optodeUnitMlPerL = false;
  bool optodeSaturationOn = false;
  // Speed of sound and its formulas (several may be selected).
  bool speedOfSoundOn = false;
  bool soundWilson = false;
  bool soundDelGrosso = false;
  bool soundUnesco = false;
  double atmosphericPressure = 10.1325;  // dbar
  double density = 1.0281;               // g/cm3, simplified depth and wave energy
  int latitudeDegrees = 0;
  double latitudeMinutes = 0.0;
  double doTemperature = 15.0;  // °C, used without a temperature channel
  double doSalinity = 35.0;     // PSU, used without a conductivity channel
  bool depthOn = false;
  bool depthSeawater = false;  // false: the simplified method (no formula selected by default)
  // Set by every settings line that switches an output on: some derived unit is wanted.
  bool someDerivedUnitWanted = false;

  friend bool operator==(const DerivedUnitSettings&, const DerivedUnitSettings&) = default;
};

// The limits of the two-point ("online") calibration.
struct OnlineCalibrationLimits {
  double lowerDepth = 0.0;
  double upperDepth = 10.0;
  double lowerPh = 4.0;
  double upperPh = 10.0;
  double lowerO2 = 0.0;
  double upperO2 = 100.0;

  friend bool operator==(const OnlineCalibrationLimits&, const OnlineCalibrationLimits&) = default;
};

class Settings {
 public:
  // What ReadSettings found.
  enum class Origin {
    Read,                 // the settings file of this copy was read
    WrittenWithDefaults,  // first copy, no file: written with the defaults
    CopiedFromFirst,      // copy n >= 2, no file: made from a copy of klx.ini, then read
    Missing,              // copy n >= 2, neither file: defaults in force, nothing written
  };

  static constexpr size_t kMaxLineLength = 95;        // characters of a settings line read
  static constexpr size_t kMaxCopiesLineLength = 40;  // characters of the copies file read
  static constexpr int kDefaultGpsBaudRate = 4800;

  // `copyNumber` is 1 for the first copy, n >= 2 for a secondary copy.
  explicit Settings(std::filesystem::path programDirectory, int copyNumber = 1);

  const std::filesystem::path& ProgramDirectory() const { return directory_; }
  int CopyNumber() const { return copyNumber_; }
  void SetCopyNumber(int copyNumber) { copyNumber_ = copyNumber < 1 ? 1 : copyNumber; }

  // dir/"klx.ini", or dir/"klx.%03d.ini" for copy n >= 2.
  std::filesystem::path SettingsFilePath() const;
  // dir/"klx.ini" whatever the copy.
  std::filesystem::path FirstCopySettingsFilePath() const;
  // dir/"klx_copies.ini".
  std::filesystem::path CopiesFilePath() const;

  // Sets every value of the settings file to its default (the multiple-copies flag is left
  // alone: it belongs to the copies file).
  void ResetDefaults();
  // Resets the defaults, reads this copy's settings file (creating it when missing) and then
  // the multiple-copies file.
  // When the first copy's file is missing, the multiple-copies file is
  // read before the defaults are written, so that writing them keeps its choice.
  Origin ReadSettings();
  // Rewrites this copy's settings file in the table order and the multiple-copies file. A file
  // that cannot be written is silently not written; the result tells whether both were.
  bool WriteSettings() const;

  // Applies one line of the settings file (at most kMaxLineLength characters are looked at);
  // unknown lines change nothing.
  void ApplyLine(std::string_view line);
  // The text WriteSettings puts in the settings file.
  std::string SettingsText() const;
  // Reads the first line of the copies file; a missing file means not allowed.
  void ReadCopiesFile();

  // ---- Values ----
  int port = 1;      // logger COM port number
  int gpsPort = -1;  // -1 before the first read, 0 no GPS
  int gpsBaudRate = kDefaultGpsBaudRate;
  int format = 0;  // save-file format number (dat layout)
  DerivedUnitSettings derived;
  bool radioDelayEnabled = false;  // `RadioDelay` of the serial link
  int radioDelayMs = 0;
  bool languageSupport = false;  // "Language Support: Chinese"
  int microSalinometerAverage = 30;
  int matlabFrequency = 0;
  int matlabFormat = 0;
  bool showRangeChanges = true;  // "&Show range changes"
  OnlineCalibrationLimits onlineCalibration;
  bool allowMultipleCopies = false;  // the copies file

 private:
  std::filesystem::path directory_;
  int copyNumber_ = 1;
};

}  // namespace klx
