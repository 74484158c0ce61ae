#pragma once
// Shared by the fuzz targets: a private folder per process for the files a parser reads, and a
// far end on the in-process loopback answering each command with the next reply of the input.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/loopback.h"
#include "platform/port_map.h"
#include "platform/serial_port.h"

namespace klx::fuzz {

// A fresh folder for this process, removed at exit; in memory where there is /dev/shm (every run
// writes its input, some write and sync files back).
inline const std::filesystem::path& WorkDir() {
  static const std::filesystem::path dir = [] {
    std::error_code ec;
    const auto d = (std::filesystem::is_directory("/dev/shm", ec)
                        ? std::filesystem::path("/dev/shm")
                        : std::filesystem::temp_directory_path()) /
                   ("klx_fuzz_" + std::to_string(::getpid()));
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    std::atexit([] { std::error_code e; std::filesystem::remove_all(WorkDir(), e); });
    return d;
  }();
  return dir;
}

inline void WriteBytes(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline std::filesystem::path InputFile(const char* name, const uint8_t* data, size_t size) {
  WriteBytes(WorkDir() / name, data, size);
  return WorkDir() / name;
}

// Cuts the input into replies: two bytes of length (low byte first), then that many bytes (a
// length past the end takes what is left); the far end answers each host write with the next.
struct ReplyScript {
  ReplyScript(const uint8_t* d, size_t n) : data(d), size(n) {}
  bool Next(std::string& reply) {
    if (at + 2 > size) return false;
    const size_t n = std::min(size_t{data[at]} | size_t{data[at + 1]} << 8, size - at - 2);
    reply.assign(reinterpret_cast<const char*>(data + at + 2), n);
    at += 2 + n;
    return true;
  }
  const uint8_t* data;
  size_t size, at = 0;
};

struct ScriptedFarEnd : LineDevice {
  explicit ScriptedFarEnd(ReplyScript s) : script(s) {}
  void Receive(const uint8_t*, size_t, int, int64_t nowMs, LineOutput& out) override {
    std::string reply;
    if (script.Next(reply) && !reply.empty()) out.Send(reply, nowMs + 1);
  }
  ReplyScript script;
};

// Registers the far end as the transport "fuzz:" and gives the port number of its name.
inline constexpr const char* kFarEndPort = "fuzz:logger";
inline int RegisterFarEnd(TransportRegistry& transports, PortMap& ports, Clock& clock,
                          std::shared_ptr<LineDevice> device) {
  transports.Register("fuzz:", [device, &clock](std::string_view) {
    return std::make_unique<LoopbackPort>(kFarEndPort, device, clock);
  });
  return ports.NumberFor(kFarEndPort);
}

}  // namespace klx::fuzz
