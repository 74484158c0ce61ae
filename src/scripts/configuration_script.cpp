#include "scripts/configuration_script.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "calibration/read.h"
#include "calibration/write.h"
#include "cards/optode.h"
#include "decoding/channel_types.h"
#include "scripts/rcfg.h"
#include "shell/status.h"

namespace klx {

const std::array<ScriptSwitch, 8> kScriptSwitches = {{
    {"Averaging=", 32u, "Averaging"},
    {"External serial connector=", 0x800u, "External serial connector (real-time output)"},
    {"External power connector=", 0x40000u, "External power connector (autorun operation)"},
    {"6Hz profiling=", 2u, "6Hz profiling"},
    {"Thresholding=", 64u, "Thresholding"},
    {"Hysteresis=", 8u, "Hysteresis"},
    {"HiRate=", 0x20000u, "High rate sampling"},
    {"Waves=", 0x10000u, "Wave operations"},
}};

namespace {

constexpr size_t kMaxLineLength = 79;
// A script is a few lines; anything much larger is not one.
constexpr std::streamsize kMaxRcfgBytes = 64 * 1024;
constexpr size_t kCapabilityBytes = 32;
constexpr uint8_t kNmjTemperatureByte = 15;
constexpr uint8_t kNmjPressureByte = 23;

const char* const kOptodeTableSend = "ERROR #5 Configuration table send error.";
const char* const kOptodeTableRetrieve = "ERROR #6 Configuration table retrieve error.";
const char* const kOptodeTableCompare = "ERROR #7 Configuration table compare error.";
const char* const kOptodeNoLogger =
    "ERROR #9 Unable to connect to a logger.\nEnsure that the logger is connected to the host "
    "computer.";
const char* const kOptodeCalibration =
    "ERROR #8 The configuration encountered a problem during the writing of the Optode\n"
    "calibration coefficients.\n\nEnsure that there are no errors in the calibration "
    "coefficients of all channels\nand enter 0.0, 625.0, 0.0, 0.0 as the Optode calibration "
    "coefficients.";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The lines of the clear text without their trailing blanks (the padding among them); nullopt
// when one is longer than a script line may be.
std::optional<std::vector<std::string_view>> ScriptLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    const size_t last = line.find_last_not_of(" \t\r");
    line = last == std::string_view::npos ? std::string_view() : line.substr(0, last + 1);
    if (line.size() > kMaxLineLength) return std::nullopt;
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// A whole decimal number (blanks around it allowed).
std::optional<long> WholeNumber(std::string_view text) {
  const std::string digits(Trimmed(text));
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(digits.c_str(), &end, 10);
  if (errno != 0 || end != digits.c_str() + digits.size()) return std::nullopt;
  return value;
}

uint32_t CapabilityWord(const std::vector<uint8_t>& block) {
  return static_cast<uint32_t>(block[0]) | (static_cast<uint32_t>(block[1]) << 8) |
         (static_cast<uint32_t>(block[2]) << 16) | (static_cast<uint32_t>(block[3]) << 24);
}

void SetCapabilityWord(std::vector<uint8_t>& block, uint32_t word) {
  for (size_t i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>((word >> (8 * i)) & 0xFFu);
}

size_t TableChannels(const std::vector<uint8_t>& table) {
  return table.empty() ? 0 : table[0];
}

// What the script will change, built against the logger as it is.
struct ScriptPlan {
  std::vector<uint8_t> capabilities;  // the 32-byte block
  std::vector<uint8_t> table;         // configuration table data: 2 × channels + 5 bytes
  std::optional<std::string> identity;
  std::optional<OptodeMode> optode;
  size_t optodeChannel = 0;  // from 0
  uint8_t optodeAddress = 0;
  std::string changes;
};

class ScriptRun {
 public:
  ScriptRun(LoggerLink& link, CalibrationCoefficients& cal, const ScriptOptions& options,
            std::string path)
      : link_(link), cal_(cal), options_(options), path_(std::move(path)) {}

  ScriptOutcome Apply(std::string_view clearText);

 private:
  ScriptOutcome Fail(const std::string& text, ScriptOutcome outcome = ScriptOutcome::Failed) {
    link_.host().Tell(kScriptCaption, text, BoxIcon::Stop);
    return outcome;
  }
  bool ConnectSameLogger(int serial);
  bool ReadLogger();
  bool BuildPlan(const std::vector<std::string_view>& lines, int serial);
  bool PlanNmj(std::string_view line, int serial);
  bool PlanChannel(std::string_view value);
  bool PlanOptode(OptodeMode mode);
  bool SwitchOptode();
  bool WriteTableChecked(const std::vector<uint8_t>& table, const char* send, const char* retrieve,
                         const char* compare);
  bool WriteIdentity();
  bool WriteCapabilities();
  void Wait(int seconds);

  LoggerLink& link_;
  CalibrationCoefficients& cal_;
  const ScriptOptions& options_;
  std::string path_;
  std::vector<uint8_t> capabilities_;  // as the logger holds them
  std::vector<uint8_t> table_;         // as the logger holds it (data bytes)
  ScriptPlan plan_;
};

bool ScriptRun::ConnectSameLogger(int serial) {
  if (!link_.ConnectLogger()) {
    Fail(kScriptNoLoggerText);
    return false;
  }
  if (link_.state.serial != serial) {
    Fail(Format(kScriptWrongLoggerFormat, path_.c_str()));
    return false;
  }
  return true;
}

bool ScriptRun::ReadLogger() {
  LoggerState& state = link_.state;
  state.capabilitiesStale = true;
  state.configurationStale = true;
  // Only a table read now counts (a logger that keeps none would otherwise leave the last
  // logger's table in place).
  state.configurationTable.clear();
  link_.AssessCapabilities();
  if (link_.ReadConfiguration() != 1) {
    Fail(kScriptNoConfigurationText);
    return false;
  }
  if (!state.extendedCommandSet) {
    Fail(kScriptZilogText);
    return false;
  }
  const std::vector<uint8_t>& raw = state.configurationTable;
  const size_t size = 2 * TableChannels(raw) + 5;
  if (raw.empty() || raw.size() < size) {
    Fail(kScriptNoConfigurationText);
    return false;
  }
  table_.assign(raw.begin(), raw.begin() + static_cast<long>(size));

  std::vector<uint8_t> block;
  if (link_.ReadTable("R0200", block) != 1 || block.size() < kCapabilityBytes + 1) {
    Fail(kScriptNoCapabilitiesText);
    return false;
  }
  capabilities_.assign(block.begin(), block.begin() + kCapabilityBytes);
  return true;
}

bool ScriptRun::PlanNmj(std::string_view line, int serial) {
  const LoggerState& state = link_.state;
  if (!state.ModelHas("7400") && !state.ModelHas("7100")) {
    Fail("This logger cannot be changed to a NMJ-7400.");
    return false;
  }
  const bool qe = line.find("NMJ-QE") != std::string_view::npos;
  const std::string model = qe ? "NMJ-7400-QE" : "NMJ-7400";
  if (state.model == model) return true;
  plan_.identity = ScriptIdentityText(model, serial);
  plan_.changes += qe ? "- Logger type will be changed to NMJ-7400-QE.\n"
                      : "- Logger type will be changed to NMJ-7400.\n";
  if (state.ModelHas("7100") || TableChannels(plan_.table) > 1) {
    if (plan_.table.size() < 5) {
      Fail("Error during reading of the current configuration.");
      return false;
    }
    std::vector<uint8_t> table(plan_.table.begin(), plan_.table.begin() + 5);
    table[0] = 2;
    table.insert(table.end(), {'T', kNmjTemperatureByte, 'P', kNmjPressureByte});
    plan_.table = std::move(table);
  }
  return true;
}

bool ScriptRun::PlanChannel(std::string_view value) {
  // "Channel:" N "=" letter
  const size_t equals = value.find('=');
  const std::optional<long> number =
      WholeNumber(value.substr(0, equals == std::string_view::npos ? value.size() : equals));
  if (!number) {
    Fail(kScriptFormatErrorText);
    return false;
  }
  const long channels = static_cast<long>(TableChannels(plan_.table));
  if (*number < 1 || *number > channels) {
    Fail(Format("Channel %d to be changed does not exist in this logger.",
                static_cast<int>(std::clamp<long>(*number, -99999, 99999))));
    return false;
  }
  const std::string_view letterText =
      equals == std::string_view::npos ? std::string_view() : Trimmed(value.substr(equals + 1));
  if (letterText.size() != 1) {
    Fail("Error during reading of channel type to be changed.");
    return false;
  }
  const uint8_t letter = static_cast<uint8_t>(letterText[0]);
  const int row = TypeRowOfLetter(letter);
  const std::string label = ChannelLabel(row, static_cast<int>(*number));
  if (letter >= 0x80 || row == kUnknownTypeRow || label.empty()) {
    Fail("New channel type is invalid.");
    return false;
  }
  uint8_t& held = plan_.table[5 + 2 * static_cast<size_t>(*number - 1)];
  if (held == letter) return true;
  held = letter;
  plan_.changes +=
      Format("- Logger channel type will be changed to 'Channel %s'.\n", label.c_str());
  return true;
}

bool ScriptRun::PlanOptode(OptodeMode mode) {
  // The Optode channel as the logger holds it now.
  const size_t channels = TableChannels(table_);
  size_t channel = channels;
  for (size_t i = 0; i < channels; ++i) {
    const uint8_t letter = table_[5 + 2 * i];
    if (letter == 'K' || letter == 'J') {
      channel = i;
      break;
    }
  }
  if (channel == channels) {
    Fail("Logger is not equiped with an Optode sensor.");
    return false;
  }
  const uint8_t letter = table_[5 + 2 * channel];
  const bool change = mode == OptodeMode::Concentration ? letter == 'K' : letter == 'J';
  if (!change || plan_.optode == mode) return true;
  plan_.optode = mode;
  plan_.optodeChannel = channel;
  // The front end answers at the channel's parameter byte; a channel without one (0, which
  // could not even travel in the probe text) is addressed by its number.
  const uint8_t parameter = table_[6 + 2 * channel];
  plan_.optodeAddress = parameter != 0 ? parameter : static_cast<uint8_t>(channel + 1);
  plan_.changes += mode == OptodeMode::Concentration
                       ? "- Optode oxygen parameter will be changed to Concentration.\n"
                       : "- Optode oxygen parameter will be changed to Saturation.\n";
  return true;
}

bool ScriptRun::BuildPlan(const std::vector<std::string_view>& lines, int serial) {
  plan_.capabilities = capabilities_;
  plan_.table = table_;
  const LoggerState& state = link_.state;
  for (std::string_view line : lines) {
    bool handled = false;
    for (const ScriptSwitch& s : kScriptSwitches) {
      if (!StartsWith(line, s.keyword)) continue;
      handled = true;
      const bool enable = Trimmed(line.substr(std::string_view(s.keyword).size())) == "YES";
      uint32_t word = CapabilityWord(plan_.capabilities);
      if (((word & s.bit) != 0) == enable) break;
      word = enable ? (word | s.bit) : (word & ~s.bit);
      SetCapabilityWord(plan_.capabilities, word);
      plan_.changes += Format("- %s will be %s.\n", s.name, enable ? "enabled" : "disabled");
      break;
    }
    if (handled) continue;

    if (StartsWith(line, "Logger type=NMJ")) {
      if (!PlanNmj(line, serial)) return false;
    } else if (StartsWith(line, "Logger type=550")) {
      if (state.ModelHas("VS-550")) continue;
      if (!state.ModelHas("VS-330")) {
        Fail(kScriptNot550Text);
        return false;
      }
      if (plan_.identity) continue;
      plan_.identity = ScriptIdentityText("VS-550", serial);
      plan_.changes += "- Logger type will be changed to VS-550.\n";
    } else if (StartsWith(line, "Latency=")) {
      const std::optional<long> ms = WholeNumber(line.substr(8));
      if (!ms || *ms < 0 || *ms > kScriptMaxLatencyMs) {
        Fail(kScriptLatencyRangeText);
        return false;
      }
      const auto units = static_cast<uint16_t>(*ms / 10);
      const uint16_t held = static_cast<uint16_t>(plan_.table[1] | (plan_.table[2] << 8));
      if (units == held) continue;
      plan_.table[1] = static_cast<uint8_t>(units & 0xFFu);
      plan_.table[2] = static_cast<uint8_t>(units >> 8);
      plan_.changes +=
          Format("- Logger latency will be changed to %d ms.\n", static_cast<int>(*ms));
    } else if (StartsWith(line, "Channel:")) {
      if (!PlanChannel(line.substr(8))) return false;
    } else if (line == "Optode=Concentration") {
      if (!PlanOptode(OptodeMode::Concentration)) return false;
    } else if (line == "Optode=Saturation") {
      if (!PlanOptode(OptodeMode::Saturation)) return false;
    }
  }
  // The Optode's letter follows its mode in the table written at the end too, so that table
  // does not put the old letter back; a table the logger type replaced has no Optode there.
  if (plan_.optode && plan_.optodeChannel < TableChannels(plan_.table)) {
    uint8_t& letter = plan_.table[5 + 2 * plan_.optodeChannel];
    if (letter == 'J' || letter == 'K')
      letter = *plan_.optode == OptodeMode::Concentration ? 'J' : 'K';
  }
  return true;
}

void ScriptRun::Wait(int seconds) {
  for (int left = seconds; left > 0; --left) {
    if (options_.waitWindow) options_.waitWindow(Format(kScriptWaitFormat, left));
    link_.link().WaitMilliseconds(1000);
  }
}

bool ScriptRun::WriteTableChecked(const std::vector<uint8_t>& table, const char* send,
                                  const char* retrieve, const char* compare) {
  if (!link_.WriteTable("S0100", table)) {
    Fail(send);
    return false;
  }
  link_.state.SetAllStale();
  std::vector<uint8_t> back;
  if (link_.ReadTable("R0100", back) != 1) {
    Fail(retrieve);
    return false;
  }
  if (back.size() < table.size() + 1 || !std::equal(table.begin(), table.end(), back.begin())) {
    Fail(compare);
    return false;
  }
  return true;
}

bool ScriptRun::SwitchOptode() {
  const OptodeMode mode = *plan_.optode;
  const int seconds = std::max(0, options_.throughCommunicationsSeconds);
  if (options_.waitWindow) options_.waitWindow(Format(kScriptWaitFormat, seconds));
  const bool switched = OptodePresent(link_, plan_.optodeAddress) &&
                        SwitchOptodeFrontEnd(link_, plan_.optodeAddress, mode);
  // The through communications stay open for a while whatever the card said; nothing else can
  // reach the logger until they close.
  Wait(seconds);
  if (options_.waitWindow) options_.waitWindow(std::string());
  if (!switched) return false;

  if (!link_.ConnectLogger()) {
    Fail(kOptodeNoLogger);
    return false;
  }
  std::vector<uint8_t> table = table_;
  table[5 + 2 * plan_.optodeChannel] = mode == OptodeMode::Concentration ? 'J' : 'K';
  if (!WriteTableChecked(table, kOptodeTableSend, kOptodeTableRetrieve, kOptodeTableCompare))
    return false;
  // What the logger now holds is the base of the final comparison.
  table_ = table;

  // The Optode's coefficients follow its mode. They are written only over a calibration read
  // whole from this logger (or the defaults of one that holds none): never over a table the
  // read broke off, which would put defaults into every other channel.
  cal_.calibrationReadNeeded = true;
  ReadCalibration(link_, cal_);
  if (cal_.origin != CalibrationOrigin::Logger && cal_.origin != CalibrationOrigin::Uncalibrated) {
    Fail(kOptodeCalibration);
    return false;
  }
  const double slope = mode == OptodeMode::Concentration ? 625.0 : 125.0;
  cal_.coef[plan_.optodeChannel] = {0.0, slope, 0.0, 0.0};
  cal_.calibrationWriteFlags = 1u;
  if (WriteCalibration(link_, cal_) != CalibrationWrite::Written) {
    Fail(kOptodeCalibration);
    return false;
  }
  return true;
}

bool ScriptRun::WriteIdentity() {
  const std::string& text = *plan_.identity;
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  if (!link_.WriteTable("S0000", bytes)) {
    Fail("ID send error");
    return false;
  }
  link_.state.SetAllStale();
  std::vector<uint8_t> back;
  if (link_.ReadTable("R0000", back) != 1) {
    Fail("ID retrieve error");
    return false;
  }
  if (back.size() < bytes.size() + 1 || !std::equal(bytes.begin(), bytes.end(), back.begin())) {
    Fail("ID compare error");
    return false;
  }
  return true;
}

bool ScriptRun::WriteCapabilities() {
  const char* const failed = "Error during writing of the modified configuration.";
  if (!link_.WriteTable("S0200", plan_.capabilities)) {
    Fail(failed);
    return false;
  }
  link_.state.SetAllStale();
  std::vector<uint8_t> back;
  if (link_.ReadTable("R0200", back) != 1 || back.size() < kCapabilityBytes + 1 ||
      !std::equal(plan_.capabilities.begin(), plan_.capabilities.end(), back.begin())) {
    Fail(failed);
    return false;
  }
  return true;
}

ScriptOutcome ScriptRun::Apply(std::string_view clearText) {
  const std::optional<std::vector<std::string_view>> lines = ScriptLines(clearText);
  if (!lines) return Fail(kScriptFormatErrorText, ScriptOutcome::FileRejected);
  const std::optional<int> serial = ScriptSerialNumber(clearText);
  if (!serial) return Fail(kScriptFormatErrorText, ScriptOutcome::FileRejected);
  if (!FileNameCarriesSerial(path_, *serial))
    return Fail(kScriptNameMismatchText, ScriptOutcome::FileRejected);

  if (!ConnectSameLogger(*serial) || !ReadLogger()) return ScriptOutcome::Failed;
  if (!BuildPlan(*lines, *serial)) return ScriptOutcome::Failed;

  Host& host = link_.host();
  if (plan_.changes.empty()) {
    host.Tell(kScriptCaption, kScriptUnchangedText, BoxIcon::Information);
    return ScriptOutcome::Unchanged;
  }
  const std::string question = kScriptChangesHeading + plan_.changes + kScriptContinueQuestion;
  if (host.Ask(kScriptCaption, question, Buttons::YesNo, BoxIcon::Question, Answer::No) !=
      Answer::Yes)
    return ScriptOutcome::Declined;

  // The logger may have been changed while the question was open.
  if (!ConnectSameLogger(*serial)) return ScriptOutcome::Failed;
  if (plan_.optode && !SwitchOptode()) return ScriptOutcome::Failed;
  if (plan_.identity && !WriteIdentity()) return ScriptOutcome::Failed;
  if (plan_.capabilities != capabilities_ && !WriteCapabilities()) return ScriptOutcome::Failed;
  if (plan_.table != table_ &&
      !WriteTableChecked(plan_.table, "Configuration table send error",
                         "Configuration table retrieve error", "Configuration table compare error"))
    return ScriptOutcome::Failed;
  host.Tell(kScriptCaption, kScriptSucceededText, BoxIcon::Information);
  return ScriptOutcome::Applied;
}

}  // namespace

std::optional<int> ScriptSerialNumber(std::string_view clearText) {
  const std::optional<std::vector<std::string_view>> lines = ScriptLines(clearText);
  if (!lines) return std::nullopt;
  constexpr std::string_view kKeyword = "Serial number=";
  for (std::string_view line : *lines) {
    if (!StartsWith(line, kKeyword)) continue;
    const std::optional<long> value = WholeNumber(line.substr(kKeyword.size()));
    if (!value || *value < 0 || *value > 999999) return std::nullopt;
    return static_cast<int>(*value);
  }
  return std::nullopt;
}

bool FileNameCarriesSerial(const std::string& path, int serial) {
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.find(Format("%06d", serial)) != std::string::npos;
}

std::string ScriptIdentityText(const std::string& model, int serial) {
  std::string text = "KLX " + model + " %f " + Format("%06d", serial);
  text.push_back('\0');
  return text;
}

ScriptOutcome ApplyConfigurationScript(std::string_view clearText, const std::string& path,
                                       LoggerLink& link, CalibrationCoefficients& cal,
                                       const ScriptOptions& options) {
  ScriptRun run(link, cal, options, path);
  return run.Apply(clearText);
}

ScriptOutcome RunConfigurationScript(const std::string& path, LoggerLink& link,
                                     CalibrationCoefficients& cal, const ScriptOptions& options) {
  std::string rcfg;
  {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      rcfg.resize(static_cast<size_t>(kMaxRcfgBytes) + 1);
      in.read(rcfg.data(), kMaxRcfgBytes + 1);
      rcfg.resize(static_cast<size_t>(in.gcount()));
    }
    if (!in.is_open() || rcfg.size() > static_cast<size_t>(kMaxRcfgBytes)) rcfg.clear();
  }
  const std::optional<std::string> clear = rcfg.empty() ? std::nullopt : DecipherScript(rcfg);
  if (!clear) {
    link.host().Tell(kScriptCaption, kScriptFileErrorText, BoxIcon::Stop);
    return ScriptOutcome::FileRejected;
  }
  return ApplyConfigurationScript(*clear, path, link, cal, options);
}

ScriptOutcome RunConfigurationScriptCommand(const std::string& path, LoggerLink& link,
                                            CalibrationCoefficients& cal,
                                            const ScriptOptions& options) {
  const ScriptOutcome outcome = RunConfigurationScript(path, link, cal, options);
  if (outcome == ScriptOutcome::FileRejected || outcome == ScriptOutcome::Failed)
    link.host().Tell(kScriptCaption, kScriptFailedText, BoxIcon::Stop);
  if (outcome != ScriptOutcome::FileRejected) {
    link.state.SetAllStale();
    cal.calibrationReadNeeded = true;
    if (link.ConnectLogger()) {
      link.AssessCapabilities();
      link.ReadConfiguration();
    }
  }
  return outcome;
}

}  // namespace klx
