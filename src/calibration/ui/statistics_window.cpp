#include "calibration/ui/statistics_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "calibration/write.h"
#include "decoding/channel_types.h"
#include "decoding/decoder.h"
#include "session/session.h"
#include "shell/status.h"
#include "shell/text_file.h"

namespace klx {
namespace {

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.c_str());
}

std::string LabelOf(const DataSet& data, int channel) {
  std::string label = ChannelLabel(TypeRowOfChannel(data, channel), channel + 1);
  return label.empty() ? Format("%2d", channel + 1) : label;
}

// The saved fixed-point pair of a depth, pH or dissolved-oxygen channel (nullptr for others).
std::pair<double*, double*> FixedPointsOf(OnlineCalibrationLimits& limits, char letter) {
  switch (letter) {
    case 'A':
      return {&limits.lowerDepth, &limits.upperDepth};
    case 'H':
      return {&limits.lowerPh, &limits.upperPh};
    case 'D':
      return {&limits.lowerO2, &limits.upperO2};
    default:
      return {nullptr, nullptr};
  }
}

}  // namespace

StatisticsWindow::StatisticsWindow(Session& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName("CALIBRATIONOUTPUT");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  heading_ = new QLabel(this);
  QFont bold = heading_->font();
  bold.setBold(true);
  heading_->setFont(bold);
  layout->addWidget(heading_);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel("Channel:", this));
  channelBox_ = new QComboBox(this);
  channelBox_->setMinimumWidth(220);
  top->addWidget(channelBox_, 1);
  view_ = new QPushButton("Change data view", this);
  top->addWidget(view_);
  layout->addLayout(top);
  layout->addWidget(
      new QLabel("Hold Shift and drag over the graph to highlight the readings of "
                 "a point; the next drag highlights the other point.",
                 this));

  // The two-point area shows when a logger with a depth, pH or dissolved-oxygen channel is
  // connected; otherwise a line says when it would.
  twoPoint_ = new QWidget(this);
  auto* area = new QVBoxLayout(twoPoint_);
  area->setContentsMargins(0, 0, 0, 0);
  online_ = new QLabel(
      "On-line calibration is available when connected to a logger with a depth, pH or an "
      "Oxyguard O2 sensor",
      this);
  online_->setWordWrap(true);
  layout->addWidget(online_);
  auto* grid = new QGridLayout;
  for (int i = 0; i < 2; ++i) {
    const size_t k = size_t(i);
    grid->addWidget(new QLabel(QString("Point %1").arg(i + 1), this), 2 * i, 0);
    stats_[k] = new QLabel(this);
    stats_[k]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(stats_[k], 2 * i, 1, 1, 4);
    accept_[k] = new QCheckBox("Accept reading:", this);
    grid->addWidget(accept_[k], 2 * i + 1, 1);
    reading_[k] = new QLineEdit(this);
    reading_[k]->setReadOnly(true);
    reading_[k]->setMinimumWidth(120);
    grid->addWidget(reading_[k], 2 * i + 1, 2);
    grid->addWidget(new QLabel("for fixed-point value:", this), 2 * i + 1, 3);
    value_[k] = new QLineEdit(this);
    value_[k]->setMinimumWidth(100);
    grid->addWidget(value_[k], 2 * i + 1, 4);
    connect(accept_[k], &QCheckBox::toggled, this, [this, i](bool on) { Accept(i, on); });
    connect(value_[k], &QLineEdit::textChanged, this, [this] { UpdateFit(); });
  }
  area->addLayout(grid);

  write_ = new QPushButton(this);
  write_->setMinimumHeight(32);
  area->addWidget(write_);
  save_ = new QPushButton("Save fixed-point values for future use", this);
  area->addWidget(save_, 0, Qt::AlignLeft);
  layout->addWidget(twoPoint_);
  auto* buttons = new QHBoxLayout;
  auto* close = new QPushButton("Close", this);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(channelBox_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) ChooseChannel(index);
  });
  connect(view_, &QPushButton::clicked, this, [this] { SetRawView(!raw_); });
  connect(write_, &QPushButton::clicked, this, [this] { Write(); });
  connect(save_, &QPushButton::clicked, this, [this] { SaveFixedPoints(); });
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  DataChanged();
}

const DataSet& StatisticsWindow::RawData() {
  if (rawDecoded_) return rawData_;
  rawDecoded_ = true;
  rawData_ = DataSet{};
  const HeldData& held = session_.held;
  // Raw readings come from a memory image: a retrieval or a hex file, not a dat or MAT file.
  if (held.data.Empty() || held.fromDatFile || held.image.fill <= 0) return rawData_;
  rawData_.logger = held.data.logger;
  const size_t measured = size_t(std::max(held.data.logger.channelCount, 0));
  if (rawData_.logger.channelTypes.size() > measured) rawData_.logger.channelTypes.resize(measured);
  rawData_.calibration = held.data.calibration;
  rawData_.extendedCapabilities = held.data.extendedCapabilities;
  rawData_.rawMode = true;
  // The data were decoded once already: what decoding has to say was said then.
  RecordingHost quiet;
  DecodeImage(held.image, session_.HeldParameters(), rawData_, quiet);
  return rawData_;
}

bool StatisticsWindow::OnlineCalibrationAvailable() const {
  const LoggerState& logger = session_.logger.state;
  if (!logger.connected) return false;
  const size_t measured = size_t(std::max(logger.channelCount, 0));
  const std::string letters = logger.channelTypes.substr(0, measured);
  return letters.find_first_of("AHD") != std::string::npos;
}

const DataSet& StatisticsWindow::ViewData() {
  return raw_ ? RawData() : session_.held.data;
}

char StatisticsWindow::Letter() const {
  const std::string& letters = session_.held.data.logger.channelTypes;
  return size_t(channel_) < letters.size() ? letters[size_t(channel_)] : '\0';
}

void StatisticsWindow::DataChanged() {
  rawDecoded_ = false;
  rawData_ = DataSet{};
  ClearAccepted();
  const DataSet& data = session_.held.data;
  const QSignalBlocker block(channelBox_);
  channelBox_->clear();
  for (int c = 0; c < data.channelCount; ++c) channelBox_->addItem(Latin1(LabelOf(data, c)));
  // The first measured channel that is not a thermistor.
  int first = 0;
  for (int c = 0; c < std::min(data.logger.channelCount, data.channelCount); ++c)
    if (size_t(c) < data.logger.channelTypes.size() && data.logger.channelTypes[size_t(c)] != 'T') {
      first = c;
      break;
    }
  channel_ = -1;
  ChooseChannel(first);
}

void StatisticsWindow::ChooseChannel(int channel) {
  const int count = session_.held.data.channelCount;
  channel = std::clamp(channel, 0, std::max(count - 1, 0));
  if (channel != channel_) {
    channel_ = channel;
    ClearAccepted();  // the readings belonged to the other channel
    FillFixedPoints();
  }
  {
    const QSignalBlocker block(channelBox_);
    if (channelBox_->currentIndex() != channel_ && channel_ < channelBox_->count())
      channelBox_->setCurrentIndex(channel_);
  }
  if (channelChosen) channelChosen(channel_);
  Refresh();
}

void StatisticsWindow::SetRawView(bool raw) {
  if (raw == raw_) return;
  raw_ = raw;
  Refresh();
}

ReadingStatistics StatisticsWindow::Statistics(int point) const {
  auto* self = const_cast<StatisticsWindow*>(this);
  const DataSet& data = self->ViewData();
  if (!highlights || data.Empty() || channel_ >= int(data.series.size())) return {};
  const HighlightedSamples h = highlights()[size_t(std::clamp(point, 0, 1))];
  if (h.first < 0 || h.last < h.first) return {};
  // The series end with their minimum and maximum: only the samples count.
  const size_t samples = size_t(data.samplesPerChannel);
  const size_t begin = std::min(size_t(h.first), samples);
  const size_t end = std::min(size_t(h.last) + 1, samples);
  return StatisticsOf(data.series[size_t(channel_)], begin, end);
}

void StatisticsWindow::Refresh() {
  // A hidden window waits for ShowWindow: the raw readings are decoded only when looked at.
  if (!isVisible()) return;
  const DataSet& held = session_.held.data;
  const std::string label = held.Empty() ? std::string() : LabelOf(held, channel_);
  const std::string title = std::string(raw_ ? "Statistics of highlighted RAW data for channel: "
                                             : "Statistics of highlighted CONVERTED data for "
                                               "channel: ") +
                            label;
  heading_->setText(Latin1(title));
  const bool online = OnlineCalibrationAvailable();
  twoPoint_->setVisible(online);
  online_->setVisible(!online);
  adjustSize();
  setWindowTitle(caption ? caption(title) : Latin1(title));
  const char* number = raw_ ? "%.8f" : "%.5f";
  for (int i = 0; i < 2; ++i) {
    const ReadingStatistics s = Statistics(i);
    stats_[size_t(i)]->setText(
        s.count == 0 ? QString("No readings highlighted")
                     : Latin1(Format("Mean: %s   Standard deviation: %s   Readings: %d",
                                     CFormat(number, s.mean).c_str(),
                                     CFormat(number, s.standardDeviation).c_str(), s.count)));
    // Only raw means are readings of a two-point calibration.
    accept_[size_t(i)]->setEnabled(raw_ || accepted_[size_t(i)]);
  }
  const auto [lower, upper] = FixedPointsOf(session_.settings.onlineCalibration, Letter());
  save_->setEnabled(lower != nullptr);
  UpdateFit();
}

void StatisticsWindow::ShowWindow() {
  show();
  Refresh();
  raise();
  activateWindow();
}

void StatisticsWindow::Accept(int point, bool accepted) {
  const size_t k = size_t(std::clamp(point, 0, 1));
  if (accepted) {
    const ReadingStatistics s = raw_ ? Statistics(point) : ReadingStatistics{};
    if (s.count == 0) {
      // Nothing to accept: the box stays clear.
      const QSignalBlocker block(accept_[k]);
      accept_[k]->setChecked(false);
      ShowStatus(session_.host, Format("Highlight the raw readings of point %d first", point + 1));
      return;
    }
    readings_[k] = s.mean;
    accepted_[k] = true;
    reading_[k]->setText(Latin1(CFormat("%.8f", s.mean)));
    value_[k]->setReadOnly(true);
  } else {
    accepted_[k] = false;
    reading_[k]->clear();
    value_[k]->setReadOnly(false);
  }
  {
    const QSignalBlocker block(accept_[k]);
    accept_[k]->setChecked(accepted_[k]);
  }
  UpdateFit();
}

void StatisticsWindow::ClearAccepted() {
  for (size_t k = 0; k < 2; ++k) {
    accepted_[k] = false;
    if (!reading_[k]) continue;
    const QSignalBlocker block(accept_[k]);
    accept_[k]->setChecked(false);
    reading_[k]->clear();
    value_[k]->setReadOnly(false);
  }
  fit_ = {};
}

void StatisticsWindow::UpdateFit() {
  if (!write_) return;
  fit_ = {};
  const DataSet& held = session_.held.data;
  const std::string refusal = TwoPointRefusal(RawData(), channel_, Letter(), raw_);
  if (!refusal.empty()) {
    write_->setText(Latin1(refusal));
    write_->setEnabled(false);
    return;
  }
  std::array<double, 2> values{};
  const bool complete = accepted_[0] && accepted_[1] &&
                        ParseCoefficient(value_[0]->text().toStdString(), values[0]) &&
                        ParseCoefficient(value_[1]->text().toStdString(), values[1]);
  if (!complete) {
    write_->setText("Write calibration coefficients");
    write_->setEnabled(false);
    return;
  }
  const uint32_t rangeClass = kChannelTypeTable[TypeRowOfChannel(held, channel_)].rangeClass;
  fit_ = FitTwoPoints(readings_[0], readings_[1], values[0], values[1], rangeClass);
  write_->setText(Latin1(TwoPointCaption(fit_)));
  write_->setEnabled(fit_.valid);
}

bool StatisticsWindow::Write() {
  if (!fit_.valid) return false;
  const TwoPointFit fit = fit_;
  const CalibrationWrite result = WriteTwoPoint(session_.logger, session_.calibration,
                                                session_.held.data.logger.serial, channel_, fit);
  // A failed write leaves the window as it was, readings and values kept.
  Refresh();
  return result == CalibrationWrite::Written;
}

bool StatisticsWindow::SaveFixedPoints() {
  const auto [lower, upper] = FixedPointsOf(session_.settings.onlineCalibration, Letter());
  if (!lower) return false;
  double v1 = 0, v2 = 0;
  if (!ParseCoefficient(value_[0]->text().toStdString(), v1) ||
      !ParseCoefficient(value_[1]->text().toStdString(), v2)) {
    ShowStatus(session_.host, "Enter both fixed-point values as numbers first");
    return false;
  }
  *lower = v1;
  *upper = v2;
  if (!session_.settings.WriteSettings()) {
    ShowStatus(session_.host, "Unable to write the settings file");
    return false;
  }
  return true;
}

void StatisticsWindow::FillFixedPoints() {
  if (!value_[0]) return;
  const auto [lower, upper] = FixedPointsOf(session_.settings.onlineCalibration, Letter());
  value_[0]->setText(lower ? Latin1(CFormat("%.2f", *lower)) : QString());
  value_[1]->setText(upper ? Latin1(CFormat("%.2f", *upper)) : QString());
}

}  // namespace klx
