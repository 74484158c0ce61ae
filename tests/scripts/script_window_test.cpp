// "&Run configuration script" from the menu and the command line, and the wait window.
#include "gui/main_window_rig.h"
#include "scripts/configuration_script.h"
#include "scripts/rcfg.h"
#include "scripts/ui/script_command.h"
#include "shell/command_ids.h"
#include "sim/sim_logger.h"

namespace klx::ui {
namespace {

class ScriptCommandTest : public test::MainWindowRig {
 protected:
  void SetUp() override {
    MainWindowRig::SetUp();
    logger = UseSim("NMJ-7400", [](sim::SimProfile& p) { p.tables[2].assign(32, 0); }, "script");
  }
  std::string Script(const std::string& name, int latency) {
    WriteFile(Dir() / name,
              EncipherScript("Serial number=071342\nLatency=" + std::to_string(latency) + "\n"));
    return (Dir() / name).string();
  }
  uint8_t HeldLatencyUnits() const { return logger->Table(1).value_or(std::vector<uint8_t>(2))[1]; }

  std::shared_ptr<sim::SimLogger> logger;
};

TEST_F(ScriptCommandTest, TheMenuAndTheCommandLineApplyAScriptAfterYes) {
  nextFile = Script("071342.rcfg", 500);
  nextAnswer = Answer::Yes;
  window->RunCommand(cmd::kRunConfigurationScript);
  ASSERT_EQ(choices.size(), 1u);
  EXPECT_EQ(asked, std::vector<std::string>{"Configuration"});
  EXPECT_EQ(HeldLatencyUnits(), 50);
  // The logger was identified again afterwards: its new latency is what the program knows.
  EXPECT_EQ(window->session().logger.state.latencyMs, 500);

  // The same from the command line, a name with a space in quotes.
  EXPECT_TRUE(window->OpenCommandLineFile("\"" + Script("cfg 071342.rcfg", 700) + "\""));
  EXPECT_EQ(choices.size(), 1u);
  EXPECT_EQ(HeldLatencyUnits(), 70);
}

TEST_F(ScriptCommandTest, TheWaitWindowShowsItsLineAndClosesOnAnEmptyOne) {
  ScriptWaitWindow wait(window.get());
  const std::string text = Format(kScriptWaitFormat, 7);
  wait.ShowText(text);
  EXPECT_TRUE(wait.isVisible());
  EXPECT_EQ(wait.Text().toStdString(), text);
  wait.ShowText("");
  EXPECT_FALSE(wait.isVisible());
}

}  // namespace
}  // namespace klx::ui
