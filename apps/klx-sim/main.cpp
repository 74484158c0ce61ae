// klx-sim: the simulated logger on a pseudo-terminal, for demos and for hosts that open a real
// serial device. It prints the slave's path (and the link made to it) and serves until killed.
// With --gps it is a GPS receiver instead, sending its sentences to whoever holds the line open;
// a logger with real-time output on likewise sends its records unasked. A micro-salinometer
// reads lines on standard input: "zero", "standard" or "sample" says what its sample cell holds
// from the next second on (empty cells, Standard Seawater, the sample).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>
#include <optional>

#include "platform/clock.h"
#include "sim/sim_gps.h"
#include "sim/sim_logger.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
  g_stop = 1;
}

int BaudOf(speed_t s) {
  switch (s) {
    case B300:
      return 300;
    case B600:
      return 600;
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    case B230400:
      return 230400;
    default:
      return 0;
  }
}

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B19200;
  }
}

// Bytes on their way to the host, each with the monotonic time it is due.
class PtyOutput final : public klx::LineOutput {
 public:
  void Send(const uint8_t* data, size_t count, int64_t atMs, double msPerByte) override {
    for (size_t i = 0; i < count; ++i) {
      int64_t at = atMs + static_cast<int64_t>(static_cast<double>(i) * msPerByte + 0.5);
      if (!queue_.empty()) at = std::max(at, queue_.back().atMs);
      queue_.push_back({data[i], at});
    }
  }
  void DiscardPending() override { queue_.clear(); }
  // Writes what is due; returns the time of the next due byte, or nullopt.
  std::optional<int64_t> Flush(int fd, int64_t nowMs) {
    std::string due;
    for (const auto& p : queue_) {
      if (p.atMs > nowMs) break;
      due += static_cast<char>(p.byte);
    }
    if (!due.empty()) {
      const ssize_t n = write(fd, due.data(), due.size());
      if (n > 0) queue_.erase(queue_.begin(), queue_.begin() + n);
    }
    if (queue_.empty()) return std::nullopt;
    return queue_.front().atMs;
  }

 private:
  struct Pending {
    uint8_t byte;
    int64_t atMs;
  };
  std::deque<Pending> queue_;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated KLX logger (or GPS receiver) on a pseudo-terminal"};
  std::string model, link, firmware, gpsMode;
  std::optional<int> serial, baud;
  std::vector<std::string> faults;
  bool paced = false, list = false;
  app.add_option("--model", model, "profile name (see --list) or profile file path");
  app.add_option("--serial", serial, "serial number");
  app.add_option("--firmware", firmware, "firmware version, such as 4.30");
  app.add_option("--baud", baud, "the line rate the logger answers at");
  app.add_option("--link", link, "make this symbolic link to the pseudo-terminal");
  CLI::Option* gpsOption =
      app.add_option("--gps", gpsMode,
                     "run a GPS receiver at 4800 baud instead of a logger: GGA (the default: GGA "
                     "and RMC each second), GLL (GLL and RMC) or RMC (RMC only)")
          ->expected(0, 1);
  app.add_option("--faults", faults,
                 "faults as key=value: bad_check=N drop_byte=N silent_ms=T silent_after_ms=T "
                 "silent_commands=N nak_writes=N unknown=CMD[,CMD] bad_block_rate=F "
                 "drop_block_rate=F lost_after_switch=N erase_fails=N realtime_bad_checksum=N "
                 "cal_no_memory=N cal_no_config=N ignore_y=N silent=CMD[,CMD] "
                 "card_config_fails=N card_status_133=N card_hang=N card_bad_checksum=N "
                 "card_no_etx=N optode_absent=yes optode_stuck=yes microsal_mangle=N");
  std::vector<std::string> settings;
  app.add_option("--set", settings,
                 "further profile settings as key=value, such as samples=20000 fill=0.5 "
                 "stamps=CLD:100,STP status=2 seed=3 microsal.cells=zero");
  app.add_flag("--paced", paced, "space reply bytes by ten bits at the line rate");
  app.add_flag("--list", list, "list the profile names and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  if (list) {
    for (const auto& n : klx::sim::ProfileNames()) std::cout << n << "\n";
    return 0;
  }
  const bool gps = gpsOption->count() > 0;
  std::optional<klx::sim::SimGps::Mode> mode;
  if (gps) {
    mode = klx::sim::SimGps::ModeNamed(gpsMode.empty() ? "GGA" : gpsMode);
    if (!mode) {
      std::cerr << "klx-sim: --gps takes GGA, GLL or RMC, not \"" << gpsMode << "\"\n";
      return 2;
    }
    if (!model.empty()) {
      std::cerr << "klx-sim: --gps and --model exclude each other\n";
      return 2;
    }
    model = "NA-7100";  // unused; keeps the option handling below uniform
  }
  if (model.empty()) {
    std::cerr << "klx-sim: --model (or --gps) is required\n";
    return 2;
  }
  klx::sim::SimProfile profile;
  std::string error;
  if (!klx::sim::LoadProfile(model, profile, error)) {
    std::cerr << "klx-sim: " << error << "\n";
    return 2;
  }
  bool ok = true;
  if (serial)
    ok = ok && klx::sim::ApplyProfileSetting("serial", std::to_string(*serial), profile, error);
  if (ok && !firmware.empty())
    ok = klx::sim::ApplyProfileSetting("firmware", firmware, profile, error);
  if (ok && baud) ok = klx::sim::ApplyProfileSetting("baud", std::to_string(*baud), profile, error);
  for (const auto& f : faults) {
    if (!ok) break;
    const auto eq = f.find('=');
    if (eq == std::string::npos) {
      error = "fault \"" + f + "\" is not key=value";
      ok = false;
      break;
    }
    std::string key = f.substr(0, eq);
    if (key.rfind("fault.", 0) != 0) key = "fault." + key;
    ok = klx::sim::ApplyProfileSetting(key, f.substr(eq + 1), profile, error);
  }
  for (const auto& f : settings) {
    if (!ok) break;
    const auto eq = f.find('=');
    if (eq == std::string::npos) {
      error = "setting \"" + f + "\" is not key=value";
      ok = false;
      break;
    }
    ok = klx::sim::ApplyProfileSetting(f.substr(0, eq), f.substr(eq + 1), profile, error);
  }
  if (paced) profile.paced = true;
  if (!ok) {
    std::cerr << "klx-sim: " << error << "\n";
    return 2;
  }

  termios raw{};
  cfmakeraw(&raw);
  const int lineBaud = gps ? 4800 : profile.baud;
  cfsetispeed(&raw, SpeedOf(lineBaud));
  cfsetospeed(&raw, SpeedOf(lineBaud));
  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
    std::cerr << "klx-sim: cannot create a pseudo-terminal: " << std::strerror(errno) << "\n";
    return 1;
  }
  // Only the host holds the slave open, so its closing shows here as EIO.
  close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  if (!link.empty()) {
    unlink(link.c_str());
    if (symlink(name, link.c_str()) != 0) {
      std::cerr << "klx-sim: cannot make the link " << link << ": " << std::strerror(errno) << "\n";
      close(master);
      return 1;
    }
  }
  std::cout << name << "\n";
  if (!link.empty()) std::cout << link << "\n";
  std::cout.flush();

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  klx::RealClock clock;
  std::shared_ptr<klx::sim::SimLogger> logger;
  std::shared_ptr<klx::LineDevice> device;
  if (gps) {
    auto receiver = std::make_shared<klx::sim::SimGps>(*mode);
    receiver->SetClock(clock.LocalTime(), clock.MonotonicMs());
    device = receiver;
  } else {
    logger = std::make_shared<klx::sim::SimLogger>(profile);
    if (profile.clock.empty()) logger->SetClock(clock.LocalTime(), clock.MonotonicMs());
    device = logger;
  }
  PtyOutput out;
  // Not from a terminal that belongs to the shell: a klx-sim started in the background leaves
  // the keyboard alone (and a read there fails instead of stopping it).
  signal(SIGTTIN, SIG_IGN);
  bool watchCells = logger && logger->Microsal() &&
                    (!isatty(STDIN_FILENO) || tcgetpgrp(STDIN_FILENO) == getpgrp());
  std::string cellsLine;
  // A line on standard input for the micro-salinometer's cells; false at its end.
  auto readCells = [&] {
    char text[256];
    const ssize_t got = read(STDIN_FILENO, text, sizeof text);
    if (got <= 0) return got < 0 && (errno == EINTR || errno == EAGAIN);
    cellsLine.append(text, static_cast<size_t>(got));
    for (size_t eol; (eol = cellsLine.find('\n')) != std::string::npos;) {
      const auto cells = klx::sim::SimMicrosalCellsNamed(cellsLine.substr(0, eol));
      if (cells) logger->SetMicrosalCells(*cells, clock.MonotonicMs());
      std::cerr << (cells ? "klx-sim: the sample cell changes\n"
                          : "klx-sim: say zero, standard or sample\n");
      cellsLine.erase(0, eol + 1);
    }
    return true;
  };
  bool hostOpen = false;
  uint8_t buffer[4096];
  auto opened = [&](int64_t at) {
    if (!hostOpen) device->HostOpened(at);
    hostOpen = true;
  };
  while (!g_stop) {
    const int64_t now = clock.MonotonicMs();
    // What the device sends on its own (real-time records, GPS sentences) goes only to an
    // open line.
    if (hostOpen) device->Poll(now, out);
    const auto next = out.Flush(master, now);
    // Unasked output is stamped at its own times: wake often enough to pass it on promptly.
    const int64_t wake = gps || logger->RealtimeOn() ? 100 : 200;
    int timeout = static_cast<int>(wake);
    if (next) timeout = static_cast<int>(std::clamp<int64_t>(*next - now, 0, wake));
    pollfd p[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int r = poll(p, watchCells ? 2 : 1, timeout);
    if (r < 0) continue;  // EINTR: the loop test sees the signal
    if (watchCells && p[1].revents != 0) watchCells = readCells();
    if (p[0].revents == 0) {
      // No hang-up: someone holds the slave open, even when it has sent nothing yet.
      opened(clock.MonotonicMs());
      continue;
    }
    const ssize_t n = read(master, buffer, sizeof buffer);
    const int64_t at = clock.MonotonicMs();
    if (n > 0) {
      opened(at);
      termios t{};
      int hostBaud = 0;
      if (tcgetattr(master, &t) == 0) hostBaud = BaudOf(cfgetispeed(&t));
      device->Receive(buffer, static_cast<size_t>(n), hostBaud, at, out);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      // EIO: nobody holds the slave open. Drop what was on its way and wait for a new open.
      if (hostOpen) device->HostClosed(at);
      hostOpen = false;
      out.DiscardPending();
      usleep(20000);
    }
  }
  if (!link.empty()) unlink(link.c_str());
  close(master);
  return 0;
}
