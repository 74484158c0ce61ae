#include "deployment/ui/setup_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStyle>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "decoding/channel_types.h"
#include "deployment/status.h"
#include "deployment/thresholds.h"
#include "deployment/ui/range_switching_dialog.h"
#include "deployment/validation.h"
#include "session/session.h"
#include "shell/datetime.h"
#include "shell/status.h"
#include "waves/setup_checks.h"

namespace klx::ui {
namespace {

// "Accept" and "Discard" under the dialog's form. Discard rejects; Accept accepts unless the
// caller checks first (`acceptCloses` false: it connects `accepted` itself).
QDialogButtonBox* AcceptDiscardButtons(QDialog& d, QLayout* form, bool acceptCloses = true) {
  auto* buttons = new QDialogButtonBox(&d);
  buttons->addButton("Accept", QDialogButtonBox::AcceptRole);
  buttons->addButton("Discard", QDialogButtonBox::RejectRole);
  if (acceptCloses) QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  auto* top = new QVBoxLayout(&d);
  top->addLayout(form);
  top->addWidget(buttons);
  return buttons;
}

QString L1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QDateTime ToQt(const SystemTime& t) {
  return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
}

SystemTime FromQt(const QDateTime& q) {
  SystemTime t;
  const QDate d = q.date();
  const QTime h = q.time();
  t.year = static_cast<uint16_t>(d.year());
  t.month = static_cast<uint16_t>(d.month());
  t.day = static_cast<uint16_t>(d.day());
  t.dayOfWeek = static_cast<uint16_t>(d.dayOfWeek() % 7);
  t.hour = static_cast<uint16_t>(h.hour());
  t.minute = static_cast<uint16_t>(h.minute());
  t.second = static_cast<uint16_t>(h.second());
  return t;
}

std::string PeriodText(const Period& p) {
  return Format("%02d:%02d:%02d", p.hours, p.minutes, p.seconds);
}

QDateTimeEdit* DateEdit(QWidget* parent) {
  auto* e = new QDateTimeEdit(parent);
  e->setDisplayFormat("yyyy/MMM/dd HH:mm:ss");
  e->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
  e->setCalendarPopup(true);
  return e;
}

bool Thresholding(const LoggerState& s) {
  return s.conventionalThresholding || s.powerSaveThresholding || s.IsVS();
}

// The channel's label for lists: "Channel 1: Temperature"-style from the channel table.
std::string Label(const LoggerState& s, int channel) {
  return ChannelLabel(TypeRowOfChannel(s, channel), channel + 1);
}

// "KLX Logger - Date and time picker": start, end, period and averaging. Discard restores what
// the dialog was opened with.
bool DatePicker(QWidget* parent, DeploymentParameters& p, const LoggerState& logger) {
  const DeploymentParameters before = p;
  QDialog d(parent);
  d.setWindowTitle("KLX Logger - Date and time picker");
  auto* form = new QFormLayout;
  auto* start = DateEdit(&d);
  auto* end = DateEdit(&d);
  auto* now = new QCheckBox("Now", &d);
  start->setDateTime(ToQt(p.startTime));
  end->setDateTime(ToQt(p.endTime));
  now->setChecked(p.startMode == kStartNow);
  auto* startRow = new QHBoxLayout;
  startRow->addWidget(start);
  startRow->addWidget(now);
  form->addRow("Start of logging", startRow);
  form->addRow("End of logging", end);

  struct Shortcut {
    const char* text;
    Period period;
  };
  const Shortcut shortcuts[] = {{"One sample every ten seconds", {0, 0, 10}},
                                {"One sample every minute", {0, 1, 0}},
                                {"One sample every hour", {1, 0, 0}},
                                {"One sample every day", {24, 0, 0}}};
  auto* box = new QGroupBox("Sample period", &d);
  auto* col = new QVBoxLayout(box);
  auto* group = new QButtonGroup(&d);
  int id = 0;
  bool matched = false;
  for (const Shortcut& s : shortcuts) {
    auto* r = new QRadioButton(s.text, box);
    group->addButton(r, id++);
    col->addWidget(r);
    if (!p.profiling6Hz && p.samplePeriod == s.period) r->setChecked(matched = true);
  }
  auto* sixHz = new QRadioButton("6Hz profiling", box);
  sixHz->setEnabled(logger.profiling6Hz);
  group->addButton(sixHz, 4);
  col->addWidget(sixHz);
  if (p.profiling6Hz) sixHz->setChecked(matched = true);
  auto* choose = new QRadioButton("Let me choose", box);
  group->addButton(choose, 5);
  auto* picked = new QTimeEdit(box);
  picked->setDisplayFormat("HH':'mm':'ss");
  picked->setTime(
      QTime(p.samplePeriod.hours % 24, p.samplePeriod.minutes % 60, p.samplePeriod.seconds % 60));
  auto* chooseRow = new QHBoxLayout;
  chooseRow->addWidget(choose);
  chooseRow->addWidget(picked);
  col->addLayout(chooseRow);
  if (!matched) choose->setChecked(true);
  form->addRow(box);

  auto* averaging = new QCheckBox("Enable averaging:", &d);
  auto* seconds = new QSpinBox(&d);
  seconds->setRange(1, 3600);
  seconds->setSuffix(" seconds");
  seconds->setValue(std::max<int>(1, static_cast<int>(p.averagingSeconds)));
  averaging->setChecked(p.averagingEnabled);
  averaging->setEnabled(logger.averaging != 0 || !logger.extendedCommandSet);
  auto update = [&] {
    const bool six = sixHz->isChecked();
    averaging->setText(six ? "Prohibited by profiling:" : "Enable averaging:");
    averaging->setEnabled(!six && (logger.averaging != 0 || !logger.extendedCommandSet));
    seconds->setEnabled(averaging->isEnabled() && averaging->isChecked());
    picked->setEnabled(choose->isChecked());
    start->setEnabled(!now->isChecked());
  };
  auto* avgRow = new QHBoxLayout;
  avgRow->addWidget(averaging);
  avgRow->addWidget(seconds);
  form->addRow(avgRow);
  QObject::connect(group, &QButtonGroup::idClicked, &d, [&](int) { update(); });
  QObject::connect(averaging, &QCheckBox::toggled, &d, [&](bool) { update(); });
  QObject::connect(now, &QCheckBox::toggled, &d, [&](bool) { update(); });
  update();

  AcceptDiscardButtons(d, form);
  if (d.exec() != QDialog::Accepted) {
    p = before;
    return false;
  }
  p.startTime = FromQt(start->dateTime());
  p.endTime = FromQt(end->dateTime());
  if (now->isChecked())
    p.startMode = kStartNow;
  else if (p.startMode == kStartNow)
    p.startMode = kStartAtTime;
  const int chosen = group->checkedId();
  p.profiling6Hz = chosen == 4;
  if (chosen >= 0 && chosen < 4) p.samplePeriod = shortcuts[chosen].period;
  if (chosen == 5) {
    const QTime t = picked->time();
    p.samplePeriod = Period{static_cast<uint16_t>(t.hour()), static_cast<uint16_t>(t.minute()),
                            static_cast<uint16_t>(t.second())};
  }
  p.averagingEnabled = averaging->isEnabled() && averaging->isChecked();
  p.averagingSeconds = p.averagingEnabled ? static_cast<uint32_t>(seconds->value()) : 0;
  return true;
}

// "KLX Logger - Thresholding configuration".
bool ThresholdPicker(QWidget* parent, Session& session, const LoggerState& logger,
                     DeploymentParameters& p, Host& host) {
  const DeploymentParameters before = p;
  QDialog d(parent);
  d.setWindowTitle("KLX Logger - Thresholding configuration");
  auto* form = new QFormLayout;
  auto* channel = new QComboBox(&d);
  for (int c = 0; c < logger.channelCount; ++c) channel->addItem(L1(Label(logger, c)));
  channel->setCurrentIndex(std::clamp(p.thresholdChannel, 0, std::max(0, logger.channelCount - 1)));
  form->addRow("Channel", channel);
  auto* value = new QLineEdit(QString::number(p.thresholdValue, 'f', 2), &d);
  form->addRow("Threshold", value);
  auto* power = new QComboBox(&d);
  power->addItems({"Continuously -  (Power is kept ON)", "Every 10 seconds", "Every 30 seconds",
                   "Let me choose"});
  const int saved = static_cast<int>(p.powerSavePeriod.hours * 3600 +
                                     p.powerSavePeriod.minutes * 60 + p.powerSavePeriod.seconds);
  power->setCurrentIndex(saved == 0 ? 0 : saved == 10 ? 1 : saved == 30 ? 2 : 3);
  // Only loggers that can power down between threshold tests offer the power-cycled choices.
  const bool powerSaving = logger.powerSaveThresholding;
  if (!powerSaving) power->setCurrentIndex(0);
  auto* picked = new QTimeEdit(&d);
  picked->setDisplayFormat("HH':'mm':'ss");
  picked->setTime(QTime(p.powerSavePeriod.hours % 24, p.powerSavePeriod.minutes % 60,
                        p.powerSavePeriod.seconds % 60));
  auto* powerRow = new QHBoxLayout;
  powerRow->addWidget(power);
  powerRow->addWidget(picked);
  form->addRow("Power is cycled:", powerRow);
  auto* hysteresis = new QCheckBox("Enable", &d);
  auto* hSeconds = new QSpinBox(&d);
  hSeconds->setRange(0, 10000000);
  hSeconds->setValue(static_cast<int>(p.hysteresisSeconds));
  hysteresis->setChecked(p.hysteresisSeconds > 0);
  auto* hRow = new QHBoxLayout;
  hRow->addWidget(hysteresis);
  auto* hText = new QLabel("After a thresholding session, the logger will collect data for", &d);
  hRow->addWidget(hText);
  hRow->addWidget(hSeconds);
  auto* secs = new QLabel("secs", &d);
  hRow->addWidget(secs);
  form->addRow(hRow);
  for (QWidget* w : std::initializer_list<QWidget*>{hysteresis, hText, hSeconds, secs})
    w->setVisible(logger.hysteresis);
  // The dialog's own message line, with the information icon when it explains a correction.
  auto* messageIcon = new QLabel(&d);
  messageIcon->setObjectName("messageIcon");
  auto* message = new QLabel(&d);
  message->setObjectName("message");
  form->addRow(messageIcon, message);
  if (auto* items = qobject_cast<QStandardItemModel*>(power->model()))
    for (int i = 1; i < 4 && !powerSaving; ++i) items->item(i)->setEnabled(false);
  auto update = [&] { picked->setEnabled(power->currentIndex() == 3); };
  QObject::connect(power, &QComboBox::currentIndexChanged, &d, [&](int) { update(); });
  update();

  auto* buttons = AcceptDiscardButtons(d, form, false);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, [&] {
    bool ok = false;
    const double v = value->text().toDouble(&ok);
    if (!ok) {
      message->setText("Enter the threshold as a number.");
      return;
    }
    p.thresholdChannel = channel->currentIndex();
    p.thresholdValue = v;
    switch (power->currentIndex()) {
      case 0:
        p.powerCycledTest = 0;
        p.powerSavePeriod = {};
        break;
      case 1:
        p.powerCycledTest = 1;
        p.powerSavePeriod = {0, 0, 10};
        break;
      case 2:
        p.powerCycledTest = 1;
        p.powerSavePeriod = {0, 0, 30};
        break;
      default: {
        const QTime t = picked->time();
        p.powerCycledTest = 1;
        ChoosePowerSavePeriod(
            p, Period{static_cast<uint16_t>(t.hour()), static_cast<uint16_t>(t.minute()),
                      static_cast<uint16_t>(t.second())});
      }
    }
    const ThresholdCheck check = AcceptThreshold(p, logger, session.calibration, host);
    value->setText(QString::number(p.thresholdValue, 'f', 2));
    if (check != ThresholdCheck::Accepted) return;  // the dialog stays open
    p.hysteresisSeconds =
        hysteresis->isChecked() ? static_cast<uint32_t>(std::max(0, hSeconds->value())) : 0;
    if (p.hysteresisSeconds > 0 && CheckHysteresis(p, host))
      hSeconds->setValue(static_cast<int>(p.hysteresisSeconds));
    if (CheckPowerSavePeriod(p, logger, host)) {
      messageIcon->setPixmap(
          d.style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(24, 24));
      message->setText(
          "Power saving period was too short.\nIt has been changed.\nContinuous checking is "
          "still an option.");
      power->setCurrentIndex(3);
      picked->setTime(QTime(p.powerSavePeriod.hours % 24, p.powerSavePeriod.minutes % 60,
                            p.powerSavePeriod.seconds % 60));
      return;
    }
    d.accept();
  });
  if (d.exec() != QDialog::Accepted) {
    p = before;
    return false;
  }
  return true;
}

// "KLX Logger - NMJ Tide and Wave modes configuration". The burst interval follows the tide
// period: its spin control moves it by one tide period, a new tide period keeps the count of tide
// periods, and every other change re-checks it. Discard restores the burst interval, waveEnabled,
// waveRateHz and burstLength (nothing else is changed before Accept).
bool BurstPicker(QWidget* parent, DeploymentParameters& p, Host& host) {
  const DeploymentParameters before = p;
  auto toPeriod = [](const QTime& t) {
    return Period{static_cast<uint16_t>(t.hour()), static_cast<uint16_t>(t.minute()),
                  static_cast<uint16_t>(t.second())};
  };
  auto toTime = [](const Period& q) { return QTime(q.hours % 24, q.minutes % 60, q.seconds % 60); };
  auto seconds = [](const Period& q) {
    return static_cast<int64_t>(q.hours) * 3600 + q.minutes * 60 + q.seconds;
  };
  QDialog d(parent);
  d.setWindowTitle("KLX Logger - NMJ Tide and Wave modes configuration");
  auto* form = new QFormLayout;
  auto* start = DateEdit(&d);
  start->setObjectName("start");
  start->setDateTime(ToQt(p.startTime));
  form->addRow("Start of logging", start);
  auto* end = DateEdit(&d);
  end->setObjectName("end");
  end->setDateTime(ToQt(p.endTime));
  form->addRow("End of logging", end);
  auto* rate = new QComboBox(&d);
  rate->setObjectName("rate");
  rate->addItems({"1Hz", "2Hz", "4Hz"});
  rate->setCurrentIndex(p.waveRateHz == 4 ? 2 : p.waveRateHz == 2 ? 1 : 0);
  form->addRow("Rate for both Tide and Wave Data:", rate);
  auto* tide = new QTimeEdit(&d);
  tide->setObjectName("tidePeriod");
  tide->setDisplayFormat("HH':'mm':'ss");
  tide->setTime(toTime(p.samplePeriod));
  form->addRow("Sample Period for Tide:", tide);
  auto* averaging = new QCheckBox("Enable averaging", &d);
  averaging->setObjectName("averaging");
  averaging->setChecked(p.averagingEnabled);
  form->addRow(averaging);
  auto* averageSeconds = new QSpinBox(&d);
  averageSeconds->setObjectName("averagingSeconds");
  averageSeconds->setRange(1, 3600);
  averageSeconds->setSuffix(" s");
  averageSeconds->setValue(std::max<int>(1, static_cast<int>(p.averagingSeconds)));
  auto* averageRate = new QLabel(&d);
  averageRate->setObjectName("averagingRate");
  auto* averageRow = new QHBoxLayout;
  averageRow->addWidget(averageSeconds);
  averageRow->addWidget(averageRate);
  form->addRow("Averaging Time for Tide:", averageRow);
  auto* waves = new QCheckBox("Enable wave data", &d);
  waves->setObjectName("waves");
  waves->setChecked(p.waveEnabled);
  form->addRow(waves);
  auto* interval = new QTimeEdit(&d);
  interval->setObjectName("waveInterval");
  interval->setDisplayFormat("HH':'mm':'ss");
  interval->setReadOnly(true);
  interval->setButtonSymbols(QAbstractSpinBox::NoButtons);
  // The spin control: one step up lengthens the interval by one tide period.
  auto* spin = new QSpinBox(&d);
  spin->setObjectName("waveSpin");
  spin->setRange(-1000000, 1000000);
  spin->setValue(0);
  spin->setFixedWidth(20);
  auto* intervalRow = new QHBoxLayout;
  intervalRow->addWidget(interval);
  intervalRow->addWidget(spin);
  form->addRow("Sample Period for Waves:", intervalRow);
  auto* length = new QComboBox(&d);
  length->setObjectName("burstLength");
  for (int n : {512, 1024, 2048, 4096, 8192}) length->addItem(QString::number(n), n);
  length->setCurrentIndex(std::max(0, length->findData(p.burstLength)));
  auto* lengthLabel = new QLabel(&d);
  lengthLabel->setObjectName("lengthRate");
  auto* lengthRow = new QHBoxLayout;
  lengthRow->addWidget(length);
  lengthRow->addWidget(lengthLabel);
  form->addRow("Burst Length:", lengthRow);
  auto* depth = new QLineEdit(QString::number(p.expectedWaterDepth, 'f', 2), &d);
  form->addRow("Expected mean depth of water (m)", depth);
  auto* height = new QLineEdit(QString::number(p.loggerHeight, 'f', 2), &d);
  form->addRow("Expected height of logger above seabed/river bed (m)", height);

  // The plan being edited: tide period, burst interval and the burst settings.
  DeploymentParameters work = p;
  Period tidePeriod = p.samplePeriod;
  Period burst = p.burstInterval;
  bool showing = false;
  auto show = [&] {
    showing = true;
    tide->setTime(toTime(tidePeriod));
    interval->setTime(toTime(burst));
    const int hz = 1 << rate->currentIndex();
    lengthLabel->setText(QString::asprintf("samples @ %dHz", hz));
    averageRate->setText(QString::asprintf("@ %dHz", hz));
    averageSeconds->setEnabled(averaging->isChecked());
    interval->setEnabled(waves->isChecked());
    spin->setEnabled(waves->isChecked());
    showing = false;
  };
  auto takeBurstSettings = [&] {
    work.waveRateHz = 1 << rate->currentIndex();
    work.waveEnabled = waves->isChecked();
    work.burstLength = length->currentData().toInt();
  };
  auto fit = [&](int step) {
    takeBurstSettings();
    FitTidePeriodToBurst(work, burst, tidePeriod, step, host);
    show();
  };
  int spinAt = 0;
  QObject::connect(spin, &QSpinBox::valueChanged, &d, [&](int v) {
    if (showing) return;
    const int delta = v - spinAt;
    spinAt = v;
    for (int i = 0; i < std::abs(delta); ++i) fit(delta > 0 ? -1 : 1);
  });
  QObject::connect(tide, &QTimeEdit::timeChanged, &d, [&](const QTime& t) {
    if (showing) return;
    // A new tide period keeps the count of tide periods in the burst interval.
    const int64_t oldTide = std::max<int64_t>(1, seconds(tidePeriod));
    const Period next = toPeriod(t);
    const int64_t count = seconds(burst) / oldTide;
    const int64_t w = count * std::max<int64_t>(1, seconds(next));
    burst = Period{static_cast<uint16_t>(w / 3600), static_cast<uint16_t>(w / 60 % 60),
                   static_cast<uint16_t>(w % 60)};
    tidePeriod = next;
    fit(1000);
  });
  auto recheck = [&] {
    if (!showing) fit(0);
  };
  QObject::connect(rate, &QComboBox::currentIndexChanged, &d, [&](int) { recheck(); });
  QObject::connect(length, &QComboBox::currentIndexChanged, &d, [&](int) { recheck(); });
  QObject::connect(waves, &QCheckBox::toggled, &d, [&](bool) { recheck(); });
  QObject::connect(averaging, &QCheckBox::toggled, &d, [&](bool) { show(); });
  show();

  AcceptDiscardButtons(d, form);
  if (d.exec() != QDialog::Accepted) {
    p.burstInterval = before.burstInterval;
    p.waveEnabled = before.waveEnabled;
    p.waveRateHz = before.waveRateHz;
    p.burstLength = before.burstLength;
    return false;
  }
  takeBurstSettings();
  FitTidePeriodToBurst(work, burst, tidePeriod, 0, host);
  p.startTime = FromQt(start->dateTime());
  p.endTime = FromQt(end->dateTime());
  p.waveRateHz = work.waveRateHz;
  p.waveEnabled = work.waveEnabled;
  p.burstLength = work.burstLength;
  p.averagingEnabled = averaging->isChecked();
  p.averagingSeconds = p.averagingEnabled ? static_cast<uint32_t>(averageSeconds->value()) : 0;
  p.loggerHeight = height->text().toDouble();
  p.expectedWaterDepth = depth->text().toDouble();
  p.samplePeriod = tidePeriod;
  p.burstInterval = burst;
  return true;
}

// "KLX Logger - Range switching channel setup". True when the tables were written.
}  // namespace

SetupDialog::SetupDialog(Session& session, LoggerSetup* setup, const LoggerState& simulated,
                         QWidget* parent)
    : QDialog(parent),
      session_(session),
      setup_(setup),
      simulated_(simulated),
      p_(session.deployment) {
  if (setup_) setup_->dialogOpen = true;
  setWindowTitle(TideAndWaveLogger(logger()) ? "KLX Logger - NMJ Setup" : "KLX Logger - Setup");
  Build();
  FillFromParameters();
  Revalidate();
  ShowReadFailure();
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &SetupDialog::TickOnce);
  if (setup_) {
    // Once a second, as the retrieval dialog does: the logger's status and battery voltage.
    poll_.setInterval(1000);
    connect(&poll_, &QTimer::timeout, this, &SetupDialog::PollLogger);
    poll_.start();
  }
}

void SetupDialog::PollLogger() {
  // The erase wait has the line to itself.
  if (!setup_ || Waiting()) return;
  LoggerLink& link = session_.logger;
  std::string text = "Logger status: ";
  text += link.CommGet(9) == 1 ? StatusName(link.status.code) : "no answer";
  if (link.state.reportsBatteryVoltage) {
    text += "    Battery: ";
    text += link.CommGet(21) == 1 ? link.batteryVoltage : std::string("no answer");
  }
  polled_->setText(L1(text));
}

SetupDialog::~SetupDialog() = default;

const LoggerState& SetupDialog::logger() const {
  return setup_ ? session_.logger.state : simulated_;
}

QString SetupDialog::Message() const {
  return message_->text();
}

void SetupDialog::Build() {
  const LoggerState& s = logger();
  auto* top = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  status_ = new QLabel(this);
  hostTime_ = new QLabel(this);
  loggerTime_ = new QLabel(this);
  memory_ = new QLabel(this);
  form->addRow("Logger status", status_);
  polled_ = new QLabel(this);
  polled_->setObjectName("polledStatus");
  if (setup_) form->addRow("", polled_);
  form->addRow("Host time", hostTime_);
  auto* clockRow = new QHBoxLayout;
  clockRow->addWidget(loggerTime_, 1);
  sync_ = new QPushButton("Sync to PC", this);
  clockRow->addWidget(sync_);
  form->addRow("Logger time", clockRow);
  start_ = DateEdit(this);
  now_ = new QCheckBox("Now", this);
  auto* startRow = new QHBoxLayout;
  startRow->addWidget(start_, 1);
  startRow->addWidget(now_);
  form->addRow("Start of logging", startRow);
  end_ = DateEdit(this);
  form->addRow("End of logging", end_);
  period_ = new QLabel(this);
  periodButton_ = new QPushButton("Change...", this);
  auto* periodRow = new QHBoxLayout;
  periodRow->addWidget(period_, 1);
  periodRow->addWidget(periodButton_);
  form->addRow(TideAndWaveLogger(s) ? "Sample Period for Tide" : "Sample period", periodRow);
  averaging_ = new QPushButton(this);
  form->addRow("Averaging", averaging_);
  realtime_ = new QComboBox(this);
  realtime_->addItems({"Not Enabled", "Enabled"});
  if (s.HasTwelveCommands()) realtime_->addItem("Enabled - NO data storage");
  realtime_->setEnabled(s.externalDataConnector);
  form->addRow("Real-time Display", realtime_);
  startList_ = new QComboBox(this);
  startList_->addItems({"Start at 'Start of logging'", "Start NOW"});
  if (Thresholding(s))
    startList_->addItems({"Start when ABOVE threshold", "Start when BELOW threshold"});
  form->addRow("Start", startList_);
  threshold_ = new QPushButton(this);
  form->addRow("Threshold", threshold_);
  if (TideAndWaveLogger(s)) {
    // The rate and the burst plan are both set in the burst dialog.
    rate_ = new QPushButton(this);
    form->addRow("Rate", rate_);
    connect(rate_, &QPushButton::clicked, this, &SetupDialog::EditBurst);
    burst_ = new QPushButton(this);
    form->addRow("Waves", burst_);
    connect(burst_, &QPushButton::clicked, this, &SetupDialog::EditBurst);
    // The band of wave frequencies the analysis will see, once the wave plan checks pass.
    bandwidth_ = new QLabel(this);
    bandwidth_->setObjectName("bandwidth");
    bandwidth_->setWordWrap(true);
    form->addRow("", bandwidth_);
  }
  if (setup_ && setup_->rangesRead) {
    ranges_ = new QPushButton("Range switching...", this);
    form->addRow("Range switching", ranges_);
    connect(ranges_, &QPushButton::clicked, this, &SetupDialog::EditRanges);
    // The summary of the channels that switch ranges, their modes and gains.
    rangeSummary_ = new QLabel(this);
    rangeSummary_->setObjectName("rangeSummary");
    rangeSummary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow("", rangeSummary_);
  }
  if (s.HasTwelveCommands()) {
    autorun_ = new QCheckBox("Autorun when battery/external power switched on", this);
    autorun_->setEnabled(s.oemSupport);
    form->addRow(autorun_);
    if (s.SamplingLed()) {
      led_ = new QCheckBox("Enable Sampling LED", this);
      form->addRow(led_);
    }
  }
  form->addRow("Memory usage", memory_);
  top->addLayout(form);

  auto* messageRow = new QHBoxLayout;
  messageIcon_ = new QLabel(this);
  messageIcon_->setFixedSize(32, 32);
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  message_->setMinimumHeight(64);
  message_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  messageRow->addWidget(messageIcon_);
  messageRow->addWidget(message_, 1);
  top->addLayout(messageRow);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setVisible(false);
  top->addWidget(progress_);

  auto* buttons = new QHBoxLayout;
  batch_ = new QPushButton("Accept batch values", this);
  buttons->addWidget(batch_);
  enable_ = new QPushButton(session_.logger.state.connected && setup_ ? "Enable" : "Enable", this);
  cancel_ = new QPushButton("Cancel", this);
  // A logger that logs with real-time output can have its display started again.
  restart_ = new QPushButton("Restart Display", this);
  restart_->setToolTip("Start the real-time display of this logger's output again");
  buttons->addWidget(restart_);
  const int loggerStatus = setup_ ? setup_->view.status : -1;
  restart_->setVisible(
      setup_ && session_.logger.state.externalDataConnector &&
      (loggerStatus == 1 || loggerStatus == 2 || loggerStatus == 3 || loggerStatus == 6));
  connect(restart_, &QPushButton::clicked, this, [this] { done(kRestartDisplay); });
  buttons->addStretch(1);
  buttons->addWidget(enable_);
  buttons->addWidget(cancel_);
  top->addLayout(buttons);
  if (!setup_) {
    enable_->setVisible(false);
    sync_->setEnabled(false);
    cancel_->setText("Close");
  }
  setMinimumWidth(560);

  connect(sync_, &QPushButton::clicked, this, &SetupDialog::SyncToPc);
  connect(enable_, &QPushButton::clicked, this, &SetupDialog::PressEnable);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(periodButton_, &QPushButton::clicked, this, &SetupDialog::EditPeriod);
  connect(averaging_, &QPushButton::clicked, this, &SetupDialog::EditPeriod);
  connect(threshold_, &QPushButton::clicked, this, &SetupDialog::EditThreshold);
  connect(batch_, &QPushButton::clicked, this, &SetupDialog::AcceptBatch);
  auto changed = [this] {
    if (filling_) return;
    MarkChanged();
    ReadBack();
    Revalidate();
  };
  connect(start_, &QDateTimeEdit::dateTimeChanged, this, changed);
  connect(end_, &QDateTimeEdit::dateTimeChanged, this, changed);
  connect(now_, &QCheckBox::toggled, this, changed);
  connect(startList_, &QComboBox::currentIndexChanged, this, changed);
  connect(realtime_, &QComboBox::currentIndexChanged, this, changed);
}

void SetupDialog::FillFromParameters() {
  filling_ = true;
  const LoggerState& s = logger();
  if (setup_) {
    status_->setText(L1(setup_->view.statusName));
    hostTime_->setText(L1(DateDisplayText(setup_->view.hostTime)));
    loggerTime_->setText(L1(DateDisplayText(setup_->view.loggerClock)));
    memory_->setText(L1(ComputeMemoryUsage(s, setup_->dataPointer).text));
    enable_->setText(setup_->resuming ? "Resume/Enable" : "Enable");
    if (autorun_) autorun_->setChecked((p_.startFlags & 2u) != 0);
    if (led_) led_->setChecked((p_.startFlags & 8u) != 0);
  } else {
    status_->setText("Simulation: " + L1(s.model));
    const SystemTime now = session_.clock.LocalTime();
    hostTime_->setText(L1(DateDisplayText(now)));
    loggerTime_->setText(L1(DateDisplayText(now)));
    memory_->setText("0%, 0 readings");
  }
  start_->setDateTime(ToQt(p_.startTime));
  end_->setDateTime(ToQt(p_.endTime));
  now_->setChecked(p_.startMode == kStartNow);
  start_->setEnabled(p_.startMode == kStartAtTime);
  period_->setText(p_.profiling6Hz ? "6Hz profiling" : L1(PeriodText(p_.samplePeriod)));
  const bool thresholdStart =
      p_.startMode == kStartAboveThreshold || p_.startMode == kStartBelowThreshold;
  if (TideAndWaveLogger(s))
    averaging_->setText(p_.averagingEnabled
                            ? L1(Format("Averaging over %02u:%02u:%02u", p_.averagingSeconds / 3600,
                                        p_.averagingSeconds / 60 % 60, p_.averagingSeconds % 60))
                            : "Averaging not selected");
  else
    averaging_->setText(L1(AveragingSummary(p_)));
  averaging_->setEnabled(!p_.profiling6Hz && !thresholdStart);
  const int rt = !p_.realtimeOutput ? 0 : (p_.startFlags & 1u) && realtime_->count() > 2 ? 2 : 1;
  realtime_->setCurrentIndex(rt);
  startList_->setCurrentIndex(std::min(static_cast<int>(p_.startMode), startList_->count() - 1));
  if (!Thresholding(s)) {
    threshold_->setText("No thresholding");
    threshold_->setEnabled(false);
  } else {
    threshold_->setText(thresholdStart ? L1(ThresholdSummary(p_, s)) : "Not thresholding");
    threshold_->setEnabled(thresholdStart);
  }
  if (burst_) burst_->setText(L1(BurstSummary(p_)));
  if (rangeSummary_ && setup_) {
    std::string summary;
    for (const std::string& line : RangeSwitchingSummary(setup_->ranges, s))
      summary += (summary.empty() ? "" : "\n") + line;
    rangeSummary_->setText(L1(summary));
  }
  if (rate_) rate_->setText(p_.waveRateHz > 0 ? L1(Format("%3dHz", p_.waveRateHz)) : "Not set");
  batch_->setEnabled(session_.batchValues.batchSet && !batchDeclined_);
  filling_ = false;
}

void SetupDialog::ReadBack() {
  p_.startTime = FromQt(start_->dateTime());
  p_.endTime = FromQt(end_->dateTime());
  const uint32_t listed = static_cast<uint32_t>(startList_->currentIndex());
  if (now_->isChecked() && listed == kStartAtTime)
    p_.startMode = kStartNow;
  else if (!now_->isChecked() && listed == kStartNow && sender() == now_)
    p_.startMode = kStartAtTime;
  else
    p_.startMode = listed;
  p_.realtimeOutput = realtime_->currentIndex() > 0;
  if (realtime_->count() > 2) {
    if (realtime_->currentIndex() == 2)
      p_.startFlags |= 1u;
    else
      p_.startFlags &= ~1u;
  }
  if (p_.startMode == kStartAboveThreshold || p_.startMode == kStartBelowThreshold) {
    p_.averagingEnabled = false;
    p_.averagingSeconds = 0;
  }
}

void SetupDialog::SetMessage(const std::string& text, int icon) {
  icon_ = icon;
  message_->setText(L1(text));
  if (icon == 0) {
    messageIcon_->clear();
  } else {
    const QIcon i = style()->standardIcon(icon == 1 ? QStyle::SP_MessageBoxWarning
                                                    : QStyle::SP_MessageBoxInformation);
    messageIcon_->setPixmap(i.pixmap(32, 32));
  }
}

void SetupDialog::Revalidate() {
  SetMessage("", 0);
  if (bandwidth_) bandwidth_->clear();
  ValidationResult v;
  if (setup_) {
    v = setup_->Validate();
  } else {
    ValidationInputs in;
    in.loggerClock = session_.clock.LocalTime();
    in.host = &session_.host;
    SetRealTimeBaud(p_, simulated_.defaultBaudRateMinimum);
    v = ValidateDeployment(p_, simulated_, in);
  }
  if (v.suggestionAccepted) {
    // The too-many-samples suggestion changed the plan: show it and check again.
    FillFromParameters();
    Revalidate();
    return;
  }
  FillFromParameters();
  if (v.code != kValidationOk) {
    SetMessage(v.message, 1);
    enable_->setEnabled(false);
    return;
  }
  const UsageEstimate e =
      EstimateUsage(p_, logger(), setup_ ? setup_->view.loggerClock : session_.clock.LocalTime());
  if (TideAndWaveLogger(logger())) {
    // The wave plan's own checks come after the general ones; an error blocks the Enable.
    const TideAndWaveCheck w = CheckTideAndWavePlan(p_, e.memoryPercent, e.batteryMah);
    bandwidth_->setText(L1(w.bandwidth));
    if (w.level == TideAndWaveCheck::Error) {
      SetMessage(w.message, 1);
      enable_->setEnabled(false);
      return;
    }
    if (!w.message.empty()) {
      SetMessage(e.text + "\n" + w.message, 2);
      enable_->setEnabled(setup_ != nullptr);
      return;
    }
  }
  SetMessage(e.text, e.icon == StatusIcon::Info ? 2 : 0);
  enable_->setEnabled(setup_ != nullptr);
}

void SetupDialog::MarkChanged() {
  p_.changedSinceBatch = true;
}

void SetupDialog::AcceptBatch() {
  if (!session_.batchValues.batchSet) return;
  if (AcceptBatchValues(p_, session_.batchValues, session_.host) == BatchAcceptance::Declined)
    batchDeclined_ = true;
  FillFromParameters();
  Revalidate();
}

void SetupDialog::EditPeriod() {
  if (DatePicker(this, p_, logger())) {
    MarkChanged();
    FillFromParameters();
    Revalidate();
  }
}

void SetupDialog::EditThreshold() {
  if (ThresholdPicker(this, session_, logger(), p_, session_.host)) {
    MarkChanged();
    FillFromParameters();
    Revalidate();
  }
}

void SetupDialog::EditBurst() {
  if (BurstPicker(this, p_, session_.host)) {
    MarkChanged();
    FillFromParameters();
    Revalidate();
  }
}

void SetupDialog::EditRanges() {
  if (!setup_ || !EditRangeSwitching(this, session_, setup_->ranges)) return;
  FillFromParameters();  // the summary follows the tables
  Revalidate();
}

void SetupDialog::SyncToPc() {
  if (!setup_) return;
  if (SynchroniseClock(session_.logger, session_.clock)) {
    session_.logger.CommGet(1);
    setup_->view.loggerClock = session_.logger.loggerClock;
    setup_->view.hostTime = session_.clock.LocalTime();
  }
  FillFromParameters();
  Revalidate();
}

void SetupDialog::PressEnable() {
  if (!setup_ || Waiting()) return;
  ReadBack();
  if (autorun_) setup_->autorun = autorun_->isChecked();
  if (led_) setup_->samplingLed = led_->isChecked();
  enable_->setVisible(false);
  cancel_->setVisible(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const EnableStep step = setup_->PressEnable();
  QApplication::restoreOverrideCursor();
  if (step == EnableStep::Waiting) {
    SetMessage("Waiting for logger to reset", 0);
    progress_->setValue(0);
    progress_->setVisible(true);
    timer_.start();
    return;
  }
  Finish(step);
}

void SetupDialog::TickOnce() {
  if (!setup_ || !setup_->Waiting()) {
    timer_.stop();
    return;
  }
  const EnableStep step = setup_->Tick();
  progress_->setValue(static_cast<int>(std::min(100.0, setup_->Progress())));
  if (setup_->Waiting()) return;
  timer_.stop();
  Finish(step);
}

void SetupDialog::Finish(EnableStep step) {
  lastStep_ = step;
  progress_->setVisible(false);
  enable_->setVisible(true);
  cancel_->setVisible(true);
  switch (step) {
    case EnableStep::Enabled:
    case EnableStep::Resumed:
    case EnableStep::ClosedToSave:
      accept();
      return;
    case EnableStep::Stopped:
    case EnableStep::Failed:
      ReopenAfterFailure();
      return;
    case EnableStep::Waiting:
    case EnableStep::ReturnToDialog:
      Revalidate();
      return;
  }
}

bool SetupDialogShown() {
  const QWidgetList windows = QApplication::topLevelWidgets();
  return std::any_of(windows.begin(), windows.end(), [](QWidget* w) {
    return qobject_cast<SetupDialog*>(w) != nullptr && w->isVisible();
  });
}

void SetupDialog::ReopenAfterFailure() {
  // The dialog starts again from what the logger now holds.
  setup_->stopButton = false;
  const int status = setup_->Open();
  if (status < 0) {
    reject();
    return;
  }
  setup_->resuming = status == 5;  // still suspended: it may still be resumed
  FillFromParameters();
  Revalidate();
  ShowReadFailure();
}

void SetupDialog::ShowReadFailure() {
  // A start, end or period that could not be read stays in the message line until the next
  // edit checks the parameters again.
  if (setup_ && !setup_->view.message.empty()) SetMessage(setup_->view.message, 1);
}

}  // namespace klx::ui
