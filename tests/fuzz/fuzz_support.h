#pragma once
// Shared by the fuzz targets: a private folder per process for the files a parser reads, and a
// far end on the in-process loopback that answers every command with the next reply cut from
// the fuzzer's input.
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

// A fresh folder for this process, removed at exit; in memory where there is /dev/shm, since
// every run writes its input and some write files back (and sync them).
inline const std::filesystem::path& WorkDir() {
  static const std::filesystem::path dir = [] {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    auto d = base / ("klx_fuzz_" + std::to_string(::getpid()));
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(WorkDir(), ec);
    });
    return d;
  }();
  return dir;
}

inline void WriteBytes(const std::filesystem::path& path, const uint8_t* data, size_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Writes the input as `name` in the work folder and gives its path.
inline std::filesystem::path InputFile(const char* name, const uint8_t* data, size_t size) {
  auto path = WorkDir() / name;
  WriteBytes(path, data, size);
  return path;
}

// Cuts the input into replies: two bytes of length (low byte first), then that many bytes.
// A length past the end takes what is left.
class ReplyScript {
 public:
  ReplyScript(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Next(std::string& reply) {
    if (at_ + 2 > size_) return false;
    size_t n = data_[at_] | static_cast<size_t>(data_[at_ + 1]) << 8;
    at_ += 2;
    n = std::min(n, size_ - at_);
    reply.assign(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The far end: every write from the host is answered with the next reply of the script (the
// logger goes silent once the script is spent).
class ScriptedFarEnd : public LineDevice {
 public:
  explicit ScriptedFarEnd(ReplyScript script) : script_(script) {}
  void Receive(const uint8_t*, size_t, int, int64_t nowMs, LineOutput& out) override {
    std::string reply;
    if (script_.Next(reply) && !reply.empty()) out.Send(reply, nowMs + 1);
  }

 private:
  ReplyScript script_;
};

// The name the loopback transport is registered under.
inline constexpr const char* kFarEndPort = "fuzz:logger";

// Registers the far end as the transport "fuzz:" and gives the port number of its name.
inline int RegisterFarEnd(TransportRegistry& transports, PortMap& ports, Clock& clock,
                          std::shared_ptr<LineDevice> device) {
  transports.Register("fuzz:", [device, &clock](std::string_view) {
    return std::make_unique<LoopbackPort>(kFarEndPort, device, clock);
  });
  return ports.NumberFor(kFarEndPort);
}

}  // namespace klx::fuzz
