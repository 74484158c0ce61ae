// The real klx-sim program on a pseudo-terminal, reached the way a host reaches a serial device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

class KlxSimProcess {
 public:
  explicit KlxSimProcess(const std::string& args) {
    const std::string command =
        std::string("exec ") + KLX_BINARY_DIR + "/apps/klx-sim/klx-sim " + args;
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~KlxSimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  // One line of the program's standard output (waits up to 10 s).
  std::string Line() {
    std::string line;
    char c = 0;
    while (true) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0 || read(out_, &c, 1) != 1) break;
      if (c == '\n') break;
      line += c;
    }
    return line;
  }
  int Stop() {
    int status = 0;
    kill(pid_, SIGTERM);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

int OpenRaw(const std::string& path, speed_t speed) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// Reads what arrives within the time (ms) after the last byte.
std::string ReadFor(int fd, int quietMs) {
  std::string got;
  char b[256];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, quietMs) > 0) {
    const ssize_t n = read(fd, b, sizeof b);
    if (n <= 0) break;
    got.append(b, static_cast<size_t>(n));
  }
  return got;
}

TEST(KlxSimProgram, IdentifiesOnAPseudoTerminal) {
  const std::string link = testing::TempDir() + "/klx-sim-test-link";
  KlxSimProcess sim("--model VS-330 --serial 777 --link " + link);
  const std::string slave = sim.Line();
  ASSERT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
  EXPECT_EQ(sim.Line(), link);
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), slave);

  // At the wrong rate the logger stays silent; at 19200 it answers.
  int fd = OpenRaw(link, B9600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "A", 1), 1);
  EXPECT_EQ(ReadFor(fd, 300), "");
  close(fd);

  fd = OpenRaw(link, B19200);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "A", 1), 1);
  EXPECT_EQ(ReadFor(fd, 300), "KLX VS-330 4.30 000777\r\n");
  ASSERT_EQ(write(fd, "K001000", 7), 7);
  close(fd);

  // Reopened, the same logger keeps its state.
  fd = OpenRaw(slave, B19200);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "C", 1), 1);
  EXPECT_EQ(ReadFor(fd, 300), "001000CSP\r\n");
  close(fd);

  const int status = sim.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(access(link.c_str(), F_OK), 0) << "the link is removed on SIGTERM";
}

TEST(KlxSimProgram, UsageErrorsExitWithTwo) {
  for (const char* args : {"--serial 5", "--model NO-SUCH", "--model VS-330 --faults bogus",
                           "--model VS-330 --faults bad_check=x", "--frobnicate", "--gps GSV",
                           "--gps --model VS-330"}) {
    const std::string command =
        std::string(KLX_BINARY_DIR) + "/apps/klx-sim/klx-sim " + args + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args;
  }
}

}  // namespace
