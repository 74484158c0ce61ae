// "&Run configuration script" in the main window on a simulated logger, from the menu and from
// the command line, and the wait window.
#include <QLabel>

#include "gui/main_window_rig.h"
#include "scripts/configuration_script.h"
#include "scripts/rcfg.h"
#include "scripts/ui/script_command.h"
#include "shell/command_ids.h"
#include "shell/status.h"
#include "sim/sim_logger.h"
#include "sim/sim_profile.h"
#include "sim/sim_transport.h"

namespace klx::ui {
namespace {

class ScriptCommandTest : public test::MainWindowRig {
 protected:
  void SetUp() override {
    MainWindowRig::SetUp();
    sim::SimProfile profile;
    std::string error;
    ASSERT_TRUE(sim::LoadProfile("NMJ-7400", profile, error)) << error;
    profile.tables[2] = std::vector<uint8_t>(32, 0);
    logger = std::make_shared<sim::SimLogger>(profile);
    window->SimLoggers().Add("script", logger);
    ASSERT_TRUE(window->session().SelectPort("sim:script", &error)) << error;
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
  EXPECT_FALSE(choices[0].save);
  EXPECT_EQ(choices[0].title, "Select a configuration 'rcfg' file to be opened");
  EXPECT_EQ(choices[0].filter, "Configuration files (*.rcfg)");
  EXPECT_EQ(choices[0].initialDirectory, Dir().string());
  EXPECT_EQ(asked, std::vector<std::string>{"Configuration"});
  EXPECT_THAT(window->host().log,
              ::testing::Contains(::testing::HasSubstr(
                  "tell: Configuration: The configuration of the logger has succeeded.")));
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
  EXPECT_EQ(wait.objectName(), "Script_Config");
  const std::string text = Format(kScriptWaitFormat, 7);
  EXPECT_NE(text.find("close - 7\n\nDo not exit"), std::string::npos);
  wait.ShowText(text);
  EXPECT_TRUE(wait.isVisible());
  EXPECT_EQ(wait.Text().toStdString(), text);
  wait.ShowText("");
  EXPECT_FALSE(wait.isVisible());
}

}  // namespace
}  // namespace klx::ui
