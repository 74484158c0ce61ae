#pragma once
// POSIX termios helpers behind LibSerialPort: the path for devices that libserialport refuses
// (pseudo-terminals, devices without modem lines) and the pieces both paths share (timed
// reads and writes on a descriptor, output draining, baud constants).
#include <termios.h>

#include <cstdint>

#include "platform/serial_port.h"

namespace klx::tty {

// Milliseconds of the monotonic clock.
int64_t NowMs();
// Sleeps for ms (no-op for zero or less), resuming after signals.
void SleepMs(int64_t ms);

// The termios speed constant for a rate: the exact one when the rate is standard, else the
// nearest lower standard one (the lowest for rates below every constant). actualBaud, when
// given, receives the rate of the chosen constant. 28800 gives B19200.
speed_t SpeedFor(int baud, int* actualBaud = nullptr);
// The rate of a speed constant; 0 for an unknown one.
int BaudOf(speed_t speed);

// What a device can hold of the requested settings: the rate of the standard constant, the
// RTS/CTS pair folded into one hardware handshake, DTR handshake as DTR on, RTS toggle as RTS
// off (its idle level), no DSR flow control, bits 5..8 (else 8), stop bits 1 or 2.
LineSettings Normalized(const LineSettings& requested, bool standardRatesOnly);
// Reports device as the caller asked for it: every field where the device holds what the
// request produces keeps the requested value (so 28800 stays 28800 on a line running at
// 19200), every other field the device's own.
LineSettings AsRequested(const LineSettings& device, const LineSettings& requested,
                         bool standardRatesOnly);

// Opens a terminal device read-write, non-blocking, without making it the controlling
// terminal; -1 on failure (errno set).
int OpenDevice(const char* path);
// Raw input and output processing (no echo, no line editing, no translation), receiver on,
// modem status ignored, no hang-up on close, reads return at once. Keeps the rate, the
// character size, parity and stop bits the device has. Returns false when termios fails.
bool MakeRaw(int fd);
// Applies the line settings: raw mode, rate (nearest lower standard constant), character size,
// parity (none or even), stop bits, flow control, then RTS and DTR levels (failures of the
// modem-line calls are ignored: pseudo-terminals have no modem lines).
bool Apply(int fd, const LineSettings& settings);
// The device's own settings (rate of its speed constant, framing, flow control, modem lines;
// where the device has no modem lines, fallback's DTR and RTS).
bool Query(int fd, const LineSettings& fallback, LineSettings& out);
// Raises or lowers one modem line (TIOCM_RTS, TIOCM_DTR), ignoring failures.
void SetModemLine(int fd, int line, bool on);
// Asks for exclusive use (TIOCEXCL) or gives it up; failures are ignored.
void SetExclusive(int fd, bool exclusive);

// Reads until count bytes arrived or totalMs passed since the call (a hung-up or failing
// device keeps the caller waiting for the whole time, like a silent one). totalMs 0 takes only
// what is waiting. Returns the count read.
int ReadTimed(int fd, uint8_t* buffer, int count, uint32_t totalMs);
// Writes until all bytes are out or deadline (monotonic ms; negative: no limit) passes, then
// waits until the device's output queue is empty or the deadline passes. Returns the count
// written.
int WriteTimed(int fd, const uint8_t* data, int count, int64_t deadlineMs);
// Waits until the output queue of the device is empty or deadline passes (negative: no limit).
void Drain(int fd, int64_t deadlineMs);

}  // namespace klx::tty
