#pragma once
// A scripted accessory card behind the loopback: a generic serial card (status replies, the table
// it was sent, the table it answers with), an MMC/SD card with canned replies, and table 0800.
// Commands arrive without terminators, so the stream is cut by command length.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "../link/link_fixture.h"
#include "cards/meta_table.h"
#include "shell/status.h"

namespace klx::test {

struct FakeCard {
  int status = 0;      // what every "!X0000" answers
  std::string stored;  // the table as the card received it (before its end-of-text byte)
  std::string answer;  // what "!X04nn"/"!X01nn" sends if answerSet; else the stored table
  bool answerSet = false;
  std::vector<std::string> commands;       // every command recognised, in order
  std::map<std::string, std::string> mmc;  // MMC/SD replies by command
  std::string modemTable = std::string("\x1E\x00\x28\x00\x01", 5);  // table 0800
  bool nakModemWrite = false, corruptModemWrite = false;
  int loggerStatus = 0;

  std::string AnswerFor() const {
    return answerSet ? answer : stored + kEtx + Format("%02X", MetaTableCheckByte(stored));
  }
  static std::string WithCheck(std::string t) {
    uint8_t sum = 0;
    for (char c : t) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    return t + static_cast<char>(static_cast<uint8_t>(0xA5 - sum));
  }

  // Consumes what it can of `in`; leaves an incomplete command there.
  void Handle(std::string& in, LineOutput& out, int64_t now) {
    const auto send = [&](const std::string& s) { out.Send(s, now + 1); };
    const auto take = [&](size_t n) {
      if (in.size() < n) return std::string();
      commands.push_back(in.substr(0, n));
      in.erase(0, n);
      return commands.back();
    };
    while (!in.empty()) {
      if (receivingTable) {
        const size_t etx = in.find(kEtx);
        if (etx == std::string::npos || in.size() < etx + 3) return;
        stored = in.substr(0, etx);
        in.erase(0, etx + 3);
        receivingTable = false;
      } else if (modemWrite > 0) {
        if (in.size() < 6) return;
        modemTable = in.substr(0, 5);
        if (corruptModemWrite) modemTable[4] = static_cast<char>(modemTable[4] ^ 2);
        in.erase(0, 6);
        modemWrite = 0;
        send("\x06");
      } else if (in[0] == '\x06') {
        in.erase(0, 1);
        if (modemReadPending) send(WithCheck(modemTable));
        modemReadPending = false;
      } else if (in[0] == 'A') {
        take(1);
        send("KLX VS-330 6.50 001234\r\n");
      } else if (in[0] == 'T') {
        take(1);
        send(Format("Logger status %02X\r\n", loggerStatus));
      } else if (in.rfind("R0800", 0) == 0) {
        take(5);
        send("R080006\r\n");
        modemReadPending = true;
      } else if (in[0] == 'S') {
        if (take(7).empty()) return;
        modemWrite = nakModemWrite ? 0 : 6;
        send(nakModemWrite ? "\x15" : "\x06");
      } else if (in.rfind("!G", 0) == 0) {
        const std::string c = take(in.rfind("!GCC", 0) == 0 ? 12 : 4);
        if (c.empty()) return;
        if (mmc.count(c)) send(mmc[c]);
      } else if (in.rfind("!X", 0) == 0) {
        const std::string c = take(6);
        if (c.empty()) return;
        const std::string op = c.substr(2, 2);
        if (c == "!X0000")
          send(Format("%02X00MTS\r\n", status));
        else if (op == "05" || op == "02")
          receivingTable = true;
        else if (op == "04" || op == "01")
          out.Send(AnswerFor(), now + 5, 0.5);
      } else if (in[0] == 'F') {
        take(std::min<size_t>(in.size(), 3));
      } else {
        commands.push_back(in);  // not understood: dropped
        in.clear();
      }
    }
  }

 private:
  bool receivingTable = false, modemReadPending = false;
  int modemWrite = 0;
};

// A ".txt" file in the temporary folder holding `bytes`, removed at the end.
struct TempTable {
  explicit TempTable(const std::string& bytes = "") {
    static int count = 0;
    path = std::filesystem::temp_directory_path() /
           ("klx_cards_" + std::to_string(::getpid()) + "_" + std::to_string(++count) + ".txt");
    if (!bytes.empty()) std::ofstream(path, std::ios::binary) << bytes;
  }
  ~TempTable() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  std::filesystem::path path;
};

// The card behind an open link, with a two-channel logger whose second channel is generic.
struct CardTest : OpenLink {
  void SetUp() override {
    OpenLink::SetUp();
    device->handler = [this](ScriptedDevice& d, LineOutput& out, int64_t now) {
      card.Handle(d.received, out, now);
    };
    logger.state.connected = true;
    logger.state.model = "VS-330";
    logger.state.channelTypes = "TB";
    logger.state.channelCount = 2;
    logger.state.genericCardVersion = 4;
  }
  FakeCard card;
};

}  // namespace klx::test
