#pragma once
// The limit on running copies. Each running copy holds an flock'ed slot file in the program
// directory ("klx_copy_<n>.lock"); the lowest slot that no other copy holds is this copy's index
// (0 for the first copy). A lock dies with its process, so a crashed copy frees its slot.
#include <filesystem>
#include <optional>

#include "platform/host.h"

namespace klx::ui {

constexpr int kMaxCopies = 8;

// One slot held by this copy; released when destroyed.
class CopySlot {
 public:
  // The lowest free slot of `directory`; nullopt when all kMaxCopies are taken (or the slot
  // files cannot be made at all).
  static std::optional<CopySlot> Acquire(const std::filesystem::path& directory);

  CopySlot(CopySlot&& other) noexcept;
  CopySlot& operator=(CopySlot&& other) noexcept;
  CopySlot(const CopySlot&) = delete;
  CopySlot& operator=(const CopySlot&) = delete;
  ~CopySlot();

  // 0 for the first copy.
  int Index() const { return index_; }

 private:
  CopySlot(int fd, int index) : fd_(fd), index_(index) {}
  int fd_ = -1;
  int index_ = 0;
};

// The start of a copy: takes a slot and, for a secondary copy, checks the multiple-copies file
// and asks whether to go on. nullopt: this copy must end (the limit message has been shown when
// all slots were taken; a missing or negative copies file ends it silently).
std::optional<CopySlot> StartCopy(const std::filesystem::path& directory, Host& host);

// A host for the questions asked before the main window exists: plain message boxes.
Host& StartupHost();

}  // namespace klx::ui
