// klx script: making a script with --encipher and applying it to a simulated logger.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "shell/temp_dir.h"

namespace {

struct ScriptCliTest : klx::test::TempDirTest {
  // klx's exit status on a line, then its output.
  std::string Klx(const std::string& args) {
    const std::string command = "cd " + Dir().string() + " && " + KLX_BINARY_DIR +
                                "/apps/klx/klx " + args + " > out.txt 2>&1";
    const int status = std::system(command.c_str());
    return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "\n" +
           ReadFile(Dir() / "out.txt");
  }
};

TEST_F(ScriptCliTest, AScriptMadeByTheToolIsAppliedWithYesAndNotWithNo) {
  WriteFile(Dir() / "clear.txt", "Serial number=071342\nLatency=450\nHysteresis=YES\n");
  ASSERT_EQ(Klx("script --encipher clear.txt --out nmj_071342.rcfg").substr(0, 2), "0\n");

  const std::string no = Klx("--no script nmj_071342.rcfg --port sim:NMJ-7400");
  EXPECT_EQ(no.substr(0, 2), "1\n") << no;
  EXPECT_NE(no.find("Nothing written"), std::string::npos) << no;

  const std::string yes = Klx("--yes script nmj_071342.rcfg --port sim:NMJ-7400");
  EXPECT_EQ(yes.substr(0, 2), "0\n") << yes;
  EXPECT_NE(yes.find("The configuration of the logger has succeeded."), std::string::npos) << yes;
}

}  // namespace
