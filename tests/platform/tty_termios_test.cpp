#include "platform/tty_termios.h"

#include <gtest/gtest.h>

#include <tuple>

namespace klx {
namespace {

TEST(TtyTermios, RatesTakeTheirOwnOrTheNearestLowerConstant) {
  const std::tuple<int, speed_t, int> cases[] = {
      {1200, B1200, 1200},   {115200, B115200, 115200}, {28800, B19200, 19200},
      {115199, B57600, 57600}, {10, B50, 50},           {-5, B50, 50}};
  for (auto [baud, speed, rate] : cases) {
    int actual = 0;
    EXPECT_EQ(tty::SpeedFor(baud, &actual), speed) << baud;
    EXPECT_EQ(std::make_pair(actual, tty::BaudOf(speed)), std::make_pair(rate, rate)) << baud;
  }
  EXPECT_EQ(tty::BaudOf(B0), 0);
}

TEST(TtyTermios, NormalizedFoldsWhatADeviceCannotHoldAndAsRequestedRestoresIt) {
  LineSettings s, cts, rts;
  std::tie(s.baudRate, s.byteSize, s.stopBits, s.rtsControl, s.dtrControl, s.outxDsrFlow) =
      std::make_tuple(28800, 9, 3, RtsControl::Toggle, DtrControl::Handshake, true);
  const LineSettings n = tty::Normalized(s, true);
  EXPECT_EQ(std::tie(n.baudRate, n.byteSize, n.stopBits, n.rtsControl, n.dtrControl, n.outxDsrFlow),
            std::make_tuple(19200, 8, 1, RtsControl::Disable, DtrControl::Enable, false));
  EXPECT_EQ(tty::Normalized(s, false).baudRate, 28800);
  cts.outxCtsFlow = true;
  EXPECT_EQ(tty::Normalized(cts, true).rtsControl, RtsControl::Handshake);
  rts.rtsControl = RtsControl::Handshake;
  EXPECT_TRUE(tty::Normalized(rts, true).outxCtsFlow);

  // Requested values the device holds are reported as requested, others as the device has them.
  LineSettings requested, device;
  requested.baudRate = 28800;
  requested.rtsControl = RtsControl::Toggle;
  device.baudRate = 19200;
  EXPECT_EQ(tty::AsRequested(device, requested, true), requested);
  device.baudRate = 9600;
  device.parity = true;
  const LineSettings out = tty::AsRequested(device, requested, true);
  EXPECT_EQ(std::tie(out.baudRate, out.parity, out.rtsControl),
            std::make_tuple(9600, true, RtsControl::Toggle));
}

}  // namespace
}  // namespace klx
