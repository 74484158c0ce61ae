// klx script: making a script with --encipher and applying it to a simulated logger.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "shell/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string output;
  bool Has(const std::string& text) const { return output.find(text) != std::string::npos; }
};

class ScriptCliTest : public klx::test::TempDirTest {
 protected:
  Result Klx(const std::string& args) {
    const std::string command = "cd " + Dir().string() + " && " +
                                (fs::path(KLX_BINARY_DIR) / "apps/klx/klx").string() + " " + args +
                                " 2>&1";
    Result r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  // Makes "<name>" from clear text through klx itself.
  Result Make(const std::string& clear, const std::string& name) {
    WriteFile(Dir() / "clear.txt", clear);
    return Klx("script --encipher clear.txt --out " + name);
  }
};

TEST_F(ScriptCliTest, AScriptMadeByTheToolIsAppliedWithYesAndNotWithNo) {
  ASSERT_EQ(Make("Serial number=071342\nLatency=450\nHysteresis=YES\n", "nmj_071342.rcfg").status,
            0);
  ASSERT_TRUE(fs::exists(Dir() / "nmj_071342.rcfg"));

  const Result no = Klx("--no script nmj_071342.rcfg --port sim:NMJ-7400");
  EXPECT_EQ(no.status, 1) << no.output;
  EXPECT_TRUE(no.Has("- Logger latency will be changed to 450 ms.")) << no.output;
  EXPECT_TRUE(no.Has("Nothing written")) << no.output;

  const Result yes = Klx("--yes script nmj_071342.rcfg --port sim:NMJ-7400");
  EXPECT_EQ(yes.status, 0) << yes.output;
  EXPECT_TRUE(yes.Has("The configuration of the logger has succeeded.")) << yes.output;
}

}  // namespace
