// The simulated logger's calibration memory: the refusals of the linear-memory procedure and the
// single-channel history record. Writes, reads and history walks of each generation are checked
// by the host's round trips.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "sim_host.h"

namespace klx::sim::test {
namespace {

TEST(SimCalibration, LinearMemoryRefusalsPutTheirCodeBeforeTheNakAndStoreNothing) {
  const double row[4] = {1, 2, 3, 4};
  const std::string channel = std::string(reinterpret_cast<const char*>(row), 32) + '\0';
  using Writes = std::vector<std::pair<std::string, std::string>>;  // command, data
  // Setup: 1 and 2 refuse on request (F1, F2), 3 leaves a configuration table without channels.
  const std::vector<std::tuple<int, Writes, char>> cases = {
      {1, {{"U0000", "A"}}, '1'},
      {2, {{"U0000", "A"}}, '2'},
      {3, {{"U0000", "A"}}, '2'},
      {0, {{"U0000", "Z"}}, '0'},
      {0, {{"U0100", channel}}, '0'},
      {0, {{"U0000", "A"}, {"U0400", channel}}, '0'},                // a channel it lacks
      {0, {{"U0000", "A"}, {"U0100", channel.substr(0, 32)}}, '0'},  // no zero byte
  };
  for (const auto& [setup, writes, code] : cases) {
    SimHost host(Profile("NMK-7400-CT"));
    if (setup == 1 || setup == 2) host.logger->RefuseNextCalibrations(setup, setup == 1 ? 1 : -1);
    if (setup == 3) WriteTable(host, "S0100", Bytes({0, 30, 0, 2, 0}));
    const auto before = host.logger->Calibrations();
    std::string reply;
    for (const auto& [command, data] : writes) reply = WriteTable(host, command, data);
    const std::string refusal = std::string("ERROR F") + code + "\x15";
    ASSERT_GE(reply.size(), refusal.size()) << writes.back().first;
    EXPECT_EQ(reply.substr(reply.size() - refusal.size()), refusal) << writes.back().first;
    EXPECT_EQ(reply.find_first_not_of('\x06'), reply.size() - refusal.size());
    EXPECT_EQ(WriteTable(host, "U0000", "Z").substr(1), "ERROR F0\x15") << "the procedure is over";
    const auto after = host.logger->Calibrations();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i)
      EXPECT_EQ(std::tie(after[i].date, after[i].coef), std::tie(before[i].date, before[i].coef));
  }
  // A list with room for one more: the first write fits, the second meets F1.
  SimProfile p = Profile("NMK-7400-CT");
  p.calRoom = 1;
  SimHost host(p);
  for (const char* reply : {"\x06\x06",
                            "\x06"
                            "ERROR F1\x15"}) {
    EXPECT_EQ(WriteTable(host, "U0000", "A"), reply);
    WriteTable(host, "U0000", "Z");
  }
  EXPECT_EQ(host.logger->Calibrations().size(), 5u);
}

// An older single-channel logger sends its 38-byte history record, the next record's first byte
// and a sum over all 39 (it once sent a byte fewer; the host accepts both, so only this test
// would notice a change back); other reads are as asked.
TEST(SimCalibration, SingleChannelHistoryRecordsComeWithTheNextRecordsFirstByteAndTheirSum) {
  const struct {
    const char* profile;
    uint32_t address, count;
    size_t size;  // bytes sent
    int last;     // byte before the sum (-1: not checked)
  } cases[] = {
      {"NB-7100-cal-history", 0x10000, 38, 40, 0x26},       // the second record's year
      {"NB-7100-cal-history", 0x10000 + 76, 38, 40, 0xFF},  // the last: free memory follows
      {"VS-330", 0x10000, 6, 7, -1},                        // multi-channel: as asked
      {"NB-7100-cal-history", 0x20000, 30, 31, -1},         // data memory: as asked
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile + std::to_string(c.address));
    SimHost host(Profile(c.profile));
    const std::string r = host.Ask(ReadCommand(c.address, c.address + c.count), 60);
    ASSERT_EQ(r.size(), c.size);
    EXPECT_EQ(static_cast<uint8_t>(r.back()), Sum(r, c.size - 1));
    if (c.last >= 0) {
      EXPECT_EQ(static_cast<uint8_t>(r[c.size - 2]), c.last);
    }
  }
}

}  // namespace
}  // namespace klx::sim::test
