// LoopbackPort time-out semantics on the virtual clock: the same rule the real port follows,
// a read of N bytes returns when N bytes arrived or after N x T + C ms.
#include "platform/loopback.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace klx {
namespace {

// Sends back what it receives, latencyMs later, one byte every msPerByte.
class EchoDevice final : public LineDevice {
 public:
  EchoDevice(int64_t latencyMs, double msPerByte) : latencyMs_(latencyMs), msPerByte_(msPerByte) {}
  void Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
               LineOutput& out) override {
    lastBaud = hostBaud;
    out.Send(data, count, nowMs + latencyMs_, msPerByte_);
  }
  void HostOpened(int64_t) override { ++opened; }
  void HostClosed(int64_t) override { ++closed; }
  int lastBaud = 0;
  int opened = 0;
  int closed = 0;

 private:
  int64_t latencyMs_;
  double msPerByte_;
};

class LoopbackTest : public ::testing::Test {
 protected:
  void Make(int64_t latencyMs, double msPerByte) {
    device_ = std::make_shared<EchoDevice>(latencyMs, msPerByte);
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
    std::vector<uint8_t> buffer(static_cast<size_t>(n) + 1);
    const int got = port_->Read(buffer.data(), n);
    EXPECT_GE(got, 0);
    EXPECT_LE(got, n);
    return std::string(buffer.begin(), buffer.begin() + std::max(got, 0));
  }

  VirtualClock clock_;
  std::shared_ptr<EchoDevice> device_;
  std::unique_ptr<LoopbackPort> port_;
};

TEST_F(LoopbackTest, ShortReadReturnsAfterTheWholeTotalTimeout) {
  Make(5, 0.0);
  SetTimeouts(2, 20);
  const int64_t start = clock_.MonotonicMs();
  Write("abc");
  EXPECT_EQ(Read(10), "abc");
  EXPECT_EQ(clock_.MonotonicMs() - start, 10 * 2 + 20);
}

TEST_F(LoopbackTest, SilenceReturnsNothingAfterTheWholeTotalTimeout) {
  Make(0, 0.0);
  SetTimeouts(5, 20);
  const int64_t start = clock_.MonotonicMs();
  EXPECT_EQ(Read(8), "");
  EXPECT_EQ(clock_.MonotonicMs() - start, 8 * 5 + 20);
  // At 19200 baud (T = 1, C = 20): 120 bytes after 140 ms, 300 after 320 ms.
  SetTimeouts(1, 20);
  const int64_t second = clock_.MonotonicMs();
  EXPECT_EQ(Read(120), "");
  EXPECT_EQ(clock_.MonotonicMs() - second, 140);
  EXPECT_EQ(Read(300), "");
  EXPECT_EQ(clock_.MonotonicMs() - second, 140 + 320);
}

TEST_F(LoopbackTest, FullReadReturnsWhenTheLastByteArrives) {
  Make(5, 3.0);
  SetTimeouts(100, 1000);
  const int64_t start = clock_.MonotonicMs();
  Write("xyz");  // arrives at +5, +8, +11
  EXPECT_EQ(Read(3), "xyz");
  EXPECT_EQ(clock_.MonotonicMs() - start, 11);
}

TEST_F(LoopbackTest, FullReadOfBytesAlreadyThereTakesNoTime) {
  Make(0, 0.0);
  SetTimeouts(100, 1000);
  Write("hello");
  clock_.Advance(50);
  const int64_t before = clock_.MonotonicMs();
  EXPECT_EQ(Read(5), "hello");
  EXPECT_EQ(clock_.MonotonicMs(), before);
}

TEST_F(LoopbackTest, PacedBytesArriveInOrderAcrossReads) {
  Make(0, 10.0);
  SetTimeouts(0, 25);
  const int64_t start = clock_.MonotonicMs();
  Write("hello");  // h e l l o at +0 +10 +20 +30 +40
  EXPECT_EQ(Read(5), "hel");
  EXPECT_EQ(clock_.MonotonicMs() - start, 25);
  EXPECT_EQ(Read(5), "lo");
  EXPECT_EQ(clock_.MonotonicMs() - start, 50);
  EXPECT_EQ(Read(5), "");
  EXPECT_EQ(clock_.MonotonicMs() - start, 75);
}

TEST_F(LoopbackTest, LaterRepliesNeverOvertakeEarlierOnes) {
  Make(0, 10.0);
  SetTimeouts(10, 100);
  Write("abcd");  // a..d at +0..+30
  clock_.Advance(1);
  Write("XY");  // would be due at +1 and +11, queued behind d
  EXPECT_EQ(Read(6), "abcdXY");
}

TEST_F(LoopbackTest, ByteAtTheDeadlineIsStillRead) {
  Make(40, 0.0);
  SetTimeouts(2, 20);  // 10 bytes: deadline at +40, the echo arrives at +40
  const int64_t start = clock_.MonotonicMs();
  Write("q");
  EXPECT_EQ(Read(10), "q");
  EXPECT_EQ(clock_.MonotonicMs() - start, 40);
}

TEST_F(LoopbackTest, DeviceSeesTheHostBaudRate) {
  Make(0, 0.0);
  LineSettings s;
  s.baudRate = 2400;
  ASSERT_TRUE(port_->SetLineSettings(s));
  Write("A");
  EXPECT_EQ(device_->lastBaud, 2400);
  LineSettings back;
  ASSERT_TRUE(port_->GetLineSettings(back));
  EXPECT_EQ(back, s);
}

TEST_F(LoopbackTest, ClosedPortReadsNothingAndTakesNoTime) {
  Make(0, 0.0);
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
