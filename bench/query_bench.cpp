// Cost of one tagged query: through the in-process loopback on a virtual clock (the host's own
// work per exchange, no waiting), and through a real pseudo-terminal to klx-sim (what a user
// waits for: the reply plus the read time-out that ends every short reply).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "records/deployment_parameters.h"
#include "link/logger_link.h"
#include "platform/clock.h"
#include "platform/host.h"
#include "platform/port_map.h"
#include "sim/sim_transport.h"

namespace {

struct Stack {
  explicit Stack(const std::string& port) {
    sims = klx::sim::RegisterSimTransport(transports, clock);
    link.loggerPort = ports.NumberFor(port);
  }
  klx::VirtualClock clock;
  klx::TransportRegistry transports;
  std::shared_ptr<klx::sim::SimLoggers> sims;
  klx::PortMap ports;
  klx::SerialLink link{transports, ports, clock};
  klx::RecordingHost host;
  klx::DeploymentParameters deployment;
  klx::LoggerLink logger{link, host, deployment};
};

void BM_QueryTaggedLoopback(benchmark::State& state) {
  Stack s("sim:VS-330");
  if (!s.logger.ConnectLogger()) {
    state.SkipWithError("no simulated logger");
    return;
  }
  const int64_t before = s.clock.MonotonicMs();
  int64_t queries = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.logger.QueryTagged("B", "CTD"));
    ++queries;
  }
  // Virtual line time per query: the 120-byte read's time-out at 19200 baud.
  state.counters["line_ms"] =
      static_cast<double>(s.clock.MonotonicMs() - before) / static_cast<double>(queries);
}
BENCHMARK(BM_QueryTaggedLoopback);

// klx-sim on a pty, reached by the real serial-port layer on the real clock.
void BM_QueryTaggedPty(benchmark::State& state) {
  namespace fs = std::filesystem;
  const fs::path link = fs::temp_directory_path() / ("klx-bench-" + std::to_string(getpid()));
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string sim = std::string(KLX_BINARY_DIR) + "/apps/klx-sim/klx-sim";
    execl(sim.c_str(), sim.c_str(), "--model", "VS-330", "--link", link.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 100 && !fs::exists(link); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  {
    klx::RealClock clock;
    klx::TransportRegistry transports;
    klx::PortMap ports;
    klx::SerialLink serial(transports, ports, clock);
    serial.loggerPort = ports.NumberFor(link.string());
    klx::RecordingHost host;
    klx::DeploymentParameters deployment;
    klx::LoggerLink logger(serial, host, deployment);
    if (!logger.ConnectLogger()) {
      state.SkipWithError("klx-sim did not answer");
    } else {
      for (auto _ : state) benchmark::DoNotOptimize(logger.QueryTagged("B", "CTD"));
    }
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}
BENCHMARK(BM_QueryTaggedPty)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
