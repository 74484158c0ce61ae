#include "shell/text_file.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace klx {
namespace {

using TextFileTest = test::TempDirTest;

// Each line's text, with "+" after the text of a line cut at the limit.
std::string Lines(const std::filesystem::path& path, size_t limit, size_t maxLines = 1000) {
  const auto lines = ReadTextLines(path, limit, maxLines);
  if (!lines) return "missing";
  std::string s;
  for (const auto& line : *lines) s += line.text + (line.overLong ? "+|" : "|");
  return s;
}

TEST_F(TextFileTest, LinesAreCutAtTheLimitAndTheRestSkipped) {
  const std::pair<std::string, std::string> cases[] = {
      {"abc\r\n" + std::string(10, 'x') + "tail\nlast", "abc|xxxxxxxxxx+|last|"},
      {std::string(10, 'a') + "\r\n" + std::string(10, 'b') + "\rc\n", "aaaaaaaaaa|bbbbbbbbbb+|"},
      {"", ""}};
  for (const auto& [text, lines] : cases) {
    WriteFile(Dir() / "f", text);
    EXPECT_EQ(Lines(Dir() / "f", 10), lines) << text;
  }
  EXPECT_EQ(Lines(Dir() / "none", 10), "missing");
  WriteFile(Dir() / "f", "1\n2\n3\n");
  EXPECT_EQ(Lines(Dir() / "f", 10, 2), "1|2|");
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
