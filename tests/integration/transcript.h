#pragma once
// Recorded sessions as readable text: a recording wraps a live far end; a replay plays the
// logger's side back to the host stack and notes where the host first departs from it.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/logger_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/loopback.h"
#include "platform/port_map.h"
#include "records/deployment_parameters.h"

namespace klx::test {

struct Transcript {
  struct Step {
    bool fromHost = true;
    int baud = 0;  // the host's line rate, for host steps
    std::string bytes;
  };
  std::map<std::string, std::string> header;  // "model", "firmware", "baud", "profile", ...
  std::vector<Step> steps;

  std::string Serialize() const;
  static bool Parse(const std::string& text, Transcript& out, std::string* error);
};

std::string EscapeBytes(const std::string& bytes);
bool UnescapeBytes(const std::string& text, std::string& out);

// Passes everything through to `inner` and writes down both directions.
class RecordingDevice : public LineDevice {
 public:
  explicit RecordingDevice(std::shared_ptr<LineDevice> inner) : inner_(std::move(inner)) {}
  void Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
               LineOutput& out) override;
  void Poll(int64_t untilMs, LineOutput& out) override;
  void HostOpened(int64_t nowMs) override { inner_->HostOpened(nowMs); }
  void HostClosed(int64_t nowMs) override { inner_->HostClosed(nowMs); }
  Transcript transcript;

 private:
  class Tap;
  std::shared_ptr<LineDevice> inner_;
};

// Answers as the transcript says, as long as the host says what the transcript says.
class ReplayDevice : public LineDevice {
 public:
  explicit ReplayDevice(Transcript transcript) : transcript_(std::move(transcript)) {}
  void Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
               LineOutput& out) override;
  // Empty while the host has followed the transcript.
  const std::string& Divergence() const { return divergence_; }
  size_t StepsLeft() const { return transcript_.steps.size() - next_; }

 private:
  Transcript transcript_;
  size_t next_ = 0;
  std::string pending_;
  std::string divergence_;
};

// The host's link stack on a virtual clock, `device` behind "rec:logger" (or `port`), recorded.
struct LinkHost {
  explicit LinkHost(std::shared_ptr<LineDevice> device, const std::string& port = "rec:logger")
      : recorder(std::make_shared<RecordingDevice>(std::move(device))) {
    transports.Register("rec:", [this](std::string_view) {
      return std::make_unique<LoopbackPort>("rec:", recorder, clock);
    });
    link.loggerPort = ports.NumberFor(port);
  }
  // What the host wrote, in order, and the rates at which it wrote "A".
  std::vector<std::string> HostWrites() const {
    std::vector<std::string> writes;
    for (const auto& s : recorder->transcript.steps)
      if (s.fromHost) writes.push_back(s.bytes);
    return writes;
  }
  std::vector<int> IdentifyRates() const {
    std::vector<int> rates;
    for (const auto& s : recorder->transcript.steps)
      if (s.fromHost && s.bytes == "A") rates.push_back(s.baud);
    return rates;
  }

  VirtualClock clock;
  std::shared_ptr<RecordingDevice> recorder;
  TransportRegistry transports;
  PortMap ports;
  SerialLink link{transports, ports, clock};
  RecordingHost host;
  DeploymentParameters deployment;
  LoggerLink logger{link, host, deployment};
};

}  // namespace klx::test
