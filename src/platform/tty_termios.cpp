#include "platform/tty_termios.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>

namespace klx::tty {
namespace {

struct Rate {
  int baud;
  speed_t speed;
};

// Ascending.
constexpr Rate kRates[] = {
    {50, B50},           {75, B75},         {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600}, {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

int ClampMs(int64_t ms) {
  return static_cast<int>(std::clamp<int64_t>(ms, 0, INT_MAX));
}

bool HardwareHandshake(const LineSettings& s) {
  return s.rtsControl == RtsControl::Handshake || s.outxCtsFlow;
}

}  // namespace

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(int64_t ms) {
  if (ms <= 0) return;
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

speed_t SpeedFor(int baud, int* actualBaud) {
  const Rate* chosen = &kRates[0];
  for (const Rate& r : kRates)
    if (r.baud <= baud) chosen = &r;
  if (actualBaud) *actualBaud = chosen->baud;
  return chosen->speed;
}

int BaudOf(speed_t speed) {
  for (const Rate& r : kRates)
    if (r.speed == speed) return r.baud;
  return 0;
}

LineSettings Normalized(const LineSettings& requested, bool standardRatesOnly) {
  LineSettings n = requested;
  if (standardRatesOnly) SpeedFor(requested.baudRate, &n.baudRate);
  if (n.byteSize < 5 || n.byteSize > 8) n.byteSize = 8;
  n.stopBits = requested.stopBits == 2 ? 2 : 1;
  const bool hardware = HardwareHandshake(requested);
  n.outxCtsFlow = hardware;
  if (hardware) {
    n.rtsControl = RtsControl::Handshake;
  } else if (n.rtsControl == RtsControl::Toggle) {
    n.rtsControl = RtsControl::Disable;
  }
  if (n.dtrControl == DtrControl::Handshake) n.dtrControl = DtrControl::Enable;
  n.outxDsrFlow = false;
  return n;
}

LineSettings AsRequested(const LineSettings& device, const LineSettings& requested,
                         bool standardRatesOnly) {
  const LineSettings n = Normalized(requested, standardRatesOnly);
  LineSettings out = device;
  if (device.baudRate == n.baudRate) out.baudRate = requested.baudRate;
  if (device.byteSize == n.byteSize) out.byteSize = requested.byteSize;
  if (device.parity == n.parity) out.parity = requested.parity;
  if (device.stopBits == n.stopBits) out.stopBits = requested.stopBits;
  if (device.outxCtsFlow == n.outxCtsFlow && device.rtsControl == n.rtsControl) {
    out.outxCtsFlow = requested.outxCtsFlow;
    out.rtsControl = requested.rtsControl;
  }
  if (device.outxDsrFlow == n.outxDsrFlow) out.outxDsrFlow = requested.outxDsrFlow;
  if (device.dtrControl == n.dtrControl) out.dtrControl = requested.dtrControl;
  return out;
}

int OpenDevice(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  const tcflag_t keep = t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  const speed_t in = cfgetispeed(&t);
  const speed_t out = cfgetospeed(&t);
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= keep | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, in);
  cfsetospeed(&t, out);
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool Apply(int fd, const LineSettings& settings) {
  if (settings.baudRate <= 0) return false;
  const LineSettings n = Normalized(settings, true);
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= CLOCAL | CREAD;
  switch (n.byteSize) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    default:
      t.c_cflag |= CS8;
      break;
  }
  if (n.parity) t.c_cflag |= PARENB;  // even parity: PARODD stays clear
  if (n.stopBits == 2) t.c_cflag |= CSTOPB;
  if (n.outxCtsFlow) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (n.outX) t.c_iflag |= IXON;
  if (n.inX) t.c_iflag |= IXOFF;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const speed_t speed = SpeedFor(n.baudRate);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
  // Under the RTS/CTS handshake the driver drives RTS itself.
  if (!n.outxCtsFlow) SetModemLine(fd, TIOCM_RTS, n.rtsControl == RtsControl::Enable);
  SetModemLine(fd, TIOCM_DTR, n.dtrControl == DtrControl::Enable);
  return true;
}

void SetModemLine(int fd, int line, bool on) {
  int bit = line;
  (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

bool Query(int fd, const LineSettings& fallback, LineSettings& out) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  out = LineSettings{};
  const int baud = BaudOf(cfgetospeed(&t));
  out.baudRate = baud > 0 ? baud : fallback.baudRate;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      out.byteSize = 5;
      break;
    case CS6:
      out.byteSize = 6;
      break;
    case CS7:
      out.byteSize = 7;
      break;
    default:
      out.byteSize = 8;
      break;
  }
  out.parity = (t.c_cflag & PARENB) != 0;
  out.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  out.outxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  out.outX = (t.c_iflag & IXON) != 0;
  out.inX = (t.c_iflag & IXOFF) != 0;
  out.outxDsrFlow = false;
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) == 0) {
    out.dtrControl = (lines & TIOCM_DTR) ? DtrControl::Enable : DtrControl::Disable;
    out.rtsControl = (lines & TIOCM_RTS) ? RtsControl::Enable : RtsControl::Disable;
  } else {
    const LineSettings n = Normalized(fallback, true);
    out.dtrControl = n.dtrControl;
    out.rtsControl = n.rtsControl == RtsControl::Enable ? RtsControl::Enable : RtsControl::Disable;
  }
  if (out.outxCtsFlow) out.rtsControl = RtsControl::Handshake;
  return true;
}

void SetExclusive(int fd, bool exclusive) {
  (void)ioctl(fd, exclusive ? TIOCEXCL : TIOCNXCL);
}

int ReadTimed(int fd, uint8_t* buffer, int count, uint32_t totalMs) {
  if (count <= 0) return 0;
  const int64_t deadline = NowMs() + totalMs;
  int got = 0;
  while (got < count) {
    const ssize_t r = ::read(fd, buffer + got, static_cast<size_t>(count - got));
    if (r > 0) {
      got += static_cast<int>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    // A raw terminal with VMIN 0 answers "nothing yet" with 0, like EAGAIN: wait for data.
    // A line whose other side has gone reports an error (EIO) instead.
    const bool waiting = r == 0 || (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    const int64_t left = deadline - NowMs();
    if (left <= 0) break;
    if (!waiting) {
      // An error (a pseudo-terminal whose other side is closed, a device that went away):
      // nothing more can arrive, but the caller still waits its time-out.
      SleepMs(left);
      break;
    }
    pollfd p{fd, POLLIN, 0};
    const int pr = ::poll(&p, 1, ClampMs(left));
    if (pr < 0 && errno != EINTR) {
      SleepMs(deadline - NowMs());
      break;
    }
    if (pr > 0 && !(p.revents & POLLIN)) {
      SleepMs(deadline - NowMs());
      break;
    }
  }
  return got;
}

void Drain(int fd, int64_t deadlineMs) {
  if (deadlineMs < 0) {
    while (tcdrain(fd) != 0 && errno == EINTR) {
    }
    return;
  }
  for (;;) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    const int64_t left = deadlineMs - NowMs();
    if (left <= 0) return;
    SleepMs(std::min<int64_t>(left, 1));
  }
}

int WriteTimed(int fd, const uint8_t* data, int count, int64_t deadlineMs) {
  int done = 0;
  while (done < count) {
    const ssize_t w = ::write(fd, data + done, static_cast<size_t>(count - done));
    if (w > 0) {
      done += static_cast<int>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int timeout = -1;
      if (deadlineMs >= 0) {
        const int64_t left = deadlineMs - NowMs();
        if (left <= 0) break;
        timeout = ClampMs(left);
      }
      pollfd p{fd, POLLOUT, 0};
      const int pr = ::poll(&p, 1, timeout);
      if (pr < 0 && errno != EINTR) break;
      if (pr > 0 && !(p.revents & POLLOUT)) break;  // hung up or failed
      continue;
    }
    break;  // a write error: report what went out
  }
  Drain(fd, deadlineMs);
  return done;
}

}  // namespace klx::tty
