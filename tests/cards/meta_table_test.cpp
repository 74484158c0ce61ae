#include "cards/meta_table.h"

#include <gtest/gtest.h>

#include "cards/generic_card.h"
#include "shell/status.h"

namespace klx {
namespace {

TEST(MetaTableCheck, SumWithEtxAndCheckIs0xA5IncludingTheWrap) {
  // By hand: "" 0 + 3 + 0xA2 = 0xA5; "~~" 252 + 3 + 166 = 0x1A5 (165 - 255 would go negative).
  for (const auto& [table, check] : {std::pair<std::string, uint8_t>{"", 0xA2}, {"~~", 0xA6}}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(MetaTableCheckByte(table), check);
    EXPECT_TRUE(MetaTableCheckHolds(table, check));
    EXPECT_FALSE(MetaTableCheckHolds(table, static_cast<uint8_t>(check + 1)));
    EXPECT_FALSE(MetaTableCheckHolds(table, static_cast<uint8_t>(check - 1)));
  }
}

TEST(MetaTableFile, TypographicQuotesAreSentPlainAndTheOriginalKept) {
  const std::string bytes = "KEY=\x93value\x94\r\nNEXT=\"x\"\n";
  std::string error;
  const auto table = MetaTableFromBytes(bytes, error);
  ASSERT_TRUE(table) << error;
  EXPECT_EQ(table->Joined(), "KEY=\"value\"\r\nNEXT=\"x\"\n");
  EXPECT_EQ(table->original, bytes);
}

TEST(MetaTableFile, RefusesWhatCannotBeSentWhole) {
  const std::pair<std::string, bool> cases[] = {
      {std::string(80, 'x') + "\r\n", true},
      {std::string(81, 'x') + "\n", false},
      {"a\n" + std::string(81, 'x'), false},
      {std::string("a\0b\n", 4), false},
      {"a\x03\n", false},  // end-of-text byte
  };
  for (const auto& [bytes, accepted] : cases) {
    std::string error;
    EXPECT_EQ(MetaTableFromBytes(bytes, error).has_value(), accepted) << bytes;
    EXPECT_EQ(error.empty(), accepted);
  }
  // Lines of 40 and a line end: 16381 bytes fit with the ETX and check digits, 16382 do not.
  std::string full;
  while (full.size() + 41 <= 16381) full += std::string(40, 'y') + "\n";
  full += std::string(16381 - full.size() - 1, 'z') + "\n";
  ASSERT_EQ(full.size(), 16381u);
  std::string error;
  EXPECT_TRUE(MetaTableFromBytes(full, error));
  EXPECT_FALSE(MetaTableFromBytes(full + "w", error));
  EXPECT_NE(error.find("16381"), std::string::npos);
}

TEST(MetaTableVerify, APlainQuoteMatchesOnlyAQuote) {
  EXPECT_TRUE(MetaTableMatchesFile("a\"b\"c\"", "a\x93" "b\x94" "c\""));
  EXPECT_FALSE(MetaTableMatchesFile("a\"b", "axb"));
  EXPECT_FALSE(MetaTableMatchesFile("axb", "a\"b"));
  EXPECT_FALSE(MetaTableMatchesFile("abc", "abcd"));
}

TEST(GenericCardStatus, ParsedFourCharactersBeforeTheTagWithItsText) {
  const std::pair<const char*, int> cases[] = {
      {"\r\n8500MTS\r\n", 0x85}, {"00MTS", -1}, {"ZZ00MTS", -1}, {"0700", -1}};
  for (const auto& [reply, status] : cases)
    EXPECT_EQ(ParseGenericCardStatus(reply).value_or(-1), status) << reply;
}

}  // namespace
}  // namespace klx
