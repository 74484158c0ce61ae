#include "shell/directories.h"

#include <gtest/gtest.h>

#include "shell/messages.h"
#include "temp_dir.h"

namespace klx {
namespace {

using DirectoriesTest = test::TempDirTest;

TEST_F(DirectoriesTest, DefaultsAreCreatedAndTheFileIsWritten) {
  Directories dirs;
  EXPECT_EQ(ReadDirectories(Dir(), dirs), std::nullopt);
  EXPECT_EQ(dirs.dat, (Dir() / "dat").string());
  EXPECT_EQ(dirs.hex, (Dir() / "hex").string());
  EXPECT_EQ(dirs.mat, (Dir() / "mat").string());
  EXPECT_EQ(dirs.extraHex, (Dir() / "hex").string());
  for (const char* folder : {"dat", "hex", "mat"})
    EXPECT_TRUE(std::filesystem::is_directory(Dir() / folder)) << folder;
  EXPECT_EQ(ReadFile(Dir() / "klxdir.ini"),
            "DAT directory=" + (Dir() / "dat").string() + "\nHEX directory=" +
                (Dir() / "hex").string() + "\nMAT directory=" + (Dir() / "mat").string() + "\n");
}

TEST_F(DirectoriesTest, FileValuesOverrideTheDefaults) {
  WriteFile(Dir() / "klxdir.ini",
            "MAT directory=/data/mat files\r\njunk line\nDAT directory=/data/dat\n"
            "HEX directory=empty\n");
  Directories dirs;
  EXPECT_EQ(ReadDirectories(Dir(), dirs), std::nullopt);
  EXPECT_EQ(dirs.dat, "/data/dat");
  EXPECT_EQ(dirs.mat, "/data/mat files");
  EXPECT_EQ(dirs.hex, (Dir() / "hex").string());  // "empty" keeps the default
  // Rewritten in the order DAT, HEX, MAT.
  EXPECT_EQ(ReadFile(Dir() / "klxdir.ini"),
            "DAT directory=/data/dat\nHEX directory=" + (Dir() / "hex").string() +
                "\nMAT directory=/data/mat files\n");
}

TEST_F(DirectoriesTest, OverLongAndEmptyValuesAreIgnored) {
  WriteFile(Dir() / "klxdir.ini", "DAT directory=/" + std::string(300, 'a') + "\nHEX directory=\n");
  Directories dirs;
  EXPECT_EQ(ReadDirectories(Dir(), dirs), std::nullopt);
  EXPECT_EQ(dirs.dat, (Dir() / "dat").string());
  EXPECT_EQ(dirs.hex, (Dir() / "hex").string());
}

TEST_F(DirectoriesTest, DirectoriesAlreadySetAreKept) {
  Directories dirs;
  dirs.dat = "/somewhere/dat";
  EXPECT_EQ(ReadDirectories(Dir(), dirs), std::nullopt);
  EXPECT_EQ(dirs.dat, "/somewhere/dat");
  EXPECT_FALSE(std::filesystem::exists(Dir() / "dat"));
}

TEST_F(DirectoriesTest, CreationFailureGivesTheTableMessage) {
  WriteFile(Dir() / "dat", "a file where the folder should be");
  Directories dirs;
  const auto message = ReadDirectories(Dir(), dirs);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(*message, "Error: Unable to create the '" + Dir().string() +
                          "\\dat' directory\nCheck that your KLX directory is not write "
                          "protected.");
  EXPECT_FALSE(std::filesystem::exists(Dir() / "klxdir.ini"));
}

TEST_F(DirectoriesTest, HexAndMatCreationFailures) {
  WriteFile(Dir() / "mat", "x");
  Directories dirs;
  auto message = ReadDirectories(Dir(), dirs);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(*message, MessageText(Msg::CannotCreateMatDirectory));
  EXPECT_EQ(*message, "Error: Unable to create mat directory");

  std::filesystem::remove(Dir() / "mat");
  WriteFile(Dir() / "hex", "x");
  Directories again;
  message = ReadDirectories(Dir(), again);
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(*message, "Error: Unable to create the '" + Dir().string() +
                          "\\hex' directory\nCheck that your KLX directory is not write "
                          "protected.");
}

TEST_F(DirectoriesTest, MissingProgramDirectoryFails) {
  Directories dirs;
  EXPECT_TRUE(ReadDirectories(Dir() / "missing", dirs).has_value());
}

TEST_F(DirectoriesTest, WriteUsesEmptyForUnsetDirectories) {
  Directories dirs;
  dirs.dat = "/x";
  dirs.mat = "";
  ASSERT_TRUE(WriteDirectories(Dir(), dirs));
  EXPECT_EQ(ReadFile(Dir() / "klxdir.ini"),
            "DAT directory=/x\nHEX directory=empty\nMAT directory=empty\n");
  EXPECT_FALSE(WriteDirectories(Dir() / "missing", dirs));
}

TEST(DefaultDirectoryFor, FolderOfTheCurrentFileOrTheProgramFolder) {
  const std::filesystem::path program = "/opt/klx";
  EXPECT_EQ(DefaultDirectoryFor(DirectoryKind::Dat, "/data/run1/012345.dat", program),
            "/data/run1");
  EXPECT_EQ(DefaultDirectoryFor(DirectoryKind::Dat, "/data/run1/012345.hex", program),
            "/opt/klx/dat");
  EXPECT_EQ(DefaultDirectoryFor(DirectoryKind::Hex, "/data/run1/012345.hex", program),
            "/data/run1");
  EXPECT_EQ(DefaultDirectoryFor(DirectoryKind::Hex, "", program), "/opt/klx/hex");
  EXPECT_EQ(DefaultDirectoryFor(DirectoryKind::Dat, "012345.dat", program), "/opt/klx");
  EXPECT_EQ(DefaultDirectoryFor(DirectoryKind::Dat, "sub/012345.dat", program), "/opt/klx/sub");
}

}  // namespace
}  // namespace klx
