// The script cipher and the .rcfg text form.
#include "scripts/rcfg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace klx {
namespace {

size_t LineCount(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(Tea, ZeroKeyAndZeroTextGiveTheKnownBlock) {
  std::array<uint32_t, 2> block{0, 0};
  TeaEncipher(block, TeaKey{0, 0, 0, 0});
  EXPECT_EQ(block[0], 0x41EA3A0Au);
  EXPECT_EQ(block[1], 0x94BAA940u);
  TeaDecipher(block, TeaKey{0, 0, 0, 0});
  EXPECT_EQ(block[0], 0u);
  EXPECT_EQ(block[1], 0u);
}

TEST(Rcfg, PaddingGivesWholeBlocksAndAFullBlockGainsOneMore) {
  struct Case {
    size_t clearBytes;
    size_t words;
  };
  for (const Case c : {Case{16, 6}, Case{15, 4}, Case{0, 2}}) {
    const std::string clear(c.clearBytes, 'x');
    const std::string rcfg = EncipherScript(clear);
    EXPECT_EQ(LineCount(rcfg), c.words) << c.clearBytes << " clear bytes";
    const auto back = DecipherScript(rcfg);
    ASSERT_TRUE(back.has_value());
    // The clear text comes back followed by its padding of spaces.
    EXPECT_EQ(back->size(), c.words * 4);
    EXPECT_EQ(back->substr(0, clear.size()), clear);
    EXPECT_EQ(back->find_first_not_of(' ', clear.size()), std::string::npos);
  }
}

TEST(Rcfg, MalformedFilesAreRefused) {
  const std::string good = EncipherScript("Serial number=012345\n");
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"empty", ""},
      {"a letter that is not hexadecimal", "0000000G\n00000000\n"},
      {"nine digits", "123456789\n00000000\n"},
      {"two words on a line", "00000000 00000000\n"},
      {"a sign", "-0000001\n00000000\n"},
      {"an odd count of words", good + "00000000\n"},
  };
  for (const Case& c : cases) EXPECT_FALSE(DecipherScript(c.text).has_value()) << c.what;
}

}  // namespace
}  // namespace klx
