#pragma once
// The recent-files list "klxpath.fil" (older name "klx.fil") and its menu.
#include <filesystem>
#include <string>
#include <vector>

namespace klx {

struct RecentMenuItem {
  int commandId;     // kFirstRecentFileCommand + index
  std::string text;  // "%2d - %s", numbered from 1

  friend bool operator==(const RecentMenuItem&, const RecentMenuItem&) = default;
};

class RecentFiles {
 public:
  static constexpr size_t kMaxEntries = 20;
  static constexpr size_t kMaxPathLength = 260;
  static constexpr int kFirstRecentFileCommand = 1045;

  explicit RecentFiles(std::filesystem::path programDirectory);

  // dir/"klxpath.fil" and the older dir/"klx.fil".
  std::filesystem::path ListPath() const;
  std::filesystem::path OlderListPath() const;

  // Reads the list: "klxpath.fil", or "klx.fil" renamed to "klxpath.fil" when only it exists.
  // Up to 20 lines, each a path without its line end; empty lines and lines longer than 260
  // characters are skipped. False (and an empty list) when neither file exists.
  bool Load();

  // BuildRecentMenu: loads the list and gives the menu items, "%2d - %s" with the command ids
  // 1045 + index. Empty when neither file exists (then no menu is built).
  std::vector<RecentMenuItem> BuildRecentMenu();

  // Puts the path on top of the list: the first entry that contains the path is removed first,
  // the others move down and the 21st drops out; then the list file is rewritten. The list is
  // reloaded first, since other copies of the program share it. An empty path, one longer than
  // 260 characters or one with a line end is not added. The result tells whether the file was
  // written.
  bool AddRecentFile(const std::string& path);

  // Takes the first entry that contains the path out of the list and rewrites the file (a file
  // that no longer exists leaves the list when a read finds it gone).
  bool RemoveRecentFile(const std::string& path);

  const std::vector<std::string>& Entries() const { return entries_; }
  // The path of a recent-file command id, or an empty text for an id outside the list.
  std::string PathForCommand(int commandId) const;

 private:
  bool Save() const;
  bool RemoveContaining(const std::string& path);

  std::filesystem::path directory_;
  std::vector<std::string> entries_;
};

}  // namespace klx
