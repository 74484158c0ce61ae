// Scripts that switch an Optode between saturation and concentration, on a simulated logger
// whose front end answers the through-mode packets.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "calibration/sim_link_fixture.h"
#include "scripts/configuration_script.h"
#include "scripts/rcfg.h"
#include "shell/status.h"
#include "shell/temp_dir.h"
#include "sim/sim_cards.h"

namespace klx {
namespace {

using Row = std::array<double, 4>;

class OptodeScriptTest : public test::TempDirTest {
 protected:
  void Make(const std::function<void(sim::SimProfile&)>& edit = {}) {
    sim = std::make_unique<test::SimLinkFixture>("VS-330-optode", edit);
    options.waitWindow = [this](const std::string& text) { waits.push_back(text); };
    options.throughCommunicationsSeconds = 3;
  }
  ScriptOutcome Run(const std::string& lines) {
    WriteFile(Dir() / "040330.rcfg", EncipherScript("Serial number=040330\n" + lines));
    sim->host.answers = {Answer::Yes};
    return RunConfigurationScript((Dir() / "040330.rcfg").string(), sim->logger, cal, options);
  }
  std::vector<std::string> Told() const {
    std::vector<std::string> texts{""};
    for (const auto& e : sim->host.events)
      if (e.kind == "tell") texts.push_back(e.text);
    return texts;
  }
  std::string LastTold() const { return Told().back(); }
  std::vector<uint8_t> Table() const {
    return sim->simLogger->Table(1).value_or(std::vector<uint8_t>{});
  }
  Row Coefficients(size_t channel) const {
    const auto list = sim->simLogger->Calibrations();
    return list.empty() || list.back().coef.size() <= channel ? Row{} : list.back().coef[channel];
  }

  std::unique_ptr<test::SimLinkFixture> sim;
  CalibrationCoefficients cal;
  ScriptOptions options;
  std::vector<std::string> waits;
};

TEST_F(OptodeScriptTest, ConcentrationSwitchesTheCardTheLetterAndTheCoefficients) {
  Make();
  const Row temperature = Coefficients(0), pressure = Coefficients(1);
  EXPECT_EQ(Run("Optode=Concentration\nLatency=400\n"), ScriptOutcome::Applied);
  EXPECT_EQ(sim->simLogger->Cards().OptodeMode(), 2);
  // The table written last keeps the Optode's new letter beside the new latency.
  const std::vector<uint8_t> table = Table();
  ASSERT_GE(table.size(), 11u);
  EXPECT_EQ(std::make_pair(table[1], table[9]), std::make_pair(uint8_t{40}, uint8_t{'J'}));
  EXPECT_EQ(Coefficients(2), (Row{0.0, 625.0, 0.0, 0.0}));
  EXPECT_EQ(Coefficients(0), temperature);
  EXPECT_EQ(Coefficients(1), pressure);
  EXPECT_NE(Told().at(1).find("has been reconfigured"), std::string::npos);
  EXPECT_EQ(LastTold(), kScriptSucceededText);
  // The wait window counts the through communications down and closes.
  const auto wait = [](int n) { return Format(kScriptWaitFormat, n); };
  EXPECT_EQ(waits, (std::vector<std::string>{wait(3), wait(3), wait(2), wait(1), ""}));
}

TEST_F(OptodeScriptTest, SaturationOnAConcentrationChannel) {
  Make([](sim::SimProfile& p) {
    p.channels[2].type = 'J';
    p.calibration[2] = {0, 625, 0, 0};
  });
  ASSERT_EQ(sim->simLogger->Cards().OptodeMode(), 0);
  EXPECT_EQ(Run("Optode=Saturation\n"), ScriptOutcome::Applied);
  EXPECT_EQ(sim->simLogger->Cards().OptodeMode(), 1);
  EXPECT_EQ(Table().at(9), 'K');
  EXPECT_EQ(Coefficients(2), (Row{0.0, 125.0, 0.0, 0.0}));
}

TEST_F(OptodeScriptTest, AFrontEndFailureWritesNothing) {
  Make([](sim::SimProfile& p) { p.cards.optodeAbsent = true; });
  const Row before = Coefficients(2);
  EXPECT_EQ(Run("Optode=Concentration\nAveraging=YES\n"), ScriptOutcome::Failed);
  EXPECT_EQ(LastTold().find("ERROR #3 Unable to confirm the presence of an Optode sensor"), 0u);
  EXPECT_EQ(sim->Heard("S0") + sim->Heard("U"), 0);
  EXPECT_EQ(Coefficients(2), before);
  EXPECT_EQ(waits.back(), "");
}

TEST_F(OptodeScriptTest, ACalibrationThatCannotBeReadIsNotReplacedByDefaults) {
  Make();
  sim->simLogger->AnswerUnknown("V");
  const Row temperature = Coefficients(0);
  EXPECT_EQ(Run("Optode=Concentration\nLatency=400\n"), ScriptOutcome::Failed);
  EXPECT_EQ(LastTold().find("ERROR #8 The configuration encountered a problem"), 0u);
  EXPECT_EQ(sim->Heard("U"), 0);
  EXPECT_EQ(Coefficients(0), temperature);
  // The Optode's letter was written with the switch; the rest of the script was not.
  EXPECT_EQ(sim->Heard("S0100"), 1);
  EXPECT_EQ(Table().at(1), 30);
}

// A logger type change gives the logger its own two-channel table: the Optode's new letter is
// not written over the channel that now stands where the Optode stood.
TEST_F(OptodeScriptTest, ALoggerTypeChangeKeepsItsOwnTable) {
  Make([](sim::SimProfile& p) {
    p.model = "NMV-7400";
    std::swap(p.channels[1], p.channels[2]);  // T K P
  });
  EXPECT_EQ(Run("Logger type=NMJ\nOptode=Concentration\n"), ScriptOutcome::Applied);
  const std::vector<uint8_t> table = Table();
  ASSERT_GE(table.size(), 9u);
  EXPECT_EQ(std::make_pair(table[5], table[7]), std::make_pair(uint8_t{'T'}, uint8_t{'P'}));
}

}  // namespace
}  // namespace klx
