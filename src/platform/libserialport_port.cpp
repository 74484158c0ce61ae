#include "platform/libserialport_port.h"

#include <libserialport.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>

#include "platform/tty_termios.h"

namespace klx {
namespace {

// n * multiplier + constant, in the unsigned int that libserialport takes.
unsigned int TotalMs(int n, uint32_t multiplier, uint32_t constant) {
  const uint64_t total = static_cast<uint64_t>(n) * multiplier + constant;
  return static_cast<unsigned int>(std::min<uint64_t>(total, UINT_MAX));
}

int HandleOf(sp_port* port) {
  int fd = -1;
  if (sp_get_port_handle(port, &fd) != SP_OK) return -1;
  return fd;
}

// Owns a libserialport configuration record.
class Config {
 public:
  Config() {
    if (sp_new_config(&config_) != SP_OK) config_ = nullptr;
  }
  ~Config() {
    if (config_) sp_free_config(config_);
  }
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;
  sp_port_config* get() const { return config_; }
  explicit operator bool() const { return config_ != nullptr; }

 private:
  sp_port_config* config_ = nullptr;
};

bool QueryPort(sp_port* port, LineSettings& out) {
  Config config;
  if (!config || sp_get_config(port, config.get()) != SP_OK) return false;
  int baud = 0, bits = 8, stop = 1;
  sp_parity parity = SP_PARITY_NONE;
  sp_rts rts = SP_RTS_OFF;
  sp_cts cts = SP_CTS_IGNORE;
  sp_dtr dtr = SP_DTR_OFF;
  sp_dsr dsr = SP_DSR_IGNORE;
  sp_xonxoff xon = SP_XONXOFF_DISABLED;
  sp_get_config_baudrate(config.get(), &baud);
  sp_get_config_bits(config.get(), &bits);
  sp_get_config_parity(config.get(), &parity);
  sp_get_config_stopbits(config.get(), &stop);
  sp_get_config_rts(config.get(), &rts);
  sp_get_config_cts(config.get(), &cts);
  sp_get_config_dtr(config.get(), &dtr);
  sp_get_config_dsr(config.get(), &dsr);
  sp_get_config_xon_xoff(config.get(), &xon);
  out = LineSettings{};
  if (baud <= 0) {
    // A rate libserialport cannot name: ask termios for its constant.
    termios t{};
    const int fd = HandleOf(port);
    if (fd >= 0 && tcgetattr(fd, &t) == 0) baud = tty::BaudOf(cfgetospeed(&t));
  }
  out.baudRate = baud;
  out.byteSize = bits;
  out.parity = parity != SP_PARITY_NONE && parity != SP_PARITY_INVALID;
  out.stopBits = stop == 2 ? 2 : 1;
  out.outxCtsFlow = cts == SP_CTS_FLOW_CONTROL;
  out.outxDsrFlow = dsr == SP_DSR_FLOW_CONTROL;
  out.rtsControl = rts == SP_RTS_FLOW_CONTROL ? RtsControl::Handshake
                   : rts == SP_RTS_ON         ? RtsControl::Enable
                                              : RtsControl::Disable;
  out.dtrControl = dtr == SP_DTR_FLOW_CONTROL ? DtrControl::Handshake
                   : dtr == SP_DTR_ON         ? DtrControl::Enable
                                              : DtrControl::Disable;
  out.outX = xon == SP_XONXOFF_OUT || xon == SP_XONXOFF_INOUT;
  out.inX = xon == SP_XONXOFF_IN || xon == SP_XONXOFF_INOUT;
  return true;
}

bool ApplyPort(sp_port* port, const LineSettings& settings) {
  const LineSettings n = tty::Normalized(settings, false);
  {
    // Rate and framing; the modem lines are left alone here (an invalid value means "keep"),
    // so that a device refusing them cannot make the whole change fail.
    Config config;
    if (!config) return false;
    sp_set_config_baudrate(config.get(), n.baudRate);
    sp_set_config_bits(config.get(), n.byteSize);
    sp_set_config_parity(config.get(), n.parity ? SP_PARITY_EVEN : SP_PARITY_NONE);
    sp_set_config_stopbits(config.get(), n.stopBits);
    sp_set_config_xon_xoff(config.get(), n.outX && n.inX ? SP_XONXOFF_INOUT
                                         : n.outX        ? SP_XONXOFF_OUT
                                         : n.inX         ? SP_XONXOFF_IN
                                                         : SP_XONXOFF_DISABLED);
    if (sp_set_config(port, config.get()) != SP_OK) {
      // A rate the driver cannot run: the nearest lower standard one.
      int lower = 0;
      tty::SpeedFor(n.baudRate, &lower);
      if (lower == n.baudRate) return false;
      sp_set_config_baudrate(config.get(), lower);
      if (sp_set_config(port, config.get()) != SP_OK) return false;
    }
  }
  {
    // RTS with the CTS handshake (set together, as Linux ties them), then DTR; failures are
    // ignored (devices without modem lines).
    Config flow;
    if (flow) {
      if (n.outxCtsFlow) {
        sp_set_config_rts(flow.get(), SP_RTS_FLOW_CONTROL);
        sp_set_config_cts(flow.get(), SP_CTS_FLOW_CONTROL);
      } else {
        sp_set_config_rts(flow.get(), n.rtsControl == RtsControl::Enable ? SP_RTS_ON : SP_RTS_OFF);
        sp_set_config_cts(flow.get(), SP_CTS_IGNORE);
      }
      (void)sp_set_config(port, flow.get());
    }
    (void)sp_set_dtr(port, n.dtrControl == DtrControl::Enable ? SP_DTR_ON : SP_DTR_OFF);
  }
  return true;
}

// Orders names with their digit runs compared as numbers: ttyS2 before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (std::isdigit(ca) && std::isdigit(cb)) {
      size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      size_t si = i, sj = j;  // skip leading zeros
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
      continue;
    }
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;
}

}  // namespace

LibSerialPort::LibSerialPort(std::string device) : device_(std::move(device)) {}

LibSerialPort::~LibSerialPort() {
  Close();
}

bool LibSerialPort::Open() {
  Close();
  if (device_.empty()) return false;
  // libserialport first: it knows the real ports (and refuses pseudo-terminals and devices
  // without modem lines)...
  sp_port* port = nullptr;
  if (sp_get_port_by_name(device_.c_str(), &port) == SP_OK) {
    if (sp_open(port, SP_MODE_READ_WRITE) == SP_OK) {
      port_ = port;
      const int fd = HandleOf(port_);
      if (fd >= 0) tty::SetExclusive(fd, true);
      (void)sp_flush(port_, SP_BUF_BOTH);
      LineSettings device;
      settings_ = QueryPort(port_, device) ? device : LineSettings{};
      return true;
    }
    sp_free_port(port);
  }
  // ...then termios, which serves every terminal device, pseudo-terminals included.
  const int fd = tty::OpenDevice(device_.c_str());
  if (fd < 0) return false;
  if (!isatty(fd) || !tty::MakeRaw(fd)) {
    ::close(fd);
    return false;
  }
  tty::SetExclusive(fd, true);
  (void)tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  LineSettings device;
  settings_ = tty::Query(fd_, LineSettings{}, device) ? device : LineSettings{};
  return true;
}

void LibSerialPort::Close() {
  if (port_) {
    const int fd = HandleOf(port_);
    if (fd >= 0) tty::SetExclusive(fd, false);
    (void)sp_close(port_);
    sp_free_port(port_);
    port_ = nullptr;
  }
  if (fd_ >= 0) {
    tty::SetExclusive(fd_, false);
    ::close(fd_);
    fd_ = -1;
  }
}

bool LibSerialPort::IsOpen() const {
  return port_ != nullptr || fd_ >= 0;
}

bool LibSerialPort::GetLineSettings(LineSettings& out) {
  LineSettings device;
  if (port_) {
    if (!QueryPort(port_, device)) return false;
  } else if (fd_ >= 0) {
    if (!tty::Query(fd_, settings_, device)) return false;
  } else {
    return false;
  }
  out = tty::AsRequested(device, settings_, true);
  return true;
}

bool LibSerialPort::SetLineSettings(const LineSettings& settings) {
  if (!IsOpen() || settings.baudRate <= 0) return false;
  const bool ok = port_ ? ApplyPort(port_, settings) : tty::Apply(fd_, settings);
  if (ok) settings_ = settings;
  return ok;
}

bool LibSerialPort::GetTimeouts(CommTimeouts& out) {
  if (!IsOpen()) return false;
  out = timeouts_;
  return true;
}

bool LibSerialPort::SetTimeouts(const CommTimeouts& timeouts) {
  if (!IsOpen()) return false;
  timeouts_ = timeouts;
  return true;
}

int LibSerialPort::Read(uint8_t* buffer, int maximum) {
  if (!IsOpen() || maximum <= 0) return 0;
  const unsigned int total =
      TotalMs(maximum, timeouts_.readTotalTimeoutMultiplier, timeouts_.readTotalTimeoutConstant);
  if (fd_ >= 0) return tty::ReadTimed(fd_, buffer, maximum, total);
  if (total == 0) {
    // No time at all: what is already waiting (libserialport reads 0 as "wait forever").
    const int got = sp_nonblocking_read(port_, buffer, static_cast<size_t>(maximum));
    return std::max(got, 0);
  }
  const int64_t deadline = tty::NowMs() + total;
  const int got = sp_blocking_read(port_, buffer, static_cast<size_t>(maximum), total);
  if (got < 0) {
    // A failing device answers like a silent one: after the whole time-out.
    tty::SleepMs(deadline - tty::NowMs());
    return 0;
  }
  return got;
}

int LibSerialPort::Write(const uint8_t* data, int count) {
  if (!IsOpen() || count <= 0) return 0;
  const unsigned int total =
      TotalMs(count, timeouts_.writeTotalTimeoutMultiplier, timeouts_.writeTotalTimeoutConstant);
  // Both write time-outs zero: no limit, as on the original platform.
  const int64_t deadline = total > 0 ? tty::NowMs() + total : -1;
  if (fd_ >= 0) return tty::WriteTimed(fd_, data, count, deadline);
  const int written = sp_blocking_write(port_, data, static_cast<size_t>(count), total);
  const int fd = HandleOf(port_);
  if (fd >= 0) tty::Drain(fd, deadline);
  return std::max(written, 0);
}

std::vector<std::string> EnumerateSerialDevices() {
  std::vector<std::string> devices;
  sp_port** list = nullptr;
  if (sp_list_ports(&list) != SP_OK || !list) return devices;
  for (sp_port** p = list; *p; ++p) {
    const char* name = sp_get_port_name(*p);
    if (name && *name) devices.emplace_back(name);
  }
  sp_free_port_list(list);
  std::sort(devices.begin(), devices.end(), NaturalLess);
  devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
  return devices;
}

}  // namespace klx
