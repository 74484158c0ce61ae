#include "realtime/ui/live_readings_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "calibration/read.h"
#include "decoding/channel_types.h"
#include "decoding/equations.h"
#include "decoding/instant_reading.h"
#include "deployment/range_switching.h"
#include "deployment/status.h"
#include "deployment/ui/range_switching_dialog.h"
#include "display/graph_view.h"
#include "link/logger_link.h"
#include "session/session.h"
#include "shell/messages.h"
#include "shell/status.h"

namespace klx::ui {

namespace {

constexpr const char* kTitle = "KLX Logger - Live Readings";

QString L1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The last word of the text that reads whole as a number.
std::optional<double> LastNumber(std::string_view text) {
  size_t end = text.size();
  while (end > 0) {
    while (end > 0 && Blank(text[end - 1])) --end;
    size_t begin = end;
    while (begin > 0 && !Blank(text[begin - 1])) --begin;
    if (begin == end) break;
    const std::string word(text.substr(begin, end - begin));
    char* stop = nullptr;
    const double value = std::strtod(word.c_str(), &stop);
    if (stop == word.c_str() + word.size() && std::isfinite(value)) return value;
    end = begin;
  }
  return std::nullopt;
}

bool EngineeringOutput(const LoggerState& s) {
  return s.engineeringUnitsLevel >= 1 && s.OutputsEngineeringUnits();
}

// The channel's unit as the graph labels it.
std::string UnitText(const Session& session, const DataSet& context, int channel) {
  UnitTextContext c;
  c.model = context.logger.model;
  c.standardChannels = context.logger.standardChannels;
  c.doUnitUMol = session.settings.derived.doUnitUMol;
  c.doUnitMgPerL = session.settings.derived.doUnitMgPerL;
  c.doUnitMlPerL = session.settings.derived.doUnitMlPerL;
  return ScaleUnitText(static_cast<int>(UnitOfChannel(context, channel)), c);
}

int ChannelCountOf(const LoggerState& s) {
  return std::clamp(s.channelCount, 1, LoggerState::kMaxChannels);
}

// What the command does before either window opens; false when it was refused.
bool PrepareFetch(Session& session, Host& host, bool refuseLogging) {
  LoggerLink& link = session.logger;
  if (!link.ConnectCommand()) return false;
  if (refuseLogging && link.CommGet(9) == 1 && !StatusIsIdle(link.status.code)) {
    const int code = link.status.code;
    // A VS-550 waiting for its start holds its sensors for the deployment.
    if (link.state.IsVS() && link.state.ModelHas("550") && (code == 1 || code == 3))
      host.Tell("Fetch Live Readings", "Unable to perform fetch while VS-550 logger is enabled",
                BoxIcon::Warning);
    else
      host.Tell(MessageText(Msg::FetchCaption), MessageText(Msg::LoggingCannotFetch),
                BoxIcon::Warning);
    return false;
  }
  link.AssessCapabilities();
  link.CommGet(16);
  link.CommGet(28);  // the output format (engineering units or counts)
  ReadCalibration(link, session.calibration);
  return true;
}

}  // namespace

std::optional<double> SingleChannelReading(std::string_view reply, const DataSet& context,
                                           int channel, bool engineering) {
  if (engineering) {
    const size_t fet = reply.find("FET");
    if (fet == std::string_view::npos) return std::nullopt;
    return LastNumber(reply.substr(0, fet));
  }
  // Six hexadecimal digits, most significant first, before the line end.
  size_t at = 0;
  while (at < reply.size() && Blank(reply[at])) ++at;
  if (reply.size() < at + 6) return std::nullopt;
  int32_t raw = 0;
  for (size_t i = at; i < at + 6; ++i) {
    const int digit = HexDigit(reply[i]);
    if (digit < 0) return std::nullopt;
    raw = (raw << 4) | digit;
  }
  const int32_t corrected = ApplyExtendedRange(context, channel, raw);
  const double value = ChannelValue(context, corrected, channel);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

FetchCycle::Event FetchCycle::Step() {
  if (!waiting_) {
    logger_.realtimeMessage.clear();
    channel_ = logger_.fetchAll ? 0 : logger_.fetchChannel;
    logger_.CommGet(39);
    if (!logger_.realtimeMessage.empty()) return Event::NoConnection;
    waiting_ = true;
    elapsed_ = 0;
    maximum_ = std::max(1, logger_.realtimeProgressMax);
    return Event::Asked;
  }
  ++elapsed_;
  if (logger_.CommGet(40) == 1) {
    waiting_ = false;
    // "Busy" is the one complete answer that leaves nothing collected.
    if (logger_.realtimeCollected == 0) return Event::Busy;
    reply_.assign(reinterpret_cast<const char*>(logger_.ReplyBytes()),
                  static_cast<size_t>(std::max(0, logger_.ReplyLength())));
    return Event::Reading;
  }
  if (elapsed_ > maximum_) {
    waiting_ = false;
    return Event::NoAnswer;
  }
  return Event::Waiting;
}

const char* FetchFailureText(FetchCycle::Event event) {
  switch (event) {
    case FetchCycle::Event::Busy:
      return "Logger busy";
    case FetchCycle::Event::NoConnection:
      return "Communication Error";
    case FetchCycle::Event::NoAnswer:
      return "COMM ERR";
    default:
      return "";
  }
}

DataSet LiveReadingContext(Session& session) {
  DataSet context;
  context.logger = session.logger.state;
  context.calibration = session.calibration;
  context.channelCount = ChannelCountOf(session.logger.state);
  ReadExtendedRanges(session.logger, context.extendedCapabilities);
  return context;
}

// ---------------------------------------------------------------------------------------------

LiveReadingsDialog::LiveReadingsDialog(Session& session, Host& host, QWidget* parent)
    : QDialog(parent), session_(session), host_(host), logger_(session.logger), cycle_(logger_) {
  setWindowTitle(kTitle);
  ShowStatus(host_, "Fetch live readings");
  logger_.ConnectLogger();
  LoggerState& s = logger_.state;
  DeploymentParameters& p = logger_.deployment();
  engineering_ = EngineeringOutput(s);
  channelChoice_ = s.IsVS() || s.extendedCommandSet;
  // Older loggers could still be averaging from a deployment; a live reading is one sample.
  if (!s.extendedCommandSet) {
    p.averagingEnabled = false;
    logger_.CommSet(17);
  }
  int rateHz = 0;
  if (s.averaging == 2) {
    logger_.CommGet(17);
    rateHz = 6;
    if (s.highSamplingRates) rateHz = s.waves && logger_.CommGet(30) == 1 ? p.waveRateHz : 4;
  }
  context_ = LiveReadingContext(session_);
  logger_.fetchAll = false;
  logger_.fetchChannel = 1;
  logger_.averagedRealtime = false;

  auto* top = new QVBoxLayout(this);
  name_ = new QLabel(L1(Format("%s %06d", s.model.c_str(), s.serial)), this);
  name_->setObjectName("loggerName");
  top->addWidget(name_);

  auto* channelRow = new QHBoxLayout;
  auto* channelLabel = new QLabel("Channel:", this);
  channel_ = new QSpinBox(this);
  channel_->setRange(1, channelChoice_ ? context_.channelCount : 1);
  channel_->setWrapping(true);
  channel_->setValue(1);
  channelRow->addWidget(channelLabel);
  channelRow->addWidget(channel_);
  channelRow->addStretch();
  channelLabel->setVisible(channelChoice_);
  channel_->setVisible(channelChoice_);
  top->addLayout(channelRow);
  state_ = new QLabel(this);
  state_->setObjectName("fetchState");
  top->addWidget(state_);

  auto* grid = new QGridLayout;
  const int shown = channelChoice_ ? context_.channelCount : 1;
  for (int ch = 0; ch < shown; ++ch) {
    grid->addWidget(new QLabel(L1(ChannelLabel(TypeRowOfChannel(context_, ch), ch + 1)), this), ch,
                    0);
    auto* value = new QLabel(this);
    value->setObjectName(QString("value%1").arg(ch + 1));
    value->setMinimumWidth(90);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(value, ch, 1);
    grid->addWidget(new QLabel(L1(UnitText(session_, context_, ch)), this), ch, 2);
    values_.push_back(value);
  }
  top->addLayout(grid);

  auto* countRow = new QHBoxLayout;
  countRow->addWidget(new QLabel("Fetch data", this));
  count_ = new QSpinBox(this);
  count_->setRange(0, 999999);
  count_->setObjectName("fetchCount");
  countRow->addWidget(count_);
  countRow->addStretch();
  top->addLayout(countRow);

  if (s.averaging == 2) {
    auto* averagingRow = new QHBoxLayout;
    employ_ = new QCheckBox("Employ averaging:", this);
    employ_->setChecked(p.averagingEnabled);
    averaging_ = new QTimeEdit(this);
    averaging_->setDisplayFormat("HH':'mm':'ss");
    averaging_->setTime(QTime(0, 0).addSecs(p.averagingEnabled ? p.averagingSeconds : 0));
    connect(averaging_, &QTimeEdit::timeChanged, this, [this](QTime t) {
      DeploymentParameters& d = logger_.deployment();
      d.averagingSeconds = static_cast<uint32_t>(QTime(0, 0).secsTo(t));
      d.averagingEnabled = d.averagingSeconds != 0;
    });
    connect(employ_, &QCheckBox::toggled, this, [this] { cycle_.Restart(); });
    averagingRow->addWidget(employ_);
    averagingRow->addWidget(averaging_);
    averagingRow->addWidget(new QLabel(L1(Format("@%1dHz", rateHz)), this));
    averagingRow->addStretch();
    top->addLayout(averagingRow);
  }

  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(new QLabel("Reading progress:", this));
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  progressRow->addWidget(progress_);
  top->addLayout(progressRow);

  auto* buttons = new QHBoxLayout;
  freeze_ = new QPushButton("Freeze", this);
  finish_ = new QPushButton("Finish", this);
  // Loggers with range-switching channels: their gains can be changed while watching.
  if (logger_.state.rsCommandFlags & 0x04u) {
    ranges_ = std::make_unique<RangeSwitching>();
    ReadRangeSwitching(logger_, *ranges_);
    bool any = false;
    for (int c = 0; c < logger_.state.channelCount && c < 25; ++c) any = any || ranges_->Offered(c);
    if (any) {
      autoRanging_ = new QPushButton("Auto-ranging", this);
      buttons->addWidget(autoRanging_);
      connect(autoRanging_, &QPushButton::clicked, this, &LiveReadingsDialog::EditRanges);
    }
  }
  buttons->addStretch();
  buttons->addWidget(freeze_);
  buttons->addWidget(finish_);
  top->addLayout(buttons);

  connect(channel_, &QSpinBox::valueChanged, this, &LiveReadingsDialog::ChannelChanged);
  connect(freeze_, &QPushButton::clicked, this, &LiveReadingsDialog::Freeze);
  connect(finish_, &QPushButton::clicked, this, &LiveReadingsDialog::Finish);
  timer_.setInterval(kPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &LiveReadingsDialog::Tick);
  timer_.start();
}

QLabel* LiveReadingsDialog::ValueLabel(int channel) const {
  if (channel < 0 || channel >= static_cast<int>(values_.size())) return nullptr;
  return values_[static_cast<size_t>(channel)];
}

void LiveReadingsDialog::ChannelChanged(int channel) {
  if (!channelChoice_) return;
  logger_.fetchChannel = channel;
  state_->setText("Fetching");
}

void LiveReadingsDialog::Tick() {
  if (finished_) return;
  logger_.averagedRealtime = employ_ && employ_->isChecked();
  const FetchCycle::Event event = cycle_.Step();
  switch (event) {
    case FetchCycle::Event::Asked:
      progress_->setRange(0, cycle_.Maximum());
      progress_->setValue(0);
      break;
    case FetchCycle::Event::Waiting:
      progress_->setValue(std::min(cycle_.Elapsed(), cycle_.Maximum()));
      break;
    case FetchCycle::Event::Reading:
      progress_->setValue(cycle_.Maximum());
      ShowReading();
      break;
    default:
      state_->setText(FetchFailureText(event));
      progress_->setValue(0);
      break;
  }
}

void LiveReadingsDialog::ShowReading() {
  const int channel = channelChoice_ ? cycle_.Channel() : 1;
  QLabel* value = ValueLabel(channel - 1);
  if (value == nullptr) return;
  const auto reading = SingleChannelReading(cycle_.Reply(), context_, channel - 1, engineering_);
  if (!reading) {
    state_->setText("COMM ERR");
    return;
  }
  value->setText(L1(Format("%.4f", *reading)));
  count_->setValue(count_->value() + 1);
  if (channel == channel_->value()) state_->clear();
}

void LiveReadingsDialog::EditRanges() {
  if (!ranges_) return;
  // Fetching pauses; after OK the tables go to the logger once it has gone back to sleep.
  const bool running = timer_.isActive();
  timer_.stop();
  cycle_.Restart();
  EditRangeSwitching(this, session_, *ranges_, [this] {
    SerialLink& link = logger_.link();
    while (link.linkActivityCountdown > 5) {
      state_->setText(L1(Format("Waiting for logger to sleep before continuing - %d",
                                link.linkActivityCountdown)));
      QEventLoop wait;
      QTimer::singleShot(200, &wait, &QEventLoop::quit);
      wait.exec();
    }
    state_->clear();
  });
  if (running) timer_.start();
}

void LiveReadingsDialog::Freeze() {
  if (timer_.isActive()) {
    timer_.stop();
    cycle_.Restart();
    freeze_->setText("Run");
  } else {
    freeze_->setText("Freeze");
    timer_.start();
  }
}

void LiveReadingsDialog::Finish() {
  if (finished_) return;
  finished_ = true;
  timer_.stop();
  if (employ_ && employ_->isChecked()) {
    // The logger leaves its averaged fetch mode on this query.
    if (!logger_.ConnectLogger() || !logger_.QueryTagged("FAC", "FAQ"))
      host_.Tell(kTitle, "Error: Unable to communicate with logger", BoxIcon::Warning);
  }
  logger_.averagedRealtime = false;
  logger_.fetchAll = false;
  QDialog::accept();
}

void LiveReadingsDialog::reject() {
  Finish();
}

// ---------------------------------------------------------------------------------------------

GenericFetchDialog::GenericFetchDialog(Session& session, Host& host, QWidget* parent)
    : QDialog(parent), session_(session), host_(host), logger_(session.logger), cycle_(logger_) {
  setWindowTitle(kTitle);
  ShowStatus(host_, "Fetch live readings");
  logger_.ConnectLogger();
  engineering_ = EngineeringOutput(logger_.state);
  context_ = LiveReadingContext(session_);
  logger_.averagedRealtime = false;
  logger_.fetchAll = true;

  auto* top = new QVBoxLayout(this);
  auto* choice = new QHBoxLayout;
  all_ = new QRadioButton("Show all channels", this);
  one_ = new QRadioButton("Show channel: ", this);
  channels_ = new QComboBox(this);
  for (int ch = 0; ch < context_.channelCount; ++ch)
    channels_->addItem(L1(ChannelLabel(TypeRowOfChannel(context_, ch), ch + 1)));
  all_->setChecked(true);
  channels_->setEnabled(false);
  choice->addWidget(all_);
  choice->addWidget(one_);
  choice->addWidget(channels_);
  top->addLayout(choice);
  box_ = new QListWidget(this);
  box_->setMinimumSize(420, 240);
  top->addWidget(box_);

  auto* buttons = new QHBoxLayout;
  clear_ = new QPushButton("Clear box", this);
  copy_ = new QPushButton("Copy", this);
  auto* finish = new QPushButton("Finish", this);
  buttons->addWidget(clear_);
  buttons->addWidget(copy_);
  buttons->addStretch();
  buttons->addWidget(finish);
  top->addLayout(buttons);

  auto chosen = [this] {
    logger_.fetchAll = all_->isChecked();
    logger_.fetchChannel = channels_->currentIndex() + 1;
    channels_->setEnabled(one_->isChecked());
  };
  connect(all_, &QRadioButton::toggled, this, chosen);
  connect(channels_, &QComboBox::currentIndexChanged, this, chosen);
  connect(clear_, &QPushButton::clicked, box_, &QListWidget::clear);
  connect(copy_, &QPushButton::clicked, this, [this] { Copy(); });
  connect(finish, &QPushButton::clicked, this, &QDialog::accept);
  timer_.setInterval(kPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &GenericFetchDialog::Tick);
  timer_.start();
}

GenericFetchDialog::~GenericFetchDialog() {
  logger_.fetchAll = false;
}

void GenericFetchDialog::Add(const std::string& line) {
  box_->addItem(L1(line));
  box_->scrollToBottom();
}

void GenericFetchDialog::Tick() {
  const FetchCycle::Event event = cycle_.Step();
  if (event == FetchCycle::Event::Asked || event == FetchCycle::Event::Waiting) return;
  if (event != FetchCycle::Event::Reading) {
    Add(FetchFailureText(event));
    return;
  }
  const int channel = cycle_.Channel();
  if (channel == 0) {
    // Every channel: one line each.
    const std::string text = FormatInstantReading(cycle_.Reply(), true, context_, engineering_);
    size_t begin = 0;
    while (begin < text.size()) {
      size_t end = text.find('\n', begin);
      if (end == std::string::npos) end = text.size();
      if (end > begin) Add(text.substr(begin, end - begin));
      begin = end + 1;
    }
    return;
  }
  const auto reading = SingleChannelReading(cycle_.Reply(), context_, channel - 1, engineering_);
  if (!reading) {
    Add("COMM ERR");
    return;
  }
  Add(ChannelLabel(TypeRowOfChannel(context_, channel - 1), channel) +
      Format("\t%9.4f ", *reading) + UnitText(session_, context_, channel - 1));
}

bool GenericFetchDialog::Copy() {
  QClipboard* clipboard = QApplication::clipboard();
  if (clipboard == nullptr) {
    host_.Tell(kTitle,
               "No clipboard available.\nAnother application holds the clipboard.\nRelease the "
               "clipboard from the other application and try again.",
               BoxIcon::Warning);
    return false;
  }
  QStringList lines;
  for (int i = 0; i < box_->count(); ++i) lines << box_->item(i)->text();
  const QString text = lines.join("\r\n");
  clipboard->setText(text);
  if (clipboard->text() != text) {
    host_.Tell(kTitle, "Clipboard error, unable to complete the clipboard copy.", BoxIcon::Warning);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

void RunFetchLiveReadingsCommand(QWidget* parent, Session& session, Host& host) {
  if (!PrepareFetch(session, host, true)) return;
  if (session.logger.state.genericCardVersion >= 1) {
    GenericFetchDialog dialog(session, host, parent);
    dialog.exec();
    return;
  }
  LiveReadingsDialog dialog(session, host, parent);
  dialog.exec();
}

void OpenLiveReadings(QWidget* parent, Session& session, Host& host) {
  if (!PrepareFetch(session, host, false)) return;
  LiveReadingsDialog dialog(session, host, parent);
  dialog.exec();
}

}  // namespace klx::ui
