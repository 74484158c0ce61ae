#pragma once
// A configuration script changes a connected logger's factory configuration: its identity, its
// capability switches, its latency, its channel types and the measuring mode of an Optode. The
// script is compared with the logger, the differences are listed and confirmed, and only what
// differs is written, each block read back. Every message goes to a box titled
// "Configuration"; a failed step ends the run and nothing further is written.
//
// Clear-text lines (at most 79 characters, one keyword each; other lines are ignored):
//   "Serial number=012345"             required; the logger's serial number, also found in the
//                                      file's name
//   "Averaging=YES" ... "Waves=YES"    capability switches ("YES" sets, anything else clears)
//   "Logger type=NMJ", "Logger type=NMJ-QE", "Logger type=550"   a new identity
//   "Latency=300"                      milliseconds (kept in 10 ms units in 16 bits)
//   "Channel:3=C"                      a channel's new type letter
//   "Optode=Concentration", "Optode=Saturation"                  the Optode's measuring mode
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/logger_link.h"
#include "records/coefficients.h"

namespace klx {

inline constexpr const char* kScriptCaption = "Configuration";
inline constexpr const char* kScriptFileErrorText = "Configuration file error.";
inline constexpr const char* kScriptFormatErrorText = "Error in file format.";
inline constexpr const char* kScriptNameMismatchText =
    "The serial number within this configuration file does not match the filename.";
inline constexpr const char* kScriptNoLoggerText =
    "Unable to connect to a logger.\nEnsure that the logger is connected to the host computer.";
// One %s: the file.
inline constexpr const char* kScriptWrongLoggerFormat =
    "You have selected the configuration file '%s'.\nThe logger connected to the host computer "
    "has a serial number different from the configuration file.\nEnsure that the correct logger "
    "is connected to the host computer.";
inline constexpr const char* kScriptNoConfigurationText =
    "Unable to read the current configuration of the logger.";
inline constexpr const char* kScriptZilogText =
    "Unable to perform configuration on this Zilog logger.";
inline constexpr const char* kScriptNoCapabilitiesText =
    "Unable to read the current capabilities of the logger.";
inline constexpr const char* kScriptChangesHeading =
    "The following changes will be made to the logger configuration:\n\n";
inline constexpr const char* kScriptUnchangedText =
    "The logger is set to the configuration required by this file.";
inline constexpr const char* kScriptContinueQuestion = "\nDo you wish to continue?";
inline constexpr const char* kScriptSucceededText =
    "The configuration of the logger has succeeded.";
inline constexpr const char* kScriptFailedText = "The configuration of the logger has failed.";
inline constexpr const char* kScriptWaitFormat =
    "Waiting for through communications to close - %d\n\nDo not exit the program nor disconnect "
    "the logger";
// The highest latency the configuration table can hold (65535 units of 10 ms).
inline constexpr int kScriptMaxLatencyMs = 655350;
inline constexpr const char* kScriptLatencyRangeText =
    "The latency in this configuration file must be a whole number of milliseconds from 0 to "
    "655350.";
inline constexpr const char* kScriptNot550Text = "This logger cannot be changed to a VS-550.";
// How long the logger keeps its through communications to the Optode front end open after the
// last packet; the host leaves the logger alone meanwhile.
inline constexpr int kThroughCommunicationsSeconds = 60;

enum class ScriptOutcome {
  FileRejected,  // the file could not be read, deciphered or matched to its name: no logger work
  Failed,        // a step with the logger failed (its message shown)
  Declined,      // the changes were listed and the user said No
  Unchanged,     // the logger already holds what the script asks for
  Applied,       // every change was written and read back
};

struct ScriptOptions {
  // The `Script_Config` wait window: the text to show, an empty text closes it.
  std::function<void(const std::string&)> waitWindow;
  int throughCommunicationsSeconds = kThroughCommunicationsSeconds;
};

// The capability switches, in the order the change list names them.
struct ScriptSwitch {
  const char* keyword;  // "Averaging="
  uint32_t bit;         // bit value in the capability word
  const char* name;     // "Averaging" in "- Averaging will be enabled.\n"
};
extern const std::array<ScriptSwitch, 8> kScriptSwitches;

// The script's "Serial number=" value, nullopt when it has none (or it is not a number of at
// most six digits).
std::optional<int> ScriptSerialNumber(std::string_view clearText);
// True when the file's own name (not its folder) carries the serial number as six digits.
bool FileNameCarriesSerial(const std::string& path, int serial);
// The identity table text, its zero byte included: "KLX NMJ-7400 %f 012345" and its forms.
std::string ScriptIdentityText(const std::string& model, int serial);

// Reads, deciphers and applies the script in `path`. Nothing but that file is read, and no file
// is written.
ScriptOutcome RunConfigurationScript(const std::string& path, LoggerLink& link,
                                     CalibrationCoefficients& cal,
                                     const ScriptOptions& options = {});
// Applies a clear-text script; `path` is the file it came from (its name is checked).
ScriptOutcome ApplyConfigurationScript(std::string_view clearText, const std::string& path,
                                       LoggerLink& link, CalibrationCoefficients& cal,
                                       const ScriptOptions& options = {});

// The whole command: runs the script, tells "The configuration of the logger has failed." when
// it failed, and then identifies the logger again and re-reads its capabilities and
// configuration table (the calibration is marked for reading).
ScriptOutcome RunConfigurationScriptCommand(const std::string& path, LoggerLink& link,
                                            CalibrationCoefficients& cal,
                                            const ScriptOptions& options = {});

}  // namespace klx
