#pragma once
// A host that speaks raw bytes to a SimLogger through a LoopbackPort on a virtual clock.
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/loopback.h"
#include "sim/sim_logger.h"

namespace klx::sim::test {

inline SimProfile Profile(const std::string& name) {
  SimProfile p;
  std::string error;
  if (!LoadProfile(name, p, error)) throw std::runtime_error(error);
  return p;
}

// The profile's logger as it stands before its first deployment: empty memory, not enabled.
inline SimProfile Fresh(const std::string& name) {
  SimProfile p = Profile(name);
  p.samples = 0;
  p.fill = 0;
  p.dataBytes = 0;
  p.status = 0;
  p.stamps.clear();
  return p;
}

struct SimHost {
  explicit SimHost(SimProfile profile, int baud = 19200)
      : logger(std::make_shared<SimLogger>(std::move(profile))), port("sim", logger, clock) {
    port.Open();
    SetBaud(baud);
  }
  void SetBaud(int baud) {
    LineSettings s;
    s.baudRate = baud;
    port.SetLineSettings(s);
    CommTimeouts t;
    t.readTotalTimeoutMultiplier = static_cast<uint32_t>((10000 + baud - 1) / baud);
    t.readTotalTimeoutConstant = 20;
    port.SetTimeouts(t);
  }
  void Write(const std::string& text) {
    port.Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
  }
  void Ack() { Write("\x06"); }
  std::string Read(int maximum = 120) {
    std::string buffer(static_cast<size_t>(maximum), '\0');
    const int n = port.Read(reinterpret_cast<uint8_t*>(buffer.data()), maximum);
    buffer.resize(static_cast<size_t>(n));
    return buffer;
  }
  std::string Ask(const std::string& command, int maximum = 120) {
    Write(command);
    return Read(maximum);
  }
  // The ReadTable exchange as the host does it: data bytes with the check byte, or the header
  // reply alone when the logger reports no table.
  std::string ReadTable(const std::string& command, std::string* header = nullptr) {
    const std::string h = Ask(command, 80);
    if (header) *header = h;
    if (h.size() != command.size() + 2 || h.compare(0, command.size(), command) != 0) return {};
    const int length = std::stoi(h.substr(command.size()), nullptr, 16);
    Ack();
    std::string data;
    while (static_cast<int>(data.size()) < length) {
      const std::string chunk = Read(80);
      if (chunk.empty()) break;
      data += chunk;
      Ack();
    }
    return data;
  }

  VirtualClock clock;
  std::shared_ptr<SimLogger> logger;
  LoopbackPort port;
};

// Records what a device sends, with the time of the first byte of each piece.
struct Pieces final : klx::LineOutput {
  struct Piece {
    std::string bytes;
    int64_t atMs;
  };
  void Send(const uint8_t* data, size_t count, int64_t atMs, double) override {
    pieces.push_back({std::string(reinterpret_cast<const char*>(data), count), atMs});
  }
  void DiscardPending() override { pieces.clear(); }
  std::string All() const {
    std::string s;
    for (const auto& p : pieces) s += p.bytes;
    return s;
  }
  std::vector<Piece> pieces;
};

inline uint8_t Sum(const std::string& bytes, size_t count) {
  uint8_t s = 0;
  for (size_t i = 0; i < count; ++i) s = static_cast<uint8_t>(s + static_cast<uint8_t>(bytes[i]));
  return s;
}

inline std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

}  // namespace klx::sim::test
