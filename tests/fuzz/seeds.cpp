// Writes seeds for the fuzz targets from the simulator's own output:
//   klx_fuzz_seeds replies PROFILE query|calibration FILE   the replies of a conversation, each
//                                                          with its two length bytes
//   klx_fuzz_seeds realtime PROFILE binary|text FILE        the form byte and a few records
//   klx_fuzz_seeds nmea GGA|GLL|RMC FILE                    a few seconds of sentences
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "fuzz/conversation.h"
#include "sim/sim_gps.h"
#include "sim/sim_logger.h"
#include "sim/sim_profile.h"

namespace {

using namespace klx;

// Passes everything to the simulated logger and keeps what it answers to each write.
class Recorder : public LineDevice, private LineOutput {
 public:
  explicit Recorder(std::shared_ptr<sim::SimLogger> logger) : logger_(std::move(logger)) {}
  void Receive(const uint8_t* data, size_t count, int hostBaud, int64_t nowMs,
               LineOutput& out) override {
    out_ = &out;
    reply_.clear();
    logger_->Receive(data, count, hostBaud, nowMs, *this);
    const size_t n = std::min<size_t>(reply_.size(), 0xFFFF);
    script.push_back(static_cast<char>(n & 0xFF));
    script.push_back(static_cast<char>(n >> 8));
    script.append(reply_, 0, n);
  }
  void Poll(int64_t untilMs, LineOutput& out) override { logger_->Poll(untilMs, out); }
  void HostOpened(int64_t nowMs) override { logger_->HostOpened(nowMs); }
  void HostClosed(int64_t nowMs) override { logger_->HostClosed(nowMs); }
  std::string script;

 private:
  void Send(const uint8_t* data, size_t count, int64_t atMs, double msPerByte) override {
    reply_.append(reinterpret_cast<const char*>(data), count);
    out_->Send(data, count, atMs, msPerByte);
  }
  void DiscardPending() override { out_->DiscardPending(); }

  std::shared_ptr<sim::SimLogger> logger_;
  LineOutput* out_ = nullptr;
  std::string reply_;
};

bool Write(const char* file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::shared_ptr<sim::SimLogger> MakeLogger(const char* profileName, bool engineering,
                                           VirtualClock& clock) {
  sim::SimProfile profile;
  std::string error;
  if (!sim::LoadProfile(profileName, profile, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return nullptr;
  }
  if (engineering) profile.capabilities[20] = 1;
  const bool ownClock = profile.clock.empty();
  auto logger = std::make_shared<sim::SimLogger>(std::move(profile));
  if (ownClock) logger->SetClock(clock.LocalTime(), clock.MonotonicMs());
  return logger;
}

int Replies(const char* profileName, const std::string& kind, const char* file) {
  VirtualClock clock;
  auto logger = MakeLogger(profileName, false, clock);
  if (!logger) return 1;
  auto recorder = std::make_shared<Recorder>(logger);
  fuzz::FarEndLink far(recorder);
  if (!far.Open()) return 1;
  if (kind == "calibration") {
    const auto folder = fuzz::WorkDir() / "history";
    std::filesystem::create_directories(folder);
    fuzz::CalibrationConversation(far.logger, folder);
  } else {
    fuzz::QueryConversation(far.logger);
  }
  return Write(file, recorder->script) ? 0 : 1;
}

int Realtime(const char* profileName, bool engineering, const char* file) {
  VirtualClock clock;
  auto logger = MakeLogger(profileName, engineering, clock);
  if (!logger) return 1;
  if (engineering) {
    // The engineering-units flag of the start characteristic (bit 10).
    struct Null : LineOutput {
      void Send(const uint8_t*, size_t, int64_t, double) override {}
      void DiscardPending() override {}
    } none;
    const std::string command = "!100040000\r";
    logger->Receive(reinterpret_cast<const uint8_t*>(command.data()), command.size(), 19200, 0,
                    none);
    if (!logger->RealtimeEngineering()) {
      std::fprintf(stderr, "the simulated logger did not take the engineering-units flag\n");
      return 1;
    }
  }
  const size_t channels = logger->Profile().channels.size();
  std::string bytes(1, static_cast<char>((engineering ? 0x80 : 0) | ((channels - 1) & 7)));
  const int64_t start = 830000000;  // seconds since 2000
  for (int row = 0; row < 4; ++row) {
    std::vector<uint32_t> raw;
    for (size_t ch = 0; ch < channels; ++ch) raw.push_back(0x400000u + 0x1234u * (row + ch));
    bytes += logger->RealtimeRecord(start + row, raw, row == 2);
  }
  if (!engineering) {
    bytes += logger->RealtimeBurstRecord(0, start + 10, 0x500000, 0x500100);
    bytes += logger->RealtimeBurstRecord(2, start + 10, 0x500200, 0x500300);
  }
  return Write(file, bytes) ? 0 : 1;
}

int Nmea(const char* modeName, const char* file) {
  const auto mode = sim::SimGps::ModeNamed(modeName);
  if (!mode) return 1;
  sim::SimGps gps(*mode);
  gps.SetClock(MakeSystemTime(2026, 1, 1, 0, 0, 0), 0);
  std::string bytes;
  for (int second = 0; second < 3; ++second) bytes += gps.Second(second);
  return Write(file, bytes) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "replies") == 0) return Replies(argv[2], argv[3], argv[4]);
  if (argc == 5 && std::strcmp(argv[1], "realtime") == 0)
    return Realtime(argv[2], std::strcmp(argv[3], "text") == 0, argv[4]);
  if (argc == 4 && std::strcmp(argv[1], "nmea") == 0) return Nmea(argv[2], argv[3]);
  std::fprintf(stderr, "usage: klx_fuzz_seeds replies|realtime|nmea ...\n");
  return 2;
}
