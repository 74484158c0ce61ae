// Configuration scripts applied to simulated loggers, and what a failure leaves alone.
#include "scripts/configuration_script.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "calibration/sim_link_fixture.h"
#include "scripts/rcfg.h"
#include "shell/status.h"
#include "shell/temp_dir.h"
#include "sim/sim_cards.h"

namespace klx {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Row = std::array<double, 4>;

// The NMJ-7400 profile's capability word: averaging, waves, high rates on; hysteresis off.
constexpr uint32_t kCapabilityWord = 0x000374B5u;

class ScriptTest : public test::TempDirTest {
 protected:
  void SetUp() override { TempDirTest::SetUp(), Make("NMJ-7400"); }
  void Make(const std::string& profile, const std::function<void(sim::SimProfile&)>& edit = {}) {
    sim = std::make_unique<test::SimLinkFixture>(profile, edit);
    initialCapabilities = sim->simLogger->Table(2).value_or(Bytes{});
    options.waitWindow = [this](const std::string& text) { waits.push_back(text); };
    options.throughCommunicationsSeconds = 3;
  }
  fs::path Script(const std::string& name, const std::string& clear) {
    WriteFile(Dir() / name, EncipherScript(clear));
    return Dir() / name;
  }
  ScriptOutcome Run(const fs::path& path) {
    sim->host.answers = {Answer::Yes};
    return RunConfigurationScript(path.string(), sim->logger, cal, options);
  }
  // A script for the Optode logger's serial number.
  ScriptOutcome RunOptode(const std::string& lines) {
    return Run(Script("040330.rcfg", "Serial number=040330\n" + lines));
  }
  std::vector<std::string> Told(bool asks = true) const {
    std::vector<std::string> texts;
    for (const auto& e : sim->host.events)
      if (e.kind == "tell" || (asks && e.kind == "ask")) texts.push_back(e.text);
    return texts;
  }
  std::string LastTell() const { return Told(false).empty() ? "" : Told(false).back(); }
  uint32_t HeldCapabilityWord() const {
    const auto b = sim->simLogger->Table(2).value_or(Bytes(4));
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
  }
  Bytes Table() const { return sim->simLogger->Table(1).value_or(Bytes{}); }
  Row Coefficients(size_t channel) const {
    const auto list = sim->simLogger->Calibrations();
    return list.empty() || list.back().coef.size() <= channel ? Row{} : list.back().coef[channel];
  }

  std::unique_ptr<test::SimLinkFixture> sim;
  Bytes initialCapabilities;  // the 32-byte block before the script
  CalibrationCoefficients cal;
  ScriptOptions options;
  std::vector<std::string> waits;  // the wait window's lines
};

TEST_F(ScriptTest, ASettingsListTheLoggerAlreadyHoldsWritesNothing) {
  EXPECT_EQ(Run(Script("cfg_071342.rcfg",
                       "Serial number=071342\nAveraging=YES\nWaves=YES\nHiRate=YES\n"
                       "Hysteresis=NO\nThresholding=no\nLatency=300\nChannel:1=T\n"
                       "Channel:2=P\nLogger type=NMJ\nSome comment line\n")),
            ScriptOutcome::Unchanged);
  EXPECT_EQ(Told(), std::vector<std::string>{kScriptUnchangedText});
  EXPECT_EQ(sim->Heard("S0"), 0);
}

TEST_F(ScriptTest, ChangesAreListedInFileOrderAndWrittenAfterYes) {
  EXPECT_EQ(Run(Script("071342.rcfg",
                       "Serial number=071342\r\nHysteresis=YES\r\nAveraging=NO\r\n"
                       "Latency=450\r\nChannel:2=L\r\nWaves=YES\r\n")),
            ScriptOutcome::Applied);
  EXPECT_EQ(Told(), (std::vector<std::string>{
                        "The following changes will be made to the logger configuration:\n\n"
                        "- Hysteresis will be enabled.\n- Averaging will be disabled.\n"
                        "- Logger latency will be changed to 450 ms.\n"
                        "- Logger channel type will be changed to 'Channel  2 - Paroscientific'.\n"
                        "\nDo you wish to continue?",
                        kScriptSucceededText}));
  EXPECT_EQ(HeldCapabilityWord(), (kCapabilityWord | 8u) & ~32u);
  // The bytes behind the capability word travel unchanged.
  const Bytes held = sim->simLogger->Table(2).value_or(Bytes{});
  ASSERT_EQ(initialCapabilities.size(), 32u);
  ASSERT_EQ(held.size(), 32u);
  EXPECT_TRUE(std::equal(held.begin() + 4, held.end(), initialCapabilities.begin() + 4));
  // Count, latency 45 × 10 ms, reading time 2 × 100 ms, then letter and byte per channel.
  EXPECT_EQ(*sim->simLogger->Table(1), (Bytes{2, 45, 0, 2, 0, 'T', 0, 'L', 1}));
  EXPECT_EQ(sim->Heard("S0000"), 0);
}

TEST_F(ScriptTest, AFailedIdentityStepWritesNothingAfterIt) {
  for (const bool send : {true, false}) {
    Make("NMJ-7400");
    if (send)
      sim->simLogger->NakNextWrites(1);
    else
      sim->simLogger->AnswerUnknown("R0000");
    EXPECT_EQ(Run(Script("071342.rcfg",
                         "Serial number=071342\nLogger type=NMJ-QE\nAveraging=NO\n"
                         "Latency=1000\n")),
              ScriptOutcome::Failed);
    EXPECT_EQ(Told().back(), send ? "ID send error" : "ID retrieve error");
    EXPECT_EQ(sim->Heard("S0200") + sim->Heard("S0100"), 0);
    EXPECT_EQ(HeldCapabilityWord(), kCapabilityWord);
  }
}

TEST_F(ScriptTest, TheSerialNumberIsLookedForInTheFileNameOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"logger_012345_v2.rcfg", true}, {"12345.rcfg", false}, {"/data/012345/script.rcfg", false},
      {"C:\\scripts\\012345\\new.rcfg", false}, {"C:\\scripts\\a012345.rcfg", true}};
  for (const auto& [path, carries] : cases)
    EXPECT_EQ(FileNameCarriesSerial(path, 12345), carries) << path;
}

// A refusal gives its one message and writes nothing; a bad file is refused before any traffic.
TEST_F(ScriptTest, ARefusedScriptGivesItsMessageAndWritesNothing) {
  const auto with = [](const std::string& line) {
    return EncipherScript("Serial number=071342\nAveraging=NO\n" + line + "\nWaves=NO\n");
  };
  struct Case {
    std::string name, rcfg;  // no rcfg: the file is missing
    ScriptOutcome outcome;
    std::string message;  // "@" stands for the file's path; empty: not checked
    bool quiet = false;   // refused before the logger hears anything
  };
  constexpr auto kFailed = ScriptOutcome::Failed, kRejected = ScriptOutcome::FileRejected;
  const Case cases[] = {
      {"071342.rcfg", with("Latency=655360"), kFailed, kScriptLatencyRangeText},
      {"071342.rcfg", with("Channel:3=T"), kFailed,
       "Channel 3 to be changed does not exist in this logger."},
      {"071342.rcfg", with("Channel:1="), kFailed,
       "Error during reading of channel type to be changed."},
      {"071342.rcfg", with("Channel:1=Q"), kFailed, "New channel type is invalid."},
      {"071342.rcfg", with("Optode=Concentration"), kFailed,
       "Logger is not equiped with an Optode sensor."},
      {"071342.rcfg", with("Logger type=550"), kFailed, kScriptNot550Text},
      {"071342.rcfg", with(std::string(80, 'x')), kRejected, kScriptFormatErrorText},
      {"012345.rcfg", EncipherScript("Serial number=12345\nAveraging=NO\n"), kFailed,
       "You have selected the configuration file '@'.\nThe logger connected to the host computer "
       "has a serial number different from the configuration file.\nEnsure that the correct "
       "logger is connected to the host computer."},
      {"071342/new.rcfg", with(""), kRejected, kScriptNameMismatchText, true},
      {"071342.rcfg", "Serial number=071342\n", kRejected, kScriptFileErrorText, true},
      {"071342.rcfg", EncipherScript("Serial number=071342\n", TeaKey{1, 2, 3, 4}), kRejected,
       kScriptFormatErrorText, true},
      {"missing_071342.rcfg", "", kRejected, "", true},
  };
  fs::create_directories(Dir() / "071342");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + ": " + c.message);
    Make("NMJ-7400");
    const fs::path path = Dir() / c.name;
    if (!c.rcfg.empty()) WriteFile(path, c.rcfg);
    EXPECT_EQ(Run(path), c.outcome);
    std::string message = c.message;
    if (const size_t at = message.find('@'); at != std::string::npos)
      message.replace(at, 1, path.string());
    if (!message.empty()) {
      EXPECT_EQ(Told(), std::vector<std::string>{message});
    }
    EXPECT_EQ(sim->Heard("S0"), 0);
    EXPECT_TRUE(!c.quiet || sim->simLogger->CommandLog().empty());
  }
}

// The clear text lives in memory only: no other file appears or changes.
TEST_F(ScriptTest, OnlyTheScriptFileItselfIsTouched) {
  const fs::path before = fs::current_path();
  fs::current_path(Dir());
  const fs::path path =
      Script("071342.rcfg", "Serial number=071342\nHysteresis=YES\nLatency=500\n");
  const std::string rcfg = ReadFile(path);
  const auto listing = [&] {
    std::map<std::string, fs::file_time_type> files;
    for (const auto& entry : fs::recursive_directory_iterator(Dir()))
      files[entry.path().string()] = fs::last_write_time(entry.path());
    return files;
  };
  const auto start = listing();
  const ScriptOutcome outcome = Run(path);
  EXPECT_EQ(start, listing());
  fs::current_path(before);
  EXPECT_EQ(outcome, ScriptOutcome::Applied);
  EXPECT_EQ(ReadFile(path), rcfg);
}

TEST_F(ScriptTest, AfterTheCommandTheLoggerReportsItsNewIdentityAndCapabilities) {
  Make("NMK-7400-CT");
  const fs::path path =
      Script("072210.rcfg", "Serial number=072210\nLogger type=NMJ\nHysteresis=YES\n");
  sim->host.answers = {Answer::Yes};
  EXPECT_EQ(RunConfigurationScriptCommand(path.string(), sim->logger, cal, options),
            ScriptOutcome::Applied);
  // The identity keeps "%f" for the logger's firmware version; the table becomes T and P.
  const std::string id = "KLX NMJ-7400 %f 072210";
  Bytes expected(id.begin(), id.end());
  expected.push_back(0);
  EXPECT_EQ(sim->simLogger->Table(0), expected);
  const auto table = sim->simLogger->Table(1).value_or(Bytes(9));
  EXPECT_EQ(Bytes(table.begin() + 5, table.end()), (Bytes{'T', 15, 'P', 23}));
  // The program identified the logger again and knows its new model and channels.
  EXPECT_EQ(sim->logger.state.model, "NMJ-7400");
  EXPECT_EQ(sim->logger.state.channelTypes, "TP");
  EXPECT_TRUE(sim->logger.state.hysteresis);
}

TEST_F(ScriptTest, OptodeConcentrationSwitchesTheCardTheLetterAndTheCoefficients) {
  Make("VS-330-optode");
  const Row temperature = Coefficients(0), pressure = Coefficients(1);
  EXPECT_EQ(RunOptode("Optode=Concentration\nLatency=400\n"), ScriptOutcome::Applied);
  EXPECT_EQ(sim->simLogger->Cards().OptodeMode(), 2);
  // The table written last keeps the Optode's new letter beside the new latency.
  const Bytes table = Table();
  ASSERT_GE(table.size(), 11u);
  EXPECT_EQ(std::make_pair(table[1], table[9]), std::make_pair(uint8_t{40}, uint8_t{'J'}));
  EXPECT_EQ(Coefficients(2), (Row{0.0, 625.0, 0.0, 0.0}));
  EXPECT_EQ(Coefficients(0), temperature);
  EXPECT_EQ(Coefficients(1), pressure);
  ASSERT_FALSE(Told(false).empty());
  EXPECT_NE(Told(false).front().find("has been reconfigured"), std::string::npos);
  EXPECT_EQ(LastTell(), kScriptSucceededText);
  // The wait window counts the through communications down and closes.
  const auto wait = [](int n) { return Format(kScriptWaitFormat, n); };
  EXPECT_EQ(waits, (std::vector<std::string>{wait(3), wait(3), wait(2), wait(1), ""}));
}

TEST_F(ScriptTest, OptodeSaturationOnAConcentrationChannel) {
  Make("VS-330-optode", [](sim::SimProfile& p) {
    p.channels[2].type = 'J';
    p.calibration[2] = {0, 625, 0, 0};
  });
  EXPECT_EQ(RunOptode("Optode=Saturation\n"), ScriptOutcome::Applied);
  EXPECT_EQ(sim->simLogger->Cards().OptodeMode(), 1);
  EXPECT_EQ(Table().at(9), 'K');
  EXPECT_EQ(Coefficients(2), (Row{0.0, 125.0, 0.0, 0.0}));
}

TEST_F(ScriptTest, OptodeAFrontEndFailureWritesNothing) {
  Make("VS-330-optode", [](sim::SimProfile& p) { p.cards.optodeAbsent = true; });
  const Row before = Coefficients(2);
  EXPECT_EQ(RunOptode("Optode=Concentration\nAveraging=YES\n"), ScriptOutcome::Failed);
  EXPECT_EQ(LastTell().find("ERROR #3 Unable to confirm the presence of an Optode sensor"), 0u);
  EXPECT_EQ(sim->Heard("S0") + sim->Heard("U"), 0);
  EXPECT_EQ(Coefficients(2), before);
  EXPECT_EQ(waits.back(), "");
}

TEST_F(ScriptTest, OptodeACalibrationThatCannotBeReadIsNotReplacedByDefaults) {
  Make("VS-330-optode");
  sim->simLogger->AnswerUnknown("V");
  const Row temperature = Coefficients(0);
  EXPECT_EQ(RunOptode("Optode=Concentration\nLatency=400\n"), ScriptOutcome::Failed);
  EXPECT_EQ(LastTell().find("ERROR #8 The configuration encountered a problem"), 0u);
  EXPECT_EQ(sim->Heard("U"), 0);
  EXPECT_EQ(Coefficients(0), temperature);
  // The Optode's letter was written with the switch; the rest of the script was not.
  EXPECT_EQ(sim->Heard("S0100"), 1);
  EXPECT_EQ(std::make_pair(Table().at(1), Table().at(9)), std::make_pair(uint8_t{30}, uint8_t{'J'}));
}

// A logger type change keeps its own table: the Optode's letter is not written over it.
TEST_F(ScriptTest, OptodeALoggerTypeChangeKeepsItsOwnTable) {
  Make("VS-330-optode", [](sim::SimProfile& p) {
    p.model = "NMV-7400";
    std::swap(p.channels[1], p.channels[2]);  // T K P
  });
  EXPECT_EQ(RunOptode("Logger type=NMJ\nOptode=Concentration\n"), ScriptOutcome::Applied);
  const Bytes table = Table();
  ASSERT_GE(table.size(), 9u);
  EXPECT_EQ(std::make_pair(table[5], table[7]), std::make_pair(uint8_t{'T'}, uint8_t{'P'}));
}

}  // namespace
}  // namespace klx
