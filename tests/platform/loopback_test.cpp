// LoopbackPort time-outs on the virtual clock: a read of N bytes returns when N bytes arrived or
// after N x T + C ms (silence alone: the link tests' read times).
#include "platform/loopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>

#include "platform/clock.h"

namespace klx {
namespace {

// Echoes latencyMs later, one byte every msPerByte.
struct EchoDevice final : LineDevice {
  void Receive(const uint8_t* data, size_t count, int, int64_t nowMs, LineOutput& out) override {
    out.Send(data, count, nowMs + latencyMs, msPerByte);
  }
  void HostOpened(int64_t) override { ++opened; }
  void HostClosed(int64_t) override { ++closed; }
  int64_t latencyMs = 0;
  double msPerByte = 0;
  int opened = 0, closed = 0;
};

class LoopbackTest : public ::testing::Test {
 protected:
  void Make(int64_t latencyMs, double msPerByte, uint32_t multiplier, uint32_t constant) {
    device_ = std::make_shared<EchoDevice>();
    std::tie(device_->latencyMs, device_->msPerByte) = std::tie(latencyMs, msPerByte);
    port_ = std::make_unique<LoopbackPort>("sim:echo", device_, clock_);
    ASSERT_TRUE(port_->Open() && port_->SetTimeouts(CommTimeouts{0, multiplier, constant, 0, 0}));
  }
  int Write(const std::string& text) {
    return port_->Write(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
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
  // Echo latency and pace, time-out multiplier and constant, bytes sent, wait before reading,
  // bytes asked for, bytes read and the time the read took.
  const std::tuple<int64_t, double, uint32_t, uint32_t, std::string, int64_t, int, int64_t>
      cases[] = {{5, 0.0, 2, 20, "abc", 0, 10, 10 * 2 + 20},  // short read
                 {5, 3.0, 100, 1000, "xyz", 0, 3, 11},        // arriving at +5, +8, +11
                 {0, 0.0, 100, 1000, "hello", 50, 5, 0},  // already there
                 {40, 0.0, 2, 20, "q", 0, 10, 40}};       // arriving at the deadline
  for (const auto& [latency, pace, multiplier, constant, sent, wait, wanted, readMs] : cases) {
    Make(latency, pace, multiplier, constant);
    EXPECT_EQ(Write(sent), static_cast<int>(sent.size()));
    clock_.Advance(wait);
    const int64_t start = clock_.MonotonicMs();
    EXPECT_EQ(Read(wanted), sent) << wanted;
    EXPECT_EQ(clock_.MonotonicMs() - start, readMs) << sent << " " << wanted;
  }
}

// Closed, the port reads and writes nothing and takes no time; reopened, the line is empty.
TEST_F(LoopbackTest, ClosedPortTakesNoTimeAndReopensEmpty) {
  Make(0, 0.0, 5, 20);
  Write("abc");
  port_->Close();
  EXPECT_FALSE(port_->IsOpen());
  EXPECT_EQ(device_->closed, 1);
  const int64_t before = clock_.MonotonicMs();
  uint8_t buffer[8];
  EXPECT_EQ(port_->Read(buffer, 8), 0);
  EXPECT_EQ(port_->Write(buffer, 8), 0);
  EXPECT_EQ(clock_.MonotonicMs(), before);
  ASSERT_TRUE(port_->Open());
  EXPECT_EQ(device_->opened, 2);
  EXPECT_EQ(Read(3), "");
}

}  // namespace
}  // namespace klx
