#include "cards/ui/card_windows.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "session/session.h"
#include "shell/status.h"

namespace klx::ui {
namespace {

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Makes the list show `lines`, touching only what changed, and keeps the last line in view.
void ShowLines(QListWidget* list, const std::vector<std::string>& lines) {
  if (static_cast<size_t>(list->count()) > lines.size()) list->clear();
  for (size_t i = 0; i < lines.size(); ++i) {
    const QString text = Latin1(lines[i]);
    if (static_cast<int>(i) < list->count()) {
      if (list->item(static_cast<int>(i))->text() != text) list->item(static_cast<int>(i))->setText(text);
    } else {
      list->addItem(text);
    }
  }
  list->scrollToBottom();
}

QListWidget* MakeList(QWidget* parent) {
  auto* list = new QListWidget(parent);
  // Long lines scroll sideways rather than being cut.
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list->setMinimumSize(520, 260);
  return list;
}

}  // namespace

MetaTableWindow::MetaTableWindow(LoggerLink& logger, Clock& clock, Host& host,
                                 std::filesystem::path metaFolder, QWidget* parent)
    : QDialog(parent), handler_(logger, clock, host), host_(host),
      metaFolder_(std::move(metaFolder)) {
  setWindowTitle("Meta table handler");
  auto* top = new QHBoxLayout(this);
  auto* side = new QVBoxLayout;
  side->addWidget(new QLabel("Channel number:", this));
  channels_ = new QComboBox(this);
  const std::vector<int> generic = handler_.Channels();
  if (generic.empty()) channels_->addItem("No generic card");
  for (int ch : generic) channels_->addItem(QString::number(ch), ch);
  side->addWidget(channels_);
  auto add = [&](const char* text, void (MetaTableWindow::*slot)()) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(text);
    connect(b, &QPushButton::clicked, this, slot);
    side->addWidget(b);
    return b;
  };
  add("Set table for sensor", &MetaTableWindow::SetTable)->setEnabled(!generic.empty());
  add("Get table from sensor", &MetaTableWindow::GetTable)->setEnabled(!generic.empty());
  add("Save table to file", &MetaTableWindow::SaveTable)->setEnabled(false);
  add("Configure sensor", &MetaTableWindow::Configure);
  add("Get data from sensor:", &MetaTableWindow::GetData);
  fetchChannels_ = new QComboBox(this);
  fetchChannels_->addItem("All", 0);
  for (int ch = 1; ch <= logger.state.channelCount; ++ch)
    fetchChannels_->addItem(QString::number(ch), ch);
  side->addWidget(fetchChannels_);
  add("Abort table communication", &MetaTableWindow::Abort)->setEnabled(false);
  auto* clear = new QPushButton("Clear Box", this);
  clear->setObjectName("Clear Box");
  connect(clear, &QPushButton::clicked, this, [this] {
    handler_.Clear();
    list_->clear();
  });
  side->addWidget(clear);
  auto* close = new QPushButton("Close", this);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  side->addWidget(close);
  side->addStretch();
  top->addLayout(side);
  list_ = MakeList(this);
  top->addWidget(list_, 1);

  timer_.setInterval(MetaTableHandler::kTickMs);
  connect(&timer_, &QTimer::timeout, this, &MetaTableWindow::Tick);
  // Closing the window stops the timer.
  connect(this, &QDialog::finished, &timer_, &QTimer::stop);
}

QPushButton* MetaTableWindow::Button(const char* text) const {
  return findChild<QPushButton*>(text);
}

void MetaTableWindow::Started(bool started) {
  Refresh();
  if (started && handler_.Busy()) timer_.start();
}

void MetaTableWindow::Tick() {
  handler_.Tick();
  if (!handler_.Busy()) timer_.stop();
  Refresh();
}

void MetaTableWindow::Refresh() {
  ShowLines(list_, handler_.Lines());
  Button("Save table to file")->setEnabled(handler_.saveEnabled);
  Button("Abort table communication")->setEnabled(handler_.abortEnabled);
  // A chain in progress keeps the channel it was started on.
  if (!handler_.Busy() && channels_->currentData().isValid())
    handler_.channel = channels_->currentData().toInt();
}

void MetaTableWindow::SetTable() {
  Refresh();
  FileChoice choice;
  choice.title = "Select a meta table file to be loaded";
  choice.initialDirectory = metaFolder_.string();
  choice.filter = "Meta table files (*.txt)";
  const std::optional<std::string> file = host_.ChooseFile(choice);
  if (!file) return;
  Started(handler_.SetTable(*file));
}

void MetaTableWindow::GetTable() {
  Refresh();
  Started(handler_.GetTable());
}

void MetaTableWindow::SaveTable() {
  FileChoice choice;
  choice.save = true;
  choice.title = "Select a 'txt' file for storing the meta table";
  choice.initialDirectory = metaFolder_.string();
  choice.filter = "Meta table files (*.txt)";
  const std::optional<std::string> file = host_.ChooseFile(choice);
  if (file) handler_.SaveTable(*file);
}

void MetaTableWindow::Configure() {
  Refresh();
  Started(handler_.Configure());
}

void MetaTableWindow::GetData() {
  Started(handler_.GetData(fetchChannels_->currentData().toInt()));
}

void MetaTableWindow::Abort() {
  timer_.stop();
  handler_.Abort();
  Refresh();
}

MmcSdWindow::MmcSdWindow(LoggerLink& logger, Clock& clock, QWidget* parent)
    : QDialog(parent), card_(logger, clock) {
  setWindowTitle("MMC/SD Memory");
  auto* top = new QVBoxLayout(this);
  list_ = MakeList(this);
  top->addWidget(list_, 1);
  auto* row = new QHBoxLayout;
  refresh_ = new QPushButton("Refresh", this);
  connect(refresh_, &QPushButton::clicked, this, &MmcSdWindow::Refresh);
  row->addWidget(refresh_);
  auto* get = new QPushButton("Get contents of:", this);
  connect(get, &QPushButton::clicked, this, &MmcSdWindow::GetContents);
  row->addWidget(get);
  fileNumber_ = new QLineEdit(this);
  fileNumber_->setMaxLength(9);
  row->addWidget(fileNumber_);
  auto* clear = new QPushButton("Clear Box", this);
  connect(clear, &QPushButton::clicked, this, [this] {
    card_.Clear();
    list_->clear();
  });
  row->addWidget(clear);
  auto* close = new QPushButton("Close", this);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  row->addWidget(close);
  top->addLayout(row);
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &MmcSdWindow::Tick);
  connect(this, &QDialog::finished, &timer_, &QTimer::stop);
}

void MmcSdWindow::Refresh() {
  card_.Refresh();
  Show();
  if (card_.Busy()) timer_.start();
}

void MmcSdWindow::Tick() {
  card_.Tick();
  if (!card_.Busy()) timer_.stop();
  Show();
}

void MmcSdWindow::Show() {
  ShowLines(list_, card_.Lines());
  refresh_->setEnabled(card_.refreshEnabled);
  if (!card_.Busy() && card_.ok) fileNumber_->setText(Latin1(card_.fileNumberField));
}

void MmcSdWindow::GetContents() {
  if (card_.Busy()) return;
  bool ok = false;
  const qlonglong number = fileNumber_->text().trimmed().toLongLong(&ok);
  card_.FileContents(ok ? number : -1);
  Show();
}

ModemDialog::ModemDialog(const ModemConfiguration& config, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Modem settings");
  auto* form = new QFormLayout;
  const char* labels[] = {"Front porch (ms)", "Back porch (ms)", "Active level",
                          "Inactive level"};
  const unsigned values[] = {config.FrontPorchMs(), config.BackPorchMs(), config.activeLevel,
                             config.inactiveLevel};
  for (size_t i = 0; i < fields_.size(); ++i) {
    fields_[i] = new QLineEdit(QString::number(values[i]), this);
    form->addRow(labels[i], fields_[i]);
  }
  auto* top = new QVBoxLayout(this);
  top->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  top->addWidget(buttons);
}

std::optional<ModemConfiguration> ModemDialog::Entered(std::string& error) const {
  auto text = [&](int i) { return Field(i)->text().toStdString(); };
  return ModemFromFields(text(0), text(1), text(2), text(3), error);
}

void RunMetaTableCommand(QWidget* parent, Session& session, Host& host) {
  LoggerLink& logger = session.logger;
  if (!logger.ConnectCommand()) return;
  if (!MetaTableAccessAllowed(logger)) return;
  const std::filesystem::path folder = session.settings.ProgramDirectory() / "meta";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  MetaTableWindow window(logger, session.clock, host, folder, parent);
  window.exec();
}

void RunMmcSdCommand(QWidget* parent, Session& session, Host& host) {
  (void)host;
  LoggerLink& logger = session.logger;
  if (!logger.ConnectCommand()) return;
  logger.AssessCapabilities();
  logger.CommGet(16);
  if (!MmcSdSupported(logger) || !MmcSdAccessAllowed(logger)) return;
  MmcSdWindow window(logger, session.clock, parent);
  window.Refresh();
  window.exec();
}

void RunSetModemCommand(QWidget* parent, Session& session, Host& host) {
  LoggerLink& logger = session.logger;
  if (!logger.ConnectCommand()) return;
  ModemConfiguration config;
  if (!OpenModemSettings(logger, config)) return;
  ModemDialog dialog(config, parent);
  while (dialog.exec() == QDialog::Accepted) {
    std::string error;
    if (const auto entered = dialog.Entered(error)) {
      WriteModemSettings(logger, *entered);
      return;
    }
    host.Tell("Modem settings", error, BoxIcon::Warning);
  }
}

void RunModemSleepCommand(Session& session) {
  ModemSleep(session.logger);
}

}  // namespace klx::ui
