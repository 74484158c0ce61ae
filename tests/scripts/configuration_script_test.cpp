// Configuration scripts applied to simulated loggers: what is compared, listed, confirmed and
// written, and what a failure leaves alone.
#include "scripts/configuration_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "calibration/sim_link_fixture.h"
#include "scripts/rcfg.h"
#include "shell/temp_dir.h"

namespace klx {
namespace {

namespace fs = std::filesystem;

// The NMJ-7400 profile's capability word (cap.0): averaging, waves and high rates on;
// hysteresis, thresholding, 6 Hz profiling and both connectors off.
constexpr uint32_t kCapabilityWord = 0x000374B5u;

class ScriptTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    Make("NMJ-7400");
  }
  void Make(const std::string& profile, const std::function<void(sim::SimProfile&)>& edit = {}) {
    sim = std::make_unique<test::SimLinkFixture>(profile, edit);
    initialCapabilities = sim->simLogger->Table(2).value_or(std::vector<uint8_t>{});
  }
  fs::path Script(const std::string& name, const std::string& clear) {
    const fs::path path = Dir() / name;
    WriteFile(path, EncipherScript(clear));
    return path;
  }
  ScriptOutcome Run(const fs::path& path, std::vector<Answer> answers = {}) {
    sim->host.answers = std::move(answers);
    return RunConfigurationScript(path.string(), sim->logger, cal, options);
  }
  int TableWrites() const { return sim->Heard("S0"); }
  std::vector<std::string> Told() const {
    std::vector<std::string> texts;
    for (const auto& e : sim->host.events)
      if (e.kind == "tell" || e.kind == "ask") texts.push_back(e.text);
    return texts;
  }
  uint32_t HeldCapabilityWord() const {
    const auto block = sim->simLogger->Table(2);
    EXPECT_TRUE(block.has_value());
    if (!block || block->size() < 4) return 0;
    return static_cast<uint32_t>((*block)[0]) | (static_cast<uint32_t>((*block)[1]) << 8) |
           (static_cast<uint32_t>((*block)[2]) << 16) | (static_cast<uint32_t>((*block)[3]) << 24);
  }

  std::unique_ptr<test::SimLinkFixture> sim;
  std::vector<uint8_t> initialCapabilities;  // the 32-byte block before the script
  CalibrationCoefficients cal;
  ScriptOptions options;
};

TEST_F(ScriptTest, ASettingsListTheLoggerAlreadyHoldsWritesNothing) {
  const fs::path path = Script("cfg_071342.rcfg",
                               "Serial number=071342\nAveraging=YES\nWaves=YES\nHiRate=YES\n"
                               "Hysteresis=NO\nThresholding=no\nLatency=300\nChannel:1=T\n"
                               "Channel:2=P\nLogger type=NMJ\nSome comment line\n");
  EXPECT_EQ(Run(path, {Answer::Yes}), ScriptOutcome::Unchanged);
  EXPECT_EQ(Told(), std::vector<std::string>{kScriptUnchangedText});
  EXPECT_EQ(TableWrites(), 0);
}

TEST_F(ScriptTest, ChangesAreListedInFileOrderAndWrittenAfterYes) {
  const fs::path path = Script("071342.rcfg",
                               "Serial number=071342\r\nHysteresis=YES\r\nAveraging=NO\r\n"
                               "Latency=450\r\nChannel:2=L\r\nWaves=YES\r\n");
  EXPECT_EQ(Run(path, {Answer::Yes}), ScriptOutcome::Applied);
  const std::vector<std::string> told = Told();
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0],
            "The following changes will be made to the logger configuration:\n\n"
            "- Hysteresis will be enabled.\n- Averaging will be disabled.\n"
            "- Logger latency will be changed to 450 ms.\n"
            "- Logger channel type will be changed to 'Channel  2 - Paroscientific'.\n"
            "\nDo you wish to continue?");
  EXPECT_EQ(told[1], kScriptSucceededText);
  EXPECT_EQ(HeldCapabilityWord(), (kCapabilityWord | 8u) & ~32u);
  // The bytes behind the capability word travel unchanged.
  ASSERT_EQ(initialCapabilities.size(), 32u);
  const std::vector<uint8_t> held = sim->simLogger->Table(2).value_or(std::vector<uint8_t>{});
  ASSERT_EQ(held.size(), 32u);
  EXPECT_TRUE(std::equal(held.begin() + 4, held.end(), initialCapabilities.begin() + 4));
  // Count, latency 45 × 10 ms, reading time 2 × 100 ms, then letter and byte per channel.
  EXPECT_EQ(*sim->simLogger->Table(1), (std::vector<uint8_t>{2, 45, 0, 2, 0, 'T', 0, 'L', 1}));
  EXPECT_EQ(sim->Heard("S0000"), 0);
}

TEST_F(ScriptTest, AFailedIdentityStepWritesNothingAfterIt) {
  struct Case {
    const char* what;
    std::function<void(sim::SimLogger&)> fault;
    const char* message;
  };
  const Case cases[] = {
      {"send refused", [](sim::SimLogger& s) { s.NakNextWrites(1); }, "ID send error"},
      {"read-back refused", [](sim::SimLogger& s) { s.AnswerUnknown("R0000"); },
       "ID retrieve error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Make("NMJ-7400");
    c.fault(*sim->simLogger);
    const fs::path path = Script("071342.rcfg",
                                 "Serial number=071342\nLogger type=NMJ-QE\nAveraging=NO\n"
                                 "Latency=1000\n");
    EXPECT_EQ(Run(path, {Answer::Yes}), ScriptOutcome::Failed);
    EXPECT_EQ(Told().back(), c.message);
    EXPECT_EQ(sim->Heard("S0200"), 0);
    EXPECT_EQ(sim->Heard("S0100"), 0);
    EXPECT_EQ(HeldCapabilityWord(), kCapabilityWord);
  }
}

TEST_F(ScriptTest, TheSerialNumberIsLookedForInTheFileNameOnly) {
  struct Case {
    std::string path;
    int serial;
    bool carries;
  };
  const Case cases[] = {
      {"012345.rcfg", 12345, true},
      {"logger_012345_v2.rcfg", 12345, true},
      {"12345.rcfg", 12345, false},
      {"/data/012345/script.rcfg", 12345, false},
      {"C:\\scripts\\012345\\new.rcfg", 12345, false},
      {"C:\\scripts\\a012345.rcfg", 12345, true},
      {"999999.rcfg", 999999, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FileNameCarriesSerial(c.path, c.serial), c.carries) << c.path;

  fs::create_directories(Dir() / "071342");
  const fs::path path = Script("071342/new.rcfg", "Serial number=071342\nAveraging=NO\n");
  EXPECT_EQ(Run(path, {Answer::Yes}), ScriptOutcome::FileRejected);
  EXPECT_EQ(Told(), std::vector<std::string>{kScriptNameMismatchText});
  EXPECT_TRUE(sim->simLogger->CommandLog().empty());
}

TEST_F(ScriptTest, AnotherLoggersScriptIsRefusedNamingTheFile) {
  const fs::path path = Script("012345.rcfg", "Serial number=12345\nAveraging=NO\n");
  EXPECT_EQ(Run(path, {Answer::Yes}), ScriptOutcome::Failed);
  EXPECT_EQ(Told(), std::vector<std::string>{
                        "You have selected the configuration file '" + path.string() +
                        "'.\nThe logger connected to the host computer has a serial number "
                        "different from the configuration file.\nEnsure that the correct logger "
                        "is connected to the host computer."});
  EXPECT_EQ(TableWrites(), 0);
}

TEST_F(ScriptTest, ABadLineEndsTheRunBeforeAnythingIsWritten) {
  struct Case {
    std::string line;
    ScriptOutcome outcome;
    std::string message;
  };
  const Case cases[] = {
      {"Latency=655360", ScriptOutcome::Failed, kScriptLatencyRangeText},
      {"Latency=3OO", ScriptOutcome::Failed, kScriptLatencyRangeText},
      {"Channel:3=T", ScriptOutcome::Failed,
       "Channel 3 to be changed does not exist in this logger."},
      {"Channel:1=", ScriptOutcome::Failed, "Error during reading of channel type to be changed."},
      {"Channel:1=Q", ScriptOutcome::Failed, "New channel type is invalid."},
      {"Optode=Concentration", ScriptOutcome::Failed,
       "Logger is not equiped with an Optode sensor."},
      {"Logger type=550", ScriptOutcome::Failed, kScriptNot550Text},
      {std::string(80, 'x'), ScriptOutcome::FileRejected, kScriptFormatErrorText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Make("NMJ-7400");
    // A change before the bad line must not be written either.
    const fs::path path =
        Script("071342.rcfg", "Serial number=071342\nAveraging=NO\n" + c.line + "\nWaves=NO\n");
    EXPECT_EQ(Run(path, {Answer::Yes}), c.outcome);
    EXPECT_EQ(Told(), std::vector<std::string>{c.message});
    EXPECT_EQ(TableWrites(), 0);
  }
}

TEST_F(ScriptTest, FilesThatAreNotScriptsGiveTheirMessages) {
  struct Case {
    const char* what;
    std::string rcfg;
    const char* message;
  };
  const Case cases[] = {
      {"text, not words", "Serial number=071342\n", kScriptFileErrorText},
      {"another key", EncipherScript("Serial number=071342\n", TeaKey{1, 2, 3, 4}),
       kScriptFormatErrorText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim->host.events.clear();
    const fs::path path = Dir() / "071342.rcfg";
    WriteFile(path, c.rcfg);
    EXPECT_EQ(Run(path, {Answer::Yes}), ScriptOutcome::FileRejected);
    EXPECT_EQ(Told(), std::vector<std::string>{c.message});
  }
  EXPECT_EQ(RunConfigurationScript((Dir() / "missing_071342.rcfg").string(), sim->logger, cal),
            ScriptOutcome::FileRejected);
  EXPECT_TRUE(sim->simLogger->CommandLog().empty());
}

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
  const ScriptOutcome outcome = Run(path, {Answer::Yes});
  const auto end = listing();
  fs::current_path(before);
  EXPECT_EQ(outcome, ScriptOutcome::Applied);
  EXPECT_EQ(start, end);
  EXPECT_EQ(ReadFile(path), rcfg);
  EXPECT_EQ(HeldCapabilityWord(), kCapabilityWord | 8u);
}

TEST_F(ScriptTest, AfterTheCommandTheLoggerReportsItsNewIdentityAndCapabilities) {
  Make("NMK-7400-CT");
  const fs::path path =
      Script("072210.rcfg", "Serial number=072210\nLogger type=NMJ\nHysteresis=YES\n");
  sim->host.answers = {Answer::Yes};
  EXPECT_EQ(RunConfigurationScriptCommand(path.string(), sim->logger, cal, options),
            ScriptOutcome::Applied);
  const LoggerState& state = sim->logger.state;
  // The identity keeps "%f" for the logger's firmware version; the table becomes T and P.
  const std::string id = "KLX NMJ-7400 %f 072210";
  std::vector<uint8_t> expected(id.begin(), id.end());
  expected.push_back(0);
  EXPECT_EQ(sim->simLogger->Table(0), expected);
  const auto table = sim->simLogger->Table(1).value_or(std::vector<uint8_t>{});
  ASSERT_EQ(table.size(), 9u);
  EXPECT_EQ(std::vector<uint8_t>(table.begin() + 5, table.end()),
            (std::vector<uint8_t>{'T', 15, 'P', 23}));
  EXPECT_EQ(state.model, "NMJ-7400");
  EXPECT_EQ(state.serial, 72210);
  EXPECT_TRUE(state.hysteresis);
  EXPECT_EQ(state.channelTypes, "TP");
  EXPECT_EQ(state.channelCount, 2);
}

}  // namespace
}  // namespace klx
