// The real path: klx-sim on a pseudo-terminal, the klx program opening it through the serial
// port layer, every byte crossing the kernel's terminal driver.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "shell/temp_dir.h"

namespace {

namespace fs = std::filesystem;
const fs::path kBin = KLX_BINARY_DIR;

struct Result {
  int status = -1;
  std::string output;
};

// Runs a command line through the shell, collecting stdout and stderr.
Result RunCommand(const std::string& command) {
  Result r;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buffer{};
  size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// klx-sim in the background, serving on a pty linked at `link`.
class SimProcess {
 public:
  SimProcess(const std::string& model, const fs::path& link, const std::string& extra = "") {
    pid_ = fork();
    if (pid_ == 0) {
      // A model name, or the options of another kind of device ("--gps GGA").
      const std::string device = model.rfind("--", 0) == 0 ? model : "--model " + model;
      const std::string cmd = (kBin / "apps/klx-sim/klx-sim").string() + " " + device + " --link " +
                              link.string() + " " + extra + " >/dev/null 2>&1";
      execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && !fs::exists(link); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

class PtyTest : public klx::test::TempDirTest {
 protected:
  std::string Klx(const std::string& args) {
    return "cd " + Dir().string() + " && " + (kBin / "apps/klx/klx").string() + " " + args;
  }
  const fs::path& dir_ = Dir();
};

TEST_F(PtyTest, IdentifyFindsTheSimulatedLoggerAtItsRate) {
  const std::pair<const char*, std::vector<const char*>> cases[] = {
      {"NB-7100-2400",
       {"KLX Data Logger: NB-7100  3.20 020518 connected on COM", "at 2400 baud.",
        "Channels: 1 (P)"}},
      {"NMJ-7400", {"Command set: Microchip logger (extended)", "Waves"}}};
  for (const auto& [model, lines] : cases) {
    const fs::path link = dir_ / (std::string(model) + "com");
    SimProcess sim(model, link);
    ASSERT_TRUE(fs::exists(link));
    const Result r = RunCommand(Klx("identify --port " + link.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    for (const char* line : lines) EXPECT_NE(r.output.find(line), std::string::npos) << r.output;
  }
  // The settings file is created beside the program's files on first use.
  EXPECT_TRUE(fs::exists(dir_ / "klx.ini"));
}

TEST_F(PtyTest, SilentLineGivesUpAfterSixRates) {
  // A pty with nobody on the other side: the identification is tried at six rates.
  const fs::path link = dir_ / "klxcom";
  SimProcess sim("VS-330", link, "--faults silent_ms=600000");
  const auto start = std::chrono::steady_clock::now();
  const Result r = RunCommand(Klx("identify --port " + link.string()));
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Unable to Communicate with Logger on COM"), std::string::npos)
      << r.output;
  // Two reads of 120 characters at each of 19200, 1200, 2400, 4800, 9600 and 19200 baud.
  EXPECT_GT(seconds, 2 * (0.140 + 1.100 + 0.620 + 0.380 + 0.260 + 0.140) * 0.9);
}

TEST_F(PtyTest, UsageErrorsExitWithTwoAndDerivedSettingsAreWrittenAsTheFileHasThem) {
  EXPECT_EQ(RunCommand(Klx("identify --bogus")).status, 2);
  EXPECT_EQ(RunCommand(Klx("")).status, 2);
  EXPECT_EQ(RunCommand((kBin / "apps/klx-sim/klx-sim").string() + " --bogus").status, 2);
  EXPECT_EQ(RunCommand(Klx("derived --depth deep")).status, 2);
  // --keep-data only continues a suspended deployment; the logger (and its data) stay as they
  // were.
  const Result keep =
      RunCommand(Klx("setup --port sim:VS-330 --start now --end "
                     "2030-01-01T00:00:00 --period 00:05:00 --keep-data"));
  EXPECT_EQ(keep.status, 1) << keep.output;
  EXPECT_NE(keep.output.find("--keep-data continues a suspended deployment; this logger's status "
                             "is \"Logging Complete\"."),
            std::string::npos)
      << keep.output;

  ASSERT_EQ(RunCommand(Klx("derived --depth seawater --salinity on --sos unesco --latitude 45:30"))
                .status,
            0);
  const std::string ini = ReadFile(dir_ / "klx.ini");
  EXPECT_NE(ini.find("Depth Seawater=ON\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Salinity=ON Hydrostatic pressure=0.00\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Speed of Sound: UNESCO=ON\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Latitude=45 30.000\n"), std::string::npos) << ini;
}

TEST_F(PtyTest, RetrieveWritesHexDatMatAndLogsAndTheMatFileReadsBack) {
  ASSERT_EQ(RunCommand(Klx("derived --depth seawater --salinity on")).status, 0);
  const Result r = RunCommand(Klx("retrieve --port sim:VS-330 --out out --mat --comment 'pier 3'"));
  ASSERT_EQ(r.status, 0) << r.output;
  fs::path mat, dat;
  for (const auto& e : fs::directory_iterator(dir_ / "out")) {
    if (e.path().extension() == ".mat") mat = e.path();
    if (e.path().extension() == ".dat") dat = e.path();
  }
  ASSERT_FALSE(mat.empty());
  ASSERT_FALSE(dat.empty());
  EXPECT_NE(ReadFile(dat).find("COMMENT: pier 3\n"), std::string::npos);
  EXPECT_NE(ReadFile(dat).find("     Temp      Pres      Cond     Depth  Salinity "),
            std::string::npos);
  EXPECT_TRUE(fs::exists(dir_ / "log" / "040211.log"));

  // Back from the MAT file, the derived channels are computed again.
  const Result back = RunCommand(Klx("convert " + mat.string() + " --to dat --out back.dat"));
  ASSERT_EQ(back.status, 0) << back.output;
  EXPECT_NE(ReadFile(dir_ / "back.dat").find("     Depth  Salinity "), std::string::npos);

  // SciPy opens the file with the classes and sizes a MATLAB user expects.
  if (RunCommand("/usr/bin/python3 -c 'import scipy.io'").status != 0)
    GTEST_SKIP() << "no SciPy at /usr/bin/python3";
  const Result py =
      RunCommand("/usr/bin/python3 -c \"import scipy.io; m = scipy.io.loadmat('" + mat.string() +
                 "'); d = m['loggerdata']; print(d.dtype, d.shape[1], d.shape[0] > 1000, "
                 "list(m['loggerchannelnames']))\"");
  EXPECT_EQ(py.output, "float32 3 True ['Temp', 'Pres', 'Cond']\n");
}

TEST_F(PtyTest, SetupWithRealTimeOutputThenTheDisplayFilesEachSampleWithItsGpsPosition) {
  const fs::path link = dir_ / "klxcom", gpsLink = dir_ / "gpscom";
  SimProcess sim("VS-330-RT", link);
  SimProcess gps("--gps GGA", gpsLink);
  ASSERT_TRUE(fs::exists(link));
  ASSERT_TRUE(fs::exists(gpsLink));
  // Logging starts a few seconds from now (the simulated logger keeps the host's time), one
  // sample a second, each sent as it is logged.
  const std::time_t now = std::time(nullptr) + 8;
  char start[32], end[32];
  std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%S", std::localtime(&now));
  const std::time_t later = now + 86400;
  std::strftime(end, sizeof end, "%Y-%m-%dT%H:%M:%S", std::localtime(&later));
  const Result setup =
      RunCommand(Klx("setup --port " + link.string() + " --start " + start + " --end " + end +
                     " --period 00:00:01 --realtime --erase --yes -q"));
  ASSERT_EQ(setup.status, 0) << setup.output;
  EXPECT_NE(setup.output.find("'Enabled' to start at"), std::string::npos) << setup.output;

  const Result r = RunCommand(Klx("realtime --port " + link.string() + " --gps " +
                                  gpsLink.string() + " --samples 3 --seconds 60 --no-command"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("     Temp      Pres      Cond"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("3 samples stored in "), std::string::npos) << r.output;
  // Each sample line ends with the receiver's position (it drifts from 4807.04 N, 1131.00 E).
  size_t lines = 0;
  for (size_t at = r.output.find(",N,"); at != std::string::npos; at = r.output.find(",N,", at + 1))
    ++lines;
  EXPECT_GE(lines, 2u) << r.output;
  const fs::path hex = dir_ / "hex" / "040212Realtime.hex";
  ASSERT_TRUE(fs::exists(hex));
  // The 30 bytes standing for the parameter block, a stamp, and three samples of three channels.
  const std::string file = ReadFile(hex);
  const size_t count = file.find("Number of bytes of data ");
  ASSERT_NE(count, std::string::npos);
  EXPECT_GE(std::stoi(file.substr(count + 24, 7)), 30 + 12 + 3 * 9) << file;
  const std::string positions = ReadFile(dir_ / "dat" / "040212Realtime.gps");
  EXPECT_NE(positions.find(",N,"), std::string::npos) << positions;
  EXPECT_NE(positions.find(",E\n"), std::string::npos) << positions;
}

}  // namespace
