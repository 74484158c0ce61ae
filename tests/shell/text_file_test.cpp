#include "shell/text_file.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace klx {
namespace {

using TextFileTest = test::TempDirTest;

TEST_F(TextFileTest, LinesAreCutAtTheLimitAndFilesReplacedWhole) {
  // Each line's text, with "+" after the text of a line cut at the limit.
  auto lines = [&](const std::string& text, size_t maxLines = 1000) {
    WriteFile(Dir() / "f", text);
    std::string s;
    const auto read = ReadTextLines(Dir() / "f", 10, maxLines);
    for (const auto& line : *read)
      s += line.text + (line.overLong ? "+|" : "|");
    return s;
  };
  EXPECT_EQ(lines("abc\r\n" + std::string(10, 'x') + "tail\nlast"), "abc|xxxxxxxxxx+|last|");
  EXPECT_EQ(lines(std::string(10, 'a') + "\r\n" + std::string(10, 'b') + "\rc\n"),
            "aaaaaaaaaa|bbbbbbbbbb+|");
  EXPECT_EQ(lines("1\n2\n3\n", 2), "1|2|");
  EXPECT_FALSE(ReadTextLines(Dir() / "none", 10, 10));

  ASSERT_TRUE(WriteTextFileAtomically(Dir() / "f", "two\n"));
  EXPECT_EQ(ReadFile(Dir() / "f"), "two\n");
  EXPECT_FALSE(WriteTextFileAtomically(Dir() / "no" / "f", "x"));
  ASSERT_TRUE(CopyFileAtomically(Dir() / "f", Dir() / "g"));
  EXPECT_EQ(ReadFile(Dir() / "g"), "two\n");
  EXPECT_FALSE(CopyFileAtomically(Dir() / "none", Dir() / "h"));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "h"));
  // A save clears the temporaries of processes that are gone, and only those.
  const std::string live = "f.tmp" + std::to_string(::getpid()) + ".1";
  for (const std::string& name : {std::string("f.tmp999999999.1"), std::string("f.tmp.1"), live})
    WriteFile(Dir() / name, "x");
  ASSERT_TRUE(WriteTextFileAtomically(Dir() / "f", "three\n"));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "f.tmp999999999.1"));
  EXPECT_TRUE(std::filesystem::exists(Dir() / "f.tmp.1") && std::filesystem::exists(Dir() / live));
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
