#include "shell/directories.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace klx {
namespace {

using DirectoriesTest = test::TempDirTest;

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

TEST(DefaultDirectoryFor, FolderOfTheCurrentFileOrTheProgramFolder) {
  const struct { DirectoryKind kind; const char* current; const char* expected; } cases[] = {
      {DirectoryKind::Dat, "/data/run1/012345.hex", "/opt/klx/dat"},
               {DirectoryKind::Hex, "/data/run1/012345.hex", "/data/run1"},
               {DirectoryKind::Dat, "012345.dat", "/opt/klx"},
               {DirectoryKind::Dat, "sub/012345.dat", "/opt/klx/sub"}};
  for (const auto& c : cases)
    EXPECT_EQ(DefaultDirectoryFor(c.kind, c.current, "/opt/klx"), c.expected) << c.current;
}

}  // namespace
}  // namespace klx
