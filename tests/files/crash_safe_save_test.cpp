// A MAT save killed halfway (SIGKILL after a random delay) leaves one of the two versions, whole,
// and the next save leaves no temporary. KLX_CRASH_KILLS sets the kills (default 24). The dat,
// hex and settings files go through the text writer, whose replacing and clearing of dead
// processes' temporaries the shell tests check.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "files/mat_file.h"
#include "files_fixture.h"

namespace klx::test {
namespace {

int Temporaries(const std::filesystem::path& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    n += e.path().filename().string().find(".tmp") != std::string::npos;
  return n;
}

using CrashSafeSave = FilesTest;

TEST_F(CrashSafeSave, MatFile) {
  const char* env = std::getenv("KLX_CRASH_KILLS");
  const int kills = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 24;
  const HeldData versions[2] = {MakeHeld("VS-330", 3.5f, "TCP", 1500, 132),
                                MakeHeld("VS-330", 3.5f, "TCP", 2100, 132)};
  const auto mat = Dir() / "040211.mat";
  auto save = [&](int v) { return WriteMatFile(mat, versions[v], {}).empty(); };
  auto check = [&] {
    HeldData read;
    int format = 0;
    std::vector<std::vector<float>> surface;
    ASSERT_EQ(ReadMatFileInto(mat, read, format, surface), "");
    const int n = read.data.samplesPerChannel;
    EXPECT_TRUE(n == 1500 || n == 2100) << "a MAT file of " << n << " rows";
  };
  // Version 0 first, then children saving versions 1, 0, 1, ... are killed; a temporary left
  // behind shows that the kill hit a save.
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> delayUs(500, 30000);
  ASSERT_TRUE(save(0));
  int hits = 0;
  for (int k = 0; k < kills && !HasFailure(); ++k) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << "fork failed";
    if (child == 0)
      for (int v = 1;; v ^= 1) save(v);
    ::usleep(static_cast<useconds_t>(delayUs(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the saving child ended on its own";
    hits += Temporaries(Dir()) > 0;
    check();
  }
  EXPECT_GT(hits, 0) << "no kill fell inside a save: the test proves nothing";
  EXPECT_TRUE(save(0)) << "the save after the kills";
  check();
  EXPECT_EQ(Temporaries(Dir()), 0) << "temporary files left beside the saved one";
}

}  // namespace
}  // namespace klx::test
