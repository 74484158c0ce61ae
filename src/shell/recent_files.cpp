#include "shell/recent_files.h"

#include <system_error>
#include <utility>

#include "shell/text_file.h"

namespace klx {

RecentFiles::RecentFiles(std::filesystem::path programDirectory)
    : directory_(std::move(programDirectory)) {}

std::filesystem::path RecentFiles::ListPath() const {
  return directory_ / "klxpath.fil";
}

std::filesystem::path RecentFiles::OlderListPath() const {
  return directory_ / "klx.fil";
}

bool RecentFiles::Load() {
  entries_.clear();
  std::error_code ec;
  if (!std::filesystem::exists(ListPath(), ec) && std::filesystem::exists(OlderListPath(), ec))
    std::filesystem::rename(OlderListPath(), ListPath(), ec);
  const auto lines = ReadTextLines(ListPath(), kMaxPathLength);
  if (!lines) return false;
  for (const TextLine& line : *lines) {
    if (entries_.size() == kMaxEntries) break;
    if (line.overLong || line.text.empty()) continue;
    entries_.push_back(line.text);
  }
  return true;
}

std::vector<RecentMenuItem> RecentFiles::BuildRecentMenu() {
  std::vector<RecentMenuItem> items;
  if (!Load()) return items;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    items.push_back({kFirstRecentFileCommand + static_cast<int>(i),
                     CFormat("%2d - %s", number, entries_[i].c_str())});
  }
  return items;
}

bool RecentFiles::RemoveContaining(const std::string& path) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (Contains(*it, path)) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

bool RecentFiles::AddRecentFile(const std::string& path) {
  if (path.empty() || path.size() > kMaxPathLength ||
      path.find_first_of("\r\n") != std::string::npos)
    return false;
  Load();
  RemoveContaining(path);
  entries_.insert(entries_.begin(), path);
  if (entries_.size() > kMaxEntries) entries_.resize(kMaxEntries);
  return Save();
}

bool RecentFiles::RemoveRecentFile(const std::string& path) {
  if (path.empty()) return false;
  Load();
  if (!RemoveContaining(path)) return false;
  return Save();
}

std::string RecentFiles::PathForCommand(int commandId) const {
  const int index = commandId - kFirstRecentFileCommand;
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return {};
  return entries_[static_cast<size_t>(index)];
}

bool RecentFiles::Save() const {
  std::string text;
  for (const std::string& entry : entries_) text += entry + "\n";
  return WriteTextFileAtomically(ListPath(), text);
}

}  // namespace klx
