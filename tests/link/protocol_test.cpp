// The exchange primitives against a scripted far end.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "link_fixture.h"

namespace klx::test {
namespace {

TEST(Encoding, CheckByteReadCommandAndRateCodes) {
  const uint8_t zeros[32] = {};
  EXPECT_EQ(TableCheckByte(zeros, sizeof zeros), 0xA5);
  uint8_t data[] = {0x10, 0x20, 0xFF, 0};
  data[3] = TableCheckByte(data, 3);
  EXPECT_TRUE(TableChecksumHolds(data, 4));
  ++data[3];
  EXPECT_FALSE(TableChecksumHolds(data, 4));
  // The end address comes first, each low byte first.
  EXPECT_EQ(MemoryReadCommand(0x1FFC9, 55), "I00000200C9FF0100");
  EXPECT_EQ(MemoryReadCommand(0x20000, 30), "I1E00020000000200");
  const std::pair<int, int> codes[] = {
      {115200, 1}, {57600, 3}, {38400, 5}, {28800, 8}, {19200, 13}};
  for (auto [baud, code] : codes) EXPECT_EQ(ExpressBaudCode(baud), code) << baud;
}

TEST_F(OpenLink, QueryTaggedTakes49CharactersNot50AndAsksAgainAfterSilence) {
  device->on = "T";
  device->answer = std::string(40, '0') + "Logger st";  // 49 characters
  EXPECT_TRUE(logger.QueryTagged("T", "Logger"));
  EXPECT_EQ(logger.ReplyText(), device->answer);
  device->answer = std::string(41, '0') + "Logger st";  // 50 characters
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
  std::string table;
  for (int i = 0; i < 16; ++i) table.push_back(static_cast<char>(i * 7));
  table.push_back(static_cast<char>(
      TableCheckByte(reinterpret_cast<const uint8_t*>(table.data()), table.size())));
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
  // An unknown command, a reply one character longer than the command, a length that is not
  // hexadecimal.
  device->handler = nullptr;
  for (const char* reply : {"R0100 Unknown command\r\n", "R01001", "R0100Zz"}) {
    device->answer = reply;
    EXPECT_EQ(logger.ReadTable("R0100", out), 0) << reply;
  }
}

TEST_F(OpenLink, WriteTableHeaderCarriesLengthPlusOneAndANakOrSilenceFails) {
  // ACKs the header and every chunk, or NAKs the last one.
  std::string header, body;
  bool nakAtEnd = false;
  device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (header.empty() && d.received.size() < 7) return;
    if (header.empty())
      header = d.received;
    else
      body.append(d.received);
    const bool last = !body.empty() && body.size() >= std::stoul(header.substr(5, 2), nullptr, 16);
    out.Send(last && nakAtEnd ? "\x15" : "\x06", now + 1);
    d.Clear();
  };
  EXPECT_TRUE(logger.WriteTable("S0100", std::vector<uint8_t>(32, 0)));
  EXPECT_EQ(header, "S010021");
  ASSERT_EQ(body.size(), 33u);
  EXPECT_EQ(static_cast<uint8_t>(body.back()), 0xA5);
  header.clear();
  body.clear();
  nakAtEnd = true;
  EXPECT_FALSE(logger.WriteTable("S0100", {1, 2, 3}));
  device->handler = nullptr;
  EXPECT_EQ(Elapsed([&] { EXPECT_FALSE(logger.WriteTable("S0300", {0x0D})); }),
            5 * (300 + 20));  // five empty reads
}

TEST_F(OpenLink, FetchEndsAtFetAndSilenceFailsAfterTenReads) {
  logger.state.model = "NB-7100";
  device->answer = "1234567890ABCDEF FET\r\n";  // longer than the 8 bytes expected
  EXPECT_EQ(logger.CommGet(7), 1);
  EXPECT_EQ(device->log, "F");
  EXPECT_EQ(logger.ReplyText(), "1234567890ABCDEF FET");  // the line end is cut off
  device->answer.clear();
  device->log.clear();
  logger.state.model = "VS-330";
  logger.fetchAll = true;
  logger.state.channelCount = 3;
  EXPECT_EQ(logger.CommGet(7), 0);
  EXPECT_EQ(device->log, "F00");
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
  int told = 0;
  for (int n : {5, 41, -1}) EXPECT_EQ(logger.CommGet(n), 0) << n;
  for (const auto& e : host.events)
    told += e.kind == "tell" && e.caption == "DEBUG" && e.text == "Unknown CommGet command";
  EXPECT_EQ(told, 3);
}

TEST_F(OpenLink, HighSamplingRateByteIsTheRateInHertzAndAMismatchRestartsSetup) {
  logger.state.highSamplingRates = true;
  device->on = "!5";
  const std::pair<const char*, int> rates[] = {
      {"04RAT\r\n", 4}, {"01RAT\r\n", 1}, {"02RAT\r\n", 2}};
  for (auto [text, hz] : rates) {
    device->answer = text;
    EXPECT_EQ(logger.CommGet(30), 1);
    EXPECT_EQ(deployment.waveRateHz, hz) << text;
  }
  device->answer = "03RAT\r\n";  // not a rate of the list: the setting stays
  logger.CommGet(30);
  EXPECT_EQ(deployment.waveRateHz, 2);
  for (auto [text, hz] : {std::pair{"02RAT\r\n", 2}, {"04RAT\r\n", 4}}) {
    deployment.waveRateHz = hz;
    device->answer = text;
    device->log.clear();
    EXPECT_EQ(logger.CommSet(30), 1);
    EXPECT_EQ(device->log, "!40" + std::to_string(hz) + "!5");
  }
  device->answer = "01RAT\r\n";
  EXPECT_EQ(logger.CommSet(30), 0);
  EXPECT_TRUE(host.Saw("tell",
                       "High sampling rate set incorrectly.\nTry again.\nContact KLX if "
                       "the problem persists."));
  EXPECT_TRUE(host.Saw("post", ""));
}

TEST_F(OpenLink, ResumeTakesFiveRoundsThenFails) {
  int rounds = 0;
  device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (d.received == "T")
      out.Send(++rounds == 3 ? "Logger status 06\r\n" : "Logger status 04\r\n", now + 1);
    if (d.received == "T" || d.received == "!R") d.Clear();
  };
  EXPECT_EQ(logger.CommSet(23), 1);
  EXPECT_EQ(rounds, 3);
  EXPECT_EQ(host.status[kStatusMessagePart], "Logger resumed sampling");
  rounds = -100;
  EXPECT_EQ(logger.CommSet(23), 0);
  EXPECT_TRUE(host.Saw("tell", "Logger failed to resume."));
}

TEST(ExpressBaud, OlderLoggersGetE00OnlyFor28800) {
  LinkFixture f;
  f.device->handler = [](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (d.received.find('A') != std::string::npos) out.Send("KLX NA-7100 2.20 001234\r\n", now + 1);
    d.Clear();
  };
  EXPECT_TRUE(f.logger.SetExpressBaud(115200));
  EXPECT_NE(f.device->log.find("!E01"), std::string::npos);
  f.device->log.clear();
  f.logger.SetExpressBaud(28800);
  EXPECT_NE(f.device->log.find("!E00"), std::string::npos);
  EXPECT_EQ(f.link.currentBaudRate, 28800);
}

TEST(SerialLink, TimeoutsFollowTheBaudRate) {
  const std::pair<int, uint32_t> rates[] = {{19200, 1}, {9600, 2}, {4800, 3},
                                            {2400, 5},  {1200, 9}, {115200, 1}};
  for (auto [baud, perChar] : rates) {
    const CommTimeouts t = SerialLink::OpenTimeouts(baud, RtsControl::Disable);
    EXPECT_EQ(
        std::tie(t.readTotalTimeoutMultiplier, t.writeTotalTimeoutMultiplier,
                 t.readTotalTimeoutConstant, t.writeTotalTimeoutConstant, t.readIntervalTimeout),
        std::make_tuple(perChar, perChar, 20u, 20u, 0u))
        << baud;
  }
  EXPECT_EQ(SerialLink::OpenTimeouts(19200, RtsControl::Enable).readTotalTimeoutConstant, 100u);
  const CommTimeouts change = SerialLink::RateChangeTimeouts(9600, RtsControl::Disable);
  EXPECT_EQ(std::tie(change.readTotalTimeoutConstant, change.readTotalTimeoutMultiplier),
            std::make_tuple(60u, 2u));
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
