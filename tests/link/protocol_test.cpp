// The exchange primitives against a scripted far end.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "link_fixture.h"

namespace klx::test {
namespace {

TEST(Encoding, CheckByteReadCommandAndRateCodes) {
  uint8_t data[] = {0x10, 0x20, 0xFF, 0};
  data[3] = TableCheckByte(data, 3);
  EXPECT_TRUE(TableChecksumHolds(data, 4));
  ++data[3];
  EXPECT_FALSE(TableChecksumHolds(data, 4));  // the all-zero table's 0xA5: WriteTable below
  // The end address comes first, each low byte first.
  EXPECT_EQ(MemoryReadCommand(0x1FFC9, 55), "I00000200C9FF0100");
  EXPECT_EQ(MemoryReadCommand(0x20000, 30), "I1E00020000000200");
  for (auto [baud, code] : {std::pair{115200, 1}, {28800, 8}, {19200, 13}})
    EXPECT_EQ(ExpressBaudCode(baud), code) << baud;
}

TEST_F(OpenLink, QueryTaggedTakes49CharactersNot50AndAsksAgainAfterSilence) {
  device->on = "T";
  device->answer = std::string(40, '0') + "Logger st";  // 49 characters
  EXPECT_TRUE(logger.QueryTagged("T", "Logger"));
  EXPECT_EQ(logger.ReplyText(), device->answer);
  device->answer.insert(0, "0");  // 50 characters
  // Five reads of 120 bytes at 1 ms a character plus 20 ms, and four pauses of 500 ms.
  EXPECT_EQ(Elapsed([&] { EXPECT_FALSE(logger.QueryTagged("T", "Logger")); }), 5 * 140 + 4 * 500);
  EXPECT_EQ(logger.ReplyText(), "000101000000");

  int asked = 0;
  device->log.clear();
  device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (++asked == 3) out.Send("260601120000CTD\r\n", now + 1);
    d.Clear();
  };
  EXPECT_TRUE(logger.QueryTagged("B", "CTD"));
  EXPECT_EQ(device->log, "BBB");
}

TEST_F(OpenLink, ReadTableInChunksOfSixteenEachAcknowledgedAndEveryBadReplyFails) {
  // Answers "R0100" with the length field, then sends the table 16 bytes after each ACK.
  auto serve = [&](const std::string& length, const std::string& table) {
    device->handler = [=, sent = size_t{0}](ScriptedDevice& d, LineOutput& out,
                                            int64_t now) mutable {
      if (d.received == "R0100") out.Send("R0100" + length, now + 1);
      if (d.received == "\x06" && sent < table.size()) out.Send(table.substr(sent, 16), now + 1);
      if (d.received == "\x06") sent += 16;
      if (d.received == "R0100" || d.received == "\x06") d.Clear();
    };
  };
  std::string table = "ABCDEFGHIJKLMNOP";
  table += static_cast<char>(TableCheckByte(reinterpret_cast<const uint8_t*>(table.data()), 16));
  serve("11", table);
  std::vector<uint8_t> out;
  EXPECT_EQ(logger.ReadTable("R0100", out), 1);
  EXPECT_EQ(std::string(out.begin(), out.end()), table);
  EXPECT_EQ(device->log, "R0100\x06\x06\x06");  // after the header and after each chunk
  device->log.clear();
  serve("00", "");  // no table
  EXPECT_EQ(logger.ReadTable("R0100", out), -1);
  EXPECT_EQ(device->log, "R0100\x06");
  serve("03", "\x01\x02\x03");  // sum 6, not 0xA5
  EXPECT_EQ(logger.ReadTable("R0100", out), 0);
  serve("14", std::string(10, 'x'));  // promises 20, sends 10
  EXPECT_EQ(logger.ReadTable("R0100", out), 0);
  // Unknown command, one character too long, a length not in hexadecimal.
  device->handler = nullptr;
  for (const char* reply : {"R0100 Unknown command\r\n", "R01001", "R0100Zz"}) {
    device->answer = reply;
    EXPECT_EQ(logger.ReadTable("R0100", out), 0) << reply;
  }
}

TEST_F(OpenLink, WriteTableHeaderCarriesLengthPlusOneAndANakOrSilenceFails) {
  std::string header, body;
  bool nakAtEnd = false;
  device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (header.empty() && d.received.size() < 7) return;
    (header.empty() ? header : body) += d.received;
    const bool last = !body.empty() && body.size() >= std::stoul(header.substr(5, 2), nullptr, 16);
    out.Send(last && nakAtEnd ? "\x15" : "\x06", now + 1);
    d.Clear();
  };
  EXPECT_TRUE(logger.WriteTable("S0100", std::vector<uint8_t>(32, 0)));
  EXPECT_EQ(header, "S010021");
  ASSERT_EQ(body.size(), 33u);
  EXPECT_EQ(static_cast<uint8_t>(body.back()), 0xA5);
  header = body = "";
  nakAtEnd = true;
  EXPECT_FALSE(logger.WriteTable("S0100", {1, 2, 3}));
  device->handler = nullptr;
  EXPECT_EQ(Elapsed([&] { EXPECT_FALSE(logger.WriteTable("S0300", {0x0D})); }),
            5 * (300 + 20));  // five empty reads
}

TEST_F(OpenLink, StatusCodesAreReducedByCommandSetAndUnknownNumbersReported) {
  const std::tuple<bool, const char*, int> cases[] = {
      {false, "Logger status 02\r\n", 2},   {false, "Logger status 0A\r\n", 7},
      {true, "Logger status 04 02\r\n", 8}, {true, "Logger status 04 01\r\n", 4},
      {true, "Logger status 09 00\r\n", 7}, {true, "Logger status 08 00\r\n", 8},
      {true, "Logger status zz\r\n", 0}};
  for (auto [extended, reply, code] : cases) {
    logger.state.extendedCommandSet = extended;
    device->answer = reply;
    EXPECT_EQ(logger.CommGet(9), 1) << reply;
    EXPECT_EQ(logger.status.code, code) << reply;
  }
  for (int n : {5, 41, -1}) EXPECT_EQ(logger.CommGet(n), 0) << n;
  EXPECT_EQ(std::count_if(host.events.begin(), host.events.end(),
                          [](const auto& e) {
                            return e.kind == "tell" && e.caption == "DEBUG" &&
                                   e.text == "Unknown CommGet command";
                          }),
            3);
}

TEST_F(OpenLink, HighSamplingRateByteIsTheRateInHertzAndAMismatchRestartsSetup) {
  logger.state.highSamplingRates = true;
  device->on = "!5";
  for (auto [text, hz] : {std::pair{"04RAT\r\n", 4}, {"02RAT\r\n", 2}}) {
    device->answer = text;
    EXPECT_EQ(logger.CommGet(30), 1);
    EXPECT_EQ(deployment.waveRateHz, hz) << text;
  }
  device->answer = "03RAT\r\n";  // not a rate of the list: the setting stays
  logger.CommGet(30);
  EXPECT_EQ(deployment.waveRateHz, 2);
  device->answer = "04RAT\r\n";
  deployment.waveRateHz = 4;
  device->log.clear();
  EXPECT_EQ(logger.CommSet(30), 1);
  EXPECT_EQ(device->log, "!404!5");
  device->answer = "01RAT\r\n";
  EXPECT_EQ(logger.CommSet(30), 0);
  EXPECT_TRUE(host.Saw("tell",
                       "High sampling rate set incorrectly.\nTry again.\nContact KLX if "
                       "the problem persists."));
  EXPECT_TRUE(host.Saw("post", ""));
}

TEST(ExpressBaud, OlderLoggersGetE00OnlyFor28800) {
  LinkFixture f;
  f.device->on = "A";
  f.device->answer = "KLX NA-7100 2.20 001234\r\n";
  EXPECT_TRUE(f.logger.SetExpressBaud(115200));
  EXPECT_NE(f.device->log.find("!E01"), std::string::npos);
  f.device->log.clear();
  f.logger.SetExpressBaud(28800);
  EXPECT_NE(f.device->log.find("!E00"), std::string::npos);
  EXPECT_EQ(f.link.currentBaudRate, 28800);
}

// 19200 and 9600 after a rate change: the read times below.
TEST(SerialLink, TimeoutsFollowTheBaudRate) {
  for (auto [baud, perChar] : {std::pair{1200, 9u}, {115200, 1u}}) {
    const CommTimeouts t = SerialLink::OpenTimeouts(baud, RtsControl::Disable);
    EXPECT_EQ(t, (CommTimeouts{0, perChar, 20, perChar, 20})) << baud;
  }
  EXPECT_EQ(SerialLink::OpenTimeouts(19200, RtsControl::Enable).readTotalTimeoutConstant, 100u);
}

TEST(SerialLink, ReadsTakeTheirTimeoutAndWritesRestartTheCountdown) {
  LinkFixture f;
  EXPECT_FALSE(f.link.SetLinkBaudRate(9600));  // closed
  EXPECT_FALSE(f.link.OpenSerialPort(PortSlot::Logger, 9, 19200, RtsControl::Disable));
  EXPECT_FALSE(f.link.IsOpen(PortSlot::Logger));
  ASSERT_TRUE(f.Open());
  uint8_t buffer[301];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  auto read = [&](int n) { EXPECT_EQ(f.link.LinkRead(buffer, n), 0); };
  EXPECT_EQ(f.Elapsed([&] { read(120); }), 140);
  EXPECT_EQ(buffer[0], 0);  // terminated
  EXPECT_EQ(f.Elapsed([&] { read(300); }), 320);
  ASSERT_TRUE(f.link.SetLinkBaudRate(9600));
  EXPECT_EQ(f.Elapsed([&] { read(10); }), 10 * 2 + 60);  // after a rate change the constant is 60
  f.link.radioDelay = {true, 250};
  EXPECT_EQ(f.Elapsed([&] { read(10); }), 250 + 80);  // the radio delay comes before every read

  f.link.linkActivityCountdown = 0;
  EXPECT_EQ(f.link.LinkWriteText(std::string_view("AB\0CD", 5)), 2);
  EXPECT_EQ(f.device->log, "AB");
  EXPECT_EQ(f.link.linkActivityCountdown, 10);
  for (int i = 0; i < 12; ++i) f.link.TickSecond();
  EXPECT_EQ(f.link.linkActivityCountdown, 0);
}

}  // namespace
}  // namespace klx::test
