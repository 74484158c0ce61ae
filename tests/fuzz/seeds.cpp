// Writes seeds for the fuzz targets from the simulator's own output:
//   klx_fuzz_seeds replies PROFILE query|calibration FILE  replies, each after its two length bytes
//   klx_fuzz_seeds realtime PROFILE binary|text FILE       the form byte and a few records
//   klx_fuzz_seeds nmea GGA|GLL|RMC FILE                   a few seconds of sentences
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
struct Recorder : LineDevice, private LineOutput {
  explicit Recorder(std::shared_ptr<sim::SimLogger> l) : logger(std::move(l)) {}
  void Receive(const uint8_t* data, size_t count, int baud, int64_t nowMs, LineOutput& o) override {
    out = &o;
    reply.clear();
    logger->Receive(data, count, baud, nowMs, *this);
    const size_t n = std::min<size_t>(reply.size(), 0xFFFF);
    script += {static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)};
    script.append(reply, 0, n);
  }
  void Poll(int64_t untilMs, LineOutput& o) override { logger->Poll(untilMs, o); }
  void HostOpened(int64_t nowMs) override { logger->HostOpened(nowMs); }
  void HostClosed(int64_t nowMs) override { logger->HostClosed(nowMs); }
  void Send(const uint8_t* data, size_t count, int64_t atMs, double msPerByte) override {
    reply.append(reinterpret_cast<const char*>(data), count);
    out->Send(data, count, atMs, msPerByte);
  }
  void DiscardPending() override { out->DiscardPending(); }
  std::shared_ptr<sim::SimLogger> logger;
  LineOutput* out = nullptr;
  std::string reply, script;
};

int Write(const char* file, const std::string& bytes) {
  return std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes ? 0 : 1;
}

std::shared_ptr<sim::SimLogger> MakeLogger(const char* profileName, bool engineering) {
  VirtualClock clock;
  sim::SimProfile profile;
  std::string error;
  if (!sim::LoadProfile(profileName, profile, error))
    return std::fprintf(stderr, "%s\n", error.c_str()), nullptr;
  if (engineering) profile.capabilities[20] = 1;
  const bool ownClock = profile.clock.empty();
  auto logger = std::make_shared<sim::SimLogger>(std::move(profile));
  if (ownClock) logger->SetClock(clock.LocalTime(), clock.MonotonicMs());
  return logger;
}

int Replies(const char* profileName, const std::string& kind, const char* file) {
  auto logger = MakeLogger(profileName, false);
  if (!logger) return 1;
  auto recorder = std::make_shared<Recorder>(logger);
  fuzz::FarEndLink far(recorder);
  if (!far.Open()) return 1;
  if (kind == "calibration")
    fuzz::CalibrationConversation(far.logger, fuzz::WorkDir());  // the history goes there
  else
    fuzz::QueryConversation(far.logger);
  return Write(file, recorder->script);
}

int Realtime(const char* profileName, bool engineering, const char* file) {
  auto logger = MakeLogger(profileName, engineering);
  if (!logger) return 1;
  if (engineering) {  // the engineering-units flag of the start characteristic (bit 10)
    fuzz::FarEndLink far(logger);
    if (!far.Open() || far.link.LinkWriteText("!100040000\r") < 0 || !logger->RealtimeEngineering())
      return std::fprintf(stderr, "the simulated logger did not take the engineering flag\n"), 1;
  }
  const size_t channels = logger->Profile().channels.size();
  std::string bytes(1, static_cast<char>((engineering ? 0x80 : 0) | ((channels - 1) & 7)));
  const int64_t start = 830000000;  // seconds since 2000
  for (int row = 0; row < 4; ++row) {
    std::vector<uint32_t> raw;
    for (size_t ch = 0; ch < channels; ++ch) raw.push_back(0x400000u + 0x1234u * (row + ch));
    bytes += logger->RealtimeRecord(start + row, raw, row == 2);
  }
  if (!engineering)
    bytes += logger->RealtimeBurstRecord(0, start + 10, 0x500000, 0x500100) +
             logger->RealtimeBurstRecord(2, start + 10, 0x500200, 0x500300);
  return Write(file, bytes);
}

int Nmea(const char* modeName, const char* file) {
  const auto mode = sim::SimGps::ModeNamed(modeName);
  if (!mode) return 1;
  sim::SimGps gps(*mode);
  gps.SetClock(MakeSystemTime(2026, 1, 1, 0, 0, 0), 0);
  std::string bytes;
  for (int second = 0; second < 3; ++second) bytes += gps.Second(second);
  return Write(file, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "replies") == 0) return Replies(argv[2], argv[3], argv[4]);
  if (argc == 5 && std::strcmp(argv[1], "realtime") == 0)
    return Realtime(argv[2], std::strcmp(argv[3], "text") == 0, argv[4]);
  if (argc == 4 && std::strcmp(argv[1], "nmea") == 0) return Nmea(argv[2], argv[3]);
  return std::fprintf(stderr, "usage: klx_fuzz_seeds replies|realtime|nmea ...\n"), 2;
}
