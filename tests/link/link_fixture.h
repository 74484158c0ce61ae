#pragma once
// A logger link wired to a scripted far end through the in-process loopback, on a virtual clock.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "link/logger_link.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/loopback.h"
#include "platform/port_map.h"
#include "records/deployment_parameters.h"

namespace klx::test {

// A far end whose answers the test writes: the handler sees what the host sent since the last
// Clear(); without one, `answer` goes back whenever what came is `on` (or anything, if empty).
class ScriptedDevice : public LineDevice {
 public:
  using Handler = std::function<void(ScriptedDevice&, LineOutput&, int64_t nowMs)>;
  void Receive(const uint8_t* data, size_t count, int, int64_t nowMs, LineOutput& out) override {
    received.append(reinterpret_cast<const char*>(data), count);
    log.append(reinterpret_cast<const char*>(data), count);
    if (handler) return handler(*this, out, nowMs);
    if (!answer.empty() && (on.empty() || received == on)) out.Send(answer, nowMs + 1);
    received.clear();
  }
  void Clear() { received.clear(); }
  std::string received, log;  // since the last Clear(); everything
  Handler handler;
  std::string on, answer;
};

struct LinkFixture {
  LinkFixture() {
    transports.Register("test:", [this](std::string_view) {
      return std::make_unique<LoopbackPort>("test:logger", device, clock);
    });
    link.loggerPort = ports.NumberFor("test:logger");
  }
  VirtualClock clock;
  TransportRegistry transports;
  PortMap ports;
  std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
  SerialLink link{transports, ports, clock};
  RecordingHost host;
  DeploymentParameters deployment;
  LoggerLink logger{link, host, deployment};

  bool Open(int baud = 19200) {
    return link.OpenSerialPort(PortSlot::Logger, link.loggerPort, baud, RtsControl::Disable);
  }
  template <class Step>
  int64_t Elapsed(Step step) {
    const int64_t before = clock.MonotonicMs();
    step();
    return clock.MonotonicMs() - before;
  }
};

struct OpenLink : ::testing::Test, LinkFixture {
  void SetUp() override { ASSERT_TRUE(Open()); }
};

}  // namespace klx::test
