// What the simulated loggers hold and send in the cases a host most easily gets wrong: a memory
// full to its very end, slow links whose blocks run into a page's last byte, range-switching
// tables read back as written, auto-ranging channels with their gains, and ASCII data. The
// memory is read the way a host reads it, with "I" requests, and checked against the address
// rules and the signal model rather than against the memory's own bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/system_time.h"
#include "sim/sim_memory.h"
#include "tests/sim/sim_host.h"

namespace klx::sim::test {
namespace {

std::string ReadRequest(uint32_t end, uint32_t start) {
  char b[32];
  std::snprintf(b, sizeof b, "I%02x%02x%02x%02x%02x%02x%02x%02x", end & 0xFF, end >> 8 & 0xFF,
                end >> 16 & 0xFF, end >> 24, start & 0xFF, start >> 8 & 0xFF, start >> 16 & 0xFF,
                start >> 24);
  return b;
}

uint32_t Word(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
         static_cast<uint8_t>(bytes[at + 2]);
}

// An older logger's address holds no data on a page's last byte and from a region's offset
// 0xFF7FE on.
bool HoldsNoData(uint32_t address) {
  return (address & 0xFFFF) == 0xFFFF || (address & 0xFFFFF) >= 0xFF7FE;
}

// Reads [start, end) block by block as a host does on an older logger: a block never runs past
// a page's last byte or a region's tail (it ends at the next page or region start), and the
// logger must then send exactly the addresses that hold data plus their 8-bit sum. Returns the
// data bytes; counts the page and region ends passed.
std::string ReadOlderMemory(SimHost& host, uint32_t start, uint32_t end, uint32_t block,
                            int* pageEnds = nullptr, int* regionEnds = nullptr) {
  std::string image;
  for (uint32_t next = start; next < end;) {
    uint32_t stop = std::min(next + block, end);
    const uint32_t regionTail = (next & ~0xFFFFFu) | 0xFF7FE;
    const uint32_t pageLast = next | 0xFFFF;
    if (next < regionTail && stop > regionTail) {
      stop = std::min((next & ~0xFFFFFu) + 0x100000, end);
      if (regionEnds) ++*regionEnds;
    } else if (stop > pageLast) {
      stop = std::min(pageLast + 1, end);
      if (pageEnds) ++*pageEnds;
    }
    uint32_t expected = 0;
    for (uint32_t a = next; a < stop; ++a) expected += HoldsNoData(a) ? 0 : 1;
    const std::string reply = host.Ask(ReadRequest(stop, next), static_cast<int>(expected) + 1);
    EXPECT_EQ(reply.size(), expected + 1) << std::hex << next;
    if (reply.size() != expected + 1) return image;
    EXPECT_EQ(Sum(reply, expected), static_cast<uint8_t>(reply.back())) << std::hex << next;
    image += reply.substr(0, expected);
    next = stop;
  }
  return image;
}

// Walks the words behind the parameter block: stamps (a zero word and a known code) are
// skipped and counted, every other word is one channel's reading.
struct Walk {
  std::vector<uint32_t> words;
  std::vector<std::string> stamps;
};

Walk WalkWords(const std::string& image, size_t header) {
  static const std::set<std::string> kCodes = {"TIM", "CLD", "CHG", "LUK", "WRM", "STP",
                                               "TTY", "REC", "BST", "SER", "RTC"};
  Walk w;
  for (size_t at = header; at + 3 <= image.size();) {
    const uint32_t word = Word(image, at);
    if (word == 0 && at + 12 <= image.size() && kCodes.count(image.substr(at + 3, 3))) {
      w.stamps.push_back(image.substr(at + 3, 3));
      at += 12;
      continue;
    }
    w.words.push_back(word);
    at += 3;
  }
  return w;
}

TEST(SimFidelity, TwoMegabyteMemoryEndsWithItsSecondRegion) {
  const AddressMap map(false, 2);
  uint32_t kept = 0;
  for (uint32_t a = 0x20000; a < 0x200000; ++a) kept += HoldsNoData(a) ? 0 : 1;
  EXPECT_EQ(map.Capacity(), kept);
  EXPECT_EQ(*map.OffsetOf(0x1FF7FD) + 1, map.Capacity());
  EXPECT_FALSE(map.OffsetOf(0x1FF7FE));
  EXPECT_FALSE(map.OffsetOf(0x200000)) << "a 2 MB memory has no third region";
  EXPECT_EQ(map.AddressOf(map.Capacity()), 0x200000u);
  uint32_t keptIn4 = 0;
  for (uint32_t a = 0x20000; a < 0x400000; ++a) keptIn4 += HoldsNoData(a) ? 0 : 1;
  EXPECT_EQ(AddressMap(false, 4).Capacity(), keptIn4);

  SimProfile p;
  std::string error;
  EXPECT_TRUE(ParseProfile("memory_mb = 2\nascii = yes\n", p, error)) << error;
  EXPECT_EQ(p.memoryMb, 2);
  EXPECT_TRUE(p.asciiData);
  EXPECT_FALSE(ParseProfile("memory_mb = 3\n", p, error));
  EXPECT_FALSE(ParseProfile("ascii = perhaps\n", p, error));
}

// A memory full to its end: the data pointer, and the last block a host requests, whose last
// word is the last reading the logger took.
TEST(SimFidelity, FullMemoryServesItsLastBlock) {
  struct Case {
    const char* profile;
    uint32_t pointer;    // "G" when full
    uint32_t lastStart;  // the final block a host requests
    uint32_t lastEnd;
    size_t dataBytes;  // what the logger sends for it, before the sum
  };
  const Case cases[] = {
      // 8 MB linear memory: 960-byte blocks end exactly at 0x7FE000.
      {"NMJ-7400-full", 0x7FE000, 0x7FE000 - 960, 0x7FE000, 960},
      // 2 MB older memory: the region's last 126 data bytes, asked up to the region's end.
      {"NA-7100-full-region", 0x200000, 0x1FF780, 0x1FF7FE, 126},
      {"NA-7100-full-region", 0x200000, 0x1FF780, 0x200000, 126},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile);
    SimHost host(Profile(c.profile));
    const SimLogger& logger = *host.logger;
    const SimMemory& memory = logger.Memory();
    EXPECT_EQ(logger.DataPointer(), c.pointer);
    EXPECT_EQ(memory.UsedBytes(), memory.Map().Capacity()) << "nothing more fits";
    char g[16];
    std::snprintf(g, sizeof g, "%02X%02X%02X%02XCDP", c.pointer & 0xFF, c.pointer >> 8 & 0xFF,
                  c.pointer >> 16 & 0xFF, c.pointer >> 24);
    EXPECT_EQ(host.Ask("G").substr(0, 11), g);

    // Header, one "TIM" stamp and whole rows make up the memory.
    const size_t channels = memory.Configuration().channels.size();
    EXPECT_EQ(memory.UsedBytes(), logger.HeaderBytes() + 12 + memory.RowCount() * 3 * channels);

    const std::string reply = host.Ask(ReadRequest(c.lastEnd, c.lastStart), 2000);
    ASSERT_EQ(reply.size(), c.dataBytes + 1);
    EXPECT_EQ(Sum(reply, c.dataBytes), static_cast<uint8_t>(reply.back()));
    const auto last = memory.RowAt(memory.RowCount() - 1);
    ASSERT_TRUE(last);
    for (size_t ch = 0; ch < channels; ++ch)
      EXPECT_EQ(Word(reply, c.dataBytes - 3 * (channels - ch)), last->raw[ch]) << ch;
  }
}

// Slow links: 60-, 120- and 240-byte blocks run into the last byte of 64 KiB pages (and at
// 4800 baud into a region's tail); read with blocks that stop there, the memory is the
// parameter block, the stamps and every row of the signal model, in order.
TEST(SimFidelity, SlowLinksReadAcrossPagesAndRegions) {
  struct Case {
    const char* profile;
    int baud;
    uint32_t block;
    int minPageEnds, minRegionEnds;
    std::vector<std::string> stamps;
  };
  const Case cases[] = {
      {"NB-7100-1200", 1200, 60, 2, 0, {"TIM"}},
      {"NB-7100-2400-pages", 2400, 120, 2, 0, {"TIM", "REC", "STP"}},
      {"NB-7100-4800", 4800, 240, 13, 1, {"TIM"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile);
    SimHost host(Profile(c.profile), c.baud);
    ASSERT_EQ(host.Ask("A").substr(0, 11), "KLX NB-7100");
    const SimLogger& logger = *host.logger;
    int pages = 0, regions = 0;
    const std::string image =
        ReadOlderMemory(host, 0x20000, logger.DataPointer(), c.block, &pages, &regions);
    EXPECT_GE(pages, c.minPageEnds);
    EXPECT_GE(regions, c.minRegionEnds);
    ASSERT_EQ(image.size(), logger.Memory().UsedBytes());
    ASSERT_EQ(image.size() % 3, 0u);

    const Walk walk = WalkWords(image, logger.HeaderBytes());
    EXPECT_EQ(walk.stamps, c.stamps);
    ASSERT_EQ(walk.words.size(), logger.Memory().RowCount());
    // A byte lost or repeated anywhere would shift every later word, so a sample of the rows
    // (and the last) shows the whole memory in place.
    const size_t n = walk.words.size(), stride = std::max<size_t>(1, n / 20000);
    size_t wrong = 0;
    for (size_t i = 0; i < n; i += (i + stride < n || i + 1 == n) ? stride : n - 1 - i)
      if (walk.words[i] != logger.Memory().RowAt(i)->raw[0]) ++wrong;
    EXPECT_EQ(wrong, 0u);

    // A block asked as it stands over a page's last byte comes one byte short.
    const uint32_t start = 0x2FFFF - c.block / 2;
    const std::string shortReply = host.Ask(ReadRequest(start + c.block, start), 1000);
    ASSERT_EQ(shortReply.size(), c.block);  // block - 1 data bytes and the sum
    EXPECT_EQ(shortReply.substr(0, c.block - 1), image.substr(start - 0x20000, c.block - 1));
  }
}

// The range-switching tables: a fresh read gives the 26 bytes the logger holds; after a write
// a read gives back exactly what was written, 25 or 26 bytes, and the other table is left alone.
TEST(SimFidelity, RangeSwitchingTablesReadBackAsWritten) {
  SimHost host(Profile("VS-330-FT"));
  auto write = [&](const std::string& table, std::string data) {
    data += static_cast<char>(0xA5 - Sum(data, data.size()));
    char h[8];
    std::snprintf(h, sizeof h, "%02X", static_cast<unsigned>(data.size()));
    std::string reply = host.Ask("S" + table + "00" + h, 80);
    for (size_t i = 0; i < data.size(); i += 16) reply += host.Ask(data.substr(i, 16), 80);
    return reply;
  };
  const std::string behaviour = host.ReadTable("R0500");
  const std::string extended = host.ReadTable("R0400");
  ASSERT_EQ(behaviour.size(), 27u);
  ASSERT_EQ(extended.size(), 27u);
  for (const std::string* t : {&behaviour, &extended})
    EXPECT_EQ(Sum(*t, t->size()), 0xA5) << "the check byte brings the sum to 0xA5";
  EXPECT_EQ(behaviour.substr(0, 5), Bytes({0x04, 0xFF, 0xFF, 0x05, 0x06}));

  struct Case {
    const char* table;
    const char* other;
    std::string data;
  };
  std::string fixedGain = behaviour.substr(0, 25);
  fixedGain[3] = static_cast<char>(2 * 32 + 1 * 8 + 5);  // gain 2, mode 1, fluorometer
  std::string extendedWrite = extended.substr(0, 25);
  extendedWrite[3] = static_cast<char>(extendedWrite[3] | 2);
  const Case cases[] = {
      {"05", "04", fixedGain},
      {"04", "05", extendedWrite},
      {"05", "04", behaviour.substr(0, 26)},  // a full-length write is kept as well
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " with " + std::to_string(c.data.size()) + " bytes");
    const std::string otherBefore = host.ReadTable(std::string("R") + c.other + "00");
    const size_t acks = 1 + (c.data.size() + 1 + 15) / 16;
    EXPECT_EQ(write(c.table, c.data), std::string(acks, '\x06'));
    const std::string back = host.ReadTable(std::string("R") + c.table + "00");
    ASSERT_EQ(back.size(), c.data.size() + 1);
    EXPECT_EQ(back.substr(0, c.data.size()), c.data);
    EXPECT_EQ(Sum(back, back.size()), 0xA5);
    EXPECT_EQ(host.ReadTable(std::string("R") + c.other + "00"), otherBefore);
  }
}

// Auto-ranging channels: the configuration names them with lower-case letters, and the words
// of the fluorometer and the turbidity sensor carry the gain they were taken with in bits 1 and
// 2. The expected decoding (values, gains and the gain stamps) is checked against the words the
// logger sends and the profile's calibration.
TEST(SimFidelity, AutoRangingChannelsCarryTheirGains) {
  const SimProfile profile = Profile("VS-330-FT");
  SimHost host(profile);
  const SimLogger& logger = *host.logger;

  const std::string config = host.Ask("I00000200C9FF0100", 80);  // 55 bytes and their sum
  ASSERT_EQ(config.size(), 56u);
  EXPECT_EQ(static_cast<uint8_t>(config[53]), 4);
  EXPECT_EQ(std::string({config[47], config[45], config[43], config[41]}), "TPfy");

  const std::string image = ReadOlderMemory(host, 0x20000, logger.DataPointer(), 480);
  const Walk walk = WalkWords(image, logger.HeaderBytes());
  EXPECT_EQ(walk.stamps, (std::vector<std::string>{"TIM", "STP"}));
  const SimExpected e = logger.Expected();
  const size_t channels = 4, rows = e.Rows();
  ASSERT_EQ(rows, 3000u);
  ASSERT_EQ(walk.words.size(), rows * channels);

  std::vector<int> previous(channels, -1);
  std::vector<SimGainChange> changes;
  std::vector<std::set<int>> seen(channels);
  for (size_t r = 0; r < rows; ++r) {
    SimGainChange change;
    change.row = r;
    for (size_t ch = 0; ch < channels; ++ch) {
      const uint32_t raw = walk.words[r * channels + ch];
      ASSERT_EQ(raw, e.raw[ch][r]);
      EXPECT_EQ(raw & 1u, 0u) << "no reading outside the normal range";
      const auto& c = profile.calibration.at(static_cast<int>(ch));
      if (ch >= 1) {  // polynomial channels
        const double x = raw / 16777216.0;
        EXPECT_NEAR(e.values[ch][r], c[0] + c[1] * x + c[2] * x * x + c[3] * x * x * x, 1e-9);
      }
      const int gain = ch >= 2 ? static_cast<int>((raw & 6u) >> 1) : -1;
      EXPECT_EQ(e.gains[ch][r], gain) << "row " << r << " channel " << ch;
      change.gains.push_back(gain);
      if (gain >= 0 && (r == 0 || gain != previous[ch])) change.changed |= 1u << ch;
      previous[ch] = gain;
      seen[ch].insert(gain);
    }
    if (change.changed) changes.push_back(change);
  }
  ASSERT_EQ(e.gainChanges.size(), changes.size());
  for (size_t i = 0; i < changes.size(); ++i) {
    EXPECT_EQ(e.gainChanges[i].row, changes[i].row);
    EXPECT_EQ(e.gainChanges[i].changed, changes[i].changed);
    EXPECT_EQ(e.gainChanges[i].gains, changes[i].gains);
  }
  // The deployment moves both sensors through their ranges, more than once.
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.front().row, 0u);
  EXPECT_EQ(changes.front().changed, 0b1100u);
  int fluorometer = 0, turbidity = 0;
  for (const auto& c : changes) {
    fluorometer += (c.changed >> 2) & 1;
    turbidity += (c.changed >> 3) & 1;
  }
  EXPECT_GE(fluorometer, 5);
  EXPECT_GE(turbidity, 5);
  EXPECT_GE(seen[2].size(), 3u);
  EXPECT_GE(seen[3].size(), 3u);
}

// An ASCII logger: capabilities and RS Advanced word say so, and behind the parameter block its
// memory holds one text line per reading, with the reading's time and values.
TEST(SimFidelity, AsciiLoggerHoldsTextLines) {
  const SimProfile profile = Profile("VS-330-ASCII");
  SimHost host(profile);
  const SimLogger& logger = *host.logger;
  EXPECT_EQ(host.ReadTable("R0700"), Bytes({0x0A, 0, 0, 0, 0xA5 - 0x0A}));
  EXPECT_EQ(host.Ask("!017").substr(0, 13), "04000000CAP17");
  EXPECT_EQ(host.Ask("!000").substr(0, 8), "95104000");

  const uint32_t end = logger.DataPointer();
  std::string image;
  for (uint32_t next = 0; next < end;) {
    const uint32_t stop = std::min(next + 960, end);
    const std::string reply = host.Ask(ReadRequest(stop, next), 1000);
    ASSERT_EQ(reply.size(), stop - next + 1);
    ASSERT_EQ(Sum(reply, stop - next), static_cast<uint8_t>(reply.back()));
    image += reply.substr(0, stop - next);
    next = stop;
  }
  const std::string text = image.substr(logger.HeaderBytes());
  const SimExpected e = logger.Expected();
  EXPECT_EQ(text, e.text);
  EXPECT_TRUE(e.stamps.empty());
  for (unsigned char c : text) ASSERT_TRUE(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F));

  size_t line = 0;
  for (size_t at = 0; at < text.size(); ++line) {
    const size_t lf = text.find('\n', at);
    ASSERT_NE(lf, std::string::npos) << "every line ends with a line feed";
    ASSERT_EQ(text[lf - 1], '\r');
    const std::string l = text.substr(at, lf - at);
    at = lf + 1;
    int y, mo, d, h, mi, s;
    double v[3];
    ASSERT_EQ(std::sscanf(l.c_str(), "%d/%d/%d %d:%d:%d %lf %lf %lf", &y, &mo, &d, &h, &mi, &s,
                          &v[0], &v[1], &v[2]),
              9)
        << l;
    ASSERT_LT(line, e.Rows());
    const int64_t seconds = e.rowMs[line] / 1000;
    int ey = 0;
    unsigned emo = 0, ed = 0;
    CivilFromDays(seconds / 86400 + DaysFromCivil(2000, 1, 1), ey, emo, ed);
    EXPECT_EQ(y, ey);
    EXPECT_EQ(mo, static_cast<int>(emo));
    EXPECT_EQ(d, static_cast<int>(ed));
    EXPECT_EQ(h * 3600 + mi * 60 + s, seconds % 86400);
    for (size_t ch = 0; ch < 3; ++ch) EXPECT_NEAR(v[ch], e.values[ch][line], 5.01e-5) << l;
  }
  EXPECT_EQ(line, static_cast<size_t>(profile.samples));
  EXPECT_EQ(e.Rows(), static_cast<size_t>(profile.samples));
}

}  // namespace
}  // namespace klx::sim::test
