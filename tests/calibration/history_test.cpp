// The calibration history of simulated loggers of each generation and its numbered file.
#include "calibration/history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "calibration/read.h"
#include "calibration/sim_link_fixture.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "shell/temp_dir.h"

namespace klx::test {
namespace {

using Row = std::array<double, 4>;

struct History : TempDirTest {
  struct Run { HistoryResult result; CalibrationHistory history; };
  static Run List(SimLinkFixture& f, const std::filesystem::path& dir) {
    Run run;
    run.result = WriteCalibrationHistory(f.logger, dir, run.history);
    return run;
  }
  static std::vector<std::string> DateLines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines)
      if (l.size() >= 20 && l[4] == '/' && l[8] == '/') out.push_back(l);
    return out;
  }
  // The four numbers of a coefficient line (after "%3d: " when `numbered`).
  static Row Numbers(const std::string& line, bool numbered) {
    Row r{};
    int n = 0;
    const char* text = line.c_str() + (numbered ? 5 : 0);
    EXPECT_EQ(std::sscanf(text, "%lf %lf %lf %lf%n", &r[0], &r[1], &r[2], &r[3], &n), 4) << line;
    return r;
  }
};

// Every record listed, the current one as a read finds it, the file numbered on.
TEST_F(History, ListsEveryRecordOfEachGenerationIntoNumberedFiles) {
  struct Case {
    const char* profile;
    int older;                // records older than the current one
    bool newestFirst;         // linear-memory loggers list the newest record first
    const char* currentDate;  // the profile's calibration date
  };
  for (const Case& c : {Case{"NMJ-7400", 2, true, "2026/Mar/20 15:30:00"},
                        Case{"VS-330", 2, false, "2026/Feb/10 10:15:00"},
                        Case{"NB-7100-cal-history", 2, false, "2026/Feb/10 09:00:00"}}) {
    SCOPED_TRACE(c.profile);
    SimLinkFixture f(c.profile, [&](sim::SimProfile& p) { p.calHistory = c.older; });
    ASSERT_TRUE(f.Connect());
    CalibrationCoefficients current;
    ASSERT_EQ(ReadCalibration(f.logger, current), CalibrationRead::Succeeded);

    const auto dir = Dir() / c.profile;
    std::filesystem::create_directories(dir);
    const Run first = List(f, dir);
    ASSERT_EQ(first.result, HistoryResult::Listed);
    const auto& lines = first.history.lines;
    const auto dates = DateLines(lines);
    ASSERT_EQ(dates.size(), size_t(c.older + 1));
    const std::string currentDate = c.currentDate;
    EXPECT_EQ(c.newestFirst ? dates.front() : dates.back(), currentDate);

    // The current record's first channel line, read back, is the channel's coefficients.
    const auto at = std::find(lines.begin(), lines.end(), currentDate);
    ASSERT_NE(at, lines.end());
    const Row row =
        Numbers(*(at + 1), GenerationOf(f.logger.state) != CalibrationGeneration::SingleChannel);
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(row[i], current.coef[0][i], 1e-12) << i;

    EXPECT_EQ(first.history.file.filename(), Format("%06d.000.his", f.logger.state.serial));
    std::string text;
    for (size_t i = 0; i + 2 < lines.size(); ++i) text += lines[i] + "\n";
    EXPECT_EQ(ReadFile(first.history.file), text);
    List(f, dir);
    EXPECT_EQ(LastHistoryFile(dir, f.logger.state.serial).filename(),
              Format("%06d.001.his", f.logger.state.serial));
  }
}

TEST_F(History, UncalibratedAndIncompleteCalibrations) {
  SimLinkFixture empty("VS-550");
  ASSERT_TRUE(empty.Connect());
  const Run none = List(empty, Dir());
  EXPECT_EQ(none.result, HistoryResult::NotCalibrated);
  EXPECT_EQ(none.history.lines[1], "Logger not yet calibrated.");

  SimLinkFixture partly("NMJ-7400", [](sim::SimProfile& p) {
    p.calHistory = 2;
    p.calIncomplete = 1;
  });
  ASSERT_TRUE(partly.Connect());
  const auto dates = DateLines(List(partly, Dir()).history.lines);
  ASSERT_EQ(dates.size(), 3u);
  EXPECT_EQ(dates[1].substr(20), " incomplete calibration");
  EXPECT_EQ(dates[0].size(), 20u);
}

// A single-channel logger's bad sums are asked again; five are an error and leave no file.
TEST_F(History, SingleChannelSumIsCheckedAndRetried) {
  for (int bad : {4, 5}) {
    SCOPED_TRACE(bad);
    SimLinkFixture f("NMV-7400");
    ASSERT_TRUE(f.Connect());
    f.simLogger->FailNextChecks(bad);
    const auto dir = Dir() / std::to_string(bad);
    std::filesystem::create_directories(dir);
    const Run run = List(f, dir);
    EXPECT_EQ(run.result, bad < 5 ? HistoryResult::Listed : HistoryResult::Error);
    EXPECT_EQ(f.host.Saw("tell", "Download Error"), bad == 5);
    EXPECT_EQ(std::filesystem::is_empty(dir), bad == 5);
  }
}

TEST_F(History, LinearLineSwitchesToExponentsAboveAMillion) {
  for (const auto& [row, exponent] : std::vector<std::pair<Row, bool>>{
           {{0, 1e6, -1e6, 0.5}, false}, {{0, 1000000.5, 0, 0}, true}, {{-2.5e7, 0, 0, 0}, true}}) {
    const std::string line = LinearHistoryLine(7, row);
    SCOPED_TRACE(line);
    EXPECT_EQ(line.find('e') != std::string::npos, exponent);
    const Row back = Numbers(line, true);
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(back[i], row[i], std::fabs(row[i]) * 1e-15 + 1e-16);
  }
}

}  // namespace
}  // namespace klx::test
