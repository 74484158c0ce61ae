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
  ASSERT_EQ(Make("Serial number=071342\nLatency=450\nHysteresis=YES\n", "nmj_071342.rcfg").status, 0);
  ASSERT_TRUE(fs::exists(Dir() / "nmj_071342.rcfg"));

  const Result no = Klx("--no script nmj_071342.rcfg --port sim:NMJ-7400");
  EXPECT_EQ(no.status, 1) << no.output;
  EXPECT_TRUE(no.Has("- Logger latency will be changed to 450 ms.")) << no.output;
  EXPECT_TRUE(no.Has("Nothing written")) << no.output;

  const Result yes = Klx("--yes script nmj_071342.rcfg --port sim:NMJ-7400");
  EXPECT_EQ(yes.status, 0) << yes.output;
  EXPECT_TRUE(yes.Has("- Hysteresis will be enabled.")) << yes.output;
  EXPECT_TRUE(yes.Has("The configuration of the logger has succeeded.")) << yes.output;
}

TEST_F(ScriptCliTest, ScriptsThatCannotWorkAreRefused) {
  struct Case {
    const char* what;
    std::string clear;
    std::string out;
    int status;
  };
  const Case cases[] = {
      {"no serial number", "Latency=450\n", "x_071342.rcfg", 1},
      {"a name without the serial number", "Serial number=071342\n", "x_71342.rcfg", 2},
      {"a line too long", "Serial number=071342\n" + std::string(80, 'x') + "\n", "y_071342.rcfg", 1},
  };
  for (const Case& c : cases) {
    const Result r = Make(c.clear, c.out);
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.output;
    EXPECT_FALSE(fs::exists(Dir() / c.out)) << c.what;
  }
}

TEST_F(ScriptCliTest, AFileThatIsNotAScriptFailsWithItsMessages) {
  WriteFile(Dir() / "bad_071342.rcfg", "Serial number=071342\n");
  const Result r = Klx("--yes script bad_071342.rcfg --port sim:NMJ-7400");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(r.Has("Configuration file error.")) << r.output;
  EXPECT_TRUE(r.Has("The configuration of the logger has failed.")) << r.output;
}

TEST_F(ScriptCliTest, UsageErrorsGiveStatusTwo) {
  EXPECT_EQ(Klx("script --port sim:NMJ-7400").status, 2);
  EXPECT_EQ(Klx("script --encipher clear.txt").status, 2);
}

}  // namespace
