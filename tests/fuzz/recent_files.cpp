// The recent-files list: any content loads, builds its menu, and a path added afterwards is on
// top of a list of at most 20 entries.
#include "shell/recent_files.h"

#include <cstdlib>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace klx;
  RecentFiles recent(fuzz::WorkDir());
  std::filesystem::remove(recent.OlderListPath());
  fuzz::WriteBytes(recent.ListPath(), data, size);
  const auto menu = recent.BuildRecentMenu();
  if (menu.size() > RecentFiles::kMaxEntries) std::abort();
  for (const auto& item : menu)
    if (recent.PathForCommand(item.commandId).empty()) std::abort();
  const std::string added = (fuzz::WorkDir() / "added.hex").string();
  if (!recent.AddRecentFile(added)) std::abort();
  RecentFiles reread(fuzz::WorkDir());
  if (!reread.Load() || reread.Entries().empty() || reread.Entries().front() != added ||
      reread.Entries().size() > RecentFiles::kMaxEntries)
    std::abort();
  return 0;
}
