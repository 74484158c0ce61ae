#pragma once
// The directory file "klxdir.ini": the remembered dat, hex and mat folders, and the
// folder a file dialog opens in.
#include <filesystem>
#include <optional>
#include <string>

namespace klx {

// The stored value of a directory that is not set.
inline constexpr const char* kEmptyDirectory = "empty";
// The caption of the message box that shows a directory creation failure.
inline constexpr const char* kStartupCaption = "Startup";

struct Directories {
  std::string dat = kEmptyDirectory;
  std::string hex = kEmptyDirectory;
  std::string mat = kEmptyDirectory;
  std::string extraHex = kEmptyDirectory;  // the extra hex copy of saved data

  friend bool operator==(const Directories&, const Directories&) = default;
};

// dir/"klxdir.ini".
std::filesystem::path DirectoryFilePath(const std::filesystem::path& programDirectory);

// Gives each directory still "empty" its default (dir/"dat", dir/"mat", dir/"hex", and dir/"hex"
// for the extra hex copy) and creates that folder; reads the directory file (lines of up to 260
// characters; "DAT directory=", "MAT directory=", "HEX directory="); rewrites the file.
// When a folder cannot be created for any reason other than that it exists, nothing more is
// done and the result is the message of the message table, formatted with the program
// directory; the caller shows it (caption kStartupCaption, stop icon) and runs the exit
// procedure. nullopt on success.
// A line whose value is empty or "empty" leaves the default in place, and
// a line longer than 260 characters is ignored (its path would be cut).
std::optional<std::string> ReadDirectories(const std::filesystem::path& programDirectory,
                                           Directories& directories);

// Rewrites the directory file with the three lines "DAT directory=%s", "HEX directory=%s",
// "MAT directory=%s" ("empty" for an unset one). False when it cannot be written.
bool WriteDirectories(const std::filesystem::path& programDirectory,
                      const Directories& directories);

// A remembered folder (a field of Directories), or dir/`sub` while it is not set.
std::filesystem::path FolderOrDefault(const std::string& remembered,
                                      const std::filesystem::path& programDirectory,
                                      const char* sub);

enum class DirectoryKind { Dat, Hex };

// The folder a file dialog opens in: the folder of the current file when its name contains
// ".dat" (".hex"), else the program directory's "dat" ("hex") folder. A current file without a
// folder, or with a relative one, is taken under the program directory.
std::filesystem::path DefaultDirectoryFor(DirectoryKind kind, const std::string& currentFile,
                                          const std::filesystem::path& programDirectory);

}  // namespace klx
