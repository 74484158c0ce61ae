// LoopbackPort time-out semantics on the virtual clock: the same rule the real port follows,
// a read of N bytes returns when N bytes arrived or after N x T + C ms.
#include "platform/loopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/clock.h"

namespace klx {
namespace {

// Sends back what it receives, latencyMs later, one byte every msPerByte.
struct EchoDevice final : LineDevice {
  void Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
               LineOutput& out) override {
    lastBaud = hostBaud;
    out.Send(data, count, nowMs + latencyMs, msPerByte);
  }
  void HostOpened(int64_t) override { ++opened; }
  void HostClosed(int64_t) override { ++closed; }
  int64_t latencyMs = 0;
  double msPerByte = 0;
  int lastBaud = 0, opened = 0, closed = 0;
};

class LoopbackTest : public ::testing::Test {
 protected:
  void Make(int64_t latencyMs, double msPerByte) {
    device_ = std::make_shared<EchoDevice>();
    device_->latencyMs = latencyMs;
    device_->msPerByte = msPerByte;
    port_ = std::make_unique<LoopbackPort>("sim:echo", device_, clock_);
    ASSERT_TRUE(port_->Open());
  }
  void SetTimeouts(uint32_t multiplier, uint32_t constant) {
    CommTimeouts t;
    t.readTotalTimeoutMultiplier = multiplier;
    t.readTotalTimeoutConstant = constant;
    ASSERT_TRUE(port_->SetTimeouts(t));
  }
  void Write(const std::string& text) {
    ASSERT_EQ(
        port_->Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size())),
        static_cast<int>(text.size()));
  }
  std::string Read(int n) {
    std::string buffer(static_cast<size_t>(n), '\0');
    const int got = port_->Read(reinterpret_cast<uint8_t*>(buffer.data()), n);
    EXPECT_TRUE(got >= 0 && got <= n) << got;
    buffer.resize(static_cast<size_t>(std::clamp(got, 0, n)));
    return buffer;
  }

  VirtualClock clock_;
  std::shared_ptr<EchoDevice> device_;
  std::unique_ptr<LoopbackPort> port_;
};

TEST_F(LoopbackTest, ReadReturnsWithTheLastByteOrAfterTheWholeTotalTimeout) {
  const struct {
    int64_t latencyMs;
    double msPerByte;
    uint32_t multiplier, constant;
    const char* sent;
    int64_t waitMs;  // before the read
    int wanted;
    const char* got;
    int64_t readMs;
  } cases[] = {
      {5, 0.0, 2, 20, "abc", 0, 10, "abc", 10 * 2 + 20},  // short read
      {0, 0.0, 5, 20, "", 0, 8, "", 8 * 5 + 20},          // silence
      {0, 0.0, 1, 20, "", 0, 120, "", 140},               // 19200 baud
      {0, 0.0, 1, 20, "", 0, 300, "", 320},
      {5, 3.0, 100, 1000, "xyz", 0, 3, "xyz", 11},      // arriving at +5, +8, +11
      {0, 0.0, 100, 1000, "hello", 50, 5, "hello", 0},  // already there
      {40, 0.0, 2, 20, "q", 0, 10, "q", 40},            // arriving at the deadline
  };
  for (const auto& c : cases) {
    Make(c.latencyMs, c.msPerByte);
    SetTimeouts(c.multiplier, c.constant);
    Write(c.sent);
    clock_.Advance(c.waitMs);
    const int64_t start = clock_.MonotonicMs();
    EXPECT_EQ(Read(c.wanted), c.got) << c.sent << " " << c.wanted;
    EXPECT_EQ(clock_.MonotonicMs() - start, c.readMs) << c.sent << " " << c.wanted;
  }
}

TEST_F(LoopbackTest, PacedBytesArriveInOrderAcrossReadsAndNeverOvertake) {
  Make(0, 10.0);
  SetTimeouts(0, 25);
  const int64_t start = clock_.MonotonicMs();
  Write("hello");  // h e l l o at +0 +10 +20 +30 +40
  for (auto [got, at] : {std::pair{"hel", 25}, {"lo", 50}, {"", 75}}) {
    EXPECT_EQ(Read(5), got);
    EXPECT_EQ(clock_.MonotonicMs() - start, at);
  }

  SetTimeouts(10, 100);
  Write("abcd");  // a..d at +0..+30
  clock_.Advance(1);
  Write("XY");  // would be due at +1 and +11, queued behind d
  EXPECT_EQ(Read(6), "abcdXY");
}

TEST_F(LoopbackTest, DeviceSeesTheHostBaudRateAndTheClose) {
  Make(0, 0.0);
  LineSettings s;
  s.baudRate = 2400;
  ASSERT_TRUE(port_->SetLineSettings(s));
  Write("A");
  EXPECT_EQ(device_->lastBaud, 2400);
  LineSettings back;
  ASSERT_TRUE(port_->GetLineSettings(back));
  EXPECT_EQ(back, s);

  // Closed, the port reads nothing and takes no time.
  SetTimeouts(5, 20);
  Write("abc");
  port_->Close();
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_EQ(device_->closed, 1);
  const int64_t before = clock_.MonotonicMs();
  uint8_t buffer[8];
  EXPECT_EQ(port_->Read(buffer, 8), 0);
  EXPECT_EQ(port_->Write(buffer, 8), 0);
  EXPECT_EQ(clock_.MonotonicMs(), before);
  CommTimeouts t;
  EXPECT_FALSE(port_->GetTimeouts(t));
  // Reopening starts with an empty line.
  ASSERT_TRUE(port_->Open());
  EXPECT_EQ(device_->opened, 2);
  EXPECT_EQ(Read(3), "");
}

}  // namespace
}  // namespace klx
