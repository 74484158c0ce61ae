// Retrieval of about 1.1 MB (122 000 rows of three channels) from the simulated logger, its
// reply bytes paced at ten bits a byte at the line rate, through the in-process loopback on a
// virtual clock: the line time the host's protocol costs over the pure byte time, clean and with
// 1% of the memory reads answered with a wrong sum.
//
// The host opens the line at 19200 baud at most and only goes faster through the logger's express
// download rate. An older multi-channel logger (the "VS-330-full" profile, firmware 4.30) always
// gets 57600 from it; the other two rates are reached with the same profile on the extended
// command set (firmware 5.20, linear memory), whose capability entries alone say the express
// rate: none (the transfer stays at 19200), or 115200.
//
// Counters (virtual time, deterministic): baud (the rate of the block transfer), MB (bytes
// transferred), blocks and retries, transfer_ms (first block request to the last block's arrival),
// line_ms (bytes × 10 / baud), transfer_to_line, and whole_ms / whole_to_line for the whole
// retrieval (connection, status and calibration reads, rate switches, the transfer, restoring the
// rate and decoding). The time column is the wall-clock time of the whole retrieval: the host's
// own cost (with the simulator's).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/host.h"
#include "session/retrieval.h"
#include "session/session.h"
#include "sim/sim_profile.h"
#include "sim/sim_transport.h"

namespace {

namespace fs = std::filesystem;

enum class Line { kOlderLogger57600, kExtended19200, kExtended115200 };

// Notes the virtual time of the last block's arrival (the progress set after every block, while
// the transfer runs).
class BlockTimingHost : public klx::RecordingHost {
 public:
  explicit BlockTimingHost(klx::Clock& clock) : clock_(clock) {}
  void SetProgress(int value, int maximum) override {
    if (retrieval != nullptr && retrieval->Downloading()) lastBlockMs = clock_.MonotonicMs();
    RecordingHost::SetProgress(value, maximum);
  }
  const klx::Retrieval* retrieval = nullptr;
  int64_t lastBlockMs = 0;

 private:
  klx::Clock& clock_;
};

struct Rig {
  Rig(Line line, double badBlockRate)
      : dir(fs::temp_directory_path() / ("klx-retrieval-bench-" + std::to_string(::getpid()))),
        session((fs::create_directories(dir), host), clock, dir, {}) {
    sims = klx::sim::RegisterSimTransport(session.transports, clock);
    klx::sim::SimProfile p;
    std::string error;
    ok = klx::sim::LoadProfile("VS-330-full", p, error);
    p.paced = true;
    p.faults.badBlockRate = badBlockRate;
    if (line != Line::kOlderLogger57600) {
      p.firmware = "5.20";
      // Memory type, parameter block length, and (115200 only) the default/express rates.
      p.capabilities[0] = line == Line::kExtended115200 ? 0x00001005u : 0x00000005u;
      p.capabilities[13] = 0x1801C200u;  // minimum default 2400, express 115200
    }
    sims->Add("bench", std::make_shared<klx::sim::SimLogger>(p));
    session.ReadSettings();
    ok = ok && session.SelectPort("sim:bench", &error);
  }
  ~Rig() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  fs::path dir;
  klx::VirtualClock clock{klx::SystemTime{2026, 9, 1, 2, 12, 0, 0, 0}};
  BlockTimingHost host{clock};
  klx::Session session;
  std::shared_ptr<klx::sim::SimLoggers> sims;
  bool ok = false;
};

void BM_RetrievePaced(benchmark::State& state, Line line, double badBlockRate) {
  for (auto _ : state) {
    state.PauseTiming();
    Rig rig(line, badBlockRate);
    if (!rig.ok) {
      state.SkipWithError("no simulated logger");
      return;
    }
    state.ResumeTiming();
    const int64_t whole0 = rig.clock.MonotonicMs();
    klx::Retrieval r(rig.session);
    rig.host.retrieval = &r;
    if (!r.Open() || !r.Begin(false)) {
      state.SkipWithError("the retrieval did not start");
      return;
    }
    const int baud = rig.session.link.currentBaudRate;
    const int64_t start = r.transfer().state.startMs;
    while (r.Tick()) {
    }
    const int64_t wholeMs = rig.clock.MonotonicMs() - whole0;
    state.PauseTiming();
    const auto& t = r.transfer().state;
    if (t.failed) state.SkipWithError("the transfer failed");
    const double bytes = static_cast<double>(rig.session.held.image.fill);
    const double lineMs = bytes * 10.0 * 1000.0 / baud;
    const double transferMs = static_cast<double>(rig.host.lastBlockMs - start);
    state.counters["baud"] = baud;
    state.counters["MB"] = bytes / 1e6;
    state.counters["blocks"] = t.blocksRequested;
    state.counters["retries"] = t.blocksRetransmitted;
    state.counters["line_ms"] = lineMs;
    state.counters["transfer_ms"] = transferMs;
    state.counters["transfer_to_line"] = transferMs / lineMs;
    state.counters["whole_ms"] = static_cast<double>(wholeMs);
    state.counters["whole_to_line"] = static_cast<double>(wholeMs) / lineMs;
    state.ResumeTiming();
  }
}
BENCHMARK_CAPTURE(BM_RetrievePaced, at19200_clean, Line::kExtended19200, 0.0)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RetrievePaced, at19200_bad1pc, Line::kExtended19200, 0.01)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RetrievePaced, at115200_clean, Line::kExtended115200, 0.0)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RetrievePaced, at115200_bad1pc, Line::kExtended115200, 0.01)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RetrievePaced, older_at57600_clean, Line::kOlderLogger57600, 0.0)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RetrievePaced, older_at57600_bad1pc, Line::kOlderLogger57600, 0.01)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
