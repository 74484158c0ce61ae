// Real-time collection: how fast the host frames records, and what one stored sample costs end to
// end (read from the line, check, convert, derived values, status line, the append to the
// real-time file with its count update and flush), next to the sample periods it has to keep up
// with (at least 167 ms under 6 Hz profiling).
//
// BM_FrameBinaryRecords: 24-channel records (85 bytes) fed to the reader in the read sizes a tick
// uses; bytes/s and records/s.
// BM_StoreSample/<channels>: one tick that stores one sample, from a line that holds records
// already (the virtual clock makes the wait free), with salinity, depth, speed of sound and
// density derived where the logger has T, C and P. Counter series_bytes: the display series'
// memory per stored sample.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/loopback.h"
#include "realtime/collection.h"
#include "realtime/records.h"
#include "session/session.h"
#include "shell/datetime.h"

namespace {

namespace fs = std::filesystem;

const klx::SystemTime kStart{2026, 12, 0, 6, 12, 0, 0, 0};

std::vector<int32_t> Counts(int channels, int i) {
  std::vector<int32_t> raw;
  for (int ch = 0; ch < channels; ++ch) raw.push_back((0x600000 + 977 * i + 4099 * ch) & 0xFFFFFE);
  return raw;
}

void BM_FrameBinaryRecords(benchmark::State& state) {
  constexpr int kChannels = 24;
  std::vector<uint8_t> stream;
  for (int i = 0; i < 1000; ++i) {
    const auto r =
        klx::BinaryRecord(klx::RecordTag::Sample, klx::AddSeconds(kStart, i), Counts(kChannels, i));
    stream.insert(stream.end(), r.begin(), r.end());
  }
  int64_t records = 0;
  for (auto _ : state) {
    klx::RecordReader reader(kChannels, false);
    size_t at = 0;
    while (at < stream.size()) {
      at += reader.Append(stream.data() + at, std::min(reader.ReadSize(), stream.size() - at));
      while (auto r = reader.Next()) {
        benchmark::DoNotOptimize(r->raw.data());
        ++records;
      }
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameBinaryRecords);

// A logger line that always has the next record waiting.
class Feed : public klx::LineDevice {
 public:
  explicit Feed(int channels) : channels_(channels) {}
  void Receive(const uint8_t*, size_t, int, int64_t, klx::LineOutput&) override {}
  void Poll(int64_t untilMs, klx::LineOutput& out) override {
    while (queued_ < 4) {
      const auto r = klx::BinaryRecord(klx::RecordTag::Sample, klx::AddSeconds(kStart, next_),
                                       Counts(channels_, next_));
      out.Send(r.data(), r.size(), untilMs);
      ++next_;
      ++queued_;
    }
  }
  void Taken() { queued_ = 0; }

 private:
  int channels_;
  int next_ = 0;
  int queued_ = 0;
};

void BM_StoreSample(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  const fs::path dir =
      fs::temp_directory_path() / ("klx-realtime-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  {
    klx::VirtualClock clock(kStart);
    klx::RecordingHost host;
    klx::Session session(host, clock, dir, {});
    session.ReadSettings();
    auto feed = std::make_shared<Feed>(channels);
    session.transports.Register("bench:", [&](std::string_view) {
      return std::make_unique<klx::LoopbackPort>("bench:logger", feed, clock);
    });
    session.link.loggerPort = session.ports.NumberFor("bench:logger");
    session.link.gpsPort = 0;
    session.link.OpenSerialPort(klx::PortSlot::Logger, session.link.loggerPort, 115200,
                                klx::RtsControl::Disable);
    klx::RealTimeStart start;
    start.files.data = dir / "hex" / "bench.hex";
    start.files.gps = dir / "dat" / "bench.gps";
    start.parameters.samplePeriod = {0, 0, 1};
    start.parameters.realtimeOutput = true;
    klx::LoggerState& s = start.data.logger;
    s.model = "VS-330";
    s.serial = 1;
    s.channelCount = channels;
    s.channelTypes = std::string("TCP") + std::string(static_cast<size_t>(channels - 3), 'V');
    for (int ch = 0; ch < channels; ++ch) start.data.calibration.coef[ch] = {0, 1, 0, 0};
    start.data.calibration.coef[0] = {0.0035, -0.00025, 2.7e-6, 2.3e-8};
    start.derived = session.settings.derived;
    start.derived.depthOn = start.derived.salinityOn = true;
    start.derived.speedOfSoundOn = start.derived.densityAnomalyOn = true;
    klx::RealTimeRun run(session.logger, host, clock);
    if (!run.Start(std::move(start))) {
      state.SkipWithError("cannot start");
      return;
    }
    for (auto _ : state) {
      clock.Advance(run.TickPeriodMs());
      benchmark::DoNotOptimize(run.Tick());
      feed->Taken();
    }
    const int64_t n = run.sampleCount;
    size_t bytes = 0;
    for (const auto& series : run.Data().series) bytes += series.capacity() * sizeof(float);
    state.counters["samples"] = static_cast<double>(n);
    state.counters["series_bytes"] = n > 0 ? static_cast<double>(bytes) / n : 0;
    state.counters["file_bytes"] =
        static_cast<double>(fs::file_size(run.Files().data)) / (n ? n : 1);
    run.End();
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_StoreSample)->Arg(4)->Arg(24)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
