// The script cipher and the .rcfg text form.
#include "scripts/rcfg.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace klx {
namespace {

TEST(Tea, ZeroKeyAndZeroTextGiveTheKnownBlock) {
  std::array<uint32_t, 2> block{0, 0};
  TeaEncipher(block, TeaKey{0, 0, 0, 0});
  EXPECT_EQ(block, (std::array<uint32_t, 2>{0x41EA3A0Au, 0x94BAA940u}));
  TeaDecipher(block, TeaKey{0, 0, 0, 0});
  EXPECT_EQ(block, (std::array<uint32_t, 2>{0, 0}));
}

TEST(Rcfg, PaddingGivesWholeBlocksAndAFullBlockGainsOneMore) {
  for (const auto& [clearBytes, words] : {std::pair<size_t, size_t>{16, 6}, {15, 4}, {0, 2}}) {
    const std::string clear(clearBytes, 'x');
    const std::string rcfg = EncipherScript(clear);
    EXPECT_EQ(static_cast<size_t>(std::count(rcfg.begin(), rcfg.end(), '\n')), words) << clearBytes;
    const auto back = DecipherScript(rcfg);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->size(), words * 4);  // the clear text and its padding of spaces
    EXPECT_EQ(back->substr(0, clear.size()), clear);
    EXPECT_EQ(back->find_first_not_of(' ', clear.size()), std::string::npos);
  }
}

TEST(Rcfg, MalformedFilesAreRefused) {
  const std::string cases[] = {
      "",                                                       // empty
      "0000000G\n00000000\n",                                   // a letter that is not hexadecimal
      "123456789\n00000000\n",                                  // nine digits
      "00000000 00000000\n",                                    // two words on a line
      "-0000001\n00000000\n",                                   // a sign
      EncipherScript("Serial number=012345\n") + "00000000\n",  // an odd count of words
  };
  for (const std::string& text : cases) EXPECT_FALSE(DecipherScript(text).has_value()) << text;
}

}  // namespace
}  // namespace klx
