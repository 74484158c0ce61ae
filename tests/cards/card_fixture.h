#pragma once
// A scripted generic serial card behind the loopback. Commands
// arrive without terminators, so the stream is cut by command length.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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

  std::string AnswerFor() const {
    return answerSet ? answer : stored + kEtx + Format("%02X", MetaTableCheckByte(stored));
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
  bool receivingTable = false;
};

// A ".txt" file in the temporary folder holding `bytes`, removed at the end.
struct TempTable {
  explicit TempTable(const std::string& bytes = "") {
    static int count = 0;
    path = std::filesystem::temp_directory_path() /
           ("klx_cards_" + std::to_string(::getpid()) + "_" + std::to_string(++count) + ".txt");
    if (!bytes.empty()) std::ofstream(path, std::ios::binary) << bytes;
  }
  ~TempTable() { std::filesystem::remove(path, ec); }
  std::filesystem::path path;
  std::error_code ec;
};

// The card behind an open link, with a two-channel logger whose second channel is generic.
struct CardTest : OpenLink {
  void SetUp() override {
    OpenLink::SetUp();
    device->handler = [this](ScriptedDevice& d, LineOutput& out, int64_t now) {
      card.Handle(d.received, out, now);
    };
    LoggerState& s = logger.state;
    s.connected = true, s.model = "VS-330", s.channelTypes = "TB", s.channelCount = 2;
    s.genericCardVersion = 4;
  }
  FakeCard card;
};

}  // namespace klx::test
