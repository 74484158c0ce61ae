// The Optode front-end switch on a scripted card behind the logger's through communications.
#include "cards/optode.h"

#include <gtest/gtest.h>

#include "link/link_fixture.h"

namespace klx {
namespace {

using namespace std::string_literals;

// A front-end card that answers the probe, the entry selection, a write and its read-back.
struct FakeCard {
  std::string presence = "FFFFF5", selectAnswer = "01", entry = "01FFFFFFFFFFFFFFAB";
  bool keepsWrites = true;

  void Attach(test::ScriptedDevice& device) {
    device.handler = [this](test::ScriptedDevice& d, LineOutput& out, int64_t now) {
      for (std::string& in = d.received;;) {
        if (in.starts_with("!3") && in.size() >= 7) in.erase(0, 7);  // into through mode
        if (in.size() < 3 || in[0] != '~') return;
        const char op = in[2];
        const size_t length = op == 'A' ? 4 : op == 'B' ? 21 : 3;
        if (in.size() < length) return;
        std::string reply = "~"s + in[1];
        if (op == 0x01) reply += presence;
        if (op == 'A') reply += selectAnswer;
        if (op == 'B' && keepsWrites) entry = in.substr(3, length - 3);
        if (op == 'B') reply += "OK";
        if (op == 0x04) reply += entry;
        in.erase(0, length);
        out.Send(reply + "\r\n", now + 5);
      }
    };
  }
};

struct OptodeSwitch : test::OpenLink {
  FakeCard card;
  void SetUp() override { OpenLink::SetUp(), card.Attach(*device); }
  bool Switch(uint8_t address, OptodeMode mode) {
    return OptodePresent(logger, address) && SwitchOptodeFrontEnd(logger, address, mode);
  }
};

TEST_F(OptodeSwitch, ConcentrationSendsEveryPacketByteForByte) {
  ASSERT_TRUE(Switch(7, OptodeMode::Concentration));
  EXPECT_EQ(device->log,
            "!300000~\x07\x01~\x07"
            "A\x01~\x07"
            "A\x00"s +
                "~\x07"
                "B02FFFFFFFFFFFFFFAA~\x07\x04"s);
  EXPECT_EQ(card.entry, "02FFFFFFFFFFFFFFAA");
}

TEST_F(OptodeSwitch, EachFailureStopsWithItsMessageAndSendsNothingFurther) {
  struct Case {
    void (*spoil)(FakeCard&);
    int error;
    std::string lastPacket;  // the last bytes the card heard
  };
  const Case cases[] = {
      {[](FakeCard& c) { c.presence = "FFFFF4"; }, 3, "~\x07\x01"s},
      {[](FakeCard& c) { c.selectAnswer = "00"; }, 4, "~\x07" "A\x00"s},
      {[](FakeCard& c) { c.keepsWrites = false; }, 5, "~\x07\x04"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    card = FakeCard{};
    c.spoil(card);
    device->log.clear();
    host.events.clear();
    EXPECT_FALSE(Switch(7, OptodeMode::Concentration));
    EXPECT_TRUE(host.Saw("tell", "ERROR #" + std::to_string(c.error) + " Unable to "));
    ASSERT_GE(device->log.size(), c.lastPacket.size());
    EXPECT_EQ(device->log.substr(device->log.size() - c.lastPacket.size()), c.lastPacket);
    EXPECT_FALSE(host.Saw("tell", "has been reconfigured"));
  }
}

}  // namespace
}  // namespace klx
