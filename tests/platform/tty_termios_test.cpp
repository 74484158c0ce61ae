#include "platform/tty_termios.h"

#include <gtest/gtest.h>

namespace klx {
namespace {

TEST(TtyTermios, StandardRatesMapToTheirConstants) {
  int actual = 0;
  EXPECT_EQ(tty::SpeedFor(1200, &actual), static_cast<speed_t>(B1200));
  EXPECT_EQ(actual, 1200);
  EXPECT_EQ(tty::SpeedFor(2400), static_cast<speed_t>(B2400));
  EXPECT_EQ(tty::SpeedFor(4800), static_cast<speed_t>(B4800));
  EXPECT_EQ(tty::SpeedFor(9600), static_cast<speed_t>(B9600));
  EXPECT_EQ(tty::SpeedFor(19200), static_cast<speed_t>(B19200));
  EXPECT_EQ(tty::SpeedFor(38400), static_cast<speed_t>(B38400));
  EXPECT_EQ(tty::SpeedFor(57600), static_cast<speed_t>(B57600));
  EXPECT_EQ(tty::SpeedFor(115200, &actual), static_cast<speed_t>(B115200));
  EXPECT_EQ(actual, 115200);
}

TEST(TtyTermios, OtherRatesTakeTheNearestLowerConstant) {
  int actual = 0;
  EXPECT_EQ(tty::SpeedFor(28800, &actual), static_cast<speed_t>(B19200));
  EXPECT_EQ(actual, 19200);
  EXPECT_EQ(tty::SpeedFor(14400, &actual), static_cast<speed_t>(B9600));
  EXPECT_EQ(actual, 9600);
  EXPECT_EQ(tty::SpeedFor(115199, &actual), static_cast<speed_t>(B57600));
  EXPECT_EQ(actual, 57600);
  EXPECT_EQ(tty::SpeedFor(10, &actual), static_cast<speed_t>(B50));
  EXPECT_EQ(actual, 50);
  EXPECT_EQ(tty::SpeedFor(0, &actual), static_cast<speed_t>(B50));
  EXPECT_EQ(tty::SpeedFor(-5, &actual), static_cast<speed_t>(B50));
}

TEST(TtyTermios, BaudOfIsTheInverse) {
  for (int baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
    EXPECT_EQ(tty::BaudOf(tty::SpeedFor(baud)), baud);
  EXPECT_EQ(tty::BaudOf(B0), 0);
}

TEST(TtyTermios, NormalizedFoldsWhatADeviceCannotHold) {
  LineSettings s;
  s.baudRate = 28800;
  s.byteSize = 9;
  s.stopBits = 3;
  s.rtsControl = RtsControl::Toggle;
  s.dtrControl = DtrControl::Handshake;
  s.outxDsrFlow = true;
  const LineSettings n = tty::Normalized(s, true);
  EXPECT_EQ(n.baudRate, 19200);
  EXPECT_EQ(n.byteSize, 8);
  EXPECT_EQ(n.stopBits, 1);
  EXPECT_EQ(n.rtsControl, RtsControl::Disable);
  EXPECT_EQ(n.dtrControl, DtrControl::Enable);
  EXPECT_FALSE(n.outxDsrFlow);
  EXPECT_EQ(tty::Normalized(s, false).baudRate, 28800);

  LineSettings cts;
  cts.outxCtsFlow = true;
  EXPECT_EQ(tty::Normalized(cts, true).rtsControl, RtsControl::Handshake);
  LineSettings rts;
  rts.rtsControl = RtsControl::Handshake;
  EXPECT_TRUE(tty::Normalized(rts, true).outxCtsFlow);
}

TEST(TtyTermios, AsRequestedKeepsRequestedValuesTheDeviceHolds) {
  LineSettings requested;
  requested.baudRate = 28800;
  requested.rtsControl = RtsControl::Toggle;
  LineSettings device;
  device.baudRate = 19200;
  device.rtsControl = RtsControl::Disable;
  EXPECT_EQ(tty::AsRequested(device, requested, true), requested);

  // Where the device holds something else, the device is reported.
  device.baudRate = 9600;
  device.parity = true;
  const LineSettings out = tty::AsRequested(device, requested, true);
  EXPECT_EQ(out.baudRate, 9600);
  EXPECT_TRUE(out.parity);
  EXPECT_EQ(out.rtsControl, RtsControl::Toggle);
}

}  // namespace
}  // namespace klx
