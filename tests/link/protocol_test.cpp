// The exchange primitives against a scripted far end.
#include <gtest/gtest.h>

#include <string>

#include "link_fixture.h"

namespace klx::test {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

TEST(TableCheckByte, MakesTheSumA5) {
  const uint8_t zeros[32] = {};
  EXPECT_EQ(TableCheckByte(zeros, sizeof zeros), 0xA5);
  const uint8_t data[] = {0x10, 0x20, 0xFF};
  const uint8_t check = TableCheckByte(data, 3);
  const uint8_t all[] = {0x10, 0x20, 0xFF, check};
  EXPECT_TRUE(TableChecksumHolds(all, 4));
  const uint8_t bad[] = {0x10, 0x20, 0xFF, static_cast<uint8_t>(check + 1)};
  EXPECT_FALSE(TableChecksumHolds(bad, 4));
}

TEST(MemoryReadCommand, CarriesEndThenStartLowByteFirst) {
  EXPECT_EQ(MemoryReadCommand(0x1FFC9, 55), "I00000200C9FF0100");
  EXPECT_EQ(MemoryReadCommand(0x20000, 30), "I1E00020000000200");
}

TEST(ExpressBaudCode, RateCodes) {
  EXPECT_EQ(ExpressBaudCode(115200), 1);
  EXPECT_EQ(ExpressBaudCode(57600), 3);
  EXPECT_EQ(ExpressBaudCode(38400), 5);
  EXPECT_EQ(ExpressBaudCode(28800), 8);
  EXPECT_EQ(ExpressBaudCode(19200), 13);
}

TEST(QueryTagged, AcceptsFortyNineCharactersRejectsFifty) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  std::string reply;
  f.device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (d.received == "T") out.Send(reply, now + 2);
    d.Clear();
  };
  reply = std::string(40, '0') + "Logger st";  // 49 characters
  ASSERT_EQ(reply.size(), 49u);
  EXPECT_TRUE(f.logger.QueryTagged("T", "Logger"));
  EXPECT_EQ(f.logger.ReplyText(), reply);

  reply = std::string(41, '0') + "Logger st";  // 50 characters
  const int64_t before = f.clock.MonotonicMs();
  EXPECT_FALSE(f.logger.QueryTagged("T", "Logger"));
  EXPECT_EQ(f.logger.ReplyText(), "000101000000");
  // Five reads of 120 bytes at 1 ms a character plus 20 ms, and four pauses of 500 ms.
  EXPECT_EQ(f.clock.MonotonicMs() - before, 5 * 140 + 4 * 500);
}

TEST(QueryTagged, RetriesUntilTheTagArrives) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  int asked = 0;
  f.device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (++asked == 3) out.Send("260601120000CTD\r\n", now + 1);
    d.Clear();
  };
  EXPECT_TRUE(f.logger.QueryTagged("B", "CTD"));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(f.device->log, "BBB");
}

// A table server: answers "R0100" with the given length field and sends `table` in chunks of
// 16 after each ACK.
void ServeTable(LinkFixture& f, const std::string& lengthField, const std::string& table,
                int* chunksSent = nullptr) {
  auto offset = std::make_shared<size_t>(0);
  f.device->handler = [=](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (d.received == "R0100") {
      out.Send("R0100" + lengthField, now + 1);
      d.Clear();
    } else if (d.received == "\x06") {
      d.Clear();
      if (*offset < table.size()) {
        const std::string chunk = table.substr(*offset, 16);
        *offset += chunk.size();
        out.Send(chunk, now + 1);
        if (chunksSent) ++*chunksSent;
      }
    }
  };
}

TEST(ReadTable, SeventeenBytesArriveAsSixteenAndOneEachAcknowledged) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  std::string table;
  for (int i = 0; i < 16; ++i) table.push_back(static_cast<char>(i * 7));
  table.push_back(static_cast<char>(
      TableCheckByte(reinterpret_cast<const uint8_t*>(table.data()), table.size())));
  int chunks = 0;
  ServeTable(f, "11", table, &chunks);
  std::vector<uint8_t> out;
  EXPECT_EQ(f.logger.ReadTable("R0100", out), 1);
  EXPECT_EQ(chunks, 2);
  ASSERT_EQ(out.size(), 17u);
  EXPECT_EQ(std::string(out.begin(), out.end()), table);
  // One ACK after the header and one after each chunk.
  EXPECT_EQ(f.device->log, "R0100\x06\x06\x06");
}

TEST(ReadTable, LengthZeroIsAbsentUnknownCommandAndShortRepliesFail) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  std::vector<uint8_t> out;
  ServeTable(f, "00", "");
  EXPECT_EQ(f.logger.ReadTable("R0100", out), -1);
  EXPECT_EQ(f.device->log, "R0100\x06");

  f.device->handler = [](ScriptedDevice& d, LineOutput& out, int64_t now) {
    out.Send("R0100 Unknown command\r\n", now + 1);
    d.Clear();
  };
  EXPECT_EQ(f.logger.ReadTable("R0100", out), 0);

  // Exactly one character longer than the command.
  f.device->handler = [](ScriptedDevice& d, LineOutput& out, int64_t now) {
    out.Send("R01001", now + 1);
    d.Clear();
  };
  EXPECT_EQ(f.logger.ReadTable("R0100", out), 0);

  // A length field that is not hexadecimal.
  f.device->handler = [](ScriptedDevice& d, LineOutput& out, int64_t now) {
    out.Send("R0100Zz", now + 1);
    d.Clear();
  };
  EXPECT_EQ(f.logger.ReadTable("R0100", out), 0);
}

TEST(ReadTable, BadCheckByteAndShortChunkFail) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  std::vector<uint8_t> out;
  ServeTable(f, "03", Bytes({1, 2, 3}));  // sum 6, not 0xA5
  EXPECT_EQ(f.logger.ReadTable("R0100", out), 0);

  ServeTable(f, "14", std::string(10, 'x'));  // promises 20, sends 10
  EXPECT_EQ(f.logger.ReadTable("R0100", out), 0);
}

// A table receiver: ACKs the header and every chunk, or NAKs the last one.
void ReceiveTable(LinkFixture& f, std::string* header, std::string* body, bool nakAtEnd) {
  f.device->handler = [=](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (header->empty()) {
      if (d.received.size() < 7) return;
      *header = d.received;
      d.Clear();
      out.Send("\x06", now + 1);
      return;
    }
    body->append(d.received);
    const size_t total = std::stoul(header->substr(5, 2), nullptr, 16);
    const bool last = body->size() >= total;
    out.Send(last && nakAtEnd ? "\x15" : "\x06", now + 1);
    d.Clear();
  };
}

TEST(WriteTable, HeaderCarriesLengthPlusOneAndChunksAreSixteen) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  std::string header, body;
  ReceiveTable(f, &header, &body, false);
  std::vector<uint8_t> data(32, 0);
  EXPECT_TRUE(f.logger.WriteTable("S0100", data));
  EXPECT_EQ(header, "S010021");
  ASSERT_EQ(body.size(), 33u);
  EXPECT_EQ(static_cast<uint8_t>(body.back()), 0xA5);

  header.clear();
  body.clear();
  ReceiveTable(f, &header, &body, true);
  EXPECT_FALSE(f.logger.WriteTable("S0100", {1, 2, 3}));
}

TEST(WriteTable, SilenceFailsAfterFiveEmptyReads) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  const int64_t before = f.clock.MonotonicMs();
  EXPECT_FALSE(f.logger.WriteTable("S0300", {0x0D}));
  EXPECT_EQ(f.clock.MonotonicMs() - before, 5 * (300 + 20));
}

TEST(Fetch, FetReplyEndsTheLoopEvenWhenLongerThanExpected) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  f.logger.state.model = "NB-7100";
  int reads = 0;
  f.device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    ++reads;
    out.Send("1234567890ABCDEF FET\r\n", now + 1);  // longer than the 8 bytes expected
    d.Clear();
  };
  EXPECT_EQ(f.logger.CommGet(7), 1);
  EXPECT_EQ(f.device->log, "F");
  // The line end is cut off.
  EXPECT_EQ(f.logger.ReplyText(), "1234567890ABCDEF FET");
}

TEST(Fetch, NoReplyFailsAfterTenReads) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  f.logger.state.model = "VS-330";
  f.logger.fetchAll = true;
  f.logger.state.channelCount = 3;
  EXPECT_EQ(f.logger.CommGet(7), 0);
  EXPECT_EQ(f.device->log, "F00");
}

TEST(Status, CodesAreReducedByCommandSet) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  std::string reply;
  f.device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    out.Send(reply, now + 1);
    d.Clear();
  };
  struct Case {
    bool extended;
    const char* reply;
    int code;
  } cases[] = {
      {false, "Logger status 02\r\n", 2},   {false, "Logger status 0A\r\n", 7},
      {true, "Logger status 04 02\r\n", 8}, {true, "Logger status 04 01\r\n", 4},
      {true, "Logger status 09 00\r\n", 7}, {true, "Logger status 08 00\r\n", 8},
      {true, "Logger status zz\r\n", 0},
  };
  for (const auto& c : cases) {
    f.logger.state.extendedCommandSet = c.extended;
    reply = c.reply;
    EXPECT_EQ(f.logger.CommGet(9), 1) << c.reply;
    EXPECT_EQ(f.logger.status.code, c.code) << c.reply;
  }
}

TEST(CommGet, UnknownNumbersAreReported) {
  LinkFixture f;
  EXPECT_EQ(f.logger.CommGet(5), 0);
  EXPECT_EQ(f.logger.CommGet(41), 0);
  EXPECT_EQ(f.logger.CommGet(-1), 0);
  int told = 0;
  for (const auto& e : f.host.events)
    if (e.kind == "tell" && e.caption == "DEBUG" && e.text == "Unknown CommGet command") ++told;
  EXPECT_EQ(told, 3);
}

TEST(SetAndVerify, MismatchShowsTheSettingsMessageAndRestartsSetup) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  f.logger.state.highSamplingRates = true;
  f.deployment.waveRateHz = 2;
  std::string answer = "02RAT\r\n";
  f.device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (d.received == "!5") out.Send(answer, now + 1);
    d.Clear();
  };
  EXPECT_EQ(f.logger.CommSet(30), 1);
  EXPECT_EQ(f.device->log, "!402!5");

  answer = "01RAT\r\n";
  EXPECT_EQ(f.logger.CommSet(30), 0);
  EXPECT_TRUE(f.host.Saw("tell",
                         "High sampling rate set incorrectly.\nTry again.\nContact KLX if "
                         "the problem persists."));
  EXPECT_TRUE(f.host.Saw("post", ""));
}

TEST(Resume, FiveRoundsThenFailure) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  int rounds = 0;
  f.device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (d.received == "T")
      out.Send(++rounds == 3 ? "Logger status 06\r\n" : "Logger status 04\r\n", now + 1);
    if (d.received == "T" || d.received == "!R") d.Clear();
  };
  EXPECT_EQ(f.logger.CommSet(23), 1);
  EXPECT_EQ(rounds, 3);
  EXPECT_EQ(f.host.status[kStatusMessagePart], "Logger resumed sampling");

  rounds = -100;
  EXPECT_EQ(f.logger.CommSet(23), 0);
  EXPECT_TRUE(f.host.Saw("tell", "Logger failed to resume."));
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

TEST(SerialLinkTimeouts, FollowTheBaudRate) {
  const struct {
    int baud;
    uint32_t perChar;
  } rates[] = {{19200, 1}, {9600, 2}, {4800, 3}, {2400, 5}, {1200, 9}, {115200, 1}};
  for (const auto& r : rates) {
    const CommTimeouts t = SerialLink::OpenTimeouts(r.baud, RtsControl::Disable);
    EXPECT_EQ(t.readTotalTimeoutMultiplier, r.perChar) << r.baud;
    EXPECT_EQ(t.writeTotalTimeoutMultiplier, r.perChar) << r.baud;
    EXPECT_EQ(t.readTotalTimeoutConstant, 20u);
    EXPECT_EQ(t.writeTotalTimeoutConstant, 20u);
    EXPECT_EQ(t.readIntervalTimeout, 0u);
  }
  EXPECT_EQ(SerialLink::OpenTimeouts(19200, RtsControl::Enable).readTotalTimeoutConstant, 100u);
  EXPECT_EQ(SerialLink::RateChangeTimeouts(19200, RtsControl::Disable).readTotalTimeoutConstant,
            60u);
  EXPECT_EQ(SerialLink::RateChangeTimeouts(9600, RtsControl::Disable).readTotalTimeoutMultiplier,
            2u);
}

TEST(SerialLinkRead, ShortReadReturnsAfterTheTotalTimeoutAndTerminates) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  uint8_t buffer[301];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  int64_t before = f.clock.MonotonicMs();
  EXPECT_EQ(f.link.LinkRead(buffer, 120), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(f.clock.MonotonicMs() - before, 140);
  before = f.clock.MonotonicMs();
  f.link.LinkRead(buffer, 300);
  EXPECT_EQ(f.clock.MonotonicMs() - before, 320);

  // After a rate change the constant is 60 ms.
  ASSERT_TRUE(f.link.SetLinkBaudRate(9600));
  before = f.clock.MonotonicMs();
  f.link.LinkRead(buffer, 10);
  EXPECT_EQ(f.clock.MonotonicMs() - before, 10 * 2 + 60);

  // The radio delay comes before every read.
  f.link.radioDelay = {true, 250};
  before = f.clock.MonotonicMs();
  f.link.LinkRead(buffer, 10);
  EXPECT_EQ(f.clock.MonotonicMs() - before, 250 + 80);
}

TEST(SerialLinkWrite, TextStopsAtZeroAndRestartsTheCountdown) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  f.link.linkActivityCountdown = 0;
  EXPECT_EQ(f.link.LinkWriteText(std::string_view("AB\0CD", 5)), 2);
  EXPECT_EQ(f.device->log, "AB");
  EXPECT_EQ(f.link.linkActivityCountdown, 10);
  for (int i = 0; i < 12; ++i) f.link.TickSecond();
  EXPECT_EQ(f.link.linkActivityCountdown, 0);
}

TEST(SerialLinkPorts, ClosedPortRateChangeFailsAndUnmappedPortDoesNotOpen) {
  LinkFixture f;
  EXPECT_FALSE(f.link.SetLinkBaudRate(9600));
  EXPECT_FALSE(f.link.OpenSerialPort(PortSlot::Logger, 9, 19200, RtsControl::Disable));
  EXPECT_FALSE(f.link.IsOpen(PortSlot::Logger));
}

}  // namespace
}  // namespace klx::test

namespace klx::test {
namespace {

TEST(HighSamplingRate, TheByteIsTheRateInHertz) {
  LinkFixture f;
  ASSERT_TRUE(f.Open());
  f.logger.state.highSamplingRates = true;
  std::string reply;
  f.device->handler = [&](ScriptedDevice& d, LineOutput& out, int64_t now) {
    if (d.received == "!5") out.Send(reply, now + 1);
    d.Clear();
  };
  for (const auto& [text, hz] : std::vector<std::pair<std::string, int>>{
           {"04RAT\r\n", 4}, {"01RAT\r\n", 1}, {"02RAT\r\n", 2}}) {
    reply = text;
    EXPECT_EQ(f.logger.CommGet(30), 1);
    EXPECT_EQ(f.deployment.waveRateHz, hz) << text;
  }
  reply = "03RAT\r\n";  // not a rate of the list: the setting stays
  f.logger.CommGet(30);
  EXPECT_EQ(f.deployment.waveRateHz, 2);
  // Setting 4 Hz sends 04.
  f.deployment.waveRateHz = 4;
  reply = "04RAT\r\n";
  f.device->log.clear();
  EXPECT_EQ(f.logger.CommSet(30), 1);
  EXPECT_EQ(f.device->log.substr(0, 4), "!404");
}

}  // namespace
}  // namespace klx::test
