#include "shell/text_file.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace klx {
namespace {

using TextFileTest = test::TempDirTest;

TEST_F(TextFileTest, LinesAreCutAtTheLimitAndTheRestSkipped) {
  WriteFile(Dir() / "f", "abc\r\n" + std::string(10, 'x') + "tail\nlast");
  const auto lines = ReadTextLines(Dir() / "f", 10);
  ASSERT_TRUE(lines.has_value());
  ASSERT_EQ(lines->size(), 3u);
  EXPECT_EQ((*lines)[0].text, "abc");
  EXPECT_FALSE((*lines)[0].overLong);
  EXPECT_EQ((*lines)[1].text, std::string(10, 'x'));
  EXPECT_TRUE((*lines)[1].overLong);
  EXPECT_EQ((*lines)[2].text, "last");
}

TEST_F(TextFileTest, LineOfExactlyTheLimitWithCarriageReturn) {
  WriteFile(Dir() / "f", std::string(10, 'a') + "\r\n" + std::string(10, 'b') + "\rc\n");
  const auto lines = ReadTextLines(Dir() / "f", 10);
  ASSERT_TRUE(lines.has_value());
  ASSERT_EQ(lines->size(), 2u);
  EXPECT_EQ((*lines)[0].text, std::string(10, 'a'));
  EXPECT_FALSE((*lines)[0].overLong);
  EXPECT_EQ((*lines)[1].text, std::string(10, 'b'));
  EXPECT_TRUE((*lines)[1].overLong);
}

TEST_F(TextFileTest, MissingFileAndMaxLines) {
  EXPECT_FALSE(ReadTextLines(Dir() / "none", 10).has_value());
  WriteFile(Dir() / "f", "1\n2\n3\n");
  EXPECT_EQ(ReadTextLines(Dir() / "f", 10, 2)->size(), 2u);
  WriteFile(Dir() / "e", "");
  EXPECT_TRUE(ReadTextLines(Dir() / "e", 10)->empty());
}

TEST_F(TextFileTest, AtomicWriteReplacesTheFile) {
  ASSERT_TRUE(WriteTextFileAtomically(Dir() / "f", "one\n"));
  ASSERT_TRUE(WriteTextFileAtomically(Dir() / "f", "two\n"));
  EXPECT_EQ(ReadFile(Dir() / "f"), "two\n");
  EXPECT_FALSE(WriteTextFileAtomically(Dir() / "no" / "f", "x"));
  ASSERT_TRUE(CopyFileAtomically(Dir() / "f", Dir() / "g"));
  EXPECT_EQ(ReadFile(Dir() / "g"), "two\n");
  EXPECT_FALSE(CopyFileAtomically(Dir() / "none", Dir() / "h"));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "h"));
}

TEST(Numbers, LeadingNumbersRejectWhatSscanfWouldHalfRead) {
  EXPECT_EQ(LeadingInt("  -7x"), -7);
  EXPECT_EQ(LeadingInt("+-7"), std::nullopt);
  EXPECT_EQ(LeadingInt("99999999999"), std::nullopt);
  EXPECT_EQ(LeadingDouble(" -1e3"), -1000.0);
  EXPECT_EQ(LeadingDouble("nan"), std::nullopt);
  EXPECT_EQ(LeadingDouble("1,5"), 1.0);
  size_t used = 0;
  EXPECT_EQ(LeadingInt("12 5.5", &used), 12);
  EXPECT_EQ(used, 2u);
}

}  // namespace
}  // namespace klx
