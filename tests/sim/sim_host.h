#pragma once
// A host that speaks raw bytes to a SimLogger through a LoopbackPort on a virtual clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/loopback.h"
#include "platform/system_time.h"
#include "session/retrieval.h"
#include "session/session.h"
#include "sim/sim_logger.h"
#include "sim/sim_transport.h"

namespace klx::sim::test {

inline SimProfile Profile(const std::string& name) {
  SimProfile p;
  std::string error;
  if (!LoadProfile(name, p, error)) throw std::runtime_error(error);
  return p;
}

// The logger as it stands before its first deployment: empty memory, not enabled.
inline void MakeFresh(SimProfile& p) {
  p.samples = 0;
  p.fill = 0;
  p.dataBytes = 0;
  p.status = 0;
  p.stamps.clear();
}
inline SimProfile Fresh(const std::string& name) {
  SimProfile p = Profile(name);
  MakeFresh(p);
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

// The memory read request for [start, end), addresses low byte first.
inline std::string ReadCommand(uint32_t start, uint32_t end) {
  char b[32];
  std::snprintf(b, sizeof b, "I%02x%02x%02x%02x%02x%02x%02x%02x", end & 0xFF, end >> 8 & 0xFF,
                end >> 16 & 0xFF, end >> 24, start & 0xFF, start >> 8 & 0xFF, start >> 16 & 0xFF,
                start >> 24);
  return b;
}

// A table write as the host makes it (data and check byte in 16-byte chunks); the replies.
inline std::string WriteTable(SimHost& host, const std::string& command, std::string data) {
  data += static_cast<char>(0xA5 - Sum(data, data.size()));
  char h[8];
  std::snprintf(h, sizeof h, "%02X", static_cast<unsigned>(data.size()));
  std::string reply = host.Ask(command + h, 80);
  for (size_t i = 0; i < data.size(); i += 16) reply += host.Ask(data.substr(i, 16), 80);
  return reply;
}

// An older logger holds no data on a page's last byte and from a region's offset 0xFF7FE on.
inline bool HoldsNoData(uint32_t address) {
  return (address & 0xFFFF) == 0xFFFF || (address & 0xFFFFF) >= 0xFF7FE;
}

// A session on the simulated logger "sim:test" of a profile (changed by `edit` first), in a
// directory of its own that goes with the rig. HostT is the host the session talks to.
template <class HostT = RecordingHost>
struct SimSession {
  explicit SimSession(const std::string& profileName,
                      const std::function<void(SimProfile&)>& edit = {},
                      SystemTime now = SystemTime{2026, 9, 1, 2, 12, 0, 0, 0})
      : dir(std::filesystem::temp_directory_path() /
            ("klx-sim-" + std::to_string(::getpid()) + "-" + std::to_string(counter++))),
        clock(now),
        session((std::filesystem::create_directories(dir), host), clock, dir, {}) {
    sims = RegisterSimTransport(session.transports, clock);
    SimProfile p;
    std::string error;
    EXPECT_TRUE(LoadProfile(profileName, p, error)) << error;
    if (edit) edit(p);
    logger = std::make_shared<SimLogger>(p);
    sims->Add("test", logger);
    session.ReadSettings();
    EXPECT_TRUE(session.SelectPort("sim:test", &error)) << error;
  }
  ~SimSession() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  // Runs a whole retrieval; false when it ended before the transfer.
  bool Retrieve(bool all = false) {
    Retrieval r(session);
    if (!r.Open()) return false;
    const bool started = r.Begin(all);
    while (r.Tick()) {
    }
    transfer = r.transfer().state;
    return started;
  }
  // The logger's data bytes in [first, end) without those an older logger never fills (the
  // last byte of each 64 KiB page, the tail of each 1 MiB region), cut to whole words.
  std::vector<uint8_t> LoggerBytes(uint32_t first, uint32_t end) const {
    const bool linear = logger->Profile().IsExtended();
    std::vector<uint8_t> bytes;
    for (uint32_t a = first; a < end; ++a)
      if (linear || !HoldsNoData(a)) bytes.push_back(logger->MemoryByte(a));
    bytes.resize(bytes.size() - bytes.size() % 3);
    return bytes;
  }
  // What the image must hold: the logger's data area up to its pointer.
  std::vector<uint8_t> ExpectedImage() const {
    return LoggerBytes(logger->Profile().IsExtended() ? 0 : 0x20000, logger->DataPointer());
  }
  std::vector<uint8_t> Image() const {
    const auto& image = session.held.image;
    return {image.bytes.begin(), image.bytes.begin() + image.fill};
  }
  bool Told(const std::string& part) const { return host.Saw("tell", part); }
  bool Asked(const std::string& part) const { return host.Saw("ask", part); }

  static inline int counter = 0;
  std::filesystem::path dir;
  VirtualClock clock;
  HostT host;
  Session session;
  std::shared_ptr<SimLoggers> sims;
  std::shared_ptr<SimLogger> logger;
  TransferState transfer;
};

}  // namespace klx::sim::test
