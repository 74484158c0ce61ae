#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

TEST(SimProfile, MalformedProfilesGiveClearErrors) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"model = NA-7100\njust words\n", "line 2: expected \"key = value\""},
      {"= 5\n", "line 1: expected \"key = value\""},
      {"serial = 12x\n", "line 1: bad value for \"serial\": \"12x\""},
      {"serial = 1000000\n", "bad value for \"serial\""},
      {"channels = T1\n", "bad value for \"channels\""},
      {"channels = TP\nchannel_bytes = 1\n", "line 2: bad value for \"channel_bytes\""},
      {"cap.0 = 0x100000000\n", "bad value for \"cap.0\""},
      {"clock = 2606011200\n", "bad value for \"clock\""},
      {"cal.0 = 1 2 3\n", "bad value for \"cal.0\""},
      {"table.01 = 1 2 XYZ\n", "bad value for \"table.01\""},
      {"fault.nak_writes = -2\n", "bad value for \"fault.nak_writes\""},
      {"paced = maybe\n", "bad value for \"paced\""},
      {"memory_mb = 3\n", "bad value for \"memory_mb\""},
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

}  // namespace
}  // namespace klx::sim::test
