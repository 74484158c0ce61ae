// The real path: klx-sim on a pseudo-terminal, klx opening it through the serial port layer; and
// the command line's wiring (what each command shows is checked by the core tests).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "shell/temp_dir.h"

namespace {

namespace fs = std::filesystem;
const fs::path kBin = KLX_BINARY_DIR;

struct Result {
  int status = -1;
  std::string output;
  bool Has(const std::string& text) const { return output.find(text) != std::string::npos; }
};

Result Shell(const std::string& command) {
  Result r;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// klx-sim in the background serving on a pty linked at `link` ("--model X").
class SimProcess {
 public:
  SimProcess(const std::string& device, const fs::path& link) {
    const std::string cmd = "exec " + (kBin / "apps/klx-sim/klx-sim").string() + " " + device +
                            " --link " + link.string() + " >/dev/null 2>&1";
    if ((pid_ = fork()) == 0) {
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && !fs::exists(link); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~SimProcess() {
    if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

class PtyTest : public klx::test::TempDirTest {
 protected:
  Result Klx(const std::string& args) {
    return Shell("cd " + Dir().string() + " && " + (kBin / "apps/klx/klx").string() + " " + args);
  }
};

TEST_F(PtyTest, IdentifyFindsTheSimulatedLoggerAtItsRate) {
  const fs::path link = Dir() / "klxcom";
  SimProcess sim("--model NB-7100-2400", link);
  ASSERT_TRUE(fs::exists(link));
  const Result r = Klx("identify --port " + link.string());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(r.Has("KLX Data Logger: NB-7100  3.20 020518 connected on COM")) << r.output;
}

TEST_F(PtyTest, ExitStatuses) {
  for (const char* usage : {"identify --bogus", "", "derived --depth deep"})
    EXPECT_EQ(Klx(usage).status, 2) << usage;
  EXPECT_EQ(Shell((kBin / "apps/klx-sim/klx-sim").string() + " --bogus").status, 2);
  // A logger that cannot be reached is a failure, not a usage error.
  const Result none = Klx("identify --port /nonexistent/tty");
  EXPECT_EQ(none.status, 1) << none.output;
  EXPECT_TRUE(none.Has("Unable to open COM")) << none.output;
  const Result keep =
      Klx("setup --port sim:VS-330 --start now --end 2030-01-01T00:00:00 --period 00:05:00 "
          "--keep-data");
  EXPECT_EQ(keep.status, 1) << keep.output;
  EXPECT_TRUE(
      keep.Has("--keep-data continues a suspended deployment; this logger's status is "
               "\"Logging Complete\"."))
      << keep.output;
}

TEST_F(PtyTest, WavesWriteTheWaveFile) {
  ASSERT_EQ(Klx("derived --depth simplified").status, 0);
  ASSERT_EQ(Klx("retrieve --port sim:NMJ-7400 --out out").status, 0);
  fs::path hex;
  for (const auto& e : fs::directory_iterator(Dir() / "out"))
    if (e.path().extension() == ".hex") hex = e.path();
  ASSERT_FALSE(hex.empty());
  EXPECT_EQ(Klx("waves " + hex.string() + " --out w").status, 0);
  EXPECT_TRUE(fs::exists(Dir() / "w" / "nmj" / hex.filename().replace_extension(".wave")));
}

TEST_F(PtyTest, RetrieveWritesDatAndMatAndTheMatFileReadsBack) {
  ASSERT_EQ(Klx("derived --depth seawater --salinity on").status, 0);
  const Result r = Klx("retrieve --port sim:VS-330 --out out --mat --comment 'pier 3'");
  ASSERT_EQ(r.status, 0) << r.output;
  fs::path mat, dat;
  for (const auto& e : fs::directory_iterator(Dir() / "out")) {
    if (e.path().extension() == ".mat") mat = e.path();
    if (e.path().extension() == ".dat") dat = e.path();
  }
  ASSERT_FALSE(mat.empty() || dat.empty());
  EXPECT_NE(ReadFile(dat).find("COMMENT: pier 3\n"), std::string::npos);

  // Back from the MAT file, the derived channels are computed again.
  const Result back = Klx("convert " + mat.string() + " --to dat --out back.dat");
  ASSERT_EQ(back.status, 0) << back.output;
  EXPECT_NE(ReadFile(Dir() / "back.dat").find("     Depth  Salinity "), std::string::npos);

  // SciPy opens the file with the classes and sizes a MATLAB user expects.
  if (Shell("/usr/bin/python3 -c 'import scipy.io'").status != 0)
    GTEST_SKIP() << "no SciPy at /usr/bin/python3";
  const Result py =
      Shell("/usr/bin/python3 -c \"import scipy.io; m = scipy.io.loadmat('" + mat.string() +
            "'); d = m['loggerdata']; print(d.dtype, d.shape[1], d.shape[0] > 1000, "
            "list(m['loggerchannelnames']))\"");
  EXPECT_EQ(py.output, "float32 3 True ['Temp', 'Pres', 'Cond']\n");
}

}  // namespace

// klx calibration: the table shown, values that are not four finite numbers refused, a write
// that the next show reads back.
TEST_F(PtyTest, CalibrationShowAndSet) {
  const fs::path link = Dir() / "klxcom";
  SimProcess sim("--model VS-330", link);
  ASSERT_TRUE(fs::exists(link));
  const std::string port = " --port " + link.string();
  const Result show = Klx("calibration show" + port);
  EXPECT_EQ(show.status, 0) << show.output;
  EXPECT_TRUE(show.Has("-10.2 1012.5 0 0")) << show.output;

  for (const char* bad : {"0,inf,0,0", "1,2,3"}) {
    const Result r =
        Klx(std::string("--yes calibration set --channel 2 --coefficients ") + bad + port);
    EXPECT_EQ(r.status, 2) << bad << "\n" << r.output;
    EXPECT_TRUE(r.Has("--coefficients takes four finite numbers")) << r.output;
  }
  const Result set =
      Klx("--yes calibration set --channel 2 --coefficients -10.75,1013.25,0,0" + port);
  EXPECT_EQ(set.status, 0) << set.output;
  const Result again = Klx("calibration show" + port);
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_TRUE(again.Has("-10.75 1013.25 0 0")) << again.output;
}
