// The program's own list files: the recent files and the data directories.
#include "shell/directories.h"
#include "shell/recent_files.h"

#include <gtest/gtest.h>

#include <tuple>

#include "temp_dir.h"

namespace klx {
namespace {

using DirectoriesTest = test::TempDirTest;
using RecentFilesTest = test::TempDirTest;
using Paths = std::vector<std::string>;

std::string Name(int i) { return "/data/file" + std::to_string(i) + ".hex"; }

TEST_F(RecentFilesTest, ListFileAndItsOlderName) {
  EXPECT_FALSE(RecentFiles(Dir()).Load());

  // The older name is renamed...
  WriteFile(Dir() / "klx.fil", "/a/one.dat\n/b/two.hex\n");
  RecentFiles recent(Dir());
  ASSERT_TRUE(recent.Load());
  EXPECT_FALSE(std::filesystem::exists(Dir() / "klx.fil"));
  EXPECT_EQ(ReadFile(Dir() / "klxpath.fil"), "/a/one.dat\n/b/two.hex\n");
  // ...unless the new one exists.
  WriteFile(Dir() / "klx.fil", "/old.dat\n");
  WriteFile(Dir() / "klxpath.fil", "/new.dat\n");
  ASSERT_TRUE(recent.Load());
  EXPECT_EQ(recent.Entries(), Paths{"/new.dat"});
  EXPECT_TRUE(std::filesystem::exists(Dir() / "klx.fil"));
}

TEST_F(RecentFilesTest, NewestOnTopWithoutDuplicatesTwentyAtMost) {
  RecentFiles recent(Dir());
  for (int i : {1, 2, 3, 1, 1}) ASSERT_TRUE(recent.AddRecentFile(Name(i)));
  EXPECT_EQ(recent.Entries(), (Paths{Name(1), Name(3), Name(2)}));
  // The list is shared between copies of the program.
  RecentFiles other(Dir());
  for (int i = 4; i <= 21; ++i) ASSERT_TRUE(other.AddRecentFile(Name(i)));
  const Paths& e = other.Entries();  // the 21st, Name(2), dropped out
  EXPECT_EQ(std::make_tuple(e.size(), e.front(), e.back()),
            std::make_tuple(20u, Name(21), Name(3)));
  EXPECT_EQ(other.BuildRecentMenu().at(19), (RecentMenuItem{1064, "20 - " + Name(3)}));
}

TEST_F(RecentFilesTest, BadLinesAndBadPaths) {
  std::string text = "\n" + std::string(300, 'z') + "\n/ok.dat\r\n";
  for (int i = 0; i < 30; ++i) text += Name(i) + "\n";
  WriteFile(Dir() / "klxpath.fil", text);
  RecentFiles recent(Dir());
  ASSERT_TRUE(recent.Load());
  const Paths& e = recent.Entries();
  EXPECT_EQ(std::make_tuple(e.size(), e.front(), e.back()),
            std::make_tuple(20u, "/ok.dat", Name(18)));

  std::filesystem::create_directory(Dir() / "fresh");
  RecentFiles fresh(Dir() / "fresh");
  ASSERT_TRUE(fresh.AddRecentFile("/data/run/012345.dat"));
  ASSERT_TRUE(fresh.AddRecentFile("012345.dat"));  // an entry containing the path goes
  EXPECT_EQ(fresh.Entries(), (Paths{"012345.dat"}));
  EXPECT_FALSE(fresh.AddRecentFile(std::string(261, 'a')) || fresh.AddRecentFile("two\nlines"));
  EXPECT_TRUE(fresh.AddRecentFile(std::string(260, 'a')));
  EXPECT_FALSE(RecentFiles(Dir() / "missing").AddRecentFile(Name(1)));
}


TEST_F(DirectoriesTest, DefaultsAreCreatedUnlessAlreadySet) {
  const std::string dat = (Dir() / "dat").string(), hex = (Dir() / "hex").string(),
                    mat = (Dir() / "mat").string();
  Directories dirs;
  EXPECT_EQ(ReadDirectories(Dir(), dirs), std::nullopt);
  EXPECT_EQ(dirs.extraHex, hex);
  for (const auto& folder : {dat, hex, mat}) EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(ReadFile(Dir() / "klxdir.ini"),
            "DAT directory=" + dat + "\nHEX directory=" + hex + "\nMAT directory=" + mat + "\n");
  std::filesystem::remove_all(Dir());
  std::filesystem::create_directory(Dir());
  Directories set;  // one already set is kept and not created
  set.dat = "/somewhere/dat";
  EXPECT_EQ(ReadDirectories(Dir(), set), std::nullopt);
  EXPECT_TRUE(set.dat == "/somewhere/dat" && !std::filesystem::exists(Dir() / "dat"));
}

TEST_F(DirectoriesTest, FileValuesOverrideTheDefaultsAndAreWrittenBack) {
  WriteFile(Dir() / "klxdir.ini",
            "MAT directory=/data/mat files\r\r\njunk line\nDAT directory=/data/dat\r\r\r\n"
            "HEX directory=empty\n");
  Directories dirs;
  EXPECT_EQ(ReadDirectories(Dir(), dirs), std::nullopt);
  // Rewritten in the order DAT, HEX, MAT; "empty" keeps the default.
  EXPECT_EQ(ReadFile(Dir() / "klxdir.ini"),
            "DAT directory=/data/dat\nHEX directory=" + (Dir() / "hex").string() +
                "\nMAT directory=/data/mat files\n");
  // An over-long value is ignored; unset directories are written as "empty".
  WriteFile(Dir() / "klxdir.ini", "DAT directory=/" + std::string(300, 'a') + "\n");
  Directories again;
  EXPECT_EQ(ReadDirectories(Dir(), again), std::nullopt);
  again.hex = again.mat = "";
  ASSERT_TRUE(WriteDirectories(Dir(), again));
  EXPECT_EQ(ReadFile(Dir() / "klxdir.ini"), "DAT directory=" + (Dir() / "dat").string() +
                                                "\nHEX directory=empty\nMAT directory=empty\n");
}

TEST_F(DirectoriesTest, CreationFailuresGiveTheirMessages) {
  const std::pair<const char*, std::string> cases[] = {
      {"hex", "Error: Unable to create the '" + Dir().string() +
                  "\\hex' directory\nCheck that your KLX directory is not write protected."},
      {"mat", "Error: Unable to create mat directory"}};
  for (const auto& [folder, message] : cases) {
    WriteFile(Dir() / folder, "a file where the folder should be");
    Directories dirs;
    EXPECT_EQ(ReadDirectories(Dir(), dirs), message) << folder;
    EXPECT_FALSE(std::filesystem::exists(Dir() / "klxdir.ini"));
    std::filesystem::remove_all(Dir());
    std::filesystem::create_directory(Dir());
  }
}

}  // namespace
}  // namespace klx
