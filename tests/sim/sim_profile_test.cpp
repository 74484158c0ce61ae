#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/serial_port.h"
#include "sim/sim_transport.h"
#include "sim_host.h"

namespace klx::sim::test {
namespace {

TEST(SimProfile, ParsesKeysCommentsAndIgnoresUnknownKeys) {
  SimProfile p;
  std::string error;
  ASSERT_TRUE(
      ParseProfile("# a test logger\n"
                   "model = VS-330   # trailing comment\n"
                   "\n"
                   "firmware=4.30\r\n"
                   "serial = 000042\n"
                   "channels = TPC\n"
                   "channel_bytes = 0 1 2\n"
                   "cap.0 = 0x1005\n"
                   "table.06 = 02 0a FF\n"
                   "cal.1 = 1 2.5 -3e-2 0\n"
                   "colour = green\n",
                   p, error))
      << error;
  EXPECT_EQ(p.model, "VS-330");
  EXPECT_EQ(p.firmware, "4.30");
  EXPECT_EQ(p.serial, 42);
  ASSERT_EQ(p.channels.size(), 3u);
  EXPECT_EQ(p.channels[2].type, 'C');
  EXPECT_EQ(p.channels[2].second, 2);
  EXPECT_EQ(p.capabilities.at(0), 0x1005u);
  EXPECT_EQ(p.tables.at(6), (std::vector<uint8_t>{2, 10, 255}));
  EXPECT_EQ(p.calibration.at(1), (std::vector<double>{1, 2.5, -0.03, 0}));
  EXPECT_TRUE(p.AnswersCapabilities());
  EXPECT_FALSE(p.IsExtended());
}

TEST(SimProfile, MalformedProfilesGiveClearErrors) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"model = NA-7100\njust words\n", "line 2: expected \"key = value\""},
      {"= 5\n", "line 1: expected \"key = value\""},
      {"serial = 12x\n", "line 1: bad value for \"serial\": \"12x\""},
      {"serial = 1000000\n", "bad value for \"serial\""},
      {"baud = \n", "bad value for \"baud\""},
      {"channels = T1\n", "bad value for \"channels\""},
      {"channels = TP\nchannel_bytes = 1\n", "line 2: bad value for \"channel_bytes\""},
      {"cap.x = 1\n", "bad value for \"cap.x\""},
      {"cap.0 = 0x100000000\n", "bad value for \"cap.0\""},
      {"clock = 2606011200\n", "bad value for \"clock\""},
      {"period = 12:00:00\n", "bad value for \"period\""},
      {"cal.0 = 1 2 3\n", "bad value for \"cal.0\""},
      {"table.01 = 1 2 XYZ\n", "bad value for \"table.01\""},
      {"firmware = new\n", "bad value for \"firmware\""},
      {"fault.nak_writes = -2\n", "bad value for \"fault.nak_writes\""},
      {"paced = maybe\n", "bad value for \"paced\""},
  };
  for (const auto& c : cases) {
    SimProfile p;
    std::string error;
    EXPECT_FALSE(ParseProfile(c.text, p, error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << " -> " << error;
  }
}

TEST(SimProfile, EveryShippedProfileIdentifiesItself) {
  const auto names = ProfileNames();
  ASSERT_GE(names.size(), 10u);
  for (const auto& name : names) {
    SimProfile p = Profile(name);
    SimHost host(p, p.baud);
    char serial[16];
    std::snprintf(serial, sizeof serial, "%06d", p.serial);
    EXPECT_EQ(host.Ask("A"), "KLX " + p.model + " " + p.firmware + " " + serial + "\r\n") << name;
    // Extended loggers and newer VS loggers report a capability mask.
    if (p.AnswersCapabilities()) {
      EXPECT_NE(host.Ask("!000").substr(0, 8), "00000000") << name;
    }
  }
}

TEST(SimProfile, LoadsByNameOrPath) {
  SimProfile p;
  std::string error;
  EXPECT_FALSE(LoadProfile("NO-SUCH", p, error));
  EXPECT_NE(error.find("NO-SUCH"), std::string::npos);

  const std::string path = testing::TempDir() + "/custom.profile";
  std::ofstream(path) << "model = VSY-330\nfirmware = 4.50\nchannels = TPCU\nbogus\n";
  EXPECT_FALSE(LoadProfile(path, p, error));
  EXPECT_NE(error.find("line 4"), std::string::npos) << error;
  std::ofstream(path) << "model = VSY-330\nfirmware = 4.50\nchannels = TPCU\n";
  ASSERT_TRUE(LoadProfile(path, p, error)) << error;
  EXPECT_EQ(p.name, "custom");
  EXPECT_EQ(p.channels.size(), 4u);
}

TEST(SimTransport, ReopeningTalksToTheSameLogger) {
  VirtualClock clock;
  TransportRegistry registry;
  const auto loggers = RegisterSimTransport(registry, clock);

  auto write = [](SerialPort& port, const std::string& s) {
    port.Write(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int>(s.size()));
  };
  auto read = [](SerialPort& port) {
    std::string b(120, '\0');
    b.resize(static_cast<size_t>(port.Read(reinterpret_cast<uint8_t*>(b.data()), 120)));
    return b;
  };
  CommTimeouts t;
  t.readTotalTimeoutMultiplier = 1;
  t.readTotalTimeoutConstant = 20;
  LineSettings s;
  s.baudRate = 19200;

  auto port = registry.Create("sim:VS-330");
  ASSERT_TRUE(port->Open());
  port->SetLineSettings(s);
  port->SetTimeouts(t);
  write(*port, "K003000");
  write(*port, "A");
  EXPECT_EQ(read(*port), "KLX VS-330 4.30 040211\r\n");
  port->Close();

  auto again = registry.Create("sim:VS-330");
  ASSERT_TRUE(again->Open());
  again->SetLineSettings(s);
  again->SetTimeouts(t);
  write(*again, "C");
  EXPECT_EQ(read(*again), "003000CSP\r\n");
  // The logger's clock starts at the host clock's local time.
  write(*again, "B");
  EXPECT_EQ(read(*again), "260601120000CTD\r\n");

  EXPECT_EQ(loggers->Logger("VS-330"), loggers->Logger("VS-330"));
  EXPECT_EQ(loggers->Logger("VS-330")->CommandLog().front(), "K003000");
  EXPECT_NE(loggers->Logger("VS-330"), loggers->Logger("VS-550"));

  auto missing = registry.Create("sim:NO-SUCH");
  ASSERT_NE(missing, nullptr);
  EXPECT_FALSE(missing->Open());
  std::string error;
  EXPECT_EQ(loggers->Logger("NO-SUCH", &error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace klx::sim::test
