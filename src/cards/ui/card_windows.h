#pragma once
// The accessory-card windows: the "Meta table handler", the "MMC/SD Memory" window and the
// "Modem settings" dialog, and the four menu commands that open them. Each window drives its
// core object from a one-second timer, so the window stays responsive while a card works.
#include <QDialog>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "cards/generic_card.h"
#include "cards/mmc_card.h"
#include "cards/modem.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace klx {
class Session;
class Host;

namespace ui {

class MetaTableWindow : public QDialog {
  Q_OBJECT
 public:
  // `metaFolder`: where the file dialogs open ("meta" under the data folder).
  MetaTableWindow(LoggerLink& logger, Clock& clock, Host& host, std::filesystem::path metaFolder,
                  QWidget* parent = nullptr);

  MetaTableHandler& Handler() { return handler_; }
  QListWidget* List() const { return list_; }
  QPushButton* Button(const char* text) const;
  QComboBox* ChannelList() const { return channels_; }
  QComboBox* FetchList() const { return fetchChannels_; }
  QTimer& Timer() { return timer_; }

  void SetTable();
  void GetTable();
  void SaveTable();
  void Configure();
  void GetData();
  void Abort();

 private:
  void Started(bool started);
  void Tick();
  void Refresh();

  MetaTableHandler handler_;
  Host& host_;
  std::filesystem::path metaFolder_;
  QListWidget* list_ = nullptr;
  QComboBox* channels_ = nullptr;
  QComboBox* fetchChannels_ = nullptr;
  QTimer timer_;
};

class MmcSdWindow : public QDialog {
  Q_OBJECT
 public:
  MmcSdWindow(LoggerLink& logger, Clock& clock, QWidget* parent = nullptr);

  MmcSdCard& Card() { return card_; }
  QListWidget* List() const { return list_; }
  QLineEdit* FileNumber() const { return fileNumber_; }
  QPushButton* RefreshButton() const { return refresh_; }
  QTimer& Timer() { return timer_; }

  void Refresh();
  void GetContents();

 private:
  void Tick();
  void Show();

  MmcSdCard card_;
  QListWidget* list_ = nullptr;
  QLineEdit* fileNumber_ = nullptr;
  QPushButton* refresh_ = nullptr;
  QTimer timer_;
};

class ModemDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ModemDialog(const ModemConfiguration& config, QWidget* parent = nullptr);
  // The fields as entered; nullopt (with `error`) when they do not make a table.
  std::optional<ModemConfiguration> Entered(std::string& error) const;
  QLineEdit* Field(int i) const { return fields_[static_cast<size_t>(i)]; }

 private:
  std::array<QLineEdit*, 4> fields_{};
};

// The menu commands.
void RunMetaTableCommand(QWidget* parent, Session& session, Host& host);
void RunMmcSdCommand(QWidget* parent, Session& session, Host& host);
void RunSetModemCommand(QWidget* parent, Session& session, Host& host);
void RunModemSleepCommand(Session& session);

}  // namespace ui
}  // namespace klx
