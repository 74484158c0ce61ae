// LibSerialPort over a real pseudo-terminal: the path the simulator is reached by. The test
// holds the master side, as klx-sim does, and talks to the port through it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/libserialport_port.h"

namespace klx {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
    ::close(slave);  // the port under test opens the slave by its path
    slavePath_ = name;
    port_ = std::make_unique<LibSerialPort>(slavePath_);
  }
  void TearDown() override { port_.reset(), ::close(master_); }
  // Opens the port at `baud` with read time-outs of multiplier x N + constant ms.
  void Open(int baud, uint32_t multiplier = 5, uint32_t constant = 20) {
    LineSettings s;
    s.baudRate = baud;
    ASSERT_TRUE(port_->Open() && port_->SetLineSettings(s));
    SetTimeouts(multiplier, constant);
  }
  void SetTimeouts(uint32_t multiplier, uint32_t constant) {
    ASSERT_TRUE(port_->SetTimeouts(CommTimeouts{0, multiplier, constant, multiplier, 20}));
  }
  int PortWrite(const std::string& text) {
    return port_->Write(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<int>(text.size()));
  }
  std::string PortRead(int n) {
    std::string buffer(static_cast<size_t>(n), '\0');
    const int got = port_->Read(reinterpret_cast<uint8_t*>(buffer.data()), n);
    EXPECT_TRUE(got >= 0 && got <= n) << got;
    return buffer.substr(0, static_cast<size_t>(std::max(got, 0)));
  }
  void MasterWrite(const std::string& b) {
    ASSERT_EQ(::write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  }
  // Reads what the master receives within waitMs, up to n bytes.
  std::string MasterRead(size_t n, int waitMs = 2000) {
    std::string got;
    char buffer[512];
    for (const auto start = Clock::now(); got.size() < n;) {
      pollfd p{master_, POLLIN, 0};
      const int left = waitMs - static_cast<int>(MsSince(start));
      if (left <= 0 || ::poll(&p, 1, left) <= 0 || !(p.revents & POLLIN)) break;
      const ssize_t r = ::read(master_, buffer, std::min(sizeof buffer, n - got.size()));
      if (r <= 0) break;
      got.append(buffer, static_cast<size_t>(r));
    }
    return got;
  }
  termios Master() {
    termios t{};
    EXPECT_EQ(tcgetattr(master_, &t), 0);
    return t;
  }

  int master_ = -1;
  std::string slavePath_;
  std::unique_ptr<LibSerialPort> port_;
};

TEST_F(PtyTest, OpenCloseReopenAndEveryByteBothWaysWithoutEcho) {
  Open(2400);
  EXPECT_TRUE(port_->IsOpen());
  EXPECT_EQ(PortWrite("first"), 5);
  EXPECT_EQ(MasterRead(5), "first");
  port_->Close();
  EXPECT_FALSE(port_->IsOpen());
  port_->Close();  // twice is harmless
  EXPECT_EQ(PortWrite("x"), 0);
  EXPECT_EQ(PortRead(1), "");
  LineSettings s;
  EXPECT_FALSE(port_->GetLineSettings(s) || port_->SetLineSettings(s));

  Open(19200, 1, 2000);
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  MasterWrite(all);
  EXPECT_EQ(PortRead(256), all);
  EXPECT_EQ(PortWrite(all), 256);
  EXPECT_EQ(MasterRead(256), all);
  EXPECT_EQ(MasterRead(1, 50), "");  // nothing is echoed back to the logger side
  // Opening an open port reopens it, dropping stale input.
  MasterWrite("stale");
  usleep(20000);
  Open(9600);
  EXPECT_EQ(PortRead(5), "");
  EXPECT_EQ(PortWrite("z"), 1);
  EXPECT_EQ(MasterRead(1), "z");
}

TEST_F(PtyTest, LineSettingsReachTheMasterSideAndAreReportedAsTheDeviceHoldsThem) {
  Open(2400);
  // A rate without a constant runs at the nearest lower one and is reported as asked.
  LineSettings s, back;
  s.baudRate = 28800;
  ASSERT_TRUE(port_->SetLineSettings(s));
  termios t = Master();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  ASSERT_TRUE(port_->GetLineSettings(back));
  EXPECT_EQ(back.baudRate, 28800);

  s.baudRate = 4800;
  s.stopBits = 2;
  s.dtrControl = DtrControl::Enable;  // no modem lines on a pty: ignored, but kept
  s.rtsControl = RtsControl::Enable;
  ASSERT_TRUE(port_->SetLineSettings(s));
  ASSERT_TRUE(port_->GetLineSettings(back));
  EXPECT_EQ(back, s);
  t = Master();  // two stop bits, 8 data bits, no hardware handshake, raw
  EXPECT_EQ(t.c_cflag & (CSTOPB | CSIZE | CRTSCTS), static_cast<tcflag_t>(CSTOPB | CS8));
  EXPECT_FALSE((t.c_lflag & (ICANON | ECHO | ISIG)) || (t.c_oflag & OPOST));
  s.baudRate = 0;
  EXPECT_FALSE(port_->SetLineSettings(s));
}

TEST_F(PtyTest, ReadsReturnWhenFullOrAfterTheTotalTimeout) {
  Open(2400);
  MasterWrite("AB");
  auto start = Clock::now();
  EXPECT_EQ(PortRead(10), "AB");
  EXPECT_GE(MsSince(start), 10 * 5 + 20 - 1);
  EXPECT_EQ(PortRead(0), "");

  SetTimeouts(1, 20000);
  MasterWrite("12345");
  start = Clock::now();
  EXPECT_EQ(PortRead(5), "12345");
  EXPECT_LT(MsSince(start), 10000);  // far below the 20 s the time-out allows

  // Zero time-outs take only what is waiting.
  SetTimeouts(0, 0);
  EXPECT_EQ(PortRead(4), "");
  MasterWrite("xy");
  std::string got;
  for (int i = 0; i < 200 && got.size() < 2; ++i) {
    got += PortRead(4);
    if (got.size() < 2) usleep(5000);
  }
  EXPECT_EQ(got, "xy");
}

#ifdef TIOCGEXCL
TEST_F(PtyTest, OpenIsExclusiveWhilePortIsOpen) {
  ASSERT_TRUE(port_->Open());
  // Root may open an exclusive terminal anyway; ask the flag itself.
  const int other = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other < 0) {
    EXPECT_EQ(errno, EBUSY);
    return;
  }
  int exclusive = 0;
  ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  port_->Close();
  ASSERT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  ::close(other);
}
#endif

TEST(LibSerialPortTest, MissingAndNonTerminalDevicesDoNotOpen) {
  const auto file = std::filesystem::temp_directory_path() / "klx-not-a-tty.txt";
  std::ofstream(file) << "x";
  for (const std::string& device :
       {std::string("/dev/klx-no-such-device"), std::string(), file.string()}) {
    LibSerialPort port(device);
    EXPECT_FALSE(port.Open() || port.IsOpen()) << device;  // closed, it does nothing: above
  }
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace klx
