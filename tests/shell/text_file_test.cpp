// Text files (lines, atomic saves, leading numbers), the real-time limits file and the status line.
#include "shell/limits_file.h"
#include "shell/status.h"
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
    for (const auto& line : *read) s += line.text + (line.overLong ? "+|" : "|");
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
  EXPECT_FALSE(CopyFileAtomically(Dir() / "none", Dir() / "h") ||
               std::filesystem::exists(Dir() / "h"));
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

// Upper and lower limit of each named quantity, "absent" for names not in the table.
std::string Limits(const RealTimeLimits& limits, std::initializer_list<const char*> names) {
  std::string s;
  for (const char* name : names) {
    const auto* l = limits.Find(name);
    s += l ? std::to_string(l->upper) + " " + std::to_string(l->lower) + ";" : "absent;";
  }
  return s;
}

TEST_F(TextFileTest, AMissingLimitsFileIsWrittenWithTheDefaultsBadLinesIgnoredAndRoundTrip) {
  RealTimeLimits limits;
  ReadRealTimeLimits(Dir(), limits);
  const std::string text = ReadFile(Dir() / "klx.lim");
  EXPECT_EQ(text.substr(0, 33), "Temperature=35 -5\nPressure=30 0\nC");
  EXPECT_EQ(text.substr(text.size() - 37), "Tidal Slope=1 0\nTransmissometer=10 0\n");
  EXPECT_EQ(limits.All().size(), 18u);

  WriteFile(Dir() / "klx.lim",
            "Temperature=30 -2\nPressure=abc\nConductivity=70\nBogus=1 2\n" +
                std::string("\0\xff\x01=\n", 5) + "pH=12 2\r\nDepth= 200  -1\n" +
                "Salinity=99999999999 1\n" + std::string(200, 'x') + "Voltage=9 9\n");
  ReadRealTimeLimits(Dir(), limits);
  EXPECT_EQ(Limits(limits, {"Temperature", "Pressure", "Conductivity", "pH", "Depth", "Salinity",
                            "Voltage", "Nothing"}),
            "30 -2;30 0;60 20;12 2;200 -1;60 40;5 0;absent;");

  limits.Find("Tidal Slope")->lower = -1;
  ASSERT_TRUE(WriteRealTimeLimits(Dir(), limits));
  RealTimeLimits back;
  ReadRealTimeLimits(Dir(), back);
  EXPECT_EQ(back.All(), limits.All());
  EXPECT_FALSE(WriteRealTimeLimits(Dir() / "missing", limits));
}

TEST(StatusLine, LongTextIsCutAndWarningWordsGiveTheWarningIcon) {
  const std::string text = std::string(100, 'a') + std::string(28, 'b');
  RecordingHost whole, cut;
  ShowStatus(whole, text.substr(0, 127));
  EXPECT_EQ(whole.status[kStatusMessagePart], text.substr(0, 127));
  ShowStatus(cut, text);
  EXPECT_EQ(cut.status[kStatusMessagePart], text.substr(0, 122) + " ...");

  const std::pair<const char*, bool> cases[] = {
      {"Communication error", true}, {"Error", true}, {"Fail", true}, {"Transfer failed", true},
      {"Unable to open file", true}, {"Logger not yet configured", true}, {"Ready", false},
      {"unable to", false}, {"Not yet", false}, {"ERROR", false}};
  for (const auto& [text, warning] : cases) {
    RecordingHost host;
    host.icon = StatusIcon::Warning;
    ShowStatus(host, text);
    EXPECT_EQ(host.icon, warning ? StatusIcon::Warning : StatusIcon::None) << text;
  }
}

}  // namespace
}  // namespace klx
