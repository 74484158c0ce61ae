#include "desktop/copy_limit.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QMessageBox>

#include "shell/settings.h"
#include "shell/status.h"
#include "desktop/qt_host.h"

namespace klx::ui {

std::optional<CopySlot> CopySlot::Acquire(const std::filesystem::path& directory) {
  for (int index = 0; index < kMaxCopies; ++index) {
    const std::filesystem::path file = directory / Format("klx_copy_%d.lock", index + 1);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return CopySlot(fd, index);
    ::close(fd);
  }
  return std::nullopt;
}

CopySlot::CopySlot(CopySlot&& other) noexcept : fd_(other.fd_), index_(other.index_) {
  other.fd_ = -1;
}

CopySlot& CopySlot::operator=(CopySlot&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    index_ = other.index_;
    other.fd_ = -1;
  }
  return *this;
}

CopySlot::~CopySlot() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor drops the lock
}

std::optional<CopySlot> StartCopy(const std::filesystem::path& directory, Host& host) {
  std::optional<CopySlot> slot = CopySlot::Acquire(directory);
  if (!slot) {
    host.Tell("Multiple copies",
              "8 copies of KLX Windows Software are now running.\nThis is the limit allowed.\n\n"
              "This attempt to run another copy will terminate.",
              BoxIcon::Warning);
    return std::nullopt;
  }
  if (slot->Index() == 0) return slot;
  Settings copies(directory);
  copies.ReadCopiesFile();
  if (!copies.allowMultipleCopies) return std::nullopt;
  const std::string question = Format(
      "You are trying to open copy number %d of the KLX Windows Software.\nDo you want to "
      "continue?",
      slot->Index() + 1);
  if (host.Ask("KLX Windows Software - Multiple copy", question, Buttons::YesNo, BoxIcon::Question,
               Answer::No) != Answer::Yes)
    return std::nullopt;
  return slot;
}

namespace {

class MessageBoxHost : public Host {
 public:
  void SetStatusText(int, const std::string&) override {}
  void SetStatusIcon(StatusIcon) override {}
  void SetCommandEnabled(int, bool) override {}
  void Tell(const std::string& caption, const std::string& text, BoxIcon icon) override {
    QMessageBox box(icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::Information,
                    FromLatin1(caption), FromLatin1(text), QMessageBox::Ok);
    box.exec();
  }
  Answer Ask(const std::string& caption, const std::string& text, Buttons, BoxIcon,
             Answer defaultAnswer) override {
    QMessageBox box(QMessageBox::Question, FromLatin1(caption), FromLatin1(text),
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(defaultAnswer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
  }
};

}  // namespace

Host& StartupHost() {
  static MessageBoxHost host;  // stateless
  return host;
}

}  // namespace klx::ui
