#include "platform/tty_termios.h"

#include <gtest/gtest.h>

#include <tuple>

namespace klx {
namespace {

TEST(TtyTermios, RatesTakeTheirOwnOrTheNearestLowerConstant) {
  const struct {
    int baud;
    speed_t speed;
    int actual;
  } cases[] = {{1200, B1200, 1200},
               {2400, B2400, 2400},
               {4800, B4800, 4800},
               {9600, B9600, 9600},
               {19200, B19200, 19200},
               {38400, B38400, 38400},
               {57600, B57600, 57600},
               {115200, B115200, 115200},
               {28800, B19200, 19200},
               {14400, B9600, 9600},
               {115199, B57600, 57600},
               {10, B50, 50},
               {0, B50, 50},
               {-5, B50, 50}};
  for (const auto& c : cases) {
    int actual = 0;
    EXPECT_EQ(tty::SpeedFor(c.baud, &actual), c.speed) << c.baud;
    EXPECT_EQ(actual, c.actual) << c.baud;
    EXPECT_EQ(tty::SpeedFor(c.baud), c.speed) << c.baud;
    EXPECT_EQ(tty::BaudOf(c.speed), c.actual) << c.baud;
  }
  EXPECT_EQ(tty::BaudOf(B0), 0);
}

TEST(TtyTermios, NormalizedFoldsWhatADeviceCannotHoldAndAsRequestedRestoresIt) {
  LineSettings s;
  s.baudRate = 28800;
  s.byteSize = 9;
  s.stopBits = 3;
  s.rtsControl = RtsControl::Toggle;
  s.dtrControl = DtrControl::Handshake;
  s.outxDsrFlow = true;
  const LineSettings n = tty::Normalized(s, true);
  EXPECT_EQ(std::make_tuple(n.baudRate, n.byteSize, n.stopBits, n.rtsControl, n.dtrControl,
                            n.outxDsrFlow),
            std::make_tuple(19200, 8, 1, RtsControl::Disable, DtrControl::Enable, false));
  EXPECT_EQ(tty::Normalized(s, false).baudRate, 28800);
  LineSettings cts;
  cts.outxCtsFlow = true;
  EXPECT_EQ(tty::Normalized(cts, true).rtsControl, RtsControl::Handshake);
  LineSettings rts;
  rts.rtsControl = RtsControl::Handshake;
  EXPECT_TRUE(tty::Normalized(rts, true).outxCtsFlow);

  // Requested values the device holds are reported as requested, others as the device has them.
  LineSettings requested;
  requested.baudRate = 28800;
  requested.rtsControl = RtsControl::Toggle;
  LineSettings device;
  device.baudRate = 19200;
  device.rtsControl = RtsControl::Disable;
  EXPECT_EQ(tty::AsRequested(device, requested, true), requested);
  device.baudRate = 9600;
  device.parity = true;
  const LineSettings out = tty::AsRequested(device, requested, true);
  EXPECT_EQ(out.baudRate, 9600);
  EXPECT_TRUE(out.parity);
  EXPECT_EQ(out.rtsControl, RtsControl::Toggle);
}

}  // namespace
}  // namespace klx
