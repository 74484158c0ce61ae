// A MAT save killed halfway (SIGKILL after a random delay) leaves one of the two versions, whole,
// and the next save leaves no temporary. KLX_CRASH_KILLS sets the kills (default 24). The dat,
// hex and settings files go through the text writer, whose replacing and clearing of dead
// processes' temporaries the shell tests check.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "files/mat_file.h"
#include "files_fixture.h"

namespace klx::test {
namespace {

int Kills() {
  const char* v = std::getenv("KLX_CRASH_KILLS");
  return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : 24;
}

int Temporaries(const std::filesystem::path& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    n += e.path().filename().string().find(".tmp") != std::string::npos;
  return n;
}

class CrashSafeSave : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    versions_[0] = MakeHeld("VS-330", 3.5f, "TCP", 1500, 132);
    versions_[1] = MakeHeld("VS-330", 3.5f, "TCP", 2100, 132);
  }

  // Saves version 0 (the previous file), then kills children saving versions 1, 0, 1, ... and
  // checks the file after each kill; finally saves in this process and counts the temporaries
  // left in `folder`. Gives how many kills left a temporary behind (the kill hit a save).
  int KillWhileSaving(const std::function<bool(int)>& save, const std::function<void()>& check,
                      const std::filesystem::path& folder) {
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> delayUs(500, 30000);
    EXPECT_TRUE(save(0));
    check();
    int hits = 0;
    for (int k = 0; k < Kills() && !HasFailure(); ++k) {
      const pid_t child = ::fork();
      EXPECT_GE(child, 0) << "fork failed";
      if (child < 0) break;
      if (child == 0)
        for (int v = 1;; v ^= 1) save(v);
      ::usleep(static_cast<useconds_t>(delayUs(random)));
      ::kill(child, SIGKILL);
      int status = 0;
      ::waitpid(child, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status)) << "the saving child ended on its own";
      hits += Temporaries(folder) > 0;
      check();
    }
    EXPECT_TRUE(save(0)) << "the save after the kills";
    check();
    EXPECT_EQ(Temporaries(folder), 0) << "temporary files left beside the saved ones";
    std::printf("%d kills, %d of them in the middle of writing a file\n", Kills(), hits);
    return hits;
  }

  HeldData versions_[2];
};

TEST_F(CrashSafeSave, MatFile) {
  const auto mat = Dir() / "040211.mat";
  auto save = [&](int v) { return WriteMatFile(mat, versions_[v], {}).empty(); };
  auto check = [&] {
    HeldData read;
    int format = 0;
    std::vector<std::vector<float>> surface;
    ASSERT_EQ(ReadMatFileInto(mat, read, format, surface), "");
    const int n = read.data.samplesPerChannel;
    EXPECT_TRUE(n == 1500 || n == 2100) << "a MAT file of " << n << " rows";
  };
  EXPECT_GT(KillWhileSaving(save, check, Dir()), 0) << "no kill fell inside a save";
}

}  // namespace
}  // namespace klx::test
