#include "shell/recent_files.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace klx {
namespace {

using RecentFilesTest = test::TempDirTest;

std::string Name(int i) {
  return "/data/file" + std::to_string(i) + ".hex";
}

TEST_F(RecentFilesTest, NoListNoMenu) {
  RecentFiles recent(Dir());
  EXPECT_FALSE(recent.Load());
  EXPECT_TRUE(recent.BuildRecentMenu().empty());
  EXPECT_FALSE(std::filesystem::exists(Dir() / "klxpath.fil"));
}

TEST_F(RecentFilesTest, OlderNameIsRenamed) {
  WriteFile(Dir() / "klx.fil", "/a/one.dat\n/b/two.hex\n");
  RecentFiles recent(Dir());
  const auto items = recent.BuildRecentMenu();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], (RecentMenuItem{1045, " 1 - /a/one.dat"}));
  EXPECT_EQ(items[1], (RecentMenuItem{1046, " 2 - /b/two.hex"}));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "klx.fil"));
  EXPECT_EQ(ReadFile(Dir() / "klxpath.fil"), "/a/one.dat\n/b/two.hex\n");
}

TEST_F(RecentFilesTest, OlderNameIsLeftWhenTheNewOneExists) {
  WriteFile(Dir() / "klx.fil", "/old.dat\n");
  WriteFile(Dir() / "klxpath.fil", "/new.dat\n");
  RecentFiles recent(Dir());
  ASSERT_TRUE(recent.Load());
  EXPECT_EQ(recent.Entries(), std::vector<std::string>{"/new.dat"});
  EXPECT_TRUE(std::filesystem::exists(Dir() / "klx.fil"));
}

TEST_F(RecentFilesTest, AddPutsThePathOnTopAndAnExistingOneMovesWithoutDuplicate) {
  RecentFiles recent(Dir());
  ASSERT_TRUE(recent.AddRecentFile(Name(1)));
  ASSERT_TRUE(recent.AddRecentFile(Name(2)));
  ASSERT_TRUE(recent.AddRecentFile(Name(3)));
  EXPECT_EQ(recent.Entries(), (std::vector<std::string>{Name(3), Name(2), Name(1)}));
  ASSERT_TRUE(recent.AddRecentFile(Name(1)));
  EXPECT_EQ(recent.Entries(), (std::vector<std::string>{Name(1), Name(3), Name(2)}));
  EXPECT_EQ(ReadFile(Dir() / "klxpath.fil"), Name(1) + "\n" + Name(3) + "\n" + Name(2) + "\n");
  ASSERT_TRUE(recent.AddRecentFile(Name(1)));
  EXPECT_EQ(recent.Entries().size(), 3u);
}

TEST_F(RecentFilesTest, TwentyFirstFilePushesTheOldestOut) {
  RecentFiles recent(Dir());
  for (int i = 1; i <= 20; ++i) ASSERT_TRUE(recent.AddRecentFile(Name(i)));
  EXPECT_EQ(recent.Entries().size(), 20u);
  EXPECT_EQ(recent.Entries().back(), Name(1));
  ASSERT_TRUE(recent.AddRecentFile(Name(21)));
  ASSERT_EQ(recent.Entries().size(), 20u);
  EXPECT_EQ(recent.Entries().front(), Name(21));
  EXPECT_EQ(recent.Entries().back(), Name(2));

  const auto items = recent.BuildRecentMenu();
  ASSERT_EQ(items.size(), 20u);
  EXPECT_EQ(items[0].commandId, 1045);
  EXPECT_EQ(items[0].text, " 1 - " + Name(21));
  EXPECT_EQ(items[9].text, "10 - " + Name(12));
  EXPECT_EQ(items[19].commandId, 1064);
  EXPECT_EQ(items[19].text, "20 - " + Name(2));
  EXPECT_EQ(recent.PathForCommand(1064), Name(2));
  EXPECT_EQ(recent.PathForCommand(1065), "");
  EXPECT_EQ(recent.PathForCommand(1044), "");
}

TEST_F(RecentFilesTest, AnEntryContainingThePathIsRemoved) {
  RecentFiles recent(Dir());
  ASSERT_TRUE(recent.AddRecentFile("/data/run/012345.dat"));
  ASSERT_TRUE(recent.AddRecentFile("/other.hex"));
  ASSERT_TRUE(recent.AddRecentFile("012345.dat"));
  EXPECT_EQ(recent.Entries(), (std::vector<std::string>{"012345.dat", "/other.hex"}));
}

TEST_F(RecentFilesTest, ReadsAtMostTwentyLinesAndSkipsBadOnes) {
  std::string text = "\n" + std::string(300, 'z') + "\n/ok.dat\r\n";
  for (int i = 0; i < 30; ++i) text += Name(i) + "\n";
  WriteFile(Dir() / "klxpath.fil", text);
  RecentFiles recent(Dir());
  ASSERT_TRUE(recent.Load());
  ASSERT_EQ(recent.Entries().size(), 20u);
  EXPECT_EQ(recent.Entries()[0], "/ok.dat");
  EXPECT_EQ(recent.Entries()[19], Name(18));
}

TEST_F(RecentFilesTest, BadPathsAreNotAdded) {
  RecentFiles recent(Dir());
  ASSERT_TRUE(recent.AddRecentFile(Name(1)));
  EXPECT_FALSE(recent.AddRecentFile(""));
  EXPECT_FALSE(recent.AddRecentFile(std::string(261, 'a')));
  EXPECT_FALSE(recent.AddRecentFile("two\nlines"));
  EXPECT_TRUE(recent.AddRecentFile(std::string(260, 'a')));
  EXPECT_EQ(recent.Entries().size(), 2u);
}

TEST_F(RecentFilesTest, ListIsSharedBetweenCopies) {
  RecentFiles first(Dir());
  RecentFiles second(Dir());
  ASSERT_TRUE(first.AddRecentFile(Name(1)));
  ASSERT_TRUE(second.AddRecentFile(Name(2)));
  EXPECT_EQ(second.Entries(), (std::vector<std::string>{Name(2), Name(1)}));
}

TEST_F(RecentFilesTest, RemoveTakesAPathOut) {
  RecentFiles recent(Dir());
  ASSERT_TRUE(recent.AddRecentFile(Name(1)));
  ASSERT_TRUE(recent.AddRecentFile(Name(2)));
  EXPECT_TRUE(recent.RemoveRecentFile(Name(1)));
  EXPECT_FALSE(recent.RemoveRecentFile(Name(7)));
  EXPECT_EQ(ReadFile(Dir() / "klxpath.fil"), Name(2) + "\n");
}

TEST_F(RecentFilesTest, UnwritableListIsNotWritten) {
  RecentFiles recent(Dir() / "missing");
  EXPECT_FALSE(recent.AddRecentFile(Name(1)));
}

}  // namespace
}  // namespace klx
